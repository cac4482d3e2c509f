// Several functions in one run: the level loaded once, the functions in the
// order given, one save at the end. A chain must leave the same level and say
// the same things as its functions run one by one; a refusal anywhere in it
// refuses the whole run and leaves the level as it was. The real program,
// in-process, on built levels of several kinds.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "chain_support.h"

using namespace qmtest;

namespace {

struct TChainRow {
  const char* name;
  int kind;
  std::vector<TCall> calls;
};

const TChainRow kChains[] = {
    {"flags of TR1", 1, {{"/Water", "1", "0", "1"}, {"/Sky", "1", "1", "2"}, {"/QuickSand", "1", "2"}}},
    {"edit then its table", 3, {{"/Water", "1", "0", "0"}, {"/ShowRooms", "0", "1"}, {"/Lara_Light", "12"}}},
    {"report first", 5, {{"/Info"}, {"/Step_sound", "Mud"}, {"/ShowSounds"}}},
    {"TR4 colour and flags", 6, {{"/Room_Colour", "10", "20", "30", "1"}, {"/Flag", "nolensflare", "1"}, {"/Water", "0"}}},
    {"TRC water", 7, {{"/Flood", "0", "1"}, {"/ShowWater"}, {"/Drain", "1", "1"}}},
    {"TR5 sounds", 8, {{"/Step_sound", "5"}, {"/Replace_sound", "Water", "Stone"}, {"/Room_Color", "1", "2", "3"}}},
    {"one function twice", 4, {{"/Lara_Light", "3"}, {"/Lara_Light", "9", "1", "1"}}},
    {"item edits", 6, {{"/ItemFlags", "0", "activation=31"}, {"/ShowEntities", "0", "0"}, {"/ItemFlags", "0", "ocb=7"}}},
};

TEST(ChainedFunctions, EqualTheFunctionsRunOneByOne) {
  for (const TChainRow& row : kChains) {
    SCOPED_TRACE(row.name);
    ScratchDir scratch;
    const Bytes original = Build(SampleLevel(row.kind, 7));
    const fs::path chained = scratch.path / "chained.lvl", single = scratch.path / "single.lvl";
    WriteBytes(chained, original);
    WriteBytes(single, original);
    std::vector<std::string> outputs;
    for (const TCall& call : row.calls) outputs.push_back(RunOn(single, call));
    EXPECT_EQ(RunOn(chained, Joined(row.calls)), ExpectedChainOutput(row.calls, outputs));
    EXPECT_EQ(Diff(ReadBytes(chained), ReadBytes(single), row.kind), "");
  }
}

// Each position of a chain refused in turn, before loading (its arguments) or
// after (its range, its check against the level): the run exits as the
// function alone does and the level is not saved, whatever came before. A
// refusal before loading says only what the function alone says; one after
// loading comes after what the functions before it showed, as in a run of
// them one by one, with a line that says nothing was saved after an edit.
TEST(ChainedFunctions, ARefusalAnywhereRefusesTheWholeRun) {
  const std::vector<TCall> good = {{"/Water", "1"}, {"/ShowRooms", "0", "0"}, {"/Sky", "1"}};
  const struct {
    TCall call;
    bool loaded;  // refused after loading
  } refused[] = {{{"/Lara_Light", "x"}, false},          // a bad number, before loading
                 {{"/Room_Colour", "1", "2"}, false},    // an argument missing, before loading
                 {{"/Water", "1", "99"}, true},          // a room outside the level, after loading
                 {{"/Textures", "0", "60000"}, true}};   // checked against the level, after loading
  const Bytes original = Build(SampleLevel(6, 3));
  for (size_t position = 0; position < good.size(); ++position)
    for (const auto& bad : refused) {
      SCOPED_TRACE("position " + std::to_string(position) + ": " + bad.call[0] + " " + bad.call[1]);
      ScratchDir scratch;
      const fs::path level = scratch.path / "l.tr4";
      WriteBytes(level, original);
      qm::TStringConsole alone;
      const int status = qm::RunTool(Joined({{level.string()}, bad.call}), alone);
      std::vector<TCall> calls(good.begin(), good.begin() + std::ptrdiff_t(position));
      calls.push_back(bad.call);
      calls.insert(calls.end(), good.begin() + std::ptrdiff_t(position) + 1, good.end());
      std::string expected = alone.Text;
      if (bad.loaded && position > 0) {
        // What the functions before it say, one by one on a copy, without
        // their closing lines; then the refusal's lines after "Loading Level...".
        const fs::path copy = scratch.path / "copy.tr4";
        WriteBytes(copy, original);
        std::vector<std::string> lines = {kLoading};
        for (size_t i = 0; i < position; ++i) {
          std::vector<std::string> own = SplitLines(RunOn(copy, good[i]));
          std::erase(own, kSaving);
          lines.insert(lines.end(), own.begin() + 1, own.end() - 1);
        }
        std::vector<std::string> own = SplitLines(alone.Text.substr(kBanner.size()));
        lines.insert(lines.end(), own.begin() + 1, own.end());
        lines.push_back("nothing was saved: the level stays as it was");  // an edit came first
        expected = kBanner + Lines(lines);
      }
      qm::TStringConsole chain;
      EXPECT_EQ(qm::RunTool(Joined({{level.string()}, Joined(calls)}), chain), status);
      EXPECT_GT(status, 0);
      EXPECT_EQ(chain.Text, expected);
      EXPECT_EQ(ReadBytes(level), original);
    }
}

// How the words split into functions, and the options against the chain.
TEST(ChainedFunctions, WordsOptionsAndJson) {
  ScratchDir scratch;
  const fs::path level = scratch.path / "l.tr2", svg = scratch.path / "m.svg";
  const Bytes original = Build(SampleLevel(3, 5));
  const struct {
    TCall args;
    int status;
    std::string out;  // after the banner ("" to skip); {level} and {svg} stand for the names
    bool changed;
  } rows[] = {
      // A word that names no function is an argument, even one that starts with "/".
      {{"/Map", svg.string(), "/Water", "1"}, 0, "", true},
      // Words after a function's arguments are ignored, up to the next function.
      {{"/Water", "1", "0", "0", "abc", "/Sky", "0"}, 0,
       Lines({kLoading, "Turning On/Off the water...", "Turning On/Off the Sky...", kSaving, kDone}), true},
      // "Done." closes the run once, after the last function and the save.
      {{"/Water", "1", "1", "1", "/ShowItems", "/Sky", "1", "1", "1"}, 0,
       Lines({kLoading, "Turning On/Off the water...", "Showing Items Id used in this level:", "", "ID:  0  ID:  7  ID: 35  ",
              "Turning On/Off the Sky...", kSaving, kDone}),
       true},
      {{"/info", "/SHOWITEMS"}, 0, "", false},
      // --output and --alternates need one edit in the chain, not every function.
      {{"--output", (scratch.path / "o.tr2").string(), "/Info", "/Water", "1"}, 0, "", false},
      {{"--output", (scratch.path / "o.tr2").string(), "/Info", "/ShowRooms"}, 2,
       Lines({"--output is for the functions that edit a level."}), false},
      {{"--alternates", "/ShowRooms", "/Sky", "1"}, 0, "", true},
      // A dry run shows each edit's changes in turn and saves nothing.
      {{"--dry-run", "/Water", "1", "0", "0", "/Sky", "1", "0", "0"}, 0,
       Lines({kLoading, "Turning On/Off the water...", "Room 0: flags 0x1040 -> 0x1041",
              "1 room would change (0 sectors, 0 faces); nothing was saved.", "Turning On/Off the Sky...",
              "Room 0: flags 0x1041 -> 0x1049", "1 room would change (0 sectors, 0 faces); nothing was saved."}),
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + row.args[1]);
    WriteBytes(level, original);
    const std::string out = RunOn(level, row.args, row.status);
    if (!row.out.empty()) {
      EXPECT_EQ(out, row.out);
    }
    EXPECT_EQ(ReadBytes(level) != original, row.changed);
  }
  EXPECT_TRUE(fs::exists(svg));
}

// Several levels each get the whole chain; a file that a later function of
// one level writes clashes with another level's as a single function's does.
TEST(ChainedFunctions, SeveralLevels) {
  ScratchDir scratch;
  const fs::path a = scratch.path / "a.tr2", b = scratch.path / "b.tr2", svg = scratch.path / "same.svg";
  const Bytes original = Build(SampleLevel(5, 4));
  WriteBytes(a, original);
  WriteBytes(b, original);
  qm::TStringConsole clash;
  EXPECT_EQ(qm::RunTool({"-q", a.string(), b.string(), "/Water", "1", "/Map", svg.string()}, clash), 2);
  EXPECT_EQ(clash.Text, Lines({a.string() + " and " + b.string() + " would both write " + svg.string()}));
  EXPECT_EQ(ReadBytes(a), original);
  qm::TStringConsole both;
  EXPECT_EQ(qm::RunTool({"-q", "--jobs", "2", a.string(), b.string(), "/Water", "1", "/Sky", "1"}, both), 0);
  EXPECT_EQ(both.Text, Lines({"== " + a.string() + " ==", "Done.", "== " + b.string() + " ==", "Done."}));
  EXPECT_EQ(ReadBytes(a), ReadBytes(b));
  EXPECT_NE(ReadBytes(a), original);
}

// --json: one result per function, in order, each with its name and status;
// a level of one function keeps the members in its own entry.
TEST(ChainedFunctions, JsonHasOneResultPerFunction) {
  ScratchDir scratch;
  const fs::path level = scratch.path / "l.tr4";
  WriteBytes(level, Build(SampleLevel(6, 2)));
  qm::TStringConsole out;
  ASSERT_EQ(qm::RunTool({"--json", level.string(), "/Water", "1", "0", "0", "/ShowRooms", "0", "0", "/info"}, out), 0);
  const nlohmann::json doc = nlohmann::json::parse(out.Text);
  const nlohmann::json& functions = doc["levels"][0]["functions"];
  ASSERT_EQ(functions.size(), 3u) << out.Text;
  EXPECT_EQ(functions[0]["function"], "/Water");
  EXPECT_EQ(functions[0]["changes"]["totals"]["rooms"], 1);
  EXPECT_EQ(functions[0]["saved"], level.string());
  EXPECT_EQ(functions[1]["function"], "/ShowRooms");
  EXPECT_EQ(functions[1]["rooms"][0]["water"], true);  // the table sees the edit before it
  EXPECT_EQ(functions[2]["function"], "/Info");
  EXPECT_TRUE(functions[2].contains("report"));
  for (const nlohmann::json& f : functions) EXPECT_EQ(f["status"], 0);

  // Refused before loading: the level's error alone. Refused after a function
  // ran: that function's result, then the refused one's error.
  qm::TStringConsole early;
  ASSERT_EQ(qm::RunTool({"--json", level.string(), "/Info", "/Water", "x"}, early), 2);
  const nlohmann::json earlyEntry = nlohmann::json::parse(early.Text)["levels"][0];
  EXPECT_FALSE(earlyEntry.contains("functions"));
  EXPECT_EQ(earlyEntry["error"]["message"], "'x' is not a valid integer value.") << early.Text;
  qm::TStringConsole refused;
  ASSERT_EQ(qm::RunTool({"--json", level.string(), "/Info", "/Water", "1", "99"}, refused), 2);
  const nlohmann::json entry = nlohmann::json::parse(refused.Text)["levels"][0];
  ASSERT_EQ(entry["functions"].size(), 2u) << refused.Text;
  EXPECT_TRUE(entry["functions"][0].contains("report"));
  EXPECT_EQ(entry["functions"][1]["status"], 2);
  EXPECT_EQ(entry["functions"][1]["error"]["message"], "Room 99 is outside this level (rooms 0 to 2).") << refused.Text;
}

}  // namespace
