// A chain is a true sequence: each function is checked against the level as
// the functions before it left it and reads its files when its turn comes, so
// a chain whose later functions depend on earlier ones says and saves what
// its functions run one by one do, and refuses what they would refuse. Also
// the run's edges a chain meets: its JSON when it fails after writing a file,
// a reader that closes the pipe, short options with their values attached,
// and an --output name that would change the level's kind.
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "binary_run.h"
#include "chain_support.h"
#include "item_levels.h"

using namespace qmtest;

namespace {

struct TSequenceRow {
  const char* name;
  BLevel level;
  std::vector<TCall> calls;  // "{dir}" stands for the scratch folder
  const char* stale = nullptr;  // a file of another level's pages put there first ("{dir}/...")
};

std::string InDir(std::string word, const fs::path& dir) {
  if (const size_t at = word.find("{dir}"); at != std::string::npos) word.replace(at, 5, dir.string());
  return word;
}

TCall InDir(const TCall& call, const fs::path& dir) {
  TCall words;
  for (const std::string& word : call) words.push_back(InDir(word, dir));
  return words;
}

// A level of the item tests with one texture page of the seed's pattern.
BLevel PagedLevel(int kind, unsigned seed) {
  BLevel level = ItemLevel(kind);
  FillPages(level, 1, seed, 300);
  return level;
}

BLevel OtherPages(BLevel level) {
  FillPages(level, 1, 77, 300);
  return level;
}

std::vector<TSequenceRow> SequenceRows() {
  const auto add = [](int kind, int room) {
    return TCall{"/AddItem", std::to_string(Medipack[kind]), std::to_string(room), std::to_string(CentreX(room, 1)), "0",
                 std::to_string(CentreZ(1))};
  };
  return {
      {"added item flagged", ItemLevel(6), {add(6, 0), {"/ItemFlags", "3", "invisible=1"}}},
      {"added item shown", ItemLevel(1), {add(1, 0), {"/ShowEntities", "3", "3"}}},
      {"added item moved", ItemLevel(3), {add(3, 0), {"/MoveItem", "3", "1", std::to_string(CentreX(1, 3)), "0",
                                                      std::to_string(CentreZ(2))}}},
      {"added item's type set", ItemLevel(8), {add(8, 1), {"/SetItem", "3", "0"}}},
      {"two added, the second flagged", ItemLevel(5), {add(5, 0), add(5, 1), {"/ItemFlags", "4", "clearbody=1"}}},
      {"flood then drain", SampleLevel(5, 9), {{"/Flood", "0", "1"}, {"/ShowWater"}, {"/Drain", "0", "0"}}},
      {"edit then the report of a TR4 level", SampleLevel(6, 4), {{"/Water", "1"}, {"/Info"}}},
      {"edit then the report of a .TRC level", SampleLevel(7, 4), {{"/Sky", "1"}, {"/Info"}}},
      {"export then import", PagedLevel(6, 5),
       {{"/ExportPages", "{dir}/pg", "0", "0"}, {"/ImportPage", "0", "{dir}/pg/page_000.png"}}},
      {"export over another level's page, then import", PagedLevel(7, 5),
       {{"/ExportPages", "{dir}/pg", "0", "0"}, {"/ImportPage", "0", "{dir}/pg/page_000.png"}},
       "{dir}/pg"},
  };
}

// Each chain against its functions run one by one on a copy: the same lines
// and the same level.
TEST(ChainSequence, LaterFunctionsSeeWhatEarlierOnesDid) {
  for (const TSequenceRow& row : SequenceRows()) {
    SCOPED_TRACE(row.name);
    const int kind = int(row.level.kind);
    const Bytes original = Build(row.level);
    const std::string extension = FileExtension(row.level.kind);
    std::vector<std::string> outputs;
    Bytes singleBytes;
    ScratchDir scratch;
    const fs::path level = scratch.path / ("l" + extension);
    for (const bool chained : {false, true}) {
      fs::remove_all(scratch.path / "pg");
      if (row.stale) {
        // The folder holds a page of another level before the run.
        const fs::path other = scratch.path / ("other" + extension);
        WriteBytes(other, Build(OtherPages(row.level)));
        RunOn(other, {"/ExportPages", InDir(row.stale, scratch.path), "0", "0"});
      }
      WriteBytes(level, original);
      std::vector<TCall> calls;
      for (const TCall& call : row.calls) calls.push_back(InDir(call, scratch.path));
      if (!chained) {
        for (const TCall& call : calls) outputs.push_back(RunOn(level, call));
        singleBytes = ReadBytes(level);
        continue;
      }
      EXPECT_EQ(RunOn(level, Joined(calls)), ExpectedChainOutput(calls, outputs));
      EXPECT_EQ(Diff(ReadBytes(level), singleBytes, kind), "");
    }
  }
}

// A level one item short of the game's limit: the second add of a chain is
// refused as a single add on the full level is, and nothing is saved.
TEST(ChainSequence, TheItemLimitHoldsInsideAChain) {
  for (const int kind : {1, 6}) {
    SCOPED_TRACE(kind);
    ScratchDir scratch;
    BLevel L = ItemLevel(kind);
    L.items.resize(255, L.items[0]);
    const fs::path level = scratch.path / (std::string("l") + FileExtension(L.kind));
    const Bytes original = Build(L);
    WriteBytes(level, original);
    const TCall add = {"/AddItem", std::to_string(Medipack[kind]), "0", std::to_string(CentreX(0, 1)), "0",
                       std::to_string(CentreZ(1))};
    // The refusal a single add gives once the level is full.
    const fs::path full = scratch.path / (std::string("full") + FileExtension(L.kind));
    L.items.resize(256, L.items[0]);
    WriteBytes(full, Build(L));
    const std::vector<std::string> single = SplitLines(RunOn(full, add, 2));
    ASSERT_GE(single.size(), 3u);
    const std::vector<std::string> chain = SplitLines(RunOn(level, Joined({add, add}), 2));
    ASSERT_GE(chain.size(), 3u);
    EXPECT_EQ(chain[chain.size() - 2], single.back());
    EXPECT_EQ(chain.back(), "nothing was saved: the level stays as it was");
    EXPECT_EQ(std::count(chain.begin(), chain.end(), kSaving), 0);
    EXPECT_EQ(ReadBytes(level), original);
  }
}

// A chain that fails after a function wrote a file: the JSON keeps what ran,
// in order, then the failure; the text shows the same; the level is unchanged.
TEST(ChainSequence, JsonKeepsWhatRanBeforeAFailure) {
  ScratchDir scratch;
  const fs::path level = scratch.path / "l.tr4", ok = scratch.path / "ok.svg";
  const Bytes original = Build(SampleLevel(6, 2));
  WriteBytes(level, original);
  const std::string missing = (scratch.path / "none" / "x.svg").string();
  qm::TStringConsole out;
  ASSERT_EQ(qm::RunTool({"--json", level.string(), "/Map", ok.string(), "/Water", "1", "/Map", missing}, out), 1);
  const nlohmann::json entry = nlohmann::json::parse(out.Text)["levels"][0];
  EXPECT_EQ(entry["status"], 1);
  const nlohmann::json& functions = entry["functions"];
  ASSERT_EQ(functions.size(), 3u) << out.Text;
  EXPECT_EQ(functions[0]["function"], "/Map");
  EXPECT_EQ(functions[0]["saved"], ok.string());
  EXPECT_EQ(functions[0]["status"], 0);
  EXPECT_EQ(functions[1]["function"], "/Water");
  EXPECT_EQ(functions[2]["function"], "/Map");
  EXPECT_EQ(functions[2]["status"], 1);
  EXPECT_TRUE(functions[2].contains("error"));
  EXPECT_FALSE(entry.contains("error"));
  EXPECT_TRUE(fs::exists(ok));
  EXPECT_EQ(ReadBytes(level), original);
}

// The tool with its standard output a pipe whose reader has gone; the exit
// status, and what it said on standard error.
BinaryRun RunIntoClosedPipe(const std::vector<std::string>& args, const fs::path& errFile) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  close(fds[0]);
  BinaryRun run;
  run.status = FinishBinary(StartBinary(args, "", errFile.string(), fds[1]));
  close(fds[1]);
  const Bytes err = ReadBytes(errFile);
  run.err.assign(err.begin(), err.end());
  return run;
}

