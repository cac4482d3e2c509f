// Number conversion of command-line arguments: the accepted decimal and
// hexadecimal forms, their limits, and the texts that must be refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "args.h"
#include "errors.h"

namespace {

TEST(StrToInt, ConvertsDecimalAndHexadecimalForms) {
  struct Row {
    const char* text;
    int32_t value;
  };
  const Row rows[] = {
      {"0", 0},           {"42", 42},          {"   42", 42},        {"+7", 7},
      {"-7", -7},         {"  -7", -7},        {"-0", 0},            {"007", 7},
      {"-0000000000000012", -12},              {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},              {"+0002147483647", INT32_MAX},
      {"$10", 16},        {"x1f", 31},         {"X1F", 31},          {"0xAbC", 0xABC},
      {"0X7fffffff", INT32_MAX},               {"  $a", 10},         {"$0", 0},
      {"0x0", 0},         {"$10000", 65536},   {"$0000000000ff", 255},  // leading zeros not significant
      {"$12345678", 0x12345678},               {"x0000FFFFFFFE", -2},   // eight significant digits
      {"$80000000", INT32_MIN},                {"0xFFFFFFFF", -1},      // top bit set: negative
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(qm::StrToInt(row.text), row.value);
  }
}

TEST(StrToInt, RefusesMalformedNumbersWithTheirText) {
  const char* const bad[] = {
      "",            "  ",          "5 ",          " 5 ",         "\t5",
      "abc",         "1a",          "12x",         "1.5",         "1,000",
      "+",           "-",           "- 1",         "+-1",         "--1",
      "0x",          "$",           "x",           "0X",          "-$1",
      "+$1",         "-0x10",       "$ 5",         "$g",          "0x1g",
      "0x-1",        "$123456789",  "0x100000000", "$1 ",         "2147483648",
      "-2147483649", "99999999999", "4294967295",  "1e3",         "0b101",
  };
  for (const char* text : bad) {
    SCOPED_TRACE(std::string("'") + text + "'");
    try {
      qm::StrToInt(text);
      ADD_FAILURE() << "accepted";
    } catch (const qm::EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + text + "' is not a valid integer value");
    }
  }
}

}  // namespace
