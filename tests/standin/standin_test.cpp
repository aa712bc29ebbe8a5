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
    const char *names[] = {"f"};
    mxSetField(mxCreateStructMatrix(1, 1, 1, names), 0, "f", mxCreateDoubleScalar(1));
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

// A struct output as a gateway builds one. Replacing a field leaves its
// old value to the module (here left behind), unless it destroys it first.
void returns_struct(int, mxArray *plhs[], int, const mxArray *[])
{
    const char *names[] = {"sweeps", "diffs", "converged", "method", "inner"};
    mxArray *s = mxCreateStructMatrix(1, 1, 5, names);
    mxSetField(s, 0, "sweeps", mxCreateDoubleScalar(1));
    mxSetField(s, 0, "sweeps", mxCreateDoubleScalar(7));
    mxSetField(s, 0, "diffs", mxCreateDoubleMatrix(3, 1, mxREAL));
    mxSetField(s, 0, "converged", mxCreateLogicalScalar(true));
    mxSetField(s, 0, "method", mxCreateString("cd"));
    const char *inner_names[] = {"w"};
    mxArray *inner = mxCreateStructMatrix(2, 1, 1, inner_names);
    mxSetField(inner, 1, "w", mxCreateDoubleScalar(2));
    mxSetField(s, 0, "inner", inner);
    mxDestroyArray(mxGetField(s, 0, "diffs"));
    mxSetField(s, 0, "diffs", mxCreateDoubleMatrix(2, 1, mxREAL));
    plhs[0] = s;
}

void leaves_struct(int, mxArray *plhs[], int, const mxArray *[])
{
    const char *names[] = {"a", "b"};
    mxArray *s = mxCreateStructMatrix(1, 1, 2, names);
    mxSetField(s, 0, "a", mxCreateDoubleScalar(1));
    mxSetField(s, 0, "b", mxCreateString("x"));
    plhs[0] = mxCreateDoubleScalar(0);
}

// Every way to give an array two owners or change an input, refused; and
// values set where there is no field, which stay the module's. prhs[0] is a
// struct with a field "a".
void misuses_structs(int, mxArray *plhs[], int, const mxArray *prhs[])
{
    mxArray *in = const_cast<mxArray *>(prhs[0]);
    const char *names[] = {"a", "b"}, *inner_names[] = {"x"};
    mxArray *s = mxCreateStructMatrix(1, 1, 2, names);
    mxArray *inner = mxCreateStructMatrix(1, 1, 1, inner_names);
    mxArray *v = mxCreateDoubleScalar(1);
    mxSetField(s, 0, "a", in);
    mxSetField(s, 0, "a", mxGetField(in, 0, "a"));
    mxSetField(in, 0, "a", v);
    mxDestroyArray(mxGetField(in, 0, "a"));
    mxSetField(s, 0, "a", v);
    mxSetField(s, 0, "b", v);
    mxSetField(s, 0, "b", inner);
    mxSetField(inner, 0, "x", s);
    mxSetField(s, 0, "c", mxCreateDoubleScalar(2));
    mxSetField(s, 1, "b", mxCreateDoubleScalar(3));
    mxSetField(v, 0, "a", mxCreateDoubleScalar(4));
    plhs[0] = s;
    plhs[1] = mxGetField(s, 0, "a"); // taken out of s by the host
}

const char **bad_names;

