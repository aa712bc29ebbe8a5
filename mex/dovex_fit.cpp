// W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)
//
// The MEX gateway: checks the call, copies the predictor state the fit
// updates (so the caller's XW, E and Z stay as they were) and, for a
// sparse X, its indices in the fit's 32 bits, creates the all-zero W, runs
// the fit once and frees the copies. It builds against MATLAB's and
// Octave's mex.h alike, so it uses only names both provide.
#include "mex.h"

#include "dovex.h"
#include "export.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// The fit counts elements and offsets in 32-bit signed integers.
const std::uint64_t count_max = INT32_MAX;

// Sizes reach the messages as doubles printed with %.0f: exact for any size
// an array can have, and read alike by every host's formatter, which the
// size_t conversions are not.
double num(std::uint64_t n)
{
    return static_cast<double>(n);
}

// Every check below raises the error and returns false. The hosts'
// mexErrMsgIdAndTxt does not return; the false keeps a bad input unread
// even if one did.

bool check_count(const char *name, std::uint64_t n, const char *what)
{
    if (n <= count_max)
        return true;
    mexErrMsgIdAndTxt("dovex_fit:tooLarge",
                      "%s has %.0f %s; the fit counts %s in 32 bits, so at most 2147483647 are "
                      "supported.",
                      name, num(n), what, what);
    return false;
}

// A full, real double array: what the fit reads every input as; for X, a
// sparse one too.
bool check_kind(const mxArray *a, const char *name, bool may_be_sparse = false)
{
    if (!mxIsDouble(a)) {
        mexErrMsgIdAndTxt("dovex_fit:notDouble", "%s must be of class double; it is %s.", name,
                          mxGetClassName(a));
        return false;
    }
    if (mxIsComplex(a)) {
        mexErrMsgIdAndTxt("dovex_fit:complex", "%s must be real; it is complex.", name);
        return false;
    }
    if (mxIsSparse(a) && !may_be_sparse) {
        mexErrMsgIdAndTxt("dovex_fit:sparse", "%s must be full; it is sparse.", name);
        return false;
    }
    return true;
}

// A real double 2-D matrix whose dimensions each fit the 32-bit counts.
bool check_matrix(const mxArray *a, const char *name, bool may_be_sparse = false)
{
    if (!check_kind(a, name, may_be_sparse))
        return false;
    const int ndims = static_cast<int>(mxGetNumberOfDimensions(a));
    if (ndims != 2) {
        mexErrMsgIdAndTxt("dovex_fit:notMatrix", "%s must be a 2-D matrix; it has %d dimensions.",
                          name, ndims);
        return false;
    }
    return check_count(name, mxGetM(a), "rows") && check_count(name, mxGetN(a), "columns");
}

// A sparse X as the fit walks it: at most 2147483647 stored elements;
// column starts that rise from 0 to that count; in each column, rows that
// increase and stay below ns. The host makes its sparse arrays so, but a
// module can hand over any, and a row out of place would be written out
// of bounds.
bool check_sparse(const mxArray *X, std::uint64_t ns, std::uint64_t nd)
{
    const mwIndex *jc = mxGetJc(X), *ir = mxGetIr(X);
    const std::uint64_t nnz = static_cast<std::uint64_t>(jc[nd]);
    if (!check_count("X", nnz, "stored elements"))
        return false;
    for (std::uint64_t i = 0; i < nd; i++) {
        const std::uint64_t first = static_cast<std::uint64_t>(jc[i]);
        const std::uint64_t end = static_cast<std::uint64_t>(jc[i + 1]);
        if ((i == 0 && first != 0) || end < first || end > nnz) {
            mexErrMsgIdAndTxt("dovex_fit:badSparse",
                              "X is not a valid sparse matrix: its column starts do not rise "
                              "from 0 to its %.0f stored elements (column %.0f).",
                              num(nnz), num(i + 1));
            return false;
        }
        for (std::uint64_t m = first; m < end; m++) {
            const std::uint64_t k = static_cast<std::uint64_t>(ir[m]);
            if (k >= ns || (m > first && k <= static_cast<std::uint64_t>(ir[m - 1]))) {
                mexErrMsgIdAndTxt("dovex_fit:badSparse",
                                  "X is not a valid sparse matrix: the rows of column %.0f are "
                                  "not increasing and below %.0f.",
                                  num(i + 1), num(ns));
                return false;
            }
        }
    }
    return true;
}

bool check_rows(const mxArray *a, const char *name, std::uint64_t ns)
{
    if (mxGetM(a) == ns)
        return true;
    mexErrMsgIdAndTxt("dovex_fit:badSize", "%s must have %.0f rows, as X has; it has %.0f.", name,
                      num(ns), num(mxGetM(a)));
    return false;
}

bool check_scalar(const mxArray *a, const char *name)
{
    if (!check_kind(a, name))
        return false;
    if (mxGetNumberOfElements(a) == 0) {
        mexErrMsgIdAndTxt("dovex_fit:emptyScalar", "%s must not be empty.", name);
        return false;
    }
    return true;
}

