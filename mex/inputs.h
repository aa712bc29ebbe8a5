// What the gateways of the fit do with the inputs they share with
// dovex_fit's call (X, Y, XW, E, Z and the four scalars): check them before
// anything is read, with identifiers of the calling gateway's own
// (dovex_fit:badSize, dovex_solve:badSize, ...), and copy what the fit
// updates or reads in its own form. Included by one gateway per module, so
// everything here is local to it.
#ifndef DOVEX_MEX_INPUTS_H
#define DOVEX_MEX_INPUTS_H

#include "mex.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

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

// The identifier of an error of gateway fn: "fn:what". Built by hand so
// that no formatting function is imported for it.
struct ident {
    char text[64];
};

ident id(const char *fn, const char *what)
{
    ident r{};
    std::size_t n = 0;
    for (const char *s : {fn, ":", what})
        for (; *s && n + 1 < sizeof r.text; s++)
            r.text[n++] = *s;
    return r;
}

// Every check below raises the error and returns false. The hosts'
// mexErrMsgIdAndTxt does not return; the false keeps a bad input unread
// even if one did.

bool check_count(const char *fn, const char *name, std::uint64_t n, const char *what)
{
    if (n <= count_max)
        return true;
    mexErrMsgIdAndTxt(id(fn, "tooLarge").text,
                      "%s has %.0f %s; the fit counts %s in 32 bits, so at most 2147483647 are "
                      "supported.",
                      name, num(n), what, what);
    return false;
}

// A full, real double array: what the fit reads every input as; for X, a
// sparse one too.
bool check_kind(const char *fn, const mxArray *a, const char *name, bool may_be_sparse = false)
{
    if (!mxIsDouble(a)) {
        mexErrMsgIdAndTxt(id(fn, "notDouble").text, "%s must be of class double; it is %s.", name,
                          mxGetClassName(a));
        return false;
    }
    if (mxIsComplex(a)) {
        mexErrMsgIdAndTxt(id(fn, "complex").text, "%s must be real; it is complex.", name);
        return false;
    }
    if (mxIsSparse(a) && !may_be_sparse) {
        mexErrMsgIdAndTxt(id(fn, "sparse").text, "%s must be full; it is sparse.", name);
        return false;
    }
    return true;
}

// A real double 2-D matrix whose dimensions each fit the 32-bit counts.
bool check_matrix(const char *fn, const mxArray *a, const char *name, bool may_be_sparse = false)
{
    if (!check_kind(fn, a, name, may_be_sparse))
        return false;
    const int ndims = static_cast<int>(mxGetNumberOfDimensions(a));
    if (ndims != 2) {
        mexErrMsgIdAndTxt(id(fn, "notMatrix").text, "%s must be a 2-D matrix; it has %d dimensions.",
                          name, ndims);
        return false;
    }
    return check_count(fn, name, mxGetM(a), "rows") && check_count(fn, name, mxGetN(a), "columns");
}

// A sparse X as the fit walks it: at most 2147483647 stored elements;
// column starts that rise from 0 to that count; in each column, rows that
// increase and stay below ns. The host makes its sparse arrays so, but a
// module can hand over any, and a row out of place would be written out
// of bounds.
bool check_sparse(const char *fn, const mxArray *X, std::uint64_t ns, std::uint64_t nd)
{
    const mwIndex *jc = mxGetJc(X), *ir = mxGetIr(X);
    const std::uint64_t nnz = static_cast<std::uint64_t>(jc[nd]);
    if (!check_count(fn, "X", nnz, "stored elements"))
        return false;
    for (std::uint64_t i = 0; i < nd; i++) {
        const std::uint64_t first = static_cast<std::uint64_t>(jc[i]);
        const std::uint64_t end = static_cast<std::uint64_t>(jc[i + 1]);
        if ((i == 0 && first != 0) || end < first || end > nnz) {
            mexErrMsgIdAndTxt(id(fn, "badSparse").text,
                              "X is not a valid sparse matrix: its column starts do not rise "
                              "from 0 to its %.0f stored elements (column %.0f).",
                              num(nnz), num(i + 1));
            return false;
        }
        for (std::uint64_t m = first; m < end; m++) {
            const std::uint64_t k = static_cast<std::uint64_t>(ir[m]);
            if (k >= ns || (m > first && k <= static_cast<std::uint64_t>(ir[m - 1]))) {
                mexErrMsgIdAndTxt(id(fn, "badSparse").text,
                                  "X is not a valid sparse matrix: the rows of column %.0f are "
                                  "not increasing and below %.0f.",
                                  num(i + 1), num(ns));
                return false;
            }
        }
    }
    return true;
}

