// The module dovex_fit.mexa64 as MATLAB sees it: loaded by path through the
// stand-in host and called with arrays. Argument counts, input checks, the
// shape of W, the caller's arrays left alone, scratch memory returned, and
// the same bits as a direct call of the fitting core, for a sparse X the
// same bits as the full call on full(X).
#include "module_call.h"

#include "dovex.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

// ---------------------------------------------------------------- counts --

TEST_F(Gateway, NoInputsReturnsSilently)
{
    for (int nlhs : {0, 1}) {
        const call_result r = call(nlhs, {});
        EXPECT_FALSE(r.o.failed) << r.o.message;
        EXPECT_EQ(r.W, nullptr);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.evals, 0u);
        EXPECT_EQ(r.o.callocs, 0u);
        EXPECT_EQ(r.o.arrays_created, 0u);
    }
}

TEST_F(Gateway, WrongArgumentCountsPrintUsageThenRaise)
{
    const dataset d = load_dataset("iris");
    std::vector<const mxArray *> nine = inputs(d, 1, 0.1, 1e-4, 5);
    std::vector<const mxArray *> eight(nine.begin(), nine.end() - 1);
    std::vector<const mxArray *> ten = nine;
    ten.push_back(scalar(1));

    const struct {
        int nlhs;
        const std::vector<const mxArray *> &in;
    } cases[] = {{1, eight}, {1, ten}, {0, nine}, {2, nine}, {0, eight}, {3, ten}};
    for (const auto &c : cases) {
        SCOPED_TRACE("nlhs " + std::to_string(c.nlhs) + ", nrhs " + std::to_string(c.in.size()));
        const standin_outcome o = refused(c.nlhs, c.in, usage_line);
        EXPECT_STREQ(o.id, "") << "raised through mexErrMsgTxt, without an identifier";
        EXPECT_STREQ(o.message, "Incorrect number of arguments.");
    }
}

// ------------------------------------------------------------------- fit --

TEST_F(Gateway, WHasAsManyRowsAsFeaturesAndColumnsAsXW)
{
    dataset d = load_dataset("iris");
    // Y with one column more than XW: W follows XW.
    std::vector<double> Y4(d.Y);
    Y4.resize(Y4.size() + static_cast<std::size_t>(d.ns), 0.0);
    std::vector<const mxArray *> in = inputs(d, 1, 0.1, 1e-4, 3);
    in[1] = matrix(d.ns, d.nc + 1, Y4.data());
    const call_result r = call(1, in);
    ASSERT_FALSE(r.o.failed) << r.o.message;
    ASSERT_NE(r.W, nullptr);
    EXPECT_TRUE(mxIsDouble(r.W));
    EXPECT_FALSE(mxIsComplex(r.W));
    EXPECT_FALSE(mxIsSparse(r.W));
    EXPECT_EQ(mxGetM(r.W), 4u);
    EXPECT_EQ(mxGetN(r.W), 3u);
    EXPECT_EQ(r.o.arrays_created, 1u);
    EXPECT_EQ(r.o.arrays_left, 0u);
}

TEST_F(Gateway, LeavesEveryInputUnchangedAndFreesItsScratchMemory)
{
    const dataset d = load_dataset("iris");
    for (bool sparse_x : {false, true}) {
        SCOPED_TRACE(sparse_x ? "sparse X" : "full X");
        std::vector<const mxArray *> in = inputs(d, 1, 0.1, 1e-4, 10);
        if (sparse_x)
            in[0] = sparse(d.ns, d.nd, d.X.data(), true);
        std::vector<std::vector<unsigned char>> before;
        for (const mxArray *a : in)
            before.push_back(bytes_of(a));
        const std::size_t live = standin_live_blocks();

        const call_result r = call(1, in);
        ASSERT_FALSE(r.o.failed) << r.o.message;
        // The fit did work on its copies: weights moved.
        std::size_t nonzero = 0;
        for (double w : values_of(r.W))
            nonzero += w != 0;
        EXPECT_GT(nonzero, 0u);
        for (std::size_t i = 0; i < in.size(); i++)
            EXPECT_EQ(bytes_of(in[i]), before[i]) << "input " << i + 1 << " was written";

        // Three copies (and a sparse X's two index copies), the core's seven
        // work arrays and its five bookkeeping blocks (column flags and row
        // lists, class flags), all freed by the module.
        EXPECT_EQ(r.o.callocs, sparse_x ? 17u : 15u);
        EXPECT_EQ(r.o.left_blocks, 0u);
        EXPECT_EQ(r.o.bad_frees, 0u);
        EXPECT_EQ(standin_live_blocks(), live);
    }
}

