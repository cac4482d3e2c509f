#include "kinds.h"

#include "trlevel.h"

namespace qm {

namespace {

//                       V  tr4    headPal head16 vx amb2   lmode  lt  st  tail   anim early  ot  mark   palSpr flyby  box zn item lmap   palLm  ai     smap smpl
constexpr TKindInfo Kinds[8] = {
    {0, false, false, false, 0, false, false, 0, 0, false, 0, false, 0, false, false, false, 0, 0, 0, false, false, false, 0, false},
    {1, false, false, false, 8, false, false, 18, 18, false, 32, true, 20, false, false, false, 20, 6, 22, true, true, false, 512, true},
    {2, false, false, false, 8, false, false, 18, 18, false, 32, true, 20, false, true, false, 20, 6, 22, true, false, false, 512, true},
    {3, false, true, true, 12, true, true, 24, 20, false, 32, true, 20, false, false, false, 8, 10, 24, true, false, false, 740, false},
    {4, false, true, true, 12, true, true, 24, 20, false, 32, true, 20, false, false, false, 8, 10, 24, true, false, false, 740, false},
    {5, false, true, true, 12, true, false, 24, 20, true, 32, false, 20, false, false, false, 8, 10, 24, true, false, false, 740, false},
    {6, true, false, false, 12, true, false, 46, 20, true, 40, false, 38, true, false, true, 8, 10, 24, false, false, true, 740, false},
    {7, true, false, false, 12, true, false, 46, 20, true, 40, false, 38, true, false, true, 8, 10, 24, false, false, true, 740, false},
};

bool NameHas(const std::string& name, const char* upper, const char* lower) {
    return name.find(upper) != std::string::npos || name.find(lower) != std::string::npos;
}

} // namespace

const int ZoneOrder6[6] = {0, 1, 4, 5, 6, 9};

const TKindInfo& KindInfo(int32_t version) {
    return Kinds[(version >= 1 && version <= 7) ? version : 0];
}

bool IsLevelSignature(uint32_t s) {
    return s == 0x00000020u || s == 0x0000002Du || s == 0x00345254u || s == 0xFF080038u ||
           s == 0xFF180038u || s == 0xFFFFFFF0u;
}

int32_t KindFromSignature(uint32_t s, const std::string& name) {
    switch (s) {
    case 0x00000020u: return NameHas(name, ".TUB", ".tub") ? KindTUB : KindTR1;
    case 0x0000002Du: return NameHas(name, ".TRG", ".trg") ? KindTRG : KindTR2;
    case 0xFF080038u:
    case 0xFF180038u: return KindTR3;
    case 0x00345254u:
    case 0xFFFFFFF0u: return NameHas(name, ".TRC", ".trc") ? KindTRC : KindTR4;
    default: return KindNone;
    }
}

} // namespace qm
