// The optimised core against the plain reference implementation, bit for bit:
// W, XW, E, Z, the printed text, the rand() draws, the work arrays the host
// sees and the visiting probabilities and bounds they end with, over many
// seeded random problems built to reach every shortcut and every reason to
// refuse one (zero and mostly-zero columns, signed zeros, NaN and
// infinities, predictors that overflow or underflow exp, starting states
// whose E is not exactly exp(XW), ny > nc, no samples, no features). Every
// problem is fitted twice by the core: with X full, and with X in
// compressed columns, as a sparse matrix holds it (stored zeros included),
// which must give the bits of the full call. dovex_solve is held to the
// reference too: with its default options on every problem (the identity
// with dovex_approx), and with random penalty factors, sample weights, the
// quarter curvature and silent sweeps on problems of their own, its record
// of the sweeps included, and its block method with all of these.
#include "data.h"
#include "dovex.h"
#include "host.h"
#include "recording_host.h"
#include "reference_approx.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

const double nan_v = std::numeric_limits<double>::quiet_NaN();
const double inf_v = std::numeric_limits<double>::infinity();

// X in compressed columns: column i stores values[at[i] .. at[i+1]-1] in
// rows[...]; every element not stored is +0.0.
struct compressed_x {
    std::vector<std::int32_t> at, rows;
    std::vector<double> values;
};

struct fit_case {
    std::int32_t ns = 0, nd = 0, nc = 1, ny = 1;
    std::vector<double> W, X, Y, XW, E, Z;
    compressed_x Xc; // the same X
    double lambda1 = 0, lambda2 = 0, tol = 0, max_sweeps = 0;
    unsigned seed = 1;
    std::string what; // how it was made, for failure messages
    // dovex_solve's generalisations; empty vectors for none.
    std::vector<double> penalty, weights;
    solve_options opts;
};

struct fit_run {
    std::vector<double> W, XW, E, Z;
    std::string out;
    std::size_t evals = 0;
    int next_draw = 0;
    std::vector<host_block> allocs;
    std::vector<void *> frees;
    long live = 0;
    std::vector<double> diffs, visits; // a dovex_solve record
    bool solve = false, block = false;
};

enum fitter { reference, core_full, core_compressed, solve_full, solve_compressed };

fit_run run(const fit_case &c, fitter f)
{
    fit_run r{c.W, c.XW, c.E, c.Z, "", 0, 0, {}, {}, 0, {}, {}, f >= solve_full,
              c.opts.curvature == solve_options::block};
    solve_options opts = c.opts;
    opts.penalty = c.penalty.empty() ? nullptr : c.penalty.data();
    opts.weights = c.weights.empty() ? nullptr : c.weights.data();
    host_reset();
    std::srand(c.seed);
    if (f == reference) {
        reference_record record;
        reference_approx(r.W.data(), c.X.data(), c.Y.data(), r.XW.data(), r.E.data(), r.Z.data(),
                         c.lambda1, c.lambda2, c.tol, c.max_sweeps, c.nd, c.ns, c.ny, c.nc,
                         nullptr, &opts, &record);
        r.diffs = record.diffs;
        r.visits = record.visits;
    } else if (f >= solve_full) {
        const bool full = f == solve_full;
        sweep_record record;
        dovex_solve(r.W.data(), full ? c.X.data() : c.Xc.values.data(),
                    full ? nullptr : c.Xc.at.data(), full ? nullptr : c.Xc.rows.data(),
                    c.Y.data(), r.XW.data(), r.E.data(), r.Z.data(), c.lambda1, c.lambda2, c.tol,
                    c.max_sweeps, c.nd, c.ns, c.ny, c.nc, opts, record);
        r.diffs.assign(record.diffs, record.diffs + record.sweeps);
        r.visits.assign(record.visits, record.visits + record.sweeps);
        if (record.room > 0) {
            mxFree(record.diffs);
            mxFree(record.visits);
        }
    }
    else if (f == core_full)
        dovex_approx(r.W.data(), c.X.data(), c.Y.data(), r.XW.data(), r.E.data(), r.Z.data(),
                     c.lambda1, c.lambda2, c.tol, c.max_sweeps, c.nd, c.ns, c.ny, c.nc);
    else
        dovex_approx_sparse(r.W.data(), c.Xc.at.data(), c.Xc.rows.data(), c.Xc.values.data(),
                            c.Y.data(), r.XW.data(), r.E.data(), r.Z.data(), c.lambda1,
                            c.lambda2, c.tol, c.max_sweeps, c.nd, c.ns, c.ny, c.nc);
    r.next_draw = std::rand();
    r.out = host_log().out;
    r.evals = host_log().evals.size();
    r.allocs = host_log().allocs;
    r.frees = host_log().frees;
    r.live = host_log().live;
    return r;
}