void names_badly(int, mxArray *[], int, const mxArray *[])
{
    mxCreateStructMatrix(1, 1, 2, bad_names);
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
    EXPECT_EQ(o.arrays_created, 3u);
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

TEST(Call, StructsOwnTheirFieldsAndTheCountsSaySo)
{
    mxArray *plhs[2];
    standin_outcome o = run(returns_struct, 1, plhs);
    EXPECT_EQ(o.arrays_created, 9u);
    EXPECT_EQ(o.arrays_left, 1u) << "the replaced value, and nothing in the struct";
    EXPECT_EQ(o.bad_frees, 0u);
    mxArray *s = plhs[0];
    ASSERT_TRUE(s && mxIsStruct(s));
    ASSERT_EQ(mxGetNumberOfFields(s), 5);
    const char *order[] = {"sweeps", "diffs", "converged", "method", "inner"};
    for (int k = 0; k < 5; k++) {
        EXPECT_STREQ(mxGetFieldNameByNumber(s, k), order[k]);
        EXPECT_EQ(mxGetFieldByNumber(s, 0, k), mxGetField(s, 0, order[k]));
    }
    EXPECT_EQ(mxGetFieldNameByNumber(s, 5), nullptr);
    EXPECT_EQ(mxGetFieldNameByNumber(s, -1), nullptr);
    EXPECT_EQ(mxGetField(s, 0, "Sweeps"), nullptr) << "names are case-sensitive";
    EXPECT_EQ(mxGetField(s, 0, "missing"), nullptr);
    EXPECT_EQ(mxGetField(s, 1, "sweeps"), nullptr) << "one element only";
    EXPECT_EQ(*mxGetPr(mxGetField(s, 0, "sweeps")), 7.0);
    EXPECT_EQ(mxGetM(mxGetField(s, 0, "diffs")), 2u);
    EXPECT_TRUE(*mxGetLogicals(mxGetField(s, 0, "converged")));
    const mxArray *inner = mxGetField(s, 0, "inner");
    EXPECT_EQ(mxGetField(inner, 0, "w"), nullptr) << "never filled";
    EXPECT_EQ(*mxGetPr(mxGetField(inner, 1, "w")), 2.0);
    mxDestroyArray(s); // with everything in it (memcheck counts the rest)

    o = run(leaves_struct, 1, plhs);
    EXPECT_EQ(o.arrays_left, 3u) << "the struct and both its fields";
    mxDestroyArray(plhs[0]);

    const char *in_names[] = {"a"};
    mxArray *a_value = mxCreateDoubleScalar(5);
    mxArray *in = mex_struct(1, in_names, &a_value);
    const mxArray *prhs[1] = {in};
    o = run(misuses_structs, 2, plhs, 1, prhs);
    EXPECT_EQ(o.bad_frees, 6u);
    EXPECT_EQ(o.arrays_created, 6u);
    EXPECT_EQ(o.arrays_left, 3u) << "the values set where there was no field";
    EXPECT_EQ(mxGetField(in, 0, "a"), a_value) << "the input is unchanged";
    EXPECT_EQ(*mxGetPr(a_value), 5.0);
    EXPECT_EQ(mxGetField(plhs[0], 0, "a"), nullptr);
    EXPECT_EQ(*mxGetPr(plhs[1]), 1.0);
    EXPECT_TRUE(mxIsStruct(mxGetField(plhs[0], 0, "b")));
    EXPECT_EQ(mxGetField(mxGetField(plhs[0], 0, "b"), 0, "x"), nullptr);
    mxDestroyArray(plhs[0]);
    mxDestroyArray(plhs[1]);
    mxDestroyArray(in);
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
        bool numeric;
    } kinds[] = {{mxDOUBLE_CLASS, "double", true}, {mxSINGLE_CLASS, "single", true},
                 {mxINT32_CLASS, "int32", true},   {mxUINT64_CLASS, "uint64", true},
                 {mxUINT8_CLASS, "uint8", true},   {mxLOGICAL_CLASS, "logical", false},
                 {mxCHAR_CLASS, "char", false},    {mxCELL_CLASS, "cell", false},
                 {mxSTRUCT_CLASS, "struct", false}};
    for (const auto &k : kinds) {
        mxArray *a = standin_array(k.cls, mxREAL, 0, 2, d, 1);
        ASSERT_NE(a, nullptr);
        EXPECT_STREQ(mxGetClassName(a), k.name);
        EXPECT_EQ(mxIsDouble(a) != 0, k.cls == mxDOUBLE_CLASS) << k.name;
        EXPECT_EQ(mxIsNumeric(a) != 0, k.numeric) << k.name;
        EXPECT_EQ(mxIsLogical(a) != 0, k.cls == mxLOGICAL_CLASS) << k.name;
        EXPECT_EQ(mxIsChar(a) != 0, k.cls == mxCHAR_CLASS) << k.name;
        EXPECT_EQ(mxIsStruct(a) != 0, k.cls == mxSTRUCT_CLASS) << k.name;
        // No fields to find in any of them, a struct made here included.
        EXPECT_EQ(mxGetNumberOfFields(a), 0) << k.name;
        EXPECT_EQ(mxGetField(a, 0, "x"), nullptr) << k.name;
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

TEST(Arrays, FieldNamesAsMatlabTakesThem)
{
    const std::string longest(63, 'n'), too_long(64, 'n');
    const char *bad[][2] = {{"a", "a"},
                            {"1a", "b"},
                            {"a", ""},
                            {"a b", "c"},
                            {"a", nullptr},
                            {"_a", "b"},
                            {"a", too_long.c_str()}};
    for (const auto &names : bad) {
        mxArray *values[2] = {mxCreateDoubleScalar(1), nullptr};
        EXPECT_EQ(mex_struct(2, names, values), nullptr) << names[0];
        bad_names = const_cast<const char **>(names);
        mxArray *plhs[1];
        const standin_outcome o = run(names_badly, 1, plhs);
        EXPECT_STREQ(o.id, "standin:badFieldName") << names[0];
    }
    const char *good[] = {"a", "long_name_9", longest.c_str()};
    mxArray *values[3] = {nullptr, mxCreateLogicalScalar(false), mxCreateString("fista")};
    mxArray *s = mex_struct(3, good, values);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(mxGetField(s, 0, "a"), nullptr);
    EXPECT_EQ(mxGetField(s, 0, "long_name_9"), values[1]);
    EXPECT_EQ(mxGetFieldByNumber(s, 0, 2), values[2]);
    mxDestroyArray(s);
}

TEST(Arrays, TextAndLogicals)
{
    const struct {
        const char *in;
        std::size_t units;
        const char *out;
    } texts[] = {{"", 0, ""},
                 {"fista", 5, "fista"},
                 {"\xc3\xa9\xe2\x82\xac", 2, "\xc3\xa9\xe2\x82\xac"}, // two units
                 {"\xf0\x9f\x98\x80", 2, "\xf0\x9f\x98\x80"},         // a surrogate pair
                 {"a\xff\xc3", 3, "a\xef\xbf\xbd\xef\xbf\xbd"}};      // no UTF-8
    const std::size_t live = standin_live_blocks();
    for (const auto &t : texts) {
        mxArray *a = mxCreateString(t.in);
        EXPECT_TRUE(mxIsChar(a));
        EXPECT_EQ(mxGetN(a), t.units);
        EXPECT_EQ(mxGetM(a), t.units ? 1u : 0u);
        char *back = mxArrayToString(a);
        EXPECT_STREQ(back, t.out);
        mxFree(back);
        mxDestroyArray(a);
    }
    EXPECT_EQ(standin_live_blocks(), live) << "the text is scratch memory";

    mxArray *yes = mxCreateLogicalScalar(true), *x = mxCreateDoubleScalar(-0.5);
    EXPECT_TRUE(mxIsLogical(yes) && mxGetLogicals(yes)[0]);
    EXPECT_EQ(mxGetLogicals(x), nullptr);
    EXPECT_EQ(mxArrayToString(x), nullptr);
    EXPECT_EQ(*mxGetPr(x), -0.5);
    mxDestroyArray(yes);
    mxDestroyArray(x);
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
