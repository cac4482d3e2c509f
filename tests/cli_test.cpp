// The real quillmap binary, run as a user runs it: exact standard output (CR LF
// line ends included), empty standard error and the exit status.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <nlohmann/json.hpp>

#include "binary_run.h"
#include "tool_test_support.h"
#include "version.h"

using namespace qmtest;

namespace {

const std::string kHelp = Lines({
    "Sintax: Quillmap filename /<function>  From_Room To_Room", "", "<functions> availibles are:",
    "/Info = get level info", "/Step_sound  <floorSoundId> = replace floor sound ids. (0-3)",
    "/Replace_sound <old> <new> = change one floor sound (material) into another",
    "/Lara_Light <newlaralight> = change Lara light 0-31", "/Sky  0/1  = enable/disable sky",
    "/Water 0/1 = enable/disable water", "/QuickSand 0/1 = enable/disable quicksand",
    "/Flag <name> 0/1 = enable/disable a room flag (Water, Sky, Wind, QuickSand ...)",
    "/Room_Colour <R> <G> <B> = change room colour (0-255 each)",
    "/Flood = flood the dry rooms (water flag; TR3 and TR4 also the shimmer of their vertices)",
    "/Drain = drain the water rooms (water flag; TR3 and TR4 also the shimmer and waves)",
    "/Textures <oldtextid> <newtextid> = Change textures ids", "/ShowItems = Show ItemsId used in level",
    "/Showstatics = Show Statics Mesh id used in levels", "/ShowAnimtext = Show animated textures table",
    "/ShowRooms = Show rooms table (position, size, flags, light, counts)",
    "/ShowWater = Show water rooms, the rooms above and below, surfaces and vertex effects",
    "/ShowSounds = Show floor sound ids and their sectors per room",
    "/ShowTextures = Show textures ids and their faces per room",
    "/Map <file.svg|file.png|file.html> = Draw the rooms seen from above, storey by storey, into a picture or a page",
    "/ExportPages <folder> = Write texture pages as PNG pictures page_000.png ...",
    "/ImportPage <page> <file.png> = Replace a texture page with a 256x256 PNG picture",
    "/ShowEntities = Show every item: index, type and name, room, position, angle, flags",
    "/ShowTypes [name] = Show the game's object type ids and names (those /AddItem and /SetItem take)",
    "/ShowTriggers = Show the triggers of each room: sector, type, timer, mask, actions",
    "/MoveItem <item> <room> <x> <y> <z> [angle] = Move an item (angle in degrees)",
    "/SetItem <item> <type> = Change the object type of an item (a number or a name)",
    "/ItemFlags <item> [invisible=0|1] [clearbody=0|1] [activation=0-31] [ocb=N] = Change the flags of an item",
    "/AddItem <type> <room> <x> <y> <z> [angle] = Add an item after the last one",
    "/RemoveItem <item> = Remove an item; the triggers keep naming the same items", "",
    "If rooms range is not especified all rooms are assumed.", "",
    "Options, anywhere on the line (-- ends them):",
    "-n, --dry-run       an edit shows what it would change; nothing is saved",
    "-b, --backup        the level as it was is kept as NAME.bak",
    "-o, --output FILE   the edited level is written to FILE, the level kept",
    "    --alternates    an edit also edits the flip room of each room",
    "    --no-items      /Map leaves the items out",
    "    --storey N      /Map draws storey N only (1 the lowest)",
    "-j, --jobs N        up to N levels worked on side by side",
    "    --json          one JSON document instead of the text",
    "-q, --quiet         no banner and no progress lines",
    "-h, --help          this help",
    "    --version       the version line"});
const std::string kLoading = "Loading Level...";

// Runs the binary in a scratch folder; level names are relative to it.
class CliTest : public ::testing::Test {
protected:
  // The output after the banner, which every run must start with.
  std::string Run(const std::vector<std::string>& args, int expectedStatus = 0) {
    const BinaryRun run = RunBinary(dir_, QM_TOOL_PATH, args);
    EXPECT_EQ(run.status, expectedStatus);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.substr(0, kBanner.size()), kBanner);
    return run.out.substr(std::min(run.out.size(), kBanner.size()));
  }
  void Put(const std::string& name, const BLevel& level) { WriteBytes(dir_ / name, Build(level)); }

  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
};