// All nine inputs, in position order; the first failure raises the error.
// Only sizes, kinds and a sparse X's indices are read here, no values.
bool check_inputs(const mxArray *const in[])
{
    const mxArray *X = in[0], *Y = in[1], *XW = in[2], *E = in[3], *Z = in[4];

    if (!check_matrix(X, "X", true))
        return false;
    const std::uint64_t ns = mxGetM(X), nd = mxGetN(X);
    if (mxIsSparse(X) ? !check_sparse(X, ns, nd) : !check_count("X", ns * nd, "elements"))
        return false;

    if (!check_matrix(Y, "Y") || !check_rows(Y, "Y", ns))
        return false;
    const std::uint64_t ny = mxGetN(Y);
    if (!check_count("Y", ns * ny, "elements"))
        return false;
    // The fit's per-pair work arrays hold nd*ny values.
    if (nd * ny > count_max) {
        mexErrMsgIdAndTxt("dovex_fit:tooLarge",
                          "Y has %.0f columns, which with the %.0f columns of X makes %.0f "
                          "pairs; the fit counts elements in 32 bits, so at most 2147483647 "
                          "are supported.",
                          num(ny), num(nd), num(nd * ny));
        return false;
    }

    if (!check_matrix(XW, "XW") || !check_rows(XW, "XW", ns))
        return false;
    const std::uint64_t nc = mxGetN(XW);
    if (ny < nc) {
        mexErrMsgIdAndTxt("dovex_fit:badSize",
                          "Y must have at least %.0f columns, as XW has; it has %.0f.", num(nc),
                          num(ny));
        return false;
    }

    if (!check_matrix(E, "E"))
        return false;
    if (mxGetM(E) != ns || mxGetN(E) != nc) {
        mexErrMsgIdAndTxt("dovex_fit:badSize",
                          "E must be %.0fx%.0f, the size of XW; it is %.0fx%.0f.", num(ns), num(nc),
                          num(mxGetM(E)), num(mxGetN(E)));
        return false;
    }

    if (!check_kind(Z, "Z"))
        return false;
    if (mxGetNumberOfElements(Z) != ns) {
        mexErrMsgIdAndTxt("dovex_fit:badSize",
                          "Z must have %.0f elements, one per row of X; it has %.0f.", num(ns),
                          num(mxGetNumberOfElements(Z)));
        return false;
    }

    return check_scalar(in[5], "lambda1") && check_scalar(in[6], "lambda2") &&
           check_scalar(in[7], "tol") && check_scalar(in[8], "max_sweeps");
}

// A working copy in host scratch memory. An empty input may have no data
// pointer at all, so nothing is copied for it.
double *copy_of(const mxArray *a, std::int32_t count)
{
    double *c = static_cast<double *>(mxCalloc(count, 8));
    if (count > 0)
        std::memcpy(c, mxGetPr(a), static_cast<std::size_t>(count) * 8);
    return c;
}

// A sparse X's indices in the fit's 32-bit counts, which the checks keep
// them within.
std::int32_t *indices_of(const mwIndex *v, std::uint64_t count)
{
    std::int32_t *c = static_cast<std::int32_t *>(mxCalloc(count, 4));
    for (std::uint64_t m = 0; m < count; m++)
        c[m] = static_cast<std::int32_t>(v[m]);
    return c;
}

} // namespace

extern "C" DOVEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    if (nrhs == 0)
        return;
    if (nrhs != 9 || nlhs != 1) {
        mexPrintf("Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n");
        mexErrMsgTxt("Incorrect number of arguments.");
        return;
    }
    if (!check_inputs(prhs))
        return;

    // The checks above keep every count and product within 32 bits.
    const std::int32_t nd = static_cast<std::int32_t>(mxGetN(prhs[0]));
    const std::int32_t ns = static_cast<std::int32_t>(mxGetM(prhs[0]));
    const std::int32_t ny = static_cast<std::int32_t>(mxGetN(prhs[1]));
    const std::int32_t nc = static_cast<std::int32_t>(mxGetN(prhs[2]));
    const double lambda1 = mxGetPr(prhs[5])[0];
    const double lambda2 = mxGetPr(prhs[6])[0];
    const double tol = mxGetPr(prhs[7])[0];
    const double max_sweeps = static_cast<const double *>(mxGetData(prhs[8]))[0];

    double *XW = copy_of(prhs[2], ns * nc);
    double *E = copy_of(prhs[3], ns * nc);
    double *Z = copy_of(prhs[4], ns);
    const bool sparse = mxIsSparse(prhs[0]);
    std::int32_t *at = nullptr, *rows = nullptr;
    if (sparse) {
        const mwIndex *jc = mxGetJc(prhs[0]);
        at = indices_of(jc, static_cast<std::uint64_t>(nd) + 1);
        rows = indices_of(mxGetIr(prhs[0]), static_cast<std::uint64_t>(jc[nd]));
    }

    plhs[0] = mxCreateDoubleMatrix(nd, nc, mxREAL);
    if (sparse)
        dovex_approx_sparse(mxGetPr(plhs[0]), at, rows, mxGetPr(prhs[0]), mxGetPr(prhs[1]), XW, E,
                            Z, lambda1, lambda2, tol, max_sweeps, nd, ns, ny, nc);
    else
        dovex_approx(mxGetPr(plhs[0]), mxGetPr(prhs[0]), mxGetPr(prhs[1]), XW, E, Z, lambda1,
                     lambda2, tol, max_sweeps, nd, ns, ny, nc);

    mxFree(XW);
    mxFree(E);
    mxFree(Z);
    if (sparse) {
        mxFree(at);
        mxFree(rows);
    }
}
