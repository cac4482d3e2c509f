// The options of a run, taken out of the command line before the positional
// arguments (levels, function switch, values) are read. Options may stand
// anywhere; "--" ends them; a word that starts with "-" and a digit is a value
// (a negative number), never an option. An option that takes a value takes the
// next word ("-o FILE") or what follows "=" ("--output=FILE").
#pragma once

#include <string>
#include <vector>

namespace qm {

struct TOptions {
    bool Help = false;     // -h, --help
    bool Version = false;  // --version
    bool Quiet = false;    // -q, --quiet: no banner and no progress lines
    bool DryRun = false;   // -n, --dry-run: an edit shows what it would change and saves nothing
    bool Backup = false;   // -b, --backup: the level as it was is kept as NAME.bak
    bool Json = false;     // --json: one JSON document instead of the text
    bool Alternates = false;  // --alternates: an edit also edits the flip room of each room in its range
    bool NoItems = false;  // --no-items: /Map leaves the items out
    std::string Output;    // -o, --output FILE: the edited level is written there, the level kept
    std::string JobsText;  // -j, --jobs N as given
    std::string StoreyText;  // --storey N as given
    int Storey = 0;        // N: /Map draws storey N only; 0 for every storey, -1 when N is not a number
    int Jobs = 1;          // N: up to N levels worked on side by side; 0 when N is not a number
};

struct TCommandLine {
    TOptions Options;
    std::vector<std::string> Positional;  // the other arguments, in order
    std::string Unknown;                  // the first word that looks like an option but is none
    std::string MissingValue;             // the first option given without the value it needs
};

TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The lines of the help that list the options, a heading first.
std::vector<std::string> OptionHelpLines();

// A known option that the unknown word was most likely meant to be ("--quiet"
// for "--Quiet" or "--quite"), or empty.
std::string LikelyOption(const std::string& word);

} // namespace qm