TEST_F(CliTest, HelpRefusalsAndArgumentChecksLeaveTheFileAlone) {
  Put("lvl.tr2", SampleLevel(3, 1));
  Put("none.tr2", EmptyLevel(Kind::TR2));
  WriteBytes(dir_ / "junk.tr2", Bytes(300, 'j'));
  fs::create_directory(dir_ / "folder");
  const Bytes before = ReadBytes(dir_ / "lvl.tr2");
  const std::string invalid = Lines({"Invalid command function, type Quillmap /h"});
  const std::string info = Lines({"did you mean /Info?"});
  const std::string missing = Lines({"Missing parameter"}), flag = Lines({"Please especify 0 or 1"});
  auto bad = [](const std::string& text) { return "'" + text + "' is not a valid integer value."; };
  const struct {
    std::vector<std::string> args;
    std::string out;
    int status;
  } rows[] = {
      {{}, kHelp, 0}, {{"/h", "lvl.tr2", "/Info"}, kHelp, 0}, {{"/H"}, kHelp, 0},
      {{"-h"}, kHelp, 0}, {{"--help", "lvl.tr2", "/Info"}, kHelp, 0}, {{"/?"}, kHelp, 0},
      // Only those spellings: anything else is still a file name.
      {{"-H"}, Lines({"Unknown option -H", "-H is not an option of Quillmap: did you mean -h?"}), 2},
      {{"--HELP"}, Lines({"Unknown option --HELP", "--HELP is not an option of Quillmap: did you mean --help?"}), 2},
      {{"-help"}, Lines({"Unknown option -help", "-help is not an option of Quillmap: did you mean --help?"}), 2},
      {{"/help"}, Lines({"/help not found."}), 2},
      {{"--VERSION"}, Lines({"Unknown option --VERSION", "--VERSION is not an option of Quillmap: did you mean --version?"}), 2},
      {{"lvl.tr2", "/h"}, invalid, 2},
      {{"missing.phd", "/bogus"}, Lines({"missing.phd not found."}), 2},
      {{"Lvl.tr2", "/Info"}, Lines({"Lvl.tr2 not found."}), 2},
      {{"folder", "/Info"}, Lines({"folder not found.", "folder is a folder, not a level file"}), 2},
      {{"lvl.tr2"}, invalid, 2}, {{"lvl.tr2", "/info "}, invalid + info, 2}, {{"lvl.tr2", " /info"}, invalid + info, 2},
      {{"lvl.tr2", "info"}, invalid + info, 2}, {{"lvl.tr2", "/inf"}, invalid + info, 2},
      {{"lvl.tr2", "-Info"}, Lines({"Unknown option -Info", "functions start with /: did you mean /Info?"}), 2},
      {{"lvl.tr2", "/Step_sound"}, missing, 2}, {{"lvl.tr2", "/lara_LIGHT", ""}, missing, 2},
      {{"lvl.tr2", "/Textures"}, missing, 2}, {{"lvl.tr2", "/Textures", "", ""}, missing, 2},
      {{"lvl.tr2", "/water"}, flag, 2}, {{"lvl.tr2", "/SKY"}, flag, 2}, {{"lvl.tr2", "/QuickSand", "", "1"}, flag, 2},
      {{"lvl.tr2", "/Water", "abc", "0"}, Lines({bad("abc")}), 2},
      {{"lvl.tr2", "/Lara_Light", "5 "}, Lines({bad("5 ")}), 2},
      {{"lvl.tr2", "/Textures", "", "5"}, Lines({bad("")}), 2},
      {{"lvl.tr2", "/Textures", "5"}, Lines({kLoading, "Changing Textures Ids...", bad("")}), 2},
      {{"lvl.tr2", "/Sky", "1", "0", "x"}, Lines({kLoading, "Turning On/Off the Sky...", bad("x")}), 2},
      {{"lvl.tr2", "/Step_sound", "1"}, Lines({kLoading, "Function Only for Tr3 and above version"}), 2},
      {{"junk.tr2", "/Info"}, Lines({kLoading, "Invalid tr level format."}), 2},
      {{"junk.tr2", "/Water", "1"}, Lines({kLoading, "Invalid tr level format."}), 2},
      {{"lvl.tr2", "/Sky", "1", "3"},
       Lines({kLoading, "Turning On/Off the Sky...", "Room 3 is outside this level (rooms 0 to 2)."}), 2},
      {{"none.tr2", "/Water", "0"},
       Lines({kLoading, "Turning On/Off the water...", "This level has no rooms to change."}), 2},
  };
  for (const auto& row : rows) {
    std::string trace;
    for (const std::string& a : row.args) trace += "[" + a + "]";
    SCOPED_TRACE(trace);
    EXPECT_EQ(Run(row.args, row.status), row.out);
  }
  EXPECT_EQ(ReadBytes(dir_ / "lvl.tr2"), before);
  EXPECT_EQ(ReadBytes(dir_ / "junk.tr2"), Bytes(300, 'j'));
}

