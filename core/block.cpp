// dovex_solve's block method: a proximal Newton step per class, its
// quadratic model maximised by coordinate descent, and a line search on the
// objective itself, so that every step is an ascent. Its cost in exp calls
// is ns per class and line-search trial, not ns per moved weight: the
// coordinate descent runs on the model alone.
//
// It lives in a file of its own, reached only from dovex_solve (solve.cpp),
// because the line search calls log: dovex_fit's modules, which take only
// dovex_approx.cpp's objects from the core's library, must not import it.
//
// Reproducibility as in the rest of the core: every sum runs from +0.0 in
// the order written, every product in the operand order written, and the
// file is compiled without contraction or reassociation (exact_fp.flags).
// tests/reference/reference_approx.cpp spells out the same arithmetic over
// a full X, and the differential test holds the two to the same bits.
#include "colmajor.h"
#include "fit.h"
#include "glibc_compat.h"
#include "host.h"

#include <cmath>
#include <cstddef>

// The method, for one sweep over the classes j = 0 .. nc-1 in turn, each
// seeing the state the one before it left:
//
// 1. Z(k) is summed afresh from E's row k (over the classes in order, from
//    +0.0), and from it, for every sample k (s_k = 1 without weights):
//        p_k = E(k,j) / Z(k),
//        v_k = s_k * max(p_k * (1 - p_k), 1e-5)    (a NaN p(1-p) takes the floor)
//        r_k = s_k * (Y(k,j) - p_k).
//    v only shapes the model; the floor keeps it curved where p is near 0
//    or 1, and the line search, not v, guarantees the ascent.
// 2. The model of a change D of column j, with u = X D:
//        r'u - 1/2 u' diag(v) u - sum_i f_i (lambda1 |c_i| + lambda2/2 c_i^2),
//    c = W(:,j) + D the column's new weights, is maximised by cyclic
//    coordinate descent from D = 0. Feature i's visit, with
//        a_i = sum_k v_k * (x_ki * x_ki)          (once per class),
//        g   = sum_k x_ki * (r_k - v_k * u_k)     (with the current u),
//    both summed as row_sum4 does, in four running sums,
//        l1 = lambda1 f_i, l2 = lambda2 f_i (both 0 when f_i is 0),
//    moves c_i to the model's maximiser along it,
//        c_i' = sign(a_i c_i + g) max(0, |a_i c_i + g| - l1) / (a_i + l2),
//    computed as (a_i * c_i + g), then sign(.) * get_max(0, |.| - l1), then
//    / (a_i + l2); a feature with a_i + l2 = 0 stays put. When c_i' differs
//    from c_i (delta = c_i' - c_i), every row moves u_k = u_k + delta * x_ki;
//    a visit that leaves c_i leaves u as it is. The first inner pass visits
//    every feature; later ones only the features whose c_i is non-zero,
//    until a pass's largest |delta| is at most inner_rel (1/10) times the
//    largest |c_i - W(i,j)|, when one more full pass checks the rest; the
//    descent ends when a full pass meets that test, or after inner_passes
//    (100) passes. A loose test: the outer sweeps, not the model's exact
//    maximum, decide how close the fit comes.
// 3. If no c_i differs from W(i,j), the column is done. Otherwise, for
//    t = 1, 1/2, ..., 2^-halvings, the trial weights are c for t = 1 and
//    W(i,j) + t * (c_i - W(i,j)) after, the trial state, from the state
//    before the step (xw0, e0, z0),
//        XW(k,j) = xw0_k + t * u_k,  E(k,j) = exp(XW(k,j)),
//        Z(k) = E's row k summed afresh, as in 1,
//    and the change of the objective, with rows of Y summing to 1,
//        sum_k s_k * (Y(k,j) * (t * u_k) - log(Z(k) / z0_k))
//          - sum_i (l1 * (|w_i'| - |w_i|) + (l2 / 2) * (w_i' * w_i' - w_i * w_i)),
//    each sum from +0.0 in index order. A trial with a ratio Z(k) / z0_k
//    that is not above 0 (only a state whose Z is no row sum of positive
//    E has one) is no ascent; log is called on no other argument, where its
//    two glibc versions could differ (a NaN's sign; glibc_compat.h). The
//    first trial whose change is above 0 is kept: its weights go into
//    W(:,j), and E holds exp's own bits for the new XW. If none is, XW(:,j),
//    E(:,j), Z and W(:,j) are left with the bits they had before the step
//    (copied back from xw0, e0, z0). The change is computed from the state,
//    so "above 0" holds up to its rounding, as every method's ascent does.
//
// Z is summed afresh rather than moved by the change of E(k,j), as the
// other methods move it: a step may shrink an E(k,j) that held nearly all
// of its row, and (E - e0) + z0 then cancels to nothing or below (a Z of 0
// was seen on standardised digits). A state is consistent after every
// class: E(:,j) holds exp's own bits of XW(:,j) where a step was kept, Z
// the row sums of E.
//
// The sweep's record is that of the other methods: its diff is
// |W at its start - W| / |W| in Frobenius norms, both summed row by row
// (feature outer, class inner) over the non-zero terms, as theirs are; its
// visits are the coordinate visits of every inner pass. Nothing is drawn
// from rand().
//
// X in compressed columns walks only the stored values where that gives the
// bits of the full walk: a row not stored has x = +0.0, which adds +-0.0 to
// g and a (sums from +0.0 are never -0.0, so that changes nothing) and +-0.0
// to u (u starts at +0.0 and is never -0.0 either), as long as r_k, v_k and
// u_k are finite and v_k * u_k and r_k - v_k * u_k cannot overflow: every
// |r_k|, |v_k| and |u_k| at most 2^500. While that holds (`tame`, checked
// for r and v once per class and for u on every row it moves) and delta is
// finite, only stored rows are walked; otherwise the column is spread into
// x_col, all of whose other rows are +0.0, and every row is walked.

