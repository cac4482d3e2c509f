#include "items.h"

#include <algorithm>
#include <map>

#include "errors.h"
#include "itemargs.h"
#include "itemnames.h"
#include "kinds.h"

namespace qm {

TItemForm ItemFormOf(const Ttrlevel& L) {
    if (KindInfo(L.LevelVersion).ItemSize == 22) return TItemForm::Tr1;
    return L.LevelVersion >= KindTR4 ? TItemForm::Tr4 : TItemForm::Tr2;
}

TItem ReadItem(const Ttrlevel& L, int32_t index) {
    const bool shortForm = ItemFormOf(L) == TItemForm::Tr1;
    const uint8_t* p = shortForm ? L.Items22[size_t(index)].data() : L.Items24[size_t(index)].data();
    TItem it;
    it.Index = index;
    it.Type = GetU16(p);
    it.Room = int16_t(GetU16(p + 2));
    it.X = int32_t(GetU32(p + 4));
    it.Y = int32_t(GetU32(p + 8));
    it.Z = int32_t(GetU32(p + 12));
    it.Angle = GetU16(p + 16);
    it.Intensity = int16_t(GetU16(p + 18));
    if (shortForm) {
        it.Flags = GetU16(p + 20);
    } else {
        it.Second = int16_t(GetU16(p + 20));
        it.Flags = GetU16(p + 22);
    }
    return it;
}

namespace {

void PutU32(uint8_t* p, int32_t v) {
    SetU16(p, uint16_t(uint32_t(v)));
    SetU16(p + 2, uint16_t(uint32_t(v) >> 16));
}

// The 20 bytes both forms share.
void PutCommon(uint8_t* p, const TItem& it) {
    SetU16(p, it.Type);
    SetU16(p + 2, uint16_t(it.Room));
    PutU32(p + 4, it.X);
    PutU32(p + 8, it.Y);
    PutU32(p + 12, it.Z);
    SetU16(p + 16, it.Angle);
    SetU16(p + 18, uint16_t(it.Intensity));
}

} // namespace

void WriteItem(Ttrlevel& L, const TItem& it) {
    // Both forms, as loading fills them: the kind's form is saved, the other
    // stays its copy (the common fields and the flags).
    uint8_t* p22 = L.Items22[size_t(it.Index)].data();
    PutCommon(p22, it);
    SetU16(p22 + 20, it.Flags);
    uint8_t* p24 = L.Items24[size_t(it.Index)].data();
    PutCommon(p24, it);
    SetU16(p24 + 20, uint16_t(it.Second));
    SetU16(p24 + 22, it.Flags);
}

std::optional<int32_t> NumberArg(const std::string& text) {
    try {
        return StrToInt(text);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

std::string OutsideLevel(const char* one, const char* many, int64_t value, int64_t count) {
    return std::string(one) + " " + std::to_string(value) + " is outside this level (" + many + " 0 to " +
           std::to_string(count - 1) + ").";
}

std::string ItemIndexRefusal(const Ttrlevel& L, int64_t index) {
    if (L.ItemCount <= 0) return "This level has no items.";
    if (index < 0 || index >= L.ItemCount) return OutsideLevel("Item", "items", index, L.ItemCount);
    return "";
}

namespace {

// The items a /ShowEntities range names: From defaults to 0, To to the last
// item and is cut to it, a To below From becomes From. Without a range, a
// level without items shows none.
struct TSpan {
    int32_t From = 0, To = -1;
    std::string Refusal;
};

TSpan ItemSpan(const Ttrlevel& L, const TArgs& args) {
    TSpan s;
    const int32_t count = L.ItemCount;
    if (!args.Present(3) && !args.Present(4) && count <= 0) return s;
    s.To = count - 1;
    if (args.Present(3)) s.From = StrToInt(args.At(3));
    if (args.Present(4)) s.To = StrToInt(args.At(4));
    if (s.To > count - 1) s.To = count - 1;
    if (s.From > s.To) s.To = s.From;
    s.Refusal = ItemIndexRefusal(L, s.From);
    return s;
}

} // namespace

std::string EntityRangeRefusal(const Ttrlevel& L, const TArgs& args) { return ItemSpan(L, args).Refusal; }

TEntityTable EntityTable(const Ttrlevel& L, const TArgs& args) {
    const TSpan span = ItemSpan(L, args);
    TEntityTable t;
    t.Version = L.LevelVersion;
    t.Form = ItemFormOf(L);
    std::map<uint16_t, size_t> counts;
    if (span.Refusal.empty())
        for (int32_t i = span.From; i <= span.To; ++i) {
            t.Items.push_back(ReadItem(L, i));
            ++counts[t.Items.back().Type];
        }
    for (const auto& [type, count] : counts) t.Types.push_back({type, count});
    if (!t.Items.empty()) {
        std::vector<std::vector<TSectorRef>> named = ItemTriggers(L.LevelVersion, LevelTriggers(L), L.ItemCount);
        for (const TItem& it : t.Items) t.TriggeredBy.push_back(std::move(named[size_t(it.Index)]));
    }
    std::stable_sort(t.Types.begin(), t.Types.end(),
                     [](const TTypeCount& a, const TTypeCount& b) { return a.Count > b.Count; });
    return t;
}

bool HasModel(const Ttrlevel& L, int32_t type) {
    for (const TRec<18>& m : L.Moveables) if (GetU32(m.data()) == uint32_t(type)) return true;
    for (const TRec<20>& m : L.Moveables20) if (GetU32(m.data()) == uint32_t(type)) return true;
    for (const TRec<8>& s : L.SpriteSequences) if (GetU32(s.data()) == uint32_t(type)) return true;
    return false;
}

TTypeList TypeListOf(const Ttrlevel& L, const std::string& part) {
    TTypeList list{.Version = L.LevelVersion, .Part = part, .Rows = {}};
    for (int32_t type : NamedTypes(L.LevelVersion, part))
        list.Rows.push_back({.Type = type, .Name = ItemTypeName(L.LevelVersion, type), .Model = HasModel(L, type)});
    return list;
}

} // namespace qm
