// dovex_solve's optimum method: the block method's sweeps in rounds of 2,
// 4, 8, ... 32, with two moves of its own between them, each an ascent of
// the objective F, until F is within tol of its optimum, relative to |F|:
//   - after every round and every Newton step, the shift of each feature's
//     class weights by the number that lowers its penalty most (row_shift),
//     which changes no probability and which the sweeps, moving one class
//     at a time, make only slowly;
//   - once the first round is done and the zero weights are nearly
//     settled, or the measure says the fit is done, Newton steps on the
//     free weights (those not zero, those of an unpenalised feature but
//     its last class, and the zero ones that violate their condition),
//     every sign held, each kept only when F rises: where features are
//     correlated one gains what would take the sweeps hundreds. They
//     follow each other while the distance falls fourfold; when it does
//     not, signs are changing, which the sweeps settle better.
//
// The distance (check) is measured from the optimality conditions of F: for
// each weight, r is how far the log-likelihood's gradient g is from
// meeting its condition (g = lambda1 f sign(w) + lambda2 f w for w not
// zero, |g| <= lambda1 f for w zero), and a is F's curvature along the
// weight: moving it alone would gain r^2/(2a). Those gains summed, over
// |F|, are the first measure; they fall short where features are
// correlated, and the second counts the free weights as a whole instead:
// with each sign held F is smooth in them, and the Newton step gains its
// quadratic model's q'x/2. The method stops when the second measure is tol
// or less, after taking that measure's step when it raises F; it only sees
// the features it is given, and a caller that left some out checks their
// zero weights itself.
//
// None of this is the sweeps' exact arithmetic: the method is deterministic
// (the same bits on every run, from the file's fixed order of operations
// and exact_fp.flags) but no other method's bits are promised of it.
#include "colmajor.h"
#include "fit.h"
#include "glibc_compat.h"
#include "host.h"

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

const std::int32_t first_round = 2, last_round = 32;
// From this round on (after the first), the Newton measure is taken when
// the zero weights hold a tenth of the distance or less. Later starts cost
// more: on brain-like, digits, DNA, vowel and text-like cross-validations,
// starting after the third round took 1.2 to 1.5 times as long.
const std::int32_t newton_round = 4;
const std::int32_t max_steps = 50;     // Newton steps a call may take
const std::int32_t step_halvings = 30; // of a Newton step, until F rises
const std::int32_t cg_steps = 30;      // conjugate gradient iterations
// Products of H's size (samples times free weights squared) up to which
// the Newton system is formed and solved by its Cholesky factor.
const double direct_work = 5e6;

double *doubles(std::int64_t n)
{
    return static_cast<double *>(mxCalloc(static_cast<std::size_t>(n > 0 ? n : 1), sizeof(double)));
}

std::int32_t *ints(std::int64_t n)
{
    return static_cast<std::int32_t *>(
        mxCalloc(static_cast<std::size_t>(n > 0 ? n : 1), sizeof(std::int32_t)));
}

// -1, 0 or +1.
double sgn(double x)
{
    return x > 0 ? 1.0 : x < 0 ? -1.0 : 0.0;
}

double factor(const problem &p, std::int32_t i)
{
    return p.penalty ? p.penalty[i] : 1.0;
}

double weight(const problem &p, std::int32_t k)
{
    return p.weights ? p.weights[k] : 1.0;
}

// What the rounds keep between their steps.
struct scratch {
    double *P, *logP;      // ns x nc: probabilities at the state XW
    double *R, *V;         // ns x nc: s (Y - P) and s P (1 - P)
    double *G, *A;         // nd x nc: the gradient and sum_k x^2 V
    double *step, *sign;   // nd x nc: the Newton step and the signs it holds
    double *W2, *XW2;      // a Newton step's trial weights and state
    double *T;             // ns x nc: H*v's scores
    double *points;        // 3 nc + 1: row_shift's candidates
    std::int32_t *slot;    // nd x nc: a free weight's place in the system, or -1
    std::int32_t *member;  // nd x nc: the free weights, W's order
};

