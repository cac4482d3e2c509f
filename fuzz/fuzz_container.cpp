// libFuzzer target: see qmtest::FuzzContainer in harness.h.
#include "harness.h"

QM_FUZZ_TARGET(qmtest::FuzzContainer)