// "quillmap LEVEL /ShowRooms | head -1": the reader has what it wanted, and
// the run ends quietly as it would have; an edit still saves its level.
TEST(ChainSequence, AClosedPipeEndsTheRunQuietly) {
  ScratchDir scratch;
  const fs::path level = scratch.path / "l.phd", err = scratch.path / "err.txt";
  const Bytes original = Build(SampleLevel(1, 3));
  const struct {
    std::vector<std::string> args;
    int status;
    bool saved;
  } rows[] = {
      {{"/ShowRooms"}, 0, false},
      {{"/Info", "/ShowRooms", "/ShowItems"}, 0, false},
      {{"/Water", "1", "/ShowRooms"}, 0, true},
      {{"/Water", "1", "99"}, 2, false},  // a refusal keeps its status
      // A run that only shows takes no level once the reader has gone: the
      // missing second level is never looked at.
      {{"no-such-level.phd", "/Info"}, 0, false},
      {{"no-such-level.phd", "/Water", "1"}, 2, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0]);
    WriteBytes(level, original);
    std::vector<std::string> args = {level.string()};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const BinaryRun run = RunIntoClosedPipe(args, err);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadBytes(level) != original, row.saved);
  }
}

// Short options take their value attached, as getopt-style tools do; an
// --output whose name would make the level read as another kind is refused.
TEST(ChainSequence, OptionValuesAndOutputKinds) {
  ScratchDir scratch;
  const fs::path tr4 = scratch.path / "l.tr4", phd = scratch.path / "l.phd", tr2 = scratch.path / "l.tr2";
  const struct {
    fs::path level;
    int kind;
    std::vector<std::string> args;  // "{dir}" stands for the scratch folder
    int status;
    std::string last;  // the last line of the output ("" to skip)
    const char* written;  // a file the run must (status 0) or must not (else) write
  } rows[] = {
      {tr4, 6, {"-j2", "/Info"}, 0, "Done.", nullptr},
      {tr4, 6, {"-o{dir}/o.tr4", "/Water", "1"}, 0, "Done.", "o.tr4"},
      {tr4, 6, {"-o", "{dir}/p.TR4", "/Water", "1"}, 0, "Done.", "p.TR4"},
      {tr4, 6, {"/Water", "1", "0", "0", "-o", "{dir}/x.trc"}, 2,
       "give --output a name that keeps the level's kind, as the level's own name does", "x.trc"},
      {phd, 1, {"/Water", "1", "-o{dir}/x.tub"}, 2, "", "x.tub"},
      {tr2, 3, {"/Sky", "1", "--output={dir}/x.trg"}, 2, "", "x.trg"},
      {tr2, 3, {"--dry-run", "/Sky", "1", "--output={dir}/y.trg"}, 2, "", "y.trg"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + row.args[1]);
    const Bytes original = Build(SampleLevel(row.kind, 6));
    WriteBytes(row.level, original);
    std::vector<std::string> args;
    for (const std::string& a : row.args) args.push_back(InDir(a, scratch.path));
    const std::vector<std::string> lines = SplitLines(RunOn(row.level, args, row.status));
    if (row.last[0] != '\0') {
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back(), row.last);
    }
    if (row.written) {
      EXPECT_EQ(fs::exists(scratch.path / row.written), row.status == 0);
    }
    EXPECT_EQ(ReadBytes(row.level), original);
  }
  const std::vector<std::string> refused = SplitLines(RunOn(tr4, {"/Water", "1", "-o", (scratch.path / "z.TRC").string()}, 2));
  ASSERT_GE(refused.size(), 2u);
  EXPECT_EQ(refused[refused.size() - 2],
            "--output " + (scratch.path / "z.TRC").string() + " would be read as a .TRC level; this is a TR4 level.");
}

}  // namespace
