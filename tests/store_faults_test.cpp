// Failures during the crash-safe store: each failing step, a signal in the
// middle of a store, and a level that another program changed meanwhile. In
// every case the original stays byte for byte and no temporary file is left.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <utility>

#include "store_test_support.h"
#include "trlevel.h"

namespace qmtest {
namespace {

using qm::TStoreStep;
constexpr bool Unnamed = true, Named = false;

// Whether dir holds a hidden temporary file of level.bin. Uses only calls that
// are safe in a forked child.
bool HasHiddenTemporary(const char* dir) {
    DIR* d = ::opendir(dir);
    bool found = false;
    while (d != nullptr && !found) {
        const dirent* e = ::readdir(d);
        if (e == nullptr)
            break;
        found = std::strncmp(e->d_name, ".level.bin.qmtmp", 16) == 0;
    }
    if (d != nullptr)
        ::closedir(d);
    return found;
}

class StoreFaultTest : public StoreTest {
protected:
    // The steps one store takes, a run of writes counted as one.
    std::vector<TStoreStep> StepsOf(const std::string& path, const Bytes& content, bool unnamed, int* writes) {
        std::vector<TStoreStep> steps;
        *writes = 0;
        qm::GStoreFaultHook = [&](TStoreStep step, int64_t) {
            *writes += step == TStoreStep::Write;
            if (steps.empty() || steps.back() != step || step != TStoreStep::Write)
                steps.push_back(step);
            return unnamed ? 0 : RefuseUnnamed(step);
        };
        Store(path, content);
        qm::GStoreFaultHook = nullptr;
        return steps;
    }
};

TEST_F(StoreFaultTest, StepsComeInOrderAndTheFileIsFlushedBeforeItTakesTheName) {
    using S = TStoreStep;
    const Bytes content = Iota((5 << 20) / 2); // two and a half write pieces
    const struct {
        const char* what;
        bool unnamed, exists;
        std::vector<S> steps;
    } rows[] = {
        {"unnamed, replacing", Unnamed, true,
         {S::CreateUnnamed, S::Write, S::Chown, S::Chmod, S::Sync, S::Link, S::Record, S::Close, S::Rename,
          S::SyncFolder}},
        {"unnamed, new file", Unnamed, false,
         {S::CreateUnnamed, S::Write, S::Chmod, S::Sync, S::Link, S::Record, S::Close, S::Rename, S::SyncFolder}},
        {"named, replacing", Named, true,
         {S::CreateUnnamed, S::Create, S::Record, S::Write, S::Chown, S::Chmod, S::Sync, S::Close, S::Rename,
          S::SyncFolder}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.unnamed && !UnnamedFilesWork())
            continue;
        const std::string path = PathOf("level.bin");
        fs::remove(path);
        if (row.exists)
            WriteBytes(path, {1});
        int writes = 0;
        EXPECT_EQ(StepsOf(path, content, row.unnamed, &writes), row.steps);
        EXPECT_EQ(writes, 3);
        EXPECT_EQ(ReadBytes(path), content);
        EXPECT_EQ(Entries(dir_), std::vector<std::string>{"level.bin"});
    }
}

TEST_F(StoreFaultTest, AFailureAtAnyStepLeavesTheOriginalAndNoTemporaryFile) {
    using S = TStoreStep;
    using E = qm::EInOutError;
    const std::string hidden = PathOf(".level.bin.qmtmp");
    const std::string unnamed = "a temporary file in " + dir_.string();
    const struct {
        bool unnamed;
        S step;
        int error, code;
        const char* message;
        std::string place; // the start of the report's place line
    } rows[] = {
        {Named, S::Create, EACCES, E::AccessDenied, "File access denied",
         "creating a temporary file in " + dir_.string()},
        {Unnamed, S::Write, ENOSPC, E::DiskFull, "Disk full", "writing " + unnamed},
        {Named, S::Write, EIO, EIO, "I/O error 5", "writing " + hidden},
        {Unnamed, S::Chmod, EPERM, E::AccessDenied, "File access denied", "setting the permissions of " + unnamed},
        {Named, S::Chmod, EROFS, E::AccessDenied, "File access denied", "setting the permissions of " + hidden},
        {Unnamed, S::Sync, EIO, EIO, "I/O error 5", "flushing " + unnamed + " to disk"},
        {Named, S::Sync, ENOSPC, E::DiskFull, "Disk full", "flushing " + hidden},
        {Unnamed, S::Link, EMLINK, EMLINK, "I/O error 31", "naming the temporary file in " + dir_.string()},
        {Unnamed, S::Close, EDQUOT, E::DiskFull, "Disk full", "closing " + hidden},
        {Named, S::Close, EIO, EIO, "I/O error 5", "closing " + hidden},
        {Unnamed, S::Rename, EXDEV, EXDEV, "I/O error 18", "replacing " + PathOf("level.bin")},
        {Named, S::Rename, EBUSY, EBUSY, "I/O error 16", "replacing " + PathOf("level.bin")},
    };
    const bool unnamedWorks = UnnamedFilesWork();
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.unnamed ? "unnamed, " : "named, ") + "step " + std::to_string(int(row.step)));
        if (row.unnamed && !unnamedWorks)
            continue;
        const std::string path = PathOf("level.bin");
        const Bytes original = Iota(5000);
        WriteBytes(path, original);
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
        bool failed = false;
        // A write fails in the middle of the file, after two pieces went out.
        qm::GStoreFaultHook = [&](TStoreStep step, int64_t written) {
            if (step == row.step && !failed && (step != S::Write || written >= (2 << 20))) {
                failed = true;
                return row.error;
            }
            return row.unnamed ? 0 : RefuseUnnamed(step);
        };
        try {
            Store(path, Iota(3 << 20, 7));
            ADD_FAILURE() << "stored";
        } catch (const qm::EInOutError& e) {
            EXPECT_EQ(e.Code, row.code);
            EXPECT_STREQ(e.what(), row.message);
            EXPECT_EQ(e.Where.substr(0, row.place.size()), row.place) << e.Where;
        }
        qm::GStoreFaultHook = nullptr;
        EXPECT_TRUE(failed);
        EXPECT_EQ(ReadBytes(path), original);
        EXPECT_EQ(ModeOf(path), 0640u);
        EXPECT_EQ(Entries(dir_), std::vector<std::string>{"level.bin"});
    }
}

