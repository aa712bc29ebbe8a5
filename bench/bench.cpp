// The speed benchmark: the optimised core against the plain baseline, side by
// side in one run, on the bundled and synthetic problems, with a check that
// both give the same bits. Not part of the tests; run it with tools/bench.sh.
//
//   bench [problem ...]   problems: iris digits brain many (default: all)
#include "dovex.h"
#include "plain_approx.h"
#include "problems.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// A host that records the progress text and the scratch memory in use.
namespace {
struct {
    std::vector<std::pair<void *, std::size_t>> blocks;
    std::size_t live = 0, peak = 0;
    std::string out;
} host;
} // namespace

extern "C" {
void *mxCalloc(std::size_t n, std::size_t size)
{
    void *p = std::calloc(n ? n : 1, size ? size : 1);
    host.blocks.push_back({p, n * size});
    host.live += n * size;
    host.peak = std::max(host.peak, host.live);
    return p;
}
void mxFree(void *ptr)
{
    for (auto &b : host.blocks)
        if (b.first == ptr) {
            host.live -= b.second;
            b = host.blocks.back();
            host.blocks.pop_back();
            break;
        }
    std::free(ptr);
}
int mexPrintf(const char *format, ...)
{
    char buf[256];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    host.out += buf;
    return n;
}
int mexEvalString(const char *)
{
    return 0;
}
}

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point t0)
{
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

struct outcome {
    double secs = 0;
    std::vector<double> W, XW, E, Z;
    std::string text;
    int next_draw = 0; // the rand() value after the fit: same consumption
    std::size_t peak = 0;
    long visits = 0;
    int sweeps = 0;
};

// One fit from all-zero weights (XW = 0, E = 1, Z = nc) after srand(seed).
outcome fit(const problem &p, bool plain, double lambda1, double lambda2, double tol,
            double max_sweeps, unsigned seed = 1)
{
    outcome o;
    o.W.assign(static_cast<size_t>(p.nd) * p.nc, 0.0);
    o.XW.assign(static_cast<size_t>(p.ns) * p.nc, 0.0);
    o.E.assign(static_cast<size_t>(p.ns) * p.nc, 1.0);
    o.Z.assign(p.ns, static_cast<double>(p.nc));
    host.out.clear();
    host.peak = host.live = 0;
    std::srand(seed);
    const auto t0 = clock_type::now();
    if (plain)
        plain_approx(o.W.data(), p.X.data(), p.Y.data(), o.XW.data(), o.E.data(), o.Z.data(),
                     lambda1, lambda2, tol, max_sweeps, p.nd, p.ns, p.nc, p.nc, &o.visits);
    else
        dovex_approx(o.W.data(), p.X.data(), p.Y.data(), o.XW.data(), o.E.data(), o.Z.data(),
                     lambda1, lambda2, tol, max_sweeps, p.nd, p.ns, p.nc, p.nc);
    o.secs = seconds_since(t0);
    o.next_draw = std::rand();
    o.text = host.out;
    o.peak = host.peak;
    o.sweeps = static_cast<int>(std::count(o.text.begin(), o.text.end(), '\n'));
    return o;
}

outcome fit(const problem &p, bool plain)
{
    return fit(p, plain, p.lambda1, p.lambda2, p.tol, p.max_sweeps);
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

bool identical(const outcome &a, const outcome &b)
{
    return same_bits(a.W, b.W) && same_bits(a.XW, b.XW) && same_bits(a.E, b.E) &&
           same_bits(a.Z, b.Z) && a.text == b.text && a.next_draw == b.next_draw;
}

// Fastest of alternating runs of both versions, repeated until each has had
// about half a second (at least one run, at most 30): the machine is shared.
void time_pair(const problem &p, outcome &plain, outcome &fast)
{
    plain = fit(p, true);
    fast = fit(p, false);
    const int reps = std::clamp(static_cast<int>(0.5 / std::max(plain.secs, 1e-6)), 1, 30);
    for (int r = 1; r < reps; r++) {
        plain.secs = std::min(plain.secs, fit(p, true).secs);
        fast.secs = std::min(fast.secs, fit(p, false).secs);
    }
}

// --- the machine's own yardsticks -------------------------------------------

volatile double sink;

double ns_per_rand()
{
    const long n = 20000000;
    std::srand(12345);
    unsigned acc = 0;
    const auto t0 = clock_type::now();
    for (long i = 0; i < n; i++)
        acc ^= static_cast<unsigned>(std::rand());
    const double t = seconds_since(t0);
    sink = acc;
    return t / n * 1e9;
}

// Independent calls, as in the per-sample upkeep.
double ns_per_exp()
{
    std::vector<double> in(4096), out(4096);
    for (size_t k = 0; k < in.size(); k++)
        in[k] = -5.0 + 10.0 * static_cast<double>((k * 2654435761u) % 4096) / 4096.0;
    const int reps = 5000;
    const auto t0 = clock_type::now();
    for (int r = 0; r < reps; r++) {
        for (size_t k = 0; k < in.size(); k++)
            out[k] = std::exp(in[k]);
        sink = out[r % 4096];
    }
    return seconds_since(t0) / (reps * in.size()) * 1e9;
}

// A chain of additions, each waiting for the one before.
double ns_per_dependent_add()
{
    std::vector<double> v(4096);
    for (size_t k = 0; k < v.size(); k++)
        v[k] = 1e-3 * static_cast<double>(k % 7);
    const int reps = 5000;
    double s = 0.0;
    const auto t0 = clock_type::now();
    for (int r = 0; r < reps; r++)
        for (size_t k = 0; k < v.size(); k++)
            s = v[k] + s;
    const double t = seconds_since(t0);
    sink = s;
    return t / (reps * v.size()) * 1e9;
}

// --- reporting ----------------------------------------------------------------

std::string mib(double bytes)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", bytes / (1024.0 * 1024.0));
    return buf;
}

problem make(const std::string &name)
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

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> names = {"iris", "digits", "brain", "many"};
    if (argc > 1)
        names.assign(argv + 1, argv + argc);

    const double t_rand = ns_per_rand(), t_exp = ns_per_exp(), t_add = ns_per_dependent_add();
    std::printf("Yardsticks: rand() %.2f ns, exp %.2f ns, dependent addition %.2f ns\n\n", t_rand,
                t_exp, t_add);

    std::printf("| problem | ns x nd x nc | lambda1, lambda2 | tol | sweeps | visited pairs | "
                "plain s | fast s | speed-up | plain ns/(pair x sample) | fast ns/(pair x "
                "sample) | data MiB | plain scratch MiB | fast scratch MiB | same bits |\n");
    std::printf("|---|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
    double log_sum = 0;
    bool all_same = true;
    for (const std::string &name : names) {
        const problem p = make(name);
        outcome plain, fast;
        time_pair(p, plain, fast);
        const bool same = identical(plain, fast);
        all_same = all_same && same;
        const double speedup = plain.secs / fast.secs;
        log_sum += std::log(speedup);
        const double samples = static_cast<double>(plain.visits) * p.ns;
        const double data = 8.0 * (static_cast<double>(p.ns) * p.nd + 3.0 * p.ns * p.nc + p.ns +
                                   static_cast<double>(p.nd) * p.nc);
        std::printf("| %s | %d x %d x %d | %g, %g | %g | %d | %ld | %.3f | %.3f | %.2fx | %.2f | "
                    "%.2f | %s | %s | %s | %s |\n",
                    p.name.c_str(), p.ns, p.nd, p.nc, p.lambda1, p.lambda2, p.tol, plain.sweeps,
                    plain.visits, plain.secs, fast.secs, speedup, plain.secs / samples * 1e9,
                    fast.secs / samples * 1e9, mib(data).c_str(), mib(plain.peak).c_str(),
                    mib(fast.peak).c_str(), same ? "yes" : "NO");
        std::fflush(stdout);
    }
    std::printf("\nGeometric mean speed-up: %.2fx over %zu problems; W, XW, E, Z, text and draws "
                "bit-identical on all: %s\n",
                std::exp(log_sum / names.size()), names.size(), all_same ? "yes" : "NO");
    return all_same ? 0 : 1;
}
