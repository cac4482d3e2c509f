// Options anywhere on the line, several levels in one run, quiet runs, and the
// extra line that says what a common mistake probably meant: the real program,
// one row per behaviour.
#include <unistd.h>

#include <algorithm>

#include "binary_run.h"
#include "levels.h"
#include "tool_test_support.h"
#include "version.h"

using namespace qmtest;

namespace {

const std::string kLoading = "Loading Level...", kWater = "Turning On/Off the water...";
const std::string kSaved = "Saving the level...", kDone = "Done.";

TEST(BatchRun, OptionsLevelsAndHints) {
  ScratchDir scratch;
  const fs::path dir = scratch.path;
  BLevel dry = SampleLevel(5, 3);
  for (BRoom& r : dry.rooms) r.flags[0] &= 0xFE;
  BLevel wet = dry;
  for (BRoom& r : wet.rooms) r.flags[0] |= 0x01;
  WriteBytes(dir / "junk.tr2", Bytes(300, 'j'));
  fs::create_directory(dir / "folder");
  const struct {
    std::vector<std::string> args;
    std::string out;  // the whole standard output
    int status;
    bool aWet, bWet;  // the levels a.tr2 and b.tr2 after the run
  } rows[] = {
      // Every word before the switch is a level; each gets a line naming it.
      {{"a.tr2", "b.tr2", "/Water", "1"},
       kBanner + Lines({"== a.tr2 ==", kLoading, kWater, kSaved, kDone, "== b.tr2 ==", kLoading, kWater, kSaved, kDone}),
       0, true, true},
      // A failing level in the middle stops neither the others nor the exit status.
      {{"a.tr2", "junk.tr2", "missing.tr2", "b.tr2", "/WATER", "1"},
       kBanner + Lines({"== a.tr2 ==", kLoading, kWater, kSaved, kDone, "== junk.tr2 ==", kLoading,
                        "Invalid tr level format.", "== missing.tr2 ==", "missing.tr2 not found.", "== b.tr2 ==",
                        kLoading, kWater, kSaved, kDone}),
       2, true, true},
      {{"a.tr2", "junk.tr2", "/Water", "x"},
       kBanner + Lines({"== a.tr2 ==", "'x' is not a valid integer value.", "== junk.tr2 ==",
                        "'x' is not a valid integer value."}),
       2, false, false},
      // Quiet: results, errors and "Done." only; options stand anywhere.
      {{"a.tr2", "/Water", "-q", "1"}, Lines({kDone}), 0, true, false},
      {{"--quiet", "a.tr2", "b.tr2", "/Water", "0"}, Lines({"== a.tr2 ==", kDone, "== b.tr2 ==", kDone}), 0, false, false},
      {{"a.tr2", "/Info", "--version"}, Lines({qm::VersionLine(qm::ThisBuild())}), 0, false, false},
      {{"a.tr2", "/Info", "-h"}, "", 0, false, false},  // the help: checked by its first line below
      // A word of "-" and a digit is a value; after "--" every word is one.
      {{"a.tr2", "/Water", "-1"}, kBanner + Lines({kLoading, kWater, kSaved, kDone}), 0, true, false},
      {{"-q", "--", "-a.tr2", "/Info"}, Lines({"-a.tr2 not found."}), 2, false, false},
      // Mistakes: the line of today, then what was probably meant.
      {{"/Water", "a.tr2", "1"}, kBanner + Lines({"/Water not found.", "the level file comes first: quillmap LEVEL /Function \u2026"}), 2, false, false},
      {{"folder", "/Info"}, kBanner + Lines({"folder not found.", "folder is a folder, not a level file"}), 2, false, false},
      {{"a.tr2", "/Map", "nodir/m.svg"},
       // The sample level's rooms lie millions of sectors apart: a note says how small they are drawn.
       kBanner + Lines({kLoading, "Drawing the map...",
                        "The map is drawn at 0.00221 pixels a sector to stay within 8192 pixels a side.",
                        "Items outside the rooms, not drawn: 0, 1, 2, 3, 4",
                        "Saving the map...", "File not found.",
                        "creating a temporary file in nodir", "the folder nodir does not exist"}),
       1, false, false},
      {{"-Q", "a.tr2", "/Info"}, kBanner + Lines({"Unknown option -Q", "-Q is not an option of Quillmap: did you mean -q?"}), 2, false, false},
      {{"a.tr2", "/Water", "1", "--qiuet"}, kBanner + Lines({"Unknown option --qiuet", "--qiuet is not an option of Quillmap: did you mean --quiet?"}), 2, false, false},
      {{"a.tr2", "/Info", "--frobnicate"}, kBanner + Lines({"Unknown option --frobnicate", "--frobnicate is not an option of Quillmap, type Quillmap /h"}), 2, false, false},
      // An option without a value takes none, not even with "=".
      {{"a.tr2", "/Water", "1", "--dry-run=no"}, kBanner + Lines({"Unknown option --dry-run=no", "--dry-run=no is not an option of Quillmap, type Quillmap /h"}), 2, false, false},
      {{"a.tr2", "/Water", "1", "--backup=0"}, kBanner + Lines({"Unknown option --backup=0", "--backup=0 is not an option of Quillmap: did you mean --backup?"}), 2, false, false},
      {{"a.tr2", "/Water", "1", "--quiet=1"}, kBanner + Lines({"Unknown option --quiet=1", "--quiet=1 is not an option of Quillmap: did you mean --quiet?"}), 2, false, false},
      // --jobs at its limits, and numbers that would wrap around to an accepted count.
      {{"--jobs", "256", "-q", "a.tr2", "b.tr2", "/Water", "1"}, Lines({"== a.tr2 ==", kDone, "== b.tr2 ==", kDone}), 0, true, true},
      {{"--jobs", "257", "a.tr2", "b.tr2", "/Water", "1"}, kBanner + Lines({"--jobs needs a number of levels from 1 to 256."}), 2, false, false},
      {{"--jobs", "99999999999", "a.tr2", "b.tr2", "/Water", "1"}, kBanner + Lines({"--jobs needs a number of levels from 1 to 256."}), 2, false, false},
      {{"--jobs=4294967298", "a.tr2", "b.tr2", "/Water", "1"}, kBanner + Lines({"--jobs needs a number of levels from 1 to 256."}), 2, false, false},
      {{"--jobs", "4294967298", "a.tr2", "b.tr2", "/Water", "1"}, kBanner + Lines({"--jobs needs a number of levels from 1 to 256."}), 2, false, false},
  };
  for (const auto& row : rows) {
    std::string trace;
    for (const std::string& a : row.args) trace += "[" + a + "]";
    SCOPED_TRACE(trace);
    WriteBytes(dir / "a.tr2", Build(dry));
    WriteBytes(dir / "b.tr2", Build(dry));
    const BinaryRun run = RunBinary(dir, QM_TOOL_PATH, row.args);
    EXPECT_EQ(run.status, row.status);
    EXPECT_EQ(run.err, "");
    if (row.out.empty()) EXPECT_EQ(run.out.substr(kBanner.size(), 10), "Sintax: Qu");
    else EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(ReadBytes(dir / "a.tr2"), Build(row.aWet ? wet : dry));
    EXPECT_EQ(ReadBytes(dir / "b.tr2"), Build(row.bWet ? wet : dry));
  }
}

// A dry run shows each room the edit would change and touches no file: not its
// bytes, not its times, and a write-protected level is no obstacle.
TEST(BatchRun, DryRunShowsTheChangesAndWritesNothing) {
  ScratchDir scratch;
  const fs::path dir = scratch.path;
  for (int kind = 1; kind <= 7; ++kind) {
    BLevel L = SampleLevel(kind, 4);
    std::vector<std::string> water, light;
    // The light is the ambient's high byte up to TR3, its first two bytes from TR4 on.
    const char* newLight = kind >= 6 ? "0x0005" : "0x0534";
    for (size_t i = 0; i < L.rooms.size(); ++i) {
      BRoom& r = L.rooms[i];
      r.flags[0] = uint8_t(i == 1 ? 0x09 : 0x08);
      r.ambient = {0x34, 0x12};
      char line[80];
      if (i != 1) {
        std::snprintf(line, sizeof line, "Room %zu: flags 0x%02X08 -> 0x%02X09", i, r.flags[1], r.flags[1]);
        water.push_back(line);
      }
      if (i >= 1) light.push_back("Room " + std::to_string(i) + ": light 0x1234 -> " + newLight);
    }
    ASSERT_GE(L.rooms.size(), 3u);
    const Bytes level = Build(L);
    const std::string name = std::string("a") + FileExtension(KindFromInt(kind));
    WriteBytes(dir / name, level);
    fs::permissions(dir / name, fs::perms::owner_write, fs::perm_options::remove);
    const auto stamp = fs::last_write_time(dir / name);
    const std::string total = std::to_string(L.rooms.size() - 1) + " rooms would change (0 sectors, 0 faces); nothing was saved.";
    water.push_back(total);
    light.push_back(total);
    const struct {
      std::vector<std::string> args;
      std::vector<std::string> out;
    } rows[] = {
        {{"-n", "-q", name, "/Water", "1"}, water},
        {{name, "/Lara_Light", "5", "1", "--dry-run", "-q"}, light},
        {{"-q", name, "/Water", "1", "1", "1", "-n"}, {"No room would change; nothing was saved."}},
        {{"-q", name, "/Textures", "9999", "3", "-n"}, {"No room would change; nothing was saved."}},
        {{"-n", name, "/Map", "m.svg", "-q"}, {"The map was drawn; nothing was saved."}},
        {{"-n", name, "/Map", "m.html", "-q"}, {"The map was drawn; nothing was saved."}},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE(name + " " + row.args[3] + row.args[4]);
      const BinaryRun run = RunBinary(dir, QM_TOOL_PATH, row.args);
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.out, Lines(row.out));
      EXPECT_EQ(ReadBytes(dir / name), level);
      EXPECT_EQ(fs::last_write_time(dir / name), stamp);
    }
    EXPECT_FALSE(fs::exists(dir / "m.svg"));
    EXPECT_FALSE(fs::exists(dir / "m.html"));
    fs::permissions(dir / name, fs::perms::owner_write, fs::perm_options::add);
  }
}