// Every mistake in the command ends with exit status 2, and the line under it
// says what was probably meant.
TEST_F(CliTest, CommandLineMistakesSayWhatWasMeant) {
  Put("lvl.tr4", SampleLevel(6, 1));
  WriteBytes(dir_ / "-H", Bytes(300, 'j'));  // a file named like an option
  const Bytes before = ReadBytes(dir_ / "lvl.tr4");
  const std::string invalid = "Invalid command function, type Quillmap /h";
  auto bad = [](const std::string& text) { return "'" + text + "' is not a valid integer value."; };
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> out;  // after the banner
    int status;
  } rows[] = {
      // A number that is none: the report as before, the status of a wrong command.
      {{"lvl.tr4", "/Water", "yes"}, {bad("yes")}, 2},
      {{"lvl.tr4", "/Lara_Light", "1.5"}, {bad("1.5")}, 2},
      {{"lvl.tr4", "/Textures", "3"}, {kLoading, "Changing Textures Ids...", bad("")}, 2},
      {{"lvl.tr4", "/Flag", "Wind", "on"}, {bad("on")}, 2},
      {{"lvl.tr4", "/ExportPages", "p", "x"}, {kLoading, bad("x")}, 2},
      // A function name that is nearly one.
      {{"lvl.tr4", "/Room_Colr", "1", "2", "3"}, {invalid, "did you mean /Room_Colour?"}, 2},
      {{"lvl.tr4", "/StepSound", "1"}, {invalid, "did you mean /Step_sound?"}, 2},
      {{"lvl.tr4", "/ShowItem"}, {invalid, "did you mean /ShowItems?"}, 2},
      {{"lvl.tr4", "/Inf"}, {invalid, "did you mean /Info?"}, 2},
      // A function name said in other words: one holds the other.
      {{"lvl.tr4", "/Flooding"}, {invalid, "did you mean /Flood?"}, 2},
      {{"lvl.tr4", "/Items"}, {invalid, "did you mean /ShowItems?"}, 2},
      {{"lvl.tr4", "/Entities", "0"}, {invalid, "did you mean /ShowEntities?"}, 2},
      {{"lvl.tr4", "/Frobnicate"}, {invalid}, 2},
      {{"lvl.tr4", "-Info"}, {"Unknown option -Info", "functions start with /: did you mean /Info?"}, 2},
      {{"--Info", "lvl.tr4"}, {"Unknown option --Info", "functions start with /: did you mean /Info?"}, 2},
      {{"lvl.tr4", "--sky", "1"}, {"Unknown option --sky", "functions start with /: did you mean /Sky?"}, 2},
      // An option mistyped as the first word; a file of such a name is reached after --.
      {{"--dryrun", "x.phd", "/Info"}, {"Unknown option --dryrun", "--dryrun is not an option of Quillmap: did you mean --dry-run?"}, 2},
      {{"-H", "/Info"},
       {"Unknown option -H", "-H is not an option of Quillmap: did you mean -h? (the file -H is reached after --: "
                             "quillmap -- -H /Function \u2026)"},
       2},
      {{"--", "-H", "/Info"}, {kLoading, "Invalid tr level format."}, 2},
      // The British and the American spelling.
      {{"lvl.tr4", "/Room_Color", "1", "2", "3", "0", "0"}, {kLoading, "Changing Room Colour...", "Saving the level...", "Done."}, 0},
  };
  for (const auto& row : rows) {
    std::string trace;
    for (const std::string& a : row.args) trace += "[" + a + "]";
    SCOPED_TRACE(trace);
    WriteBytes(dir_ / "lvl.tr4", before);
    EXPECT_EQ(Run(row.args, row.status), Lines(row.out));
    if (row.status != 0) {
      EXPECT_EQ(ReadBytes(dir_ / "lvl.tr4"), before);
    }
  }
}

