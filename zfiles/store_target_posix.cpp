// Finding the file a POSIX store replaces: the chain of symbolic links is
// followed from folder to folder by descriptor, never by a full path, so the
// length of the path to the file does not matter.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "store_posix.h"

namespace qm::detail {

namespace {

// The most links one name may go through, as the system itself allows.
constexpr int MaxLinkHops = 40;

} // namespace

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int OpenFolder(int at, const std::string& dir, const std::string& path) {
    int fd;
    do
        fd = ::openat(at, dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
#ifdef O_PATH
    if (fd < 0 && errno == EACCES)
        fd = ::openat(at, dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
    if (fd < 0) {
        // A missing folder shows when the temporary file cannot be made there.
        if (errno == ENOENT)
            ThrowErrno("creating a temporary file in " + DirectoryOf(path));
        ThrowErrno("looking up " + path);
    }
    return fd;
}

namespace {

std::string ReadLinkAt(int folder, const std::string& base, const std::string& path, off_t sizeHint) {
    std::string link(static_cast<size_t>(sizeHint > 0 ? sizeHint : PATH_MAX) + 1, '\0');
    const ssize_t got = ::readlinkat(folder, base.c_str(), link.data(), link.size());
    if (got < 0)
        ThrowErrno("reading the link " + path);
    if (static_cast<size_t>(got) >= link.size())
        throw EInOutError(EInOutError::InvalidFilename, "the link " + path + " changed while read");
    link.resize(static_cast<size_t>(got));
    return link;
}

// Sets the names for error places: an existing file by its canonical name
// where the system can give one, so that the places show the folder the file
// is really in; a new file, or one whose full path is too long to resolve,
// by the name the chain reached it under.
void NameFound(TTarget& t, const std::string& path) {
    t.Name = path;
    if (t.Exists) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            t.Name = real;
            ::free(real);
        }
    }
    t.FolderName = DirectoryOf(t.Name);
}

} // namespace

void TellCallObserver(TStoreStep step, int descriptor) {
    if (GStoreCallObserver)
        GStoreCallObserver(step, descriptor);
}

TTarget ResolveTarget(const std::string& name) {
    if (name.empty())
        throw EInOutError(EInOutError::FileNotFound, "an empty file name");
    TTarget t;
    std::string path = name; // the chain's current name, for error places
    t.Folder.Reset(OpenFolder(AT_FDCWD, DirectoryOf(name), path));
    t.Base = BaseOf(name);
    for (int hops = 0; hops < MaxLinkHops; ++hops) {
        // A name ending in a slash names a folder, which is no file to replace.
        if (t.Base.empty())
            throw EInOutError(EInOutError::AccessDenied, "replacing " + path);
        struct stat st;
        if (::fstatat(t.Folder.Get(), t.Base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                ThrowErrno("looking up " + path);
            NameFound(t, path); // a new file
            return t;
        }
        if (!S_ISLNK(st.st_mode)) {
            t.Exists = true;
            t.Original = st;
            NameFound(t, path);
            return t;
        }
        const std::string link = ReadLinkAt(t.Folder.Get(), t.Base, path, st.st_size);
        path = (!link.empty() && link[0] == '/') ? link : DirectoryOf(path) + "/" + link;
        // The link's folder is opened relative to the folder of the link
        // (an absolute link ignores it), which stays open until then.
        const TFd linkFolder(t.Folder.Release());
        t.Folder.Reset(OpenFolder(linkFolder.Get(), DirectoryOf(link), path));
        t.Base = BaseOf(link);
    }
    throw ErrorFromErrno(ELOOP, "following the links of " + name);
}

} // namespace qm::detail
