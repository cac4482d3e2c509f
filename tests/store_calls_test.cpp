// The system calls a store makes, as the observing seam sees them, and the
// process state a store must give back: signal dispositions and mask.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "store_test_support.h"

namespace qmtest {
namespace {

using qm::TStoreStep;

// One observed call: its step and what its descriptor was open on.
struct Call {
    TStoreStep step;
    ino_t inode = 0;
    bool folder = false;
};

class StoreCallTest : public StoreTest {
protected:
    void TearDown() override {
        qm::GStoreCallObserver = nullptr;
        StoreTest::TearDown();
    }

    std::vector<Call> CallsOf(const std::string& path, bool named) {
        std::vector<Call> calls;
        qm::GStoreCallObserver = [&](TStoreStep step, int fd) {
            struct stat st {};
            EXPECT_EQ(::fstat(fd, &st), 0) << "step " << int(step);
            calls.push_back({step, st.st_ino, S_ISDIR(st.st_mode)});
        };
        qm::GStoreFaultHook = [&](TStoreStep step, int64_t) { return named ? RefuseUnnamed(step) : 0; };
        Store(path, Iota(3 << 20, 1));
        qm::GStoreCallObserver = nullptr;
        qm::GStoreFaultHook = nullptr;
        return calls;
    }
};

// The new file is flushed (fsync on its own descriptor) after its last write
// and before it takes the level's name, and the folder is flushed after the
// rename, so a power cut leaves the old level or the complete new one.
TEST_F(StoreCallTest, TheFileIsFlushedBeforeTheRenameAndTheFolderAfterIt) {
    const struct {
        const char* what;
        bool named, exists;
    } rows[] = {{"unnamed, replacing", false, true}, {"unnamed, new", false, false}, {"named, replacing", true, true}};
    const bool unnamedWorks = UnnamedFilesWork();
    struct stat folder {};
    ASSERT_EQ(::stat(dir_.c_str(), &folder), 0);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.named && !unnamedWorks)
            continue;
        const std::string path = PathOf("level.bin");
        fs::remove(path);
        if (row.exists)
            WriteBytes(path, Iota(10));
        const std::vector<Call> calls = CallsOf(path, row.named);
        struct stat stored {};
        ASSERT_EQ(::stat(path.c_str(), &stored), 0);
        auto last = [&](TStoreStep step) {
            for (size_t i = calls.size(); i-- > 0;)
                if (calls[i].step == step)
                    return i;
            return calls.size();
        };
        const size_t sync = last(TStoreStep::Sync), rename = last(TStoreStep::Rename);
        const size_t syncFolder = last(TStoreStep::SyncFolder), write = last(TStoreStep::Write);
        ASSERT_LT(sync, calls.size()) << "the new file was never flushed";
        ASSERT_LT(rename, calls.size());
        ASSERT_LT(syncFolder, calls.size()) << "the folder was never flushed";
        EXPECT_EQ(calls[sync].inode, stored.st_ino) << "another file was flushed";
        EXPECT_FALSE(calls[sync].folder);
        EXPECT_EQ(calls[write].inode, stored.st_ino);
        EXPECT_LT(write, sync);
        EXPECT_LT(sync, rename);
        EXPECT_LT(rename, syncFolder);
        EXPECT_TRUE(calls[syncFolder].folder);
        EXPECT_EQ(calls[syncFolder].inode, folder.st_ino);
        EXPECT_EQ(ReadBytes(path), Iota(3 << 20, 1));
    }
}

// A process that saved once (or twice) and is then interrupted ends as it
// would have without the save: the store gives back the dispositions of the
// signals it handles or ignores meanwhile, and its signal mask. Runs in a
// child process whose exit code names the first difference.
TEST_F(StoreCallTest, AStoreGivesBackTheSignalDispositionsAndMask) {
    const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
    const std::string first = PathOf("a.bin"), second = PathOf("b.bin");
    WriteBytes(first, Iota(10));
    for (const int stores : {1, 2}) {
        SCOPED_TRACE(std::to_string(stores) + " stores");
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The defaults, and a handler of the caller's own, which stays in
            // place as well.
            for (int sig : signals)
                ::signal(sig, SIG_DFL);
            ::signal(SIGHUP, [](int) { ::_exit(9); });
            struct sigaction before[4] {};
            for (int i = 0; i < 4; ++i)
                ::sigaction(signals[i], nullptr, &before[i]);
            sigset_t maskBefore;
            ::sigprocmask(SIG_SETMASK, nullptr, &maskBefore);
            try {
                Store(first, Iota(50, 1));
                if (stores == 2)
                    Store(second, Iota(60, 2));
            } catch (...) {
                ::_exit(3);
            }
            for (int i = 0; i < 4; ++i) {
                struct sigaction after {};
                ::sigaction(signals[i], nullptr, &after);
                if (after.sa_handler != before[i].sa_handler)
                    ::_exit(10 + i);
            }
            sigset_t maskAfter;
            ::sigprocmask(SIG_SETMASK, nullptr, &maskAfter);
            for (int sig : signals)
                if (::sigismember(&maskAfter, sig) != ::sigismember(&maskBefore, sig))
                    ::_exit(20);
            ::raise(SIGTERM);
            ::_exit(5); // SIGTERM did not end the process
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
            << (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status)) : "another signal");
        EXPECT_EQ(ReadBytes(first), Iota(50, 1));
    }
}

} // namespace
} // namespace qmtest
