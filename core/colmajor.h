// Column-major matrix helpers, private to the fitting core.
//
// A rows x cols matrix is a plain array of doubles stored column by column;
// in idx, mat_col and frob rows and columns count from 1 (row_sum4's k from
// 0), and all offsets are 32-bit. They are part of the fit's exact
// arithmetic: the summation orders of frob and row_sum4 and the single
// comparisons in sign and get_max decide the result bits, signed zeros and
// NaN handling, so do not "simplify" them. The core's step uses sign and
// get_max; the plain reference (tests/reference) is written with all of
// them, and the core's sums reproduce frob's order (dovex_approx.cpp).
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

// sum_k term(k) for k < ns in four running sums, row k's term added to part
// k mod 4, each from +0.0 in row order, and then (part0 + part1) + (part2 +
// part3). Four sums rather than one let the additions overlap (one sum's
// chain of additions is what a loop over the samples waits on); the order
// is written out here, as every order in the core is. The block and
// optimum methods sum over the samples with it.
template <typename Term> inline double row_sum4(std::int32_t ns, Term term)
{
    double part0 = 0.0, part1 = 0.0, part2 = 0.0, part3 = 0.0;
    std::int32_t k = 0;
    for (; k + 4 <= ns; k += 4) {
        part0 = term(k) + part0;
        part1 = term(k + 1) + part1;
        part2 = term(k + 2) + part2;
        part3 = term(k + 3) + part3;
    }
    if (k < ns)
        part0 = term(k) + part0;
    if (k + 1 < ns)
        part1 = term(k + 1) + part1;
    if (k + 2 < ns)
        part2 = term(k + 2) + part2;
    return (part0 + part1) + (part2 + part3);
}

#endif
