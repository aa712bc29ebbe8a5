// Every input check of the module: a bad input is refused with its
// identifier and a message naming the argument, what was expected and what
// was given; nothing is printed, allocated or written; the first bad input
// in position order is the one reported.
#include "module_call.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

enum arg { X, Y, XW, E, Z, lambda1, lambda2, tol, max_sweeps };

class Checks : public Gateway
{
  protected:
    // A valid call on iris: X 150x4, Y, XW and E 150x3, Z 150x1.
    std::vector<const mxArray *> valid()
    {
        return inputs(iris, 1, 0.1, 1e-4, 5);
    }

    void expect_refused(const std::vector<const mxArray *> &in, const char *id,
                        const std::string &message)
    {
        const standin_outcome o = refused(1, in);
        EXPECT_STREQ(o.id, id);
        EXPECT_EQ(o.message, message);
    }

    // The valid call with one input replaced.
    void expect_refused(arg a, const mxArray *bad, const char *id, const std::string &message)
    {
        SCOPED_TRACE(message);
        std::vector<const mxArray *> in = valid();
        in[a] = bad;
        expect_refused(in, id, message);
    }

    dataset iris = load_dataset("iris");
};

} // namespace

TEST_F(Checks, EveryInputMustBeOfClassDouble)
{
    const struct {
        arg a;
        mxClassID cls;
        std::vector<std::size_t> dims;
        const char *message;
    } cases[] = {
        {X, mxSINGLE_CLASS, {150, 4}, "X must be of class double; it is single."},
        {Y, mxSINGLE_CLASS, {150, 3}, "Y must be of class double; it is single."},
        {XW, mxINT32_CLASS, {150, 3}, "XW must be of class double; it is int32."},
        {E, mxLOGICAL_CLASS, {150, 3}, "E must be of class double; it is logical."},
        {Z, mxCHAR_CLASS, {150, 1}, "Z must be of class double; it is char."},
        {lambda1, mxSINGLE_CLASS, {1, 1}, "lambda1 must be of class double; it is single."},
        {lambda2, mxUINT8_CLASS, {1, 1}, "lambda2 must be of class double; it is uint8."},
        {tol, mxINT16_CLASS, {1, 1}, "tol must be of class double; it is int16."},
        // Its data was once read as a double whatever its class.
        {max_sweeps, mxSINGLE_CLASS, {1, 1}, "max_sweeps must be of class double; it is single."},
        {max_sweeps, mxCELL_CLASS, {1, 1}, "max_sweeps must be of class double; it is cell."},
    };
    for (const auto &c : cases)
        expect_refused(c.a, array(c.cls, c.dims), "dovex_fit:notDouble", c.message);
}

TEST_F(Checks, EveryInputMustBeRealAndFull)
{
    const struct {
        arg a;
        std::vector<std::size_t> dims;
        bool complex, sparse;
        const char *id, *message;
    } cases[] = {
        {X, {150, 4}, true, false, "dovex_fit:complex", "X must be real; it is complex."},
        {XW, {150, 3}, true, false, "dovex_fit:complex", "XW must be real; it is complex."},
        {Z, {150, 1}, true, false, "dovex_fit:complex", "Z must be real; it is complex."},
        {tol, {1, 1}, true, false, "dovex_fit:complex", "tol must be real; it is complex."},
        {Y, {150, 3}, false, true, "dovex_fit:sparse", "Y must be full; it is sparse."},
        {XW, {150, 3}, false, true, "dovex_fit:sparse", "XW must be full; it is sparse."},
        {Z, {150, 1}, false, true, "dovex_fit:sparse", "Z must be full; it is sparse."},
        {E, {150, 3}, false, true, "dovex_fit:sparse", "E must be full; it is sparse."},
        {lambda2, {1, 1}, false, true, "dovex_fit:sparse", "lambda2 must be full; it is sparse."},
        {max_sweeps,
         {1, 1},
         false,
         true,
         "dovex_fit:sparse",
         "max_sweeps must be full; it is sparse."},
        // Complexity is checked before storage; X may be sparse, not complex.
        {Y, {150, 3}, true, true, "dovex_fit:complex", "Y must be real; it is complex."},
        {X, {150, 4}, true, true, "dovex_fit:complex", "X must be real; it is complex."},
    };
    for (const auto &c : cases)
        expect_refused(c.a, array(mxDOUBLE_CLASS, c.dims, c.complex ? mxCOMPLEX : mxREAL, c.sparse),
                       c.id, c.message);
    // A sparse logical X is no double.
    expect_refused(X, array(mxLOGICAL_CLASS, {150, 4}, mxREAL, true), "dovex_fit:notDouble",
                   "X must be of class double; it is logical.");
}

