// The straightforward implementation of the fit, kept in the tests as the
// reference the optimised core must match bit for bit.
#ifndef DOVEX_TESTS_REFERENCE_APPROX_H
#define DOVEX_TESTS_REFERENCE_APPROX_H

#include <cstdint>

// Same arguments and results as dovex_approx.
void reference_approx(double *W, const double *X, const double *Y, double *XW, double *E,
                      double *Z, double lambda1, double lambda2, double tol, double max_sweeps,
                      std::int32_t nd, std::int32_t ns, std::int32_t ny, std::int32_t nc);

#endif
