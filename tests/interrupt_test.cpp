// Runs ended by a signal at any moment, with levels worked on side by side:
// no hidden file is left, an older backup goes only with a save that
// happened, and the output names every level that was saved.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "binary_run.h"
#include "platform.h"
#include "tool_test_support.h"

using namespace qmtest;

namespace {

using TClock = std::chrono::steady_clock;

const Bytes kOlder(10, 'o');  // an older backup

class InterruptTest : public ::testing::Test {
protected:
  // Levels with the water clear in every room, each with an older backup.
  void WriteLevels(int count) {
    names_.clear();
    for (int i = 0; i < count; ++i) {
      if (originals_.size() <= size_t(i)) {
        BLevel L = SampleLevel(1 + i % 7, unsigned(i));
        for (BRoom& r : L.rooms) r.flags[0] &= 0xFE;
        originals_.push_back(Build(L));
      }
      names_.push_back((dir_ / ("l" + std::to_string(10 + i) + FileExtension(KindFromInt(1 + i % 7)))).string());
      WriteBytes(names_.back(), originals_[size_t(i)]);
      WriteBytes(names_.back() + ".bak", kOlder);
    }
  }

  std::vector<std::string> Args(bool backup) const {
    // Eight levels side by side save in groups of 16: a run commits often.
    std::vector<std::string> args = {"-q", "--jobs", "8"};
    if (backup) args.push_back("--backup");
    args.insert(args.end(), names_.begin(), names_.end());
    args.insert(args.end(), {"/Water", "1"});
    return args;
  }

  // The hidden files in the folder. Uses only calls that are safe in a forked child.
  int HiddenFiles() const {
    int found = 0;
    if (DIR* d = ::opendir(dir_.c_str())) {
      while (const dirent* e = ::readdir(d)) found += std::strstr(e->d_name, "qmtmp") != nullptr;
      ::closedir(d);
    }
    return found;
  }

  // After a run that a signal ended: the levels saved are exactly those the
  // output names, each backup is the older one or, for a saved level, the
  // level as it was loaded; returns how many were saved.
  int CheckSavedAndNamed(const std::string& out, bool backup) {
    int saved = 0;
    for (size_t i = 0; i < names_.size(); ++i) {
      SCOPED_TRACE(names_[i]);
      const bool changed = ReadBytes(names_[i]) != originals_[i];
      saved += changed;
      // A level is named by its note, or by its "Done." when the signal came
      // after the run had shown it (as the process was ending).
      const bool named = out.find("Interrupted: " + names_[i] + " was saved.\r\n") != std::string::npos ||
                         out.find("== " + names_[i] + " ==\r\nDone.\r\n") != std::string::npos;
      EXPECT_EQ(named, changed);
      const Bytes bak = ReadBytes(names_[i] + ".bak");
      EXPECT_TRUE(bak == (backup && changed ? originals_[i] : kOlder));
    }
    return saved;
  }

  MemoryScratchDir scratch_;
  const fs::path dir_ = scratch_.path;
  std::vector<std::string> names_;
  std::vector<Bytes> originals_;
};

// The real program, killed at moments spread over the length of a whole run.
// The run saves its levels in groups, committed as each group is done: with
// several groups, some kills come after a group's saves.
TEST_F(InterruptTest, ARunKilledAtAnyMomentLeavesNoHiddenFileAndNamesTheSavedLevels) {
  constexpr int Levels = 72, Kills = 16;
  const std::string out = (dir_ / "run.out").string();
  for (const bool backup : {false, true}) {
    for (const int sig : {SIGTERM, SIGINT}) {
      WriteLevels(Levels);
      const TClock::time_point started = TClock::now();
      ASSERT_EQ(FinishBinary(StartBinary(Args(backup))), 0);
      const auto whole = TClock::now() - started;
      int killed = 0, left = 0, saved = 0;
      for (int k = 0; k < Kills; ++k) {
        SCOPED_TRACE(std::string(backup ? "--backup, " : "") + "signal " + std::to_string(sig) + ", kill " +
                     std::to_string(k));
        WriteLevels(Levels);
        const pid_t pid = StartBinary(Args(backup), out);
        ASSERT_GT(pid, 0);
        // Spread a little beyond the run's length: a loaded machine makes some
        // runs slower than the first, and the saves come with each group's end.
        std::this_thread::sleep_for(whole * k * 3 / (2 * Kills));
        ::kill(pid, sig);
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        const std::string text = [&] { const Bytes b = ReadBytes(out); return std::string(b.begin(), b.end()); }();
        fs::remove(out);
        left += HiddenFiles();
        if (WIFSIGNALED(raw)) {
          EXPECT_EQ(WTERMSIG(raw), sig);
          ++killed;
          saved += CheckSavedAndNamed(text, backup);
        }
      }
      EXPECT_EQ(left, 0) << "hidden files left by " << Kills << " runs";
      EXPECT_GT(killed, 0);
      EXPECT_GT(saved, 0) << "no kill came after a save";
    }
  }
}

// A store held up after its hidden name was made and before it was recorded
// (the seam sleeps there, on one thread of two) while the signal comes to
// another thread: the handler waits for the name to be recorded and removes
// it. Runs in a child process, whose standard output is a file.
TEST_F(InterruptTest, ASignalOnAnotherThreadWaitsForTheNameToBeRecorded) {
  const fs::path out = dir_ / "child.out";
  for (const bool backup : {false, true}) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
      SCOPED_TRACE(std::string(backup ? "the backup's hidden name, " : "the level's hidden name, ") + "signal " +
                   std::to_string(sig));
      WriteLevels(8);
      fs::remove(out);
      for (const auto& e : fs::directory_iterator(dir_))
        if (e.path().filename().string().find("qmtmp") != std::string::npos) fs::remove(e.path());
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        const qm::TInterruptHandling handling;  // as the program holds it
        std::atomic<bool> held{false};
        qm::GStoreFaultHook = [&](qm::TStoreStep step, int64_t) {
          if (step == qm::TStoreStep::Record && !held.exchange(true)) ::usleep(200000);
          return 0;
        };
        qm::TStringConsole console;
        qm::RunTool(Args(backup), console);
        ::_exit(0);
      }
      // The name is made, and the seam holds its store.
      for (int i = 0; i < 5000 && HiddenFiles() == 0; ++i) ::usleep(100);
      EXPECT_GE(HiddenFiles(), 1);
      ::kill(child, sig);
      int raw = 0;
      ASSERT_EQ(::waitpid(child, &raw, 0), child);
      EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == sig) << raw;
      EXPECT_EQ(HiddenFiles(), 0);
      const Bytes text = ReadBytes(out);
      CheckSavedAndNamed(std::string(text.begin(), text.end()), backup);
    }
  }
}

}  // namespace
