// [W, info] = dovex_solve(X,Y,W0,XW,E,Z,lambda1,lambda2,tol,max_sweeps,opts)
//
// The general fit under the toolbox: dovex_fit's, from a starting W0, with
// per-feature penalty factors, sample weights, the progress lines optional
// and an exact record of the sweeps. The gateway checks every input and
// every field of opts before it reads a value, copies the predictor state
// (the caller's arrays stay as they were) and W0 into the new W, runs the
// fit once, and returns W and the record. It builds against MATLAB's and
// Octave's mex.h alike, so it uses only names both provide.
#include "mex.h"

#include "dovex.h"
#include "export.h"
#include "inputs.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

const char *const usage =
    "Usage: [W, info, XW] = dovex_solve(X,Y,W0,XW,E,Z,lambda1,lambda2,tol,max_sweeps,opts)\n";
const char *const option_names = "penalty, weights, display and method";

bool same_text(const char *a, const char *b)
{
    for (; *a && *a == *b; a++, b++) {
    }
    return *a == *b;
}

// W0: a full real double nd x nc matrix.
bool check_start(const mxArray *W0, std::uint64_t nd, std::uint64_t nc)
{
    if (!check_matrix("dovex_solve", W0, "W0"))
        return false;
    if (mxGetM(W0) != nd || mxGetN(W0) != nc) {
        mexErrMsgIdAndTxt("dovex_solve:badSize",
                          "W0 must be %.0fx%.0f, one row per column of X and one column per "
                          "column of XW; it is %.0fx%.0f.",
                          num(nd), num(nc), num(mxGetM(W0)), num(mxGetN(W0)));
        return false;
    }
    return true;
}

// opts.penalty or opts.weights: n finite values of 0 or more, full real
// double, `per` saying what each belongs to.
bool check_factors(const mxArray *v, const char *name, std::uint64_t n, const char *per)
{
    if (!mxIsDouble(v) || mxIsComplex(v) || mxIsSparse(v)) {
        mexErrMsgIdAndTxt("dovex_solve:badOption",
                          "opts.%s must be a full real double vector; it is %s%s.", name,
                          mxIsComplex(v) ? "complex " : mxIsSparse(v) ? "sparse " : "",
                          mxGetClassName(v));
        return false;
    }
    if (mxGetNumberOfElements(v) != n) {
        mexErrMsgIdAndTxt("dovex_solve:badOption",
                          "opts.%s must have %.0f elements, one per %s; it has %.0f.", name,
                          num(n), per, num(mxGetNumberOfElements(v)));
        return false;
    }
    const double *x = mxGetPr(v);
    for (std::uint64_t k = 0; k < n; k++)
        if (!(x[k] >= 0 && std::isfinite(x[k]))) {
            // Spelled out, as the hosts' formatters write NaN and Inf each
            // their own way.
            const char *odd = std::isnan(x[k]) ? "NaN" : x[k] == INFINITY ? "Inf" : "-Inf";
            if (std::isfinite(x[k]))
                mexErrMsgIdAndTxt("dovex_solve:badOption",
                                  "opts.%s must be finite and 0 or more; element %.0f is %g.",
                                  name, num(k + 1), x[k]);
            else
                mexErrMsgIdAndTxt("dovex_solve:badOption",
                                  "opts.%s must be finite and 0 or more; element %.0f is %s.",
                                  name, num(k + 1), odd);
            return false;
        }
    return true;
}

// opts.display: a logical or numeric real scalar, 0 or 1.
bool check_flag(const mxArray *v, const char *name, bool *flag)
{
    const bool scalar = mxGetNumberOfElements(v) == 1 && !mxIsSparse(v) && !mxIsComplex(v);
    if (scalar && mxIsLogical(v)) {
        *flag = mxGetLogicals(v)[0];
        return true;
    }
    if (scalar && mxIsDouble(v) && (mxGetPr(v)[0] == 0 || mxGetPr(v)[0] == 1)) {
        *flag = mxGetPr(v)[0] == 1;
        return true;
    }
    mexErrMsgIdAndTxt("dovex_solve:badOption", "opts.%s must be true or false.", name);
    return false;
}

