// The text and the JSON form are two views of one result: every function, as an
// edit that succeeds, as a refusal and as an error report, with and without
// --dry-run, run through the tool's entry point in both forms. The document must
// parse, carry every number the text shows (a failure: the same lines), give
// the same exit status, and the two runs must leave the same files behind.

// g++ 12 at -O2 with the sanitizers warns falsely inside the standard regex
// engine's own headers (std::function members it cannot prove set).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <nlohmann/json.hpp>

#include <map>
#include <regex>

#include "binary_run.h"
#include "png.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

using Json = nlohmann::json;

// The numbers a text shows, as the JSON form holds them: "0x0009" and
// "#005060" are hexadecimal; the group counter of "Animated Texture# 1-->" is
// the position in a list, which JSON does not spell out; the water table's
// headings name vertex bits ("0x2000"), which JSON names by words.
std::multiset<long long> TextNumbers(std::string text) {
  text = std::regex_replace(text, std::regex("Animated Texture# *[0-9]+-->"), "");
  text = std::regex_replace(text, std::regex(" Room Water Surface[^\r\n]*"), "");
  std::multiset<long long> numbers;
  const std::regex number("0x([0-9A-F]+)|#([0-9A-F]{6})|-?[0-9]+");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), number); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    if (m[1].matched) numbers.insert(std::stoll(m[1], nullptr, 16));
    else if (m[2].matched) numbers.insert(std::stoll(m[2], nullptr, 16));
    else numbers.insert(std::stoll(m[0]));
  }
  return numbers;
}

// Every number of a level's entry but its status; "#RRGGBB" and "TR4" count as
// the numbers the text shows for them, and notes (the text's own lines) as the
// numbers in them.
void JsonNumbers(const Json& value, std::multiset<long long>& numbers) {
  if (value.is_number_integer()) numbers.insert(value.get<long long>());
  if (value.is_string()) {
    const std::string s = value.get<std::string>();
    if (std::regex_match(s, std::regex("#[0-9A-F]{6}"))) numbers.insert(std::stoll(s.substr(1), nullptr, 16));
    if (std::regex_match(s, std::regex("TR[0-9]"))) numbers.insert(s[2] - '0');
  }
  if (value.is_structured())
    for (const auto& [key, member] : value.items()) {
      if (key == "notes") {
        for (const auto& note : member) numbers.merge(TextNumbers(note.get<std::string>()));
      } else if (key != "status" && key != "level") {
        JsonNumbers(member, numbers);
      }
    }
}

// The files of a folder and their bytes, subfolders included.
std::map<std::string, Bytes> Files(const fs::path& dir) {
  std::map<std::string, Bytes> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), dir).string()] = ReadBytes(entry.path());
  return files;
}

// The tool run in this process in dir, where the level names and the files it
// writes are: its exit status and what it prints. The runs of the table below
// compare two forms of the same run, which a process of its own would not
// change: three hundred runs take a fraction of the time of as many processes.
BinaryRun RunHere(const fs::path& dir, const std::vector<std::string>& args) {
  const fs::path before = fs::current_path();
  fs::current_path(dir);
  qm::TStringConsole console;
  BinaryRun run;
  run.status = qm::RunTool(args, console);
  run.out = console.Text;
  fs::current_path(before);
  return run;
}

struct FunctionRow {
  std::vector<std::string> edit, refusal, error;  // the arguments after the level
  bool writes;                                    // it writes a file: "saved", and "wouldWrite" in a dry run
  // The JSON holds every number of the text. Not for the item functions: their
  // text shows the angle in degrees with a decimal, the flags word in bare hex
  // digits and the activation bits as digits, which JSON gives as numbers.
  bool numbers = true;
};

