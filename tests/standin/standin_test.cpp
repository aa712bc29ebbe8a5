// The stand-in host itself: what a call does with errors, scratch memory and
// arrays, the arrays it can describe, its printed text, and the loader's
// refusals. Modules here are plain functions of this test, called the way
// the loader calls a module's mexFunction.
#include "loader.h"
#include "mex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

standin_outcome run(mex_function_t fn, int nlhs, mxArray *plhs[], int nrhs = 0,
                    const mxArray *prhs[] = nullptr)
{
    standin_outcome o;
    const int failed = standin_call(fn, nlhs, plhs, nrhs, prhs, &o);
    EXPECT_EQ(failed, o.failed);
    return o;
}

void raises_midway(int, mxArray *plhs[], int, const mxArray *[])
{
    mxCalloc(3, 8);
    mxCalloc(5, 4);
    plhs[0] = mxCreateDoubleMatrix(2, 2, mxREAL);
    mexPrintf("before %d\n", 1);
    mexErrMsgIdAndTxt("test:bad", "bad %s %d.", "value", 7);
    mexPrintf("after\n"); // never reached
}

void raises_plain(int, mxArray *[], int, const mxArray *[])
{
    mexErrMsgTxt("Plain message.");
}

void leaves_things(int, mxArray *plhs[], int, const mxArray *[])
{
    void *a = mxCalloc(4, 8);
    mxCalloc(1, 8);
    mxCalloc(0, 8);
    mxFree(a);
    mxArray *kept = mxCreateDoubleMatrix(3, 1, mxREAL);
    mxCreateDoubleMatrix(1, 1, mxREAL); // neither returned nor destroyed
    mxArray *gone = mxCreateDoubleMatrix(1, 1, mxREAL);
    mxDestroyArray(gone);
    mxGetPr(kept)[2] = 5.0;
    plhs[0] = kept;
}

void frees_wrongly(int, mxArray *[], int nrhs, const mxArray *prhs[])
{
    double local = 0;
    mxFree(&local);
    if (nrhs > 0)
        mxDestroyArray(const_cast<mxArray *>(prhs[0]));
}

void asks_too_much(int, mxArray *[], int, const mxArray *[])
{
    mxCalloc(SIZE_MAX / 2, 4);
    mexPrintf("unreachable\n");
}

void prints(int, mxArray *[], int, const mxArray *[])
{
    mexPrintf("%s %d %.2f|", "x", -3, 2.5);
    mexEvalString("drawnow");
    mexPrintf("%5.1f\n", 1.25);
    mexEvalString("disp(1)");
}

} // namespace

TEST(Call, AnErrorEndsTheCallAndTheHostCleansUp)
{
    const std::size_t live = standin_live_blocks();
    mxArray *plhs[1] = {reinterpret_cast<mxArray *>(&plhs)}; // cleared by the call
    const standin_outcome o = run(raises_midway, 1, plhs);
    EXPECT_TRUE(o.failed);
    EXPECT_STREQ(o.id, "test:bad");
    EXPECT_STREQ(o.message, "bad value 7.");
    EXPECT_STREQ(standin_output(), "before 1\n");
    EXPECT_EQ(o.callocs, 2u);
    EXPECT_EQ(o.left_blocks, 2u);
    EXPECT_EQ(o.left_bytes, 3u * 8 + 5u * 4);
    EXPECT_EQ(o.arrays_created, 1u);
    EXPECT_EQ(plhs[0], nullptr) << "outputs of a failed call are discarded";
    EXPECT_EQ(standin_live_blocks(), live);

    const standin_outcome p = run(raises_plain, 0, plhs);
    EXPECT_TRUE(p.failed);
    EXPECT_STREQ(p.id, "");
    EXPECT_STREQ(p.message, "Plain message.");
}

TEST(Call, AfterSuccessLeftoversAreReportedAndFreed)
{
    const std::size_t live = standin_live_blocks();
    mxArray *plhs[1];
    const standin_outcome o = run(leaves_things, 1, plhs);
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(o.callocs, 3u);
    EXPECT_EQ(o.left_blocks, 2u);
    EXPECT_EQ(o.left_bytes, 8u);
    EXPECT_EQ(o.arrays_created, 3u);
    EXPECT_EQ(o.arrays_left, 1u);
    EXPECT_EQ(o.bad_frees, 0u);
    EXPECT_EQ(standin_live_blocks(), live);
    ASSERT_NE(plhs[0], nullptr);
    EXPECT_EQ(mxGetM(plhs[0]), 3u);
    EXPECT_EQ(mxGetPr(plhs[0])[2], 5.0) << "the returned array belongs to the caller";
    mxDestroyArray(plhs[0]);
}

