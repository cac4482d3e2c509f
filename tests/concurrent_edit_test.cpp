// Edits of one level running at the same time, through the real binary: each
// edit waits for the one before it and then works on its result, so every
// run succeeds and no change is lost. A run that only reads never waits.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "binary_run.h"
#include "lock.h"
#include "platform.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

const std::string kWaiting = "Waiting for another edit of this level to finish...";

bool StillRunning(pid_t pid) {
  int raw = 0;
  return waitpid(pid, &raw, WNOHANG) == 0;
}

std::string Text(const fs::path& file) {
  const Bytes b = ReadBytes(file);
  return std::string(b.begin(), b.end());
}

// Waits until the file holds text (at most a minute, as FinishBinary).
bool AppearsIn(const fs::path& file, const std::string& text) {
  for (int i = 0; i < 6000; ++i) {
    if (Text(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Three rooms with no flags set and no light, so every edit below shows.
BLevel Plain() {
  BLevel L = SampleLevel(3, 5);
  for (BRoom& r : L.rooms) r.flags = {0, 0}, r.ambient = {0, 0};
  return L;
}

// An exclusive lock on a file, as another run of the tool holds it.
struct HeldLock {
  explicit HeldLock(const fs::path& p) : fd(open(p.c_str(), O_RDONLY | O_CLOEXEC)) { EXPECT_EQ(flock(fd, LOCK_EX), 0); }
  ~HeldLock() { Release(); }
  void Release() { close(std::exchange(fd, -1)); }
  int fd;
};

class ConcurrentEditTest : public ::testing::Test {
protected:
  MemoryScratchDir scratch_;
  const fs::path level_ = scratch_.path / "lvl.tr2";
};

TEST_F(ConcurrentEditTest, SimultaneousEditsOfDifferentRoomsAllLand) {
  const struct {
    std::vector<std::vector<std::string>> edits;  // started together
    void (*change)(BLevel&);                      // what they do together
    int rounds;                                   // per order of start (200 pairs, 50 triples)
  } rows[] = {
      {{{"/Water", "1", "1", "1"}, {"/Sky", "1", "2", "2"}},
       [](BLevel& L) { L.rooms[1].flags[0] = 0x01, L.rooms[2].flags[0] = 0x08; }, 50},
      {{{"/Lara_Light", "20", "0", "0"}, {"/Lara_Light", "7", "2", "2"}},
       [](BLevel& L) { L.rooms[0].ambient[1] = 20, L.rooms[2].ambient[1] = 7; }, 50},
      // A third edit can start after the first has replaced the level while
      // the second still waits on the lock of the replaced file.
      {{{"/Sky", "1", "0", "0"}, {"/Water", "1", "1", "1"}, {"/Lara_Light", "9", "2", "2"}},
       [](BLevel& L) { L.rooms[0].flags[0] = 0x08, L.rooms[1].flags[0] = 0x01, L.rooms[2].ambient[1] = 9; }, 25},
  };
  const Bytes before = Build(Plain());
  for (const auto& row : rows) {
    BLevel L = Plain();
    row.change(L);
    const Bytes expected = Build(L);
    for (const bool reversed : {false, true}) {
      std::vector<std::vector<std::string>> edits = row.edits;
      if (reversed) std::reverse(edits.begin(), edits.end());
      SCOPED_TRACE(edits[0][0] + " on room " + edits[0][2] + " started first");
      for (auto& e : edits) e.insert(e.begin(), level_.string());
      int failedRuns = 0, lostChanges = 0, silentLosses = 0;
      for (int round = 0; round < row.rounds; ++round) {
        WriteBytes(level_, before);
        std::vector<pid_t> runs;
        for (const auto& e : edits) runs.push_back(StartBinary(e));
        int failed = 0;
        for (const pid_t pid : runs) failed += FinishBinary(pid) != 0;
        const bool lost = ReadBytes(level_) != expected;
        failedRuns += failed;
        lostChanges += lost;
        silentLosses += lost && failed == 0;
      }
      EXPECT_EQ(failedRuns, 0) << "runs that did not end with exit status 0, of " << row.rounds * edits.size();
      EXPECT_EQ(lostChanges, 0) << "rounds whose final level lacks a change, of " << row.rounds;
      EXPECT_EQ(silentLosses, 0) << "rounds that lost a change although every run said it was done, of " << row.rounds;
    }
  }
}

// Two edits, one of them through a symbolic link: the lock belongs to the
// file, whatever name leads to it.
TEST_F(ConcurrentEditTest, EditsWaitForTheLockHolderAndSaySoOnce) {
  const BLevel L = Plain();
  WriteBytes(level_, Build(L));
  const fs::path link = scratch_.path / "link.tr2";
  fs::create_symlink(level_.filename(), link);
  const struct {
    fs::path level;
    std::vector<std::string> args;
    std::string progress;
  } rows[] = {{level_, {"/Water", "1", "1", "1"}, "Turning On/Off the water..."},
              {link, {"/Sky", "1", "2", "2"}, "Turning On/Off the Sky..."}};
  HeldLock holder(level_);
  std::vector<pid_t> edits;
  for (size_t i = 0; i < std::size(rows); ++i) {
    std::vector<std::string> args = rows[i].args;
    args.insert(args.begin(), rows[i].level.string());
    const fs::path out = scratch_.path / ("edit" + std::to_string(i));
    edits.push_back(StartBinary(args, out.string(), out.string() + ".err"));
    ASSERT_GT(edits.back(), 0);
  }

  // Runs that only read go on while the level is locked.
  for (const char* reading : {"/Info", "/ShowRooms", "/ShowItems"})
    EXPECT_EQ(FinishBinary(StartBinary({level_.string(), reading})), 0) << reading;

  for (size_t i = 0; i < std::size(rows); ++i) {
    ASSERT_TRUE(AppearsIn(scratch_.path / ("edit" + std::to_string(i)), kWaiting)) << rows[i].args[0];
    EXPECT_TRUE(StillRunning(edits[i])) << rows[i].args[0] << " did not wait for the lock";
  }
  EXPECT_EQ(ReadBytes(level_), Build(L)) << "the level changed while another run held its lock";

  holder.Release();
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].args[0]);
    EXPECT_EQ(FinishBinary(edits[i]), 0);
    const fs::path out = scratch_.path / ("edit" + std::to_string(i));
    EXPECT_EQ(Text(out), kBanner + Lines({kWaiting, "Loading Level...", rows[i].progress, "Saving the level...",
                                          "Done."}));
    EXPECT_EQ(Text(out.string() + ".err"), "");
  }
  BLevel edited = L;
  edited.rooms[1].flags[0] = 0x01;
  edited.rooms[2].flags[0] = 0x08;
  EXPECT_EQ(ReadBytes(level_), Build(edited));
  EXPECT_TRUE(fs::is_symlink(link));
}

// A name that leads to no regular file is not locked, and opening it for the
// lock does not wait for a writer: loading refuses it as it always has.
TEST_F(ConcurrentEditTest, AFifoIsRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo(level_.c_str(), 0644), 0);
  const fs::path out = scratch_.path / "edit.out";
  EXPECT_EQ(FinishBinary(StartBinary({level_.string(), "/Water", "1"}, out.string())), 1);
  EXPECT_EQ(Text(out), kBanner + Lines({"Loading Level...", "File access denied.",
                                        "opening " + level_.string() + ", which is not a regular file"}));
}

