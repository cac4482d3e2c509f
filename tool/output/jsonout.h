// The machine-readable form of a run (--json): one document for the whole run,
// {"format": 1, "levels": [...]}, with the numbers the text form shows.
#pragma once

#include <nlohmann/json.hpp>

#include "dryrun.h"
#include "functions.h"

namespace qm {

using TJson = nlohmann::ordered_json;

TJson ReportJson(const Ttrlevel& L);
TJson RoomTableJson(const Ttrlevel& L, int32_t from, int32_t to);
TJson RoomChangesJson(const std::vector<TRoomChange>& changes);

// A console that keeps a level's lines instead of writing them, so that a
// refusal or an error report becomes the level's "error" object. Progress lines
// are left out.
class TJsonCapture : public TConsole {
public:
    void Line(std::string_view text) override { Lines.emplace_back(text); }
    void Progress(std::string_view) override {}
    void Raw(std::string_view) override {}
    void Error(std::string_view message, std::string_view where, std::string_view hint) override;

    // {"message": ..., "place": ..., "hint": ...} of what the level ended with.
    TJson ErrorJson() const;
    std::vector<std::string> Lines;

private:
    TJson Error_;
};

} // namespace qm
