#include "backup.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "errors.h"
#include "utf8path.h"

#ifdef _WIN32
#include <process.h>
#define QM_PROCESS_ID _getpid()
#else
#include <unistd.h>
#define QM_PROCESS_ID ::getpid()
#endif

namespace qm {

namespace {

namespace fs = std::filesystem;

void RefuseChanged(const std::string& levelName) {
    throw ELevelError("The level changed on disk while it was being edited; nothing was saved",
                      "keeping the backup of " + levelName);
}

// The stamp of the file under name now.
TFileStamp StampNow(const std::string& name) {
    TDiskFile file;
    file.OpenRead(name);
    return file.Stamp();
}

// A second name of the loaded file: the file the level's name leads to, links
// followed, so that the backup keeps the old content when the save replaces it.
bool LinkLoadedFile(const std::string& levelName, const std::string& temporary) {
    std::error_code error;
    const fs::path real = fs::canonical(PathOf(levelName), error);
    if (error) return false;
    fs::create_hard_link(real, PathOf(temporary), error);
    return !error;
}

// The loaded bytes read back, checked against the stamp before and after.
std::vector<uint8_t> ReadLoadedFile(const std::string& levelName, const TFileStamp& loaded) {
    TDiskFile file;
    file.OpenRead(levelName);
    if (file.Stamp() != loaded) RefuseChanged(levelName);
    std::vector<uint8_t> bytes(size_t(loaded.Size));
    file.ReadAt(0, bytes.data(), loaded.Size);
    if (file.Stamp() != loaded) RefuseChanged(levelName);
    return bytes;
}

} // namespace

void KeepBackup(const std::string& levelName, const TFileStamp& loaded) {
    const std::string backup = levelName + ".bak";
    const std::string temporary = backup + "." + std::to_string(QM_PROCESS_ID) + ".qmtmp";
    if (LinkLoadedFile(levelName, temporary)) {
        std::error_code error;
        try {
            if (StampNow(temporary) != loaded) RefuseChanged(levelName);
        } catch (...) {
            fs::remove(PathOf(temporary), error);
            throw;
        }
        fs::rename(PathOf(temporary), PathOf(backup), error);
        if (!error) return;
        fs::remove(PathOf(temporary), error);
    }
    // No second name can be made (a file system without them): a copy.
    const std::vector<uint8_t> bytes = ReadLoadedFile(levelName, loaded);
    StoreFileReplacing(backup, {bytes.data()}, {bytes.size()});
}

} // namespace qm