// The lock holder saves by renaming a new file over the level before it lets
// go, as a run of the tool does. The waiting edit must then take the lock of
// the new file, and so wait for that file's holder too, and load its last
// content: not go ahead on the lock of a file that is no longer the level.
TEST_F(ConcurrentEditTest, AnEditWaitsForTheFileThatReplacedTheLockedOne) {
  const BLevel L = Plain();
  WriteBytes(level_, Build(L));
  const fs::path out = scratch_.path / "edit.out";
  HeldLock oldFile(level_);
  const pid_t edit = StartBinary({level_.string(), "/Water", "1", "1", "1"}, out.string());
  ASSERT_GT(edit, 0);
  ASSERT_TRUE(AppearsIn(out, kWaiting));

  // A first replacement, locked by its writer, takes the name; the old file's
  // lock goes. The writer then saves its change over it and lets go.
  const fs::path next = scratch_.path / "next.tr2", last = scratch_.path / "last.tr2";
  WriteBytes(next, Build(L));
  HeldLock newFile(next);
  fs::rename(next, level_);
  oldFile.Release();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // gives a faulty edit time to go ahead
  BLevel saved = L;
  saved.rooms[2].flags[0] = 0x08;
  WriteBytes(last, Build(saved));
  fs::rename(last, level_);
  newFile.Release();

  EXPECT_EQ(FinishBinary(edit), 0);
  EXPECT_EQ(Text(out),
            kBanner + Lines({kWaiting, "Loading Level...", "Turning On/Off the water...", "Saving the level...",
                             "Done."}));
  saved.rooms[1].flags[0] = 0x01;
  EXPECT_EQ(ReadBytes(level_), Build(saved));
}