TEST_F(Gateway, SweepLimitBelowOneGivesZerosPrintsNothingAndDrawsNothing)
{
    const dataset d = load_dataset("iris");
    for (double limit : {0.999, 0.5, 0.0, -3.0, nan_v}) {
        SCOPED_TRACE(limit);
        std::srand(11);
        const int first = std::rand();
        std::srand(11);
        const call_result r = call(1, inputs(d, 1, 0.1, 1e-4, limit));
        EXPECT_EQ(std::rand(), first) << "the generator moved";
        ASSERT_FALSE(r.o.failed) << r.o.message;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.evals, 0u);
        const std::vector<double> zeros(static_cast<std::size_t>(d.nd) * d.nc, 0.0);
        EXPECT_TRUE(same_bits(values_of(r.W), zeros));
    }
}

TEST_F(Gateway, NoSamplesStillGivesAWOfFeaturesByClasses)
{
    // Empty X, Y, XW, E and Z: no data moves a weight, so one sweep leaves
    // them all at zero, its diff is 0/0 and one line is printed.
    for (double lambda2 : {0.0, 0.5}) {
        SCOPED_TRACE(lambda2);
        const std::vector<const mxArray *> in = {matrix(0, 5),    matrix(0, 2), matrix(0, 2),
                                                 matrix(0, 2),    matrix(0, 1), scalar(1),
                                                 scalar(lambda2), scalar(1e-4), scalar(10)};
        const call_result r = call(1, in);
        ASSERT_FALSE(r.o.failed) << r.o.message;
        ASSERT_EQ(mxGetM(r.W), 5u);
        ASSERT_EQ(mxGetN(r.W), 2u);
        EXPECT_EQ(r.evals, 1u);
        EXPECT_EQ(r.o.left_blocks, 0u);
        EXPECT_TRUE(same_bits(values_of(r.W), std::vector<double>(10, 0.0)));
        EXPECT_EQ(r.out.rfind("sweep : 1, diff : ", 0), 0u) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
    }
}

// A fit through the module and the same fit by a direct call of the core,
// each from the same rand() state: the same bits, the same text.
class SameAsCore : public Gateway
{
  protected:
    // X, when given, is the module's X instead of d.X, which the core gets.
    void expect_same(const dataset &d, const start_state &s, std::int32_t ny_extra, double lambda1,
                     double lambda2, double tol, double max_sweeps, unsigned seed,
                     const mxArray *X = nullptr)
    {
        const std::int32_t ny = d.nc + ny_extra;
        std::vector<double> Y(d.Y);
        Y.resize(static_cast<std::size_t>(d.ns) * ny, 0.25);
        const std::vector<const mxArray *> in = {X ? X : matrix(d.ns, d.nd, d.X.data()),
                                                 matrix(d.ns, ny, Y.data()),
                                                 matrix(d.ns, d.nc, s.XW.data()),
                                                 matrix(d.ns, d.nc, s.E.data()),
                                                 matrix(d.ns, 1, s.Z.data()),
                                                 scalar(lambda1),
                                                 scalar(lambda2),
                                                 scalar(tol),
                                                 scalar(max_sweeps)};
        std::srand(seed);
        const call_result r = call(1, in);
        ASSERT_FALSE(r.o.failed) << r.o.message;
        const int next_module = std::rand();

        std::vector<double> W(static_cast<std::size_t>(d.nd) * d.nc, 0.0);
        start_state work = s;
        standin_clear_output();
        std::srand(seed);
        dovex_approx(W.data(), d.X.data(), Y.data(), work.XW.data(), work.E.data(), work.Z.data(),
                     lambda1, lambda2, tol, max_sweeps, d.nd, d.ns, ny, d.nc);
        const int next_core = std::rand();

        EXPECT_TRUE(same_bits(values_of(r.W), W)) << "W differs from the core's";
        EXPECT_EQ(r.out, standin_output());
        EXPECT_EQ(next_module, next_core) << "a different number of draws";
        EXPECT_FALSE(r.out.empty());
    }
};

TEST_F(SameAsCore, IrisFromTheZeroStart)
{
    const dataset d = load_dataset("iris");
    const start_state s = zero_start(d.ns, d.nc);
    expect_same(d, s, 0, 1.0, 0.1, 1e-4, 50, 3);
    expect_same(d, s, 0, 0.0, 1.0, 0.0, 7, 1234);
    expect_same(d, s, 0, 30.0, 0.0, -1.0, 4, 5);
}

TEST_F(SameAsCore, IrisFromAnOffsetStartWithAWiderY)
{
    const dataset d = load_dataset("iris");
    start_state s = zero_start(d.ns, d.nc);
    for (std::int32_t k = 0; k < d.ns; k++) {
        s.Z[k] = 0;
        for (std::int32_t j = 0; j < d.nc; j++) {
            const std::size_t p = k + static_cast<std::size_t>(d.ns) * j;
            s.XW[p] = 0.01 * (k % 7) - 0.02 * j;
            s.E[p] = std::exp(s.XW[p]);
            s.Z[k] += s.E[p];
        }
    }
    expect_same(d, s, 2, 0.5, 0.2, 1e-5, 30, 99);
}

TEST_F(SameAsCore, DigitsForAFewSweeps)
{
    dataset d = load_dataset("digits");
    for (double &x : d.X)
        x /= 16.0;
    expect_same(d, zero_start(d.ns, d.nc), 0, 5.0, 0.5, 1e-4, 3, 42);
}

