#include "backup.h"

namespace qm {

std::string SavedNote(const std::string& target) { return "Interrupted: " + target + " was saved.\r\n"; }

void SaveEdit(Ttrlevel& level, const std::string& target, bool backup, TStoreBatch* batch, size_t slot) {
    level.SaveLevel(target, TStoreKeep{.BackupName = backup ? target + ".bak" : "",
                                       .SavedNote = SavedNote(target),
                                       .Batch = batch,
                                       .Slot = slot});
}

} // namespace qm