// --json never gives text: the help and the version are documents too, the
// help as its lines.
TEST_F(CliTest, JsonGivesADocumentForHelpVersionAndRefusals) {
  const std::string help = kHelp;
  std::vector<std::string> helpLines;
  for (size_t at = 0, end; (end = help.find("\r\n", at)) != std::string::npos; at = end + 2)
    helpLines.push_back(help.substr(at, end - at));
  const struct {
    std::vector<std::string> args;
    std::string document;
    int status;
  } rows[] = {
      {{"--json"}, nlohmann::json({{"format", 1}, {"help", helpLines}}).dump(), 0},
      {{"--json", "-h"}, nlohmann::json({{"format", 1}, {"help", helpLines}}).dump(), 0},
      {{"/h", "--json"}, nlohmann::json({{"format", 1}, {"help", helpLines}}).dump(), 0},
      {{"--json", "--version"}, qm::VersionDocument(qm::ThisBuild()).dump(), 0},
      {{"--json", "--bogus", "x.tr4", "/Info"},
       R"({"format":1,"levels":[],"error":{"message":"Unknown option --bogus","hint":"--bogus is not an option of Quillmap, type Quillmap /h"}})",
       2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + row.args[1 % row.args.size()]);
    const BinaryRun run = RunBinary(dir_, QM_TOOL_PATH, row.args);
    EXPECT_EQ(run.status, row.status);
    const nlohmann::ordered_json document = nlohmann::ordered_json::parse(run.out, nullptr, false);
    EXPECT_EQ(document.dump(), row.document) << run.out;
  }
}

TEST_F(CliTest, VersionIsOneLineWithoutTheBanner) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"--version", "x", "/Info"}, {"lvl.tr2", "--version"}}) {
    const BinaryRun run = RunBinary(dir_, QM_TOOL_PATH, args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, Lines({qm::VersionLine(qm::ThisBuild())}));
    EXPECT_EQ(run.err, "");
  }
}

// Standard output full (/dev/full) or closed: the run still does its job, then
// ends with status 1 and says on standard error what was lost and what was saved.
TEST_F(CliTest, UnwritableOutputIsAFailure) {
  BLevel L = SampleLevel(5, 2);
  for (BRoom& r : L.rooms) r.flags[0] &= 0xFE;
  const Bytes dry = Build(L);
  for (BRoom& r : L.rooms) r.flags[0] |= 0x01;
  const Bytes wet = Build(L);
  const std::string lost = "quillmap: could not write to standard output.\r\n";
  const std::string saved = "quillmap: could not write to standard output; the level was saved.\r\n";
  // The error report that standard output lost follows on standard error.
  const std::string lostBadValue = lost + Lines({"'zz' is not a valid integer value."});
  const std::string lostDenied = lost + Lines({"File access denied.", "replacing lvl.tr2"});
  const std::string none;  // a pipe whose reader has gone: no failure, nothing said
  // A pipe whose reading end is already closed: every write fails (no signal ends the run).
  // The shell takes one-digit descriptors only: the writing end gets the lowest free one.
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  ::close(pipeEnds[0]);
  const int writeEnd = ::fcntl(pipeEnds[1], F_DUPFD, 3);
  ::close(pipeEnds[1]);
  ASSERT_TRUE(writeEnd >= 3 && writeEnd <= 9) << writeEnd;
  const std::string brokenPipe = ">&" + std::to_string(writeEnd);
  const struct {
    std::vector<std::string> args;
    std::string stdoutTo;
    const std::string& err;
    const Bytes& after;  // the level's bytes after the run, which starts from dry
    bool writeProtected = false;
  } rows[] = {
      {{"lvl.tr2", "/Info"}, ">/dev/full", lost, dry},
      {{}, ">/dev/full", lost, dry},
      {{"--version"}, ">/dev/full", lost, dry},
      {{"missing.tr2", "/Info"}, ">/dev/full", lost, dry},
      {{"lvl.tr2", "/Water", "zz"}, ">/dev/full", lostBadValue, dry},
      {{"lvl.tr2", "/Water", "1"}, ">/dev/full", saved, wet},
      {{"lvl.tr2", "/Water", "1"}, ">/dev/full", lostDenied, dry, true},
      {{"lvl.tr2", "/Water", "1"}, ">&-", lostDenied, dry, true},
      {{"lvl.tr2", "/Info"}, ">&-", lost, dry},
      // Standard output closed: the level is still saved whole.
      {{"lvl.tr2", "/Water", "1"}, ">&-", saved, wet},
      {{"lvl.tr2", "/ShowItems"}, brokenPipe, none, dry},
      {{"lvl.tr2", "/Water", "1"}, brokenPipe, none, wet},
      // Several levels: an early one saved, the last one not.
      {{"lvl.tr2", "missing.tr2", "/Water", "1"}, ">/dev/full", saved, wet},
  };
  for (const auto& row : rows) {
    std::string trace = row.stdoutTo;
    for (const std::string& a : row.args) trace += " [" + a + "]";
    SCOPED_TRACE(trace);
    fs::remove(dir_ / "lvl.tr2");
    WriteBytes(dir_ / "lvl.tr2", dry);
    if (row.writeProtected) fs::permissions(dir_ / "lvl.tr2", fs::perms(0444));
    const BinaryRun run = RunBinary(dir_, QM_TOOL_PATH, row.args, row.stdoutTo);
    EXPECT_EQ(run.status, row.err.empty() ? 0 : 1);
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(ReadBytes(dir_ / "lvl.tr2"), row.after);
  }
  ::close(writeEnd);
}

