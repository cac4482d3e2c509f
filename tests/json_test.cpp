// --json: every document is read back by an independent parser (jq) and must
// hold the numbers of the text form, for every kind and function.
#include <cstdio>

#include "binary_run.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

// What a shell command prints, with its exit status.
std::pair<std::string, int> Shell(const fs::path& dir, const std::string& command) {
  const std::string full = "cd " + ShellQuote(dir.string()) + " && " + command;
  std::FILE* pipe = ::popen(full.c_str(), "r");
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  const int raw = ::pclose(pipe);
  return {out, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}

// The numbers of text lines, in order: every run of digits (with its sign).
std::string NumbersOf(const std::string& text) {
  std::string numbers;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool sign = text[i] == '-' && i + 1 < text.size() && isdigit(uint8_t(text[i + 1]));
    if (!sign && !isdigit(uint8_t(text[i]))) continue;
    size_t end = i + 1;
    while (end < text.size() && isdigit(uint8_t(text[end]))) ++end;
    numbers += text.substr(i, end - i) + " ";
    i = end - 1;
  }
  return numbers;
}

TEST(JsonOutput, SameNumbersAsTheTextForEveryKindAndFunction) {
  if (std::system("jq --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "jq is not installed";
  ScratchDir scratch;
  const std::string tool = ShellQuote(QM_TOOL_PATH);
  // The text form's numbers after its heading, and the jq program that lists
  // the same numbers from the document.
  const struct {
    std::vector<const char*> args;
    size_t skipLines;  // the text lines before the numbers
    const char* jq;
    int fromKind = 1;  // the first kind the function works on
  } rows[] = {
      {{"/Info"}, 1, ".report | [.rooms, .texturePages, .textures, .animatedTextures, .items, .cameras, .boxes, "
                     ".overlaps, .staticMeshes, .lights, .maxVertices, .maxRectangles, .maxTriangles, .startRoom]"},
      {{"/ShowItems"}, 2, ".items"},
      {{"/ShowStatics"}, 2, ".statics"},
      {{"/ShowAnimtext"}, 2, "[.animatedTextures | to_entries[] | (.key + 1), .value[]]"},
      {{"/ShowRooms", "1", "2"}, 3, "[.rooms[] | .room, .x, .z, .sizeX, .sizeZ, .floor, .ceiling, (\"0000\" + (.flags | tostring))[-4:], "
                                    "(if .colour then (.colour[1:] | explode | map(if . >= 65 then . - 55 else . - 48 end) "
                                    "| reduce .[] as $d (0; . * 16 + $d)) else .light end), "
                                    ".alternate, .vertices, .rectangles, .triangles, .sprites, .portals, .lights, .statics, .storey]"},
      {{"/ShowSounds"}, 2, "[.rooms[] | .room, (.sounds[] | .value, .sectors)]", 5},
      {{"/ShowTextures", "1"}, 2, "[.rooms[] | .room, (.textures[] | .id, .faces)]"},
      {{"/Water", "1", "--dry-run"}, 0, "[.changes.rooms[] | .room, .flags.old, .flags.new] + [.changes.totals[]]"},
  };
  for (int kind = 1; kind <= 7; ++kind) {
    const std::string name = std::string("lvl") + FileExtension(KindFromInt(kind));
    BLevel L = SampleLevel(kind, 6);
    for (BRoom& r : L.rooms) r.flags = {0x00, 0x00};  // the table shows them in hexadecimal
    WriteBytes(scratch.path / name, Build(L));
    for (const auto& row : rows) {
      if (kind < row.fromKind) continue;
      std::string args;
      for (const char* a : row.args) args += std::string(" ") + a;
      SCOPED_TRACE(name + args);
      auto [text, textStatus] = Shell(scratch.path, tool + " -q " + name + args);
      ASSERT_EQ(textStatus, 0) << text;
      for (size_t i = 0; i < row.skipLines; ++i) text.erase(0, text.find('\n') + 1);
      // The room colour of the TR4 family is shown as #RRGGBB: its number.
      for (size_t at; (at = text.find('#')) != std::string::npos;)
        text.replace(at, 7, std::to_string(std::stoul(text.substr(at + 1, 6), nullptr, 16)));
      // Each step sound value has its material's name beside it: "5 (Water)", "14 (Custom 1)".
      if (std::string(row.args[0]) == "/ShowSounds") {
        for (size_t at; (at = text.find(" (")) != std::string::npos;) text.erase(at, text.find(')', at) - at + 1);
      }
      // The dry run's flags are shown in hexadecimal: 0x0000 -> 0x0001.
      if (row.args.size() == 3) {
        for (size_t at; (at = text.find("0x000")) != std::string::npos;) text.erase(at, 5);
      }
      const auto [doc, docStatus] = Shell(scratch.path, tool + " --json " + name + args + " | jq -r '.levels[0] | " +
                                                          row.jq + " | map(tostring) | join(\" \")'");
      EXPECT_EQ(docStatus, 0);
      EXPECT_EQ(doc, NumbersOf(text).substr(0, NumbersOf(text).size() - 1) + "\n");
    }
  }
}

// One shape for one or many levels; no banner, LF line ends; an error is an
// object with its message and place, and the exit status is the text form's.
TEST(JsonOutput, DocumentShapeAndErrors) {
  if (std::system("jq --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "jq is not installed";
  ScratchDir scratch;
  WriteBytes(scratch.path / "a.tr4", Build(SampleLevel(6, 2)));
  Bytes cut = Build(SampleLevel(3, 2));
  cut.resize(cut.size() / 2);
  WriteBytes(scratch.path / "cut.tr2", cut);
  const std::string tool = ShellQuote(QM_TOOL_PATH);
  const struct {
    std::string args, jq, expected;
    int status;
  } rows[] = {
      {"a.tr4 /Info", "[.format, (.levels | length), .levels[0].level, .levels[0].status] | @tsv", "1\t1\ta.tr4\t0", 0},
      {"a.tr4 missing.tr4 cut.tr2 /Info", "[.levels[] | .status] | @tsv", "0\t2\t1", 2},
      {"missing.tr4 /Info", ".levels[0].error.message", "missing.tr4 not found.", 2},
      {"cut.tr2 /Info", ".levels[0].error | [.message, (.place | type)] | @tsv", "Read beyond end of file.\tstring", 1},
      {"a.tr4 /Info --bogus", ".error.message", "Unknown option --bogus", 2},
      {"a.tr4 /Info --qiuet", ".error.hint", "--qiuet is not an option of Quillmap: did you mean --quiet?", 2},
      {"a.tr4 /Water 1", ".levels[0].saved", "a.tr4", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    const auto [raw, rawStatus] = Shell(scratch.path, tool + " --json " + row.args + "; echo \"status $?\"");
    EXPECT_EQ(raw.find('\r'), std::string::npos);
    EXPECT_EQ(raw.substr(0, 1), "{");
    EXPECT_NE(raw.find("status " + std::to_string(row.status)), std::string::npos) << raw;
    const auto [value, status] = Shell(scratch.path, tool + " --json " + row.args + " | jq -r '" + row.jq + "'");
    EXPECT_EQ(value, row.expected + "\n");
  }
}

}  // namespace
