// libFuzzer target: see qmtest::FuzzNumber in harness.h.
#include "harness.h"

QM_FUZZ_TARGET(qmtest::FuzzNumber)