scratch take(const problem &p)
{
    const std::int64_t sc = static_cast<std::int64_t>(p.ns) * p.nc;
    const std::int64_t dc = static_cast<std::int64_t>(p.nd) * p.nc;
    scratch s;
    s.P = doubles(sc);
    s.logP = doubles(sc);
    s.R = doubles(sc);
    s.V = doubles(sc);
    s.G = doubles(dc);
    s.A = doubles(dc);
    s.step = doubles(dc);
    s.sign = doubles(dc);
    s.W2 = doubles(dc);
    s.XW2 = doubles(sc);
    s.T = doubles(sc);
    s.points = doubles(3 * static_cast<std::int64_t>(p.nc) + 1);
    s.slot = ints(dc);
    s.member = ints(dc);
    return s;
}

void give_back(scratch &s)
{
    double *const blocks[] = {s.P,  s.logP, s.R,   s.V, s.G,      s.A,
                              s.step, s.sign, s.W2, s.XW2, s.T, s.points};
    for (double *block : blocks)
        mxFree(block);
    mxFree(s.slot);
    mxFree(s.member);
}

// Sums over the samples are row_sum4's. Over a compressed column they walk
// the stored rows alone, row k's term into part k mod 4: a row not stored
// would add x = +0.0 times a finite number, +-0.0, which leaves a sum from
// +0.0 as it is. So while the probabilities are finite (a fit whose are
// not has failed) a compressed X gives the bits of its full matrix.
inline double combine(const double part[4])
{
    return (part[0] + part[1]) + (part[2] + part[3]);
}

// sum_k X(k,i) v[k], for X full or compressed.
double dot(const problem &p, std::int32_t i, const double *v)
{
    if (p.Xc) {
        double part[4] = {0.0, 0.0, 0.0, 0.0};
        for (std::int32_t m = p.Xc->at[i]; m < p.Xc->at[i + 1]; m++) {
            const std::int32_t k = p.Xc->rows[m];
            part[k & 3] = p.Xc->values[m] * v[k] + part[k & 3];
        }
        return combine(part);
    }
    const double *x = p.X + static_cast<std::int64_t>(p.ns) * i;
    return row_sum4(p.ns, [&](std::int32_t k) { return x[k] * v[k]; });
}

// v[k] += t X(k,i).
void add_column(const problem &p, std::int32_t i, double t, double *v)
{
    if (p.Xc) {
        for (std::int32_t m = p.Xc->at[i]; m < p.Xc->at[i + 1]; m++)
            v[p.Xc->rows[m]] = v[p.Xc->rows[m]] + t * p.Xc->values[m];
        return;
    }
    const double *x = p.X + static_cast<std::int64_t>(p.ns) * i;
    for (std::int32_t k = 0; k < p.ns; k++)
        v[k] = v[k] + t * x[k];
}

// Column i of X into x (ns), all rows.
void column(const problem &p, std::int32_t i, double *x)
{
    if (p.Xc) {
        for (std::int32_t k = 0; k < p.ns; k++)
            x[k] = 0.0;
        for (std::int32_t m = p.Xc->at[i]; m < p.Xc->at[i + 1]; m++)
            x[p.Xc->rows[m]] = p.Xc->values[m];
        return;
    }
    const double *x0 = p.X + static_cast<std::int64_t>(p.ns) * i;
    for (std::int32_t k = 0; k < p.ns; k++)
        x[k] = x0[k];
}

