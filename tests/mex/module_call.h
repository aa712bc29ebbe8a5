// Calls the module dovex_fit.mexa64 through the stand-in host's loader, as
// MATLAB would, and checks what a call did besides its result.
#ifndef DOVEX_TESTS_MEX_MODULE_CALL_H
#define DOVEX_TESTS_MEX_MODULE_CALL_H

#include "data.h"
#include "loader.h"
#include "module_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

inline const char usage_line[] =
    "Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n";
inline const double nan_v = std::numeric_limits<double>::quiet_NaN();

// Every byte of an array's data, a sparse one's indices included, to tell
// whether a call wrote into it.
inline std::vector<unsigned char> bytes_of(const mxArray *a)
{
    std::vector<unsigned char> b;
    const bool sparse = mxIsSparse(a);
    const std::size_t n =
        (sparse ? mxGetNzmax(a) : mxGetNumberOfElements(a)) * standin_element_size(mxGetClassID(a));
    const std::size_t ni = sparse && mxGetIr(a) ? mxGetNzmax(a) * sizeof(mwIndex) : 0;
    const std::size_t nj = sparse && mxGetJc(a) ? (mxGetN(a) + 1) * sizeof(mwIndex) : 0;
    const struct {
        const void *p;
        std::size_t n;
    } parts[4] = {{mxGetData(a), n}, {mxGetPi(a), n}, {mxGetIr(a), ni}, {mxGetJc(a), nj}};
    for (const auto &part : parts)
        if (part.p)
            b.insert(b.end(), static_cast<const unsigned char *>(part.p),
                     static_cast<const unsigned char *>(part.p) + part.n);
    return b;
}

// A real sparse double m x n matrix of the column-major values: every
// element that is not +0.0 is stored (so -0.0 too, which full() keeps),
// and with zeros_too every +0.0 as well, as a stored zero.
inline mxArray *sparse_of(std::size_t m, std::size_t n, const double *values, bool zeros_too)
{
    std::size_t nnz = 0;
    for (std::size_t p = 0; p < m * n; p++)
        nnz += zeros_too || values[p] != 0 || std::signbit(values[p]);
    mxArray *a = mxCreateSparse(static_cast<int>(m), static_cast<int>(n), static_cast<int>(nnz),
                                mxREAL);
    double *pr = mxGetPr(a);
    mwIndex *ir = mxGetIr(a), *jc = mxGetJc(a);
    std::size_t at = 0;
    for (std::size_t c = 0; c < n; c++) {
        jc[c] = at;
        for (std::size_t r = 0; r < m; r++) {
            const double v = values[r + m * c];
            if (zeros_too || v != 0 || std::signbit(v)) {
                pr[at] = v;
                ir[at++] = r;
            }
        }
    }
    jc[n] = at;
    return a;
}

struct call_result {
    standin_outcome o;
    std::string out;
    std::size_t evals;
    mxArray *W;
};

inline constexpr char dovex_fit_module[] = DOVEX_MODULE;

class Gateway : public ModuleTest<dovex_fit_module>
{
  protected:
    mxArray *matrix(std::size_t m, std::size_t n, const double *values = nullptr)
    {
        return own(mex_matrix(m, n, values));
    }

    mxArray *scalar(double v)
    {
        return matrix(1, 1, &v);
    }

    mxArray *sparse(std::size_t m, std::size_t n, const double *values, bool zeros_too = false)
    {
        return own(sparse_of(m, n, values, zeros_too));
    }

    // An array of any kind; with data false, dimensions only.
    mxArray *array(mxClassID cls, std::vector<std::size_t> dims, mxComplexity cx = mxREAL,
                   bool sparse = false, bool data = true)
    {
        return own(standin_array(cls, cx, sparse, dims.size(), dims.data(), data));
    }

    // The nine inputs of a fit of d from the all-zero start.
    std::vector<const mxArray *> inputs(const dataset &d, double lambda1, double lambda2,
                                        double tol, double max_sweeps)
    {
        const start_state s = zero_start(d.ns, d.nc);
        return {matrix(d.ns, d.nd, d.X.data()),
                matrix(d.ns, d.nc, d.Y.data()),
                matrix(d.ns, d.nc, s.XW.data()),
                matrix(d.ns, d.nc, s.E.data()),
                matrix(d.ns, 1, s.Z.data()),
                scalar(lambda1),
                scalar(lambda2),
                scalar(tol),
                scalar(max_sweeps)};
    }

    call_result call(int nlhs, const std::vector<const mxArray *> &in)
    {
        mxArray *plhs[4] = {};
        call_result r{};
        std::vector<const mxArray *> prhs(in); // the module may not keep them const
        mex_call(module, nlhs, plhs, static_cast<int>(prhs.size()), prhs.data(), &r.o);
        r.out = standin_output();
        r.evals = standin_eval_count();
        r.W = plhs[0];
        for (mxArray *a : plhs)
            if (a)
                owned.push_back(a);
        return r;
    }

    // A call the module must refuse: the error it raised, and nothing else
    // done. Returns the outcome for the identifier and message.
    standin_outcome refused(int nlhs, const std::vector<const mxArray *> &in,
                            const std::string &printed = "")
    {
        std::vector<std::vector<unsigned char>> before;
        for (const mxArray *a : in)
            before.push_back(bytes_of(a));
        const std::size_t live = standin_live_blocks();
        const call_result r = call(nlhs, in);
        EXPECT_TRUE(r.o.failed);
        EXPECT_EQ(r.W, nullptr);
        EXPECT_EQ(r.out, printed);
        EXPECT_EQ(r.evals, 0u);
        EXPECT_EQ(r.o.callocs, 0u) << "allocated before refusing";
        EXPECT_EQ(r.o.arrays_created, 0u) << "created an array before refusing";
        EXPECT_EQ(r.o.bad_frees, 0u);
        EXPECT_EQ(standin_live_blocks(), live);
        for (std::size_t i = 0; i < in.size(); i++)
            EXPECT_EQ(bytes_of(in[i]), before[i]) << "input " << i + 1 << " was written";
        return r.o;
    }
};

// W's values, or an empty vector when W is not a real full double matrix.
inline std::vector<double> values_of(const mxArray *W)
{
    if (!W || !mxIsDouble(W) || mxIsComplex(W) || mxIsSparse(W))
        return {};
    const double *p = mxGetPr(W);
    return std::vector<double>(p, p + mxGetNumberOfElements(W));
}

inline bool same_bits(const std::vector<double> &a, const std::vector<double> &b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

#endif
