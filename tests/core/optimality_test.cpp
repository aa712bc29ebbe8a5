// Correctness from first principles: a converged fit satisfies the optimality
// conditions of the penalised log-likelihood
//     L(W) - lambda1 |W|_1 - lambda2/2 |W|^2,
// checked with probabilities recomputed from X*W, independently of the
// incremental state the core keeps.
#include "data.h"
#include "dovex.h"
#include "host.h"
#include "recording_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
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
// g - lambda2 f w = lambda1 f sign(w) for w != 0, |g| <= lambda1 f for
// w == 0, with g = sum_k s_k (Y(k,j) - p(k,j)) X(k,i); the penalty factors
// f and sample weights s all ones unless given.
double worst_violation(const dataset &d, const std::vector<double> &W, double lambda1,
                       double lambda2, const std::vector<double> *f = nullptr,
                       const std::vector<double> *s = nullptr)
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
                g += (s ? (*s)[k] : 1.0) * (d.Y[k + ns * j] - P[k + ns * j]) * d.X[k + ns * i];
            const double w = W[i + nd * j], l1 = lambda1 * (f ? (*f)[i] : 1.0),
                         l2 = lambda2 * (f ? (*f)[i] : 1.0);
            const double v = w != 0 ? std::fabs(g - l2 * w - l1 * (w > 0 ? 1 : -1))
                                    : std::fmax(0.0, std::fabs(g) - l1);
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

namespace {

// dovex_solve's optimum method from zero, X full or in compressed columns;
// its W, the predictors it kept and what it says of its end (with the
// gradient). Its scratch and its record's blocks all go back to the host.
struct optimum_run {
    std::vector<double> W, XW, G;
    distance end;
    std::int32_t sweeps = 0;
};

optimum_run solve_optimum(const dataset &d, const std::vector<double> &f,
                          const std::vector<double> &s, double lambda1, double lambda2,
                          double tol, bool compressed)
{
    optimum_run r;
    start_state st = zero_start(d.ns, d.nc);
    r.W.assign(static_cast<size_t>(d.nd) * d.nc, 0.0);
    r.G.assign(r.W.size(), 0.0);
    r.end.gradient = r.G.data();
    solve_options o;
    o.penalty = f.data();
    o.weights = s.data();
    o.display = false;
    o.curvature = solve_options::optimum;
    std::vector<std::int32_t> at{0}, rows;
    std::vector<double> values;
    for (std::int32_t i = 0; i < d.nd; i++) {
        for (std::int32_t k = 0; k < d.ns; k++)
            if (d.X[k + d.ns * i] != 0) {
                rows.push_back(k);
                values.push_back(d.X[k + d.ns * i]);
            }
        at.push_back(static_cast<std::int32_t>(rows.size()));
    }
    sweep_record rec;
    host_reset();
    dovex_solve(r.W.data(), compressed ? values.data() : d.X.data(),
                compressed ? at.data() : nullptr, compressed ? rows.data() : nullptr, d.Y.data(),
                st.XW.data(), st.E.data(), st.Z.data(), lambda1, lambda2, tol, 1e5, d.nd, d.ns,
                d.nc, d.nc, o, rec, &r.end);
    r.sweeps = rec.sweeps;
    if (rec.room > 0) {
        mxFree(rec.diffs);
        mxFree(rec.visits);
    }
    EXPECT_EQ(host_log().live, 0);
    r.XW = st.XW;
    return r;
}

} // namespace

TEST(Optimality, OptimumMethodReachesItsStatedDistanceWithFactorsAndWeights)
{
    // Digits scaled to [0, 1] with a constant column left unpenalised, the
    // samples weighted 1 to 3.
    dataset d = load_dataset("digits");
    for (double &x : d.X)
        x /= 16.0;
    d.X.insert(d.X.end(), static_cast<size_t>(d.ns), 1.0);
    d.nd += 1;
    std::vector<double> f(static_cast<size_t>(d.nd), 1.0), s(static_cast<size_t>(d.ns));
    f[0] = 2.0;
    f[static_cast<size_t>(d.nd) - 1] = 0.0;
    for (std::int32_t k = 0; k < d.ns; k++)
        s[k] = 1.0 + k % 3;
    const double l1 = 4.0, l2 = 0.4, tol = 1e-10;
    const optimum_run full = solve_optimum(d, f, s, l1, l2, tol, false);
    EXPECT_TRUE(full.end.settled);
    EXPECT_LE(full.end.gap, tol);
    // Moving one weight alone gains r^2 / (2a) of F, less than the whole
    // distance: so no violation r beyond sqrt(2 a tol |F|), a at most
    // sum_k s x^2 / 4 + lambda2 f.
    double a_max = 0.0;
    for (std::int32_t i = 0; i < d.nd; i++) {
        double a = 0.0;
        for (std::int32_t k = 0; k < d.ns; k++)
            a += s[k] * d.X[k + d.ns * i] * d.X[k + d.ns * i] / 4;
        a_max = std::fmax(a_max, a + l2 * f[i]);
    }
    EXPECT_LT(worst_violation(d, full.W, l1, l2, &f, &s) * (l1 + 1),
              std::sqrt(2 * a_max * tol * std::fabs(full.end.objective)));

    // F and the gradient as it says, from X*W afresh.
    const std::int32_t ns = d.ns, nd = d.nd, nc = d.nc;
    std::vector<double> G(full.G.size(), 0.0);
    double F = 0.0;
    for (std::int32_t k = 0; k < ns; k++) {
        std::vector<double> xw(static_cast<size_t>(nc), 0.0);
        for (std::int32_t j = 0; j < nc; j++)
            for (std::int32_t i = 0; i < nd; i++)
                xw[j] += d.X[k + ns * i] * full.W[i + nd * j];
        const double top = *std::max_element(xw.begin(), xw.end());
        double z = 0.0;
        for (double v : xw)
            z += std::exp(v - top);
        F += s[k] * (xw[d.label[k]] - top - std::log(z));
        for (std::int32_t j = 0; j < nc; j++) {
            const double r = s[k] * (d.Y[k + ns * j] - std::exp(xw[j] - top) / z);
            for (std::int32_t i = 0; i < nd; i++)
                G[i + nd * j] += r * d.X[k + ns * i];
        }
    }
    for (std::int32_t i = 0; i < nd; i++)
        for (std::int32_t j = 0; j < nc; j++) {
            const double w = full.W[i + nd * j];
            F -= f[i] * (l1 * std::fabs(w) + l2 / 2 * w * w);
        }
    EXPECT_NEAR(full.end.objective, F, 1e-10 * std::fabs(F));
    for (size_t ij = 0; ij < G.size(); ij++)
        ASSERT_NEAR(full.G[ij], G[ij], 1e-9 * d.ns) << "gradient " << ij;

    // X in compressed columns gives the same bits, and so does a second run.
    const optimum_run sparse = solve_optimum(d, f, s, l1, l2, tol, true);
    const optimum_run again = solve_optimum(d, f, s, l1, l2, tol, false);
    for (const optimum_run *other : {&sparse, &again}) {
        ASSERT_EQ(other->W.size(), full.W.size());
        EXPECT_EQ(std::memcmp(other->W.data(), full.W.data(), full.W.size() * sizeof(double)), 0);
        EXPECT_EQ(std::memcmp(other->XW.data(), full.XW.data(), full.XW.size() * sizeof(double)), 0);
        EXPECT_EQ(other->sweeps, full.sweeps);
    }
}
