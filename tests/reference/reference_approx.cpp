// The fit as first written, operation for operation: every visit copies its
// columns and runs the full per-sample upkeep; every sweep copies W and sums
// both norms over every entry, with the core's column-major helpers.
// Compiled with the core's floating-point flags. Never optimise this file:
// its plainness is what makes it a reference.
#include "reference_approx.h"

#include "colmajor.h"
#include "host.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

void reference_approx(double *W, const double *X, const double *Y, double *XW, double *E,
                      double *Z, double lambda1, double lambda2, double tol, double max_sweeps,
                      std::int32_t nd, std::int32_t ns, std::int32_t ny, std::int32_t nc,
                      visit_count *visits, const solve_options *opts,
                      reference_record *record)
{
    const solve_options plain;
    if (!opts)
        opts = &plain;
    const double *penalty = opts->penalty, *weights = opts->weights;
    const std::int32_t npairs = nd * ny;
    double *w_change = static_cast<double *>(mxCalloc(npairs, 8));
    double *w_prev = static_cast<double *>(mxCalloc(npairs, 8));
    double *visit_prob = static_cast<double *>(mxCalloc(npairs, 8));
    double *ratio_col = static_cast<double *>(mxCalloc(ns, 8));
    double *bound_diag = static_cast<double *>(mxCalloc(nd, 8));
    double *x_col = static_cast<double *>(mxCalloc(ns, 8));
    double *y_col = static_cast<double *>(mxCalloc(ns, 8));

    for (std::int32_t i = 1; i <= nd; i++) {
        double s = 0.0;
        for (std::int32_t k = 1; k <= ns; k++) {
            const double x = X[idx(k, i, ns)];
            s = weights ? weights[k - 1] * (x * x) + s : x * x + s;
        }
        bound_diag[idx(i, 1, nd)] = opts->curvature != solve_options::classes
                                        ? -0.25 * s
                                        : ((-1.0 / ny) + 1.0) * (-0.5) * s;
    }
    for (std::int32_t p = 0; p < npairs; p++)
        visit_prob[p] = 1.0;
    // The newton curvature's longest move per feature.
    const bool newton = opts->curvature == solve_options::newton;
    std::vector<double> reach(newton ? nd : 0);
    for (std::int32_t i = 1; newton && i <= nd; i++) {
        double top = 0.0;
        bool finite = true;
        for (std::int32_t k = 1; k <= ns; k++) {
            const double a = std::fabs(X[idx(k, i, ns)]);
            top = a > top ? a : top;
            finite = finite && std::isfinite(a);
        }
        reach[i - 1] = finite ? 0.69 / top : 0.0;
    }

    double incr = 1.0 + tol;
    std::int32_t sweep = 1;
    while (sweep <= max_sweeps && incr > tol) {
        double visited = 0;
        // An empty W may be a null pointer, which memcpy must not get.
        if (nc * nd > 0)
            std::memcpy(w_prev, W, sizeof(double) * nc * nd);

        for (std::int32_t i = 1; i <= nd; i++)
            for (std::int32_t j = 1; j <= nc; j++) {
                const std::int32_t ij = idx(i, j, nd);
                const double w_old = W[ij];

                const int r = std::rand();
                if (w_old == 0 && !(visit_prob[ij] >= static_cast<double>(r) / RAND_MAX))
                    continue;

                for (std::int32_t k = 1; k <= ns; k++)
                    ratio_col[idx(k, 1, ns)] = E[idx(k, j, ns)] / Z[idx(k, 1, ns)];
                mat_col(y_col, Y, j, ns);
                mat_col(x_col, X, i, ns);

                visited = visited + 1;
                double g = 0.0, a = 0.0;
                for (std::int32_t k = 1; k <= ns; k++) {
                    const std::int32_t kk = idx(k, 1, ns);
                    const double t = (y_col[kk] - ratio_col[kk]) * x_col[kk];
                    g = (weights ? weights[k - 1] * t : t) + g;
                    const double p = ratio_col[kk], q = 1.0 - p;
                    const double c = (x_col[kk] * x_col[kk]) * (p < q ? p : q);
                    a = (weights ? weights[k - 1] * c : c) + a;
                }

                double l1 = lambda1, l2 = lambda2;
                if (penalty) {
                    const double f = penalty[i - 1];
                    l1 = f == 0 ? 0.0 : lambda1 * f;
                    l2 = f == 0 ? 0.0 : lambda2 * f;
                }
                const double bd = bound_diag[idx(i, 1, nd)];
                const double d = bd - l2;
                double w_new = w_old; // no curvature, no L2: no maximum, no move
                if (d != 0) {
                    const double w0 = (bd / d) * w_old - g / d;
                    const double thr = (-l1) / d;
                    w_new = sign(w0) * get_max(0.0, std::fabs(w0) - thr);
                }
                // The newton curvature: twice the current one within reach,
                // if its step gains more than the quarter bound's.
                const double bt = -2.0 * a;
                if (newton && bt > bd && reach[i - 1] > 0) {
                    const double dt = bt - l2;
                    double wt = g > l1 ? HUGE_VAL : g < -l1 ? -HUGE_VAL : 0.0;
                    if (dt != 0) {
                        const double w0 = (bt / dt) * w_old - g / dt;
                        wt = sign(w0) * get_max(0.0, std::fabs(w0) - (-l1) / dt);
                    }
                    const double lo = w_old - reach[i - 1], hi = w_old + reach[i - 1];
                    wt = wt < lo ? lo : wt > hi ? hi : wt;
                    const double dq = w_new - w_old, dn = wt - w_old;
                    const double gain_q = (g * dq + (bd / 2) * (dq * dq)) -
                                          l1 * (std::fabs(w_new) - std::fabs(w_old)) -
                                          (l2 / 2) * (w_new * w_new - w_old * w_old);
                    const double gain_n = (g * dn + (bt / 2) * (dn * dn)) -
                                          l1 * (std::fabs(wt) - std::fabs(w_old)) -
                                          (l2 / 2) * (wt * wt - w_old * w_old);
                    if (gain_n > gain_q)
                        w_new = wt;
                }

                for (std::int32_t k = 1; k <= ns; k++) {
                    const std::int32_t kj = idx(k, j, ns);
                    const double x = X[idx(k, i, ns)];
                    XW[kj] = (XW[kj] - w_old * x) + w_new * x;
                    const double e = std::exp(XW[kj]);
                    Z[idx(k, 1, ns)] = (e - E[kj]) + Z[idx(k, 1, ns)];
                    E[kj] = e;
                }

                if (visits) {
                    visits->all++;
                    visits->stayed_zero += w_new == 0 && w_old == 0;
                    if (w_new != 0 || w_old != 0)
                        visits->exp_needed += visits->nonzero[i - 1];
                }
                if (w_new == 0 && w_old == 0)
                    visit_prob[ij] = visit_prob[ij] * 0.3;
                else if (w_new == 0 || w_new != w_old)
                    W[ij] = w_new;
            }

        for (std::int32_t c = 1; c <= nc; c++)
            for (std::int32_t r = 1; r <= nd; r++)
                w_change[idx(r, c, nd)] = w_prev[idx(r, c, nd)] - W[idx(r, c, nd)];
        const double diff = std::fabs(frob(w_change, nd, nc)) / frob(W, nd, nc);

        if (record) {
            record->diffs.push_back(diff);
            record->visits.push_back(visited);
        }
        if (opts->display) {
            mexPrintf("sweep : %d, diff : %2.4f\n", sweep, diff);
            mexEvalString("drawnow");
        }

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
}