// A file system that cannot lock (the lock call fails with ENOLCK or
// EOPNOTSUPP): the edit goes on unlocked after one attempt, and the check for
// a level changed on disk still guards its save. Runs in a child process,
// which is ended should it wait for the lock.
TEST_F(ConcurrentEditTest, WithoutLocksAnEditGoesOnAndTheLostUpdateCheckHolds) {
  const BLevel L = Plain();
  BLevel wet = L;
  wet.rooms[1].flags[0] = 0x01;
  const Bytes theirs(99, 7);  // another program's save, while the edit writes
  const struct {
    int error;
    bool savedMeanwhile;
    int status;
  } rows[] = {{ENOLCK, false, 0}, {ENOLCK, true, 1}, {EOPNOTSUPP, false, 0}, {EOPNOTSUPP, true, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(strerror(row.error)) + (row.savedMeanwhile ? ", saved meanwhile" : ""));
    WriteBytes(level_, Build(L));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int attempts = 0;
      qm::GLockFaultHook = [&] { return ++attempts, row.error; };
      qm::GStoreFaultHook = [&](qm::TStoreStep step, int64_t) {
        if (row.savedMeanwhile && step == qm::TStoreStep::Close) WriteBytes(level_, theirs);
        return 0;
      };
      qm::TStringConsole console;
      const int status = qm::RunTool({level_.string(), "/Water", "1", "1", "1"}, console);
      _exit(attempts == 1 ? status : 100 + std::min(attempts, 99));
    }
    int raw = 0;
    for (int i = 0; i < 1000 && waitpid(child, &raw, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (kill(child, SIGKILL) == 0) {
      waitpid(child, &raw, 0);
      ADD_FAILURE() << "the edit waited for a lock that cannot be taken";
    }
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == row.status) << raw;
    EXPECT_EQ(ReadBytes(level_), row.savedMeanwhile ? theirs : Build(wet));
  }
}

}  // namespace

namespace {

// The refusal that ends a run after a long wait for the lock is its JSON
// error, whole: the notice of the wait is no part of it.
TEST_F(ConcurrentEditTest, TheJsonErrorAfterALockWaitIsTheRefusal) {
  WriteBytes(level_, Bytes(300, 'j'));
  const fs::path out = scratch_.path / "edit.out";
  HeldLock other(level_);
  const pid_t edit = StartBinary({"--json", level_.string(), "/Water", "1"}, out.string());
  ASSERT_GT(edit, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(qm::EditLockNoticeMs + 500));
  other.Release();
  EXPECT_EQ(FinishBinary(edit), 2);
  const nlohmann::json document = nlohmann::json::parse(Text(out), nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << Text(out);
  EXPECT_EQ(document["levels"][0]["error"], nlohmann::json({{"message", "Invalid tr level format."}}));
}

}  // namespace

namespace {

// With --jobs the first level not yet shown writes its lines as it works, and
// a later level that waits for its lock says so at once, marked with its name.
TEST_F(ConcurrentEditTest, JobsShowTheHeadLevelAndEveryLockWaitAsTheyHappen) {
  BLevel L = Plain();
  const Bytes dry = Build(L);
  for (BRoom& r : L.rooms) r.flags[0] = 0x01;
  const Bytes wet = Build(L);
  const std::string a = (scratch_.path / "a.tr2").string(), b = (scratch_.path / "b.tr2").string();
  const fs::path out = scratch_.path / "run.out";
  const std::string edit = "Turning On/Off the water...", bNotice = b + ": " + kWaiting;
  const std::string aLines = Lines({"== " + a + " ==", kWaiting, "Loading Level...", edit, "Saving the level...", "Done."});
  const std::string bLines = Lines({"== " + b + " ==", "Loading Level...", edit, "Saving the level...", "Done."});
  for (const bool bLocked : {false, true}) {
    SCOPED_TRACE(bLocked ? "both levels locked" : "the first level locked");
    WriteBytes(a, dry);
    WriteBytes(b, dry);
    HeldLock aLock(a);
    std::optional<HeldLock> bLock;
    if (bLocked) bLock.emplace(b);
    const pid_t run = StartBinary({"--jobs", "2", a, b, "/Water", "1"}, out.string());
    ASSERT_GT(run, 0);
    // The two notices come at the same moment, in either order.
    ASSERT_TRUE(AppearsIn(out, kBanner + Lines({"== " + a + " =="}))) << Text(out);
    ASSERT_TRUE(AppearsIn(out, "\n" + Lines({kWaiting}))) << Text(out);
    if (bLocked) {
      EXPECT_TRUE(AppearsIn(out, bNotice)) << Text(out);
    } else {
      for (int i = 0; i < 1000 && ReadBytes(b) != wet; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EXPECT_EQ(ReadBytes(b), wet) << "the second level waited for the first";
    }
    EXPECT_EQ(Text(out).find("== " + b + " =="), std::string::npos) << "a later level's lines came first";
    aLock.Release();
    bLock.reset();
    EXPECT_EQ(FinishBinary(run), 0);
    std::string shown = Text(out);
    const std::string notice = Lines({bNotice});
    if (bLocked && shown.find(notice) != std::string::npos) shown.erase(shown.find(notice), notice.size());
    EXPECT_EQ(shown, kBanner + aLines + bLines);
    if (bLocked) {
      EXPECT_LT(Text(out).find(notice), Text(out).find("Loading Level...")) << "the notice came late";
    }
    EXPECT_EQ(ReadBytes(a), wet);
    EXPECT_EQ(ReadBytes(b), wet);
  }
}

}  // namespace
