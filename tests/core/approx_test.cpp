// The fit's observable contract: loop control, the random draws, the work
// arrays, the progress text and the invariants it keeps on XW, E and Z.
#include "data.h"
#include "dovex.h"
#include "recording_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

const double nan_v = std::numeric_limits<double>::quiet_NaN();
const double inf_v = std::numeric_limits<double>::infinity();

struct fit_result {
    std::vector<double> W, XW, E, Z;
    long draws; // rand() calls the fit made
};

// Calls the core on a copy of the state; counts draws by replaying the
// generator from the same seed.
fit_result fit(const dataset &d, const start_state &s, double lambda1, double lambda2, double tol,
               double max_sweeps, unsigned seed = 7, std::int32_t ny = -1)
{
    fit_result r{std::vector<double>(static_cast<size_t>(d.nd) * d.nc, 0.0), s.XW, s.E, s.Z, 0};
    host_reset();
    std::srand(seed);
    dovex_approx(r.W.data(), d.X.data(), d.Y.data(), r.XW.data(), r.E.data(), r.Z.data(), lambda1,
                 lambda2, tol, max_sweeps, d.nd, d.ns, ny < 0 ? d.nc : ny, d.nc);
    const int next = std::rand();
    std::srand(seed);
    while (std::rand() != next)
        r.draws++;
    return r;
}

int count_lines(const std::string &s)
{
    int n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

class Iris : public ::testing::Test
{
  protected:
    dataset d = load_dataset("iris");
    start_state s0 = zero_start(d.ns, d.nc);
};

} // namespace

TEST_F(Iris, NoSweepForSweepLimitBelowOneOrNaN)
{
    for (double ms : {0.999, 0.5, 0.0, -3.0, nan_v, -inf_v}) {
        const fit_result r = fit(d, s0, 1.0, 0.1, 1e-6, ms);
        EXPECT_EQ(host_log().out, "") << ms;
        EXPECT_EQ(r.draws, 0) << ms;
        EXPECT_EQ(r.W, std::vector<double>(r.W.size(), 0.0));
        EXPECT_EQ(r.XW, s0.XW);
        EXPECT_EQ(r.E, s0.E);
        EXPECT_EQ(r.Z, s0.Z);
    }
}

TEST_F(Iris, NoSweepWhenOnePlusTolIsNotAboveTol)
{
    for (double tol : {nan_v, inf_v, -inf_v, 1e20, -1e20}) {
        const fit_result r = fit(d, s0, 1.0, 0.1, tol, 1.0);
        EXPECT_EQ(host_log().out, "") << tol;
        EXPECT_EQ(r.draws, 0) << tol;
    }
}

TEST_F(Iris, SweepLimitIsComparedAsADouble)
{
    fit(d, s0, 1.0, 0.1, 1e3, 1.0); // tol far above any diff: limit still allows one
    EXPECT_EQ(count_lines(host_log().out), 1);
    fit(d, s0, 1.0, 0.1, -1.0, 2.5); // negative tol: only the limit stops it
    EXPECT_EQ(count_lines(host_log().out), 2);
    fit(d, s0, 1.0, 0.1, -1.0, 7.0);
    EXPECT_EQ(count_lines(host_log().out), 7);
}

TEST_F(Iris, ProgressTextAndDrawnowAfterEveryLine)
{
    fit(d, s0, 1.0, 0.1, -1.0, 3.0);
    const host_record &h = host_log();
    // Starting from zero weights every weight that moves is the whole change.
    EXPECT_EQ(h.out.substr(0, 25), "sweep : 1, diff : 1.0000\n");
    EXPECT_EQ(h.out.find("sweep : 2, diff : 0."), 25u);
    EXPECT_NE(h.out.find("\nsweep : 3, diff : "), std::string::npos);
    EXPECT_EQ(h.evals, (std::vector<std::string>{"drawnow", "drawnow", "drawnow"}));
}

