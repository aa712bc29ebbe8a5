// The speed benchmark: the optimised core against the plain reference
// implementation (tests/reference), side by side in one run, on the bundled
// and synthetic problems, with a check that both give the same bits; and a
// text-like sparse problem fitted with X sparse and with X full, each in a
// process of its own, for time per sweep and memory. Not part of the tests;
// run it with tools/bench.sh.
//
//   bench [problem ...]   problems: iris digits brain many (default: all),
//                         targets (the per-unit costs), text (sparse against
//                         full), text-large (sparse only)
#include "console_host.h"
#include "dovex.h"
#include "problems.h"
#include "reference_approx.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Processor time of this thread: the machine is shared, and waiting for a
// core is no part of the fit's cost.
double cpu_seconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct outcome {
    double secs = 0;
    std::vector<double> W, XW, E, Z;
    std::string text;
    int next_draw = 0; // the rand() value after the fit: same consumption
    std::size_t peak = 0;
    visit_count visits;
    int sweeps = 0;
};

// One fit after srand(seed), from all-zero weights (XW = 0, E = 1, Z = nc)
// or from where an earlier fit ended.
outcome fit(const problem &p, bool plain, double lambda1, double lambda2, double tol,
            double max_sweeps, unsigned seed = 1, const outcome *from = nullptr)
{
    outcome o;
    std::vector<int> nonzero(p.nd, 0);
    for (std::int32_t i = 0; i < p.nd; i++)
        for (std::int32_t k = 0; k < p.ns; k++)
            nonzero[i] += p.X[k + static_cast<size_t>(p.ns) * i] != 0;
    o.visits.nonzero = nonzero.data();
    o.W.assign(static_cast<size_t>(p.nd) * p.nc, 0.0);
    o.XW.assign(static_cast<size_t>(p.ns) * p.nc, 0.0);
    o.E.assign(static_cast<size_t>(p.ns) * p.nc, 1.0);
    o.Z.assign(p.ns, static_cast<double>(p.nc));
    if (from) {
        o.W = from->W;
        o.XW = from->XW;
        o.E = from->E;
        o.Z = from->Z;
    }
    console_capture(&o.text);
    console_reset_peak();
    std::srand(seed);
    const double t0 = cpu_seconds();
    if (plain)
        reference_approx(o.W.data(), p.X.data(), p.Y.data(), o.XW.data(), o.E.data(), o.Z.data(),
                     lambda1, lambda2, tol, max_sweeps, p.nd, p.ns, p.nc, p.nc, &o.visits);
    else
        dovex_approx(o.W.data(), p.X.data(), p.Y.data(), o.XW.data(), o.E.data(), o.Z.data(),
                     lambda1, lambda2, tol, max_sweeps, p.nd, p.ns, p.nc, p.nc);
    o.secs = (cpu_seconds() - t0);
    o.next_draw = std::rand();
    console_capture(nullptr);
    o.peak = console_peak_bytes();
    o.sweeps = static_cast<int>(std::count(o.text.begin(), o.text.end(), '\n'));
    o.visits.nonzero = nullptr;
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
// about a second and a half (at least two runs, at most 30): the machine is
// shared and the fastest run is the one least disturbed.
void time_pair(const problem &p, outcome &plain, outcome &fast)
{
    plain = fit(p, true);
    fast = fit(p, false);
    const int reps = std::clamp(static_cast<int>(1.5 / std::max(plain.secs, 1e-6)), 2, 30);
    for (int r = 1; r < reps; r++) {
        plain.secs = std::min(plain.secs, fit(p, true).secs);
        fast.secs = std::min(fast.secs, fit(p, false).secs);
    }
}

// --- the machine's own yardsticks -------------------------------------------

volatile double sink;

double ns_per_rand()
{
    const long n = 5000000;
    std::srand(12345);
    unsigned acc = 0;
    const double t0 = cpu_seconds();
    for (long i = 0; i < n; i++)
        acc ^= static_cast<unsigned>(std::rand());
    const double t = (cpu_seconds() - t0);
    sink = acc;
    return t / n * 1e9;
}

// Independent calls, as in the per-sample upkeep.
double ns_per_exp()
{
    std::vector<double> in(4096), out(4096);
    for (size_t k = 0; k < in.size(); k++)
        in[k] = -5.0 + 10.0 * static_cast<double>((k * 2654435761u) % 4096) / 4096.0;
    const int reps = 1000;
    const double t0 = cpu_seconds();
    for (int r = 0; r < reps; r++) {
        for (size_t k = 0; k < in.size(); k++)
            out[k] = std::exp(in[k]);
        sink = out[r % 4096];
    }
    return (cpu_seconds() - t0) / (reps * in.size()) * 1e9;
}

// A chain of additions, each waiting for the one before.
double ns_per_dependent_add()
{
    std::vector<double> v(4096);
    for (size_t k = 0; k < v.size(); k++)
        v[k] = 1e-3 * static_cast<double>(k % 7);
    const int reps = 1000;
    double s = 0.0;
    const double t0 = cpu_seconds();
    for (int r = 0; r < reps; r++)
        for (size_t k = 0; k < v.size(); k++)
            s = v[k] + s;
    const double t = (cpu_seconds() - t0);
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

// The per-visit and per-sweep targets, each on a problem built so that one
// kind of work dominates, stated as ratios to the yardsticks. Everything is
// measured five times, interleaved, and the fastest of each kept, so that a
// change in the machine's load hits all the figures alike.
void targets()
{
    // Outside the visits: the brain shape with a single informative feature
    // and all other columns zero. After 30 sweeps nearly every zero weight
    // has decayed out of the draws, so a further 100 sweeps cost the draws,
    // the sweep's bookkeeping and four small visits per sweep.
    problem quiet = gaussian_problem("quiet", 200, 20000, 4, 1, 0.6, 7);
    std::fill(quiet.X.begin() + quiet.ns, quiet.X.end(), 0.0);
    // Unchanged visits: the brain problem with a penalty that keeps every
    // weight at zero; its one sweep visits every pair once.
    const problem brain = bench_problem("brain");
    // Moving visits: no L1 penalty, so every weight moves in every sweep.
    const problem moving = gaussian_problem("moving", 2000, 50, 4, 50, 0.3, 8);
    const int moving_sweeps = 40;

    // Kept visits: the moving problem run until its weights settle; in the
    // sweeps after that most visits leave their non-zero weight as it is.
    const int kept_sweeps = 20;
    const outcome settled = fit(moving, false, 0.0, 500.0, -1.0, 400);
    const outcome after = fit(moving, false, 0.0, 500.0, -1.0, 1, 1, &settled);
    long n_kept = 0;
    for (size_t ij = 0; ij < settled.W.size(); ij++)
        n_kept += settled.W[ij] != 0 && std::memcmp(&settled.W[ij], &after.W[ij], 8) == 0;

    const double big = 1e300;
    double t_rand = big, t_exp = big, t_add = big;
    // Per version (0 fast, 1 plain): 30 and 130 quiet sweeps; the set-up and
    // one sweep of the brain problem; the set-up and the moving sweeps. A
    // limit of zero sweeps times the set-up alone, to be taken off.
    double t30[2] = {big, big}, t130[2] = {big, big}, setup[2] = {big, big}, one[2] = {big, big},
           setup_moving[2] = {big, big}, all_moving[2] = {big, big}, setup_kept[2] = {big, big},
           all_kept[2] = {big, big};
    for (int rep = 0; rep < 5; rep++) {
        t_rand = std::min(t_rand, ns_per_rand());
        t_exp = std::min(t_exp, ns_per_exp());
        t_add = std::min(t_add, ns_per_dependent_add());
        for (int plain = 0; plain < 2; plain++) {
            t30[plain] = std::min(t30[plain], fit(quiet, plain, 5.0, 0.5, -1.0, 30).secs);
            t130[plain] = std::min(t130[plain], fit(quiet, plain, 5.0, 0.5, -1.0, 130).secs);
            setup[plain] = std::min(setup[plain], fit(brain, plain, 1e9, 0.5, -1.0, 0).secs);
            one[plain] = std::min(one[plain], fit(brain, plain, 1e9, 0.5, -1.0, 1).secs);
            setup_moving[plain] =
                std::min(setup_moving[plain], fit(moving, plain, 0.0, 1.0, -1.0, 0).secs);
            all_moving[plain] = std::min(
                all_moving[plain], fit(moving, plain, 0.0, 1.0, -1.0, moving_sweeps).secs);
            setup_kept[plain] = std::min(
                setup_kept[plain], fit(moving, plain, 0.0, 500.0, -1.0, 0, 1, &settled).secs);
            all_kept[plain] =
                std::min(all_kept[plain],
                         fit(moving, plain, 0.0, 500.0, -1.0, kept_sweeps, 1, &settled).secs);
        }
    }

    const double pairs = static_cast<double>(quiet.nd) * quiet.nc;
    const double moving_pairs = static_cast<double>(moving_sweeps) * moving.nd * moving.nc;
    const double kept_pairs = static_cast<double>(kept_sweeps) * moving.nd * moving.nc;
    double out[2], unchanged[2], moved[2], kept[2];
    for (int plain = 0; plain < 2; plain++) {
        const double sweep = (t130[plain] - t30[plain]) / 100, per_pair = sweep / pairs;
        out[plain] = per_pair / (t_rand * 1e-9);
        unchanged[plain] = (one[plain] - setup[plain] - pairs * per_pair) /
                           (pairs * brain.ns) / (t_add * 1e-9);
        moved[plain] = (all_moving[plain] - setup_moving[plain] - moving_pairs * per_pair) /
                       (moving_pairs * moving.ns) / (t_exp * 1e-9);
        kept[plain] = (all_kept[plain] - setup_kept[plain] - kept_pairs * per_pair) /
                      (kept_pairs * moving.ns) / (t_add * 1e-9);
    }
    std::printf("\nYardsticks measured alongside: rand() %.2f ns, exp %.2f ns, dependent addition "
                "%.2f ns\n",
                t_rand, t_exp, t_add);
    std::printf("\n| per-unit cost | plain | fast | fast target |\n|---|---:|---:|---|\n");
    std::printf("| a sweep outside the visits, in nd x nc rand() calls | %.2f | %.2f | <= 1.25 |\n",
                out[1], out[0]);
    std::printf("| a visit leaving its weight at zero, per sample, in dependent additions | %.2f | "
                "%.2f | <= 2 |\n",
                unchanged[1], unchanged[0]);
    std::printf("| a visit leaving its non-zero weight as it is, per sample, in dependent "
                "additions | %.2f | %.2f | <= 2 |\n",
                kept[1], kept[0]);
    std::printf("| a visit moving its weight, per sample, in exp calls | %.2f | %.2f | <= 1.5 |\n",
                moved[1], moved[0]);
    std::printf("\nThe settled problem: %ld of its %zu weights non-zero and kept bit for bit by "
                "a further sweep.\n",
                n_kept, settled.W.size());
}

// --- a text-like problem, X sparse and X full ---------------------------------

// What one form of X costs on a text problem, measured in a process of its
// own so that the peak memory is that form's alone.
struct text_run {
    // Seconds: a fit of no sweep, to the end of sweep 1, per later sweep.
    double setup = 0, first = 0, later = 0;
    int later_sweeps = 0;
    double fit = 0; // the whole fit to its tol
    int fit_sweeps = 0;
    double x_bytes = 0, state_bytes = 0, scratch = 0, rss = 0;
    std::uint64_t w_hash = 0, text_hash = 0;
    int next_draw = 0;
    bool ok = false;
};

std::uint64_t fnv(const void *data, std::size_t n)
{
    std::uint64_t h = 1469598103934665603ULL;
    for (std::size_t b = 0; b < n; b++)
        h = (h ^ static_cast<const unsigned char *>(data)[b]) * 1099511628211ULL;
    return h;
}

// One fit of p, in the form it holds X, after srand(1) from zero weights;
// its processor time, and in *sweep_ends, when given, the time from its
// start to the end of each sweep.
double timed_fit(const problem &p, double tol, double max_sweeps, std::vector<double> &W,
                 std::string &text, int &next_draw, std::vector<double> *sweep_ends = nullptr)
{
    W.assign(static_cast<size_t>(p.nd) * p.nc, 0.0);
    std::vector<double> XW(static_cast<size_t>(p.ns) * p.nc, 0.0), E(XW.size(), 1.0),
        Z(p.ns, static_cast<double>(p.nc));
    text.clear();
    console_capture(&text);
    std::vector<double> marks;
    console_time_sweeps(&marks);
    std::srand(1);
    const double t0 = cpu_seconds();
    if (p.sparse())
        dovex_approx_sparse(W.data(), p.x_at.data(), p.x_rows.data(), p.x_values.data(),
                            p.Y.data(), XW.data(), E.data(), Z.data(), p.lambda1, p.lambda2, tol,
                            max_sweeps, p.nd, p.ns, p.nc, p.nc);
    else
        dovex_approx(W.data(), p.X.data(), p.Y.data(), XW.data(), E.data(), Z.data(), p.lambda1,
                     p.lambda2, tol, max_sweeps, p.nd, p.ns, p.nc, p.nc);
    const double secs = cpu_seconds() - t0;
    next_draw = std::rand();
    console_capture(nullptr);
    console_time_sweeps(nullptr);
    if (sweep_ends)
        for (double m : marks)
            sweep_ends->push_back(m - t0);
    return secs;
}

text_run measure_text_form(const std::string &name, bool full, int later_sweeps)
{
    problem p = bench_problem(name);
    const double nnz = static_cast<double>(p.x_values.size());
    if (full)
        p = full_problem(p);
    text_run r;
    r.x_bytes = full ? 8.0 * p.ns * p.nd : 4.0 * (p.nd + 1) + 12.0 * nnz;
    r.state_bytes = 8.0 * (3.0 * p.ns * p.nc + p.ns + static_cast<double>(p.nd) * p.nc);
    std::vector<double> W;
    std::string text;
    int next = 0;
    console_reset_peak();
    // A fit of no sweep (the set-up alone), then one whose sweeps are timed
    // at their ends: the set-up and the first sweep together, and the later
    // ones. (The set-up varies from fit to fit by more than a sweep costs
    // when X is full, so the first sweep is not given alone.)
    r.setup = timed_fit(p, -1.0, 0, W, text, next);
    std::vector<double> ends;
    timed_fit(p, -1.0, 1 + later_sweeps, W, text, next, &ends);
    r.first = ends[0];
    r.later_sweeps = later_sweeps;
    r.later = (ends[later_sweeps] - ends[0]) / later_sweeps;
    r.fit = timed_fit(p, p.tol, p.max_sweeps, W, text, next);
    r.scratch = static_cast<double>(console_peak_bytes());
    r.fit_sweeps = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    r.w_hash = fnv(W.data(), W.size() * sizeof(double));
    r.text_hash = fnv(text.data(), text.size());
    r.next_draw = next;
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    r.rss = 1024.0 * static_cast<double>(ru.ru_maxrss);
    r.ok = true;
    return r;
}

// measure_text_form in a child process; ok false if the child failed.
text_run in_child(const std::string &name, bool full, int later_sweeps)
{
    text_run r;
    int fd[2];
    if (pipe(fd) != 0)
        return r;
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fd[0]);
        const text_run c = measure_text_form(name, full, later_sweeps);
        const ssize_t n = write(fd[1], &c, sizeof c);
        _exit(n == static_cast<ssize_t>(sizeof c) ? 0 : 1);
    }
    close(fd[1]);
    const ssize_t n = pid > 0 ? read(fd[0], &r, sizeof r) : 0;
    close(fd[0]);
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
    if (n != static_cast<ssize_t>(sizeof r) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        r.ok = false;
    return r;
}

// The text problem with X sparse and, with_full, with X full: one line each,
// and whether the two gave the same bits.
bool text_comparison(const std::string &name, bool with_full)
{
    const problem p = bench_problem(name);
    const double nnz = static_cast<double>(p.x_values.size());
    std::printf("\n%s: %d documents x %d terms x %d classes, %.0f stored (%.3f %% of %.3g "
                "elements), lambda1 %.4g (0.05 lambda1_max), lambda2 %.4g, tol %g\n",
                name.c_str(), p.ns, p.nd, p.nc, nnz,
                100.0 * nnz / (static_cast<double>(p.ns) * p.nd),
                static_cast<double>(p.ns) * p.nd, p.lambda1, p.lambda2, p.tol);
    std::printf("\n| X | X MiB | Y, XW, E, Z, W MiB | core scratch MiB | process peak MiB | "
                "set-up s | set-up and sweep 1 s | later sweeps s/sweep | whole fit: sweeps, s "
                "|\n"
                "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    const int later = 20;
    text_run runs[2];
    for (int full = 0; full <= (with_full ? 1 : 0); full++) {
        const text_run &r = runs[full] = in_child(name, full, later);
        if (!r.ok) {
            std::printf("| %s | failed |\n", full ? "full" : "sparse");
            return false;
        }
        std::printf("| %s | %s | %s | %s | %s | %.3f | %.3f | %.4f (sweeps 2-%d) | %d, %.2f |\n",
                    full ? "full" : "sparse", mib(r.x_bytes).c_str(),
                    mib(r.state_bytes).c_str(), mib(r.scratch).c_str(), mib(r.rss).c_str(),
                    r.setup, r.first, r.later, 1 + later, r.fit_sweeps, r.fit);
        std::fflush(stdout);
    }
    if (!with_full)
        return true;
    const bool same = runs[0].w_hash == runs[1].w_hash && runs[0].text_hash == runs[1].text_hash &&
                      runs[0].next_draw == runs[1].next_draw;
    std::printf("\nW, the printed text and the draws of the whole fit the same bits sparse and "
                "full: %s\n",
                same ? "yes" : "NO");
    return same;
}

} // namespace

int main(int argc, char **argv)
{
    console_echo(false);
    std::vector<std::string> names = {"iris", "digits", "brain", "many", "targets"};
    if (argc > 1)
        names.assign(argv + 1, argv + argc);
    auto take = [&names](const char *special) {
        const bool asked = std::find(names.begin(), names.end(), special) != names.end();
        names.erase(std::remove(names.begin(), names.end(), special), names.end());
        return asked;
    };
    const bool with_targets = take("targets"), with_text = take("text"),
               with_text_large = take("text-large");
    // One fit of each problem by the core and nothing else, for counting its
    // instructions: valgrind --tool=callgrind --toggle-collect=dovex_approx.
    if (take("once")) {
        for (const std::string &name : names)
            std::printf("%s: %d sweeps\n", name.c_str(), fit(bench_problem(name), false).sweeps);
        return 0;
    }

    double t_rand = 1e300, t_exp = 1e300, t_add = 1e300;
    for (int rep = 0; rep < 5; rep++) {
        t_rand = std::min(t_rand, ns_per_rand());
        t_exp = std::min(t_exp, ns_per_exp());
        t_add = std::min(t_add, ns_per_dependent_add());
    }
    std::printf("Yardsticks: rand() %.2f ns, exp %.2f ns, dependent addition %.2f ns\n\n", t_rand,
                t_exp, t_add);

    bool all_same = true;
    if (!names.empty()) {
        std::printf("| problem | ns x nd x nc | lambda1, lambda2 | tol | sweeps | visited pairs "
                    "(left at zero) | plain s | fast s | speed-up | floor s | ceiling | plain "
                    "ns/(pair x sample) | fast ns/(pair x sample) | data MiB | scratch MiB, plain "
                    "/ fast | same bits |\n");
        std::printf("|---|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|"
                    "\n");
        double log_sum = 0;
        for (const std::string &name : names) {
            const problem p = bench_problem(name);
            outcome plain, fast;
            time_pair(p, plain, fast);
            const bool same = identical(plain, fast);
            all_same = all_same && same;
            const double speedup = plain.secs / fast.secs;
            log_sum += std::log(speedup);
            const double samples = static_cast<double>(plain.visits.all) * p.ns;
            // X and Y, the three working copies and W.
            const double data =
                8.0 * (static_cast<double>(p.ns) * (p.nd + p.nc) + 2.0 * p.ns * p.nc + p.ns +
                       static_cast<double>(p.nd) * p.nc);
            // What no implementation of the same arithmetic can avoid: the
            // draws and one exp per non-zero x in each visit that moves.
            const double floor = 1e-9 * (static_cast<double>(plain.sweeps) * p.nd * p.nc * t_rand +
                                         plain.visits.exp_needed * t_exp);
            std::printf("| %s | %d x %d x %d | %g, %g | %g | %d | %ld (%ld) | %.3f | %.3f | %.2fx "
                        "| %.3f | %.2fx | %.2f | %.2f | %s | %s / %s | %s |\n",
                        p.name.c_str(), p.ns, p.nd, p.nc, p.lambda1, p.lambda2, p.tol,
                        plain.sweeps, plain.visits.all, plain.visits.stayed_zero, plain.secs,
                        fast.secs, speedup, floor, plain.secs / floor, plain.secs / samples * 1e9,
                        fast.secs / samples * 1e9, mib(data).c_str(),
                        mib(static_cast<double>(plain.peak)).c_str(),
                        mib(static_cast<double>(fast.peak)).c_str(), same ? "yes" : "NO");
            std::fflush(stdout);
        }
        std::printf("\nGeometric mean speed-up: %.2fx over %zu problems; W, XW, E, Z, text and "
                    "draws bit-identical on all: %s\n",
                    std::exp(log_sum / static_cast<double>(names.size())), names.size(),
                    all_same ? "yes" : "NO");
    }
    if (with_targets)
        targets();
    if (with_text)
        all_same = text_comparison("text", true) && all_same;
    if (with_text_large)
        all_same = text_comparison("text-large", false) && all_same;
    return all_same ? 0 : 1;
}
