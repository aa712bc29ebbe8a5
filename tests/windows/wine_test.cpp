// The Windows modules, dovex_fit.mexw64 or dovex_fit.mexw32 and dovex_solve's
// (this program is built once for each architecture), run for real:
// wine_calls.exe loads them through the stand-in libmx.dll and libmex.dll
// under wine and makes every call below in one process (wine takes seconds
// to start), then these tests judge what it printed against the Linux
// modules dovex_fit.mexa64 and dovex_solve.mexa64, called in this process
// through the Linux stand-in host, and dovex_solve's identity against the
// same build's dovex_fit.
//
// The builds share all arithmetic but exp, which each takes from its own
// runtime, and draw from their runtimes' rand(): msvcrt's on Windows, whose
// RAND_MAX is 32767. The first sweep visits every pair whatever the
// draws, so there the builds agree but for exp's last bits; later sweeps
// follow msvcrt's generator, which the tests predict from its published
// recurrence by feeding the same sequence to the Linux module.
#include "data.h"
#include "loader.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

static_assert(RAND_MAX == 2147483647, "the Linux side must run on glibc's rand()");

// ------------------------------------------------------- the generators --

namespace {

// msvcrt's rand(): x = x * 214013 + 2531011, the draw is bits 16..30.
struct msvcrt_gen {
    std::uint32_t x;
    int next()
    {
        x = x * 214013u + 2531011u;
        return static_cast<int>((x >> 16) & 0x7fff);
    }
};
const int msvcrt_rand_max = 32767;

// A draw of msvcrt's scaled to glibc's RAND_MAX, rounded to nearest.
int scaled(int r)
{
    return static_cast<int>((static_cast<std::int64_t>(r) * RAND_MAX + msvcrt_rand_max / 2) /
                            msvcrt_rand_max);
}

// What rand() gives the Linux module: glibc's own, or msvcrt's sequence.
struct rand_source {
    bool msvcrt = false;
    msvcrt_gen gen{0};
    long draws = 0; // msvcrt draws handed out
} source;

// Seeds the generator the Linux module is about to draw from.
void seed_glibc(unsigned seed)
{
    source.msvcrt = false;
    std::srand(seed);
}

void seed_msvcrt(unsigned seed)
{
    source.msvcrt = true;
    source.gen.x = seed;
    source.draws = 0;
}

// The first n draws of msvcrt's generator after srand(seed).
std::vector<int> msvcrt_draws(unsigned seed, int n)
{
    msvcrt_gen g{seed};
    std::vector<int> v;
    for (int i = 0; i < n; i++)
        v.push_back(g.next());
    return v;
}

} // namespace

// Exported from this program, so the Linux module's rand() binds here.
extern "C" int rand(void)
{
    if (source.msvcrt) {
        source.draws++;
        return scaled(source.gen.next());
    }
    using rand_fn = int (*)(void);
    static const rand_fn glibc_rand = reinterpret_cast<rand_fn>(dlsym(RTLD_NEXT, "rand"));
    return glibc_rand();
}

// ------------------------------------------------------------- the calls --

