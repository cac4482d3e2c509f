// --backup: the level as it was loaded, kept beside it as NAME.bak before a
// save replaces it.
#pragma once

#include <string>

#include "platform.h"

namespace qm {

// Makes levelName + ".bak" the file that was loaded (loaded is its stamp),
// replacing an older backup. The backup takes its name in one rename, so at any
// moment it is the old backup or the new one, whole. Where the file system
// allows, it is a second name of the loaded file itself (which the save then
// replaces under the level's name only); elsewhere a copy stored crash-safely.
// A level that is no longer the file that was loaded is refused with ELevelError
// and nothing is kept. Throws EInOutError.
void KeepBackup(const std::string& levelName, const TFileStamp& loaded);

} // namespace qm
