// libFuzzer target: see qmtest::FuzzLoad in harness.h.
#include "harness.h"

QM_FUZZ_TARGET(qmtest::FuzzLoad)