TEST_F(Checks, ASparseXMustBeWellFormed)
{
    // Columns of 3, 0 and 2 stored elements in a 5 x 3 X, with Y, XW, E and
    // Z to match; each case breaks one index.
    const struct {
        std::vector<mwIndex> jc, ir;
        const char *message;
    } cases[] = {
        {{1, 3, 3, 5}, {0, 2, 4, 1, 3}, "its column starts do not rise from 0 to its 5 stored "
                                        "elements (column 1)."},
        {{0, 3, 2, 5}, {0, 2, 4, 1, 3}, "its column starts do not rise from 0 to its 5 stored "
                                        "elements (column 2)."},
        {{0, 6, 3, 5}, {0, 2, 4, 1, 3}, "its column starts do not rise from 0 to its 5 stored "
                                        "elements (column 1)."},
        {{0, 3, 3, 5}, {0, 4, 2, 1, 3}, "the rows of column 1 are not increasing and below 5."},
        {{0, 3, 3, 5}, {0, 2, 2, 1, 3}, "the rows of column 1 are not increasing and below 5."},
        {{0, 3, 3, 5}, {0, 2, 4, 1, 5}, "the rows of column 3 are not increasing and below 5."},
        {{0, 3, 3, 5}, {0, 2, 4, 3, 1}, "the rows of column 3 are not increasing and below 5."},
    };
    for (const auto &c : cases) {
        mxArray *bad = own(mxCreateSparse(5, 3, 5, mxREAL));
        std::copy(c.jc.begin(), c.jc.end(), mxGetJc(bad));
        std::copy(c.ir.begin(), c.ir.end(), mxGetIr(bad));
        std::vector<const mxArray *> in = {bad,        matrix(5, 2),   matrix(5, 2),
                                           matrix(5, 2), matrix(5, 1), scalar(1),
                                           scalar(0.1),  scalar(1e-4), scalar(5)};
        SCOPED_TRACE(c.message);
        expect_refused(in, "dovex_fit:badSparse",
                       std::string("X is not a valid sparse matrix: ") + c.message);
    }
}

TEST_F(Checks, MatricesMustBeTwoDimensional)
{
    expect_refused(X, array(mxDOUBLE_CLASS, {150, 4, 1, 2}), "dovex_fit:notMatrix",
                   "X must be a 2-D matrix; it has 4 dimensions.");
    expect_refused(Y, array(mxDOUBLE_CLASS, {150, 3, 2}), "dovex_fit:notMatrix",
                   "Y must be a 2-D matrix; it has 3 dimensions.");
    expect_refused(XW, array(mxDOUBLE_CLASS, {150, 1, 3}), "dovex_fit:notMatrix",
                   "XW must be a 2-D matrix; it has 3 dimensions.");
    expect_refused(E, array(mxDOUBLE_CLASS, {150, 3, 1, 1, 2}), "dovex_fit:notMatrix",
                   "E must be a 2-D matrix; it has 5 dimensions.");
    // Z only needs its ns elements, in any shape.
    std::vector<const mxArray *> in = valid();
    in[Z] = array(mxDOUBLE_CLASS, {1, 150});
    in[tol] = array(mxDOUBLE_CLASS, {1, 1, 2});
    const call_result r = call(1, in);
    EXPECT_FALSE(r.o.failed) << r.o.message;
}

