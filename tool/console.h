// The one line sink of the tool: every message is one whole line, ended with
// CR LF and flushed at once. Nothing else writes to standard output.
#pragma once

#include <string>
#include <string_view>

namespace qm {

class TConsole {
public:
    virtual ~TConsole() = default;
    // Writes text and the CR LF line end.
    virtual void Line(std::string_view text) = 0;
};

// Writes to standard output (binary mode, so the line end stays CR LF).
class TStdoutConsole : public TConsole {
public:
    TStdoutConsole();
    void Line(std::string_view text) override;
};

// Keeps the output, with its CR LF line ends, for tests.
class TStringConsole : public TConsole {
public:
    void Line(std::string_view text) override {
        Text.append(text);
        Text.append("\r\n");
    }
    std::string Text;
};

} // namespace qm
