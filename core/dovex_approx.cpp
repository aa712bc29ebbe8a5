// The fit: sweeps over all (feature, class) pairs, each visit moving one
// weight to the maximum of a bound on the penalised log-likelihood in that
// weight alone.
//
// The core's files, top down:
//   dovex_approx.cpp  the sweeps, the visit of one pair and its step
//   features.cpp      what is learned about X once per call
//   predictors.cpp    the gradient and the upkeep of XW, E and Z, and the
//                     shortcuts they take without changing a bit, for X
//                     full or in compressed columns (dovex_approx_sparse)
//   work.cpp          the work arrays, from the host and back
//   solve.cpp         dovex_solve's entry point, which picks its fit
//   block.cpp         dovex_solve's block method, a step per class
//   fit.h             the structs and declarations these share
//   colmajor.h        the column-major helpers; the step uses sign, get_max
//
// Reproducibility: every floating-point operation is written in the order
// that defines the result bits, and the core is compiled without contraction
// or reassociation (exact_fp.flags). Keep both when changing anything.
#include "dovex.h"

#include "colmajor.h"
#include "fit.h"
#include "host.h"

#include <cmath>
#include <cstdlib>

namespace {

// The fit maximises the penalised log-likelihood
//     F(W) = sum_k sum_j Y(k,j) log(E(k,j) / Z(k))
//            - lambda1 sum |W(i,j)| - lambda2/2 sum W(i,j)^2,
// E = exp(XW), Z(k) = sum_j E(k,j), XW = X W plus the caller's offset. A
// visit replaces w_old = W(i,j) by the maximiser, in w alone, of
//     q(w) = g (w - w_old) + b/2 (w - w_old)^2 - lambda1 |w| - lambda2/2 w^2,
// a lower bound on F along that weight, with the gradient
//     g = sum_k (Y(k,j) - E(k,j)/Z(k)) X(k,i)   (each row of Y summing to 1)
// and the fixed curvature b = bound_diag[i] = -1/2 (1 - 1/ny) sum_k X(k,i)^2:
// the log-likelihood's Hessian is never below the Kronecker product of
// -1/2 (I - 11'/ny) and X'X, whose diagonal these are. With d = b - lambda2,
// negative for penalties of zero or more, q is maximal at
//     w0 = (b/d) w_old - g/d,   thr = -lambda1/d >= 0,
//     w_new = sign(w0) max(0, |w0| - thr),
// computed in exactly these operand orders; sign(w0) times a swallowed
// negative w0 gives -0.0.
//
// dovex_solve generalises F with a factor f_i per feature and a weight s_k
// per sample:
//     F(W) = sum_k s_k sum_j Y(k,j) log(E(k,j) / Z(k))
//            - sum_ij f_i (lambda1 |W(i,j)| + lambda2/2 W(i,j)^2),
// so a visit takes the same step with
//     g = sum_k s_k ((Y(k,j) - E(k,j)/Z(k)) X(k,i)),
//     b = -1/2 (1 - 1/ny) sum_k s_k (X(k,i) X(k,i))   (or -1/4 of the sum),
//     lambda1 f_i and lambda2 f_i in place of lambda1 and lambda2, and 0
//     for both when f_i = 0,
// each product in the order written: with every s_k and f_i equal to 1 each
// is exact, and the fit keeps dovex_approx's bits. The weighted sum bounds
// the weighted Hessian as the unweighted one bounds its own, term by term.
// -1/4 sum_k s_k X(k,i)^2 bounds the curvature along one weight alone,
// -sum_k s_k X(k,i)^2 p(k,j) (1 - p(k,j)), since p (1 - p) <= 1/4: tighter
// than the first bound whenever ny > 2.
//
// d is zero only for a feature without curvature (an all-zero column,
// ny = 1 or no samples) and lambda2 = 0: q then has no maximum, and the
// weight stays where it is rather than turn to NaN and poison XW, E and Z.
double step(double w_old, double g, double b, double lambda1, double lambda2)
{
    const double d = b - lambda2;
    if (d == 0)
        return w_old;
    const double w0 = (b / d) * w_old - g / d;
    const double thr = (-lambda1) / d;
    return sign(w0) * get_max(0.0, std::fabs(w0) - thr);
}

// What the bound with curvature b gains by moving w_old to w:
// q(w) - q(w_old) in the notation above.
double gain(double w_old, double w, double g, double b, double lambda1, double lambda2)
{
    const double d = w - w_old;
    return (g * d + (b / 2) * (d * d)) - lambda1 * (std::fabs(w) - std::fabs(w_old)) -
           (lambda2 / 2) * (w * w - w_old * w_old);
}

// dovex_solve's newton curvature. Along the weight the log-likelihood's
// curvature is -sum_k s_k X(k,i)^2 p (1 - p), and over moves of at most
// `reach` no row's p (1 - p) can more than double (features.cpp): so with
// a = sum_k s_k X(k,i)^2 min(p, 1 - p) at w_old, the bound of curvature -2a
// holds within reach of w_old, and its maximiser there (the unconstrained
// one, clipped: q is concave) is an ascent. The quarter bound bq holds
// everywhere; of the two steps the one whose bound gains more is taken, so
// a visit never gains less than the quarter step promises.
double newton_step(double w_old, double g, double bq, double a, double reach, double lambda1,
                   double lambda2)
{
    const double wq = step(w_old, g, bq, lambda1, lambda2);
    const double bt = -2.0 * a;
    if (!(bt > bq) || !(reach > 0))
        return wq;
    const double d = bt - lambda2;
    double wt;
    if (d != 0) {
        const double w0 = (bt / d) * w_old - g / d;
        wt = sign(w0) * get_max(0.0, std::fabs(w0) - (-lambda1) / d);
    } else { // q is linear but for the kink at 0
        wt = g > lambda1 ? HUGE_VAL : g < -lambda1 ? -HUGE_VAL : 0.0;
    }
    const double lo = w_old - reach, hi = w_old + reach;
    wt = wt < lo ? lo : wt > hi ? hi : wt;
    return gain(w_old, wt, g, bt, lambda1, lambda2) > gain(w_old, wq, g, bq, lambda1, lambda2)
               ? wt
               : wq;
}

// The squares of W and of its change over a sweep, summed in visiting order,
// which is frob's row-by-row order: the diff's bits depend on it. A zero adds
// +0.0 to a sum that is never -0.0 (it starts at +0.0 and adds squares),
// which changes nothing, so only non-zero terms are added.
struct norms {
    double w = 0.0, change = 0.0;
    double visits = 0; // counted for dovex_solve's record only
};

// What dovex_solve asks beyond the fit itself: whether to print, and where
// to keep the sweeps.
struct solve_run {
    bool display;
    sweep_record *record;
};

// The penalties of feature i: dovex_solve scales both by the feature's
// factor, and a factor of 0 takes them away, whatever they are.
inline double penalised(double lambda, const double *penalty, std::int32_t i)
{
    if (!penalty)
        return lambda;
    return penalty[i] == 0 ? 0.0 : lambda * penalty[i];
}

// Visits the pair (feature i, class j). `general` is dovex_solve's fit,
// with factors, weights and a record; without it the visit is
// dovex_approx's, its machine code untouched by what dovex_solve adds.
template <bool general>
void visit(const problem &p, work &w, std::int32_t i, std::int32_t j, norms &sums)
{
    const std::int32_t ij = i + p.nd * j;
    const double w_old = p.W[ij];

    // Draw for every pair, visited or not, so that the number of draws never
    // depends on the weights. Decide: a zero weight (-0.0 too, NaN not) is
    // visited with probability visit_prob(i,j); one that is skipped stays
    // zero and adds nothing to the sums.
    const int r = std::rand();
    if (w_old == 0 && !(w.visit_prob[ij] >= static_cast<double>(r) / RAND_MAX))
        return;

    // The two forms of X have functions of their own, so that the full
    // one's machine code stays what it was without the compressed one.
    double w_new;
    if constexpr (general) {
        sums.visits = sums.visits + 1;
        const double lambda1 = penalised(p.lambda1, p.penalty, i);
        const double lambda2 = penalised(p.lambda2, p.penalty, i);
        if (w.reach) {
            double a;
            const double g = solve_gradient(w, p, i, j, &a);
            w_new = newton_step(w_old, g, w.bound_diag[i], a, w.reach[i], lambda1, lambda2);
        } else {
            const double g = solve_gradient(w, p, i, j, nullptr);
            w_new = step(w_old, g, w.bound_diag[i], lambda1, lambda2);
        }
        if (p.Xc)
            compressed_upkeep(w, p, i, j, w_old, w_new);
        else
            upkeep(w, p, i, j, w_old, w_new);
    } else if (p.Xc) {
        const double g = compressed_gradient(w, p, i, j);
        w_new = step(w_old, g, w.bound_diag[i], p.lambda1, p.lambda2);
        compressed_upkeep(w, p, i, j, w_old, w_new);
    } else {
        const double g = gradient(w, p, i, j);
        w_new = step(w_old, g, w.bound_diag[i], p.lambda1, p.lambda2);
        upkeep(w, p, i, j, w_old, w_new);
    }

    // Store, or decay the chance of visiting a zero weight that stays zero.
    if (w_new == 0 && w_old == 0)
        w.visit_prob[ij] = w.visit_prob[ij] * 0.3;
    else if (w_new == 0 || w_new != w_old)
        p.W[ij] = w_new;

    const double now = p.W[ij], change = w_old - now;
    if (now != 0)
        sums.w = now * now + sums.w;
    if (change != 0) // a NaN, or inf - inf, counts
        sums.change = change * change + sums.change;
}

// One sweep, features outer and classes inner, each visit seeing what the
// ones before it left. Returns the relative change of W over the sweep,
// |W at its start - W| / |W| in Frobenius norms. The outer |.| only ever
// clears the sign of a NaN, which the progress line would print as -nan.
template <bool general> double sweep(const problem &p, work &w, double &visits)
{
    recheck_tame(w.state, p);
    norms sums;
    for (std::int32_t i = 0; i < p.nd; i++)
        for (std::int32_t j = 0; j < p.nc; j++)
            visit<general>(p, w, i, j, sums);
    visits = sums.visits;
    return std::fabs(std::sqrt(sums.change)) / std::sqrt(sums.w);
}

// The whole fit of p, whichever form its X comes in; dovex_solve's when run
// is given.
template <bool general> void fit(const problem &p, double tol, double max_sweeps, solve_run run)
{
    work w = allocate(p);
    learn_features(w, p);
    for (std::int32_t ij = 0; ij < p.nd * p.ny; ij++)
        w.visit_prob[ij] = 1.0;

    // The loop starts only if max_sweeps >= 1 and 1 + tol > tol, which rules
    // out a NaN or infinite tol and one too large for the loop ever to end.
    // It goes on while the last diff is above tol (a NaN ends it).
    double diff = 1.0 + tol;
    for (std::int32_t n = 1; n <= max_sweeps && diff > tol; n++) {
        double visits;
        diff = sweep<general>(p, w, visits);
        if (general)
            record_sweep(*run.record, diff, visits);
        if (!general || run.display) {
            mexPrintf("sweep : %d, diff : %2.4f\n", n, diff);
            mexEvalString("drawnow");
        }
        // The counter is 32-bit: stop at its largest value rather than wrap.
        if (n == INT32_MAX)
            break;
    }
    release(w);
}

} // namespace

void solve_fit(const problem &p, double tol, double max_sweeps, bool display,
               sweep_record &record)
{
    fit<true>(p, tol, max_sweeps, {display, &record});
}

void dovex_approx(double *W, const double *X, const double *Y, double *XW, double *E,
                  double *Z, double lambda1, double lambda2, double tol, double max_sweeps,
                  std::int32_t nd, std::int32_t ns, std::int32_t ny, std::int32_t nc)
{
    const problem p{W, X, Y, nullptr, XW, E, Z, lambda1, lambda2, nd, ns, ny, nc};
    fit<false>(p, tol, max_sweeps, {true, nullptr});
}

void dovex_approx_sparse(double *W, const std::int32_t *x_at, const std::int32_t *x_rows,
                         const double *x_values, const double *Y, double *XW, double *E,
                         double *Z, double lambda1, double lambda2, double tol,
                         double max_sweeps, std::int32_t nd, std::int32_t ns, std::int32_t ny,
                         std::int32_t nc)
{
    const compressed X{x_at, x_rows, x_values};
    const problem p{W, nullptr, Y, &X, XW, E, Z, lambda1, lambda2, nd, ns, ny, nc};
    fit<false>(p, tol, max_sweeps, {true, nullptr});
}
