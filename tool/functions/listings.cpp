#include "functions.h"

namespace qm {

std::vector<int32_t> ItemIds(const Ttrlevel& L) {
    bool present[512] = {};
    const bool shortForm = L.LevelVersion < KindTR2;
    for (int32_t i = 0; i < L.ItemCount; ++i) {
        uint16_t id = shortForm ? GetU16(L.Items22[size_t(i)].data()) : GetU16(L.Items24[size_t(i)].data());
        if (id < 512) present[id] = true;
    }
    std::vector<int32_t> ids;
    for (int id = 0; id < 512; ++id)
        if (present[id]) ids.push_back(id);
    return ids;
}

std::vector<int32_t> StaticIds(const Ttrlevel& L) {
    std::vector<int32_t> ids;
    for (const TRec<32>& mesh : L.StaticMeshes) ids.push_back(int32_t(GetU32(mesh.data())));
    return ids;
}

std::vector<std::vector<int32_t>> AnimatedTextureGroups(const Ttrlevel& L) {
    const auto& words = L.AnimatedTextures;
    // The group and texture counts are followed as stored; a group that runs
    // past the end of the list holds the ids that exist, and the list stops.
    const size_t groups = words.empty() ? 0 : words[0];
    std::vector<std::vector<int32_t>> list;
    size_t pos = 1;
    for (size_t g = 1; g <= groups && pos < words.size(); ++g) {
        const size_t n = size_t(words[pos]) + 1;
        std::vector<int32_t>& ids = list.emplace_back();
        for (size_t k = 1; k <= n && pos + k < words.size(); ++k) ids.push_back(words[pos + k]);
        pos += n + 1;
    }
    return list;
}

} // namespace qm
