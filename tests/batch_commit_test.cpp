// A run that edits several levels commits their saves together: every new
// file is written, then all are flushed, then each is renamed, then the folder
// is flushed once. The run is stopped at each of those points (the process
// ends there, as in a crash, or a signal ends it), a flush fails, and the
// order of the calls is watched: each level is always wholly old or wholly
// new, and no level takes its name before its new content is on disk.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "levelbuilder.h"
#include "platform.h"
#include "run.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

using qm::TStoreStep;
constexpr int kLevels = 5;

struct Level {
  std::string name;
  Bytes dry, wet;
};

class BatchCommitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < kLevels; ++i) {
      BLevel dry = SampleLevel(5, unsigned(10 + i));
      for (BRoom& r : dry.rooms) r.flags[0] &= 0xFE;
      BLevel wet = dry;
      for (BRoom& r : wet.rooms) r.flags[0] |= 0x01;
      levels_.push_back({std::string(1, char('a' + i)) + ".tr2", Build(dry), Build(wet)});
    }
  }
  void TearDown() override {
    qm::GStoreFaultHook = nullptr;
    qm::GStoreCallObserver = nullptr;
  }

  void WriteLevels() {
    for (const Level& l : levels_) WriteBytes(dir_ / l.name, l.dry);
  }

  std::vector<std::string> Args(const std::vector<std::string>& options) const {
    std::vector<std::string> args = options;
    for (const Level& l : levels_) args.push_back((dir_ / l.name).string());
    args.insert(args.end(), {"/Water", "1"});
    return args;
  }

  // How many levels hold their new bytes; each must be wholly old or new.
  int NewLevels() const {
    int wet = 0;
    for (const Level& l : levels_) {
      const Bytes now = ReadBytes(dir_ / l.name);
      EXPECT_TRUE(now == l.dry || now == l.wet) << l.name << " is neither the old nor the new level";
      wet += now == l.wet;
    }
    return wet;
  }

  // The names in the folder other than the levels and their backups.
  std::vector<std::string> Others() const {
    std::vector<std::string> others;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string name = e.path().filename().string();
      bool known = false;
      for (const Level& l : levels_) known = known || name == l.name || name == l.name + ".bak";
      if (!known) others.push_back(name);
    }
    return others;
  }

  ScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
  std::vector<Level> levels_;
};

// The run is stopped when a step of the store comes for the time-th time:
// the process ends there as in a crash (_exit), or a termination signal comes.
TEST_F(BatchCommitTest, StoppedAtAnyPointEachLevelIsWhollyOldOrNew) {
  using S = TStoreStep;
  const struct {
    const char* what;
    std::vector<std::string> options;
    S step;
    int time;     // stop when step comes for this time (1 = the first)
    bool signal;  // SIGTERM instead of the process's end
    bool named;   // temporary files with a name from the start
    int wet;      // levels new afterwards (-1: any number)
  } rows[] = {
      {"after two temporary files", {"-j", "1"}, S::CreateUnnamed, 3, false, false, 0},
      {"after two named temporary files", {"-j", "1"}, S::Create, 3, false, true, 0},
      {"after the flushes", {"-j", "1"}, S::Rename, 1, false, false, 0},
      {"after two renames", {"-j", "1"}, S::Rename, 3, false, false, 2},
      {"after two renames, named, with backups", {"-j", "2", "--backup"}, S::Rename, 3, false, true, 2},
      {"during the folder's flush", {"-j", "2", "--backup"}, S::SyncFolder, 1, false, false, kLevels},
      // The signal waits for the rename under way: the third level is saved too.
      {"a signal at the third rename, named, with backups", {"-j", "2", "--backup"}, S::Rename, 3, true, true, 3},
      {"a signal during the flushes", {"-j", "2", "--backup"}, S::Sync, 2, true, true, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    WriteLevels();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The notes a signal writes go nowhere.
      ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
      static std::atomic<int> seen{0};
      qm::GStoreFaultHook = [&row](TStoreStep step, int64_t) {
        if (step == row.step && ++seen == row.time) {
          if (!row.signal) ::_exit(9);
          ::raise(SIGTERM);
        }
        return row.named && step == S::CreateUnnamed ? EOPNOTSUPP : 0;
      };
      qm::TStringConsole console;
      qm::RunTool(Args(row.options), console);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (row.signal) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << status;
    }
    if (row.wet >= 0) {
      EXPECT_EQ(NewLevels(), row.wet);
    }
    const std::vector<std::string> left = Others();
    // A signal removes every hidden file; an end without one leaves at most
    // hidden files beside the levels, never a level's name in a wrong state.
    if (row.signal) {
      EXPECT_EQ(left, std::vector<std::string>{});
    }
    for (const std::string& name : left) EXPECT_NE(name.find(".qmtmp"), std::string::npos) << name;
    // The next run edits the levels that were not saved, and removes what the
    // stopped run left.
    qm::TStringConsole console;
    EXPECT_EQ(qm::RunTool(Args({"-q"}), console), 0) << console.Text;
    EXPECT_EQ(NewLevels(), kLevels);
    EXPECT_EQ(Others(), std::vector<std::string>{});
  }
}

