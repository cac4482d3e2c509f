// Tests of the platform layer: reading only regular files, and what the
// crash-safe store keeps of the original (modes, set-id bits, links, read-only
// files). The failures of the store are tested in store_faults_test.cpp.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>

#include "store_test_support.h"

namespace qmtest {
namespace {

using qm::TStoreStep;

// ---- reading ----

TEST_F(StoreTest, FileExistsIsFalseForDirectoriesAndDanglingLinks) {
    WriteBytes(dir_ / "file", {1});
    ASSERT_EQ(::symlink("file", PathOf("link").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", PathOf("dangling").c_str()), 0);
    const std::pair<std::string, bool> cases[] = {
        {PathOf("file"), true},     {PathOf("link"), true},   {PathOf("dangling"), false},
        {PathOf("missing"), false}, {dir_.string(), false},   {"", false},
    };
    for (const auto& [name, exists] : cases)
        EXPECT_EQ(qm::FileExists(name), exists) << name;
}

TEST_F(StoreTest, OnlyRegularFilesAreOpenedAndNothingWaitsForAWriter) {
    ASSERT_EQ(::mkfifo(PathOf("fifo").c_str(), 0644), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = PathOf("sock");
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    std::strcpy(addr.sun_path, sockPath.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

    ::alarm(20); // a blocking open would end the test run here instead of hanging it
    for (const std::string& name : {PathOf("fifo"), sockPath, std::string("/dev/null"), dir_.string()}) {
        qm::TDiskFile file;
        try {
            file.OpenRead(name);
            ADD_FAILURE() << name << " was opened";
        } catch (const qm::EInOutError& e) {
            EXPECT_EQ(e.Code, qm::EInOutError::AccessDenied) << name;
            EXPECT_EQ(e.Where, "opening " + name + ", which is not a regular file");
        }
        EXPECT_FALSE(file.IsOpen());
    }
    // The tool answers at once with an error report and leaves the FIFO alone.
    const std::string fifo = PathOf("fifo");
    EXPECT_EQ(RunOn(fifo, {"/Water", "1"}, 1),
              Lines({"Loading Level...", "File access denied.", "opening " + fifo + ", which is not a regular file"}));
    ::alarm(0);
    ::close(sock);
    struct stat st {};
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// ---- storing: modes, links, read-only files ----

TEST_F(StoreTest, StoreKeepsThePermissionBits) {
    const std::string longName(250, 'n'); // the temporary file's name must still fit
    for (unsigned mode : {0640u, 0600u, 0755u, 0604u}) {
        const std::string path = PathOf(mode == 0604u ? longName : "level.bin");
        WriteBytes(path, {1, 2, 3});
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        Store(path, Iota(100));
        EXPECT_EQ(ModeOf(path), mode);
        EXPECT_EQ(ReadBytes(path), Iota(100));
    }
}

TEST_F(StoreTest, NewFileGetsTheDefaultModeUnderTheUmask) {
    const std::pair<mode_t, unsigned> cases[] = {{022, 0644}, {077, 0600}, {002, 0644}, {0, 0644}};
    for (const auto& [mask, mode] : cases) {
        const std::string path = PathOf("new" + std::to_string(mask));
        const mode_t old = ::umask(mask);
        Store(path, {9, 8, 7});
        ::umask(old);
        EXPECT_EQ(ModeOf(path), mode) << "umask " << mask;
        EXPECT_EQ(ReadBytes(path), (Bytes{9, 8, 7}));
    }
}

TEST_F(StoreTest, SetIdBitsAreDroppedWhenTheOwnerCannotBeKept) {
    const struct {
        unsigned mode;
        bool chownFails;
        unsigned expected;
    } rows[] = {{06755, true, 0755}, {06755, false, 06755}, {02640, true, 0640},
                {04700, true, 0700}, {01777, true, 01777},  {0640, true, 0640}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.mode) + (row.chownFails ? ", chown fails" : ""));
        const std::string path = PathOf("level.bin");
        WriteBytes(path, {1, 2, 3});
        ASSERT_EQ(::chmod(path.c_str(), row.mode), 0);
        qm::GStoreFaultHook = [&](TStoreStep step, int64_t) {
            return step == TStoreStep::Chown && row.chownFails ? EPERM : 0;
        };
        Store(path, Iota(20));
        EXPECT_EQ(ModeOf(path), row.expected);
        EXPECT_EQ(ReadBytes(path), Iota(20));
    }
}

TEST_F(StoreTest, StoreThroughASymbolicLinkReplacesItsTarget) {
    fs::create_directory(dir_ / "real");
    WriteBytes(dir_ / "real/level.bin", {1, 2, 3});
    ASSERT_EQ(::chmod(PathOf("real/level.bin").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real/level.bin", PathOf("hop1").c_str()), 0);     // relative
    ASSERT_EQ(::symlink(PathOf("hop1").c_str(), PathOf("hop2").c_str()), 0); // absolute, to a link
    ASSERT_EQ(::symlink("real/later.bin", PathOf("dangling").c_str()), 0);

    Store(PathOf("hop2"), Iota(50));
    EXPECT_TRUE(fs::is_symlink(PathOf("hop2")));
    EXPECT_TRUE(fs::is_symlink(PathOf("hop1")));
    EXPECT_EQ(ReadBytes(dir_ / "real/level.bin"), Iota(50));
    EXPECT_EQ(ModeOf(PathOf("real/level.bin")), 0640u);

    Store(PathOf("dangling"), Iota(7));
    EXPECT_TRUE(fs::is_symlink(PathOf("dangling")));
    EXPECT_EQ(ReadBytes(dir_ / "real/later.bin"), Iota(7));
    EXPECT_EQ(Entries(dir_ / "real"), (std::vector<std::string>{"later.bin", "level.bin"}));
}

TEST_F(StoreTest, AHardLinkedLevelIsReplacedUnderThisNameOnly) {
    WriteBytes(dir_ / "level.bin", Iota(10));
    ASSERT_EQ(::link(PathOf("level.bin").c_str(), PathOf("other.bin").c_str()), 0);
    Store(PathOf("level.bin"), Iota(10, 100));
    EXPECT_EQ(ReadBytes(dir_ / "level.bin"), Iota(10, 100));
    EXPECT_EQ(ReadBytes(dir_ / "other.bin"), Iota(10));
}

TEST_F(StoreTest, ReadOnlyFileIsNeverReplaced) {
    const std::string path = PathOf("level.bin");
    const Bytes original = Iota(30);
    WriteBytes(path, original);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::symlink("level.bin", PathOf("link").c_str()), 0);

    auto expectDenied = [&](const char* what, auto&& action) {
        try {
            action();
            ADD_FAILURE() << what << ": no error";
        } catch (const qm::EInOutError& e) {
            EXPECT_EQ(e.Code, qm::EInOutError::AccessDenied) << what;
            EXPECT_STREQ(e.what(), "File access denied") << what;
        }
        EXPECT_EQ(ReadBytes(path), original) << what;
        EXPECT_EQ(Entries(dir_), (std::vector<std::string>{"level.bin", "link"})) << what;
    };
    expectDenied("rewrite", [&] {
        qm::TZfile f;
        qm::ZAssign(f, path);
        qm::ZRewrite(f, 1);
    });
    expectDenied("rewrite through a link", [&] {
        qm::TZfile f;
        qm::ZAssign(f, PathOf("link"));
        qm::ZRewrite(f, 1);
    });
    expectDenied("flushing a file opened for reading", [&] {
        qm::TZfile f;
        qm::ZAssign(f, path);
        qm::ZReset(f, 1);
        qm::ZClose(f, true);
    });
    expectDenied("direct store through a link", [&] {
        const uint8_t b = 0;
        qm::StoreFileReplacing(PathOf("link"), {&b}, {1});
    });
    expectDenied("a directory", [&] { qm::CheckReplaceable(dir_.string()); });
}

TEST_F(StoreTest, StoreIntoAMissingDirectoryFailsCleanly) {
    const std::string path = PathOf("no/such/dir/level.bin");
    qm::TZfile f;
    qm::ZAssign(f, path);
    qm::ZRewrite(f, 1); // a missing file may be created
    const Bytes content = Iota(10);
    qm::ZBlockWrite(f, content.data(), 10);
    try {
        qm::ZClose(f, true);
        ADD_FAILURE() << "stored";
    } catch (const qm::EInOutError& e) {
        EXPECT_EQ(e.Code, qm::EInOutError::FileNotFound);
    }
    EXPECT_EQ(f.Buffer.capacity(), 0u);
    EXPECT_TRUE(Entries(dir_).empty());
}

// Whether s is well-formed UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF).
bool IsUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = uint8_t(s[i]);
        const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        uint32_t c = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            if ((uint8_t(s[i + k]) & 0xC0) != 0x80)
                return false;
            c = c << 6 | (uint8_t(s[i + k]) & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

// The hidden name holds the start of the level's name: cut before a
// character, never inside one, so a UTF-8 name keeps a UTF-8 hidden name.
TEST_F(StoreTest, TheTemporaryNameIsCutBetweenCharacters) {
    const struct {
        std::string name;
        size_t kept; // bytes of the name in the hidden name
    } rows[] = {
        {std::string(199, 'a') + "\xC3\xA9z", 199},         // e-acute across byte 200
        {std::string(198, 'a') + "\xE6\xBC\xA2", 198},     // a CJK character across it
        {std::string(197, 'a') + "\xF0\x9F\x8E\xAE", 197}, // a 4-byte character across it
        {std::string(198, 'a') + "\xC3\xA9\xC3\xA9", 200}, // a character ends at it
        {std::string(250, 'a'), 200},
        {"level.bin", 9},
    };
    const bool unnamedWorks = UnnamedFilesWork();
    for (const bool named : {true, false}) {
        if (!named && !unnamedWorks)
            continue;
        for (const auto& row : rows) {
            SCOPED_TRACE((named ? "named, " : "unnamed, ") + std::to_string(row.name.size()) + " bytes");
            const std::string path = PathOf(row.name);
            WriteBytes(path, {1});
            std::vector<std::string> seen;
            qm::GStoreFaultHook = [&](TStoreStep step, int64_t) {
                if (step == TStoreStep::Rename)
                    seen = Entries(dir_);
                return named ? RefuseUnnamed(step) : 0;
            };
            Store(path, Iota(10));
            qm::GStoreFaultHook = nullptr;
            EXPECT_EQ(ReadBytes(path), Iota(10));
            ASSERT_EQ(seen.size(), 2u);
            const std::string hidden = seen[0];
            EXPECT_TRUE(IsUtf8(hidden)) << hidden;
            EXPECT_EQ(hidden.substr(0, row.kept + 7), "." + row.name.substr(0, row.kept) + ".qmtmp");
            EXPECT_EQ(hidden.size(), row.kept + 13);
            fs::remove(path);
        }
    }
}

// Under a file-size limit (ulimit -f) smaller than the content, a store with
// either kind of temporary file fails with the system's error for it, and
// leaves the original and nothing else. The store runs in a child process,
// whose exit status tells what happened.
TEST_F(StoreTest, AFileSizeLimitFailsTheStoreAndLeavesNothing) {
    const std::string path = PathOf("level.bin");
    const std::string hidden = PathOf(".level.bin.qmtmp");
    const bool unnamedWorks = UnnamedFilesWork();
    for (const bool named : {true, false}) {
        SCOPED_TRACE(named ? "named" : "unnamed");
        if (!named && !unnamedWorks)
            continue;
        WriteBytes(path, Iota(100));
        const std::string place = "writing " + (named ? hidden : "a temporary file in " + dir_.string());
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = 8192;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            qm::GStoreFaultHook = [&](TStoreStep step, int64_t) { return named ? RefuseUnnamed(step) : 0; };
            try {
                Store(path, Iota(100'000, 3));
            } catch (const qm::EInOutError& e) {
                const bool right = e.Code == EFBIG && e.Where.compare(0, place.size(), place) == 0;
                ::_exit(right ? 0 : 4);
            } catch (...) {
                ::_exit(3);
            }
            ::_exit(2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                    : "exit status " + std::to_string(WEXITSTATUS(status)));
        EXPECT_EQ(ReadBytes(path), Iota(100));
        EXPECT_EQ(Entries(dir_), std::vector<std::string>{"level.bin"});
    }
}

// A level is handed to the store in thousands of pieces: small and empty ones,
// runs of more than one call's worth, and pieces larger than one write. The
// file holds them in order, and a few calls write them all.
TEST_F(StoreTest, ManyPiecesAreStoredInOrderInFewCalls) {
    const struct {
        const char* what;
        std::vector<size_t> sizes;
    } rows[] = {
        {"one empty piece", {0}},
        {"3000 small pieces, some empty", [] {
             std::vector<size_t> v;
             for (size_t i = 0; i < 3000; ++i) v.push_back(i % 7 == 0 ? 0 : 1 + i * 37 % 700);
             return v;
         }()},
        {"pieces around a large one", {5, 2'600'000, 17, 0, 1'048'575, 2, 1'048'577}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes all;
        std::vector<Bytes> blocks;
        for (size_t i = 0; i < row.sizes.size(); ++i) blocks.push_back(Iota(row.sizes[i], uint8_t(i * 13)));
        std::vector<const void*> parts;
        for (const Bytes& b : blocks) parts.push_back(b.data()), all.insert(all.end(), b.begin(), b.end());
        int calls = 0;
        qm::GStoreFaultHook = [&](qm::TStoreStep step, int64_t) { return calls += step == qm::TStoreStep::Write, 0; };
        const std::string path = PathOf("level.bin");
        qm::StoreFileReplacing(path, parts, row.sizes);
        qm::GStoreFaultHook = nullptr;
        EXPECT_EQ(ReadBytes(path), all);
        // At most one call per MiB, plus one per 1024 pieces and a last one.
        EXPECT_LE(calls, int(all.size() >> 20) + int(row.sizes.size() / 1024) + 2);
    }
}

} // namespace
} // namespace qmtest
