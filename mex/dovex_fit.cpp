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
#include "inputs.h"

#include <cstdint>

extern "C" DOVEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    if (nrhs == 0)
        return;
    if (nrhs != 9 || nlhs != 1) {
        mexPrintf("Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n");
        mexErrMsgTxt("Incorrect number of arguments.");
        return;
    }
    if (!check_inputs("dovex_fit", prhs))
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
