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

// The squares of W and of its change over a sweep, summed in visiting order,
// which is frob's row-by-row order: the diff's bits depend on it. A zero adds
// +0.0 to a sum that is never -0.0 (it starts at +0.0 and adds squares),
// which changes nothing, so only non-zero terms are added.
struct norms {
    double w = 0.0, change = 0.0;
};

// Visits the pair (feature i, class j).
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
    if (p.Xc) {
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
double sweep(const problem &p, work &w)
{
    recheck_tame(w.state, p);
    norms sums;
    for (std::int32_t i = 0; i < p.nd; i++)
        for (std::int32_t j = 0; j < p.nc; j++)
            visit(p, w, i, j, sums);
    return std::fabs(std::sqrt(sums.change)) / std::sqrt(sums.w);
}

// The whole fit of p, whichever form its X comes in.
void fit(const problem &p, double tol, double max_sweeps)
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
        diff = sweep(p, w);
        mexPrintf("sweep : %d, diff : %2.4f\n", n, diff);
        mexEvalString("drawnow");
        // The counter is 32-bit: stop at its largest value rather than wrap.
        if (n == INT32_MAX)
            break;
    }
    release(w);
}

} // namespace

void dovex_approx(double *W, const double *X, const double *Y, double *XW, double *E,
                  double *Z, double lambda1, double lambda2, double tol, double max_sweeps,
                  std::int32_t nd, std::int32_t ns, std::int32_t ny, std::int32_t nc)
{
    const problem p{W, X, Y, nullptr, XW, E, Z, lambda1, lambda2, nd, ns, ny, nc};
    fit(p, tol, max_sweeps);
}

void dovex_approx_sparse(double *W, const std::int32_t *x_at, const std::int32_t *x_rows,
                         const double *x_values, const double *Y, double *XW, double *E,
                         double *Z, double lambda1, double lambda2, double tol,
                         double max_sweeps, std::int32_t nd, std::int32_t ns, std::int32_t ny,
                         std::int32_t nc)
{
    const compressed X{x_at, x_rows, x_values};
    const problem p{W, nullptr, Y, &X, XW, E, Z, lambda1, lambda2, nd, ns, ny, nc};
    fit(p, tol, max_sweeps);
}
