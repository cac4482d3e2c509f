// libFuzzer target: see qmtest::FuzzPicture in picture_harness.h.
#include "harness.h"
#include "picture_harness.h"

QM_FUZZ_TARGET(qmtest::FuzzPicture)