// --output writes the edited level to another file, in the level's own kind,
// and keeps the level; it refuses the level under any of its names.
TEST(BatchRun, OutputWritesAnotherFileAndNeverTheLevel) {
  ScratchDir scratch;
  const fs::path dir = scratch.path;
  for (int kind = 1; kind <= 7; ++kind) {
    BLevel L = SampleLevel(kind, 5);
    for (BRoom& r : L.rooms) r.flags[0] &= 0xF7;
    const Bytes before = Build(L);
    for (BRoom& r : L.rooms) r.flags[0] |= 0x08;
    const Bytes after = Build(L);
    const std::string name = std::string("lvl") + FileExtension(KindFromInt(kind));
    // The new file keeps the level's kind in its name: ".TRC" beside TR4 is told by it.
    const std::string out = std::string("new") + FileExtension(KindFromInt(kind));
    WriteBytes(dir / name, before);
    fs::remove(dir / "link");
    fs::create_symlink(name, dir / "link");
    const struct {
      std::vector<std::string> args;
      std::string out;
      int status;
      bool written;  // out/new holds the edited level
    } rows[] = {
        {{name, "/Sky", "1", "-o", out}, Lines({"Done."}), 0, true},
        {{"--output=" + out, name, "/Sky", "1"}, Lines({"Done."}), 0, true},
        {{name, "/Sky", "1", "-o", "link"}, Lines({"--output must name another file than the level."}), 2, false},
        {{name, "/Sky", "1", "-o", "./" + name}, Lines({"--output must name another file than the level."}), 2, false},
        {{name, "/Info", "-o", out}, Lines({"--output is for the functions that edit a level."}), 2, false},
        {{name, name, "/Sky", "1", "-o", out}, Lines({"--output takes one level; 2 were given."}), 2, false},
        {{name, "/Sky", "1", "--output"}, Lines({"--output needs a value, type Quillmap /h"}), 2, false},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE(name + " " + row.args[1] + " " + row.args.back());
      fs::remove(dir / out);
      std::vector<std::string> args = row.args;
      args.insert(args.begin(), "-q");
      const BinaryRun run = RunBinary(dir, QM_TOOL_PATH, args);
      EXPECT_EQ(run.status, row.status);
      EXPECT_EQ(run.out, row.out);
      EXPECT_EQ(ReadBytes(dir / name), before);
      EXPECT_EQ(fs::exists(dir / out), row.written);
      if (row.written) {
        EXPECT_EQ(ReadBytes(dir / out), after);
      }
    }
  }
}