std::uint64_t bits(double v)
{
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The same bits, except that any NaN matches any NaN: the sign and payload
// of a NaN that arithmetic makes are the machine code's choice (which
// operand of a commutative operation propagates), and instrumented builds,
// such as the sanitized tree's, choose differently from plain ones.
bool same(double a, double b)
{
    return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b));
}

// "" when a and b hold the same values as above, else where and how they
// first differ.
std::string difference(const char *name, const std::vector<double> &a,
                       const std::vector<double> &b)
{
    if (a.size() != b.size())
        return std::string(name) + ": sizes differ";
    for (size_t k = 0; k < a.size(); k++)
        if (!same(a[k], b[k])) {
            std::ostringstream s;
            s.precision(17);
            s << name << "[" << k << "]: reference " << a[k] << ", optimised " << b[k];
            return s.str();
        }
    return "";
}

// Every observable of a run of the core against the reference's; "" when
// all agree.
std::string agree(const fit_run &ref, const fit_run &opt)
{
    std::string d;
    for (const std::string &s :
         {difference("W", ref.W, opt.W), difference("XW", ref.XW, opt.XW),
          difference("E", ref.E, opt.E), difference("Z", ref.Z, opt.Z)})
        if (d.empty())
            d = s;
    if (d.empty() && opt.solve)
        for (const std::string &s :
             {difference("diffs", ref.diffs, opt.diffs), difference("visits", ref.visits, opt.visits)})
            if (d.empty())
                d = s;
    if (d.empty() && ref.out != opt.out)
        d = "printed text differs:\n" + ref.out + "---\n" + opt.out;
    if (d.empty() && (ref.evals != opt.evals || ref.next_draw != opt.next_draw))
        d = "host commands or rand() draws differ";
    // The block method's scratch: the same eleven blocks whatever the
    // sweeps (nothing allocated in its loops) besides the record's, all
    // given back, x_col all +0.0 again.
    if (opt.block) {
        size_t record_blocks = 0;
        for (size_t room = 0; room < opt.diffs.size(); room = room < 64 ? 64 : 2 * room)
            record_blocks += 2;
        if (d.empty() && (opt.allocs.size() != 11 + record_blocks ||
                          opt.frees.size() != opt.allocs.size() || opt.live != 0))
            d = "block scratch: not eleven blocks, or not all given back";
        for (size_t k = 0; d.empty() && k < opt.allocs[6].at_free.size(); k++)
            if (bits(opt.allocs[6].at_free[k]) != 0)
                d = "x_col not left all +0.0";
        return d;
    }
    // The host sees the same seven work arrays first, with the same sizes,
    // and gets every block back in allocation order; the two of them whose
    // contents the fit uses must end the same.
    if (d.empty() && (ref.allocs.size() != 7 || opt.allocs.size() < 7 ||
                      opt.frees.size() != opt.allocs.size() || opt.live != 0))
        d = "work arrays not all given back, or not the seven first";
    // dovex_solve's record takes two blocks of room for 64 sweeps, and two
    // more each time the room doubles, the old ones freed while the sweeps
    // run and the last by the caller: the other blocks keep their order.
    std::vector<void *> frees = opt.frees;
    if (opt.solve) {
        size_t record_blocks = 0;
        for (size_t room = 0; room < opt.diffs.size(); room = room < 64 ? 64 : 2 * room)
            record_blocks += 2;
        const size_t work_blocks = opt.allocs.size() - record_blocks;
        frees.clear();
        for (void *f : opt.frees)
            for (size_t a = 0; a < work_blocks; a++)
                if (opt.allocs[a].ptr == f)
                    frees.push_back(f);
    }
    for (size_t a = 0; d.empty() && a < frees.size(); a++)
        if (frees[a] != opt.allocs[a].ptr ||
            (a < 7 && (opt.allocs[a].count != ref.allocs[a].count || opt.allocs[a].size != 8)))
            d = "work array " + std::to_string(a) + " differs in size or free order";
    if (d.empty())
        d = difference("visit_prob", ref.allocs[2].at_free, opt.allocs[2].at_free);
    if (d.empty())
        d = difference("bound_diag", ref.allocs[4].at_free, opt.allocs[4].at_free);
    // x_col, which only a compressed X uses, is all +0.0 between its uses.
    if (d.empty())
        for (double x : opt.allocs[5].at_free)
            if (bits(x) != 0) {
                d = "x_col not left all +0.0";
                break;
            }
    return d;
}

