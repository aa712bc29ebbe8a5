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
    std::vector<double> X, Y; // ns x nd, ns x nc (one-hot)
    double lambda1 = 0, lambda2 = 0, tol = 0, max_sweeps = 0;
};

// data/<name>.csv: features, then a 0-based label column; X scaled by 1/scale.
problem csv_problem(const std::string &name, double scale);

// Gaussian noise plus a class-dependent shift on the first `informative`
// features; labels cycle through the classes. Same bits on every run.
problem gaussian_problem(const std::string &name, std::int32_t ns, std::int32_t nd,
                         std::int32_t nc, std::int32_t informative, double shift,
                         std::uint64_t seed);

// The benchmark's problems by name (iris digits brain many), with the
// penalties and stopping rule they are fitted with; exits on an unknown name.
problem bench_problem(const std::string &name);

#endif