TEST_F(Iris, StopsOnceDiffIsNotAboveTol)
{
    fit(d, s0, 1.0, 0.1, 1.0, 100.0); // first diff is exactly 1
    EXPECT_EQ(count_lines(host_log().out), 1);
    fit(d, s0, 1.0, 0.1, 0.0, 100000.0);
    const std::string &out = host_log().out;
    const size_t last = out.rfind("diff : ");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(out.substr(last), "diff : 0.0000\n"); // ends on a zero change
}

TEST_F(Iris, OneDrawPerPairPerSweep)
{
    // Weights all non-zero after the first sweep still draw every time.
    const fit_result r = fit(d, s0, 0.0, 0.01, -1.0, 5.0);
    EXPECT_EQ(r.draws, 5L * d.nd * d.nc);
    const fit_result sparse = fit(d, s0, 30.0, 0.1, -1.0, 4.0);
    EXPECT_EQ(sparse.draws, 4L * d.nd * d.nc);
}

TEST_F(Iris, WorkArraysComeFromTheHostAndGoBackInOrder)
{
    // Nothing is allocated inside the sweeps: as many blocks for one as for ten.
    fit(d, s0, 1.0, 0.1, -1.0, 1.0, 7, d.nc + 2);
    const size_t blocks = host_log().allocs.size();
    fit(d, s0, 1.0, 0.1, -1.0, 10.0, 7, d.nc + 2);
    const host_record &h = host_log();
    EXPECT_EQ(h.allocs.size(), blocks);
    // The seven work arrays, then the core's own bookkeeping.
    ASSERT_GE(h.allocs.size(), 7u);
    const std::int32_t ny = d.nc + 2, pairs = d.nd * ny;
    const std::vector<size_t> counts = {size_t(pairs), size_t(pairs), size_t(pairs), size_t(d.ns),
                                        size_t(d.nd),  size_t(d.ns),  size_t(d.ns)};
    for (size_t a = 0; a < 7; a++) {
        EXPECT_EQ(h.allocs[a].count, counts[a]) << a;
        EXPECT_EQ(h.allocs[a].size, 8u) << a;
    }
    ASSERT_EQ(h.frees.size(), h.allocs.size());
    for (size_t a = 0; a < h.allocs.size(); a++)
        EXPECT_EQ(h.frees[a], h.allocs[a].ptr) << a;
    EXPECT_EQ(h.live, 0);
    // The curvature bound: -1/2 (1 - 1/ny) times the column's sum of squares.
    const std::vector<double> &bound = h.allocs[4].at_free;
    for (std::int32_t i = 0; i < d.nd; i++) {
        double s = 0.0;
        for (std::int32_t k = 0; k < d.ns; k++)
            s += d.X[k + d.ns * i] * d.X[k + d.ns * i];
        EXPECT_DOUBLE_EQ(bound[i], -0.5 * (1.0 - 1.0 / ny) * s);
    }
}

TEST_F(Iris, PenaltyThatZeroesEverythingEndsAfterOneSweepOnNaN)
{
    const fit_result r = fit(d, s0, 1e9, 0.1, 1e-6, 50.0);
    const host_record &h = host_log();
    EXPECT_EQ(count_lines(h.out), 1);
    EXPECT_NE(h.out.find("nan"), std::string::npos) << h.out;
    EXPECT_EQ(r.W, std::vector<double>(r.W.size(), 0.0));
    // Every pair was visited once and left at zero, so its probability decayed once.
    const std::vector<double> &prob = h.allocs[2].at_free;
    for (std::int32_t p = 0; p < d.nd * d.nc; p++)
        EXPECT_EQ(prob[p], 0.3) << p;
}

TEST_F(Iris, ZeroWeightsDecayAndAreSkippedByTheDraws)
{
    // A zero weight that stays zero decays by 0.3 per visit; later sweeps
    // visit it only when the draw falls at or below that probability, so
    // after three sweeps some have decayed again and some were skipped.
    fit(d, s0, 40.0, 0.1, -1.0, 3.0);
    const std::vector<double> &prob = host_log().allocs[2].at_free;
    int skipped = 0, decayed_again = 0;
    for (std::int32_t p = 0; p < d.nd * d.nc; p++) {
        const double v = prob[p];
        EXPECT_TRUE(v == 1.0 || v == 0.3 || v == 0.3 * 0.3 || v == 0.3 * 0.3 * 0.3) << v;
        skipped += v == 0.3;
        decayed_again += v < 0.3;
    }
    EXPECT_GT(skipped, 0);
    EXPECT_GT(decayed_again, 0);
}

