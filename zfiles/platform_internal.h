// What the two systems' platform files share: the mapping of C error numbers
// (which the test seam speaks on both systems, so a test that simulates ENOSPC
// means the same everywhere), the call of the seam and the write piece size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "errors.h"
#include "platform.h"

namespace qm::detail {

// The runtime's codes for the system errors that have one; every other error
// keeps the system's own number.
EInOutError ErrorFromErrno(int e, std::string where);

// Asks the test seam before a step of a store; a code from it fails that step
// with the error of that number, placed at where.
void AskFaultHook(TStoreStep step, int64_t written, const std::string& where);

// The code the test seam gives for a step, or 0; never throws.
int FaultHookCode(TStoreStep step, int64_t written);

// The error a store reports when the target is no longer the file that was
// loaded.
[[noreturn]] void ThrowChangedOnDisk(const std::string& where);

// The largest piece handed to one write call: well below every system's
// per-call limit, and small enough that a failing disk is noticed early.
constexpr size_t WritePiece = size_t{1} << 20;

} // namespace qm::detail
