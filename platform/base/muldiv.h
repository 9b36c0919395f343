// MulDiv as Windows computes it.
#pragma once

#include "base/types.h"

extern "C" {

// number * numerator / denominator with a 64-bit product, rounded half away
// from zero; -1 when the denominator is 0 or the result does not fit in 32
// bits.
INT MulDiv(INT number, INT numerator, INT denominator);

}  // extern "C"