TEST(ResultViews, EveryFunctionInTextAndJsonGivesTheSameResult) {
  MemoryScratchDir scratch;
  BLevel L = SampleLevel(6, 3);
  for (BRoom& r : L.rooms) r.flags = {0x00, 0x00};  // the room table shows them as hexadecimal digits
  const Bytes level = Build(L);
  Bytes cut = level;
  cut.resize(cut.size() / 2);
  std::vector<uint8_t> pixels(256 * 256 * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 % 251);
  const std::string picture = qm::EncodePng(pixels, 256, 256);
  const std::vector<std::string> cutLevel = {"cut.tr4"};
  // Every function of the help; the refusals are the function's own where it has one.
  const FunctionRow rows[] = {
      {{"/Info"}, {"junk.tr4", "/Info"}, {"/Info"}, false},
      {{"/Step_sound", "2", "0", "1"}, {"/Step_sound"}, {"/Step_sound", "2"}, true},
      {{"/Replace_sound", "Mud", "Sand", "1"}, {"/Replace_sound", "Lava", "Mud"}, {"/Replace_sound", "0", "2"}, true},
      {{"/Lara_Light", "5", "1"}, {"/Lara_Light", "5", "99"}, {"/Lara_Light", "5"}, true},
      {{"/Sky", "1"}, {"/Sky"}, {"/Sky", "1"}, true},
      {{"/Water", "1", "0", "1"}, {"/Water", "1", "-1"}, {"/Water", "1"}, true},
      {{"/QuickSand", "1", "2"}, {"/QuickSand", "", "2"}, {"/QuickSand", "1"}, true},
      {{"/Flag", "Wind", "1"}, {"/Flag", "Snow", "1"}, {"/Flag", "Wind", "1"}, true},
      {{"/Room_Colour", "1", "2", "3", "1", "2"}, {"/Room_Colour", "256", "0", "0"}, {"/Room_Colour", "1", "2", "3"}, true},
      {{"/Flood", "1", "2"}, {"/Flood", "99"}, {"/Flood"}, true},
      {{"/Drain", "--alternates"}, {"/Drain", "-1"}, {"/Drain"}, true},
      {{"/Textures", "3", "1"}, {"/Textures", "3", "5000"}, {"/Textures", "3", "1"}, true},
      {{"/ShowItems"}, {"missing.tr4", "/ShowItems"}, {"/ShowItems"}, false},
      {{"/ShowStatics"}, {"missing.tr4", "/ShowStatics"}, {"/ShowStatics"}, false},
      {{"/ShowAnimtext"}, {"junk.tr4", "/ShowAnimtext"}, {"/ShowAnimtext"}, false},
      {{"/ShowRooms", "1", "2"}, {"/ShowRooms", "99"}, {"/ShowRooms"}, false},
      {{"/ShowWater", "1"}, {"/ShowWater", "99"}, {"/ShowWater"}, false},
      {{"/ShowSounds"}, {"/ShowSounds", "99"}, {"/ShowSounds"}, false},
      {{"/ShowTextures", "1"}, {"/ShowTextures", "-1"}, {"/ShowTextures"}, false},
      {{"/Map", "m.png"}, {"/Map", "m.gif"}, {"/Map", "m.svg"}, true},
      {{"/ExportPages", "pages"}, {"/ExportPages", "pages", "9"}, {"/ExportPages", "pages"}, true},
      {{"/ImportPage", "0", "pic.png"}, {"/ImportPage", "9", "pic.png"}, {"/ImportPage", "0", "pic.png"}, true},
      // /MoveItem and /AddItem need a point inside a room: items_test.cpp, on levels made for them.
      {{"/ShowEntities", "1"}, {"/ShowEntities", "99"}, {"/ShowEntities"}, false, false},
      {{"/SetItem", "0", "Lara"}, {"/SetItem", "0", "99999"}, {"/SetItem", "0", "7"}, true, false},
      {{"/ItemFlags", "1", "invisible=1"}, {"/ItemFlags", "0", "hidden=1"}, {"/ItemFlags", "0", "ocb=3"}, true, false},
  };
  int run = 0;
  for (const FunctionRow& row : rows) {
    for (const bool dryRun : {false, true}) {
      const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
      } cases[] = {{"edit", row.edit, 0}, {"refusal", row.refusal, 2}, {"error", row.error, 1}};
      for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        // A refusal that names its own level; otherwise the sample level, or the cut one.
        if (args[0][0] == '/') args.insert(args.begin(), c.status == 1 ? "cut.tr4" : "lvl.tr4");
        if (dryRun) args.insert(args.begin(), "-n");
        std::string trace = c.name;
        for (const std::string& a : args) trace += " " + a;
        SCOPED_TRACE(trace);
        // Each form in a fresh folder holding the same files.
        std::map<std::string, Bytes> after[2];
        BinaryRun out[2];
        for (int form = 0; form < 2; ++form) {
          const fs::path dir = scratch.path / std::to_string(run++);
          fs::create_directory(dir);
          WriteBytes(dir / "lvl.tr4", level);
          WriteBytes(dir / "cut.tr4", cut);
          WriteBytes(dir / "junk.tr4", Bytes(300, 'j'));
          WriteBytes(dir / "pic.png", Bytes(picture.begin(), picture.end()));
          std::vector<std::string> formArgs = args;
          formArgs.insert(formArgs.begin(), form == 0 ? "-q" : "--json");
          out[form] = RunHere(dir, formArgs);
          after[form] = Files(dir);
        }
        const BinaryRun& text = out[0];
        const BinaryRun& json = out[1];
        EXPECT_EQ(text.status, c.status) << text.out;
        EXPECT_EQ(json.status, c.status) << json.out;
        EXPECT_TRUE(after[0] == after[1]) << "the two forms left different files";
        const Json document = Json::parse(json.out, nullptr, false);
        if (document.is_discarded() || !document.contains("levels") || document["levels"].size() != 1) {
          ADD_FAILURE() << "not a document of one level: " << json.out;
          continue;
        }
        const Json& entry = document["levels"][0];
        EXPECT_EQ(entry["status"], c.status);
        if (c.status != 0) {
          // The error's message, place and hint are the text's lines.
          EXPECT_TRUE(entry.contains("error")) << json.out;
          std::vector<std::string> lines;
          for (const char* field : {"message", "place", "hint"})
            if (entry["error"].contains(field)) lines.push_back(entry["error"][field]);
          EXPECT_EQ(Lines(lines), text.out);
          continue;
        }
        EXPECT_FALSE(entry.contains("error"));
        std::multiset<long long> jsonNumbers;
        JsonNumbers(entry, jsonNumbers);
        const std::multiset<long long> textNumbers = TextNumbers(text.out);
        if (row.numbers) {
          EXPECT_TRUE(std::includes(jsonNumbers.begin(), jsonNumbers.end(), textNumbers.begin(), textNumbers.end()))
              << text.out << json.out;
        }
        if (!row.writes) continue;
        EXPECT_EQ(entry.contains("wouldWrite"), dryRun) << json.out;
        EXPECT_EQ(entry.value("saved", Json()) == false, dryRun) << json.out;
      }
    }
  }
}

}  // namespace

