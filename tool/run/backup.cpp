#include "backup.h"

namespace qm {

std::string SavedNote(const std::string& target) { return "Interrupted: " + target + " was saved.\r\n"; }

void SaveEdit(Ttrlevel& level, const std::string& target, const TSaveHow& how) {
    level.SaveLevel(target, TStoreKeep{.BackupName = how.Backup ? target + ".bak" : "",
                                       .SavedNote = SavedNote(target),
                                       .Batch = how.Batch,
                                       .Slot = how.Slot,
                                       .RemoveStale = how.RemoveStale});
}

} // namespace qm
