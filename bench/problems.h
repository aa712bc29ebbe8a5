// The benchmark's problems: the bundled data sets and deterministic
// synthetic shapes, as the column-major arrays the fit takes.
#ifndef DOVEX_BENCH_PROBLEMS_H
#define DOVEX_BENCH_PROBLEMS_H

#include <cstdint>
#include <string>
#include <vector>

struct problem {
    std::string name;
    std::int32_t ns = 0, nd = 0, nc = 0;
    std::vector<double> X, Y; // ns x nd (empty for a sparse problem), ns x nc (one-hot)
    // A sparse problem's X in compressed columns, as dovex_approx_sparse
    // takes it: column i stores x_values[x_at[i] .. x_at[i+1]-1] in the rows
    // x_rows[...]. Empty for a full problem.
    std::vector<std::int32_t> x_at, x_rows;
    std::vector<double> x_values;
    double lambda1 = 0, lambda2 = 0, tol = 0, max_sweeps = 0;

    bool sparse() const { return !x_at.empty(); }
};

// data/<name>.csv: features, then a 0-based label column; X scaled by 1/scale.
problem csv_problem(const std::string &name, double scale);

// Gaussian noise plus a class-dependent shift on the first `informative`
// features; labels cycle through the classes. Same bits on every run.
problem gaussian_problem(const std::string &name, std::int32_t ns, std::int32_t nd,
                         std::int32_t nc, std::int32_t informative, double shift,
                         std::uint64_t seed);

// A text-like sparse problem: ns documents of nd terms in nc classes, about
// density * nd distinct terms a document, drawn with Zipf frequencies (the
// r-th most frequent term in proportion to 1/r), each counted 1, 2, ...
// times; each class has `informative` terms of middling frequency that its
// documents hold far more often than the others do. Documents cycle
// through the classes. Same bits on every run.
problem text_problem(const std::string &name, std::int32_t ns, std::int32_t nd, std::int32_t nc,
                     double density, std::int32_t informative, std::uint64_t seed);

// The same problem with X made full (and the compressed columns dropped).
problem full_problem(const problem &sparse);

// lambda1_max = max |X'(Y - 1/nc)|, the smallest lambda1 at which every
// weight stays zero from the all-zero start, of a sparse problem.
double lambda1_max(const problem &sparse);

// The benchmark's problems by name (iris digits brain many text
// text-large text-small), with the penalties and stopping rule they are
// fitted with; exits on an unknown name.
problem bench_problem(const std::string &name);

#endif