// opts.method: 'bound' (dovex_fit's curvature bound), 'quarter', 'newton',
// 'block' or 'optimum'. mxArrayToString reads a char array alike in every host; a
// NUL element ends its text early, so the element count must match too, or
// ['newton' 0] would pass for 'newton'.
bool check_method(const mxArray *v, solve_options::curvature_kind *kind)
{
    const struct {
        const char *name;
        solve_options::curvature_kind kind;
    } methods[] = {{"bound", solve_options::classes},
                   {"quarter", solve_options::quarter},
                   {"newton", solve_options::newton},
                   {"block", solve_options::block},
                   {"optimum", solve_options::optimum}};
    char *text = mxIsChar(v) && mxGetM(v) == 1 ? mxArrayToString(v) : nullptr;
    bool found = false;
    for (const auto &m : methods)
        if (text && !found && same_text(text, m.name) &&
            mxGetNumberOfElements(v) == std::strlen(m.name)) {
            *kind = m.kind;
            found = true;
        }
    if (text)
        mxFree(text);
    if (!found)
        mexErrMsgIdAndTxt("dovex_solve:badOption",
                          "opts.method must be 'bound', 'quarter', 'newton', 'block' or "
                          "'optimum'.");
    return found;
}

// opts: absent or [], or a scalar struct whose fields are all known and valid.
// Fills o with pointers into the caller's arrays, which stay unchanged.
bool read_options(const mxArray *opts, std::uint64_t ns, std::uint64_t nd, solve_options *o)
{
    if (!opts || (mxIsDouble(opts) && mxIsEmpty(opts)))
        return true;
    if (!mxIsStruct(opts)) {
        mexErrMsgIdAndTxt("dovex_solve:badOption",
                          "opts must be a struct with fields among %s; it is of class %s.",
                          option_names, mxGetClassName(opts));
        return false;
    }
    if (mxGetNumberOfElements(opts) != 1) {
        mexErrMsgIdAndTxt("dovex_solve:badOption",
                          "opts must be one struct; it is a struct array of %.0f elements.",
                          num(mxGetNumberOfElements(opts)));
        return false;
    }
    const int nfields = mxGetNumberOfFields(opts);
    for (int f = 0; f < nfields; f++) {
        const char *name = mxGetFieldNameByNumber(opts, f);
        const mxArray *v = mxGetFieldByNumber(opts, 0, f);
        bool ok;
        if (same_text(name, "penalty"))
            ok = v && check_factors(v, name, nd, "column of X");
        else if (same_text(name, "weights"))
            ok = v && check_factors(v, name, ns, "row of X");
        else if (same_text(name, "display"))
            ok = v && check_flag(v, name, &o->display);
        else if (same_text(name, "method"))
            ok = v && check_method(v, &o->curvature);
        else {
            mexErrMsgIdAndTxt("dovex_solve:badOption", "opts.%s is not an option; they are %s.",
                              name, option_names);
            return false;
        }
        if (!ok) {
            if (!v)
                mexErrMsgIdAndTxt("dovex_solve:badOption", "opts.%s is empty.", name);
            return false;
        }
        if (same_text(name, "penalty"))
            o->penalty = mxGetPr(v);
        else if (same_text(name, "weights"))
            o->weights = mxGetPr(v);
    }
    return true;
}

// The fit converged when its last sweep's diff was tol or less, or was the
// 0/0 of a W that stayed all zero; not when it ran out of sweeps, never
// started, or ended on a NaN from NaN weights.
bool converged(const sweep_record &r, const double *W, std::int32_t count, double tol)
{
    if (r.sweeps == 0)
        return false;
    const double last = r.diffs[r.sweeps - 1];
    if (last <= tol)
        return true;
    if (!std::isnan(last))
        return false;
    for (std::int32_t m = 0; m < count; m++)
        if (W[m] != 0)
            return false;
    return true;
}

// A new rows x cols double matrix holding v.
mxArray *matrix(const double *v, std::int32_t rows, std::int32_t cols)
{
    mxArray *a = mxCreateDoubleMatrix(rows, cols, mxREAL);
    if (rows * cols > 0)
        std::memcpy(mxGetPr(a), v, static_cast<std::size_t>(rows * cols) * sizeof(double));
    return a;
}

