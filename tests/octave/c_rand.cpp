// Test-only access to the C runtime's generator, which dovex_fit draws from:
//   c_rand('seed', s)  calls srand(s);
//   r = c_rand(n)      returns the next n values of rand() as a row.
// With it a test brings the generator to a known state before a fit and
// reads where the fit left it.
#include "mex.h"

#include <cstdlib>
#include <cstring>

extern "C" __attribute__((visibility("default"))) void
mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    char verb[8] = "";
    if (nrhs == 2 && mxIsChar(prhs[0]) && mxGetString(prhs[0], verb, sizeof verb) == 0 &&
        std::strcmp(verb, "seed") == 0 && mxGetNumberOfElements(prhs[1]) == 1) {
        std::srand(static_cast<unsigned>(mxGetScalar(prhs[1])));
        return;
    }
    if (nrhs == 1 && nlhs <= 1 && mxIsDouble(prhs[0]) && mxGetNumberOfElements(prhs[0]) == 1) {
        const mwSize n = static_cast<mwSize>(mxGetScalar(prhs[0]));
        plhs[0] = mxCreateDoubleMatrix(1, n, mxREAL);
        double *r = mxGetPr(plhs[0]);
        for (mwSize k = 0; k < n; k++)
            r[k] = std::rand();
        return;
    }
    mexErrMsgIdAndTxt("c_rand:usage", "usage: c_rand('seed', s) or r = c_rand(n)");
}
