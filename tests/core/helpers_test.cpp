// The column-major helpers decide signed zeros, NaN handling and the exact
// bits of the convergence measure, so their edge behaviour is pinned here.
#include "colmajor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {
const double nan_v = std::numeric_limits<double>::quiet_NaN();
}

TEST(Helpers, IdxIsColumnMajorAndOneBased)
{
    EXPECT_EQ(idx(1, 1, 7), 0);
    EXPECT_EQ(idx(5, 1, 7), 4);
    EXPECT_EQ(idx(1, 2, 7), 7);
    EXPECT_EQ(idx(3, 4, 7), 2 + 7 * 3);
}

TEST(Helpers, MatColCopiesOneColumnAndNothingForNoRows)
{
    const std::vector<double> src = {1, 2, 3, 4, 5, 6}; // 3 x 2
    std::vector<double> dst(4, -1.0);
    mat_col(dst.data(), src.data(), 2, 3);
    EXPECT_EQ(dst, (std::vector<double>{4, 5, 6, -1}));

    std::vector<double> untouched(2, -1.0);
    mat_col(untouched.data(), src.data(), 2, 0);
    mat_col(untouched.data(), src.data(), 2, -3);
    EXPECT_EQ(untouched, (std::vector<double>{-1, -1}));
}

TEST(Helpers, FrobOfEmptyZeroAndNaN)
{
    const std::vector<double> z(6, 0.0);
    EXPECT_EQ(frob(z.data(), 0, 3), 0.0);
    EXPECT_EQ(frob(z.data(), 3, 0), 0.0);
    EXPECT_EQ(frob(z.data(), 2, 3), 0.0);
    std::vector<double> m = {3, 0, 0, 4};
    EXPECT_EQ(frob(m.data(), 2, 2), 5.0);
    m[2] = nan_v;
    EXPECT_TRUE(std::isnan(frob(m.data(), 2, 2)));
}

TEST(Helpers, FrobSumsRowByRow)
{
    // Row 1 holds 1024 ones, row 2 starts with 2^27 (square 2^54, ulp 4).
    // Row by row the ones add up to 1024 first and survive; summed column by
    // column each 1 is added to 2^54 alone and rounds away.
    const int cols = 1024;
    std::vector<double> m(2 * cols, 0.0);
    for (int c = 1; c <= cols; c++)
        m[idx(1, c, 2)] = 1.0;
    m[idx(2, 1, 2)] = std::ldexp(1.0, 27);
    EXPECT_EQ(frob(m.data(), 2, cols), std::sqrt(std::ldexp(1.0, 54) + 1024.0));
    EXPECT_NE(frob(m.data(), 2, cols), std::ldexp(1.0, 27));
}

TEST(Helpers, SignTreatsBothZerosAsPositiveAndNaNAsNegative)
{
    EXPECT_EQ(sign(0.0), 1);
    EXPECT_EQ(sign(-0.0), 1);
    EXPECT_EQ(sign(2.0), 1);
    EXPECT_EQ(sign(-1e-300), -1);
    EXPECT_EQ(sign(nan_v), -1);
}

TEST(Helpers, GetMaxKeepsFirstOnTieAndPassesNaN)
{
    EXPECT_FALSE(std::signbit(get_max(0.0, -0.0)));
    EXPECT_TRUE(std::signbit(get_max(-0.0, 0.0)));
    EXPECT_EQ(get_max(0.0, 2.5), 2.5);
    EXPECT_EQ(get_max(0.0, -2.5), 0.0);
    EXPECT_TRUE(std::isnan(get_max(0.0, nan_v)));
    EXPECT_EQ(get_max(nan_v, 1.0), 1.0);
}
