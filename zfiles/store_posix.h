// What the files of the POSIX store share: the file a store replaces, reached
// through its open folder, and the guarded system call.
#pragma once

#include <sys/stat.h>

#include <string>

#include "posix_file.h"

namespace qm::detail {

// The file a store replaces. Every call works relative to the open folder, so
// a file whose full path is longer than the system's path limit is stored as
// well as it is read.
struct TTarget {
    TFd Folder;             // the folder the file is in, or is to be made in
    std::string FolderName; // the folder's name, for error places
    std::string Base;       // the file's own name in the folder
    std::string Name;       // the file's full name, for error places
    bool Exists = false;
    struct stat Original {}; // the file's status when it exists
};

// The file that storing under name really replaces: name itself, or the end of
// the chain of symbolic links it starts, which need not exist yet (a dangling
// link then gets its target created). Throws EInOutError.
TTarget ResolveTarget(const std::string& name);

// Tells the observing test seam of a call about to be made.
void TellCallObserver(TStoreStep step, int descriptor);

// Makes one system call of a store: the test seam may fail the step first
// (EInOutError placed at where), the observing seam sees the call, and then
// the call is made; its result is returned.
template <typename TCall>
auto GuardedCall(TStoreStep step, int descriptor, int64_t written, const std::string& where, TCall call) {
    AskFaultHook(step, written, where);
    TellCallObserver(step, descriptor);
    return call();
}

} // namespace qm::detail