// The core with X full and with X compressed, each against the reference,
// and dovex_solve with X in one of the two forms (by the seed). A problem
// with factors, weights or other options is dovex_solve's alone.
std::string compare(const fit_case &c)
{
    const fit_run ref = run(c, reference);
    const bool general = !c.penalty.empty() || !c.weights.empty() || !c.opts.display ||
                         c.opts.curvature != solve_options::classes;
    std::string d;
    if (!general) {
        d = agree(ref, run(c, core_full));
        if (d.empty()) {
            d = agree(ref, run(c, core_compressed));
            if (!d.empty())
                d = "X compressed: " + d;
        }
    }
    if (d.empty()) {
        const bool full = c.seed % 2 == 0;
        d = agree(ref, run(c, full ? solve_full : solve_compressed));
        if (!d.empty())
            d = std::string("dovex_solve, X ") + (full ? "full" : "compressed") + ": " + d;
    }
    // The block method draws nothing from rand().
    std::srand(c.seed);
    if (d.empty() && c.opts.curvature == solve_options::block && ref.next_draw != std::rand())
        d = "the block method drew from rand()";
    return d.empty() ? d : c.what + ": " + d;
}

// X in compressed columns as a caller may hold it: every element that is
// not +0.0 stored (-0.0 included, which full(X) keeps), and a share of the
// +0.0 elements stored as well, from none to all.
compressed_x compress(const std::vector<double> &X, std::int32_t ns, std::int32_t nd,
                      std::uint64_t seed)
{
    std::mt19937_64 g(seed * 0x9e3779b97f4a7c15ULL + 1);
    const double shares[] = {0.0, 0.0, 0.05, 0.3, 1.0};
    const double share = shares[g() % 5];
    compressed_x c;
    c.at.push_back(0);
    for (std::int32_t i = 0; i < nd; i++) {
        for (std::int32_t k = 0; k < ns; k++) {
            const double x = X[k + static_cast<size_t>(ns) * i];
            if (bits(x) != 0 || static_cast<double>(g() >> 11) * 0x1p-53 < share) {
                c.rows.push_back(k);
                c.values.push_back(x);
            }
        }
        c.at.push_back(static_cast<std::int32_t>(c.rows.size()));
    }
    return c;
}

// What a random problem may contain.
struct recipe {
    bool odd_columns = false; // zero, signed-zero, mostly-zero, tiny columns
    bool non_finite = false;  // NaN and infinities in X, Y, W or the state
    bool huge = false;        // predictors far beyond exp's range
    bool start = false;       // non-zero starting XW and W, E off by an ulp
    bool wide_y = false;      // ny > nc
    bool empty = false;       // ns = 0 or nd = 0 allowed
    bool settled = false;     // start where a long fit ended, some weights an ulp off
    bool text = false;        // up to 300 samples, columns of counts, mostly zero
    bool general = false;     // dovex_solve's factors, weights, curvature, silence
};

struct gen {
    std::mt19937_64 g;
    double uniform() // [0, 1)
    {
        return static_cast<double>(g() >> 11) / 9007199254740992.0;
    }
    int below(int n)
    {
        return static_cast<int>(g() % static_cast<std::uint64_t>(n));
    }
    bool chance(double p)
    {
        return uniform() < p;
    }
    double normal()
    {
        const double u = 1.0 - uniform(), v = uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
    }
    double odd_value() // something the arithmetic must not lose track of
    {
        const double v[] = {nan_v, inf_v, -inf_v, -0.0, 0.0, 1e300, -1e300, 5e-324};
        return v[below(8)];
    }
};

