// The fixture of the platform-layer tests: a scratch folder, its listing, a
// store through TZfile, and the test seam reset after every test.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "errors.h"
#include "platform.h"
#include "tool_test_support.h"
#include "zfile.h"

namespace qmtest {

inline Bytes Iota(size_t n, uint8_t start = 0) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(start + i);
    return b;
}

inline unsigned ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class StoreTest : public ::testing::Test {
protected:
    void TearDown() override { qm::GStoreFaultHook = nullptr; }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    std::vector<std::string> Entries(const fs::path& dir) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Composes content with ZRewrite and stores it with a flushing close.
    void Store(const std::string& path, const Bytes& content) {
        qm::TZfile f;
        qm::ZAssign(f, path);
        qm::ZRewrite(f, 1);
        qm::ZBlockWrite(f, content.data(), static_cast<int32_t>(content.size()));
        qm::ZClose(f, true);
    }

    // Whether this folder's file system makes files without a name.
    bool UnnamedFilesWork() const {
        const int fd = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY, 0600);
        if (fd >= 0)
            ::close(fd);
        return fd >= 0;
    }

    // Makes the store take the named temporary file from the start.
    static int RefuseUnnamed(qm::TStoreStep step) { return step == qm::TStoreStep::CreateUnnamed ? EOPNOTSUPP : 0; }

    ScratchDir scratch_;
    const fs::path dir_ = scratch_.path;
};

} // namespace qmtest