// P and log P of the scores S, row by row, from S less each row's largest.
void probabilities(const problem &p, const double *S, double *P, double *logP)
{
    for (std::int32_t k = 0; k < p.ns; k++) {
        double top = -INFINITY;
        for (std::int32_t j = 0; j < p.nc; j++)
            top = S[k + p.ns * j] > top ? S[k + p.ns * j] : top;
        if (!std::isfinite(top))
            top = 0.0;
        double sum = 0.0;
        for (std::int32_t j = 0; j < p.nc; j++)
            sum = sum + std::exp(S[k + p.ns * j] - top);
        const double lse = std::log(sum);
        for (std::int32_t j = 0; j < p.nc; j++) {
            const std::int32_t kj = k + p.ns * j;
            logP[kj] = (S[kj] - top) - lse;
            P[kj] = std::exp(logP[kj]);
        }
    }
}

// F at W, logP the log-probabilities at W; a class of Y 0 adds nothing
// (not 0 * -Inf).
double objective(const problem &p, const double *W, const double *logP)
{
    double fit = 0.0;
    for (std::int32_t k = 0; k < p.ns; k++) {
        double own = 0.0;
        for (std::int32_t j = 0; j < p.nc; j++) {
            const double y = p.Y[k + p.ns * j];
            if (y != 0)
                own = own + y * logP[k + p.ns * j];
        }
        fit = fit + weight(p, k) * own;
    }
    double penalty = 0.0;
    for (std::int32_t i = 0; i < p.nd; i++) {
        const double f = factor(p, i);
        if (f == 0)
            continue;
        double l1 = 0.0, l2 = 0.0;
        for (std::int32_t j = 0; j < p.nc; j++) {
            const double w = W[i + p.nd * j];
            l1 = l1 + std::fabs(w);
            l2 = l2 + w * w;
        }
        penalty = penalty + f * (p.lambda1 * l1 + p.lambda2 / 2 * l2);
    }
    return fit - penalty;
}

// Row by row, a constant that keeps exp in range (it changes no
// probability), and E and Z afresh, as the block method wants them.
void fresh_state(const problem &p)
{
    for (std::int32_t k = 0; k < p.ns; k++) {
        double top = -INFINITY;
        for (std::int32_t j = 0; j < p.nc; j++)
            top = p.XW[k + p.ns * j] > top ? p.XW[k + p.ns * j] : top;
        if (!std::isfinite(top))
            top = 0.0;
        p.Z[k] = 0.0;
        for (std::int32_t j = 0; j < p.nc; j++) {
            const std::int32_t kj = k + p.ns * j;
            p.XW[kj] = p.XW[kj] - top;
            p.E[kj] = std::exp(p.XW[kj]);
            p.Z[k] = p.Z[k] + p.E[kj];
        }
    }
}

// For each feature with a weight and a factor above 0, the number c whose
// subtraction from all its class weights lowers its penalty
// (lambda1 sum_j |w_j - c| + lambda2/2 sum_j (w_j - c)^2) most, subtracted.
// The change adds -c x_i to every class's score, which changes no
// probability. The penalty is convex in c, its kinks at the weights and
// its slope zero at (sum_j w_j + (lambda1/lambda2) m) / nc for some m in
// -nc..nc: the least of it over those points is its minimum.
void row_shift(const problem &p, const scratch &s, double *W)
{
    const std::int32_t nc = p.nc;
    for (std::int32_t i = 0; i < p.nd; i++) {
        if (factor(p, i) == 0)
            continue;
        double total = 0.0;
        bool any = false;
        for (std::int32_t j = 0; j < nc; j++) {
            total = total + W[i + p.nd * j];
            any = any || W[i + p.nd * j] != 0;
        }
        if (!any)
            continue;
        std::int32_t np = 0;
        for (std::int32_t j = 0; j < nc; j++)
            s.points[np++] = W[i + p.nd * j];
        if (p.lambda2 > 0)
            for (std::int32_t m = -nc; m <= nc; m++)
                s.points[np++] = (total + (p.lambda1 / p.lambda2) * m) / nc;
        const auto cost = [&](double c) {
            double l1 = 0.0, l2 = 0.0;
            for (std::int32_t j = 0; j < nc; j++) {
                const double d = W[i + p.nd * j] - c;
                l1 = l1 + std::fabs(d);
                l2 = l2 + d * d;
            }
            return p.lambda1 * l1 + p.lambda2 / 2 * l2;
        };
        double best = cost(0.0), shift = 0.0;
        for (std::int32_t m = 0; m < np; m++) {
            const double value = cost(s.points[m]);
            if (value < best) {
                best = value;
                shift = s.points[m];
            }
        }
        if (shift != 0)
            for (std::int32_t j = 0; j < nc; j++)
                W[i + p.nd * j] = W[i + p.nd * j] - shift;
    }
}