fit_case make_case(std::uint64_t seed, const recipe &how)
{
    gen r{std::mt19937_64(seed)};
    fit_case c;
    std::ostringstream what;
    what << "case " << seed;
    const int ns_choice[] = {1, 2, 3, 5, 8, 13, 21, 40};
    c.ns = ns_choice[r.below(8)];
    c.nd = 1 + r.below(8);
    c.nc = 1 + r.below(4);
    if (how.text) {
        const int text_ns[] = {30, 80, 200, 300};
        c.ns = text_ns[r.below(4)];
        c.nd = 1 + r.below(24);
    }
    if (how.empty && r.chance(0.3))
        (r.chance(0.5) ? c.ns : c.nd) = 0;
    c.ny = c.nc + (how.wide_y ? 1 + r.below(3) : 0);
    what << " (ns " << c.ns << ", nd " << c.nd << ", nc " << c.nc << ", ny " << c.ny << ")";

    const size_t ns = c.ns, nd = c.nd, nc = c.nc;
    c.X.assign(ns * nd, 0.0);
    for (size_t i = 0; i < nd; i++) {
        const int kind = how.text ? 7 : how.odd_columns ? r.below(7) : 0;
        const double densities[] = {0.0, 0.01, 0.03, 0.1, 0.5};
        const double density = how.text ? densities[r.below(5)] : 0.0;
        for (size_t k = 0; k < ns; k++) {
            double &x = c.X[k + ns * i];
            switch (kind) {
            case 0: x = r.normal(); break;                       // dense
            case 1: x = 0.0; break;                              // all zero
            case 2: x = r.chance(0.5) ? -0.0 : 0.0; break;       // signed zeros
            case 3: x = r.chance(0.85) ? (r.chance(0.3) ? -0.0 : 0.0) : r.normal(); break;
            case 4: x = r.below(17) / 16.0 * (r.chance(0.5) ? 1 : 0); break; // pixels
            case 5: x = r.chance(0.5) ? 1e-300 * r.normal() : 0.0; break;    // tiny
            case 6: x = r.chance(0.2) ? 0.0 : 3.0 * r.normal(); break;
            default: x = r.chance(density) ? (1 + r.below(3)) * 0.37 : 0.0; break; // counts
            }
            if (how.huge && r.chance(0.05))
                x = (r.chance(0.5) ? 1 : -1) * (300.0 + 700.0 * r.uniform());
            if (how.non_finite && r.chance(0.03))
                x = r.odd_value();
        }
    }
    c.Y.assign(ns * c.ny, 0.0);
    for (size_t k = 0; k < ns; k++)
        c.Y[k + ns * r.below(c.nc)] = 1.0;
    if (how.non_finite && ns > 0 && r.chance(0.3))
        c.Y[r.below(static_cast<int>(ns * nc))] = r.odd_value();

    c.W.assign(nd * nc, 0.0);
    c.XW.assign(ns * nc, 0.0);
    if (how.start) {
        for (double &w : c.W)
            w = r.chance(0.3) ? r.normal() : (r.chance(0.2) ? -0.0 : 0.0);
        const double scale = how.huge && r.chance(0.3) ? 800.0 : 2.0;
        for (double &xw : c.XW)
            xw = r.chance(0.1) ? (r.chance(0.5) ? -0.0 : 0.0) : scale * r.normal();
    }
    if (how.non_finite && r.chance(0.3)) {
        if (!c.W.empty())
            c.W[r.below(static_cast<int>(c.W.size()))] = r.odd_value();
        if (!c.XW.empty())
            c.XW[r.below(static_cast<int>(c.XW.size()))] = r.odd_value();
    }
    c.E.resize(ns * nc);
    c.Z.assign(ns, 0.0);
    for (size_t k = 0; k < ns; k++)
        for (size_t j = 0; j < nc; j++) {
            double &e = c.E[k + ns * j];
            e = std::exp(c.XW[k + ns * j]);
            if (how.start && r.chance(0.1)) // a caller's E need not be exp's own bits
                e = std::nextafter(e, r.chance(0.5) ? inf_v : 0.0);
            c.Z[k] = e + c.Z[k];
        }
    // A Z that is not the row sum: a zero of either sign, a subnormal, or one
    // small enough for a large E over it to overflow.
    if (how.start && ns > 0 && r.chance(0.2)) {
        const double z[] = {-0.0, 0.0, 1e-320, 1e-100};
        c.Z[r.below(c.ns)] = z[r.below(4)];
    }

    double settle_l1 = 0, settle_l2 = 0;
    if (how.settled) {
        // A fit restarted where a long one ended: most visits leave their
        // non-zero weight as it is, and the weights nudged by an ulp move
        // back by less than XW's last bit, so XW keeps its bits on most rows.
        const double l1_settle[] = {0.0, 0.3, 1.0, 3.0};
        const double l2_settle[] = {0.5, 2.0};
        settle_l1 = l1_settle[r.below(4)];
        settle_l2 = l2_settle[r.below(2)];
        host_reset();
        std::srand(static_cast<unsigned>(seed));
        reference_approx(c.W.data(), c.X.data(), c.Y.data(), c.XW.data(), c.E.data(), c.Z.data(),
                         settle_l1, settle_l2, -1.0, 300, c.nd, c.ns, c.ny, c.nc);
        for (double &w : c.W)
            if (w != 0 && r.chance(0.2))
                w = std::nextafter(w, r.chance(0.5) ? inf_v : -inf_v);
    }

    const double l1[] = {0.0, 0.01, 0.3, 1.0, 5.0, 1e9};
    const double l2[] = {0.0, 0.01, 0.5, 2.0};
    const double tol[] = {-1.0, 0.0, 1e-6, 1e-3};
    const double sweeps[] = {1, 2, 5, 20, 40};
    c.lambda1 = l1[r.below(6)];
    c.lambda2 = l2[r.below(4)];
    c.tol = tol[r.below(4)];
    c.max_sweeps = sweeps[r.below(5)];
    if (how.settled) { // with the penalties it settled with
        c.lambda1 = settle_l1;
        c.lambda2 = settle_l2;
    }
    c.seed = static_cast<unsigned>(seed);
    what << ", lambda1 " << c.lambda1 << ", lambda2 " << c.lambda2 << ", tol " << c.tol
         << ", max_sweeps " << c.max_sweeps;
    c.what = what.str();
    if (how.general) {
        // Factors and weights of every kind the step must get right: zeros,
        // ones, fractions, large values; each option on its own or with the
        // others.
        const double values[] = {0.0, 1.0, 0.25, 3.0, 1e3};
        if (r.chance(0.7))
            for (std::int32_t i = 0; i < c.nd; i++)
                c.penalty.push_back(values[r.below(5)]);
        if (r.chance(0.7))
            for (std::int32_t k = 0; k < c.ns; k++)
                c.weights.push_back(r.chance(0.5) ? values[r.below(5)] : 2.0 * r.uniform());
        c.opts.display = r.chance(0.5);
        const solve_options::curvature_kind kinds[] = {
            solve_options::classes, solve_options::quarter, solve_options::newton,
            solve_options::block};
        c.opts.curvature = kinds[r.below(4)];
        const char *kind_names[] = {"", ", quarter", ", newton", ", block"};
        what << ", " << c.penalty.size() << " factors, " << c.weights.size() << " weights, "
             << (c.opts.display ? "shown" : "silent") << kind_names[c.opts.curvature];
        c.what = what.str();
    }
    c.Xc = compress(c.X, c.ns, c.nd, seed);
    return c;
}

