// The text and JSON forms of the item functions' results: the entity table
// and an item edit's before and after.
#include "itemsout.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "itemnames.h"
#include "jsonvalue.h"

namespace qm {

namespace {

// The column of the second field after the intensity, by record form.
const char* SecondName(TItemForm form) { return form == TItemForm::Tr2 ? "Intensity2" : "OCB"; }
const char* SecondKey(TItemForm form) { return form == TItemForm::Tr2 ? "intensity2" : "ocb"; }

std::string Degrees(const TItem& it) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", it.Degrees());
    return text;
}

std::string Hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", unsigned(v));
    return text;
}

// The five activation bits as "12345", a cleared bit as "-".
std::string ActivationText(const TItem& it) {
    std::string s;
    for (int k = 0; k < 5; ++k) s += (it.Activation() >> k & 1) ? char('1' + k) : '-';
    return s;
}

const char* YesNo(bool b) { return b ? "yes" : "no"; }

// Rows of text cells whose columns take the width of their widest cell:
// right-aligned, except the columns marked left; a left-aligned last column
// is not padded.
class TTextTable {
public:
    explicit TTextTable(std::vector<bool> left) : Left_(std::move(left)) {}
    void Row(std::vector<std::string> cells) { Rows_.push_back(std::move(cells)); }
    void Print(TConsole& out) const {
        std::vector<size_t> width(Left_.size(), 0);
        for (const auto& row : Rows_)
            for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
        for (const auto& row : Rows_) {
            std::string line;
            for (size_t c = 0; c < row.size(); ++c) {
                const std::string pad(width[c] - row[c].size(), ' ');
                if (c) line += ' ';
                line += Left_[c] ? row[c] + (c + 1 < row.size() ? pad : "") : pad + row[c];
            }
            out.Line(line);
        }
    }

private:
    std::vector<bool> Left_;
    std::vector<std::vector<std::string>> Rows_;
};

// "type 93 Small_medipack, room 0, x 1536, ..., flags 0x0000 (invisible no, ...)"
std::string FieldsText(const TItem& it, int32_t version, TItemForm form) {
    std::string s = "type " + std::to_string(it.Type);
    if (const char* name = ItemTypeName(version, it.Type)) s += std::string(" ") + name;
    s += ", room " + std::to_string(it.Room) + ", x " + std::to_string(it.X) + ", y " + std::to_string(it.Y) + ", z " +
         std::to_string(it.Z) + ", angle " + Degrees(it) + ", intensity " + std::to_string(it.Intensity);
    if (form != TItemForm::Tr1) s += std::string(", ") + SecondKey(form) + " " + std::to_string(it.Second);
    s += ", flags 0x" + Hex4(it.Flags) + " (invisible " + YesNo(it.Invisible()) + ", clear body " +
         YesNo(it.ClearBody()) + ", activation " + ActivationText(it) + ")";
    return s;
}

TJson ItemJson(const TItem& it, int32_t version, TItemForm form) {
    const char* name = ItemTypeName(version, it.Type);
    TJson j{{"index", it.Index}, {"type", it.Type}, {"name", name ? TJson(name) : TJson(nullptr)},
            {"room", it.Room}, {"x", it.X}, {"y", it.Y}, {"z", it.Z}, {"angle", it.Angle},
            {"degrees", std::round(it.Degrees() * 10) / 10}, {"intensity", it.Intensity}};
    if (form != TItemForm::Tr1) j[SecondKey(form)] = it.Second;
    j["flags"] = it.Flags;
    j["invisible"] = it.Invisible();
    j["clearBody"] = it.ClearBody();
    j["activation"] = it.Activation();
    return j;
}

} // namespace

void WriteEntityTable(const TEntityTable& t, TConsole& out) {
    out.Line("Showing ENTITIES of this level:");
    out.Line("");
    if (t.Items.empty()) {
        out.Line("No items.");
        return;
    }
    std::vector<std::string> heading = {"Index", "Type", "Name", "Room", "X", "Y", "Z", "Angle", "Intensity"};
    if (t.Form != TItemForm::Tr1) heading.emplace_back(SecondName(t.Form));
    for (const char* h : {"Flags", "Invisible", "ClearBody", "Activation", "Triggers"}) heading.emplace_back(h);
    std::vector<bool> left(heading.size(), false);
    left[2] = true;
    TTextTable table(left);
    table.Row(heading);
    for (size_t row = 0; row < t.Items.size(); ++row) {
        const TItem& it = t.Items[row];
        std::vector<std::string> cells = {std::to_string(it.Index), std::to_string(it.Type),
                                          ItemTypeLabel(t.Version, it.Type), std::to_string(it.Room),
                                          std::to_string(it.X), std::to_string(it.Y), std::to_string(it.Z),
                                          Degrees(it), std::to_string(it.Intensity)};
        if (t.Form != TItemForm::Tr1) cells.push_back(std::to_string(it.Second));
        for (std::string cell : {Hex4(it.Flags), std::string(YesNo(it.Invisible())),
                                 std::string(YesNo(it.ClearBody())), ActivationText(it)})
            cells.push_back(std::move(cell));
        cells.push_back(std::to_string(row < t.TriggeredBy.size() ? t.TriggeredBy[row].size() : 0));
        table.Row(std::move(cells));
    }
    table.Print(out);
    out.Line("");
    out.Line("Items by type:");
    TTextTable types({false, false, false, true});
    for (const TTypeCount& c : t.Types)
        types.Row({std::to_string(c.Count), "x", std::to_string(c.Type), ItemTypeLabel(t.Version, c.Type)});
    types.Print(out);
    out.Line(std::to_string(t.Items.size()) + (t.Items.size() == 1 ? " item of " : " items of ") +
             std::to_string(t.Types.size()) + (t.Types.size() == 1 ? " type." : " types."));
}