TEST(Call, FreeingWhatTheHostNeverGaveIsCountedNotDone)
{
    mxArray *in = mex_matrix(1, 1, nullptr);
    const mxArray *prhs[1] = {in};
    mxArray *plhs[1];
    const standin_outcome o = run(frees_wrongly, 1, plhs, 1, prhs);
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(o.bad_frees, 2u);
    EXPECT_EQ(mxGetM(in), 1u) << "the input survived";
    mxDestroyArray(in);
}

TEST(Call, RunningOutOfMemoryRaisesAnError)
{
    mxArray *plhs[1];
    const standin_outcome o = run(asks_too_much, 1, plhs);
    EXPECT_TRUE(o.failed);
    EXPECT_STREQ(o.id, "standin:outOfMemory");
    EXPECT_STREQ(standin_output(), "");
}

TEST(Call, PrintedTextAndCommandsAreKeptPerCall)
{
    mxArray *plhs[1];
    run(prints, 1, plhs);
    run(prints, 1, plhs);
    EXPECT_STREQ(standin_output(), "x -3 2.50|  1.2\n");
    ASSERT_EQ(standin_eval_count(), 2u);
    EXPECT_STREQ(standin_eval(0), "drawnow");
    EXPECT_STREQ(standin_eval(1), "disp(1)");
    EXPECT_EQ(standin_eval(2), nullptr);
    standin_clear_output();
    EXPECT_STREQ(standin_output(), "");
    EXPECT_EQ(standin_eval_count(), 0u);
}

TEST(Scratch, ZeroFilledAndNeverNull)
{
    const std::size_t live = standin_live_blocks();
    auto *a = static_cast<unsigned char *>(mxCalloc(64, 8));
    void *e1 = mxCalloc(0, 8), *e2 = mxCalloc(0, 8);
    ASSERT_NE(a, nullptr);
    for (int i = 0; i < 64 * 8; i++)
        ASSERT_EQ(a[i], 0) << i;
    EXPECT_NE(e1, nullptr);
    EXPECT_NE(e1, e2);
    EXPECT_EQ(standin_live_blocks(), live + 3);
    mxFree(a);
    mxFree(e1);
    mxFree(e2);
    mxFree(nullptr);
    EXPECT_EQ(standin_live_blocks(), live);
}

TEST(Arrays, KindsAndClassNames)
{
    const std::size_t d[2] = {2, 3};
    const struct {
        mxClassID cls;
        const char *name;
    } kinds[] = {{mxDOUBLE_CLASS, "double"}, {mxSINGLE_CLASS, "single"},   {mxINT32_CLASS, "int32"},
                 {mxUINT8_CLASS, "uint8"},   {mxLOGICAL_CLASS, "logical"}, {mxCHAR_CLASS, "char"},
                 {mxCELL_CLASS, "cell"}};
    for (const auto &k : kinds) {
        mxArray *a = standin_array(k.cls, mxREAL, 0, 2, d, 1);
        ASSERT_NE(a, nullptr);
        EXPECT_STREQ(mxGetClassName(a), k.name);
        EXPECT_EQ(mxIsDouble(a) != 0, k.cls == mxDOUBLE_CLASS) << k.name;
        mxDestroyArray(a);
    }

    mxArray *c = standin_array(mxDOUBLE_CLASS, mxCOMPLEX, 0, 2, d, 1);
    EXPECT_TRUE(mxIsComplex(c));
    ASSERT_NE(mxGetPi(c), nullptr);
    EXPECT_EQ(mxGetPi(c)[5], 0.0);
    mxArray *s = standin_array(mxDOUBLE_CLASS, mxREAL, 1, 2, d, 1);
    EXPECT_TRUE(mxIsSparse(s));
    EXPECT_FALSE(mxIsComplex(s));
    EXPECT_EQ(mxGetN(s), 3u);
    mxDestroyArray(c);
    mxDestroyArray(s);

    const double v[6] = {1, 2, 3, 4, 5, 6};
    mxArray *m = mex_matrix(2, 3, v);
    EXPECT_EQ(mxGetPr(m)[2], 3.0) << "column-major: (1,2) follows the first column";
    EXPECT_EQ(mxGetPr(m)[5], 6.0);
    mxDestroyArray(m);
}

