#include "base/muldiv.h"

#include <cstdint>

extern "C" INT MulDiv(INT number, INT numerator, INT denominator) {
    if (denominator == 0) return -1;
    const int64_t product = static_cast<int64_t>(number) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    // Magnitudes fit: |product| <= 2^62 and |denominator| <= 2^31.
    const uint64_t p = product < 0 ? 0 - static_cast<uint64_t>(product) : static_cast<uint64_t>(product);
    const uint64_t d = denominator < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(denominator))
                                       : static_cast<uint64_t>(denominator);
    const uint64_t q = (p + d / 2) / d;
    if (negative) {
        if (q > uint64_t{0x80000000}) return -1;
        return static_cast<INT>(-static_cast<int64_t>(q));
    }
    if (q > uint64_t{0x7FFFFFFF}) return -1;
    return static_cast<INT>(q);
}
