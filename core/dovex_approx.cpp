// Component-wise bound optimisation for sparse multinomial logistic
// regression.
//
// Each visit of a (feature i, class j) pair maximises, in that weight alone, a
// quadratic lower bound on the penalised log-likelihood
//     sum_k sum_j Y(k,j) log(E(k,j)/Z(k)) - lambda1 |w| - lambda2/2 w^2
// whose curvature is fixed per feature (bound_diag). The predictors XW, E, Z
// are moved by the change of the one weight, never recomputed from X*W.
//
// Reproducibility: every floating-point operation below is written in the
// order that defines the result bits, and the core is compiled without
// floating-point contraction. Keep both when changing anything here.
//
// Speed comes only from not doing work whose result is known to the bit: a
// shortcut is taken only where the full computation would provably rewrite
// every value with its own bits, and the full path is kept for everything
// else (non-finite values, signed zeros, exp overflow, a caller's E that is
// not exactly exp(XW)). The shortcuts rest on three facts, each kept up to
// date as the fit goes:
//   - tame: every E/Z and Y - E/Z is finite and no Z is zero (is_tame);
//   - exact[j]: column j of E holds exp's own bits for column j of XW;
//   - the rows where each sparse column of X is non-zero (list_rows).
// With them, a visit skips the rows where x is zero, a visit that leaves a
// zero weight at zero skips the upkeep altogether, and the upkeep skips exp
// on every row whose XW keeps its bits.
#include "dovex.h"

#include "colmajor.h"
#include "glibc_compat.h"
#include "host.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// While every |Y(k,j)| and |E(k,j)| is at most tame_big and every Z(k) at
// least tame_small (so Z is no NaN, no zero of either sign, not negative),
// every E(k,j)/Z(k) is at most 2^1000 in magnitude and every Y - E/Z finite.
const double tame_big = 0x1p500;
const double tame_small = 0x1p-500;

// Whether the state is tame in the sense above, for classes 1..nc.
bool is_tame(const double *Y, const double *E, const double *Z, std::int32_t ns,
             std::int32_t nc)
{
    bool tame = true;
    for (std::int32_t k = 0; k < ns; k++)
        tame = tame && Z[k] >= tame_small;
    for (std::int32_t jk = 0; jk < ns * nc; jk++)
        tame = tame && std::fabs(Y[jk]) <= tame_big && std::fabs(E[jk]) <= tame_big;
    return tame;
}

// Whether some element of x[0..n-1] is -0.0.
bool any_negative_zero(const double *x, std::int32_t n)
{
    for (std::int32_t k = 0; k < n; k++)
        if (x[k] == 0 && std::signbit(x[k]))
            return true;
    return false;
}

// Curvature bound of each feature: -1/2 (1 - 1/ny) sum_k X(k,i)^2.
void set_bounds(double *bound_diag, const double *X, std::int32_t nd, std::int32_t ns,
                std::int32_t ny)
{
    for (std::int32_t i = 1; i <= nd; i++) {
        double s = 0.0;
        for (std::int32_t k = 1; k <= ns; k++) {
            const double x = X[idx(k, i, ns)];
            s = x * x + s;
        }
        bound_diag[idx(i, 1, nd)] = ((-1.0 / ny) + 1.0) * (-0.5) * s;
    }
}

// For each column of X: whether all its values are finite, and whether it is
// sparse enough (at least one row in eight zero) for a list of its non-zero
// rows to pay. Returns the number of rows the lists will hold.
std::int32_t describe_columns(bool *finite_x, bool *listed, const double *X, std::int32_t nd,
                              std::int32_t ns)
{
    std::int32_t n = 0;
    for (std::int32_t i = 1; i <= nd; i++) {
        const double *x = X + idx(1, i, ns);
        std::int32_t nonzero = 0;
        bool finite = true;
        for (std::int32_t k = 0; k < ns; k++) {
            nonzero += x[k] != 0; // NaN counts as non-zero
            finite = finite && std::isfinite(x[k]);
        }
        finite_x[i - 1] = finite;
        listed[i - 1] = 8 * static_cast<std::int64_t>(nonzero) <= 7 * static_cast<std::int64_t>(ns);
        if (listed[i - 1])
            n += nonzero;
    }
    return n;
}

