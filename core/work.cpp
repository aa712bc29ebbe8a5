// The fit's memory: every block comes zero-filled from the host's mxCalloc
// when the call starts and goes back with mxFree, in the same order, when
// it ends. Nothing is allocated in between.
#include "dovex.h"
#include "fit.h"
#include "host.h"

#include <cstddef>

namespace {

template <typename T> T *zeros(std::size_t n)
{
    return static_cast<T *>(mxCalloc(n, sizeof(T)));
}

} // namespace

work allocate(const problem &p)
{
    const std::int32_t npairs = p.nd * p.ny;
    work w;
    w.w_change = zeros<double>(npairs);
    w.w_prev = zeros<double>(npairs);
    w.visit_prob = zeros<double>(npairs);
    w.ratio_col = zeros<double>(p.ns);
    w.bound_diag = zeros<double>(p.nd);
    w.x_col = zeros<double>(p.ns);
    w.y_col = zeros<double>(p.ns);
    // The core's own, after the seven. A compressed X needs no row lists:
    // it is its own.
    w.features.finite = zeros<bool>(p.nd);
    w.features.listed = zeros<bool>(p.nd);
    w.features.at = zeros<std::int32_t>(p.Xc ? 0 : static_cast<std::size_t>(p.nd) + 1);
    w.features.rows = zeros<std::int32_t>(p.Xc ? 0 : listed_row_count(p.X, p.nd, p.ns));
    w.state.tame = false;
    w.state.exact = zeros<bool>(p.nc);
    // dovex_solve's, for its newton curvature only.
    w.reach = p.curvature == solve_options::newton ? zeros<double>(p.nd) : nullptr;
    return w;
}

void release(work &w)
{
    mxFree(w.w_change);
    mxFree(w.w_prev);
    mxFree(w.visit_prob);
    mxFree(w.ratio_col);
    mxFree(w.bound_diag);
    mxFree(w.x_col);
    mxFree(w.y_col);
    mxFree(w.features.finite);
    mxFree(w.features.listed);
    mxFree(w.features.at);
    mxFree(w.features.rows);
    mxFree(w.state.exact);
    if (w.reach)
        mxFree(w.reach);
}

// The record's arrays start with room for 64 sweeps and double when full:
// a fit allowed millions of sweeps that stops after a few asks for little.
void record_sweep(sweep_record &record, double diff, double visits)
{
    if (record.sweeps == record.room) {
        const std::int32_t room = record.room < 64 ? 64
                                  : record.room > INT32_MAX / 2 ? INT32_MAX
                                                               : 2 * record.room;
        double *diffs = zeros<double>(room), *counts = zeros<double>(room);
        for (std::int32_t n = 0; n < record.sweeps; n++) {
            diffs[n] = record.diffs[n];
            counts[n] = record.visits[n];
        }
        if (record.room > 0) {
            mxFree(record.diffs);
            mxFree(record.visits);
        }
        record.diffs = diffs;
        record.visits = counts;
        record.room = room;
    }
    record.diffs[record.sweeps] = diff;
    record.visits[record.sweeps] = visits;
    record.sweeps++;
}