bool check_rows(const char *fn, const mxArray *a, const char *name, std::uint64_t ns)
{
    if (mxGetM(a) == ns)
        return true;
    mexErrMsgIdAndTxt(id(fn, "badSize").text, "%s must have %.0f rows, as X has; it has %.0f.", name,
                      num(ns), num(mxGetM(a)));
    return false;
}

bool check_scalar(const char *fn, const mxArray *a, const char *name)
{
    if (!check_kind(fn, a, name))
        return false;
    if (mxGetNumberOfElements(a) == 0) {
        mexErrMsgIdAndTxt(id(fn, "emptyScalar").text, "%s must not be empty.", name);
        return false;
    }
    return true;
}

// The nine inputs of dovex_fit's call, in position order (X, Y, XW, E, Z,
// lambda1, lambda2, tol, max_sweeps), as gateway fn names them; the first
// failure raises the error.
// Only sizes, kinds and a sparse X's indices are read here, no values.
bool check_inputs(const char *fn, const mxArray *const in[])
{
    const mxArray *X = in[0], *Y = in[1], *XW = in[2], *E = in[3], *Z = in[4];

    if (!check_matrix(fn, X, "X", true))
        return false;
    const std::uint64_t ns = mxGetM(X), nd = mxGetN(X);
    if (mxIsSparse(X) ? !check_sparse(fn, X, ns, nd) : !check_count(fn, "X", ns * nd, "elements"))
        return false;

    if (!check_matrix(fn, Y, "Y") || !check_rows(fn, Y, "Y", ns))
        return false;
    const std::uint64_t ny = mxGetN(Y);
    if (!check_count(fn, "Y", ns * ny, "elements"))
        return false;
    // The fit's per-pair work arrays hold nd*ny values.
    if (nd * ny > count_max) {
        mexErrMsgIdAndTxt(id(fn, "tooLarge").text,
                          "Y has %.0f columns, which with the %.0f columns of X makes %.0f "
                          "pairs; the fit counts elements in 32 bits, so at most 2147483647 "
                          "are supported.",
                          num(ny), num(nd), num(nd * ny));
        return false;
    }

    if (!check_matrix(fn, XW, "XW") || !check_rows(fn, XW, "XW", ns))
        return false;
    const std::uint64_t nc = mxGetN(XW);
    if (ny < nc) {
        mexErrMsgIdAndTxt(id(fn, "badSize").text,
                          "Y must have at least %.0f columns, as XW has; it has %.0f.", num(nc),
                          num(ny));
        return false;
    }

    if (!check_matrix(fn, E, "E"))
        return false;
    if (mxGetM(E) != ns || mxGetN(E) != nc) {
        mexErrMsgIdAndTxt(id(fn, "badSize").text,
                          "E must be %.0fx%.0f, the size of XW; it is %.0fx%.0f.", num(ns), num(nc),
                          num(mxGetM(E)), num(mxGetN(E)));
        return false;
    }

    if (!check_kind(fn, Z, "Z"))
        return false;
    if (mxGetNumberOfElements(Z) != ns) {
        mexErrMsgIdAndTxt(id(fn, "badSize").text,
                          "Z must have %.0f elements, one per row of X; it has %.0f.", num(ns),
                          num(mxGetNumberOfElements(Z)));
        return false;
    }

    return check_scalar(fn, in[5], "lambda1") && check_scalar(fn, in[6], "lambda2") &&
           check_scalar(fn, in[7], "tol") && check_scalar(fn, in[8], "max_sweeps");
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

#endif
