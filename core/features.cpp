// What the fit learns about X once per call, one column (feature) at a
// time: its curvature bound, whether it is finite, and, for a column with
// enough zeros, the rows where it is not zero.
#include "fit.h"

#include <cmath>

namespace {

// The number of rows of column x that are not zero (NaN included).
std::int32_t count_nonzero(const double *x, std::int32_t ns)
{
    std::int32_t n = 0;
    for (std::int32_t k = 0; k < ns; k++)
        n += x[k] != 0;
    return n;
}

// A list of a column's non-zero rows pays for itself when at least one row
// in eight is zero.
bool worth_listing(std::int32_t nonzero, std::int32_t ns)
{
    return 8 * static_cast<std::int64_t>(nonzero) <= 7 * static_cast<std::int64_t>(ns);
}

// The curvature bound of a feature whose (weighted) sum of squares is s:
// -1/2 (1 - 1/ny) s, the factor evaluated first, as the bits require, or
// dovex_solve's -1/4 s (its newton curvature starts from it too). A sample weight multiplies its square, s_k (x x),
// which with every weight 1 is the unweighted sum's bits.
double bound(const problem &p, double s)
{
    if (p.curvature != solve_options::classes)
        return -0.25 * s;
    return ((-1.0 / p.ny) + 1.0) * (-0.5) * s;
}

// What learn_features finds for a compressed X. The rows not stored would
// each add +0.0 * +0.0 = +0.0 to the sum of squares, which changes no sum
// that started at +0.0 (it is never -0.0), so only the stored values are
// summed, in the same row order. Every feature counts as listed: its stored
// rows hold all its non-zero ones.
void learn_compressed_features(work &w, const problem &p)
{
    const compressed &X = *p.Xc;
    for (std::int32_t i = 0; i < p.nd; i++) {
        double s = 0.0;
        bool finite = true;
        if (p.weights)
            for (std::int32_t m = X.at[i]; m < X.at[i + 1]; m++) {
                const double x = X.values[m];
                s = p.weights[X.rows[m]] * (x * x) + s;
                finite = finite && std::isfinite(x);
            }
        else
            for (std::int32_t m = X.at[i]; m < X.at[i + 1]; m++) {
                const double x = X.values[m];
                s = x * x + s;
                finite = finite && std::isfinite(x);
            }
        w.bound_diag[i] = bound(p, s);
        w.features.finite[i] = finite;
        w.features.listed[i] = true;
    }
}

// For the newton curvature, the longest move of weight (i, j) over which
// the bound with twice the current curvature holds: a move by r changes
// X(k,i) W(i,j) by at most |X(k,i)| r and so p(k,j) and 1 - p(k,j) by at
// most a factor exp(|X(k,i)| r) each, and p (1 - p), which is at most
// their minimum, by no more than exp(0.69) < 2 for r = 0.69 / max_k |X(k,i)|.
// A column that is not finite gets no such move.
void learn_reach(work &w, const problem &p)
{
    for (std::int32_t i = 0; i < p.nd; i++) {
        double top = 0.0;
        bool finite = true;
        const std::int32_t first = p.Xc ? p.Xc->at[i] : 0, end = p.Xc ? p.Xc->at[i + 1] : p.ns;
        const double *x = p.Xc ? p.Xc->values : p.X + p.ns * i;
        for (std::int32_t m = first; m < end; m++) {
            const double a = std::fabs(x[m]);
            top = a > top ? a : top;
            finite = finite && std::isfinite(a);
        }
        w.reach[i] = finite ? 0.69 / top : 0.0;
    }
}

} // namespace

// The length of the row lists of a full X, known before learn_features
// fills them, so that their memory comes with the rest of the work arrays.
std::int32_t listed_row_count(const double *X, std::int32_t nd, std::int32_t ns)
{
    std::int32_t n = 0;
    for (std::int32_t i = 0; i < nd; i++) {
        const std::int32_t nonzero = count_nonzero(X + ns * i, ns);
        if (worth_listing(nonzero, ns))
            n += nonzero;
    }
    return n;
}

// For each feature i: bound_diag[i] = -1/2 (1 - 1/ny) sum_k X(k,i)^2, with
// the sum taken from 0.0 in sample order (see bound); whether the column is
// finite; and its row list.
void learn_features(work &w, const problem &p)
{
    if (w.reach)
        learn_reach(w, p);
    if (p.Xc) {
        learn_compressed_features(w, p);
        return;
    }
    feature_facts &f = w.features;
    std::int32_t n = 0;
    for (std::int32_t i = 0; i < p.nd; i++) {
        const double *x = p.X + p.ns * i;
        double s = 0.0;
        bool finite = true;
        if (p.weights)
            for (std::int32_t k = 0; k < p.ns; k++) {
                s = p.weights[k] * (x[k] * x[k]) + s;
                finite = finite && std::isfinite(x[k]);
            }
        else
            for (std::int32_t k = 0; k < p.ns; k++) {
                s = x[k] * x[k] + s;
                finite = finite && std::isfinite(x[k]);
            }
        w.bound_diag[i] = bound(p, s);
        f.finite[i] = finite;
        f.listed[i] = worth_listing(count_nonzero(x, p.ns), p.ns);
        f.at[i] = n;
        if (f.listed[i])
            for (std::int32_t k = 0; k < p.ns; k++)
                if (x[k] != 0)
                    f.rows[n++] = k;
    }
    f.at[p.nd] = n;
}