TEST_F(StoreFaultTest, AFailedWriteOfAContainerReleasesTheFileRecord) {
    const std::string path = PathOf("level.bin");
    const Bytes stream = Deflate(Iota(4 << 20));
    Bytes original = {'Z', 'L', 'I', 'B'};
    for (uint32_t v : {uint32_t(stream.size()), uint32_t(4 << 20)})
        for (int i = 0; i < 4; ++i)
            original.push_back(uint8_t(v >> (8 * i)));
    original.insert(original.end(), stream.begin(), stream.end());
    WriteBytes(path, original);

    qm::TZfile f;
    qm::ZAssign(f, path);
    qm::ZReset(f, 1);
    const Bytes change(100, 0x33);
    qm::ZBlockWrite(f, change.data(), 100);
    qm::GStoreFaultHook = [](TStoreStep step, int64_t) { return step == TStoreStep::Write ? ENOSPC : 0; };
    EXPECT_THROW(qm::ZClose(f, true), qm::EInOutError);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"level.bin"});
    EXPECT_EQ(f.Size, 0);
    EXPECT_EQ(f.Capacity, 0);
    EXPECT_EQ(f.Buffer.capacity(), 0u);
}

// A child process stores over level.bin and raises the signal at the given
// step; the signal must end it, and afterwards no temporary file is left, also
// when the hidden name already existed. The level is the original, or, when
// the signal came as the name was handed over, the complete new content.
TEST_F(StoreFaultTest, AnInterruptOrTerminationSignalLeavesNoTemporaryFile) {
    using S = TStoreStep;
    const struct {
        bool unnamed;
        S step;
        bool hiddenNameExists, stored;
    } rows[] = {
        {Unnamed, S::Write, false, false}, {Unnamed, S::Close, true, false}, {Unnamed, S::Rename, true, true},
        {Named, S::Write, true, false},    {Named, S::Sync, true, false},    {Named, S::Rename, true, true},
    };
    const bool unnamedWorks = UnnamedFilesWork();
    const std::string path = PathOf("level.bin");
    const Bytes original = Iota(1000);
    for (const auto& row : rows) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
            SCOPED_TRACE(std::string(row.unnamed ? "unnamed" : "named") + ", step " + std::to_string(int(row.step)) +
                         ", signal " + std::to_string(sig));
            if (row.unnamed && !unnamedWorks)
                continue;
            WriteBytes(path, original);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                qm::GStoreFaultHook = [&](TStoreStep step, int64_t) {
                    if (step == row.step) {
                        if (HasHiddenTemporary(dir_.c_str()) != row.hiddenNameExists)
                            ::_exit(4);
                        ::raise(sig);
                    }
                    return row.unnamed ? 0 : RefuseUnnamed(step);
                };
                try {
                    Store(path, Iota(3 << 20, 9));
                } catch (...) {
                    ::_exit(3);
                }
                ::_exit(0);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFSIGNALED(status)) << "exit status " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
            EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, sig);
            EXPECT_EQ(ReadBytes(path), row.stored ? Iota(3 << 20, 9) : original);
            EXPECT_EQ(Entries(dir_), std::vector<std::string>{"level.bin"});
        }
    }
}