TEST_F(Iris, KeepsEEqualToExpXWAndZTheRowSums)
{
    start_state offset = s0;
    for (std::int32_t k = 0; k < d.ns; k++) {
        offset.Z[k] = 0.0;
        for (std::int32_t j = 0; j < d.nc; j++) {
            const double v = 0.25 * ((k + 2 * j) % 5) - 0.5;
            offset.XW[k + d.ns * j] = v;
            offset.E[k + d.ns * j] = std::exp(v);
            offset.Z[k] += std::exp(v);
        }
    }
    for (const start_state *s : {&s0, &offset}) {
        const fit_result r = fit(d, *s, 0.5, 0.1, 1e-5, 200.0);
        for (std::int32_t k = 0; k < d.ns; k++) {
            double sum = 0.0;
            for (std::int32_t j = 0; j < d.nc; j++) {
                const double e = r.E[k + d.ns * j];
                EXPECT_NEAR(e, std::exp(r.XW[k + d.ns * j]), 1e-12 * e);
                sum += e;
            }
            EXPECT_NEAR(r.Z[k], sum, 1e-10 * sum);
        }
        // XW moves by X*W on top of its starting offset.
        for (std::int32_t k = 0; k < d.ns; k++)
            for (std::int32_t j = 0; j < d.nc; j++) {
                double xw = s->XW[k + d.ns * j];
                for (std::int32_t i = 0; i < d.nd; i++)
                    xw += d.X[k + d.ns * i] * r.W[i + d.nd * j];
                EXPECT_NEAR(r.XW[k + d.ns * j], xw, 1e-9 * (1 + std::fabs(xw)));
            }
    }
}

TEST_F(Iris, SameSeedSameBits)
{
    const fit_result a = fit(d, s0, 0.5, 0.1, 1e-4, 100.0, 99);
    const std::string out = host_log().out;
    const fit_result b = fit(d, s0, 0.5, 0.1, 1e-4, 100.0, 99);
    EXPECT_EQ(0, std::memcmp(a.W.data(), b.W.data(), a.W.size() * sizeof(double)));
    EXPECT_EQ(out, host_log().out);
}

TEST(Degenerate, NoCurvatureAndNoL2LeavesWeightsAtZero)
{
    // One column of Y gives every feature a zero curvature bound; with
    // lambda2 = 0 the bound has no maximiser and the weight must not move.
    dataset d = load_dataset("iris");
    d.nc = 1;
    d.Y.resize(d.ns);
    const fit_result r = fit(d, zero_start(d.ns, 1), 0.0, 0.0, 1e-6, 5.0);
    for (double w : r.W)
        EXPECT_EQ(w, 0.0);
    for (double e : r.E)
        EXPECT_EQ(e, 1.0);
    EXPECT_EQ(count_lines(host_log().out), 1); // 0/0 diff ends it
}

TEST(Degenerate, NoSamplesOrNoPairs)
{
    dataset d;
    d.nd = 3;
    d.nc = 2;
    const fit_result r = fit(d, zero_start(0, 2), 0.0, 0.0, 1e-6, 5.0);
    EXPECT_EQ(r.W, std::vector<double>(6, 0.0)); // zero step, not NaN
    EXPECT_EQ(r.draws, 6);
    EXPECT_EQ(count_lines(host_log().out), 1);

    const fit_result l2 = fit(d, zero_start(0, 2), 1.0, 0.5, 1e-6, 5.0);
    EXPECT_EQ(l2.W, std::vector<double>(6, 0.0));

    dataset none;
    none.ns = 4;
    none.X.resize(0);
    none.Y.assign(4, 1.0);
    none.nc = 1;
    const fit_result empty = fit(none, zero_start(4, 1), 1.0, 0.5, 1e-6, 5.0);
    EXPECT_EQ(empty.draws, 0);
    EXPECT_EQ(count_lines(host_log().out), 1);
}