// The non-zero rows of each listed column, in increasing order: feature i's
// are rows[at[i-1] .. at[i]-1]; an unlisted feature has none there.
void list_rows(std::int32_t *rows, std::int32_t *at, const bool *listed, const double *X,
               std::int32_t nd, std::int32_t ns)
{
    std::int32_t n = 0;
    for (std::int32_t i = 1; i <= nd; i++) {
        const double *x = X + idx(1, i, ns);
        if (listed[i - 1])
            for (std::int32_t k = 0; k < ns; k++)
                if (x[k] != 0)
                    rows[n++] = k;
        at[i] = n;
    }
}

// The gradient of the log-likelihood in one weight,
//     g = sum_k (Y(k,j) - E(k,j)/Z(k)) X(k,i),
// in one pass over the columns, without copying them, over rows[0..n-1], or
// over all rows 0..n-1 when rows is null. The sum runs from 0.0 in sample
// order and must stay so: its rounding depends on the order.
double gradient(const std::int32_t *rows, std::int32_t n, const double *x, const double *y,
                const double *e, const double *Z)
{
    double g = 0.0;
    if (rows) {
        for (std::int32_t m = 0; m < n; m++) {
            const std::int32_t k = rows[m];
            g = (y[k] - e[k] / Z[k]) * x[k] + g;
        }
    } else {
        for (std::int32_t k = 0; k < n; k++)
            g = (y[k] - e[k] / Z[k]) * x[k] + g;
    }
    return g;
}

// One row of the upkeep: moves XW(k,j) by the change of the weight, taking
// the old contribution out and putting the new one in, and keeps E = exp(XW)
// and Z the row sums of E. Returns whether the row is still tame.
inline bool upkeep_row(std::int32_t k, double *xw, double *e, double *Z, const double *x,
                       double w_old, double w_new)
{
    xw[k] = (xw[k] - w_old * x[k]) + w_new * x[k];
    const double ek = std::exp(xw[k]);
    const double zk = (ek - e[k]) + Z[k];
    Z[k] = zk;
    e[k] = ek;
    return (ek <= tame_big) & (zk >= tame_small);
}

// The bits of v, so that -0.0 and +0.0 (and NaNs) are told apart.
inline std::uint64_t bits_of(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// upkeep_row for a tame state whose column of E holds exp's own bits for
// XW's column. When XW(k,j) comes out with its own bits, exp would give back
// E(k,j)'s bits, and Z(k) would gain E - E = +0.0 (E is finite), which leaves
// it as it is (it is no zero): E and Z are left alone and exp is not called.
// That is most rows of a visit that leaves a non-zero weight as it is, and of
// a move smaller than XW's last bit.
inline bool upkeep_row_exact(std::int32_t k, double *xw, double *e, double *Z, const double *x,
                             double w_old, double w_new)
{
    const double moved = (xw[k] - w_old * x[k]) + w_new * x[k];
    if (bits_of(moved) == bits_of(xw[k]))
        return true;
    xw[k] = moved;
    const double ek = std::exp(moved);
    const double zk = (ek - e[k]) + Z[k];
    Z[k] = zk;
    e[k] = ek;
    return (ek <= tame_big) & (zk >= tame_small);
}

// The upkeep of column j after W(i,j) moved from w_old to w_new, over
// rows[0..n-1], or over all rows 0..n-1 when rows is null; exact says the
// state is tame and the column exact (see upkeep_row_exact). Rows are only
// ever left out for an exact column, so rows implies exact. Returns whether
// every row it wrote is still tame.
bool upkeep(const std::int32_t *rows, std::int32_t n, double *xw, double *e, double *Z,
            const double *x, double w_old, double w_new, bool exact)
{
    bool tame = true;
    if (rows) {
        for (std::int32_t m = 0; m < n; m++)
            tame &= upkeep_row_exact(rows[m], xw, e, Z, x, w_old, w_new);
    } else if (exact) {
        for (std::int32_t k = 0; k < n; k++)
            tame &= upkeep_row_exact(k, xw, e, Z, x, w_old, w_new);
    } else {
        for (std::int32_t k = 0; k < n; k++)
            tame &= upkeep_row(k, xw, e, Z, x, w_old, w_new);
    }
    return tame;
}

} // namespace