// --backup keeps the bytes that were loaded as NAME.bak, replacing an older
// backup; through a link the backup holds the file the link led to.
TEST(BatchRun, BackupKeepsTheLoadedBytes) {
  ScratchDir scratch;
  const fs::path dir = scratch.path;
  for (int kind = 1; kind <= 7; ++kind) {
    BLevel L = SampleLevel(kind, 7);
    for (BRoom& r : L.rooms) r.flags[0] &= 0xFE;
    const Bytes dry = Build(L);
    for (BRoom& r : L.rooms) r.flags[0] |= 0x01;
    const Bytes wet = Build(L);
    const std::string name = std::string("lvl") + FileExtension(KindFromInt(kind));
    const struct {
      std::vector<std::string> args;
      std::string bak;  // the backup's name, empty when none is made
      Bytes level;      // the level after the run
    } rows[] = {
        {{"-b", name, "/Water", "1"}, name + ".bak", wet},
        {{name, "--backup", "/Water", "1", "-n"}, "", dry},
        {{"-b", "link", "/Water", "1"}, "link.bak", wet},
        {{"-b", name, "/Water", "1", "-o", "new" + name.substr(3)}, "", dry},
    };
    for (const auto& row : rows) {
      SCOPED_TRACE(name + " " + row.args[0] + " " + row.args.back());
      for (const std::string& old : {std::string("link"), std::string("link.bak"), "new" + name.substr(3)}) fs::remove(dir / old);
      WriteBytes(dir / name, dry);
      WriteBytes(dir / (name + ".bak"), Bytes(10, 'o'));  // an older backup
      fs::create_symlink(name, dir / "link");
      const BinaryRun run = RunBinary(dir, QM_TOOL_PATH, row.args);
      EXPECT_EQ(run.status, 0) << run.out;
      EXPECT_EQ(ReadBytes(dir / name), row.level);
      const Bytes older(10, 'o');
      if (!row.bak.empty()) {
        EXPECT_TRUE(ReadBytes(dir / row.bak) == dry);
      }
      if (row.bak != name + ".bak") {
        EXPECT_TRUE(ReadBytes(dir / (name + ".bak")) == older);
      }
      for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().string().find("qmtmp"), std::string::npos) << entry.path();
    }
  }
}

