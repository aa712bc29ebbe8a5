// dovex_solve's entry point, in an object of its own: it reaches the block
// method (block.cpp) and so log, which a module that calls only
// dovex_approx must not import (the linker takes library objects whole).
#include "dovex.h"
#include "fit.h"

void dovex_solve(double *W, const double *X, const std::int32_t *x_at,
                 const std::int32_t *x_rows, const double *Y, double *XW, double *E, double *Z,
                 double lambda1, double lambda2, double tol, double max_sweeps, std::int32_t nd,
                 std::int32_t ns, std::int32_t ny, std::int32_t nc, const solve_options &opts,
                 sweep_record &record, distance *out)
{
    const compressed Xc{x_at, x_rows, X};
    const problem p{W,  x_at ? nullptr : X, Y, x_at ? &Xc : nullptr, XW, E, Z, lambda1, lambda2,
                    nd, ns, ny, nc, opts.penalty, opts.weights,
                    opts.curvature};
    if (opts.curvature == solve_options::optimum)
        optimum_fit(p, tol, max_sweeps, opts.display, record, out);
    else if (opts.curvature == solve_options::block)
        block_fit(p, tol, max_sweeps, opts.display, record);
    else
        solve_fit(p, tol, max_sweeps, opts.display, record);
}