TEST_F(StoreFaultTest, AnIgnoredSignalStaysIgnoredAndTheStoreCompletes) {
    const std::string path = PathOf("level.bin");
    WriteBytes(path, Iota(10));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGTERM, SIG_IGN);
        qm::GStoreFaultHook = [](TStoreStep step, int64_t) {
            if (step == TStoreStep::Close)
                ::raise(SIGTERM);
            return 0;
        };
        try {
            Store(path, Iota(20, 5));
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(::signal(SIGTERM, SIG_DFL) == SIG_IGN ? 0 : 5);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadBytes(path), Iota(20, 5));
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"level.bin"});
}

// ---- lost updates ----

const char* const kChanged = "The level changed on disk while it was being edited; nothing was saved";

// Ways another program may have saved level.bin after it was loaded.
const struct {
    const char* what;
    void (*change)(const fs::path& level);
} kChanges[] = {
    {"rewritten with another length", [](const fs::path& p) { WriteBytes(p, Iota(77, 1)); }},
    {"replaced by a file of the same length",
     [](const fs::path& p) {
         WriteBytes(p.string() + ".new", Iota(ReadBytes(p).size(), 3));
         fs::rename(p.string() + ".new", p);
     }},
    {"rewritten in place, same length, another time",
     [](const fs::path& p) {
         Bytes b = ReadBytes(p);
         b[0] ^= 0xFF;
         const int fd = ::open(p.c_str(), O_WRONLY);
         ASSERT_EQ(::pwrite(fd, b.data(), 1, 0), 1);
         const timespec times[2] = {{0, UTIME_OMIT}, {1234567890, 5}};
         ASSERT_EQ(::futimens(fd, times), 0);
         ::close(fd);
     }},
    {"touched within the same second, a nanosecond apart",
     [](const fs::path& p) {
         struct stat st {};
         ASSERT_EQ(::stat(p.c_str(), &st), 0);
         const timespec times[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec, (st.st_mtim.tv_nsec + 1) % 1000000000}};
         ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
     }},
    {"removed", [](const fs::path& p) { fs::remove(p); }},
};