namespace {

const double curvature_floor = 1e-5;
const double inner_rel = 1e-1;
const std::int32_t inner_passes = 100;
const std::int32_t halvings = 20;
const double tame_big = 0x1p500;

// The penalties of feature i, as the other methods scale them.
inline double penalised(double lambda, const double *penalty, std::int32_t i)
{
    if (!penalty)
        return lambda;
    return penalty[i] == 0 ? 0.0 : lambda * penalty[i];
}

inline bool bounded(double x)
{
    return std::fabs(x) <= tame_big;
}

// Z afresh: each row of E summed over the classes in order, from +0.0.
// The classes are the outer loop so that E is read down its columns, as it
// lies in memory: each Z(k) still takes its additions in class order.
void row_sums(const problem &p)
{
    for (std::int32_t k = 0; k < p.ns; k++)
        p.Z[k] = 0.0;
    for (std::int32_t j = 0; j < p.nc; j++) {
        const double *e = p.E + p.ns * j;
        for (std::int32_t k = 0; k < p.ns; k++)
            p.Z[k] = p.Z[k] + e[k];
    }
}

// The fit's scratch memory, all from mxCalloc at the start, freed at the end.
struct scratch {
    double *u, *v, *r;       // ns: X D, curvature weights, gradient residuals
    double *xw0, *e0, *z0;   // ns: column j of XW and E, and Z, before the step
    double *x_col;           // ns: all +0.0, or for a while a compressed column
    double *c, *a, *trial;   // nd: the column's new weights, a_i, trial weights
    double *w_start;         // nd x nc: W at the start of the sweep
};

scratch take(const problem &p)
{
    const auto n = [](std::int32_t count) {
        return static_cast<double *>(mxCalloc(static_cast<std::size_t>(count), sizeof(double)));
    };
    scratch s;
    s.u = n(p.ns);
    s.v = n(p.ns);
    s.r = n(p.ns);
    s.xw0 = n(p.ns);
    s.e0 = n(p.ns);
    s.z0 = n(p.ns);
    s.x_col = n(p.ns);
    s.c = n(p.nd);
    s.a = n(p.nd);
    s.trial = n(p.nd);
    s.w_start = n(p.nd * p.nc);
    return s;
}

void give_back(scratch &s)
{
    double *const blocks[] = {s.u,  s.v, s.r, s.xw0,   s.e0,     s.z0,
                              s.x_col, s.c, s.a, s.trial, s.w_start};
    for (double *block : blocks)
        mxFree(block);
}

// Column i of X over all rows: X's own for a full X, or the compressed
// column spread into x_col (cleared again by unspread).
const double *full_column(const problem &p, const scratch &s, std::int32_t i)
{
    if (!p.Xc)
        return p.X + p.ns * i;
    for (std::int32_t m = p.Xc->at[i]; m < p.Xc->at[i + 1]; m++)
        s.x_col[p.Xc->rows[m]] = p.Xc->values[m];
    return s.x_col;
}

void unspread(const problem &p, const scratch &s, std::int32_t i)
{
    if (p.Xc)
        for (std::int32_t m = p.Xc->at[i]; m < p.Xc->at[i + 1]; m++)
            s.x_col[p.Xc->rows[m]] = 0.0;
}

// The sums over the samples of a_i and g are row_sum4's (colmajor.h).

// The same sums over the stored rows of compressed column i alone, term(m,
// k) being stored value m's, in row k: the rows not stored would add +-0.0
// terms, which leave every sum as it is (tame; see the top of the file).
template <typename Term> inline double stored_sum(const compressed *X, std::int32_t i, Term term)
{
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    for (std::int32_t m = X->at[i]; m < X->at[i + 1]; m++) {
        const std::int32_t k = X->rows[m];
        sums[k & 3] = term(m, k) + sums[k & 3];
    }
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

// a_i for every feature, from v.
void curvatures(const problem &p, const scratch &s, bool tame)
{
    for (std::int32_t i = 0; i < p.nd; i++) {
        if (p.Xc && tame) {
            const double *x = p.Xc->values;
            s.a[i] = stored_sum(p.Xc, i, [&](std::int32_t m, std::int32_t k) {
                return s.v[k] * (x[m] * x[m]);
            });
        } else {
            const double *x = full_column(p, s, i);
            s.a[i] = row_sum4(p.ns, [&](std::int32_t k) { return s.v[k] * (x[k] * x[k]); });
            unspread(p, s, i);
        }
    }
}

// One coordinate visit of feature i; returns |delta| (NaN for
// a NaN delta) and keeps `tame` up to date.
double move_coordinate(const problem &p, const scratch &s, std::int32_t i, bool &tame)
{
    const double l1 = penalised(p.lambda1, p.penalty, i);
    const double l2 = penalised(p.lambda2, p.penalty, i);
    const double a = s.a[i], cur = s.c[i];
    const double den = a + l2;
    const bool sparse = p.Xc && tame;
    double g;
    if (sparse) {
        const double *x = p.Xc->values;
        g = stored_sum(p.Xc, i, [&](std::int32_t m, std::int32_t k) {
            return x[m] * (s.r[k] - s.v[k] * s.u[k]);
        });
    } else {
        const double *x = full_column(p, s, i);
        g = row_sum4(p.ns, [&](std::int32_t k) { return x[k] * (s.r[k] - s.v[k] * s.u[k]); });
        unspread(p, s, i);
    }
    if (den == 0)
        return 0.0;
    const double num = a * cur + g;
    const double next = sign(num) * get_max(0.0, std::fabs(num) - l1) / den;
    const double delta = next - cur;
    s.c[i] = next;
    if (delta == 0)
        return 0.0;
    // Only a compressed X needs u bounded (tame); a full one moves u alone.
    bool bounded_rows = true;
    if (!p.Xc) {
        // u is scratch of its own, never X; two rows a step let the
        // compiler pair them (each row's operations stay its own).
        double *__restrict u = s.u;
        const double *__restrict x = p.X + p.ns * i;
        std::int32_t k = 0;
        for (; k + 2 <= p.ns; k += 2) {
            u[k] = u[k] + delta * x[k];
            u[k + 1] = u[k + 1] + delta * x[k + 1];
        }
        if (k < p.ns)
            u[k] = u[k] + delta * x[k];
    } else if (sparse && std::isfinite(delta)) {
        for (std::int32_t m = p.Xc->at[i]; m < p.Xc->at[i + 1]; m++) {
            const std::int32_t k = p.Xc->rows[m];
            s.u[k] = s.u[k] + delta * p.Xc->values[m];
            bounded_rows &= bounded(s.u[k]);
        }
    } else {
        const double *x = full_column(p, s, i);
        for (std::int32_t k = 0; k < p.ns; k++) {
            s.u[k] = s.u[k] + delta * x[k];
            bounded_rows &= bounded(s.u[k]);
        }
        unspread(p, s, i);
    }
    tame = tame && bounded_rows;
    return std::fabs(delta);
}

// The coordinate descent on class j's model; returns the visits made.
double descend(const problem &p, const scratch &s, std::int32_t j, bool tame)
{
    const double *w = p.W + p.nd * j;
    double visits = 0;
    bool full = true;
    for (std::int32_t pass = 0; pass < inner_passes; pass++) {
        double biggest = 0.0;
        for (std::int32_t i = 0; i < p.nd; i++) {
            if (!full && s.c[i] == 0)
                continue;
            const double d = move_coordinate(p, s, i, tame);
            biggest = d > biggest || std::isnan(d) ? d : biggest;
            visits = visits + 1;
        }
        double step = 0.0;
        for (std::int32_t i = 0; i < p.nd; i++) {
            const double d = std::fabs(s.c[i] - w[i]);
            step = d > step ? d : step;
        }
        const bool settled = biggest <= inner_rel * step;
        if (settled && full)
            break;
        full = settled;
    }
    return visits;
}

// The line search of step 3 on class j; the state and W(:,j) end at the
// kept trial or as they were.
void line_search(const problem &p, const scratch &s, std::int32_t j)
{
    double *W = p.W + p.nd * j;
    double *xw = p.XW + p.ns * j;
    double *e = p.E + p.ns * j;
    const double *y = p.Y + p.ns * j;
    bool moved = false;
    for (std::int32_t i = 0; i < p.nd; i++)
        moved = moved || s.c[i] != W[i];
    if (!moved)
        return;
    for (std::int32_t k = 0; k < p.ns; k++) {
        s.xw0[k] = xw[k];
        s.e0[k] = e[k];
        s.z0[k] = p.Z[k];
    }
    double t = 1.0;
    for (std::int32_t h = 0; h <= halvings; h++, t = t / 2) {
        double penalty = 0.0;
        for (std::int32_t i = 0; i < p.nd; i++) {
            const double l1 = penalised(p.lambda1, p.penalty, i);
            const double l2 = penalised(p.lambda2, p.penalty, i);
            const double wi = W[i];
            const double wt = h == 0 ? s.c[i] : wi + t * (s.c[i] - wi);
            s.trial[i] = wt;
            penalty = penalty + (l1 * (std::fabs(wt) - std::fabs(wi)) +
                                 (l2 / 2) * (wt * wt - wi * wi));
        }
        double fit = 0.0;
        bool defined = true;
        for (std::int32_t k = 0; k < p.ns; k++) {
            xw[k] = s.xw0[k] + t * s.u[k];
            e[k] = std::exp(xw[k]);
        }
        row_sums(p);
        for (std::int32_t k = 0; k < p.ns; k++) {
            const double ratio = p.Z[k] / s.z0[k];
            if (!(ratio > 0)) {
                defined = false;
                continue;
            }
            const double term = y[k] * (t * s.u[k]) - std::log(ratio);
            fit = fit + (p.weights ? p.weights[k] * term : term);
        }
        if (defined && fit - penalty > 0) {
            for (std::int32_t i = 0; i < p.nd; i++)
                W[i] = s.trial[i];
            return;
        }
    }
    for (std::int32_t k = 0; k < p.ns; k++) {
        xw[k] = s.xw0[k];
        e[k] = s.e0[k];
        p.Z[k] = s.z0[k];
    }
}

// One sweep; returns the diff and counts the visits.
double sweep(const problem &p, const scratch &s, double &visits)
{
    for (std::int32_t ij = 0; ij < p.nd * p.nc; ij++)
        s.w_start[ij] = p.W[ij];
    visits = 0;
    for (std::int32_t j = 0; j < p.nc; j++) {
        const double *y = p.Y + p.ns * j;
        const double *e = p.E + p.ns * j;
        bool tame = true;
        row_sums(p);
        for (std::int32_t k = 0; k < p.ns; k++) {
            const double pk = e[k] / p.Z[k];
            const double q = pk * (1.0 - pk);
            const double c = q > curvature_floor ? q : curvature_floor;
            const double res = y[k] - pk;
            s.v[k] = p.weights ? p.weights[k] * c : c;
            s.r[k] = p.weights ? p.weights[k] * res : res;
            s.u[k] = 0.0;
            tame = tame && bounded(s.v[k]) && bounded(s.r[k]);
        }
        for (std::int32_t i = 0; i < p.nd; i++)
            s.c[i] = p.W[i + p.nd * j];
        curvatures(p, s, tame);
        visits = visits + descend(p, s, j, tame);
        line_search(p, s, j);
    }
    // The norms in the other methods' order: row by row, non-zero terms.
    double sum_w = 0.0, sum_change = 0.0;
    for (std::int32_t i = 0; i < p.nd; i++)
        for (std::int32_t j = 0; j < p.nc; j++) {
            const std::int32_t ij = i + p.nd * j;
            const double now = p.W[ij], change = s.w_start[ij] - now;
            if (now != 0)
                sum_w = now * now + sum_w;
            if (change != 0)
                sum_change = change * change + sum_change;
        }
    return std::fabs(std::sqrt(sum_change)) / std::sqrt(sum_w);
}

} // namespace

void block_fit(const problem &p, double tol, double max_sweeps, bool display,
               sweep_record &record)
{
    scratch s = take(p);
    double diff = 1.0 + tol;
    for (std::int32_t n = 1; n <= max_sweeps && diff > tol; n++) {
        double visits;
        diff = sweep(p, s, visits);
        record_sweep(record, diff, visits);
        if (display) {
            mexPrintf("sweep : %d, diff : %2.4f\n", n, diff);
            mexEvalString("drawnow");
        }
        if (n == INT32_MAX)
            break;
    }
    give_back(s);
}