TEST(Degenerate, NullDataPointersOfEmptyArrays)
{
    // A host may hand over an empty matrix as a null pointer. With no
    // features, W and X are empty; with no samples as well, so are Y, XW, E
    // and Z. Each fit ends after one sweep, having drawn nothing.
    for (std::int32_t ns : {0, 3}) {
        std::vector<double> Y(ns * 2, 0.5), XW(ns * 2, 0.0), E(ns * 2, 1.0), Z(ns, 2.0);
        host_reset();
        std::srand(11);
        dovex_approx(nullptr, nullptr, ns ? Y.data() : nullptr, ns ? XW.data() : nullptr,
                     ns ? E.data() : nullptr, ns ? Z.data() : nullptr, 1.0, 0.5, 1e-6, 5.0, 0,
                     ns, 2, 2);
        const int next = std::rand();
        std::srand(11);
        EXPECT_EQ(next, std::rand()) << ns;
        EXPECT_EQ(count_lines(host_log().out), 1) << ns;
        EXPECT_EQ(XW, std::vector<double>(ns * 2, 0.0));
        EXPECT_EQ(E, std::vector<double>(ns * 2, 1.0));
        EXPECT_EQ(Z, std::vector<double>(ns, 2.0));
    }
}

TEST(Compressed, FitsAShapePastThirtyTwoBitsWithoutAnythingOfItsFullSize)
{
    // 50,000 x 50,000 is 2.5e9 elements, past any 32-bit count, but holds
    // 10,000 values: features 0..9 are 1 on the first 2,000 samples of
    // "their" class (i % 2), every other feature is all zero.
    const std::int32_t ns = 50000, nd = 50000, nc = 2;
    std::vector<std::int32_t> at{0}, rows;
    std::vector<double> values;
    for (std::int32_t i = 0; i < nd; i++) {
        for (std::int32_t k = i % 2; i < 10 && k < 2000; k += 2) {
            rows.push_back(k);
            values.push_back(1.0);
        }
        at.push_back(static_cast<std::int32_t>(rows.size()));
    }
    std::vector<double> Y(static_cast<size_t>(ns) * nc, 0.0);
    for (std::int32_t k = 0; k < ns; k++)
        Y[k + static_cast<size_t>(ns) * (k % 2)] = 1.0;
    const start_state s = zero_start(ns, nc);
    std::vector<double> W(static_cast<size_t>(nd) * nc, 0.0), XW = s.XW, E = s.E, Z = s.Z;
    host_reset();
    std::srand(5);
    dovex_approx_sparse(W.data(), at.data(), rows.data(), values.data(), Y.data(), XW.data(),
                        E.data(), Z.data(), 1.0, 0.1, 1e-6, 3, nd, ns, nc, nc);

    EXPECT_EQ(count_lines(host_log().out), 3);
    for (std::int32_t i = 0; i < nd; i++)
        for (std::int32_t j = 0; j < nc; j++) {
            const double w = W[i + static_cast<size_t>(nd) * j];
            if (i < 10 && j == i % 2)
                EXPECT_GT(w, 0.0) << i;
            else if (i < 10)
                EXPECT_LT(w, 0.0) << i;
            else
                ASSERT_EQ(w, 0.0) << i;
        }
    // The state follows X W: row 0 has the five features of class 0 at 1;
    // from row 2000 on every score stays 0.
    double score = 0;
    for (std::int32_t i = 0; i < 10; i += 2)
        score += W[i];
    EXPECT_NEAR(XW[0], score, 1e-12);
    EXPECT_EQ(XW[30000], 0.0);
    EXPECT_EQ(E[30000 + static_cast<size_t>(ns)], 1.0);
    EXPECT_NEAR(Z[0], std::exp(XW[0]) + std::exp(XW[ns]), 1e-12);
    // Nothing larger than the per-pair work arrays, nd * ny values.
    for (const host_block &b : host_log().allocs)
        EXPECT_LE(b.count, static_cast<std::size_t>(nd) * nc);
    EXPECT_EQ(host_log().live, 0);
}
