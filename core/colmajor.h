// Column-major matrix helpers, private to the fitting core.
//
// A rows x cols matrix is a plain array of doubles stored column by column;
// in these helpers rows and columns count from 1, and all offsets are 32-bit.
// They are part of the fit's exact arithmetic: frob's summation order and
// the single comparisons in sign and get_max decide the result bits, signed
// zeros and NaN handling, so do not "simplify" them. The core's step uses
// sign and get_max; the plain reference (tests/reference) is written with
// all five, and the core's sums reproduce frob's order (dovex_approx.cpp).
#ifndef DOVEX_CORE_COLMAJOR_H
#define DOVEX_CORE_COLMAJOR_H

#include <cmath>
#include <cstdint>

// Offset of element (row, col) in a matrix with `rows` rows. No range check.
static inline std::int32_t idx(std::int32_t row, std::int32_t col, std::int32_t rows)
{
    return row + rows * (col - 1) - 1;
}

// dst[0 .. rows-1] = column `col` of src; nothing is copied when rows <= 0.
static inline void mat_col(double *dst, const double *src, std::int32_t col, std::int32_t rows)
{
    const std::int32_t first = rows * (col - 1);
    const std::int32_t last = rows * col;
    for (std::int32_t k = first; k < last; k++)
        dst[k - first] = src[k];
}

// Frobenius norm, summed row by row (stride `rows`): the order of the
// additions is part of the result.
static inline double frob(const double *m, std::int32_t rows, std::int32_t cols)
{
    double sum = 0.0;
    for (std::int32_t r = 1; r <= rows; r++)
        for (std::int32_t c = 1; c <= cols; c++) {
            const double v = m[idx(r, c, rows)];
            sum = v * v + sum;
        }
    return std::sqrt(sum);
}

// +1 for x >= 0 (both zeros included), -1 otherwise (NaN included).
static inline int sign(double x)
{
    return x >= 0 ? 1 : -1;
}

// a when b <= a (a on a tie), otherwise b (b whenever either is NaN).
static inline double get_max(double a, double b)
{
    return b <= a ? a : b;
}

#endif
