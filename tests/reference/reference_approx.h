// The plain implementation of the fit: the reference the optimised core is
// held to bit for bit (tests/core/differential_test.cpp) and the baseline
// the benchmark measures it against.
#ifndef DOVEX_TESTS_REFERENCE_APPROX_H
#define DOVEX_TESTS_REFERENCE_APPROX_H

#include "dovex.h"

#include <cstdint>
#include <vector>

// What a fit's visits were, for the benchmark: every visited pair, those
// that left a zero weight at zero, and the exp calls the others could not
// have avoided, one per non-zero x, given the number of non-zero values of
// each column of X in nonzero[].
struct visit_count {
    const int *nonzero = nullptr;
    long all = 0, stayed_zero = 0;
    double exp_needed = 0;
};

// dovex_solve's record, kept in vectors.
struct reference_record {
    std::vector<double> diffs, visits;
};

// Same arguments and results as dovex_approx; *visits, when given, counts
// the visits. With opts it is dovex_solve's fit on a full X, its sweeps kept
// in *record.
void reference_approx(double *W, const double *X, const double *Y, double *XW, double *E,
                      double *Z, double lambda1, double lambda2, double tol, double max_sweeps,
                      std::int32_t nd, std::int32_t ns, std::int32_t ny, std::int32_t nc,
                      visit_count *visits = nullptr, const solve_options *opts = nullptr,
                      reference_record *record = nullptr);

#endif