TEST_F(CliTest, TruncatedLevelEndsWithTheErrorReport) {
  const BLevel L = SampleLevel(1, 2);
  Bytes file = Build(L);
  file.resize(LayoutOf(L).File("room1.vertices") + 5);
  WriteBytes(dir_ / "cut.phd", file);
  const std::string out = Run({"cut.phd", "/Info"}, 1), head = Lines({kLoading, "Read beyond end of file."});
  ASSERT_EQ(out.substr(0, head.size()), head);
  const std::string where = out.substr(head.size());
  EXPECT_EQ(where.find("\r\n"), where.size() - 2) << where;  // exactly one more line
  EXPECT_NE(where.find("room 1"), std::string::npos) << where;
}

TEST_F(CliTest, ReportLinesForEveryKindAndForRoomAndItemEdgeCases) {
  const char* versions[] = {"TR1", "TR1", "TR2", "TR2", "TR3", "TR4", "TR5"};
  for (int k = 1; k <= 7; ++k) {
    const std::string name = std::string("s") + FileExtension(KindFromInt(k));
    Put(name, SampleLevel(k, 3));
    EXPECT_EQ(Run({name, k == 2 ? "/iNfO" : "/Info", "1", "2"}),
              ReportText(versions[k - 1], {3, 1, 5, 2, 5, 2, 3, 6, 6, 6, 8, 5, 4, 2}));
  }
  // Maxima in middle rooms, each shared by two rooms; the last item of object
  // id 0 decides the start room, whose number reads as unsigned.
  BLevel L = EmptyLevel(Kind::TR3);
  const size_t counts[4][5] = {{2, 4, 1, 0, 1}, {6, 1, 3, 2, 0}, {6, 4, 0, 1, 4}, {1, 0, 0, 0, 0}};
  for (const auto& c : counts) {
    BRoom& r = L.rooms.emplace_back();
    r.vertices.resize(c[0]);
    r.rectangles.resize(c[1]);
    r.triangles.resize(c[2]);
    r.lights.assign(c[3], Bytes(24, 1));
    r.statics.assign(c[4], Bytes(20, 2));
  }
  for (const auto& [id, room] : {std::pair<uint16_t, int16_t>{0, 1}, {4, 0}, {0, 3}, {9, 2}})
    L.items.push_back(BItem{id, room, 0, 0, 0, 0, 0, 0, 0});
  L.animatedTextures = {1, 0, 5};
  Put("edge.tr2", L);
  EXPECT_EQ(Run({"edge.tr2", "/INFO"}), ReportText("TR3", {4, 0, 0, 1, 4, 0, 0, 0, 5, 3, 6, 4, 3, 3}));
  L.items[2].room = -2;
  Put("edge.tr2", L);
  EXPECT_EQ(Run({"edge.tr2", "/INFO"}), ReportText("TR3", {4, 0, 0, 1, 4, 0, 0, 0, 5, 3, 6, 4, 3, 65534}));
  // No item of object id 0 and an empty animated texture list.
  L.items[0].objectId = L.items[2].objectId = 3;
  L.animatedTextures.clear();
  Put("edge.tr2", L);
  EXPECT_EQ(Run({"edge.tr2", "/INFO"}), ReportText("TR3", {4, 0, 0, 0, 4, 0, 0, 0, 5, 3, 6, 4, 3, -1}));
}