TEST_F(StoreFaultTest, AFileChangedSinceLoadingIsNotOverwritten) {
    for (const auto& c : kChanges) {
        SCOPED_TRACE(c.what);
        const std::string path = PathOf("level.bin");
        WriteBytes(path, Iota(50));
        qm::TZfile f;
        qm::ZAssign(f, path);
        qm::ZReset(f, 1);
        c.change(path);
        const Bytes theirs = fs::exists(path) ? ReadBytes(path) : Bytes{};
        try {
            qm::ZClose(f, true);
            ADD_FAILURE() << "stored";
        } catch (const qm::ELevelError& e) {
            EXPECT_STREQ(e.what(), kChanged);
            EXPECT_EQ(e.Where, "replacing " + path);
        }
        EXPECT_EQ(fs::exists(path) ? ReadBytes(path) : Bytes{}, theirs);
        EXPECT_EQ(Entries(dir_).size(), theirs.empty() ? 0u : 1u);
        fs::remove(path);
    }
}

TEST_F(StoreFaultTest, AnUnchangedFileIsStoredAgainAndAgain) {
    const std::string path = PathOf("level.bin");
    WriteBytes(path, Iota(50));
    qm::TZfile f;
    qm::ZAssign(f, path);
    qm::ZReset(f, 1);
    const qm::TFileStamp loaded = f.Stamp;
    qm::ZClose(f, true);
    EXPECT_EQ(ReadBytes(path), Iota(50));
    // The record now describes the stored file, so storing once more works.
    EXPECT_NE(f.Stamp, loaded);
    const qm::TFileStamp stored = f.Stamp;
    const Bytes b = Iota(60, 2);
    EXPECT_EQ(qm::StoreFileReplacing(path, {b.data()}, {b.size()}, stored).Size, 60);
    EXPECT_EQ(ReadBytes(path), b);
}

// The level keeps the stamp from loading to saving: a save under the same
// name refuses a changed file, a save under a new name is not checked, and
// a level saved once can be saved again.
TEST_F(StoreFaultTest, ALevelChangedOnDiskIsNotSaved) {
    const fs::path file = dir_ / "lvl.tr2", copy = dir_ / "copy.tr2";
    const Bytes built = Build(SampleLevel(3, 1));
    for (const auto& c : kChanges) {
        SCOPED_TRACE(c.what);
        WriteBytes(file, built);
        qm::Ttrlevel level;
        ASSERT_EQ(level.LoadLevel(file.string()), 0);
        c.change(file);
        const Bytes theirs = fs::exists(file) ? ReadBytes(file) : Bytes{};
        EXPECT_THROW(level.SaveLevel(file.string()), qm::ELevelError);
        EXPECT_EQ(fs::exists(file) ? ReadBytes(file) : Bytes{}, theirs);
        EXPECT_EQ(level.SaveLevel(copy.string()), 0);
        EXPECT_EQ(level.SaveLevel(copy.string()), 0);
        EXPECT_EQ(ReadBytes(copy), built);
        fs::remove(copy);
    }
    // The whole run: another program saves while the tool writes its copy.
    WriteBytes(file, built);
    qm::GStoreFaultHook = [&](TStoreStep step, int64_t) {
        if (step == TStoreStep::Close)
            WriteBytes(file, Iota(99));
        return 0;
    };
    EXPECT_EQ(RunOn(file, {"/Water", "1"}, 1),
              Lines({"Loading Level...", "Turning On/Off the water...", "Saving the level...",
                     std::string(kChanged) + ".", "replacing " + file.string()}));
    EXPECT_EQ(ReadBytes(file), Iota(99));
    EXPECT_EQ(Entries(dir_), std::vector<std::string>{"lvl.tr2"});
}