TEST_F(Checks, ShapesMustAgreeWithX)
{
    const struct {
        arg a;
        std::size_t m, n;
        const char *message;
    } cases[] = {
        {Y, 149, 3, "Y must have 150 rows, as X has; it has 149."},
        {Y, 150, 2, "Y must have at least 3 columns, as XW has; it has 2."},
        {XW, 10, 3, "XW must have 150 rows, as X has; it has 10."},
        {E, 150, 2, "E must be 150x3, the size of XW; it is 150x2."},
        {E, 149, 3, "E must be 150x3, the size of XW; it is 149x3."},
        {E, 3, 150, "E must be 150x3, the size of XW; it is 3x150."},
        {Z, 149, 1, "Z must have 150 elements, one per row of X; it has 149."},
        {Z, 150, 2, "Z must have 150 elements, one per row of X; it has 300."},
        {Z, 0, 0, "Z must have 150 elements, one per row of X; it has 0."},
    };
    for (const auto &c : cases)
        expect_refused(c.a, matrix(c.m, c.n), "dovex_fit:badSize", c.message);

    // XW with more columns than Y: reported against Y, once XW is known.
    expect_refused(XW, matrix(150, 4), "dovex_fit:badSize",
                   "Y must have at least 4 columns, as XW has; it has 3.");
}

TEST_F(Checks, ScalarsMustNotBeEmpty)
{
    const struct {
        arg a;
        std::size_t m, n;
        const char *message;
    } cases[] = {
        {lambda1, 0, 0, "lambda1 must not be empty."},
        {lambda2, 1, 0, "lambda2 must not be empty."},
        {tol, 0, 1, "tol must not be empty."},
        {max_sweeps, 0, 0, "max_sweeps must not be empty."},
    };
    for (const auto &c : cases)
        expect_refused(c.a, matrix(c.m, c.n), "dovex_fit:emptyScalar", c.message);

    // More than one element: the first is used.
    std::vector<const mxArray *> in = valid();
    const double limits[3] = {0.0, 50.0, 50.0};
    in[max_sweeps] = matrix(1, 3, limits);
    const call_result r = call(1, in);
    ASSERT_FALSE(r.o.failed) << r.o.message;
    EXPECT_EQ(r.out, "") << "max_sweeps 0 runs no sweep";
}

// Arrays far beyond memory, described by their dimensions only: the checks
// must refuse them before any data is read.
TEST_F(Checks, CountsMustFitInThirtyTwoBits)
{
    const char *id = "dovex_fit:tooLarge";
    expect_refused(X, array(mxDOUBLE_CLASS, {60000, 50000}, mxREAL, false, false), id,
                   "X has 3000000000 elements; the fit counts elements in 32 bits, so at most "
                   "2147483647 are supported.");
    expect_refused(X, array(mxDOUBLE_CLASS, {3000000000u, 0}, mxREAL, false, false), id,
                   "X has 3000000000 rows; the fit counts rows in 32 bits, so at most "
                   "2147483647 are supported.");
    expect_refused(X, array(mxDOUBLE_CLASS, {0, 2147483648u}, mxREAL, false, false), id,
                   "X has 2147483648 columns; the fit counts columns in 32 bits, so at most "
                   "2147483647 are supported.");
    // One more element than the largest count still fits is refused...
    expect_refused(X, array(mxDOUBLE_CLASS, {2, 1073741824}, mxREAL, false, false), id,
                   "X has 2147483648 elements; the fit counts elements in 32 bits, so at most "
                   "2147483647 are supported.");

    std::vector<const mxArray *> in = valid();
    in[X] = array(mxDOUBLE_CLASS, {60000, 1}, mxREAL, false, false);
    in[Y] = array(mxDOUBLE_CLASS, {60000, 50000}, mxREAL, false, false);
    expect_refused(in, id,
                   "Y has 3000000000 elements; the fit counts elements in 32 bits, so at most "
                   "2147483647 are supported.");

    // The work arrays hold one value per feature of X and column of Y.
    in[X] = array(mxDOUBLE_CLASS, {10, 50000}, mxREAL, false, false);
    in[Y] = array(mxDOUBLE_CLASS, {10, 60000}, mxREAL, false, false);
    expect_refused(in, id,
                   "Y has 60000 columns, which with the 50000 columns of X makes 3000000000 "
                   "pairs; the fit counts elements in 32 bits, so at most 2147483647 are "
                   "supported.");

    in = valid();
    in[XW] = array(mxDOUBLE_CLASS, {150, 3000000000u}, mxREAL, false, false);
    expect_refused(in, id,
                   "XW has 3000000000 columns; the fit counts columns in 32 bits, so at most "
                   "2147483647 are supported.");

    // A sparse X counts its stored elements, not its size, in 32 bits. This
    // one claims one more than fit in its column starts, which is all the
    // check reads; it has room for one value only.
    mxArray *many = own(mxCreateSparse(2147483647, 2, 1, mxREAL));
    mxGetJc(many)[1] = 2147483647;
    mxGetJc(many)[2] = 2147483648u;
    expect_refused(X, many, id,
                   "X has 2147483648 stored elements; the fit counts stored elements in 32 bits, "
                   "so at most 2147483647 are supported.");
    expect_refused(X, array(mxDOUBLE_CLASS, {3000000000u, 2}, mxREAL, true, false), id,
                   "X has 3000000000 rows; the fit counts rows in 32 bits, so at most "
                   "2147483647 are supported.");
}