// The older backup is replaced only by a save that happened: every refusal
// comes before anything is written and leaves the level and the older backup
// as they were, and no run leaves a hidden file, whatever stood as NAME.bak.
TEST(BatchRun, TheOlderBackupGoesOnlyWhenTheSaveIsMade) {
  ScratchDir scratch;
  const fs::path dir = scratch.path;
  BLevel L = SampleLevel(4, 3);
  for (BRoom& r : L.rooms) r.flags[0] &= 0xF7;
  const Bytes clear = Build(L);
  for (BRoom& r : L.rooms) r.flags[0] |= 0x08;
  const Bytes sky = Build(L);
  const Bytes older(10, 'o');
  const std::string refused = "keeping the backup lvl.tr4.bak, which is ";
  enum Bak { Older, Loaded, Folder };
  const struct {
    const char* what;
    void (*setUp)(const fs::path& dir);
    bool needsPermissions;  // root writes into any folder: such rows are skipped
    int status;
    std::vector<std::string> out;  // after "Saving the level..."
    bool saved;
    Bak bak;
  } rows[] = {
      {"an older backup", [](const fs::path&) {}, false, 0, {"Done."}, true, Loaded},
      {"a write-protected level",
       [](const fs::path& d) { fs::permissions(d / "lvl.tr4", fs::perms::owner_write, fs::perm_options::remove); },
       false, 1, {"File access denied.", "replacing lvl.tr4"}, false, Older},
      {"a write-protected folder",
       [](const fs::path& d) { fs::permissions(d, fs::perms::owner_write, fs::perm_options::remove); }, true, 1,
       {"File access denied.", "keeping the backup of lvl.tr4 in ."}, false, Older},
      {"a write-protected backup",
       [](const fs::path& d) { fs::permissions(d / "lvl.tr4.bak", fs::perms::owner_write, fs::perm_options::remove); },
       false, 1, {"File access denied.", refused + "write-protected; nothing was saved"}, false, Older},
      {"a folder as the backup, not empty",
       [](const fs::path& d) {
         fs::remove(d / "lvl.tr4.bak");
         fs::create_directory(d / "lvl.tr4.bak");
         WriteBytes(d / "lvl.tr4.bak" / "x", Bytes(10, 'o'));
       },
       false, 1, {"File access denied.", refused + "a folder; nothing was saved"}, false, Folder},
      // rename() between two names of one file does nothing and succeeds.
      {"the level itself as the backup",
       [](const fs::path& d) {
         fs::remove(d / "lvl.tr4.bak");
         fs::create_hard_link(d / "lvl.tr4", d / "lvl.tr4.bak");
       },
       false, 0, {"Done."}, true, Loaded},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.needsPermissions && ::geteuid() == 0) continue;
    WriteBytes(dir / "lvl.tr4", clear);
    WriteBytes(dir / "lvl.tr4.bak", older);
    row.setUp(dir);
    const BinaryRun run = RunBinary(dir, QM_TOOL_PATH, {"--backup", "lvl.tr4", "/Sky", "1"});
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(run.status, row.status);
    std::vector<std::string> out = {"Loading Level...", "Turning On/Off the Sky...", "Saving the level..."};
    out.insert(out.end(), row.out.begin(), row.out.end());
    EXPECT_EQ(run.out, kBanner + Lines(out));
    EXPECT_TRUE(ReadBytes(dir / "lvl.tr4") == (row.saved ? sky : clear));
    if (row.bak == Folder) EXPECT_TRUE(ReadBytes(dir / "lvl.tr4.bak" / "x") == older);
    else EXPECT_TRUE(ReadBytes(dir / "lvl.tr4.bak") == (row.bak == Older ? older : clear));
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(dir)) left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"lvl.tr4", "lvl.tr4.bak"}));
    fs::permissions(dir / "lvl.tr4", fs::perms::owner_write, fs::perm_options::add);
    if (row.bak == Folder) fs::remove_all(dir / "lvl.tr4.bak");
    else fs::permissions(dir / "lvl.tr4.bak", fs::perms::owner_write, fs::perm_options::add);
  }
}