// A flush that fails: its level is not renamed and says why, the others are
// saved; when every flush fails, no level is renamed.
TEST_F(BatchCommitTest, ALevelWhoseFlushFailedIsNotRenamed) {
  const struct {
    const char* what;
    std::vector<std::string> options;
    int failing;  // the flush that fails (1 = the first); 0: all of them
    int wet;
  } rows[] = {
      {"one flush of -j 1", {"-j", "1"}, 2, kLevels - 1},
      {"one flush of -j 2, with backups", {"-j", "2", "--backup"}, 4, kLevels - 1},
      {"every flush", {"-j", "2"}, 0, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    WriteLevels();
    for (const Level& l : levels_) fs::remove(dir_ / (l.name + ".bak"));
    std::atomic<int> flushes{0};
    qm::GStoreFaultHook = [&](TStoreStep step, int64_t) {
      if (step != TStoreStep::Sync) return 0;
      const int n = ++flushes;
      return row.failing == 0 || n == row.failing ? EIO : 0;
    };
    qm::TStringConsole console;
    EXPECT_EQ(qm::RunTool(Args(row.options), console), 1);
    qm::GStoreFaultHook = nullptr;
    EXPECT_EQ(NewLevels(), row.wet);
    EXPECT_EQ(Others(), std::vector<std::string>{});
    // Each level that stayed old reports the flush's failure under its name,
    // and has no backup (none was made by a save that did not happen).
    for (const Level& l : levels_) {
      const bool old = ReadBytes(dir_ / l.name) == l.dry;
      const size_t at = console.Text.find("== " + (dir_ / l.name).string() + " ==");
      ASSERT_NE(at, std::string::npos);
      const size_t next = console.Text.find("== ", at + 3);
      const std::string part = console.Text.substr(at, next == std::string::npos ? std::string::npos : next - at);
      EXPECT_EQ(part.find("I/O error 5.") != std::string::npos, old) << part;
      EXPECT_EQ(part.find("Done.") != std::string::npos, !old) << part;
      EXPECT_EQ(fs::exists(dir_ / (l.name + ".bak")), !old && row.options.back() == "--backup");
    }
  }
}

// The calls themselves: every file flushed before the first rename, each file
// renamed once, the folder flushed once, after the last rename.
TEST_F(BatchCommitTest, AllFilesAreFlushedBeforeTheFirstRenameAndTheFolderOnceAfterTheLast) {
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"-j", "1"}, {"-j", "2"}, {"-j", "2", "--backup"}}) {
    SCOPED_TRACE(options.back());
    WriteLevels();
    std::mutex turn;
    std::vector<TStoreStep> calls;
    qm::GStoreCallObserver = [&](TStoreStep step, int) {
      std::lock_guard<std::mutex> lock(turn);
      if (step == TStoreStep::Sync || step == TStoreStep::Rename || step == TStoreStep::SyncFolder)
        calls.push_back(step);
    };
    qm::TStringConsole console;
    EXPECT_EQ(qm::RunTool(Args(options), console), 0);
    qm::GStoreCallObserver = nullptr;
    std::vector<TStoreStep> expected(kLevels, TStoreStep::Sync);
    expected.insert(expected.end(), kLevels, TStoreStep::Rename);
    expected.push_back(TStoreStep::SyncFolder);
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(NewLevels(), kLevels);
  }
}

}  // namespace

namespace {

// The next edit of a level removes the hidden files that killed runs left
// beside it, and only those: a temporary file that a running store holds
// locked stays, as does every name that merely looks alike.
TEST(BatchCommit, TheNextEditRemovesWhatKilledRunsLeft) {
  ScratchDir scratch;
  const fs::path dir = scratch.path;
  BLevel dry = SampleLevel(5, 3);
  WriteBytes(dir / "a.tr2", Build(dry));
  const struct {
    std::string name;
    bool link;    // a second name of the level (a backup's hidden name), else a file of its own
    bool locked;  // held with flock, as a running store holds its file
    bool stays;
  } rows[] = {
      {".a.tr2.qmtmpAbc123", false, false, false},
      {".a.tr2.qmtmpLocked", false, true, true},
      {".a.tr2.bak.qmtmpXyz789", true, false, false},
      {".a.tr2.bak.qmtmpCopy42", false, false, false},
      {".a.tr2.qmtmpToolong1", false, false, true},
      {".a.tr2.qmtmp-x_y.z", false, false, true},
      {".b.tr2.qmtmpAbc123", false, false, true},
  };
  std::vector<int> held;
  for (const auto& row : rows) {
    if (row.link) fs::create_hard_link(dir / "a.tr2", dir / row.name);
    else WriteBytes(dir / row.name, Bytes(10, 1));
    if (row.locked) {
      held.push_back(::open((dir / row.name).c_str(), O_RDONLY));
      ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
    }
  }
  qm::TStringConsole console;
  EXPECT_EQ(qm::RunTool({"-q", (dir / "a.tr2").string(), "/Water", "1"}, console), 0) << console.Text;
  for (const auto& row : rows) EXPECT_EQ(fs::exists(dir / row.name), row.stays) << row.name;
  for (int fd : held) ::close(fd);
}

}  // namespace