// H*v over the free weights (member[u] = i + nd j), h their lambda2 f.
void times_h(const problem &p, const scratch &s, std::int32_t n, const double *h,
             const double *v, double *hv)
{
    const std::int64_t sc = static_cast<std::int64_t>(p.ns) * p.nc;
    for (std::int64_t kj = 0; kj < sc; kj++)
        s.T[kj] = 0.0;
    for (std::int32_t u = 0; u < n; u++) {
        const std::int32_t i = s.member[u] % p.nd, j = s.member[u] / p.nd;
        add_column(p, i, v[u], s.T + static_cast<std::int64_t>(p.ns) * j);
    }
    for (std::int32_t k = 0; k < p.ns; k++) {
        double sum = 0.0;
        for (std::int32_t j = 0; j < p.nc; j++) {
            const std::int32_t kj = k + p.ns * j;
            s.T[kj] = s.P[kj] * s.T[kj];
            sum = sum + s.T[kj];
        }
        for (std::int32_t j = 0; j < p.nc; j++) {
            const std::int32_t kj = k + p.ns * j;
            s.T[kj] = weight(p, k) * (s.T[kj] - s.P[kj] * sum);
        }
    }
    for (std::int32_t u = 0; u < n; u++) {
        const std::int32_t i = s.member[u] % p.nd, j = s.member[u] / p.nd;
        hv[u] = dot(p, i, s.T + static_cast<std::int64_t>(p.ns) * j) + h[u] * v[u];
    }
}

// Whether every class weight of feature i is free in the Newton system:
// then the same change of all of them, which changes no probability, is a
// direction H curves by lambda2 alone.
bool all_free(const problem &p, const scratch &s, std::int32_t i)
{
    for (std::int32_t j = 0; j < p.nc; j++)
        if (s.slot[i + p.nd * j] < 0)
            return false;
    return true;
}

// v less, on each feature whose class weights are all free, their mean:
// along that direction the iteration would crawl, and row_shift has taken
// what it holds.
void off_shifts(const problem &p, const scratch &s, double *v)
{
    for (std::int32_t i = 0; i < p.nd; i++) {
        if (!all_free(p, s, i))
            continue;
        double mean = 0.0;
        for (std::int32_t j = 0; j < p.nc; j++)
            mean = mean + v[s.slot[i + p.nd * j]];
        mean = mean / p.nc;
        for (std::int32_t j = 0; j < p.nc; j++)
            v[s.slot[i + p.nd * j]] = v[s.slot[i + p.nd * j]] - mean;
    }
}