// Levels worked on side by side give the output of one after another, byte
// for byte, and every edit lands.
TEST(BatchRun, JobsGiveTheOutputOfOneAfterAnother) {
  ScratchDir scratch;
  const fs::path dir = scratch.path;
  std::vector<std::string> names;
  std::vector<BLevel> levels;
  for (int i = 0; i < 200; ++i) {
    BLevel L = SampleLevel(1 + i % 7, unsigned(i));
    for (BRoom& r : L.rooms) r.flags[0] &= 0xFE;
    names.push_back("l" + std::to_string(1000 + i) + FileExtension(KindFromInt(1 + i % 7)));
    WriteBytes(dir / names.back(), Build(L));
    levels.push_back(L);
  }
  names[50] = "missing.tr4";  // a failing level among them
  for (const char* function : {"/Info", "/ShowRooms"}) {
    std::vector<std::string> args = names;
    args.push_back(function);
    std::vector<std::string> one = args, two = args, json1 = args, json2 = args;
    one.insert(one.begin(), {"-j", "1"});
    two.insert(two.begin(), "--jobs=2");
    json1.insert(json1.begin(), "--json");
    json2.insert(json2.begin(), {"--json", "-j", "2"});
    const BinaryRun a = RunBinary(dir, QM_TOOL_PATH, one), b = RunBinary(dir, QM_TOOL_PATH, two);
    EXPECT_EQ(a.status, 2);
    EXPECT_EQ(b.status, 2);
    EXPECT_TRUE(a.out == b.out) << function;
    EXPECT_TRUE(RunBinary(dir, QM_TOOL_PATH, json1).out == RunBinary(dir, QM_TOOL_PATH, json2).out) << function;
  }
  std::vector<std::string> edit = {"-q", "-j", "2"};
  edit.insert(edit.end(), names.begin(), names.end());
  edit.insert(edit.end(), {"/Water", "1"});
  EXPECT_EQ(RunBinary(dir, QM_TOOL_PATH, edit).status, 2);
  for (size_t i = 0; i < names.size(); ++i) {
    if (i == 50) continue;
    for (BRoom& r : levels[i].rooms) r.flags[0] |= 0x01;
    EXPECT_TRUE(ReadBytes(dir / names[i]) == Build(levels[i])) << names[i];
  }
}

}  // namespace