namespace {

// A double matrix; or, as wine_calls' call files have it (rows -1, -2, -3),
// a struct of the fields named, a char row or a logical scalar (cols).
struct matrix {
    matrix(std::int32_t r = 0, std::int32_t c = 0, std::vector<double> values = {},
           std::string t = {})
        : rows(r), cols(c), v(std::move(values)), text(std::move(t))
    {
    }
    std::int32_t rows, cols;
    std::vector<double> v;
    std::string text;
    std::vector<std::string> names;
    std::vector<matrix> fields;
};

struct call_args {
    std::uint32_t seed;
    std::int32_t nlhs;
    std::vector<matrix> in;
    bool solve = false; // a dovex_solve call, not dovex_fit
};

// What a call did, on either platform.
struct outcome {
    bool failed = false;
    std::string id, message, out;
    std::size_t evals = 0, left_blocks = 0, bad_frees = 0, arrays_left = 0;
    int next_draw = -1;  // rand() right after the call
    unsigned x87_cw = 0; // Windows only
    unsigned mxcsr = 0;  // Windows only, without the exception flags
    bool seed_failed = false; // the seeding module's call, before a seeded call
    std::string seed_message;
    std::vector<matrix> outputs;
    std::string structs; // struct outputs as wine_calls prints them
    std::map<std::string, matrix> fields; // their double fields, by SLOT.NAME
};

matrix scalar(double v)
{
    return {1, 1, {v}};
}

// The digits fit: pixel values scaled to [0, 1], from the all-zero start.
// The L1 weight leaves part of W zero after the first sweep, so the draws
// decide which zero weights later sweeps visit.
const double fit_lambda1 = 2.0, fit_lambda2 = 0.5, fit_tol = 1e-9;
const int fit_sweeps = 6;
const unsigned fit_seed = 20240;

call_args digits_fit(double max_sweeps)
{
    dataset d = load_dataset("digits");
    for (double &x : d.X)
        x /= 16.0;
    const std::size_t n = static_cast<std::size_t>(d.ns) * d.nc;
    return {fit_seed,
            1,
            {{d.ns, d.nd, d.X},
             {d.ns, d.nc, d.Y},
             {d.ns, d.nc, std::vector<double>(n, 0.0)},
             {d.ns, d.nc, std::vector<double>(n, 1.0)},
             {d.ns, 1, std::vector<double>(d.ns, static_cast<double>(d.nc))},
             scalar(fit_lambda1),
             scalar(fit_lambda2),
             scalar(fit_tol),
             scalar(max_sweeps)}};
}

// dovex_solve on the digits fit: from W0 = 0 with no opts, or weighted and
// factored (a factor of 0 among them), by the newton method, silent.
call_args digits_solve(double max_sweeps, bool weighted)
{
    call_args c = digits_fit(max_sweeps);
    c.solve = true;
    c.nlhs = 2;
    const std::int32_t nd = c.in[0].cols, ns = c.in[0].rows;
    c.in.insert(c.in.begin() + 2, {nd, c.in[2].cols, std::vector<double>(nd * c.in[2].cols, 0.0)});
    if (!weighted)
        return c;
    matrix penalty{nd, 1, {}}, weights{ns, 1, {}};
    for (std::int32_t i = 0; i < nd; i++)
        penalty.v.push_back((i % 4) * 0.5);
    for (std::int32_t k = 0; k < ns; k++)
        weights.v.push_back(1 + (k % 3) * 0.5);
    matrix opts{-1, 4, {}};
    opts.names = {"penalty", "weights", "method", "display"};
    opts.fields = {penalty, weights, {-2, 6, {}, "newton"}, {-3, 0, {}}};
    c.in.push_back(opts);
    return c;
}

call_args counts(std::int32_t nlhs, std::size_t nrhs)
{
    return {5, nlhs, std::vector<matrix>(nrhs, scalar(0.0))};
}

// Nine inputs, Y one row short of X: refused by the gateway's checks with a
// formatted message, which crosses the DLL boundary through varargs.
call_args short_y()
{
    call_args c{5, 1, {}};
    c.in = {{3, 2, std::vector<double>(6, 1.0)},
            {2, 2, std::vector<double>(4, 0.0)},
            {3, 2, std::vector<double>(6, 0.0)},
            {3, 2, std::vector<double>(6, 1.0)},
            {3, 1, std::vector<double>(3, 2.0)},
            scalar(1),
            scalar(0.1),
            scalar(1e-4),
            scalar(3)};
    return c;
}

const std::map<std::string, call_args> &calls()
{
    static const std::map<std::string, call_args> c = {
        {"no_inputs", counts(1, 0)},    {"eight_inputs", counts(1, 8)},
        {"ten_inputs", counts(1, 10)},  {"no_output", counts(0, 9)},
        {"two_outputs", counts(2, 9)},  {"short_y", short_y()},
        {"first_sweep", digits_fit(1)}, {"sweeps", digits_fit(fit_sweeps)},
        {"solve_identity", digits_solve(fit_sweeps, false)},
        {"solve_weighted_first_sweep", digits_solve(1, true)},
        {"solve_weighted_sweeps", digits_solve(fit_sweeps, true)},
    };
    return c;
}

const unsigned draw_seeds[] = {1, 20240};
const int draw_count = 12;

mex_module *open_linux(const char *path)
{
    char err[512] = "";
    mex_module *m = mex_open(path, err, sizeof err);
    if (!m)
        ADD_FAILURE() << err;
    return m;
}

mxArray *to_array(const matrix &m)
{
    if (m.rows == -1) {
        std::vector<const char *> names;
        std::vector<mxArray *> values;
        for (std::size_t k = 0; k < m.fields.size(); k++) {
            names.push_back(m.names[k].c_str());
            values.push_back(to_array(m.fields[k]));
        }
        return mex_struct(names.size(), names.data(), values.data());
    }
    if (m.rows == -2)
        return mxCreateString(m.text.c_str());
    if (m.rows == -3)
        return mxCreateLogicalScalar(m.cols != 0);
    return mex_matrix(m.rows, m.cols, m.v.data());
}

matrix doubles_of(const mxArray *a)
{
    const double *p = mxGetPr(a);
    return {static_cast<std::int32_t>(mxGetM(a)), static_cast<std::int32_t>(mxGetN(a)),
            std::vector<double>(p, p + mxGetNumberOfElements(a))};
}

// The same call through the Linux module, with rand() as set up by the
// caller.
outcome call_linux(const call_args &c)
{
    static mex_module *fit = open_linux(DOVEX_MODULE_LINUX);
    static mex_module *solve = open_linux(DOVEX_SOLVE_MODULE_LINUX);
    mex_module *module = c.solve ? solve : fit;
    outcome r;
    if (!module)
        return r;
    std::vector<mxArray *> in;
    for (const matrix &m : c.in)
        in.push_back(to_array(m));
    std::vector<mxArray *> out(c.nlhs > 1 ? c.nlhs : 1);
    standin_outcome o;
    mex_call(module, c.nlhs, out.data(), static_cast<int>(in.size()),
             const_cast<const mxArray **>(in.data()), &o);
    r.failed = o.failed != 0;
    r.id = o.id;
    r.message = o.message;
    r.out = standin_output();
    r.evals = standin_eval_count();
    r.left_blocks = o.left_blocks;
    r.bad_frees = o.bad_frees;
    r.arrays_left = o.arrays_left;
    for (std::size_t i = 0; i < out.size(); i++) {
        mxArray *a = out[i];
        if (a && mxIsStruct(a)) {
            for (int k = 0; k < mxGetNumberOfFields(a); k++)
                if (const mxArray *f = mxGetFieldByNumber(a, 0, k); f && mxIsDouble(f))
                    r.fields[std::to_string(i + 1) + "." + mxGetFieldNameByNumber(a, k)] =
                        doubles_of(f);
        } else if (a) {
            r.outputs.push_back(doubles_of(a));
        }
        mxDestroyArray(a);
    }
    for (mxArray *a : in)
        mxDestroyArray(a);
    return r;
}

// ------------------------------------------------------------- the wine run --

std::string windows_path(const fs::path &p)
{
    std::string s = "Z:" + fs::absolute(p).string();
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::string quoted(const std::string &s)
{
    std::string q = "'";
    for (char ch : s)
        q += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return q + "'";
}

void write_input(std::ofstream &f, const matrix &m)
{
    auto put = [&f](const void *p, std::size_t n) { f.write(static_cast<const char *>(p), n); };
    put(&m.rows, 4);
    put(&m.cols, 4);
    put(m.v.data(), m.v.size() * sizeof(double));
    put(m.text.data(), m.text.size());
    for (std::size_t k = 0; k < m.fields.size(); k++) {
        const std::int32_t n = static_cast<std::int32_t>(m.names[k].size());
        put(&n, 4);
        put(m.names[k].data(), m.names[k].size());
        write_input(f, m.fields[k]);
    }
}

void write_call(const fs::path &file, const call_args &c)
{
    std::ofstream f(file, std::ios::binary);
    const std::int32_t head[3] = {static_cast<std::int32_t>(c.seed), c.nlhs,
                                  static_cast<std::int32_t>(c.in.size())};
    f.write(reinterpret_cast<const char *>(head), sizeof head);
    for (const matrix &m : c.in)
        write_input(f, m);
}

std::string unescaped(const std::string &s)
{
    std::string u;
    for (std::size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            u += s[i + 1] == 'n' ? '\n' : s[i + 1];
            i++;
        } else {
            u += s[i];
        }
    }
    return u;
}

double from_bits(const std::string &hex)
{
    const std::uint64_t u = std::stoull(hex, nullptr, 16);
    double v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

// What wine_calls printed, one entry per case: "draws:SEED:N" or the name
// of a call.
struct wine_results {
    std::string error; // why the run gave nothing, if it did not
    std::map<std::string, outcome> calls;
    std::map<std::string, std::vector<int>> draws;
    std::map<std::string, int> rand_max;
};

std::string read_file(const fs::path &p)
{
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void parse(const std::string &text, wine_results &w)
{
    std::istringstream in(text);
    std::string line, name;
    outcome o;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') // the console's line ends
            line.pop_back();
        const std::size_t sp = line.find(' ');
        const std::string key = line.substr(0, sp);
        const std::string val = sp == std::string::npos ? "" : line.substr(sp + 1);
        std::istringstream v(val);
        if (key == "case") {
            // A call is known by its file name: "call:Z:\...\NAME.bin" and
            // "seeded:S:Z:\...\NAME.bin" are NAME.
            name = val;
            if (name.rfind("call:", 0) == 0 || name.rfind("seeded:", 0) == 0)
                name = fs::path(name.substr(name.find_last_of('\\') + 1)).stem().string();
            else if (name.rfind("probe:", 0) == 0)
                name = "probe";
            o = outcome{};
        } else if (key == "values") {
            for (int x; v >> x;)
                w.draws[name].push_back(x);
        } else if (key == "rand_max") {
            v >> w.rand_max[name];
        } else if (key == "failed") {
            o.failed = val == "1";
        } else if (key == "id") {
            o.id = unescaped(val);
        } else if (key == "message") {
            o.message = unescaped(val);
        } else if (key == "out") {
            o.out = unescaped(val);
        } else if (key == "evals") {
            v >> o.evals;
        } else if (key == "left_blocks") {
            v >> o.left_blocks;
        } else if (key == "bad_frees") {
            v >> o.bad_frees;
        } else if (key == "arrays_left") {
            v >> o.arrays_left;
        } else if (key == "next_draw") {
            v >> o.next_draw;
        } else if (key == "x87_cw") {
            v >> std::hex >> o.x87_cw;
        } else if (key == "mxcsr") {
            v >> std::hex >> o.mxcsr;
        } else if (key == "seed_failed") {
            o.seed_failed = val == "1";
        } else if (key == "seed_message") {
            o.seed_message = unescaped(val);
        } else if (key == "output") {
            std::size_t slot;
            matrix m{0, 0, {}};
            v >> slot >> m.rows >> m.cols;
            for (std::string h; v >> h;)
                m.v.push_back(from_bits(h));
            o.outputs.push_back(m);
        } else if (key == "struct") {
            o.structs += val + "\n";
        } else if (key == "field") {
            std::string at;
            matrix m{0, 0, {}};
            v >> at >> m.rows >> m.cols;
            for (std::string h; v >> h;)
                m.v.push_back(from_bits(h));
            o.fields[at] = m;
        } else if (key == "error") {
            w.error += name + ": " + val + "\n";
        } else if (key == "end" && name.rfind("draws:", 0) != 0 &&
                   name.rfind("seeder:", 0) != 0 && name.rfind("module:", 0) != 0) {
            w.calls[name] = o;
        }
    }
}

// Runs wine_calls once with every call, through the wine runner the other
// wine tests use (a prefix of its own, a time limit, a fresh try when wine
// itself fails), in a temporary folder that is removed afterwards.
wine_results run_wine()
{
    wine_results w;
    char tmpl[] = "/tmp/dovex-wine-calls-XXXXXX";
    const char *made = mkdtemp(tmpl);
    if (!made) {
        w.error = "cannot make a temporary folder";
        return w;
    }
    const fs::path dir = made;
    std::string args = quoted(windows_path(DOVEX_MODULE_WINDOWS));
    for (unsigned seed : draw_seeds)
        args += " draws:" + std::to_string(seed) + ":" + std::to_string(draw_count);
    // dovex_fit's calls, then dovex_solve's.
    for (bool solve : {false, true}) {
        if (solve)
            args += " " + quoted("module:" + windows_path(DOVEX_SOLVE_MODULE_WINDOWS));
        for (const auto &[name, c] : calls()) {
            if (c.solve != solve)
                continue;
            const fs::path file = dir / (name + ".bin");
            write_call(file, c);
            args += " " + quoted("call:" + windows_path(file));
        }
    }
    args += " " + quoted("module:" + windows_path(DOVEX_MODULE_WINDOWS));
#ifdef DOVEX_SEED_MODULE_WINDOWS
    // The sweeps call twice more, each after dovex_seed(fit_seed) in place
    // of wine_calls' own srand(fit_seed).
    args += " " + quoted("seeder:" + windows_path(DOVEX_SEED_MODULE_WINDOWS));
    for (const char *name : {"seeded_first", "seeded_again"}) {
        const fs::path file = dir / (std::string(name) + ".bin");
        write_call(file, calls().at("sweeps"));
        args += " " + quoted("seeded:" + std::to_string(fit_seed) + ":" + windows_path(file));
    }
#endif
    args += " " + quoted("probe:" + windows_path(DOVEX_PROBE_MODULE_WINDOWS));

    const std::string run = "bash " + quoted(WINE_RUN) + " " WINE_ARCH " " + quoted(WINE_CALLS) +
                            " " + args + " >" + quoted((dir / "out.txt").string()) + " 2>" +
                            quoted((dir / "err.txt").string());
    const int status = std::system(run.c_str());
    parse(read_file(dir / "out.txt"), w);
    if (status != 0)
        w.error += "wine_calls under wine exited with status " + std::to_string(status) +
                   "; its error output:\n" + read_file(dir / "err.txt");
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return w;
}

const wine_results &wine()
{
    static const wine_results w = run_wine();
    return w;
}

// The Windows outcome of a call, failing the test when there is none.
const outcome *on_windows(const std::string &name)
{
    const wine_results &w = wine();
    EXPECT_EQ(w.error, "");
    const auto it = w.calls.find(name);
    if (it == w.calls.end()) {
        ADD_FAILURE() << "no result for " << name << " from the wine run";
        return nullptr;
    }
    return &it->second;
}

// -------------------------------------------------------- comparing W --

double max_abs(const std::vector<double> &v)
{
    double m = 0;
    for (double x : v)
        m = std::max(m, std::fabs(x));
    return m;
}

struct w_diff {
    std::size_t differ = 0; // weights whose bits differ
    double max_rel = 0;     // largest |a - b| over the largest |b|
    double max_own = 0;     // largest |a - b| over |b|, for b non-zero
};

w_diff compare(const std::vector<double> &a, const std::vector<double> &b)
{
    w_diff d;
    const double scale = max_abs(b);
    for (std::size_t k = 0; k < a.size() && k < b.size(); k++) {
        d.differ += std::memcmp(&a[k], &b[k], sizeof(double)) != 0;
        d.max_rel = std::max(d.max_rel, std::fabs(a[k] - b[k]) / scale);
        if (b[k] != 0)
            d.max_own = std::max(d.max_own, std::fabs(a[k] - b[k]) / std::fabs(b[k]));
    }
    return d;
}

// Weights that differ by more than the rounding allowance.
std::vector<std::size_t> apart(const std::vector<double> &a, const std::vector<double> &b,
                               double rel)
{
    std::vector<std::size_t> k;
    const double scale = max_abs(b);
    for (std::size_t i = 0; i < a.size(); i++)
        if (!(std::fabs(a[i] - b[i]) <= rel * scale))
            k.push_back(i);
    return k;
}

// The runtimes' exp differ in the last bit on a few arguments, and the soft
// threshold can magnify that on small weights: compare against the largest.
const double rounding_allowance = 1e-12;

std::size_t zeros(const std::vector<double> &v)
{
    return static_cast<std::size_t>(std::count(v.begin(), v.end(), 0.0));
}

} // namespace

// ------------------------------------------------------------------ tests --

TEST(MsvcrtRand, WinesRuntimeFollowsThePublishedRecurrence)
{
    const wine_results &w = wine();
    EXPECT_EQ(w.error, "");
    for (unsigned seed : draw_seeds) {
        const std::string key = "draws:" + std::to_string(seed) + ":" + std::to_string(draw_count);
        EXPECT_EQ(w.draws.count(key) ? w.draws.at(key) : std::vector<int>(),
                  msvcrt_draws(seed, draw_count))
            << key;
        EXPECT_EQ(w.rand_max.count(key) ? w.rand_max.at(key) : 0, msvcrt_rand_max);
    }
    // Known values: srand(1) starts 41, 18467, 6334.
    EXPECT_EQ(std::vector<int>(msvcrt_draws(1, 3)), (std::vector<int>{41, 18467, 6334}));
}

TEST(MsvcrtRand, ScaledDrawsDecideEveryVisitAsTheOriginals)
{
    // Every visiting probability a fit can reach: 1.0 times 0.3, n times.
    std::vector<double> probs{1.0};
    while (probs.back() != 0.0)
        probs.push_back(probs.back() * 0.3);
    ASSERT_EQ(probs.size(), 620u);
    long mismatches = 0;
    for (int r = 0; r <= msvcrt_rand_max; r++) {
        const double ms = static_cast<double>(r) / msvcrt_rand_max;
        const double lin = static_cast<double>(scaled(r)) / RAND_MAX;
        for (double p : probs)
            mismatches += (p >= ms) != (p >= lin);
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(scaled(0), 0);
    EXPECT_EQ(scaled(msvcrt_rand_max), RAND_MAX);
}

TEST(WineCalls, NoInputsReturnsSilently)
{
    const outcome *o = on_windows("no_inputs");
    ASSERT_NE(o, nullptr);
    EXPECT_FALSE(o->failed) << o->message;
    EXPECT_EQ(o->out, "");
    EXPECT_EQ(o->evals, 0u);
    EXPECT_TRUE(o->outputs.empty());
    EXPECT_EQ(o->next_draw, msvcrt_draws(5, 1)[0]) << "no draw was made";
}

TEST(WineCalls, WrongArgumentCountsPrintUsageThenRaise)
{
    for (const char *name : {"eight_inputs", "ten_inputs", "no_output", "two_outputs"}) {
        SCOPED_TRACE(name);
        const outcome *o = on_windows(name);
        ASSERT_NE(o, nullptr);
        EXPECT_TRUE(o->failed);
        EXPECT_EQ(o->id, "");
        EXPECT_EQ(o->message, "Incorrect number of arguments.");
        EXPECT_EQ(o->out, "Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n");
        EXPECT_TRUE(o->outputs.empty());
        EXPECT_EQ(o->left_blocks, 0u);
        EXPECT_EQ(o->arrays_left, 0u);
        EXPECT_EQ(o->next_draw, msvcrt_draws(5, 1)[0]) << "no draw was made";
    }
}

TEST(WineCalls, FormattedInputErrorsReadAsOnLinux)
{
    const outcome *o = on_windows("short_y");
    ASSERT_NE(o, nullptr);
    seed_glibc(5);
    const outcome lin = call_linux(calls().at("short_y"));
    ASSERT_TRUE(lin.failed);
    EXPECT_TRUE(o->failed);
    EXPECT_EQ(o->id, lin.id);
    EXPECT_EQ(o->message, lin.message);
    EXPECT_EQ(o->out, lin.out);
    EXPECT_TRUE(o->outputs.empty());
    EXPECT_EQ(o->left_blocks, 0u);
}

// The host's struct, logical and char functions, called by a module through
// libmx.dll's import library: host_probe reads an options struct built by
// wine_calls and returns a struct of arrays it made, which wine_calls reads
// back and destroys.
TEST(WineCalls, StructsLogicalsAndTextCrossTheDlls)
{
    const outcome *o = on_windows("probe");
    ASSERT_NE(o, nullptr);
    EXPECT_FALSE(o->failed) << o->message;
    ASSERT_EQ(o->outputs.size(), 1u);
    EXPECT_EQ(o->outputs[0].v, std::vector<double>(6, 1.0)) << "a 0 is a reading gone wrong";
    EXPECT_EQ(o->structs, "2 sweeps:double:1x1 diffs:double:3x1 converged:logical:1x1 "
                          "method:char:1x5:fista\n");
    EXPECT_EQ(o->arrays_left, 0u) << "the returned struct holds every array made";
    EXPECT_EQ(o->left_blocks, 0u);
    EXPECT_EQ(o->bad_frees, 0u);
}

// dovex_fit's fit and dovex_solve's weighted, factored one by the newton
// method, which prints nothing: what each prints, and the record it gives.
struct fit_case {
    const char *name;
    std::string text; // the first sweep's progress line
    bool solve;
};
const fit_case first_sweeps[] = {{"first_sweep", "sweep : 1, diff : 1.0000\n", false},
                                 {"solve_weighted_first_sweep", "", true}};
const fit_case later_sweeps[] = {{"sweeps", "", false}, {"solve_weighted_sweeps", "", true}};

// info of a dovex_solve call: sweeps and visits as the prediction's.
void expect_record(const outcome &o, const outcome &expected, int sweeps)
{
    EXPECT_EQ(o.structs, "2 sweeps:double:1x1 diffs:double:" + std::to_string(sweeps) +
                             "x1 visits:double:" + std::to_string(sweeps) +
                             "x1 converged:logical:1x1\n");
    for (const char *f : {"2.sweeps", "2.visits"}) {
        ASSERT_TRUE(o.fields.count(f) && expected.fields.count(f)) << f;
        EXPECT_EQ(o.fields.at(f).v, expected.fields.at(f).v) << f;
    }
    EXPECT_EQ(o.arrays_left, 0u);
}

TEST(WineFit, FirstSweepMatchesTheLinuxBuild)
{
    for (const fit_case &fc : first_sweeps) {
        SCOPED_TRACE(fc.name);
        const outcome *o = on_windows(fc.name);
        ASSERT_NE(o, nullptr);
        const call_args &c = calls().at(fc.name);
        seed_glibc(c.seed);
        const outcome lin = call_linux(c);
        ASSERT_FALSE(lin.failed) << lin.message;
        ASSERT_FALSE(o->failed) << o->message;
        ASSERT_EQ(o->outputs.size(), 1u);
        const matrix &W = o->outputs[0], &Wl = lin.outputs.at(0);
        ASSERT_EQ(W.rows, Wl.rows);
        ASSERT_EQ(W.cols, Wl.cols);
        ASSERT_GT(zeros(Wl.v), 0u) << "the fit must leave zero weights for the draws to matter";
        ASSERT_LT(zeros(Wl.v), Wl.v.size());

        EXPECT_EQ(o->mxcsr, 0x1f80u) << "SSE arithmetic rounds to nearest, exceptions masked";
        if (std::string(WINE_ARCH) == "win32") {
            EXPECT_EQ(o->x87_cw, 0x027fu) << "the loader runs the module at 53-bit x87 precision";
        }
        EXPECT_EQ(apart(W.v, Wl.v, rounding_allowance), std::vector<std::size_t>());
        EXPECT_EQ(o->out, lin.out);
        EXPECT_EQ(o->out, fc.text);
        EXPECT_EQ(o->evals, fc.text.empty() ? 0u : 1u);
        EXPECT_EQ(o->left_blocks, 0u);
        EXPECT_EQ(o->bad_frees, 0u);
        // One draw per pair, from the generator msvcrt shares with the host.
        const int pairs = W.rows * W.cols;
        EXPECT_EQ(o->next_draw, msvcrt_draws(c.seed, pairs + 1).back());
        if (fc.solve) {
            expect_record(*o, lin, 1);
            EXPECT_EQ(o->fields.count("2.visits") ? o->fields.at("2.visits").v[0] : 0, pairs);
        }

        const w_diff d = compare(W.v, Wl.v);
        std::printf(WINE_ARCH " %s, Windows against Linux: %zu of %zu weights (%zu zero on "
                    "Linux) differ in their bits; largest difference %.3g of the largest weight, "
                    "%.3g of the weight itself\n",
                    fc.name, d.differ, W.v.size(), zeros(Wl.v), d.max_rel, d.max_own);
        RecordProperty(std::string(fc.name) + "_weights_differing", static_cast<int>(d.differ));
        RecordProperty(std::string(fc.name) + "_max_relative_difference",
                       std::to_string(d.max_rel));
    }
}

TEST(WineFit, LaterSweepsFollowMsvcrtsDraws)
{
    for (const fit_case &fc : later_sweeps) {
        SCOPED_TRACE(fc.name);
        const outcome *o = on_windows(fc.name);
        ASSERT_NE(o, nullptr);
        ASSERT_FALSE(o->failed) << o->message;
        ASSERT_EQ(o->outputs.size(), 1u);
        const call_args &c = calls().at(fc.name);
        const matrix &W = o->outputs[0];
        const int pairs = W.rows * W.cols;

        // The prediction: the Linux module drawing msvcrt's sequence.
        seed_msvcrt(c.seed);
        const outcome pred = call_linux(c);
        source.msvcrt = false;
        ASSERT_FALSE(pred.failed) << pred.message;
        ASSERT_EQ(source.draws, static_cast<long>(pairs) * fit_sweeps)
            << "the Linux module drew from this program's rand()";
        // And the Linux build as it runs, on glibc's generator.
        seed_glibc(c.seed);
        const outcome lin = call_linux(c);
        ASSERT_FALSE(lin.failed) << lin.message;

        const std::vector<double> &Wp = pred.outputs.at(0).v, &Wl = lin.outputs.at(0).v;
        EXPECT_EQ(apart(W.v, Wp, rounding_allowance), std::vector<std::size_t>());
        EXPECT_EQ(o->out, pred.out);
        EXPECT_EQ(o->evals, fc.solve ? 0u : static_cast<std::size_t>(fit_sweeps));
        EXPECT_EQ(o->next_draw, msvcrt_draws(c.seed, pairs * fit_sweeps + 1).back());
        if (fc.solve)
            expect_record(*o, pred, fit_sweeps);

        // Where the draws make the builds part, Windows parts from Linux, and
        // nowhere else.
        const std::vector<std::size_t> predicted = apart(Wp, Wl, rounding_allowance);
        EXPECT_FALSE(predicted.empty()) << "the two generators lead to the same W here";
        EXPECT_EQ(apart(W.v, Wl, rounding_allowance), predicted);

        const w_diff dp = compare(W.v, Wp);
        std::printf(WINE_ARCH " %s, %d sweeps: Windows against the msvcrt prediction: %zu of %zu "
                    "weights differ in their bits, largest difference %.3g of the largest weight; "
                    "against the Linux build on glibc's draws: %zu weights apart\n",
                    fc.name, fit_sweeps, dp.differ, W.v.size(), dp.max_rel, predicted.size());
        RecordProperty(std::string(fc.name) + "_weights_apart_from_linux",
                       static_cast<int>(predicted.size()));
        RecordProperty(std::string(fc.name) + "_max_relative_difference_from_prediction",
                       std::to_string(dp.max_rel));
    }
}

// dovex_solve from W0 = 0 with no opts is dovex_fit on the same build: the
// same bits, text and draws.
TEST(WineSolve, IdentityGivesDovexFitsBitsTextAndDraws)
{
    const outcome *o = on_windows("solve_identity"), *fit = on_windows("sweeps");
    ASSERT_NE(o, nullptr);
    ASSERT_NE(fit, nullptr);
    ASSERT_FALSE(o->failed) << o->message;
    ASSERT_EQ(o->outputs.size(), 1u);
    ASSERT_EQ(fit->outputs.size(), 1u);
    const std::vector<double> &W = o->outputs[0].v, &Wf = fit->outputs[0].v;
    ASSERT_EQ(W.size(), Wf.size());
    EXPECT_EQ(std::memcmp(W.data(), Wf.data(), W.size() * sizeof(double)), 0)
        << "W differs from dovex_fit's";
    EXPECT_EQ(o->out, fit->out);
    EXPECT_EQ(o->evals, fit->evals);
    EXPECT_EQ(o->next_draw, fit->next_draw);
    EXPECT_EQ(o->left_blocks, 0u);
    seed_msvcrt(calls().at("solve_identity").seed);
    const outcome pred = call_linux(calls().at("solve_identity"));
    source.msvcrt = false;
    expect_record(*o, pred, fit_sweeps);
}

#ifdef DOVEX_SEED_MODULE_WINDOWS
TEST(WineSeed, SeededFitsGiveTheSameBitsTwice)
{
    // dovex_seed(s) seeds the C runtime the fit draws from: the fit after it
    // is the fit after srand(s), bit for bit, however many draws came
    // before.
    const outcome *first = on_windows("seeded_first"), *again = on_windows("seeded_again");
    const outcome *plain = on_windows("sweeps");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(again, nullptr);
    ASSERT_NE(plain, nullptr);
    for (const outcome *o : {first, again}) {
        EXPECT_FALSE(o->seed_failed) << o->seed_message;
        ASSERT_FALSE(o->failed) << o->message;
        ASSERT_EQ(o->outputs.size(), 1u);
        ASSERT_EQ(o->outputs[0].v.size(), plain->outputs.at(0).v.size());
        EXPECT_EQ(std::memcmp(o->outputs[0].v.data(), plain->outputs.at(0).v.data(),
                              o->outputs[0].v.size() * sizeof(double)),
                  0)
            << "W differs from the fit after srand(" << fit_seed << ")";
        EXPECT_EQ(o->out, plain->out);
        EXPECT_EQ(o->next_draw, plain->next_draw);
    }
}
#endif