std::string Listing(const char* heading, std::vector<std::string> body) {
  body.insert(body.begin(), {kLoading, heading, ""});
  body.push_back("Done.");
  return Lines(body);
}
const char* const kItems = "Showing Items Id used in this level:";
const char* const kStatics = "Showing STATICS MESHES Ids used in this level:";
const char* const kAnim = "Showing ANIMATED TEXTURES Ids used in this level:";

TEST_F(CliTest, ListingsWriteFixedWidthFields) {
  for (int k : {1, 5, 7}) {  // both item forms and the TR4 family
    const std::string name = std::string("s") + FileExtension(KindFromInt(k));
    Put(name, SampleLevel(k, 4));
    EXPECT_EQ(Run({name, "/ShowItems", "abc"}), Listing(kItems, {"ID:  0  ID:  7  ID: 35  "}));
    EXPECT_EQ(Run({name, "/SHOWSTATICS"}), Listing(kStatics, {"ID: 10  ID: 11  ID:1000  "}));
    EXPECT_EQ(Run({name, "/showanimtext"}),
              Listing(kAnim, {"Animated Texture# 1-->  12    13  ", "Animated Texture# 2-->   7  "}));
  }
  BLevel L = EmptyLevel(Kind::TR2);
  Put("lvl.tr2", L);
  EXPECT_EQ(Run({"lvl.tr2", "/ShowItems"}), Listing(kItems, {""}));
  EXPECT_EQ(Run({"lvl.tr2", "/ShowStatics"}), Listing(kStatics, {""}));
  EXPECT_EQ(Run({"lvl.tr2", "/ShowAnimtext"}), Listing(kAnim, {}));

  for (uint16_t id : {7, 0, 7, 511, 512, 65535}) L.items.push_back(BItem{id, 0, 0, 0, 0, 0, 0, 0, 0});
  for (int32_t id : {3, 3, 1, -5, -100, 12345}) L.staticMeshes.push_back(BStaticMesh{id, {}});
  // 100 groups: 99 of one id each, then one of two ids of five digits.
  L.animatedTextures = {100};
  std::vector<std::string> groups;
  for (uint16_t g = 1; g < 100; ++g) {
    L.animatedTextures.insert(L.animatedTextures.end(), {0, g});
    char line[64];
    std::snprintf(line, sizeof line, "Animated Texture#%2d-->%4d  ", g, g);
    groups.push_back(line);
  }
  L.animatedTextures.insert(L.animatedTextures.end(), {1, 10000, 65535});
  groups.push_back("Animated Texture#100-->10000  65535  ");
  Put("lvl.tr2", L);
  EXPECT_EQ(Run({"lvl.tr2", "/ShowItems"}), Listing(kItems, {"ID:  0  ID:  7  ID:511  "}));
  EXPECT_EQ(Run({"lvl.tr2", "/ShowStatics"}), Listing(kStatics, {"ID:  3  ID:  3  ID:  1  ID: -5  ID:-100  ID:12345  "}));
  EXPECT_EQ(Run({"lvl.tr2", "/ShowAnimtext"}), Listing(kAnim, groups));

  // Group counts that run past the end of the list: only stored words are shown.
  const std::pair<std::vector<uint16_t>, std::vector<std::string>> rows[] = {
      {{3, 1, 12, 13, 2, 40}, {"Animated Texture# 1-->  12    13  ", "Animated Texture# 2-->  40  "}},
      {{5}, {}}, {{2, 0}, {"Animated Texture# 1-->"}}, {{1, 65535, 9}, {"Animated Texture# 1-->   9  "}}};
  for (const auto& [words, body] : rows) {
    L.animatedTextures = words;
    Put("lvl.tr2", L);
    EXPECT_EQ(Run({"lvl.tr2", "/ShowAnimtext"}), Listing(kAnim, body));
  }
}

