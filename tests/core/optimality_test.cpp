// Correctness from first principles: a converged fit satisfies the optimality
// conditions of the penalised log-likelihood
//     L(W) - lambda1 |W|_1 - lambda2/2 |W|^2,
// checked with probabilities recomputed from X*W, independently of the
// incremental state the core keeps.
#include "data.h"
#include "dovex.h"
#include "recording_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

std::vector<double> fit_to(const dataset &d, double lambda1, double lambda2, double tol)
{
    start_state s = zero_start(d.ns, d.nc);
    std::vector<double> W(static_cast<size_t>(d.nd) * d.nc, 0.0);
    host_reset();
    std::srand(1);
    dovex_approx(W.data(), d.X.data(), d.Y.data(), s.XW.data(), s.E.data(), s.Z.data(), lambda1,
                 lambda2, tol, 1e6, d.nd, d.ns, d.nc, d.nc);
    EXPECT_EQ(host_log().live, 0);
    return W;
}

// Largest violation of the optimality conditions, relative to lambda1 + 1:
// g - lambda2 w = lambda1 sign(w) for w != 0, |g| <= lambda1 for w == 0,
// with g = sum_k (Y(k,j) - p(k,j)) X(k,i).
double worst_violation(const dataset &d, const std::vector<double> &W, double lambda1,
                       double lambda2)
{
    const std::int32_t ns = d.ns, nd = d.nd, nc = d.nc;
    std::vector<double> P(static_cast<size_t>(ns) * nc);
    for (std::int32_t k = 0; k < ns; k++) {
        double z = 0.0;
        for (std::int32_t j = 0; j < nc; j++) {
            double xw = 0.0;
            for (std::int32_t i = 0; i < nd; i++)
                xw += d.X[k + ns * i] * W[i + nd * j];
            P[k + ns * j] = std::exp(xw);
            z += P[k + ns * j];
        }
        for (std::int32_t j = 0; j < nc; j++)
            P[k + ns * j] /= z;
    }
    double worst = 0.0;
    for (std::int32_t i = 0; i < nd; i++)
        for (std::int32_t j = 0; j < nc; j++) {
            double g = 0.0;
            for (std::int32_t k = 0; k < ns; k++)
                g += (d.Y[k + ns * j] - P[k + ns * j]) * d.X[k + ns * i];
            const double w = W[i + nd * j];
            const double v = w != 0 ? std::fabs(g - lambda2 * w - lambda1 * (w > 0 ? 1 : -1))
                                    : std::fmax(0.0, std::fabs(g) - lambda1);
            worst = std::fmax(worst, v);
        }
    return worst / (lambda1 + 1.0);
}

} // namespace

TEST(Optimality, IrisReachesThePenalisedOptimum)
{
    const dataset d = load_dataset("iris");
    for (double l1 : {0.5, 5.0}) {
        const std::vector<double> W = fit_to(d, l1, 0.1, 1e-10);
        int nonzero = 0;
        for (double w : W)
            nonzero += w != 0;
        EXPECT_GT(nonzero, 0);
        EXPECT_LT(worst_violation(d, W, l1, 0.1), 1e-4) << "lambda1 " << l1;
    }
}

TEST(Optimality, DigitsWithoutL2StaysFiniteAndOptimal)
{
    // Three pixel columns are zero in every sample: with lambda2 = 0 their
    // curvature is zero and their weights must stay exactly zero.
    dataset d = load_dataset("digits");
    for (double &x : d.X)
        x /= 16.0;
    const double l1 = 2.0;
    const std::vector<double> W = fit_to(d, l1, 0.0, 1e-6);
    int zero_cols = 0;
    for (std::int32_t i = 0; i < d.nd; i++) {
        bool all_zero = true;
        for (std::int32_t k = 0; k < d.ns; k++)
            all_zero = all_zero && d.X[k + d.ns * i] == 0;
        if (!all_zero)
            continue;
        zero_cols++;
        for (std::int32_t j = 0; j < d.nc; j++)
            EXPECT_EQ(W[i + d.nd * j], 0.0) << "pixel " << i;
    }
    EXPECT_EQ(zero_cols, 3);
    for (double w : W)
        ASSERT_TRUE(std::isfinite(w));
    EXPECT_LT(worst_violation(d, W, l1, 0.0), 1e-2);
}
