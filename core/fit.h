// What the parts of the fitting core share: the call's arrays, the work
// arrays, and what is known about X and about the predictor state. Private
// to the core.
//
// Indices count from 0 throughout the core: feature i < nd, class j < nc,
// sample k < ns. Element (r, c) of a column-major matrix with `rows` rows is
// at offset r + rows * c, in 32-bit arithmetic (the gateway keeps every
// count below 2^31).
#ifndef DOVEX_CORE_FIT_H
#define DOVEX_CORE_FIT_H

#include "dovex.h"

#include <cstdint>

// X in compressed columns (dovex_approx_sparse): column i stores
// values[at[i] .. at[i+1]-1] in the increasing rows rows[at[i] .. at[i+1]-1];
// every element not stored is +0.0.
struct compressed {
    const std::int32_t *at; // nd + 1
    const std::int32_t *rows;
    const double *values;
};

// The arrays and counts the fit was given (see dovex.h). X comes in one of
// two forms: full (X, ns x nd; Xc null) or compressed (*Xc; X unused).
struct problem {
    double *W;            // nd x nc
    const double *X, *Y;  // ns x nd, ns x ny
    const compressed *Xc; // null for a full X
    double *XW, *E, *Z;  // ns x nc, ns x nc, ns
    double lambda1, lambda2;
    std::int32_t nd, ns, ny, nc;
    // dovex_solve's generalisations (see dovex.h); null for all ones.
    const double *penalty = nullptr; // nd
    const double *weights = nullptr; // ns
    solve_options::curvature_kind curvature = solve_options::classes;
};

// What is learned about each feature, column i of X, once per call
// (features.cpp). Laid out as a compressed column: for a listed feature of
// a full X, rows[at[i] .. at[i+1]-1] are the rows where X(k, i) is non-zero.
// A compressed X lists every feature by its own stored rows, so at and rows
// are left empty then.
struct feature_facts {
    bool *finite;       // nd: the column holds no NaN and no infinity
    bool *listed;       // nd: its non-zero rows are in rows[], or X's own
    std::int32_t *at;   // nd + 1 for a full X
    std::int32_t *rows; // the listed columns' non-zero rows, increasing
};

// What is known about the predictor state XW, E, Z, on which the shortcuts
// of predictors.cpp rest; allocate starts it as unknown, and only
// predictors.cpp changes it.
struct state_facts {
    // Every E(k,j)/Z(k) and Y(k,j) - E(k,j)/Z(k) is finite and no Z(k) is a
    // zero; false when not known.
    bool tame;
    // nc: column j of E holds exp's own bits for column j of XW, and that
    // column holds no -0.0.
    bool *exact;
};

// The work arrays, all from the host (work.cpp). The first seven are the
// ones the fit has always asked for, in that order, with those sizes: a
// host may rely on what it sees. Of them only visit_prob, bound_diag and,
// for a compressed X, x_col are used: what the others would hold is read
// in place (ratio_col, y_col, x_col for a full X) or summed on the fly
// (w_prev, w_change).
struct work {
    double *w_change;   // nd * ny, unused
    double *w_prev;     // nd * ny, unused
    double *visit_prob; // nd * ny, used as nd x nc: chance to visit a zero weight
    double *ratio_col;  // ns, unused
    double *bound_diag; // nd: curvature bound of each feature
    double *x_col;      // ns: all +0.0, or for a while a column of a compressed X
    double *y_col;      // ns, unused
    double *reach;      // nd for the newton curvature: the longest move of its bound
    feature_facts features;
    state_facts state;
};

// work.cpp: every block the fit uses, asked for at once, and given back in
// the same order. allocate reads a full X only to size the row lists.
work allocate(const problem &p);
void release(work &w);
// Appends a sweep to a dovex_solve record, growing its arrays as needed.
void record_sweep(sweep_record &record, double diff, double visits);

// dovex_solve's fits (solve.cpp picks one): the sweeps of dovex_approx.cpp
// generalised, the block method of block.cpp, and the rounds of optimum.cpp.
void solve_fit(const problem &p, double tol, double max_sweeps, bool display,
               sweep_record &record);
void block_fit(const problem &p, double tol, double max_sweeps, bool display,
               sweep_record &record);
void optimum_fit(const problem &p, double tol, double max_sweeps, bool display,
                 sweep_record &record, distance *out);

// features.cpp
std::int32_t listed_row_count(const double *X, std::int32_t nd, std::int32_t ns);
void learn_features(work &w, const problem &p);

// predictors.cpp; gradient and upkeep for a full X, their compressed_
// namesakes for a compressed one.
void recheck_tame(state_facts &s, const problem &p);
double gradient(const work &w, const problem &p, std::int32_t i, std::int32_t j);
void upkeep(work &w, const problem &p, std::int32_t i, std::int32_t j, double w_old, double w_new);
double compressed_gradient(const work &w, const problem &p, std::int32_t i, std::int32_t j);
// The gradient of dovex_solve's fit, weighted or not, X full or compressed;
// with curvature non-null also sum_k s_k X(k,i)^2 min(p(k,j), 1 - p(k,j)).
double solve_gradient(const work &w, const problem &p, std::int32_t i, std::int32_t j,
                      double *curvature);
void compressed_upkeep(work &w, const problem &p, std::int32_t i, std::int32_t j, double w_old,
                       double w_new);

#endif
