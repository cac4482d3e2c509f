// The save of an edit: the level written back, with --backup the file that was
// loaded kept beside it as NAME.bak, and the line that names the saved level
// should Ctrl-C or a termination signal end the run before its output is shown.
#pragma once

#include <string>

#include "trlevel.h"

namespace qm {

// The line written for each level saved in a run that a signal ends.
std::string SavedNote(const std::string& target);

// Saves the edited level as target. With backup, the file that was loaded is
// kept as target + ".bak": a second name of that file (or a copy), which
// replaces an older backup only once the new level is in place, so that a
// save that fails or is refused leaves the older backup as it was. A level
// that is no longer the file that was loaded is refused with ELevelError and
// nothing is kept; a backup name that may not be replaced (write-protected, a
// folder) refuses the save before anything is written. Throws EQuillError.
// With a batch, the save is only prepared in its place slot of the batch: the
// batch's commit puts it in place (or reports its failure). RemoveStale: the
// run holds the level's edit lock, and the save removes the hidden files that
// killed runs left beside the level (TStoreKeep::RemoveStale).
struct TSaveHow {
    bool Backup = false;
    bool RemoveStale = false;
    TStoreBatch* Batch = nullptr;
    size_t Slot = 0;
};
void SaveEdit(Ttrlevel& level, const std::string& target, const TSaveHow& how);

} // namespace qm
