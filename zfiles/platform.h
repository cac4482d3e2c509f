// The few operating-system services the tool needs, in one place so that the
// POSIX and Windows builds differ only here. File names are UTF-8 on every
// platform; the Windows build converts them to wide characters at this edge.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qm {

// True when name is an existing file that is not a directory.
bool FileExists(const std::string& name);

// An open disk file. Closing happens in the destructor; it never writes.
class TDiskFile {
public:
    TDiskFile() = default;
    TDiskFile(TDiskFile&& other) noexcept;
    TDiskFile& operator=(TDiskFile&& other) noexcept;
    ~TDiskFile();

    // Opens an existing file read-only. Throws EInOutError.
    void OpenRead(const std::string& name);
    // Length of the open file in bytes. Throws EInOutError.
    int64_t Length() const;
    // Reads exactly n bytes at offset; a short read throws EInOutError
    // "Read beyond end of file".
    void ReadAt(int64_t offset, void* dest, int64_t n) const;
    bool IsOpen() const;
    void Close() noexcept;
    // The system's handle of the open file (a descriptor on POSIX systems).
    intptr_t Descriptor() const { return Handle_; }

private:
    intptr_t Handle_ = -1;
};

// Throws EInOutError "File access denied" when an existing file may not be
// replaced: its read-only attribute (no owner write permission) is set, or the
// system refuses to open it for writing. A missing file passes.
void CheckReplaceable(const std::string& name);

// Stores content under name crash-safely: the bytes go to a new temporary file
// in the same directory, which is flushed to disk and then renamed over name in
// one step. The file keeps the original's permission bits; a name that is a
// symbolic link keeps being a link and the file it points to is replaced. On
// any failure the original stays byte for byte as it was, the temporary file is
// removed and EInOutError is thrown.
void StoreFileReplacing(const std::string& name, const std::vector<const void*>& parts,
                        const std::vector<size_t>& sizes);

// Test seam: when set, called before each write of the temporary file with the
// bytes written so far; returning a non-zero error code makes that write fail
// with it (e.g. ENOSPC to simulate a full disk).
extern std::function<int(int64_t written)> GStoreFaultHook;

} // namespace qm
