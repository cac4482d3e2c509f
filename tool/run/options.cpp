#include "options.h"

#include "textdistance.h"

#include <algorithm>

namespace qm {

namespace {

// One option: its spellings and what it sets, a flag or a value. A new option
// is one more row.
struct TOptionRow {
    const char* Short;  // "-q", or nullptr
    const char* Long;   // "--quiet"
    bool TOptions::*Flag = nullptr;
    std::string TOptions::*Value = nullptr;
    const char* Help = "";  // what it does, for the help: "FILE  the edited level ..."
};

// In the order of the help.
constexpr TOptionRow OptionRows[] = {
    {"-n", "--dry-run", &TOptions::DryRun, nullptr, "an edit shows what it would change; nothing is saved"},
    {"-b", "--backup", &TOptions::Backup, nullptr, "the level as it was is kept as NAME.bak"},
    {"-o", "--output", nullptr, &TOptions::Output, "FILE  the edited level is written to FILE, the level kept"},
    {nullptr, "--alternates", &TOptions::Alternates, nullptr, "an edit also edits the flip room of each room"},
    {nullptr, "--no-items", &TOptions::NoItems, nullptr, "/Map leaves the items out"},
    {nullptr, "--storey", nullptr, &TOptions::StoreyText, "N  /Map draws storey N only (1 the lowest)"},
    {"-j", "--jobs", nullptr, &TOptions::JobsText, "N  up to N levels worked on side by side"},
    {nullptr, "--json", &TOptions::Json, nullptr, "one JSON document instead of the text"},
    {"-q", "--quiet", &TOptions::Quiet, nullptr, "no banner and no progress lines"},
    {"-h", "--help", &TOptions::Help, nullptr, "this help"},
    {nullptr, "--version", &TOptions::Version, nullptr, "the version line"},
};

bool LooksLikeOption(const std::string& word) {
    return word.size() >= 2 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

const TOptionRow* FindOption(const std::string& word) {
    for (const TOptionRow& row : OptionRows)
        if ((row.Short && word == row.Short) || word == row.Long) return &row;
    return nullptr;
}

// A short option that takes a value, written with it ("-j2", "-olevel.tr4"),
// as getopt-style tools take it; nullptr for any other word.
const TOptionRow* AttachedValueOption(const std::string& word) {
    if (word.size() <= 2 || word[0] != '-' || word[1] == '-') return nullptr;
    const std::string name = word.substr(0, 2);
    for (const TOptionRow& row : OptionRows)
        if (row.Short && row.Value && name == row.Short) return &row;
    return nullptr;
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// A plain decimal count; 0 for anything else.
int JobCount(const std::string& text) {
    if (text.empty() || text.size() > 4) return 0;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

// A storey: a plain decimal from 1; -1 for anything else.
int StoreyNumber(const std::string& text) {
    if (text.empty() || text.size() > 6) return -1;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n >= 1 ? n : -1;
}

} // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine line;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        const size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, equals);
        if (optionsEnded || !LooksLikeOption(word)) {
            line.Positional.push_back(word);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (const TOptionRow* attached = AttachedValueOption(word)) {
            line.Options.*attached->Value = word.substr(2);
        } else if (const TOptionRow* row = FindOption(name); row && row->Value) {
            if (equals != std::string::npos) line.Options.*row->Value = word.substr(equals + 1);
            else if (i + 1 < args.size()) line.Options.*row->Value = args[++i];
            if (line.Options.*row->Value == "" && line.MissingValue.empty()) line.MissingValue = name;
        } else if (row && equals == std::string::npos) {
            line.Options.*row->Flag = true;
        } else if (line.Unknown.empty()) {
            line.Unknown = word;
        }
    }
    if (!line.Options.JobsText.empty()) line.Options.Jobs = JobCount(line.Options.JobsText);
    if (!line.Options.StoreyText.empty()) line.Options.Storey = StoreyNumber(line.Options.StoreyText);
    return line;
}

std::vector<std::string> OptionHelpLines() {
    std::vector<std::string> lines = {"Options, anywhere on the line (-- ends them):"};
    for (const TOptionRow& row : OptionRows) {
        const std::string help = row.Help;
        const size_t value = help.find("  ");  // "N  what it does": the value's name first
        std::string names = row.Short ? std::string(row.Short) + ", " + row.Long : std::string("    ") + row.Long;
        if (value != std::string::npos) names.append(" ").append(help, 0, value);
        names.resize(std::max<size_t>(names.size() + 1, 20), ' ');
        lines.push_back(names + (value != std::string::npos ? help.substr(value + 2) : help));
    }
    return lines;
}

std::string LikelyOption(const std::string& word) {
    const std::string lower = Lower(word);
    std::string best;
    size_t bestDistance = 3;  // more edits than two is not a typing slip
    for (const TOptionRow& row : OptionRows)
        for (const char* spelling : {row.Short, row.Long}) {
            if (!spelling) continue;
            const size_t d = EditDistance(lower, spelling);
            if (d < bestDistance && (d == 0 || std::string(spelling).size() > 2)) bestDistance = d, best = spelling;
        }
    return best;
}

} // namespace qm