// ---------------------------------------------------------- sparse X --

TEST_F(SameAsCore, ASparseXGivesTheBitsOfTheFullCallOnFullX)
{
    dataset d = load_dataset("digits");
    for (double &x : d.X)
        x /= 16.0;
    const start_state s = zero_start(d.ns, d.nc);
    // Half the pixels are zero; stored or not, they are the same +0.0.
    expect_same(d, s, 0, 5.0, 0.5, 1e-4, 4, 42, sparse(d.ns, d.nd, d.X.data()));
    expect_same(d, s, 1, 0.0, 1.0, -1.0, 2, 7, sparse(d.ns, d.nd, d.X.data(), true));

    // Signed zeros and values that turn the state wild: -0.0 stays -0.0 in
    // full(X); a huge value overflows exp; NaN and infinity spread.
    dataset iris = load_dataset("iris");
    start_state offset = zero_start(iris.ns, iris.nc);
    for (std::int32_t k = 0; k < iris.ns; k += 3)
        offset.XW[k] = -0.0;
    for (double odd : {-0.0, 800.0, nan_v, std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(odd);
        dataset e = iris;
        for (std::int32_t k = 5; k < e.ns; k += 7)
            e.X[k + static_cast<std::size_t>(e.ns) * (k % e.nd)] = odd;
        for (std::size_t p = 0; p < e.X.size(); p += 4)
            e.X[p] = 0.0; // zeros to leave out
        expect_same(e, offset, 0, 0.5, 0.1, 1e-6, 5, 9, sparse(e.ns, e.nd, e.X.data()));
    }
}

TEST_F(Gateway, ASparseXOfMoreElementsThanThirtyTwoBitsCountIsFitted)
{
    // 46341 x 46341 (2,147,488,281 elements, past 2^31 - 1) with 1,000
    // stored ones: features 0..9 each on 100 samples of class i % 2. The
    // module gives the bits of a direct call of the core with the same
    // compressed columns.
    const std::int32_t ns = 46341, nd = 46341, nc = 2;
    std::vector<std::int32_t> at{0}, rows;
    std::vector<double> values;
    for (std::int32_t i = 0; i < nd; i++) {
        for (std::int32_t k = i % 2; i < 10 && k < 200; k += 2) {
            rows.push_back(k);
            values.push_back(1.0);
        }
        at.push_back(static_cast<std::int32_t>(rows.size()));
    }
    mxArray *X = own(mxCreateSparse(ns, nd, static_cast<int>(rows.size()), mxREAL));
    std::copy(values.begin(), values.end(), mxGetPr(X));
    std::copy(rows.begin(), rows.end(), mxGetIr(X));
    std::copy(at.begin(), at.end(), mxGetJc(X));
    std::vector<double> Y(static_cast<std::size_t>(ns) * nc, 0.0);
    for (std::int32_t k = 0; k < ns; k++)
        Y[k + static_cast<std::size_t>(ns) * (k % 2)] = 1.0;
    start_state s = zero_start(ns, nc);
    const std::vector<const mxArray *> in = {
        X,         matrix(ns, nc, Y.data()), matrix(ns, nc, s.XW.data()), matrix(ns, nc, s.E.data()),
        matrix(ns, 1, s.Z.data()), scalar(1.0), scalar(0.1), scalar(1e-6), scalar(2)};
    std::srand(4);
    const call_result r = call(1, in);
    ASSERT_FALSE(r.o.failed) << r.o.message;
    // Three copies, two index copies, the seven work arrays and the five
    // bookkeeping blocks, all freed.
    EXPECT_EQ(r.o.callocs, 17u);
    EXPECT_EQ(r.o.left_blocks, 0u);

    std::vector<double> W(static_cast<std::size_t>(nd) * nc, 0.0);
    standin_clear_output();
    std::srand(4);
    dovex_approx_sparse(W.data(), at.data(), rows.data(), values.data(), Y.data(), s.XW.data(),
                        s.E.data(), s.Z.data(), 1.0, 0.1, 1e-6, 2, nd, ns, nc, nc);
    EXPECT_TRUE(same_bits(values_of(r.W), W));
    EXPECT_EQ(r.out, standin_output());
    std::size_t nonzero = 0;
    for (double w : W)
        nonzero += w != 0;
    EXPECT_EQ(nonzero, 20u);
}

TEST_F(Gateway, KeepsNoStateBetweenCalls)
{
    const dataset d = load_dataset("iris");
    std::srand(8);
    const call_result a = call(1, inputs(d, 1, 0.1, 1e-6, 20));
    std::srand(8);
    const call_result b = call(1, inputs(d, 1, 0.1, 1e-6, 20));
    ASSERT_FALSE(a.o.failed || b.o.failed);
    EXPECT_TRUE(same_bits(values_of(a.W), values_of(b.W)));
    EXPECT_EQ(a.out, b.out);
}