// The Newton step x = H \ q by a Cholesky factor of H, formed; false when H
// is not positive definite in doubles. Along a shift direction H is
// lambda2 alone; adding a multiple of the direction's projector makes H
// well conditioned and changes no step off it.
bool newton_exact(const problem &p, const scratch &s, std::int32_t n, const double *h,
                  const double *q, double *x)
{
    const std::int32_t ns = p.ns;
    double *H = doubles(static_cast<std::int64_t>(n) * n);
    // Element (r, c) of H, n x n.
    const auto at = [&](std::int32_t r, std::int32_t c) -> double & {
        return H[r + static_cast<std::int64_t>(n) * c];
    };
    double *cols = doubles(static_cast<std::int64_t>(n) * ns); // x_i of each free weight
    double *scaled = doubles(static_cast<std::int64_t>(n) * ns); // s x_i p_j
    for (std::int32_t u = 0; u < n; u++) {
        const std::int32_t i = s.member[u] % p.nd, j = s.member[u] / p.nd;
        double *x_u = cols + static_cast<std::int64_t>(ns) * u;
        double *b_u = scaled + static_cast<std::int64_t>(ns) * u;
        column(p, i, x_u);
        for (std::int32_t k = 0; k < ns; k++)
            b_u[k] = weight(p, k) * x_u[k] * s.P[k + ns * j];
    }
    // H(u,v) = sum_k s x_i x_i' p_j (delta_jj' - p_j').
    double top = 0.0;
    for (std::int32_t u = 0; u < n; u++) {
        const std::int32_t j = s.member[u] / p.nd;
        const double *b_u = scaled + static_cast<std::int64_t>(ns) * u;
        for (std::int32_t v = u; v < n; v++) {
            const std::int32_t jv = s.member[v] / p.nd;
            const double *x_v = cols + static_cast<std::int64_t>(ns) * v;
            const double *pv = s.P + static_cast<std::int64_t>(ns) * jv;
            const double sum =
                j == jv ? row_sum4(ns, [&](std::int32_t k) { return b_u[k] * (x_v[k] * (1.0 - pv[k])); })
                        : -row_sum4(ns, [&](std::int32_t k) { return b_u[k] * (x_v[k] * pv[k]); });
            at(u, v) = sum;
        }
        at(u, u) = at(u, u) + h[u];
        top = at(u, u) > top ? at(u, u) : top;
    }
    for (std::int32_t i = 0; i < p.nd; i++) {
        if (!all_free(p, s, i))
            continue;
        for (std::int32_t a = 0; a < p.nc; a++)
            for (std::int32_t b = 0; b < p.nc; b++) {
                const std::int32_t u = s.slot[i + p.nd * a], v = s.slot[i + p.nd * b];
                if (u <= v)
                    at(u, v) = at(u, v) + top / p.nc;
            }
    }
    mxFree(cols);
    mxFree(scaled);
    // H = U'U, U upper, in place over H's upper triangle.
    bool definite = true;
    for (std::int32_t c = 0; c < n && definite; c++) {
        for (std::int32_t r = 0; r <= c; r++) {
            double sum = at(r, c);
            for (std::int32_t m = 0; m < r; m++)
                sum = sum - at(m, r) * at(m, c);
            if (r < c) {
                at(r, c) = sum / at(r, r);
            } else if (sum > 0 && std::isfinite(sum)) {
                at(c, c) = std::sqrt(sum);
            } else {
                definite = false;
            }
        }
    }
    if (definite) {
        // U'y = q, then U x = y.
        for (std::int32_t r = 0; r < n; r++) {
            double sum = q[r];
            for (std::int32_t m = 0; m < r; m++)
                sum = sum - at(m, r) * x[m];
            x[r] = sum / at(r, r);
        }
        for (std::int32_t r = n - 1; r >= 0; r--) {
            double sum = x[r];
            for (std::int32_t m = r + 1; m < n; m++)
                sum = sum - at(r, m) * x[m];
            x[r] = sum / at(r, r);
        }
    }
    mxFree(H);
    return definite;
}

