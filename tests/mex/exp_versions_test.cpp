// The Linux modules call exp's first glibc version (core/glibc_compat.h), so
// that they load on glibc 2.17. Here both versions, looked up by name and
// version in libm, are called on the same arguments and must return the
// same bits: over the whole range a fit can reach, near zero, where the
// result is subnormal, on either side of overflow and underflow, on the
// special values and on arbitrary bit patterns.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using exp_fn = double (*)(double);

// The version the modules bind to, and the one a current glibc links new
// code to.
const char *const oldest = "GLIBC_2.2.5";
const char *const current = "GLIBC_2.29";

struct versions {
    exp_fn old_exp = nullptr, new_exp = nullptr;
};

const versions &lookup()
{
    static const versions v = [] {
        versions r;
        void *libm = dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!libm)
            return r;
        // dlvsym returns a data pointer; copy it into the function pointer.
        void *o = dlvsym(libm, "exp", oldest), *n = dlvsym(libm, "exp", current);
        if (o)
            std::memcpy(&r.old_exp, &o, sizeof o);
        if (n)
            std::memcpy(&r.new_exp, &n, sizeof n);
        return r;
    }();
    return v;
}

std::uint64_t bits(double x)
{
    std::uint64_t u;
    std::memcpy(&u, &x, sizeof u);
    return u;
}

double from_bits(std::uint64_t u)
{
    double x;
    std::memcpy(&x, &u, sizeof x);
    return x;
}

// Arguments whose results differ in any bit, the first few kept for the
// message.
struct tally {
    std::size_t compared = 0, differing = 0;
    std::vector<double> examples;
};

void compare(const std::vector<double> &args, tally &t)
{
    const versions &v = lookup();
    for (double x : args) {
        const double a = v.old_exp(x), b = v.new_exp(x);
        t.compared++;
        if (bits(a) != bits(b)) {
            t.differing++;
            if (t.examples.size() < 8)
                t.examples.push_back(x);
        }
    }
}

std::string described(const tally &t)
{
    std::string s;
    for (double x : t.examples) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "\n  exp(%.17g) [%016llx]", x,
                      static_cast<unsigned long long>(bits(x)));
        s += buf;
    }
    return s;
}

// A uniform double in [0, 1), from 53 random bits.
double unit(std::mt19937_64 &g)
{
    return static_cast<double>(g() >> 11) * 0x1p-53;
}

// The doubles around x: x itself and `steps` neighbours on each side.
void around(double x, int steps, std::vector<double> &out)
{
    double up = x, down = x;
    out.push_back(x);
    for (int i = 0; i < steps; i++) {
        up = std::nextafter(up, std::numeric_limits<double>::infinity());
        down = std::nextafter(down, -std::numeric_limits<double>::infinity());
        out.push_back(up);
        out.push_back(down);
    }
}

// The whole argument set, seeded so that every run compares the same one.
std::vector<std::vector<double>> argument_sets()
{
    std::mt19937_64 g(0x2d6f7865u);
    std::vector<std::vector<double>> sets;

    // Uniform over [-746, 710]: beyond both ends exp is 0 or Inf.
    std::vector<double> uniform(1u << 24);
    for (double &x : uniform)
        x = -746.0 + 1456.0 * unit(g);
    sets.push_back(std::move(uniform));

    // Near zero, both signs, magnitudes spread evenly over the exponents
    // from the smallest subnormal up to 1.
    std::vector<double> small(1u << 20);
    for (double &x : small) {
        const double m = std::ldexp(1.0 + unit(g), -static_cast<int>(g() % 1075));
        x = g() & 1 ? -m : m;
    }
    sets.push_back(std::move(small));

    // Subnormal results: from where exp leaves the normal range down to
    // where it rounds to zero.
    const double normal_edge = std::log(std::numeric_limits<double>::min());
    const double zero_edge = -745.1332191019411;
    std::vector<double> subnormal(1u << 20);
    for (double &x : subnormal)
        x = zero_edge + (normal_edge - zero_edge) * unit(g);
    sets.push_back(std::move(subnormal));

    // The edges, each with 2^16 neighbours on either side: overflow to
    // Inf, the last result above zero, and the start of subnormal results.
    std::vector<double> edges;
    for (double e : {std::log(std::numeric_limits<double>::max()), zero_edge, normal_edge})
        around(e, 1 << 16, edges);
    sets.push_back(std::move(edges));

    // Special values, and every whole number from -800 to 800.
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> special = {0.0,
                                   -0.0,
                                   inf,
                                   -inf,
                                   std::numeric_limits<double>::quiet_NaN(),
                                   -std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::signaling_NaN(),
                                   from_bits(0x7ff8000000000123ull),
                                   from_bits(0xfff0000000000001ull),
                                   std::numeric_limits<double>::max(),
                                   -std::numeric_limits<double>::max(),
                                   std::numeric_limits<double>::min(),
                                   -std::numeric_limits<double>::min(),
                                   std::numeric_limits<double>::denorm_min(),
                                   -std::numeric_limits<double>::denorm_min(),
                                   std::numeric_limits<double>::epsilon(),
                                   -std::numeric_limits<double>::epsilon()};
    for (int k = -800; k <= 800; k++)
        special.push_back(k);
    sets.push_back(std::move(special));

    // Arbitrary bit patterns: every exponent, NaN payloads included.
    std::vector<double> raw(1u << 20);
    for (double &x : raw)
        x = from_bits(g());
    sets.push_back(std::move(raw));
    return sets;
}

} // namespace

TEST(ExpVersions, BothAreInLibm)
{
    EXPECT_NE(lookup().old_exp, nullptr) << "exp@" << oldest;
    EXPECT_NE(lookup().new_exp, nullptr) << "exp@" << current;
}

TEST(ExpVersions, OldestGivesTheSameBitsAsCurrent)
{
    if (!lookup().old_exp || !lookup().new_exp)
        GTEST_SKIP() << "this glibc has only one version of exp";
    const char *names[] = {"uniform over [-746, 710]", "near zero", "subnormal results",
                           "overflow and underflow edges", "special values",
                           "arbitrary bit patterns"};
    const std::vector<std::vector<double>> sets = argument_sets();
    tally all;
    for (std::size_t s = 0; s < sets.size(); s++) {
        tally t;
        compare(sets[s], t);
        EXPECT_EQ(t.differing, 0u) << names[s] << ": " << t.differing << " of " << t.compared
                                   << " arguments give other bits:" << described(t);
        all.compared += t.compared;
        all.differing += t.differing;
    }
    std::printf("exp@%s against exp@%s: %zu arguments compared, %zu differ\n", oldest, current,
                all.compared, all.differing);
    RecordProperty("arguments_compared", static_cast<int>(all.compared));
    RecordProperty("arguments_differing", static_cast<int>(all.differing));
}
