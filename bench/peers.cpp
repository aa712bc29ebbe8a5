// Support for the peer comparison (tools/peers.sh): writes the benchmark's
// problems to files the other tools read, and fits them with the core at a
// ladder of tolerances, printing the time and the penalised objective of
// each fit.
//
//   dovex_peers export DIR problem...   DIR/<p>.meta, DIR/<p>.label, and X:
//                                       DIR/<p>.X (full, column-major doubles)
//                                       or, for a sparse problem, its
//                                       compressed columns DIR/<p>.Xp (int32
//                                       column starts), .Xi (int32 rows from
//                                       0) and .Xx (doubles)
//   dovex_peers ladder problem          lines "dovex <tol> <seconds> <objective>"
#include "console_host.h"
#include "dovex.h"
#include "problems.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

double cpu_seconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// The penalised negative log-likelihood the fit minimises,
//     sum_k (log sum_j exp(XW(k,j)) - sum_j Y(k,j) XW(k,j))
//       + lambda1 |W|_1 + lambda2/2 |W|^2,
// with XW recomputed as X*W, so that it is comparable across tools.
double objective(const problem &p, const std::vector<double> &W)
{
    const size_t ns = p.ns, nd = p.nd, nc = p.nc;
    std::vector<double> xw(ns * nc, 0.0);
    for (size_t j = 0; j < nc; j++)
        for (size_t i = 0; i < nd; i++) {
            const double w = W[i + nd * j];
            if (w != 0 && p.sparse())
                for (std::int32_t m = p.x_at[i]; m < p.x_at[i + 1]; m++)
                    xw[p.x_rows[m] + ns * j] += p.x_values[m] * w;
            else if (w != 0)
                for (size_t k = 0; k < ns; k++)
                    xw[k + ns * j] += p.X[k + ns * i] * w;
        }
    double f = 0.0;
    for (size_t k = 0; k < ns; k++) {
        double top = xw[k];
        for (size_t j = 1; j < nc; j++)
            top = std::fmax(top, xw[k + ns * j]);
        double sum = 0.0, fit = 0.0;
        for (size_t j = 0; j < nc; j++) {
            sum += std::exp(xw[k + ns * j] - top);
            fit += p.Y[k + ns * j] * xw[k + ns * j];
        }
        f += top + std::log(sum) - fit;
    }
    for (double w : W)
        f += p.lambda1 * std::fabs(w) + 0.5 * p.lambda2 * w * w;
    return f;
}

template <typename T> void write_file(const std::string &path, const std::vector<T> &v)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(v.data(), sizeof(T), v.size(), f) != v.size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

void export_problem(const problem &p, const std::string &dir)
{
    const std::string base = dir + "/" + p.name;
    FILE *meta = std::fopen((base + ".meta").c_str(), "w");
    if (!meta) {
        std::fprintf(stderr, "cannot write to %s\n", dir.c_str());
        std::exit(1);
    }
    std::fprintf(meta, "%d %d %d %.17g %.17g\n", p.ns, p.nd, p.nc, p.lambda1, p.lambda2);
    std::fclose(meta);
    if (p.sparse()) {
        write_file(base + ".Xp", p.x_at);
        write_file(base + ".Xi", p.x_rows);
        write_file(base + ".Xx", p.x_values);
    } else {
        write_file(base + ".X", p.X);
    }
    std::vector<std::int32_t> label;
    for (std::int32_t k = 0; k < p.ns; k++)
        for (std::int32_t j = 0; j < p.nc; j++)
            if (p.Y[k + static_cast<size_t>(p.ns) * j] != 0)
                label.push_back(j);
    write_file(base + ".label", label);
}

// Fits at tol = 1e-2, 1e-3, ... until the tolerance 1e-10 or a fit that
// takes longer than a minute, whichever comes first.
void ladder(const problem &p)
{
    for (int e = 2; e <= 10; e++) {
        const double tol = std::pow(10.0, -e);
        std::vector<double> W(static_cast<size_t>(p.nd) * p.nc, 0.0);
        std::vector<double> XW(static_cast<size_t>(p.ns) * p.nc, 0.0);
        std::vector<double> E(XW.size(), 1.0), Z(p.ns, static_cast<double>(p.nc));
        std::srand(1);
        const double t0 = cpu_seconds();
        if (p.sparse())
            dovex_approx_sparse(W.data(), p.x_at.data(), p.x_rows.data(), p.x_values.data(),
                                p.Y.data(), XW.data(), E.data(), Z.data(), p.lambda1, p.lambda2,
                                tol, 1e6, p.nd, p.ns, p.nc, p.nc);
        else
            dovex_approx(W.data(), p.X.data(), p.Y.data(), XW.data(), E.data(), Z.data(),
                         p.lambda1, p.lambda2, tol, 1e6, p.nd, p.ns, p.nc, p.nc);
        const double secs = cpu_seconds() - t0;
        std::printf("dovex %g %.4f %.17g\n", tol, secs, objective(p, W));
        std::fflush(stdout);
        if (secs > 60)
            break;
    }
}

} // namespace

int main(int argc, char **argv)
{
    console_echo(false); // stdout is for the ladder's lines
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "export" && argc > 3) {
        for (int a = 3; a < argc; a++)
            export_problem(bench_problem(argv[a]), argv[2]);
        return 0;
    }
    if (mode == "ladder" && argc == 3) {
        ladder(bench_problem(argv[2]));
        return 0;
    }
    std::fprintf(stderr, "usage: dovex_peers export DIR problem... | dovex_peers ladder problem\n");
    return 2;
}
