// The runtime errors shared by the buffered file, the level model and the tool.
//
// Every error carries its fixed message text (without the closing full stop; the
// tool's error report adds it) and, separately, an optional place description
// ("byte 1234 of the level data chunk: room 12, vertices") that the report prints
// on a line of its own under the message.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qm {

class EQuillError : public std::runtime_error {
public:
    explicit EQuillError(const std::string& message, std::string where = {})
        : std::runtime_error(message), Where(std::move(where)) {}
    // Where the error happened, for the report's second line; empty when unknown.
    std::string Where;
    // What the user probably has to put right, for a line under the place; empty
    // when nothing more can be said.
    std::string Hint;
};

// Input/output errors with the runtime's error codes.
class EInOutError : public EQuillError {
public:
    EInOutError(int code, std::string where = {})
        : EQuillError(TextOf(code), std::move(where)), Code(code) {}
    int Code;

    enum : int {
        FileNotFound = 2,
        InvalidFilename = 3,
        TooManyOpenFiles = 4,
        AccessDenied = 5,
        ReadBeyondEnd = 100,
        DiskFull = 101,
    };

    // An operating-system error that has no runtime code of its own: Code is the
    // system's error number and the text is always "I/O error <number>", also when
    // that number happens to equal one of the codes above (EIO is 5 on POSIX,
    // which must not read as "File access denied").
    static EInOutError SystemError(int systemCode, std::string where = {}) {
        return EInOutError(RawCode{}, systemCode, std::move(where));
    }

    static std::string TextOf(int code) {
        switch (code) {
        case FileNotFound: return "File not found";
        case InvalidFilename: return "Invalid filename";
        case TooManyOpenFiles: return "Too many open files";
        case AccessDenied: return "File access denied";
        case ReadBeyondEnd: return "Read beyond end of file";
        case DiskFull: return "Disk full";
        default: return "I/O error " + std::to_string(code);
        }
    }

private:
    struct RawCode {};
    EInOutError(RawCode, int code, std::string where)
        : EQuillError("I/O error " + std::to_string(code), std::move(where)), Code(code) {}
};

class EOutOfMemory : public EQuillError {
public:
    explicit EOutOfMemory(std::string where = {}) : EQuillError("Out of memory", std::move(where)) {}
};

// An impossible count: negative, or a byte size that does not fit in 32 bits.
class ERangeError : public EQuillError {
public:
    explicit ERangeError(std::string where = {}) : EQuillError("Range check error", std::move(where)) {}
};

// A command-line argument that is not a valid number.
class EConvertError : public EQuillError {
public:
    explicit EConvertError(const std::string& text)
        : EQuillError("'" + text + "' is not a valid integer value") {}
};

class ECompressionError : public EQuillError {
public:
    explicit ECompressionError(std::string where = {}) : EQuillError("error", std::move(where)) {}
};

class EDecompressionError : public EQuillError {
public:
    explicit EDecompressionError(std::string where = {}) : EQuillError("error", std::move(where)) {}
};

// A level whose content the model cannot hold (a room count above the room
// record's limits, TR4-family pages missing). The message is a whole sentence.
class ELevelError : public EQuillError {
public:
    explicit ELevelError(const std::string& message, std::string where = {})
        : EQuillError(message, std::move(where)) {}
};

} // namespace qm