// "/Textures OLD NEW" on every room of the description: rectangles match on
// their 12-bit index, triangles on the whole word (TR5: in every layer).
void Retexture(BLevel& L, uint16_t oldId, uint16_t newWord) {
  const auto change = [&](auto& faces, uint16_t match) {
    for (auto& f : faces)
      if ((f.texture & match) == oldId) f.texture = newWord;
  };
  for (BRoom& r : L.rooms) change(r.rectangles, 0x0FFF), change(r.triangles, 0xFFFF);
  for (B5Room& r : L.rooms5)
    for (B5Layer& layer : r.layers) change(layer.rectangles, 0x0FFF), change(layer.triangles, 0xFFFF);
}

// A new texture word must name one of the level's object textures: its index
// is the whole word in TR1 and TR2, bits 0-14 from TR3 on (bit 15 marks a
// double-sided face). A refused edit leaves the file as it was.
TEST_F(CliTest, TexturesRefuseANewIdTheLevelDoesNotHave) {
  const char* const progress = "Changing Textures Ids...";
  const struct {
    int kind;
    const char* form;  // "", "NG" (a TRNG level) or "ZLIB" (in the container)
    size_t textures;
    const char* newId;
    const char* refusal;  // nullptr: the edit is done, storing the word `stored`
    uint16_t stored;
  } rows[] = {
      {1, "", 728, "5000", "Texture 5000 is not in this level (textures 0 to 727).", 0},
      {1, "", 728, "727", nullptr, 727},
      {2, "", 5, "5", "Texture 5 is not in this level (textures 0 to 4).", 0},
      {3, "", 5, "$8001", "Texture 32769 is not in this level (textures 0 to 4).", 0},
      {3, "", 5, "4", nullptr, 4},
      {4, "", 0, "0", "Texture 0 is not in this level (it has no textures).", 0},
      {5, "", 5, "$8005", "Texture 5 is not in this level (textures 0 to 4).", 0},
      {5, "", 5, "$8004", nullptr, 0x8004},
      {6, "", 5, "65541", "Texture 5 is not in this level (textures 0 to 4).", 0},
      {6, "", 5, "65540", nullptr, 4},
      {7, "", 5, "$FFFF", "Texture 32767 is not in this level (textures 0 to 4).", 0},
      {8, "", 5, "6", "Texture 6 is not in this level (textures 0 to 4).", 0},
      {8, "", 5, "4", nullptr, 4},
      {6, "NG", 9, "9", "Texture 9 is not in this level (textures 0 to 8).", 0},
      {6, "NG", 9, "$8008", nullptr, 0x8008},
      {5, "ZLIB", 5, "5", "Texture 5 is not in this level (textures 0 to 4).", 0},
      {6, "ZLIB", 5, "4", nullptr, 4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE("kind " + std::to_string(row.kind) + row.form + ", new " + row.newId);
    BLevel L = SampleLevel(row.kind, 2);
    if (row.kind >= 6) FillPages(L, 0, 2, 100);
    if (std::string(row.form) == "NG") SetNgTrailer(L, 300, 40);
    L.objectTextures.resize(row.textures);
    if (row.kind == 8) L.rooms5[0].layers[0].rectangles[0].texture = 2;
    else L.rooms[0].rectangles[0].texture = L.rooms[0].triangles[0].texture = 2;
    const Bytes file = std::string(row.form) == "ZLIB" ? WrapZlib(Build(L)) : Build(L);
    const std::string name = std::string("lvl") + FileExtension(L.kind);
    WriteBytes(dir_ / name, file);
    if (row.refusal) {
      EXPECT_EQ(Run({name, "/Textures", "2", row.newId}, 2), Lines({kLoading, progress, row.refusal}));
      EXPECT_EQ(ReadBytes(dir_ / name), file);
      continue;
    }
    EXPECT_EQ(Run({name, "/Textures", "2", row.newId}), Lines({kLoading, progress, "Saving the level...", "Done."}));
    Retexture(L, 2, row.stored);
    EXPECT_EQ(Diff(ReadBytes(dir_ / name), Build(L), row.kind), "");
  }
}

TEST_F(CliTest, SuccessfulEditPrintsFourLines) {
  Put("lvl.tr2", SampleLevel(5, 5));
  EXPECT_EQ(Run({"lvl.tr2", "/QuickSand", "$10", "1", "2"}),
            Lines({kLoading, "Turning On/Off the Quicksand...", "Saving the level...", "Done."}));
}

}  // namespace