namespace {

// The document is valid JSON whatever the bytes of a name or an argument (bad
// UTF-8 shows as U+FFFD), the exit status is the run's, and a dry run of a
// function that writes files says which it would write.
TEST(ResultViews, JsonDocumentsOfOddNamesAndDryRuns) {
  ScratchDir scratch;
  BLevel L = SampleLevel(6, 4);
  for (BRoom& r : L.rooms) r.flags = {0x00, 0x00};
  const Bytes level = Build(L);
  const std::string picture = qm::EncodePng(std::vector<uint8_t>(256 * 256 * 4, 200), 256, 256);
  const std::string bad = "caf\xE9.tr4", shown = "caf\xEF\xBF\xBD.tr4";  // U+FFFD in place of the byte
  const struct {
    std::vector<std::string> args;
    int status;
    std::string member;  // a JSON pointer into the document
    Json expected;
    bool levelChanged;
  } rows[] = {
      {{bad, "/Water", "1", "0", "0"}, 0, "/levels/0/level", shown, true},
      {{bad, "/Water", "1", "0", "0"}, 0, "/levels/0/saved", shown, true},
      {{"lvl.tr4", bad, "/Sky", "1"}, 0, "/levels/1/level", shown, true},
      {{"lvl.tr4", "/Map", "m\xFF.svg"}, 0, "/levels/0/saved", "m\xEF\xBF\xBD.svg", false},
      {{"no\xC3.tr4", "/Info"}, 2, "/levels/0/error/message", "no\xEF\xBF\xBD.tr4 not found.", false},
      {{"lvl.tr4", "/Info", "--x\xFE"}, 2, "/error/message", "Unknown option --x\xEF\xBF\xBD", false},
      // A dry run names what it would write and writes nothing.
      {{"-n", "lvl.tr4", "/Map", "m.svg"}, 0, "/levels/0/wouldWrite", "m.svg", false},
      {{"-n", "lvl.tr4", "/Map", "m.html"}, 0, "/levels/0/wouldWrite", "m.html", false},
      {{"lvl.tr4", "/Map", "m.HTML"}, 0, "/levels/0/saved", "m.HTML", false},
      {{"-n", "lvl.tr4", "/ExportPages", "pages"}, 0, "/levels/0/wouldWrite", Json::array({"pages/page_000.png"}), false},
      {{"-n", "lvl.tr4", "/ImportPage", "0", "pic.png"}, 0, "/levels/0/wouldWrite", "lvl.tr4", false},
      {{"-n", "lvl.tr4", "/ImportPage", "0", "pic.png"}, 0, "/levels/0/page", 0, false},
      {{"-n", "lvl.tr4", "/ImportPage", "0", "pic.png", "-o", "new.tr4"}, 0, "/levels/0/wouldWrite", "new.tr4", false},
  };
  for (const auto& row : rows) {
    std::string trace;
    for (const std::string& a : row.args) trace += " " + a;
    SCOPED_TRACE(trace + " " + row.member);
    for (const auto& entry : fs::directory_iterator(scratch.path)) fs::remove_all(entry.path());
    WriteBytes(scratch.path / "lvl.tr4", level);
    WriteBytes(scratch.path / bad, level);
    WriteBytes(scratch.path / "pic.png", Bytes(picture.begin(), picture.end()));
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), "--json");
    const BinaryRun run = RunBinary(scratch.path, QM_TOOL_PATH, args);
    EXPECT_EQ(run.status, row.status) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    const Json document = Json::parse(run.out, nullptr, false);
    if (document.is_discarded()) {
      ADD_FAILURE() << "not JSON: " << run.out;
      continue;
    }
    EXPECT_EQ(document.value(Json::json_pointer(row.member), Json()), row.expected) << run.out;
    EXPECT_EQ(ReadBytes(scratch.path / bad) != level, row.levelChanged);
    if (row.args[0] == "-n") {
      EXPECT_EQ(Files(scratch.path).size(), 3u) << "a dry run wrote a file";
    }
  }
}

}  // namespace

