// The straightforward implementation of the fit, kept only as the benchmark's
// baseline: it gives the bits the optimised core must reproduce, at the cost
// the optimised core is measured against.
#ifndef DOVEX_BENCH_PLAIN_APPROX_H
#define DOVEX_BENCH_PLAIN_APPROX_H

#include <cstdint>

// Visited pairs, how many of them left a zero weight at zero, and how many
// exp calls the others could not have avoided: one per non-zero x, given the
// number of non-zero values of each column of X in nonzero[].
struct visit_count {
    const int *nonzero = nullptr;
    long all = 0, stayed_zero = 0;
    double exp_needed = 0;
};

// Same arguments and results as dovex_approx; *visits (when not null) counts
// the visits, which the optimised core does not report.
void plain_approx(double *W, const double *X, const double *Y, double *XW, double *E, double *Z,
                  double lambda1, double lambda2, double tol, double max_sweeps, std::int32_t nd,
                  std::int32_t ns, std::int32_t ny, std::int32_t nc, visit_count *visits);

#endif