// How many of `count` settled problems have a non-zero weight that a fit
// from them leaves with its own bits: each such weight was visited and left
// as it was.
int settled_with_unchanged_weights(std::uint64_t first_seed, int count)
{
    recipe how;
    how.settled = true;
    int n = 0;
    for (int m = 0; m < count; m++) {
        const fit_case c = make_case(first_seed + m, how);
        const fit_run r = run(c, reference);
        bool kept = false;
        for (size_t p = 0; p < c.W.size(); p++)
            kept = kept || (c.W[p] != 0 && bits(c.W[p]) == bits(r.W[p]));
        n += kept;
    }
    return n;
}

// Runs `count` random problems of one recipe; stops at the first mismatch.
void check_recipe(const recipe &how, std::uint64_t first_seed, int count)
{
    for (int n = 0; n < count; n++) {
        const std::string d = compare(make_case(first_seed + n, how));
        ASSERT_EQ(d, "");
    }
}

fit_case from_data(const std::string &name, double scale, std::int32_t rows, double lambda1,
                   double lambda2, double max_sweeps)
{
    const dataset d = load_dataset(name);
    fit_case c;
    c.ns = std::min(rows, d.ns);
    c.nd = d.nd;
    c.nc = c.ny = d.nc;
    for (std::int32_t i = 0; i < d.nd; i++)
        for (std::int32_t k = 0; k < c.ns; k++)
            c.X.push_back(d.X[k + static_cast<size_t>(d.ns) * i] / scale);
    for (std::int32_t j = 0; j < d.nc; j++)
        for (std::int32_t k = 0; k < c.ns; k++)
            c.Y.push_back(d.Y[k + static_cast<size_t>(d.ns) * j]);
    const start_state s = zero_start(c.ns, c.nc);
    c.XW = s.XW;
    c.E = s.E;
    c.Z = s.Z;
    c.W.assign(static_cast<size_t>(c.nd) * c.nc, 0.0);
    c.lambda1 = lambda1;
    c.lambda2 = lambda2;
    c.tol = -1.0; // run to the sweep limit
    c.max_sweeps = max_sweeps;
    c.seed = 3;
    c.what = name;
    c.Xc = compress(c.X, c.ns, c.nd, 3);
    return c;
}

} // namespace