// The Newton direction x = H \ q on the n free weights and its gain, the
// quadratic model's q'x/2, a the diagonal of H (with h). A small system is
// solved exactly; a larger one by conjugate gradients preconditioned by a,
// without forming H, until the gain is known to 1 % or after cg_steps
// steps, the gain then counting what the residual still holds as the
// preconditioner estimates it: the step is checked on F itself, and the
// distance needs no more digits.
double newton_direction(const problem &p, const scratch &s, std::int32_t n, const double *a,
                        const double *h, double *q, double *x)
{
    off_shifts(p, s, q);
    // (At least one sample counted: without any, H is lambda2 alone, and its
    // size must still be bounded.)
    const double samples = p.ns > 1 ? p.ns : 1;
    if (samples * n * n <= direct_work && newton_exact(p, s, n, h, q, x)) {
        double qx = 0.0;
        for (std::int32_t u = 0; u < n; u++)
            qx = qx + q[u] * x[u];
        return (qx > 0 ? qx : 0.0) / 2;
    }
    double *r = doubles(n), *z = doubles(n), *d = doubles(n), *hd = doubles(n);
    double rz = 0.0;
    for (std::int32_t u = 0; u < n; u++) {
        x[u] = 0.0;
        r[u] = q[u];
        z[u] = r[u] / a[u];
    }
    off_shifts(p, s, z);
    for (std::int32_t u = 0; u < n; u++) {
        d[u] = z[u];
        rz = rz + r[u] * z[u];
    }
    const std::int32_t steps = n < cg_steps ? n : cg_steps;
    for (std::int32_t m = 0; m < steps; m++) {
        double qx = 0.0;
        for (std::int32_t u = 0; u < n; u++)
            qx = qx + q[u] * x[u];
        if (!(rz > 1e-2 * (qx > DBL_MIN ? qx : DBL_MIN)))
            break;
        times_h(p, s, n, h, d, hd);
        double curve = 0.0;
        for (std::int32_t u = 0; u < n; u++)
            curve = curve + d[u] * hd[u];
        if (!(curve > 0))
            break;
        const double alpha = rz / curve;
        for (std::int32_t u = 0; u < n; u++) {
            x[u] = x[u] + alpha * d[u];
            r[u] = r[u] - alpha * hd[u];
            z[u] = r[u] / a[u];
        }
        off_shifts(p, s, z);
        double next = 0.0;
        for (std::int32_t u = 0; u < n; u++)
            next = next + r[u] * z[u];
        for (std::int32_t u = 0; u < n; u++)
            d[u] = z[u] + (next / rz) * d[u];
        rz = next;
    }
    double qx = 0.0;
    for (std::int32_t u = 0; u < n; u++)
        qx = qx + q[u] * x[u];
    mxFree(r);
    mxFree(z);
    mxFree(d);
    mxFree(hd);
    return (qx + rz > 0 ? qx + rz : 0.0) / 2;
}

// How far W is from F's optimum (see the top of the file).
struct check {
    double objective = 0, gap = 0, gap_zero = 0;
    bool newton = false, has_step = false;
};

