// The fit as first written, operation for operation: every visit copies its
// columns and runs the full per-sample upkeep; every sweep copies W and sums
// both norms over every entry, with the core's column-major helpers.
// Compiled with the core's floating-point flags. Never optimise this file:
// its plainness is what makes it a reference. dovex_solve's block method,
// which visits no single pairs, has a function of its own.
#include "reference_approx.h"

#include "colmajor.h"
#include "host.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// dovex_solve's block method (core/block.cpp, where its definition is),
// written plainly over a full X: every sum over every row, every array
// allocated anew where it is needed.
void reference_block(double *W, const double *X, const double *Y, double *XW, double *E,
                     double *Z, double lambda1, double lambda2, double tol, double max_sweeps,
                     std::int32_t nd, std::int32_t ns, std::int32_t nc, const solve_options &opts,
                     reference_record *record)
{
    const double *penalty = opts.penalty, *weights = opts.weights;
    const auto l1_of = [&](std::int32_t i) {
        return !penalty ? lambda1 : penalty[i - 1] == 0 ? 0.0 : lambda1 * penalty[i - 1];
    };
    const auto l2_of = [&](std::int32_t i) {
        return !penalty ? lambda2 : penalty[i - 1] == 0 ? 0.0 : lambda2 * penalty[i - 1];
    };
    double incr = 1.0 + tol;
    std::int32_t sweep = 1;
    while (sweep <= max_sweeps && incr > tol) {
        std::vector<double> w_prev(W, W + nd * nc);
        double visited = 0;
        for (std::int32_t j = 1; j <= nc; j++) {
            std::vector<double> v(ns), r(ns), u(ns, 0.0), c(nd), a(nd);
            for (std::int32_t k = 1; k <= ns; k++) {
                double z = 0.0;
                for (std::int32_t jj = 1; jj <= nc; jj++)
                    z = z + E[idx(k, jj, ns)];
                Z[k - 1] = z;
                const double p = E[idx(k, j, ns)] / Z[idx(k, 1, ns)];
                const double q = p * (1.0 - p);
                const double cv = q > 1e-5 ? q : 1e-5;
                const double res = Y[idx(k, j, ns)] - p;
                v[k - 1] = weights ? weights[k - 1] * cv : cv;
                r[k - 1] = weights ? weights[k - 1] * res : res;
            }
            // Sums over the samples: row k's term into sum (k-1) mod 4.
            for (std::int32_t i = 1; i <= nd; i++) {
                c[i - 1] = W[idx(i, j, nd)];
                double s[4] = {0.0, 0.0, 0.0, 0.0};
                for (std::int32_t k = 1; k <= ns; k++) {
                    const double x = X[idx(k, i, ns)];
                    s[(k - 1) % 4] = v[k - 1] * (x * x) + s[(k - 1) % 4];
                }
                a[i - 1] = (s[0] + s[1]) + (s[2] + s[3]);
            }
            // The coordinate descent: a full pass, passes over the non-zero
            // weights until settled, a full pass to check.
            bool full = true;
            for (std::int32_t pass = 0; pass < 100; pass++) {
                double biggest = 0.0;
                for (std::int32_t i = 1; i <= nd; i++) {
                    if (!full && c[i - 1] == 0)
                        continue;
                    visited = visited + 1;
                    double s[4] = {0.0, 0.0, 0.0, 0.0};
                    for (std::int32_t k = 1; k <= ns; k++)
                        s[(k - 1) % 4] =
                            X[idx(k, i, ns)] * (r[k - 1] - v[k - 1] * u[k - 1]) + s[(k - 1) % 4];
                    const double g = (s[0] + s[1]) + (s[2] + s[3]);
                    const double den = a[i - 1] + l2_of(i);
                    double d = 0.0;
                    if (den != 0) {
                        const double cur = c[i - 1];
                        const double num = a[i - 1] * cur + g;
                        const double next =
                            sign(num) * get_max(0.0, std::fabs(num) - l1_of(i)) / den;
                        const double delta = next - cur;
                        c[i - 1] = next;
                        if (delta != 0)
                            for (std::int32_t k = 1; k <= ns; k++)
                                u[k - 1] = u[k - 1] + delta * X[idx(k, i, ns)];
                        d = std::fabs(delta);
                    }
                    biggest = d > biggest || std::isnan(d) ? d : biggest;
                }
                double step = 0.0;
                for (std::int32_t i = 1; i <= nd; i++) {
                    const double d = std::fabs(c[i - 1] - W[idx(i, j, nd)]);
                    step = d > step ? d : step;
                }
                const bool settled = biggest <= 1e-1 * step;
                if (settled && full)
                    break;
                full = settled;
            }
            // The line search on the objective.
            bool moved = false;
            for (std::int32_t i = 1; i <= nd; i++)
                moved = moved || c[i - 1] != W[idx(i, j, nd)];
            if (!moved)
                continue;
            std::vector<double> xw0(ns), e0(ns), z0(Z, Z + ns), trial(nd);
            mat_col(xw0.data(), XW, j, ns);
            mat_col(e0.data(), E, j, ns);
            bool kept = false;
            double t = 1.0;
            for (std::int32_t h = 0; h <= 20 && !kept; h++, t = t / 2) {
                double pen = 0.0;
                for (std::int32_t i = 1; i <= nd; i++) {
                    const double wi = W[idx(i, j, nd)];
                    trial[i - 1] = h == 0 ? c[i - 1] : wi + t * (c[i - 1] - wi);
                    const double wt = trial[i - 1];
                    pen = pen + (l1_of(i) * (std::fabs(wt) - std::fabs(wi)) +
                                 (l2_of(i) / 2) * (wt * wt - wi * wi));
                }
                double gain = 0.0;
                bool defined = true;
                for (std::int32_t k = 1; k <= ns; k++) {
                    const std::int32_t kj = idx(k, j, ns);
                    XW[kj] = xw0[k - 1] + t * u[k - 1];
                    E[kj] = std::exp(XW[kj]);
                    double z = 0.0;
                    for (std::int32_t jj = 1; jj <= nc; jj++)
                        z = z + E[idx(k, jj, ns)];
                    Z[k - 1] = z;
                    const double ratio = Z[k - 1] / z0[k - 1];
                    defined = defined && ratio > 0;
                    const double term = Y[kj] * (t * u[k - 1]) - std::log(ratio);
                    if (ratio > 0)
                        gain = gain + (weights ? weights[k - 1] * term : term);
                }
                if (defined && gain - pen > 0) {
                    kept = true;
                    for (std::int32_t i = 1; i <= nd; i++)
                        W[idx(i, j, nd)] = trial[i - 1];
                }
            }
            if (!kept)
                for (std::int32_t k = 1; k <= ns; k++) {
                    XW[idx(k, j, ns)] = xw0[k - 1];
                    E[idx(k, j, ns)] = e0[k - 1];
                    Z[k - 1] = z0[k - 1];
                }
        }
        std::vector<double> w_change(nd * nc);
        for (std::int32_t m = 0; m < nd * nc; m++)
            w_change[m] = w_prev[m] - W[m];
        const double diff = std::fabs(frob(w_change.data(), nd, nc)) / frob(W, nd, nc);
        if (record) {
            record->diffs.push_back(diff);
            record->visits.push_back(visited);
        }
        if (opts.display) {
            mexPrintf("sweep : %d, diff : %2.4f\n", sweep, diff);
            mexEvalString("drawnow");
        }
        if (sweep == INT32_MAX)
            break;
        sweep++;
        incr = diff;
    }
}

} // namespace

void reference_approx(double *W, const double *X, const double *Y, double *XW, double *E,
                      double *Z, double lambda1, double lambda2, double tol, double max_sweeps,
                      std::int32_t nd, std::int32_t ns, std::int32_t ny, std::int32_t nc,
                      visit_count *visits, const solve_options *opts,
                      reference_record *record)
{
    const solve_options plain;
    if (!opts)
        opts = &plain;
    if (opts->curvature == solve_options::block) {
        reference_block(W, X, Y, XW, E, Z, lambda1, lambda2, tol, max_sweeps, nd, ns, nc, *opts,
                        record);
        return;
    }
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