TEST(Differential, PlainDenseProblems)
{
    check_recipe(recipe{}, 1000, 6000);
}

TEST(Differential, ZeroMostlyZeroSignedZeroAndTinyColumns)
{
    recipe how;
    how.odd_columns = true;
    check_recipe(how, 20000, 10000);
}

TEST(Differential, NonZeroStartingStateAndEOffByAnUlp)
{
    recipe how;
    how.odd_columns = true;
    how.start = true;
    check_recipe(how, 100000, 10000);
}

TEST(Differential, NaNAndInfinitiesAnywhere)
{
    recipe how;
    how.odd_columns = true;
    how.start = true;
    how.non_finite = true;
    check_recipe(how, 200000, 10000);
}

TEST(Differential, PredictorsThatOverflowOrUnderflowExp)
{
    recipe how;
    how.odd_columns = true;
    how.start = true;
    how.huge = true;
    check_recipe(how, 300000, 10000);
}

TEST(Differential, MoreTargetColumnsThanClassesAndEmptyShapes)
{
    recipe how;
    how.odd_columns = true;
    how.wide_y = true;
    how.empty = true;
    check_recipe(how, 400000, 8000);
}

TEST(Differential, RestartedFromASettledFitWithWeightsAnUlpOff)
{
    // The recipe does what it is for: many such fits keep some non-zero
    // weight's bits.
    EXPECT_GE(settled_with_unchanged_weights(600000, 200), 60);
    recipe how;
    how.settled = true;
    check_recipe(how, 600000, 3000);
    how.odd_columns = true;
    how.start = true;
    check_recipe(how, 700000, 3000);
}

TEST(Differential, TextLikeColumnsOfCounts)
{
    recipe how;
    how.text = true;
    check_recipe(how, 800000, 2000);
    how.start = true;
    how.non_finite = true;
    how.huge = true;
    check_recipe(how, 810000, 2000);
}

TEST(Differential, EverythingAtOnce)
{
    recipe how{true, true, true, true, true, true};
    check_recipe(how, 500000, 10000);
}

TEST(Differential, SolveWithFactorsWeightsQuarterCurvatureAndSilence)
{
    recipe how;
    how.general = true;
    check_recipe(how, 900000, 4000);
    how.odd_columns = true;
    how.start = true;
    check_recipe(how, 910000, 4000);
    recipe all{true, true, true, true, true, true, false, true, true};
    check_recipe(all, 920000, 4000);
}

TEST(Differential, RealDataOverManySweeps)
{
    // Long runs let weights go to zero, come back and settle, and visiting
    // probabilities decay to the point where draws skip most pairs.
    EXPECT_EQ(compare(from_data("iris", 1.0, 150, 0.5, 0.1, 300)), "");
    EXPECT_EQ(compare(from_data("iris", 1.0, 150, 0.0, 0.0, 50)), "");
    EXPECT_EQ(compare(from_data("digits", 16.0, 300, 5.0, 0.5, 40)), "");
    EXPECT_EQ(compare(from_data("digits", 16.0, 300, 0.5, 0.0, 20)), "");
    // The block method on X compressed (seed 3): pixel columns that are
    // mostly zero, its line search and active set over many sweeps.
    fit_case block = from_data("digits", 16.0, 300, 0.2, 0.02, 60);
    block.opts.curvature = solve_options::block;
    block.opts.display = false;
    EXPECT_EQ(compare(block), "");
}