void AddEntityTableJson(const TEntityTable& t, TJson& entry) {
    TJson items = TJson::array(), types = TJson::array();
    for (size_t row = 0; row < t.Items.size(); ++row) {
        TJson item = ItemJson(t.Items[row], t.Version, t.Form);
        TJson sectors = TJson::array();
        if (row < t.TriggeredBy.size())
            for (const TSectorRef& s : t.TriggeredBy[row])
                sectors.push_back({{"room", s.Room}, {"column", s.Column}, {"row", s.Row}});
        item["triggers"] = std::move(sectors);
        items.push_back(std::move(item));
    }
    for (const TTypeCount& c : t.Types) {
        const char* name = ItemTypeName(t.Version, c.Type);
        types.push_back({{"type", c.Type}, {"name", name ? TJson(name) : TJson(nullptr)}, {"count", c.Count}});
    }
    entry["entities"] = std::move(items);
    entry["types"] = std::move(types);
}

void WriteTypeList(const TTypeList& list, TConsole& out) {
    const std::string game = ItemGameName(list.Version);
    out.Line("Showing OBJECT TYPES of " + game + " levels:");
    out.Line("");
    const std::string holding = list.Part.empty() ? "" : " whose name holds \"" + list.Part + "\"";
    if (list.Rows.empty()) return out.Line("No object type of " + game + " levels has a name holding \"" + list.Part + "\".");
    TTextTable table({false, true, true});
    table.Row({"Type", "Name", "Model"});
    size_t models = 0;
    for (const TTypeList::TRow& row : list.Rows) {
        table.Row({std::to_string(row.Type), row.Name, YesNo(row.Model)});
        models += row.Model ? 1 : 0;
    }
    table.Print(out);
    out.Line("");
    out.Line(std::to_string(list.Rows.size()) + (list.Rows.size() == 1 ? " type" : " types") + holding + ", " +
             std::to_string(models) + " with a model or sprite in this level.");
}

void AddTypeListJson(const TTypeList& list, TJson& entry) {
    TJson types = TJson::array();
    for (const TTypeList::TRow& row : list.Rows)
        types.push_back({{"type", row.Type}, {"name", row.Name}, {"model", row.Model}});
    entry["game"] = ItemGameName(list.Version);
    entry["objectTypes"] = std::move(types);
}

void WriteItemChange(const TItemChange& c, bool dryRun, TConsole& out) {
    const std::string item = "Item " + std::to_string(c.After.Index);
    if (c.Removed) {
        out.Line(item + " removed: " + FieldsText(c.After, c.Version, c.Form));
        out.Line("Trigger actions renumbered: " + std::to_string(c.Renumbered) + ".");
        for (const std::string& note : c.Notes) out.Line("Note: " + note);
        if (dryRun) out.Line("The item would be removed; nothing was saved.");
        return;
    }
    out.Line(item + " before: " + (c.Before ? FieldsText(*c.Before, c.Version, c.Form) : "none (a new item)"));
    out.Line(item + " after:  " + FieldsText(c.After, c.Version, c.Form));
    for (const std::string& note : c.Notes) out.Line("Note: " + note);
    if (!dryRun) return;
    if (!c.Before) out.Line("The item would be added; nothing was saved.");
    else if (*c.Before == c.After) out.Line("The item would not change; nothing was saved.");
    else out.Line("The item would change; nothing was saved.");
}

TJson ItemChangeJson(const TItemChange& c, bool dryRun) {
    TJson item{{"index", c.After.Index},
               {"before", c.Before ? ItemJson(*c.Before, c.Version, c.Form) : TJson(nullptr)},
               {"after", c.Removed ? TJson(nullptr) : ItemJson(c.After, c.Version, c.Form)}};
    TJson j{{"items", TJson::array({item})}};
    if (c.Removed) j["renumbered"] = c.Renumbered;
    j["notes"] = c.Notes;
    if (dryRun) j["saved"] = false;
    return j;
}

} // namespace qm