check measure(const problem &p, const scratch &s, bool newton)
{
    const std::int32_t ns = p.ns, nd = p.nd, nc = p.nc;
    check c;
    probabilities(p, p.XW, s.P, s.logP);
    c.objective = objective(p, p.W, s.logP);
    const double scale = std::fabs(c.objective) > DBL_MIN ? std::fabs(c.objective) : DBL_MIN;
    for (std::int32_t j = 0; j < nc; j++)
        for (std::int32_t k = 0; k < ns; k++) {
            const std::int32_t kj = k + ns * j;
            s.R[kj] = weight(p, k) * (p.Y[kj] - s.P[kj]);
            s.V[kj] = weight(p, k) * (s.P[kj] * (1.0 - s.P[kj]));
        }
    // The gradient and the curvature of every weight: X' R and (X.^2)' V,
    // over a compressed column's stored rows alone.
    for (std::int32_t i = 0; i < nd; i++) {
        if (p.Xc) {
            for (std::int32_t j = 0; j < nc; j++) {
                const double *r = s.R + static_cast<std::int64_t>(ns) * j;
                const double *v = s.V + static_cast<std::int64_t>(ns) * j;
                double g[4] = {0.0, 0.0, 0.0, 0.0}, a[4] = {0.0, 0.0, 0.0, 0.0};
                for (std::int32_t m = p.Xc->at[i]; m < p.Xc->at[i + 1]; m++) {
                    const double x = p.Xc->values[m];
                    const std::int32_t k = p.Xc->rows[m];
                    g[k & 3] = x * r[k] + g[k & 3];
                    a[k & 3] = (x * x) * v[k] + a[k & 3];
                }
                s.G[i + nd * j] = combine(g);
                s.A[i + nd * j] = combine(a);
            }
            continue;
        }
        const double *x = p.X + static_cast<std::int64_t>(ns) * i;
        for (std::int32_t j = 0; j < nc; j++) {
            const double *r = s.R + static_cast<std::int64_t>(ns) * j;
            const double *v = s.V + static_cast<std::int64_t>(ns) * j;
            s.G[i + nd * j] = row_sum4(ns, [&](std::int32_t k) { return x[k] * r[k]; });
            s.A[i + nd * j] = row_sum4(ns, [&](std::int32_t k) { return (x[k] * x[k]) * v[k]; });
        }
    }

    // r, a and the gains; the free weights and their signs for the Newton
    // measure.
    double total = 0.0, zero = 0.0;
    std::int32_t n = 0;
    for (std::int32_t ij = 0; ij < nd * nc; ij++) {
        s.slot[ij] = -1;
        s.step[ij] = 0.0;
        s.sign[ij] = 0.0;
    }
    for (std::int32_t j = 0; j < nc; j++)
        for (std::int32_t i = 0; i < nd; i++) {
            const std::int32_t ij = i + nd * j;
            const double f = factor(p, i), l1 = p.lambda1 * f, l2 = p.lambda2 * f;
            const double w = p.W[ij], g = s.G[ij];
            double r;
            if (w != 0)
                r = std::fabs(g - l1 * sgn(w) - l2 * w);
            else
                r = std::fabs(g) - l1 > 0 ? std::fabs(g) - l1 : 0.0;
            if (f > 0 && w == 0 && r == 0)
                continue; // its condition holds: neither a gain nor free
            const double a = s.A[ij] + l2;
            const double term = r == 0 ? 0.0 : r * r / a;
            total = total + term;
            if (w == 0 && f > 0)
                zero = zero + term;
            const bool free = f > 0 || j < nc - 1;
            if (newton && free) {
                s.slot[ij] = n;
                s.member[n++] = ij;
                s.sign[ij] = f == 0 ? 0.0 : w != 0 ? sgn(w) : sgn(g);
            }
        }
    c.gap_zero = zero / 2 / scale;
    c.gap = total / 2 / scale;
    c.newton = newton;
    if (!newton || n == 0) {
        if (newton)
            c.gap = c.gap_zero = 0.0;
        return c;
    }
    double *q = doubles(n), *a = doubles(n), *h = doubles(n), *step = doubles(n);
    for (std::int32_t u = 0; u < n; u++) {
        const std::int32_t ij = s.member[u], i = ij % nd;
        const double f = factor(p, i);
        q[u] = s.G[ij] - p.lambda1 * f * s.sign[ij] - p.lambda2 * f * p.W[ij];
        h[u] = p.lambda2 * f;
        a[u] = s.A[ij] + h[u];
    }
    const double gain = newton_direction(p, s, n, a, h, q, step);
    for (std::int32_t u = 0; u < n; u++)
        s.step[s.member[u]] = step[u];
    mxFree(q);
    mxFree(a);
    mxFree(h);
    mxFree(step);
    c.gap_zero = 0.0;
    c.gap = gain / scale;
    c.has_step = true;
    return c;
}

