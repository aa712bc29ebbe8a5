// The Linux modules call the first glibc versions of exp and log
// (core/glibc_compat.h), so that they load on glibc 2.17. Here both
// versions of each, looked up by name and version in libm, are called on
// the same arguments and must return the same bits. exp: over the whole
// range a fit can reach, near zero, where the result is subnormal, on
// either side of overflow and underflow, on the special values and on
// arbitrary bit patterns. log: over every exponent, near 1 (the ratios of
// Z the block method's line search takes), on subnormals, on the special
// values and on arbitrary positive bit patterns; on negative arguments the
// two versions give NaNs of opposite signs, which is all that may differ.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using math_fn = double (*)(double);

// The version the modules bind to, and the one a current glibc links new
// code to.
const char *const oldest = "GLIBC_2.2.5";
const char *const current = "GLIBC_2.29";

struct versions {
    math_fn old_fn = nullptr, new_fn = nullptr;
};

// Both versions of the libm function `name`.
versions lookup(const char *name)
{
    versions r;
    void *libm = dlopen("libm.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!libm)
        return r;
    // dlvsym returns a data pointer; copy it into the function pointer.
    void *o = dlvsym(libm, name, oldest), *n = dlvsym(libm, name, current);
    if (o)
        std::memcpy(&r.old_fn, &o, sizeof o);
    if (n)
        std::memcpy(&r.new_fn, &n, sizeof n);
    return r;
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

// With any_nan, two NaNs count as the same whatever their signs.
void compare(const versions &v, const std::vector<double> &args, bool any_nan, tally &t)
{
    for (double x : args) {
        const double a = v.old_fn(x), b = v.new_fn(x);
        t.compared++;
        if (bits(a) != bits(b) && !(any_nan && std::isnan(a) && std::isnan(b))) {
            t.differing++;
            if (t.examples.size() < 8)
                t.examples.push_back(x);
        }
    }
}

std::string described(const char *name, const tally &t)
{
    std::string s;
    for (double x : t.examples) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "\n  %s(%.17g) [%016llx]", name, x,
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

// A named set of arguments.
struct argument_set {
    const char *name;
    std::vector<double> args;
    bool any_nan = false; // NaN results may differ in sign
};

// The special values, for both functions.
std::vector<double> special_values()
{
    const double inf = std::numeric_limits<double>::infinity();
    return {0.0,
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
}

// log's arguments, seeded like exp's.
std::vector<argument_set> log_argument_sets()
{
    std::mt19937_64 g(0x6c6f6775u);
    std::vector<argument_set> sets;

    // Positive numbers spread evenly over every normal exponent.
    std::vector<double> spread(1u << 24);
    for (double &x : spread)
        x = std::ldexp(1.0 + unit(g), static_cast<int>(g() % 2046) - 1022);
    sets.push_back({"every exponent", std::move(spread)});

    // Near 1, where log is smallest and the line search's ratios lie:
    // 1 +- 2^-e for every e up to 60, and 2^12 neighbours on either side.
    std::vector<double> near_one(1u << 20);
    for (double &x : near_one) {
        const double m = std::ldexp(1.0 + unit(g), -1 - static_cast<int>(g() % 60));
        x = g() & 1 ? 1.0 - m : 1.0 + m;
    }
    around(1.0, 1 << 12, near_one);
    sets.push_back({"near 1", std::move(near_one)});

    // Subnormals, and the positive whole numbers to 2^16.
    std::vector<double> small(1u << 20);
    for (double &x : small)
        x = from_bits(g() & 0x000fffffffffffffull);
    for (int k = 1; k <= 1 << 16; k++)
        small.push_back(k);
    sets.push_back({"subnormals and whole numbers", std::move(small)});

    // Arbitrary positive bit patterns, NaN payloads included, and the
    // special values that are not negative.
    std::vector<double> raw(1u << 20);
    for (double &x : raw)
        x = from_bits(g() >> 1);
    for (double x : special_values())
        if (!std::signbit(x))
            raw.push_back(x);
    sets.push_back({"positive bit patterns and special values", std::move(raw)});

    // Outside the domain: the negative numbers (and -0.0, -Inf, negative
    // NaNs). There the old version's wrapper returns +NaN where the new one
    // returns -NaN, so only NaN-ness is compared; the block method's line
    // search therefore calls log only on arguments above 0 (block.cpp).
    std::vector<double> negative(1u << 20);
    for (double &x : negative)
        x = from_bits(g() | 0x8000000000000000ull);
    for (double x : special_values())
        if (std::signbit(x))
            negative.push_back(x);
    sets.push_back({"negative numbers, NaN of either sign", std::move(negative), true});
    return sets;
}

// exp's whole argument set, seeded so that every run compares the same one.
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
    std::vector<double> special = special_values();
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

// Both functions, each with its arguments.
std::vector<std::pair<const char *, std::vector<argument_set>>> functions()
{
    const char *names[] = {"uniform over [-746, 710]", "near zero", "subnormal results",
                           "overflow and underflow edges", "special values",
                           "arbitrary bit patterns"};
    std::vector<argument_set> exp_sets;
    std::vector<std::vector<double>> sets = argument_sets();
    for (std::size_t s = 0; s < sets.size(); s++)
        exp_sets.push_back({names[s], std::move(sets[s])});
    return {{"exp", std::move(exp_sets)}, {"log", log_argument_sets()}};
}

TEST(ExpVersions, BothAreInLibm)
{
    for (const char *f : {"exp", "log"}) {
        EXPECT_NE(lookup(f).old_fn, nullptr) << f << "@" << oldest;
        EXPECT_NE(lookup(f).new_fn, nullptr) << f << "@" << current;
    }
}

TEST(ExpVersions, OldestGivesTheSameBitsAsCurrent)
{
    for (const auto &f : functions()) {
        const versions v = lookup(f.first);
        if (!v.old_fn || !v.new_fn) {
            std::printf("this glibc has only one version of %s\n", f.first);
            continue;
        }
        tally all;
        for (const argument_set &set : f.second) {
            tally t;
            compare(v, set.args, set.any_nan, t);
            EXPECT_EQ(t.differing, 0u) << f.first << ", " << set.name << ": " << t.differing
                                       << " of " << t.compared
                                       << " arguments give other bits:" << described(f.first, t);
            all.compared += t.compared;
            all.differing += t.differing;
        }
        std::printf("%s@%s against %s@%s: %zu arguments compared, %zu differ\n", f.first, oldest,
                    f.first, current, all.compared, all.differing);
        RecordProperty(std::string(f.first) + "_arguments_compared",
                       static_cast<int>(all.compared));
        RecordProperty(std::string(f.first) + "_arguments_differing",
                       static_cast<int>(all.differing));
    }
}