TEST(Arrays, DimensionsWithoutDataDescribeHugeArrays)
{
    const std::size_t big[2] = {3000000000u, 2};
    mxArray *a = standin_array(mxDOUBLE_CLASS, mxREAL, 0, 2, big, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(mxGetPr(a), nullptr);
    EXPECT_EQ(mxGetData(a), nullptr);
    EXPECT_EQ(mxGetM(a), 3000000000u);
    EXPECT_EQ(mxGetN(a), 2u);
    EXPECT_EQ(mxGetNumberOfElements(a), 6000000000u);
    mxDestroyArray(a);

    const std::size_t cube[3] = {4, 5, 6};
    mxArray *c = standin_array(mxDOUBLE_CLASS, mxREAL, 0, 3, cube, 0);
    EXPECT_EQ(mxGetNumberOfDimensions(c), 3);
    EXPECT_EQ(mxGetN(c), 30u) << "all dimensions but the first";
    mxDestroyArray(c);

    // Counts too large for size_t stick at its maximum instead of wrapping.
    const std::size_t huge[2] = {SIZE_MAX / 2, 3};
    mxArray *h = standin_array(mxDOUBLE_CLASS, mxREAL, 0, 2, huge, 0);
    EXPECT_EQ(mxGetNumberOfElements(h), SIZE_MAX);
    mxDestroyArray(h);

    const std::size_t empty[2] = {0, 7};
    mxArray *e = standin_array(mxDOUBLE_CLASS, mxREAL, 0, 2, empty, 1);
    EXPECT_TRUE(mxIsEmpty(e));
    EXPECT_EQ(mxGetNumberOfElements(e), 0u);
    mxDestroyArray(e);
}

TEST(Arrays, SparseArraysInCompressedColumns)
{
    // Room for nzmax elements and none stored: every column start is 0.
    mxArray *a = mxCreateSparse(4, 3, 5, mxREAL);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(mxIsSparse(a) && mxIsDouble(a) && !mxIsComplex(a));
    EXPECT_EQ(mxGetM(a), 4u);
    EXPECT_EQ(mxGetN(a), 3u);
    EXPECT_EQ(mxGetNzmax(a), 5u);
    ASSERT_NE(mxGetPr(a), nullptr);
    ASSERT_NE(mxGetIr(a), nullptr);
    ASSERT_NE(mxGetJc(a), nullptr);
    for (int c = 0; c <= 3; c++)
        EXPECT_EQ(mxGetJc(a)[c], 0u);
    // The indices are as wide as the host's pointers.
    EXPECT_EQ(sizeof(mwIndex), sizeof(void *));
    // Filled as a module fills one: the values and rows, then the starts.
    mxGetPr(a)[4] = 2.5;
    mxGetIr(a)[4] = 3;
    mxGetJc(a)[3] = 5;
    mxDestroyArray(a);

    mxArray *c = mxCreateSparse(2, 2, 0, mxCOMPLEX);
    EXPECT_EQ(mxGetNzmax(c), 1u) << "room for one at least";
    EXPECT_NE(mxGetPi(c), nullptr);
    mxDestroyArray(c);

    // Without data, and for a full array, no indices at all.
    const std::size_t big[2] = {3000000000u, 5};
    mxArray *d = standin_array(mxDOUBLE_CLASS, mxREAL, 1, 2, big, 0);
    EXPECT_EQ(mxGetIr(d), nullptr);
    EXPECT_EQ(mxGetJc(d), nullptr);
    mxDestroyArray(d);
    mxArray *f = mex_matrix(2, 2, nullptr);
    EXPECT_EQ(mxGetJc(f), nullptr);
    EXPECT_EQ(mxGetNzmax(f), 0u);
    mxDestroyArray(f);
}

TEST(Loader, RefusesFilesThatAreNoModules)
{
    char err[512] = "";
    EXPECT_EQ(mex_open("/nonexistent/dovex_fit.mexa64", err, sizeof err), nullptr);
    EXPECT_NE(std::string(err).find("/nonexistent/dovex_fit.mexa64"), std::string::npos) << err;
    // A shared library without mexFunction.
    EXPECT_EQ(mex_open(STANDIN_LIBMAT, err, sizeof err), nullptr);
    EXPECT_NE(std::string(err).find("has no mexFunction"), std::string::npos) << err;
}