// The Newton step of the last measure from W, its length halved until F
// rises (at most step_halvings times); a weight whose sign the step would
// change stops at zero. On a rise W and the state move there.
bool newton_step(const problem &p, const scratch &s, const check &c)
{
    const std::int32_t nd = p.nd, nc = p.nc;
    const std::int64_t sc = static_cast<std::int64_t>(p.ns) * nc;
    double t = 1.0;
    for (std::int32_t h = 0; h < step_halvings; h++, t = t / 2) {
        for (std::int64_t kj = 0; kj < sc; kj++)
            s.XW2[kj] = p.XW[kj];
        for (std::int32_t j = 0; j < nc; j++)
            for (std::int32_t i = 0; i < nd; i++) {
                const std::int32_t ij = i + nd * j;
                double w = p.W[ij] + t * s.step[ij];
                if (s.sign[ij] != 0 && sgn(w) != s.sign[ij])
                    w = 0.0;
                s.W2[ij] = w;
                if (w != p.W[ij])
                    add_column(p, i, w - p.W[ij], s.XW2 + static_cast<std::int64_t>(p.ns) * j);
            }
        probabilities(p, s.XW2, s.P, s.logP);
        if (objective(p, s.W2, s.logP) > c.objective) {
            for (std::int32_t ij = 0; ij < nd * nc; ij++)
                p.W[ij] = s.W2[ij];
            for (std::int64_t kj = 0; kj < sc; kj++)
                p.XW[kj] = s.XW2[kj];
            return true;
        }
    }
    return false;
}

bool finite(const problem &p)
{
    for (std::int32_t ij = 0; ij < p.nd * p.nc; ij++)
        if (!std::isfinite(p.W[ij]))
            return false;
    return true;
}

} // namespace

void optimum_fit(const problem &p, double tol, double max_sweeps, bool display,
                 sweep_record &record, distance *out)
{
    scratch s = take(p);
    check c = measure(p, s, false);
    std::int32_t round = first_round, steps = 0;
    bool settled = false;
    while (finite(p) && std::isfinite(c.gap)) {
        settled = c.gap <= tol;
        // The sweeps settle the features in a few rounds; past those, when
        // no zero weight wants to move, the Newton step gains more than
        // more sweeps would.
        if (!c.newton && (settled || (round >= newton_round && c.gap_zero <= c.gap / 10))) {
            c = measure(p, s, true);
            settled = c.gap <= tol;
        }
        // A sweep runs while its number is max_sweeps or less, as in every
        // method: none is left when the next would be above it (or it is NaN).
        if (settled || !(record.sweeps + 1.0 <= max_sweeps))
            break;
        if (c.has_step && steps < max_steps && newton_step(p, s, c)) {
            row_shift(p, s, p.W);
            steps = steps + 1;
            const double before = c.gap;
            c = measure(p, s, true);
            // Steps follow each other while the distance falls fast.
            if (c.gap <= before / 4 && steps % 8 != 0)
                continue;
            c.has_step = false;
        }
        const double left = max_sweeps - record.sweeps;
        fresh_state(p);
        block_fit(p, 0.0, round < left ? round : left, display, record);
        row_shift(p, s, p.W);
        c = measure(p, s, false);
        round = 2 * round < last_round ? 2 * round : last_round;
    }
    // The Newton step of the measure that said the fit is done is taken
    // too: a line search and a pass for the gradient take the fit far
    // past tol (the steps converge fast), where a weight whose optimum is
    // small but not zero gets its value. The distance reported stays that
    // measure's, which the step, an ascent, only shortens.
    if (settled && c.has_step && newton_step(p, s, c)) {
        const double gap = c.gap;
        row_shift(p, s, p.W);
        c = measure(p, s, false);
        c.gap = gap;
    }
    settled = settled && finite(p) && std::isfinite(c.gap);
    if (out) {
        out->gap = c.gap;
        out->objective = c.objective;
        out->settled = settled;
        if (out->gradient)
            for (std::int32_t ij = 0; ij < p.nd * p.nc; ij++)
                out->gradient[ij] = s.G[ij];
    }
    give_back(s);
}
