// libFuzzer target: see qmtest::FuzzRoundtrip in harness.h.
#include "harness.h"

QM_FUZZ_TARGET(qmtest::FuzzRoundtrip)
