// Reading and moving the predictor state XW, E = exp(XW) and Z (the row sums
// of E): the gradient of one weight, and the upkeep after one weight moved.
//
// Both leave out work whose result is known to the bit, and only that: a
// shortcut is taken only where the full computation would provably give
// every value its own bits again, and everything else (non-finite values,
// signed zeros, exp overflow, a caller's E that is not exactly exp(XW)) takes
// the full path. What the shortcuts rest on is kept here and nowhere else:
//   - tame: every |Y(k,j)| and |E(k,j)| is at most 2^500 and every Z(k) at
//     least 2^-500, so every E/Z is at most 2^1000 in magnitude, Y - E/Z is
//     finite and no Z is a zero of either sign;
//   - exact[j]: column j of E holds exp's own bits for column j of XW, and
//     that column of XW holds no -0.0;
//   - the facts about X's columns (features.cpp): finite, and the rows
//     where a listed column is not zero; a compressed X lists its own
//     stored rows, which hold every non-zero one (and maybe stored zeros,
//     which the shortcuts treat as they treat any zero of X).
//
// Two identities carry every shortcut. A sum s that started at +0.0 and has
// only had values added to it is never -0.0 (a sum is -0.0 only when both
// terms are), so s + (+-0.0) is s. And (v - z) + z' with zeros z, z' is v for
// every v but -0.0 (which can come out +0.0) and NaN: so a row whose XW(k,j)
// is moved by zeros keeps its bits, exp would give back E(k,j)'s, and Z(k)
// gains E - E = +0.0, which leaves it as it is, provided XW(k,j) is no -0.0,
// E(k,j) is finite and Z(k) is no zero.
#include "fit.h"
#include "glibc_compat.h"

#include <cmath>
#include <cstring>

