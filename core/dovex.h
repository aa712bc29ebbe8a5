// The fitting core's one entry point, called by the MEX gateway.
#ifndef DOVEX_CORE_DOVEX_H
#define DOVEX_CORE_DOVEX_H

#include <cstdint>

// Fits the nd x nc weights W of a multinomial logistic regression with an L1
// (lambda1) and L2 (lambda2) penalty by component-wise bound optimisation.
//
// All matrices are column-major doubles. W (nd x nc) is the starting point and
// receives the result. X is ns x nd, Y is ns x ny (columns 1..nc used, so
// nc <= ny). XW, E (ns x nc) and Z (ns) are the per-sample predictors, their
// exponentials and the row sums of E; they must be consistent on entry and
// are kept consistent, updated in place. Sweeps run until max_sweeps is
// reached or the relative change of W over a sweep is no longer above tol;
// each sweep prints one progress line through the host.
//
// Scratch memory comes from the host's mxCalloc: three nd x ny and a few
// ns- and nd-long arrays, plus one 32-bit row number per non-zero value of
// the columns of X that have at least one zero in eight rows.
void dovex_approx(double *W, const double *X, const double *Y, double *XW, double *E,
                  double *Z, double lambda1, double lambda2, double tol, double max_sweeps,
                  std::int32_t nd, std::int32_t ns, std::int32_t ny, std::int32_t nc);

#endif