// With --backup, a level that another program saves while the tool works on
// it keeps that program's file, and the older backup stays as it was,
// whenever the change comes: before the backup's second name is made (it is
// then of the other file), or while the new level is written.
TEST_F(StoreFaultTest, ALevelChangedOnDiskKeepsTheOlderBackup) {
    const fs::path file = dir_ / "lvl.tr2", bak = dir_ / "lvl.tr2.bak";
    const Bytes built = Build(SampleLevel(3, 1)), older(10, 'o');
    const struct {
        TStoreStep at;
        std::string place;
    } rows[] = {
        {TStoreStep::BackupLink, "keeping the backup of " + file.string()},
        {TStoreStep::Write, "replacing " + file.string()},
        {TStoreStep::Close, "replacing " + file.string()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("changed at step " + std::to_string(int(row.at)));
        WriteBytes(file, built);
        WriteBytes(bak, older);
        bool changed = false;
        qm::GStoreFaultHook = [&](TStoreStep step, int64_t) {
            if (step == row.at && !std::exchange(changed, true))
                WriteBytes(file, Iota(99));
            return 0;
        };
        EXPECT_EQ(RunOn(file, {"--backup", "/Water", "1"}, 1),
                  Lines({"Loading Level...", "Turning On/Off the water...", "Saving the level...",
                         std::string(kChanged) + ".", row.place}));
        qm::GStoreFaultHook = nullptr;
        EXPECT_EQ(ReadBytes(file), Iota(99));
        EXPECT_EQ(ReadBytes(bak), older);
        EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"lvl.tr2", "lvl.tr2.bak"}));
    }
}

// The backup's own steps: where no second name can be made the backup is a
// copy; a failure before the rename keeps the level and the older backup; a
// failed rename of the backup comes after the save, which it says. Nothing
// hidden is left in any case.
TEST_F(StoreFaultTest, TheBackupsStepsFailCleanly) {
    using S = TStoreStep;
    const std::string path = PathOf("level.bin"), bak = PathOf("level.bin.bak");
    const Bytes original = Iota(300), older(10, 'o'), stored = Iota(500, 9);
    const struct {
        S step;
        int error;
        bool saved;
        Bytes bak;
        std::string place; // of the error, empty when the store succeeds
    } rows[] = {
        {S::BackupLink, EXDEV, true, original, ""},
        {S::BackupLink, EPERM, true, original, ""},
        {S::BackupLink, ENOSPC, false, older, "keeping the backup of " + path},
        {S::BackupCopy, EACCES, false, older, "creating the backup in " + dir_.string()},
        {S::Record, EIO, false, older, "keeping the backup of " + path},
        {S::BackupRename, EIO, true, older,
         "keeping the backup " + bak + "; the level was saved, the older backup is kept"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("step " + std::to_string(int(row.step)) + ", error " + std::to_string(row.error));
        WriteBytes(path, original);
        ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
        WriteBytes(bak, older);
        // A copy is made only where no link can be.
        qm::GStoreFaultHook = [&](TStoreStep step, int64_t) {
            if (row.step == S::BackupCopy && step == S::BackupLink)
                return EXDEV;
            return step == row.step ? row.error : 0;
        };
        try {
            qm::StoreFileReplacing(path, {stored.data()}, {stored.size()}, {}, {.BackupName = bak, .SavedNote = ""});
            EXPECT_EQ(row.place, "");
        } catch (const qm::EInOutError& e) {
            EXPECT_EQ(e.Where.substr(0, row.place.size()), row.place);
            EXPECT_NE(row.place, "");
        }
        qm::GStoreFaultHook = nullptr;
        EXPECT_EQ(ReadBytes(path), row.saved ? stored : original);
        EXPECT_EQ(ReadBytes(bak), row.bak);
        if (row.bak == original) {
            EXPECT_EQ(ModeOf(bak), 0640u);
        }
        EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"level.bin", "level.bin.bak"}));
    }
}

} // namespace
} // namespace qmtest