// The record; for the optimum method (end non-null) also the distance it
// ended at, F there and the gradient (an nd x nc mxArray of the caller's).
mxArray *info_of(const sweep_record &r, bool done, const distance *end, mxArray *gradient)
{
    const char *fields[] = {"sweeps", "diffs", "visits", "converged", "gap", "objective",
                            "gradient"};
    mxArray *info = mxCreateStructMatrix(1, 1, end ? 7 : 4, fields);
    mxSetField(info, 0, "sweeps", mxCreateDoubleScalar(r.sweeps));
    mxSetField(info, 0, "diffs", matrix(r.diffs, r.sweeps, 1));
    mxSetField(info, 0, "visits", matrix(r.visits, r.sweeps, 1));
    mxSetField(info, 0, "converged", mxCreateLogicalScalar(done));
    if (end) {
        mxSetField(info, 0, "gap", mxCreateDoubleScalar(end->gap));
        mxSetField(info, 0, "objective", mxCreateDoubleScalar(end->objective));
        mxSetField(info, 0, "gradient", gradient);
    }
    return info;
}

} // namespace

extern "C" DOVEX_EXPORT void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[])
{
    if (nrhs < 10 || nrhs > 11 || nlhs > 3) {
        mexPrintf("%s", usage);
        mexErrMsgIdAndTxt("dovex_solve:badCount",
                          "dovex_solve takes 10 or 11 inputs and gives 1 to 3 outputs; it was "
                          "called with %d inputs and %d outputs.",
                          nrhs, nlhs);
        return;
    }
    // dovex_fit's nine inputs, W0 and opts aside.
    const mxArray *const shared[] = {prhs[0], prhs[1], prhs[3], prhs[4], prhs[5],
                                     prhs[6], prhs[7], prhs[8], prhs[9]};
    if (!check_inputs("dovex_solve", shared))
        return;
    const std::uint64_t ns = mxGetM(prhs[0]), nd = mxGetN(prhs[0]), nc = mxGetN(prhs[3]);
    solve_options opts;
    if (!check_start(prhs[2], nd, nc) || !read_options(nrhs == 11 ? prhs[10] : nullptr, ns, nd, &opts))
        return;

    // The checks above keep every count and product within 32 bits.
    const std::int32_t nd32 = static_cast<std::int32_t>(nd), ns32 = static_cast<std::int32_t>(ns);
    const std::int32_t ny = static_cast<std::int32_t>(mxGetN(prhs[1]));
    const std::int32_t nc32 = static_cast<std::int32_t>(nc);
    const double lambda1 = mxGetPr(prhs[6])[0];
    const double lambda2 = mxGetPr(prhs[7])[0];
    const double tol = mxGetPr(prhs[8])[0];
    const double max_sweeps = mxGetPr(prhs[9])[0];

    double *XW = copy_of(prhs[3], ns32 * nc32);
    double *E = copy_of(prhs[4], ns32 * nc32);
    double *Z = copy_of(prhs[5], ns32);
    const bool sparse = mxIsSparse(prhs[0]);
    std::int32_t *at = nullptr, *rows = nullptr;
    if (sparse) {
        const mwIndex *jc = mxGetJc(prhs[0]);
        at = indices_of(jc, nd + 1);
        rows = indices_of(mxGetIr(prhs[0]), static_cast<std::uint64_t>(jc[nd]));
    }

    plhs[0] = mxCreateDoubleMatrix(nd32, nc32, mxREAL);
    double *W = mxGetPr(plhs[0]);
    if (nd32 * nc32 > 0)
        std::memcpy(W, mxGetPr(prhs[2]), static_cast<std::size_t>(nd32 * nc32) * sizeof(double));
    sweep_record record;
    const bool optimum = opts.curvature == solve_options::optimum;
    distance end;
    mxArray *gradient = nullptr;
    if (optimum && nlhs >= 2) {
        gradient = mxCreateDoubleMatrix(nd32, nc32, mxREAL);
        end.gradient = mxGetPr(gradient);
    }
    dovex_solve(W, mxGetPr(prhs[0]), at, rows, mxGetPr(prhs[1]), XW, E, Z, lambda1, lambda2, tol,
                max_sweeps, nd32, ns32, ny, nc32, opts, record, optimum ? &end : nullptr);
    if (nlhs >= 2)
        plhs[1] = info_of(record, optimum ? end.settled : converged(record, W, nd32 * nc32, tol),
                          optimum ? &end : nullptr, gradient);
    // The predictors at W, as the fit kept them: the next call from W can
    // start from them without forming X*W, and so keeps their bits.
    if (nlhs == 3)
        plhs[2] = matrix(XW, ns32, nc32);

    if (record.room > 0) {
        mxFree(record.diffs);
        mxFree(record.visits);
    }
    mxFree(XW);
    mxFree(E);
    mxFree(Z);
    if (sparse) {
        mxFree(at);
        mxFree(rows);
    }
}
