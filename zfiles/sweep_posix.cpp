// The hidden names of the stores: how they are made (a stem from the target's
// name and six random characters), and how what a killed run left is found:
// hidden temporary files of a target, and hidden files of its backup that
// never took the backup's name. The next store of that level removes them
// (RemoveStaleHidden).
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <time.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "store_posix.h"

namespace qm::detail {

std::string RandomSuffix() {
    static std::atomic<uint64_t> calls{0};
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    uint64_t x = (uint64_t(::getpid()) << 32) ^ uint64_t(now.tv_nsec) ^ (uint64_t(now.tv_sec) << 30) ^
                 (++calls * 0x9E3779B97F4A7C15u);
    // splitmix64's finaliser spreads every input bit over the output.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    x ^= x >> 31;
    static constexpr char Chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string s;
    for (int i = 0; i < 6; ++i, x /= 62)
        s += Chars[x % 62];
    return s;
}

// The hidden name must stay within the file-name limit for any target name
// that itself fits, so only the first 200 bytes of the target's name are
// used, cut before a character and never inside one, so that a UTF-8 name
// gives a UTF-8 hidden name.
std::string HiddenStem(const std::string& base) {
    constexpr size_t Keep = 200;
    static_assert(1 + Keep + 6 + 6 <= NAME_MAX, "a hidden name fits in a name of the folder");
    size_t cut = std::min(Keep, base.size());
    // UTF-8 continuation bytes are 10xxxxxx; a character has at most three.
    for (int back = 0; back < 3 && cut > 0 && cut < base.size() && (uint8_t(base[cut]) & 0xC0) == 0x80; ++back)
        --cut;
    // Joined by append: g++ 12 warns falsely of overlapping copies for "." + std::string&&.
    return std::string(".").append(base, 0, cut).append(".qmtmp");
}


namespace {

bool IsSuffixChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// Whether name ends as a hidden name does: ".qmtmp" and six characters.
bool LooksHidden(const std::string& name) {
    static const std::string Mark = ".qmtmp";
    const size_t n = name.size();
    if (n < 1 + Mark.size() + 6 || name[0] != '.' || name.compare(n - 6 - Mark.size(), Mark.size(), Mark) != 0)
        return false;
    for (size_t i = n - 6; i < n; ++i)
        if (!IsSuffixChar(name[i]))
            return false;
    return true;
}

// The names in the folder open as folder that look like hidden names.
std::vector<std::string> ReadHiddenNames(int folder) {
    std::vector<std::string> names;
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return names;
    DIR* dir = ::fdopendir(listing);
    if (dir == nullptr) {
        ::close(listing);
        return names;
    }
    while (const dirent* e = ::readdir(dir))
        if (std::string name = e->d_name; LooksHidden(name))
            names.push_back(std::move(name));
    ::closedir(dir);
    return names;
}

// The hidden names of stem in the folder open as folder.
std::vector<std::string> HiddenNames(int folder, const std::string& stem, THiddenListings* listings) {
    std::vector<std::string> names;
    for (std::string& name : listings ? listings->Of(folder) : ReadHiddenNames(folder))
        if (name.size() == stem.size() + 6 && name.compare(0, stem.size(), stem) == 0)
            names.push_back(std::move(name));
    return names;
}

// Whether the regular file name is left over: no running store holds it
// locked, or it is a second name of the target's own file, whose lock the
// caller holds (a backup's hidden name from an edit killed before its rename).
bool LeftOver(int folder, const std::string& name, const TTarget& target) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool left = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (left)
        left = (target.Exists && st.st_dev == target.Original.st_dev && st.st_ino == target.Original.st_ino) ||
               ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return left;
}

void RemoveLeftOver(int folder, const std::string& stem, const TTarget& target, const std::string& own,
                    THiddenListings* listings) {
    for (const std::string& name : HiddenNames(folder, stem, listings))
        if (name != own && LeftOver(folder, name, target))
            ::unlinkat(folder, name.c_str(), 0);
}

} // namespace

std::vector<std::string> THiddenListings::Of(int folder) {
    struct stat st;
    if (::fstat(folder, &st) != 0)
        return ReadHiddenNames(folder);
    std::lock_guard<std::mutex> turn(Turn_);
    const auto [at, added] = Read_.try_emplace({st.st_dev, st.st_ino});
    if (added)
        at->second = ReadHiddenNames(folder);
    return at->second;
}

void RemoveStaleHidden(const TTarget& target, const std::string& backupName, const std::string& own,
                       THiddenListings* listings) {
    RemoveLeftOver(target.Folder.Get(), HiddenStem(target.Base), target, "", listings);
    const std::string base = BaseOf(backupName);
    if (base.empty())
        return;
    try {
        const TFd folder(OpenFolder(AT_FDCWD, DirectoryOf(backupName), backupName));
        RemoveLeftOver(folder.Get(), HiddenStem(base), target, own, listings);
    } catch (const EInOutError&) {
        // No folder to look in: nothing was left there.
    }
}

} // namespace qm::detail