namespace {

// No output file may be a level of the run, under any name, and no two levels
// may write one file: such runs are refused before anything is written.
TEST(BatchRun, NoOutputIsALevelOrSharedByTwoLevels) {
  ScratchDir scratch;
  const fs::path dir = scratch.path;
  const Bytes level = Build(SampleLevel(6, 9));
  const std::string clash = "a.tr4 and b.tr4 would both write ";
  const std::string overLevel = "The pages cannot be written over the level file.";
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> out;
    int status;
  } rows[] = {
      // A page file that is the level through a link, or a hard link.
      {{"a.tr4", "/ExportPages", "ex"}, {overLevel, "ex/page_000.png is the level under another name"}, 2},
      {{"a.tr4", "/ExportPages", "hard", "0"}, {overLevel, "hard/page_000.png is the level under another name"}, 2},
      {{"-n", "a.tr4", "/ExportPages", "ex"}, {overLevel, "ex/page_000.png is the level under another name"}, 2},
      // Two levels, one file: whatever the order they would run in.
      {{"--jobs", "2", "a.tr4", "b.tr4", "/ExportPages", "o2"}, {clash + "o2/page_000.png"}, 2},
      {{"a.tr4", "b.tr4", "/ExportPages", "o2", "0", "0"}, {clash + "o2/page_000.png"}, 2},
      {{"a.tr4", "b.tr4", "/ExportPages", "./o2/"}, {clash + "./o2/page_000.png"}, 2},
      {{"a.tr4", "b.tr4", "/Map", "m.svg"}, {clash + "m.svg"}, 2},
      {{"-n", "a.tr4", "b.tr4", "/Map", "m.svg"}, {clash + "m.svg"}, 2},
      {{"a.tr4", "b.tr4", "link.tr4", "/Water", "1"}, {"a.tr4 and link.tr4 would both write a.tr4"}, 2},
      {{"a.tr4", "b.tr4", "./b.tr4", "/Water", "1"}, {"b.tr4 and ./b.tr4 would both write b.tr4"}, 2},
      {{"b.tr4", "hard/page_000.png", "/Sky", "1"}, {}, 0},  // two files: each level its own
      {{"a.tr4", "hard/page_000.png", "/Sky", "1"}, {"a.tr4 and hard/page_000.png would both write a.tr4"}, 2},
      // Reading a level twice writes nothing.
      {{"a.tr4", "a.tr4", "/ShowItems"}, {}, 0},
  };
  for (const auto& row : rows) {
    std::string trace;
    for (const std::string& a : row.args) trace += " " + a;
    SCOPED_TRACE(trace);
    for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
    WriteBytes(dir / "a.tr4", level);
    WriteBytes(dir / "b.tr4", level);
    fs::create_symlink("a.tr4", dir / "link.tr4");
    fs::create_directory(dir / "ex");
    fs::create_symlink("../a.tr4", dir / "ex" / "page_000.png");
    fs::create_directory(dir / "hard");
    fs::create_hard_link(dir / "a.tr4", dir / "hard" / "page_000.png");
    std::vector<std::string> args = row.args;
    args.insert(args.begin(), "-q");
    const BinaryRun run = RunBinary(dir, QM_TOOL_PATH, args);
    EXPECT_EQ(run.status, row.status) << run.out;
    if (row.status == 0) continue;
    EXPECT_EQ(run.out, Lines(row.out));
    EXPECT_EQ(ReadBytes(dir / "a.tr4"), level);
    EXPECT_EQ(ReadBytes(dir / "b.tr4"), level);
    EXPECT_FALSE(fs::exists(dir / "o2"));
    EXPECT_FALSE(fs::exists(dir / "m.svg"));
  }
}

}  // namespace

namespace {

// Worker threads that cannot be started leave fewer workers, down to the
// calling thread alone: the run still does every level, with the output of
// one level after another.
TEST(BatchRun, JobsRunWithTheThreadsThatCanBeStarted) {
  ScratchDir scratch;
  BLevel L = SampleLevel(3, 4);
  for (BRoom& r : L.rooms) r.flags[0] &= 0xFE;
  const Bytes dry = Build(L);
  for (BRoom& r : L.rooms) r.flags[0] |= 0x01;
  const Bytes wet = Build(L);
  std::vector<std::string> names;
  for (int i = 0; i < 6; ++i) names.push_back((scratch.path / ("l" + std::to_string(i) + ".tr2")).string());
  auto run = [&](const char* jobs) {
    for (const std::string& name : names) WriteBytes(name, dry);
    std::vector<std::string> args = {"--jobs", jobs};
    args.insert(args.end(), names.begin(), names.end());
    args.insert(args.end(), {"/Water", "1"});
    qm::TStringConsole console;
    EXPECT_EQ(qm::RunTool(args, console), 0);
    for (const std::string& name : names) EXPECT_EQ(ReadBytes(name), wet) << name;
    return console.Text;
  };
  const std::string oneByOne = run("1");
  for (const int startable : {0, 1, 3}) {
    SCOPED_TRACE(std::to_string(startable) + " threads can be started");
    int started = 0;
    qm::GThreadStartHook = [&] { return started++ >= startable; };
    EXPECT_EQ(run("4"), oneByOne);
    qm::GThreadStartHook = nullptr;
  }
}

}  // namespace
