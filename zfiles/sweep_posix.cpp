// What a killed run left beside a level: hidden temporary files of its
// target, and hidden files of its backup that never took the backup's name.
// The next store of that level removes them (RemoveStaleHidden).
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "store_posix.h"

namespace qm::detail {

namespace {

// Whether name is stem followed by the six characters of RandomSuffix.
bool IsHiddenOf(const char* name, const std::string& stem) {
    const size_t n = std::strlen(name);
    if (n != stem.size() + 6 || std::strncmp(name, stem.c_str(), stem.size()) != 0)
        return false;
    for (size_t i = stem.size(); i < n; ++i) {
        const char c = name[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

// The names in the folder open as folder that are hidden names of stem.
std::vector<std::string> HiddenNames(int folder, const std::string& stem) {
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
        if (IsHiddenOf(e->d_name, stem))
            names.emplace_back(e->d_name);
    ::closedir(dir);
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

void RemoveLeftOver(int folder, const std::string& stem, const TTarget& target, const std::string& own) {
    for (const std::string& name : HiddenNames(folder, stem))
        if (name != own && LeftOver(folder, name, target))
            ::unlinkat(folder, name.c_str(), 0);
}

} // namespace

void RemoveStaleHidden(const TTarget& target, const std::string& backupName, const std::string& own) {
    RemoveLeftOver(target.Folder.Get(), HiddenStem(target.Base), target, "");
    const std::string base = BaseOf(backupName);
    if (base.empty())
        return;
    try {
        const TFd folder(OpenFolder(AT_FDCWD, DirectoryOf(backupName), backupName));
        RemoveLeftOver(folder.Get(), HiddenStem(base), target, own);
    } catch (const EInOutError&) {
        // No folder to look in: nothing was left there.
    }
}

} // namespace qm::detail
