// The one line sink of the tool: every message is one whole line, ended with
// CR LF and flushed at once. Nothing else writes to standard output.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qm {

class TConsole {
public:
    virtual ~TConsole() = default;
    // Writes text and the CR LF line end.
    virtual void Line(std::string_view text) = 0;
    // A line that only tells how far the run has got ("Loading Level..."):
    // written as any other, unless the run is quiet.
    virtual void Progress(std::string_view text) { Line(text); }
    // Text written as it is, line ends included (a JSON document).
    virtual void Raw(std::string_view text) = 0;
    // True once the reader of the output has gone (a closed pipe): nothing
    // written reaches anyone any more.
    virtual bool Closed() const { return false; }
};

// The console of a quiet run: progress lines are left out, every other line
// goes to the console it wraps.
class TQuietConsole : public TConsole {
public:
    explicit TQuietConsole(TConsole& inner) : Inner_(inner) {}
    void Line(std::string_view text) override { Inner_.Line(text); }
    void Progress(std::string_view) override {}
    void Raw(std::string_view text) override { Inner_.Raw(text); }
    bool Closed() const override { return Inner_.Closed(); }

private:
    TConsole& Inner_;
};

// Takes every line and keeps none: the progress of a run whose output is one
// JSON document.
class TNullConsole : public TConsole {
public:
    void Line(std::string_view) override {}
    void Raw(std::string_view) override {}
};

// Writes to a standard stream (binary mode, so the line end stays CR LF).
// A line that cannot be written is not retried; Failed() then tells. Once
// the reader of a pipe has gone (a write fails with EPIPE), nothing more is
// written and Closed() tells.
class TStreamConsole : public TConsole {
public:
    explicit TStreamConsole(std::FILE* stream);
    void Line(std::string_view text) override;
    void Raw(std::string_view text) override;
    // True once any write or flush of the stream has failed.
    bool Failed() const;
    // True once a write has failed because the pipe's reader is gone.
    bool Closed() const override;

private:
    void Flush();
    std::FILE* Stream_;
    bool Closed_ = false;
};

// Keeps the output, with its CR LF line ends, for tests.
class TStringConsole : public TConsole {
public:
    void Line(std::string_view text) override {
        Text.append(text);
        Text.append("\r\n");
    }
    void Raw(std::string_view text) override { Text.append(text); }
    std::string Text;
};

} // namespace qm
