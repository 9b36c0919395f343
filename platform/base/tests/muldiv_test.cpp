#include <gtest/gtest.h>

#include <climits>

#include "base/muldiv.h"

namespace {

struct Case {
    int number, numerator, denominator, expected;
};

// Expected values worked out by hand: exact 64-bit product, then the
// quotient rounded half away from zero.
TEST(MulDiv, RoundsHalfAwayFromZero) {
    const Case cases[] = {
        {1, 1, 2, 1},        {3, 1, 2, 2},        {5, 1, 2, 3},      {-1, 1, 2, -1},     {-3, 1, 2, -2},
        {1, -1, 2, -1},      {1, 1, -2, -1},      {-1, -1, 2, 1},    {-5, 1, -2, 3},     {1, 1, 3, 0},
        {2, 1, 3, 1},        {-2, 1, 3, -1},      {100, 254, 1200, 21}, {850, 254, 1200, 180},
        {2100, 1200, 254, 9921}, {215900, 1200, 25400, 10200}, {14, 600, 72, 117}, {0, 5, 7, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MulDiv(c.number, c.numerator, c.denominator), c.expected)
            << c.number << " * " << c.numerator << " / " << c.denominator;
}

TEST(MulDiv, UsesTheFullProduct) {
    const Case cases[] = {
        {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
        {INT_MAX, 2, 4, 1073741824},  // 2^32 - 2 over 4, half rounds up
        {1 << 30, 1 << 30, 1 << 30, 1 << 30},
        {INT_MIN, 1, 1, INT_MIN},
        {INT_MIN, INT_MIN, INT_MIN, INT_MIN},
        {-(1 << 30), 4, 2, INT_MIN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MulDiv(c.number, c.numerator, c.denominator), c.expected)
            << c.number << " * " << c.numerator << " / " << c.denominator;
}

TEST(MulDiv, MinusOneForZeroDivisorOrOverflow) {
    const Case cases[] = {
        {1, 1, 0, -1},
        {0, 0, 0, -1},
        {INT_MAX, 2, 1, -1},
        {INT_MAX, INT_MAX, 1, -1},
        {INT_MIN, 1, -1, -1},  // 2^31 does not fit
        {INT_MIN, 2, 1, -1},
        {1 << 30, 4, 2, -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MulDiv(c.number, c.numerator, c.denominator), c.expected)
            << c.number << " * " << c.numerator << " / " << c.denominator;
}

}  // namespace