namespace {

const double tame_big = 0x1p500;
const double tame_small = 0x1p-500;

// The bits of v, so that -0.0 and +0.0 (and NaNs) are told apart.
inline std::uint64_t bits_of(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

bool any_negative_zero(const double *v, std::int32_t n)
{
    for (std::int32_t k = 0; k < n; k++)
        if (v[k] == 0 && std::signbit(v[k]))
            return true;
    return false;
}

// One row of the upkeep, in full, with x = X(k,i): the old contribution
// taken out, the new one put in, in this order. Returns whether the row is
// still tame.
inline bool move_row(std::int32_t k, double *xw, double *e, double *Z, double x, double w_old,
                     double w_new)
{
    xw[k] = (xw[k] - w_old * x) + w_new * x;
    const double ek = std::exp(xw[k]);
    const double zk = (ek - e[k]) + Z[k];
    Z[k] = zk;
    e[k] = ek;
    return (ek <= tame_big) & (zk >= tame_small);
}

// move_row in a tame state on an exact column. When XW(k,j) comes out with
// its own bits, exp would give back E(k,j)'s bits and Z(k) would gain +0.0,
// so the row is left as it is and exp is not called: most rows of a visit
// that keeps a non-zero weight, or moves it by less than XW's last bit.
inline bool move_row_exact(std::int32_t k, double *xw, double *e, double *Z, double x,
                           double w_old, double w_new)
{
    const double moved = (xw[k] - w_old * x) + w_new * x;
    if (bits_of(moved) == bits_of(xw[k]))
        return true;
    xw[k] = moved;
    const double ek = std::exp(moved);
    const double zk = (ek - e[k]) + Z[k];
    Z[k] = zk;
    e[k] = ek;
    return (ek <= tame_big) & (zk >= tame_small);
}

// Row k's term of g, (Y - E/Z) X, or with dovex_solve's sample weights s,
// s_k ((Y - E/Z) X). A row where X is a zero adds a zero either way as long
// as Y - E/Z is finite (s_k always is), so the weights keep every shortcut;
// with every weight 1 the terms have the unweighted bits.
template <bool weighted>
inline double term(const double *s, std::int32_t k, double y, double e, double z, double x)
{
    const double t = (y - e / z) * x;
    return weighted ? s[k] * t : t;
}

// Row k's share of g and, for dovex_solve's newton curvature (curved), of
// the current curvature along the weight, s_k X(k,i)^2 min(p, 1 - p) with
// p = E/Z, which bounds s_k X(k,i)^2 p (1 - p).
template <bool weighted, bool curved>
inline void add_row(const double *s, std::int32_t k, double y, double e, double z, double x,
                    double &g, double &a)
{
    g = term<weighted>(s, k, y, e, z, x) + g;
    if (curved) {
        const double p = e / z, q = 1.0 - p;
        const double c = (x * x) * (p < q ? p : q);
        a = (weighted ? s[k] * c : c) + a;
    }
}

// g's sum over every row, for column x of X.
template <bool weighted, bool curved>
inline double gradient_all_rows(const double *x, const double *y, const double *e,
                                const double *Z, const double *s, std::int32_t ns, double &a)
{
    double g = 0.0;
    for (std::int32_t k = 0; k < ns; k++)
        add_row<weighted, curved>(s, k, y[k], e[k], Z[k], x[k], g, a);
    return g;
}

// The upkeep of every row (paths 3 and 4 of upkeep) for column x of X;
// returns whether every row stayed tame.
inline bool upkeep_all_rows(state_facts &s, const double *x, double *xw, double *e, double *Z,
                            std::int32_t ns, std::int32_t j, bool exact, double w_old,
                            double w_new)
{
    bool tame = true;
    if (exact) {
        for (std::int32_t k = ns - 1; k >= 0; k--)
            tame &= move_row_exact(k, xw, e, Z, x[k], w_old, w_new);
    } else {
        for (std::int32_t k = ns - 1; k >= 0; k--)
            tame &= move_row(k, xw, e, Z, x[k], w_old, w_new);
        s.exact[j] = s.exact[j] || !any_negative_zero(xw, ns);
    }
    return tame;
}

// Column i of a compressed X with all ns rows, for the paths that walk
// every row: full(X)'s column spread into x_col, which clear_column sets
// back to all +0.0, as mxCalloc gave it. Those paths then run on exactly
// the values the call on full(X) sees, +0.0 in every row not stored, at
// the cost of two passes over the stored rows beside the one over all.
inline const double *spread_column(const work &w, const compressed &X, std::int32_t i)
{
    for (std::int32_t m = X.at[i]; m < X.at[i + 1]; m++)
        w.x_col[X.rows[m]] = X.values[m];
    return w.x_col;
}

inline void clear_column(const work &w, const compressed &X, std::int32_t i)
{
    for (std::int32_t m = X.at[i]; m < X.at[i + 1]; m++)
        w.x_col[X.rows[m]] = 0.0;
}

// g = sum_k (Y(k,j) - E(k,j)/Z(k)) X(k,i), from 0.0 in sample order, which
// the bits depend on. A row where X(k,i) is zero adds (Y - E/Z) * +-0.0, a
// zero as long as Y - E/Z is finite: in a tame state a listed column's
// other rows are left out.
template <bool weighted, bool curved = false>
double full_gradient(const work &w, const problem &p, std::int32_t i, std::int32_t j,
                     double &a)
{
    const double *x = p.X + p.ns * i;
    const double *y = p.Y + p.ns * j;
    const double *e = p.E + p.ns * j;
    const double *Z = p.Z, *s = p.weights;
    if (w.state.tame && w.features.listed[i]) {
        const std::int32_t *rows = w.features.rows + w.features.at[i];
        const std::int32_t n = w.features.at[i + 1] - w.features.at[i];
        double g = 0.0;
        for (std::int32_t m = 0; m < n; m++) {
            const std::int32_t k = rows[m];
            add_row<weighted, curved>(s, k, y[k], e[k], Z[k], x[k], g, a);
        }
        return g;
    }
    return gradient_all_rows<weighted, curved>(x, y, e, Z, s, p.ns, a);
}

// The gradient for a compressed X, whose stored rows are its list: in a
// tame state the stored values in their rows' order, otherwise the sum
// over full(X)'s column.
template <bool weighted, bool curved = false>
double stored_gradient(const work &w, const problem &p, std::int32_t i, std::int32_t j,
                       double &a)
{
    const compressed &X = *p.Xc;
    const double *y = p.Y + p.ns * j;
    const double *e = p.E + p.ns * j;
    const double *Z = p.Z, *s = p.weights;
    if (w.state.tame) {
        const std::int32_t *rows = X.rows + X.at[i];
        const double *x = X.values + X.at[i];
        const std::int32_t n = X.at[i + 1] - X.at[i];
        double g = 0.0;
        for (std::int32_t m = 0; m < n; m++) {
            const std::int32_t k = rows[m];
            add_row<weighted, curved>(s, k, y[k], e[k], Z[k], x[m], g, a);
        }
        return g;
    }
    const double g =
        gradient_all_rows<weighted, curved>(spread_column(w, X, i), y, e, Z, s, p.ns, a);
    clear_column(w, X, i);
    return g;
}

} // namespace

// Once the state is tame, every row the upkeep writes is checked, so the
// whole state is checked again only while it is not.
void recheck_tame(state_facts &s, const problem &p)
{
    if (s.tame)
        return;
    bool tame = true;
    for (std::int32_t k = 0; k < p.ns; k++)
        tame = tame && p.Z[k] >= tame_small;
    for (std::int32_t kj = 0; kj < p.ns * p.nc; kj++)
        tame = tame && std::fabs(p.Y[kj]) <= tame_big && std::fabs(p.E[kj]) <= tame_big;
    s.tame = tame;
}

double gradient(const work &w, const problem &p, std::int32_t i, std::int32_t j)
{
    double unused = 0.0;
    return full_gradient<false>(w, p, i, j, unused);
}

double compressed_gradient(const work &w, const problem &p, std::int32_t i, std::int32_t j)
{
    double unused = 0.0;
    return stored_gradient<false>(w, p, i, j, unused);
}

double solve_gradient(const work &w, const problem &p, std::int32_t i, std::int32_t j,
                      double *curvature)
{
    double unused = 0.0;
    if (!curvature) {
        if (p.weights)
            return p.Xc ? stored_gradient<true>(w, p, i, j, unused)
                        : full_gradient<true>(w, p, i, j, unused);
        return p.Xc ? stored_gradient<false>(w, p, i, j, unused)
                    : full_gradient<false>(w, p, i, j, unused);
    }
    *curvature = 0.0;
    if (p.weights)
        return p.Xc ? stored_gradient<true, true>(w, p, i, j, *curvature)
                    : full_gradient<true, true>(w, p, i, j, *curvature);
    return p.Xc ? stored_gradient<false, true>(w, p, i, j, *curvature)
                : full_gradient<false, true>(w, p, i, j, *curvature);
}

// After W(i,j) moved from w_old to w_new (or stayed), for every sample k:
//     XW(k,j) = (XW(k,j) - w_old X(k,i)) + w_new X(k,i)
//     Z(k)    = (exp(XW(k,j)) - E(k,j)) + Z(k),   E(k,j) = exp(XW(k,j)),
// through the cheapest of four paths that all give these bits:
//   1. a zero weight that stays zero, times a finite column, moves XW by
//      zeros: with the state tame and the column exact, nothing changes;
//   2. finite weights times X's zeros are zeros too: with the state tame,
//      the column exact and the feature's rows listed, only those rows move;
//   3. with the state tame and the column exact, every row, but exp only
//      where XW's bits change;
//   4. otherwise every row in full, after which the column is exact unless
//      it holds a -0.0 (the upkeep makes a -0.0 only out of a -0.0).
// Every path keeps exact[j] true once it is; 2 to 4 lose tame when a row's E
// grows past 2^500 or its Z falls below 2^-500, and tame then stays lost
// until the next sweep's recheck.
//
// Each row is moved on its own, so the order of the rows changes no bit.
// The loops count down to zero, which spares them a register for their end
// and so keeps what they carry out of memory around every exp call.
void upkeep(work &w, const problem &p, std::int32_t i, std::int32_t j, double w_old, double w_new)
{
    state_facts &s = w.state;
    const feature_facts &f = w.features;
    const bool exact = s.tame && s.exact[j];
    if (exact && w_old == 0 && w_new == 0 && f.finite[i])
        return;

    const double *x = p.X + p.ns * i;
    double *xw = p.XW + p.ns * j;
    double *e = p.E + p.ns * j;
    double *Z = p.Z;
    bool tame = true;
    if (exact && f.listed[i] && std::isfinite(w_old) && std::isfinite(w_new)) {
        const std::int32_t *rows = f.rows + f.at[i];
        const std::int32_t n = f.at[i + 1] - f.at[i];
        for (std::int32_t m = n - 1; m >= 0; m--)
            tame &= move_row_exact(rows[m], xw, e, Z, x[rows[m]], w_old, w_new);
    } else {
        tame = upkeep_all_rows(s, x, xw, e, Z, p.ns, j, exact, w_old, w_new);
    }
    s.tame = s.tame && tame;
}

// The upkeep for a compressed X, by the same four paths: path 2 over its
// stored rows, which are listed for every feature, 3 and 4 over full(X)'s
// column.
void compressed_upkeep(work &w, const problem &p, std::int32_t i, std::int32_t j, double w_old,
                       double w_new)
{
    state_facts &s = w.state;
    const compressed &X = *p.Xc;
    const bool exact = s.tame && s.exact[j];
    if (exact && w_old == 0 && w_new == 0 && w.features.finite[i])
        return;

    double *xw = p.XW + p.ns * j;
    double *e = p.E + p.ns * j;
    double *Z = p.Z;
    bool tame = true;
    if (exact && std::isfinite(w_old) && std::isfinite(w_new)) {
        const std::int32_t *rows = X.rows + X.at[i];
        const double *x = X.values + X.at[i];
        const std::int32_t n = X.at[i + 1] - X.at[i];
        for (std::int32_t m = n - 1; m >= 0; m--)
            tame &= move_row_exact(rows[m], xw, e, Z, x[m], w_old, w_new);
    } else {
        tame = upkeep_all_rows(s, spread_column(w, X, i), xw, e, Z, p.ns, j, exact, w_old, w_new);
        clear_column(w, X, i);
    }
    s.tame = s.tame && tame;
}
