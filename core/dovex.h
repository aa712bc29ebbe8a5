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

// The same fit with X in compressed columns, the form of a sparse matrix,
// with 32-bit indices counted from 0: column i stores the values
// x_values[x_at[i] .. x_at[i+1]-1] in the rows x_rows[x_at[i] .. x_at[i+1]-1],
// which increase and stay below ns; x_at has nd + 1 entries, from x_at[0] = 0
// to the number of stored values. Every element not stored is +0.0; stored
// ones may be anything, zeros of either sign included. For the same inputs
// and the same rand() state it gives W, XW, E, Z and the printed text of
// dovex_approx on the full matrix, bit for bit. Its scratch memory is that
// of dovex_approx without the row lists: nothing of size ns x nd.
void dovex_approx_sparse(double *W, const std::int32_t *x_at, const std::int32_t *x_rows,
                         const double *x_values, const double *Y, double *XW, double *E,
                         double *Z, double lambda1, double lambda2, double tol,
                         double max_sweeps, std::int32_t nd, std::int32_t ns, std::int32_t ny,
                         std::int32_t nc);

// What dovex_solve does beyond dovex_approx. A null penalty or weights
// stands for all ones, and the defaults give dovex_approx's fit exactly.
struct solve_options {
    // nd factors: weight (i, j) is penalised by
    //     penalty[i] lambda1 |w| + penalty[i] lambda2/2 w^2,
    // and a factor of 0 leaves feature i unpenalised, whatever the lambdas.
    const double *penalty = nullptr;
    // ns sample weights: the log-likelihood becomes
    //     sum_k weights[k] sum_j Y(k,j) log(E(k,j)/Z(k)).
    const double *weights = nullptr;
    bool display = true; // the progress lines and drawnow
    // The curvature of the bound each visit maximises: the fixed
    // -1/2 (1 - 1/ny) sum_k s_k X(k,i)^2 (dovex_approx's); the tighter
    // -1/4 sum_k s_k X(k,i)^2, a bound on one weight's curvature alone; or,
    // newton, also twice the current curvature, a bound over the moves short
    // enough that no sample's probability can change its distance from 0 or
    // 1 by more than a factor of 2, whichever step promises more. block is
    // no curvature of a visit but a method of its own (core/block.cpp): per
    // class, a proximal Newton step on the whole column, its quadratic model
    // maximised by coordinate descent, then a line search on the objective
    // that keeps only ascents; it draws nothing from rand(). optimum runs
    // block's sweeps in rounds, with moves of its own between them (a shift
    // of each feature's class weights, Newton steps on the free weights),
    // and stops when F is within tol of its optimum relative to |F|, as the
    // optimality conditions measure it (core/optimum.cpp).
    enum curvature_kind { classes, quarter, newton, block, optimum } curvature = classes;
};

// What the optimum method says of its end: the distance it stopped at
// (relative to |F|), F there, whether the distance is tol or less, and,
// when gradient is given (nd x nc), the log-likelihood's gradient there.
struct distance {
    double gap = 0, objective = 0;
    bool settled = false;
    double *gradient = nullptr;
};

// What each sweep did: diffs[n] (the relative change the stopping rule
// compared with tol) and visits[n] (the pairs visited; for the block
// method, its coordinate descent's visits) for n < sweeps. The
// fit allocates both from the host and grows them as sweeps run; the caller
// frees them with mxFree.
struct sweep_record {
    std::int32_t sweeps = 0, room = 0;
    double *diffs = nullptr, *visits = nullptr;
};

// The fit of dovex_approx, or with x_at non-null that of
// dovex_approx_sparse (X then holding the stored values), generalised by
// opts, its sweeps kept in *record. With the default opts it gives
// dovex_approx's W, XW, E, Z, printed text and rand() draws bit for bit.
// Defined in solve.cpp, apart from dovex_approx, so that a module calling
// only dovex_approx links none of the block method (nor its log).
void dovex_solve(double *W, const double *X, const std::int32_t *x_at,
                 const std::int32_t *x_rows, const double *Y, double *XW, double *E, double *Z,
                 double lambda1, double lambda2, double tol, double max_sweeps, std::int32_t nd,
                 std::int32_t ns, std::int32_t ny, std::int32_t nc, const solve_options &opts,
                 sweep_record &record, distance *out = nullptr);

#endif
