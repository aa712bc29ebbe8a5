#include "problems.h"

#include "data.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// splitmix64: a tiny generator of our own, so the data never depends on the
// C library's rand(), whose state the fit itself consumes.
struct rng {
    std::uint64_t s;
    std::uint64_t next()
    {
        std::uint64_t z = (s += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double uniform() // in (0, 1)
    {
        return (static_cast<double>(next() >> 11) + 0.5) / 9007199254740992.0;
    }
    double gauss()
    {
        const double u = uniform(), v = uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
    }
};

} // namespace

problem csv_problem(const std::string &name, double scale)
{
    const dataset d = load_dataset(name);
    problem p;
    p.name = name;
    p.ns = d.ns;
    p.nd = d.nd;
    p.nc = d.nc;
    p.X = d.X;
    for (double &x : p.X)
        x /= scale;
    p.Y = d.Y;
    return p;
}

problem gaussian_problem(const std::string &name, std::int32_t ns, std::int32_t nd,
                         std::int32_t nc, std::int32_t informative, double shift,
                         std::uint64_t seed)
{
    problem p;
    p.name = name;
    p.ns = ns;
    p.nd = nd;
    p.nc = nc;
    rng g{seed};
    // Each informative feature is shifted up for one class and down for another.
    std::vector<double> mean(static_cast<size_t>(nc) * informative, 0.0);
    for (std::int32_t i = 0; i < informative; i++) {
        const std::int32_t up = static_cast<std::int32_t>(g.next() % nc);
        const std::int32_t down = static_cast<std::int32_t>((up + 1 + g.next() % (nc - 1)) % nc);
        mean[up + static_cast<size_t>(nc) * i] = shift;
        mean[down + static_cast<size_t>(nc) * i] = -shift;
    }
    p.X.resize(static_cast<size_t>(ns) * nd);
    p.Y.assign(static_cast<size_t>(ns) * nc, 0.0);
    for (std::int32_t k = 0; k < ns; k++)
        p.Y[k + static_cast<size_t>(ns) * (k % nc)] = 1.0;
    for (std::int32_t i = 0; i < nd; i++)
        for (std::int32_t k = 0; k < ns; k++) {
            double x = g.gauss();
            if (i < informative)
                x += mean[k % nc + static_cast<size_t>(nc) * i];
            p.X[k + static_cast<size_t>(ns) * i] = x;
        }
    return p;
}

problem bench_problem(const std::string &name)
{
    if (name == "iris") {
        problem p = csv_problem("iris", 1.0);
        p.lambda1 = 5.0, p.lambda2 = 0.5, p.tol = 1e-6, p.max_sweeps = 10000;
        return p;
    }
    if (name == "digits") {
        problem p = csv_problem("digits", 16.0);
        p.lambda1 = 5.0, p.lambda2 = 0.5, p.tol = 1e-5, p.max_sweeps = 10000;
        return p;
    }
    if (name == "brain") {
        problem p = gaussian_problem("brain", 200, 20000, 4, 300, 0.6, 20240601);
        p.lambda1 = 5.0, p.lambda2 = 0.5, p.tol = 1e-5, p.max_sweeps = 10000;
        return p;
    }
    if (name == "many") {
        problem p = gaussian_problem("many", 50000, 200, 10, 100, 0.25, 20240602);
        p.lambda1 = 100.0, p.lambda2 = 10.0, p.tol = 1e-4, p.max_sweeps = 10000;
        return p;
    }
    std::fprintf(stderr, "unknown problem %s (iris digits brain many)\n", name.c_str());
    std::exit(2);
}
