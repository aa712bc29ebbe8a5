// host_probe: no gateway, a module built for the wine tests alone. It calls
// the host's struct, logical and char functions through libmx.dll's import
// library, as a gateway that takes an options struct and returns an info
// struct does, so the tests see them link, load and run under wine.
//
//   [checks, info] = host_probe(opts)
//
// opts has the fields penalty (a numeric vector), display (a logical
// scalar) and method (a char row), in that order. checks is a row of 1s and
// 0s, one per reading that came out as the wine test's opts demand; info is
// a struct whose fields the probe created, method among them holding the
// text read from opts.
#include "mex.h"

#include <cstring>

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    if (nrhs != 1 || nlhs != 2 || !mxIsStruct(prhs[0]))
        mexErrMsgIdAndTxt("host_probe:usage", "Usage: [checks, info] = host_probe(opts)");
    const mxArray *opts = prhs[0];
    const char *names[] = {"penalty", "display", "method"};
    bool order = mxGetNumberOfFields(opts) == 3;
    for (int k = 0; order && k < 3; k++)
        order = std::strcmp(mxGetFieldNameByNumber(opts, k), names[k]) == 0;
    const mxArray *penalty = mxGetField(opts, 0, "penalty");
    const mxArray *display = mxGetField(opts, 0, "display");
    const mxArray *method = mxGetFieldByNumber(opts, 0, 2);
    char *text = method && mxIsChar(method) ? mxArrayToString(method) : nullptr;

    const char *info_names[] = {"sweeps", "diffs", "converged", "method"};
    mxArray *info = mxCreateStructMatrix(1, 1, 4, info_names);
    mxSetField(info, 0, "sweeps", mxCreateDoubleScalar(3));
    mxSetField(info, 0, "diffs", mxCreateDoubleMatrix(3, 1, mxREAL));
    mxSetField(info, 0, "converged", mxCreateLogicalScalar(true));
    mxSetField(info, 0, "method", mxCreateString(text ? text : ""));

    const bool ok[] = {
        order,
        penalty && mxIsNumeric(penalty) && mxGetNumberOfElements(penalty) == 2 &&
            mxGetPr(penalty)[1] == 0.25,
        display && mxIsLogical(display) && !mxIsNumeric(display) && mxGetLogicals(display)[0],
        text && std::strcmp(text, "fista") == 0,
        !mxGetField(opts, 0, "weights") && !mxGetFieldByNumber(opts, 0, 3),
        *mxGetPr(mxGetField(info, 0, "sweeps")) == 3,
    };
    mxFree(text);
    const int n = sizeof ok / sizeof ok[0];
    plhs[0] = mxCreateDoubleMatrix(1, n, mxREAL);
    for (int k = 0; k < n; k++)
        mxGetPr(plhs[0])[k] = ok[k];
    plhs[1] = info;
}