void dovex_approx(double *W, const double *X, const double *Y, double *XW, double *E,
                  double *Z, double lambda1, double lambda2, double tol, double max_sweeps,
                  std::int32_t nd, std::int32_t ns, std::int32_t ny, std::int32_t nc)
{
    const std::int32_t npairs = nd * ny;
    double *w_change = static_cast<double *>(mxCalloc(npairs, 8));
    double *w_prev = static_cast<double *>(mxCalloc(npairs, 8));
    double *visit_prob = static_cast<double *>(mxCalloc(npairs, 8));
    double *ratio_col = static_cast<double *>(mxCalloc(ns, 8));
    double *bound_diag = static_cast<double *>(mxCalloc(nd, 8));
    double *x_col = static_cast<double *>(mxCalloc(ns, 8));
    double *y_col = static_cast<double *>(mxCalloc(ns, 8));
    // ratio_col, x_col and y_col are not used: the visit reads the columns in
    // place. They stay, so that the host sees the same seven work arrays.

    // The core's own bookkeeping comes after the seven, and goes after them.
    // The pairs whose weight changed over the last sweep, in visiting order.
    std::int32_t *moved = static_cast<std::int32_t *>(mxCalloc(nd * nc, sizeof(std::int32_t)));
    std::int32_t n_moved = 0;
    // Per feature: whether X's column is all finite, and whether its non-zero
    // rows are listed; the lists themselves (see list_rows).
    bool *finite_x = static_cast<bool *>(mxCalloc(nd, sizeof(bool)));
    bool *listed = static_cast<bool *>(mxCalloc(nd, sizeof(bool)));
    const std::int32_t n_listed = describe_columns(finite_x, listed, X, nd, ns);
    std::int32_t *nz_at = static_cast<std::int32_t *>(mxCalloc(nd + 1, sizeof(std::int32_t)));
    std::int32_t *nz_rows =
        static_cast<std::int32_t *>(mxCalloc(n_listed, sizeof(std::int32_t)));
    list_rows(nz_rows, nz_at, listed, X, nd, ns);
    // Classes whose column of E is known to hold exactly exp of XW's column,
    // the bits exp returns, with no -0.0 in XW's column. Unknown at entry (a
    // caller's E may differ in its last bit); true after any full upkeep of
    // the column that leaves no -0.0, and from then on for good: the upkeep
    // writes E = exp(XW) and cannot make a -0.0 out of anything but a -0.0.
    bool *exact = static_cast<bool *>(mxCalloc(nc, sizeof(bool)));
    // Whether the state is tame: unknown until checked at a sweep's start.
    bool tame = false;

    set_bounds(bound_diag, X, nd, ns, ny);
    for (std::int32_t p = 0; p < npairs; p++)
        visit_prob[p] = 1.0;

    // The loop starts only if max_sweeps >= 1 and 1 + tol > tol, which rules
    // out a NaN or infinite tol and one too large for the loop ever to end.
    double incr = 1.0 + tol;
    std::int32_t sweep = 1;
    while (sweep <= max_sweeps && incr > tol) {
        // w_prev is the copy of W at the start of the sweep and w_change the
        // change over it. After the first sweep only the moved pairs differ
        // from that state, so only they are brought up to date.
        if (sweep == 1) {
            // A host may pass an empty W as a null pointer, which memcpy
            // must not get even for a count of zero.
            if (nc * nd > 0)
                std::memcpy(w_prev, W, sizeof(double) * nc * nd);
        } else {
            for (std::int32_t m = 0; m < n_moved; m++) {
                w_prev[moved[m]] = W[moved[m]];
                w_change[moved[m]] = 0.0;
            }
        }
        n_moved = 0;
        // The squared norms of W and of its change, summed as frob sums them:
        // row by row, which is the visiting order. A zero entry adds +0.0 to
        // a sum that is never -0.0 (it starts at +0.0 and every term is a
        // square), which changes nothing, so only non-zero entries are added.
        double sum_w = 0.0, sum_change = 0.0;
        // Once the state is known to be tame, the upkeep checks every value
        // it writes, so only a state that is not is checked again.
        tame = tame || is_tame(Y, E, Z, ns, nc);

        for (std::int32_t i = 1; i <= nd; i++)
            for (std::int32_t j = 1; j <= nc; j++) {
                const std::int32_t ij = idx(i, j, nd);
                const double w_old = W[ij];

                // One draw per pair per sweep, used or not, so the number of
                // draws does not depend on the weights. A skipped pair keeps
                // its zero weight and adds nothing to the norms below.
                const int r = std::rand();
                if (w_old == 0 && !(visit_prob[ij] >= static_cast<double>(r) / RAND_MAX))
                    continue;

                const double *x = X + idx(1, i, ns);
                const double *y = Y + idx(1, j, ns);
                double *xw = XW + idx(1, j, ns);
                double *e = E + idx(1, j, ns);

                // Rows where x is zero add (Y - E/Z) * 0 to the gradient: a
                // zero, as long as Y - E/Z is finite, which a tame state
                // guarantees. The sum starts at +0.0 and a sum ends at -0.0
                // only if both terms are -0.0, so it is never -0.0, and adding
                // a zero to it changes nothing: such rows can be left out.
                const std::int32_t *rows = nullptr;
                std::int32_t n = ns;
                if (tame && listed[i - 1]) {
                    rows = nz_rows + nz_at[i - 1];
                    n = nz_at[i] - nz_at[i - 1];
                }
                const double g = gradient(rows, n, x, y, e, Z);

                // d is zero only for a feature with no curvature (an all-zero
                // column, ny = 1 or no samples) and lambda2 = 0; the bound then
                // has no maximiser, so the weight is left where it is instead
                // of becoming NaN and poisoning XW, E and Z.
                const double bd = bound_diag[idx(i, 1, nd)];
                const double d = bd - lambda2;
                double w_new = w_old;
                if (d != 0) {
                    const double w0 = (bd / d) * w_old - g / d;
                    const double thr = (-lambda1) / d;
                    w_new = sign(w0) * get_max(0.0, std::fabs(w0) - thr);
                }

                if (w_old == 0 && w_new == 0 && finite_x[i - 1] && exact[j - 1] && tame) {
                    // A zero weight that stays zero, times a finite x, adds
                    // and removes zeros, which leave XW(k,j) as it is (it is
                    // no -0.0); exp then gives back E(k,j)'s own bits, and
                    // Z(k) gains E - E = +0.0 (E is finite), which leaves it
                    // as it is (it is no zero). The upkeep would change
                    // nothing, so it is skipped.
                } else if (rows && exact[j - 1] && std::isfinite(w_old) &&
                           std::isfinite(w_new)) {
                    // Where x is zero, finite weights times x are zeros, and
                    // the same argument leaves the row's XW, E and Z as they
                    // are: only the listed rows change.
                    tame = upkeep(rows, n, xw, e, Z, x, w_old, w_new, true) && tame;
                } else {
                    tame = upkeep(nullptr, ns, xw, e, Z, x, w_old, w_new, exact[j - 1] && tame) &&
                           tame;
                    exact[j - 1] = exact[j - 1] || !any_negative_zero(xw, ns);
                }

                bool stored = false;
                if (w_new == 0 && w_old == 0) {
                    visit_prob[ij] = visit_prob[ij] * 0.3;
                } else if (w_new == 0 || w_new != w_old) {
                    W[ij] = w_new;
                    stored = true;
                }

                // W(i,j) is final for this sweep and w_prev(i,j) is w_old.
                const double w = W[ij];
                if (w != 0)
                    sum_w = w * w + sum_w;
                const double change = w_old - w;
                if (change != 0)
                    sum_change = change * change + sum_change;
                // A weight left as it was has a change of +0.0, which
                // w_change already holds, unless it is infinite (inf - inf
                // is NaN) or NaN: those are recorded as well.
                if (stored || change != 0) {
                    w_change[ij] = change;
                    moved[n_moved++] = ij;
                }
            }

        const double diff = std::fabs(std::sqrt(sum_change)) / std::sqrt(sum_w);

        mexPrintf("sweep : %d, diff : %2.4f\n", sweep, diff);
        mexEvalString("drawnow");

        // The counter is 32-bit: stop at its largest value rather than wrap.
        if (sweep == INT32_MAX)
            break;
        sweep++;
        incr = diff;
    }

    mxFree(w_change);
    mxFree(w_prev);
    mxFree(visit_prob);
    mxFree(ratio_col);
    mxFree(bound_diag);
    mxFree(x_col);
    mxFree(y_col);
    mxFree(moved);
    mxFree(finite_x);
    mxFree(listed);
    mxFree(nz_at);
    mxFree(nz_rows);
    mxFree(exact);
}