namespace {

// A console that fails once with an exception nobody expects, when it is first
// given a line holding "Done.".
class BreakingConsole : public qm::TStringConsole {
public:
  void Line(std::string_view text) override {
    Check(text);
    TStringConsole::Line(text);
  }
  void Raw(std::string_view text) override {
    Check(text);
    TStringConsole::Raw(text);
  }

private:
  void Check(std::string_view text) {
    if (!broken_ && text.find("Done.") != std::string_view::npos) {
      broken_ = true;
      throw std::runtime_error("the console broke");
    }
  }
  bool broken_ = false;
};

// An exception nobody expected ends the run with an error report (exit 1)
// that names the levels saved before it, one after another or side by side.
TEST(ResultViews, AnUnexpectedExceptionIsAnErrorReportNamingTheSavedLevels) {
  ScratchDir scratch;
  BLevel L = SampleLevel(3, 2);
  for (BRoom& r : L.rooms) r.flags[0] &= 0xFE;
  const Bytes dry = Build(L);
  const std::string a = (scratch.path / "a.tr2").string(), b = (scratch.path / "b.tr2").string();
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(std::string("--jobs ") + jobs);
    WriteBytes(a, dry);
    WriteBytes(b, dry);
    BreakingConsole console;
    EXPECT_EQ(qm::RunTool({"-q", "--jobs", jobs, a, b, "/Water", "1"}, console), 1);
    std::string saved;
    for (const std::string& level : {a, b})
      if (ReadBytes(level) != dry) saved += (saved.empty() ? "" : ", ") + level;
    EXPECT_FALSE(saved.empty());
    const std::string report = Lines({"the console broke.", "saved before it: " + saved});
    ASSERT_GE(console.Text.size(), report.size());
    EXPECT_EQ(console.Text.substr(console.Text.size() - report.size()), report) << console.Text;
  }
}

}  // namespace