TEST_F(Checks, ASparseXMayHaveMoreElementsThanThirtyTwoBitsCount)
{
    // 60000 x 50000 is 3e9 elements, and passes; XW is then refused by its
    // rows. (Such a fit runs in the gateway tests.)
    std::vector<const mxArray *> in = valid();
    in[X] = own(mxCreateSparse(60000, 50000, 1, mxREAL));
    in[Y] = matrix(60000, 2);
    in[XW] = matrix(6, 2);
    expect_refused(in, "dovex_fit:badSize", "XW must have 60000 rows, as X has; it has 6.");
}

TEST_F(Checks, TheLargestCountsThatFitPass)
{
    // 2147483647 = 2^31 - 1 is prime, so only 1 x 2147483647 reaches it.
    // X and Y pass with that many elements and pairs; XW is then refused,
    // before any data of the dimensions-only X and Y is read.
    std::vector<const mxArray *> in = valid();
    in[X] = array(mxDOUBLE_CLASS, {1, 2147483647}, mxREAL, false, false);
    in[Y] = array(mxDOUBLE_CLASS, {1, 1}, mxREAL, false, false);
    in[XW] = matrix(2, 1);
    expect_refused(in, "dovex_fit:badSize", "XW must have 1 rows, as X has; it has 2.");
}

TEST_F(Checks, TheFirstBadInputInPositionOrderIsReported)
{
    std::vector<const mxArray *> in = valid();
    in[Z] = matrix(3, 1);
    in[E] = array(mxSINGLE_CLASS, {150, 3});
    in[Y] = matrix(150, 2);
    expect_refused(in, "dovex_fit:badSize", "Y must have at least 3 columns, as XW has; it has 2.");
    in[Y] = matrix(149, 3);
    expect_refused(in, "dovex_fit:badSize", "Y must have 150 rows, as X has; it has 149.");
    in[X] = array(mxDOUBLE_CLASS, {150, 4}, mxCOMPLEX);
    expect_refused(in, "dovex_fit:complex", "X must be real; it is complex.");
    in = valid();
    in[lambda2] = matrix(0, 0);
    in[max_sweeps] = array(mxINT8_CLASS, {1, 1});
    expect_refused(in, "dovex_fit:emptyScalar", "lambda2 must not be empty.");

    // Class before shape within one argument.
    in = valid();
    in[XW] = array(mxSINGLE_CLASS, {7, 3, 2});
    expect_refused(in, "dovex_fit:notDouble", "XW must be of class double; it is single.");
}
