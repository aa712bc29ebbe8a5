// Writes the seed corpus: one input for each kind of call the module must
// handle, in the format of call.h. The files are kept in tests/fuzz/corpus;
// run this again after a change of the format.
//
//   fuzz_seeds DIR
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

// Palette positions (call.cpp) of the values the seeds use.
enum : std::uint8_t {
    p_zero = 0, p_nzero = 1, p_one = 2, p_mone = 3, p_half = 4, p_two = 5, p_nan = 6, p_inf = 7,
    p_ninf = 8, p_denorm = 9, p_max = 12, p_1e300 = 15, p_exp_edge = 16, p_exp_over = 17,
    p_2_31 = 20, p_1e20 = 22, p_m1e20 = 23, p_three = 24, p_1em6 = 25, p_below_one = 27,
    p_2_54 = 28, p_nnan = 30, p_onehalf = 31,
};
// Other values: (b - 144) / 16.
const std::uint8_t v_quarter = 148, v_sixteenth = 145, v_two_and_half = 184;

// Kind byte bits.
const std::uint8_t k_complex = 1, k_sparse = 2, k_class = 4, k_shape = 8, k_raw = 0x10,
                   k_derived = 0x20, k_const = 0x30;
// Class byte values.
const std::uint8_t c_single = 0, c_int32 = 1, c_logical = 3, c_char = 4, c_cell = 11;
// Large dimensions: byte 240 + their position in large_dims.
const std::uint8_t d_46341 = 241, d_65536 = 243, d_2_31 = 246, d_3e9 = 247, d_2_32 = 249,
                   d_2_62 = 252;

struct arg_bytes {
    std::uint8_t kind = 0;
    bytes desc, values;
};

struct call {
    std::uint8_t nlhs = 1, nrhs = 9, ns, nd, nc, extra, seed = 7;
    bool solve = false; // a dovex_solve call: bit 2 of the first byte
    std::vector<arg_bytes> args;

    bytes encode() const
    {
        bytes b{static_cast<std::uint8_t>(nlhs | (solve ? 4 : 0)), nrhs, ns, nd, nc, extra, seed};
        for (const arg_bytes &s : args) {
            b.push_back(s.kind);
            b.insert(b.end(), s.desc.begin(), s.desc.end());
        }
        for (const arg_bytes &s : args)
            b.insert(b.end(), s.values.begin(), s.values.end());
        return b;
    }
};

// Bytes in 32..255, so values in [-7, 7), from a fixed generator.
bytes spread(std::size_t n, unsigned &state)
{
    bytes b;
    for (std::size_t i = 0; i < n; i++) {
        state = state * 1103515245u + 12345u;
        b.push_back(static_cast<std::uint8_t>(32 + (state >> 16) % 224));
    }
    return b;
}

arg_bytes shape(std::uint8_t kind, bytes dims, bytes values = {})
{
    arg_bytes s;
    s.kind = kind | k_shape;
    s.desc.push_back(static_cast<std::uint8_t>(dims.size() - 2));
    s.desc.insert(s.desc.end(), dims.begin(), dims.end());
    s.values = values;
    return s;
}

// A sparse X's value bytes (call.h) from one entry per element: the value
// byte to store there (p_zero included), or unstored.
const int unstored = -1;
bytes pattern(const std::vector<int> &elements)
{
    bytes b;
    for (int e : elements) {
        if (e == unstored) {
            b.push_back(0);
        } else {
            b.push_back(1);
            b.push_back(static_cast<std::uint8_t>(e));
        }
    }
    return b;
}

// A well-formed call from the all-zero start or from the given XW values:
// one-hot Y, E and Z derived from XW.
call fit(std::uint8_t ns, std::uint8_t nd, std::uint8_t nc, std::uint8_t extra,
         std::uint8_t lambda1 = v_quarter, std::uint8_t lambda2 = v_sixteenth,
         std::uint8_t tol = p_1em6, std::uint8_t sweeps = p_three, bool start_at_zero = true)
{
    unsigned state = 1u + ns * 81u + nd * 9u + nc;
    call c;
    c.ns = ns;
    c.nd = nd;
    c.nc = nc;
    c.extra = extra;
    c.args.resize(9);
    c.args[0].values = spread(std::size_t(ns) * nd, state);
    c.args[1].kind = k_derived;
    c.args[1].values = spread(ns, state);
    c.args[2].kind = start_at_zero ? k_const : 0;
    c.args[2].values = start_at_zero ? bytes{p_zero} : spread(std::size_t(ns) * nc, state);
    c.args[3].kind = k_derived;
    c.args[4].kind = k_derived;
    c.args[5].values = {lambda1};
    c.args[6].values = {lambda2};
    c.args[7].values = {tol};
    c.args[8].values = {sweeps};
    return c;
}

// dovex_solve's opts (call.h): a struct (opts byte 1, or 3 for a 1 x 2
// struct array) of the fields given, each its name byte, field byte, the
// bytes describing it and its values.
enum : std::uint8_t { o_penalty, o_weights, o_display, o_method, o_other_case, o_unknown };
const std::uint8_t f_unset = 0x80, f_text = 0x40;
// Method texts (call.h).
enum : std::uint8_t { t_bound, t_quarter, t_newton, t_capital, t_nul, t_empty, t_longer, t_unknown };

struct field_bytes {
    std::uint8_t name, kind;
    bytes desc, values;
};

arg_bytes opts(const std::vector<field_bytes> &fields, std::uint8_t form = 1)
{
    arg_bytes o;
    o.kind = form;
    o.desc.push_back(static_cast<std::uint8_t>(fields.size()));
    for (const field_bytes &f : fields) {
        o.desc.push_back(f.name);
        o.desc.push_back(f.kind);
        o.desc.insert(o.desc.end(), f.desc.begin(), f.desc.end());
        o.values.insert(o.values.end(), f.values.begin(), f.values.end());
    }
    return o;
}

field_bytes method(std::uint8_t text)
{
    return {o_method, f_text, {text}, {}};
}

// Derived factors, picked by b % 8 from 0, 0.5, 1, 2, 3, 0.25, 1.5, 4.
field_bytes factors(std::uint8_t name, bytes picks)
{
    return {name, k_derived, {}, picks};
}

field_bytes display(bool on)
{
    return {o_display, k_class, {c_logical}, {static_cast<std::uint8_t>(on)}};
}

// dovex_solve's call of fit()'s problem: W0 (zeros unless given) after Y,
// two outputs, and opts when given.
call solve(call c, const arg_bytes *o = nullptr, const bytes &w0 = {})
{
    c.solve = true;
    c.nlhs = 2;
    arg_bytes w;
    w.kind = w0.empty() ? k_const : 0;
    w.values = w0.empty() ? bytes{p_zero} : w0;
    c.args.insert(c.args.begin() + 2, w);
    c.nrhs = 10;
    if (o) {
        c.args.push_back(*o);
        c.nrhs = 11;
    }
    return c;
}

void write(const std::string &dir, const std::string &name, const call &c)
{
    const bytes b = c.encode();
    const std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

// An input kept as the fuzzer found it, from its hexadecimal bytes.
void write_raw(const std::string &dir, const std::string &name, const char *hex)
{
    bytes b;
    for (const char *h = hex; h[0] && h[1]; h += 2)
        b.push_back(static_cast<std::uint8_t>(std::stoi(std::string(h, 2), nullptr, 16)));
    const std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const std::string d = argv[1];

    // Fits.
    write(d, "fit-basic", fit(6, 4, 3, 0));
    write(d, "fit-from-nonzero-start", fit(6, 4, 3, 0, v_quarter, v_sixteenth, p_1em6, p_three,
                                            false));
    write(d, "fit-wide-y", fit(5, 3, 2, 2));
    write(d, "fit-one-class", fit(4, 3, 1, 0, p_zero, p_zero));
    write(d, "fit-no-samples", fit(0, 3, 2, 0, p_zero, p_zero));
    write(d, "fit-no-features", fit(5, 0, 2, 0));
    write(d, "fit-no-classes", fit(5, 3, 0, 2));
    write(d, "fit-penalty-zeroes-all", fit(6, 4, 3, 0, p_1e300));
    write(d, "fit-negative-tol", fit(6, 4, 3, 0, p_zero, p_one, p_mone));
    write(d, "fit-tol-zero", fit(6, 4, 3, 0, v_quarter, v_sixteenth, p_zero));
    {
        call c = fit(6, 4, 3, 0, v_quarter, p_zero);
        for (int i = 0; i < 6; i++)
            c.args[0].values[i] = p_zero; // an all-zero feature, no L2: no curvature
        write(d, "fit-no-curvature", c);
    }
    {
        call c = fit(5, 3, 2, 0);
        c.args[0].values = {p_nan, p_inf, p_ninf, p_denorm, p_max, p_nzero, p_exp_edge,
                            p_exp_over, p_2_31, p_1e20, p_m1e20, p_nnan, p_onehalf, p_half, 40};
        write(d, "fit-edge-values", c);
    }
    {
        call c = fit(4, 2, 2, 0);
        c.args[0].kind = k_raw;
        c.args[0].values.clear();
        unsigned state = 99;
        c.args[0].values = spread(8 * 8, state);
        write(d, "fit-raw-doubles", c);
    }
    const std::uint8_t sweeps[] = {p_below_one, p_nan, p_ninf, p_zero, p_one, p_inf,
                                   v_two_and_half};
    for (std::uint8_t s : sweeps)
        write(d, "fit-max-sweeps-" + std::to_string(s), fit(4, 3, 2, 0, v_quarter, v_sixteenth,
                                                            p_1em6, s));
    const std::uint8_t tols[] = {p_nan, p_inf, p_ninf, p_2_54, p_1e20, p_m1e20, p_1e300};
    for (std::uint8_t t : tols)
        write(d, "fit-tol-" + std::to_string(t), fit(4, 3, 2, 0, v_quarter, v_sixteenth, t));
    {
        // Scalars of more than one element and Z as a row: the first
        // element is used, any shape of Z with ns elements will do.
        call c = fit(4, 3, 2, 0);
        c.args[4] = shape(k_derived, {1, 4});
        c.args[5] = shape(0, {3, 1}, {v_quarter, p_nan, p_nan});
        c.args[8] = shape(0, {1, 2, 2}, {p_one, p_nan, p_nan, p_nan});
        write(d, "fit-odd-shapes", c);
    }

    {
        // Found by the fuzzer: a weight that one sweep makes non-zero and a
        // later visit returns to zero (from a non-zero start, ny = nc + 1).
        call c = fit(6, 4, 3, 1, 0xff, 0xb6, 0x22, 0xff, false);
        c.args[0].values = {0xd5, 0x00, 0x00, 0xd5, 0x35, 0x9d, 0xde, 0x6d, 0xbd, 0xc4, 0xfe, 0x5b,
                            0xe5, 0x51, 0xb9, 0xe7, 0x82, 0xd9, 0xb7, 0xa9, 0x21, 0x38, 0x55, 0xcb};
        c.args[1].values = {0x77, 0x92, 0xd7, 0xb3, 0x68, 0x66};
        c.args[2].values = {0x33, 0xe8, 0xbc, 0xeb, 0x39, 0x50, 0x62, 0xec, 0xe4,
                            0x8a, 0x41, 0xa4, 0xa2, 0xcb, 0x63, 0xf8, 0x62, 0x39};
        write(d, "fit-weight-back-to-zero", c);
    }

    // A sparse X: the bits of the full call on full(X), whatever is stored.
    {
        // About one element in three stored.
        call c = fit(8, 6, 3, 0);
        std::vector<int> e(c.args[0].values.begin(), c.args[0].values.end());
        for (int &v : e)
            if (v % 3 != 0)
                v = unstored;
        c.args[0].kind = k_sparse;
        c.args[0].values = pattern(e);
        write(d, "fit-sparse-x", c);
        // The same, from a non-zero start and with a wider Y.
        call o = fit(8, 6, 3, 1, v_quarter, v_sixteenth, p_1em6, p_three, false);
        o.args[0] = c.args[0];
        write(d, "fit-sparse-x-from-nonzero-start", o);
    }
    {
        // Every element stored, zeros of both signs among them.
        call c = fit(5, 4, 2, 0);
        std::vector<int> e(c.args[0].values.begin(), c.args[0].values.end());
        for (std::size_t i = 0; i < e.size(); i += 2)
            e[i] = i % 4 ? p_zero : p_nzero;
        c.args[0].kind = k_sparse;
        c.args[0].values = pattern(e);
        write(d, "fit-sparse-x-stored-zeros", c);
    }
    {
        // Stored NaN, infinities, exp's overflow and huge values among
        // unstored zeros.
        call c = fit(6, 4, 3, 0);
        c.args[0].kind = k_sparse;
        c.args[0].values = pattern({p_nan, unstored, p_inf, unstored, unstored, p_exp_over,
                                    unstored, p_ninf, unstored, p_max, unstored, unstored,
                                    p_nzero, unstored, p_1e300, unstored, p_nnan, unstored,
                                    unstored, unstored, 40, unstored, p_exp_edge, unstored});
        write(d, "fit-sparse-x-edge-values", c);
    }
    {
        call c = fit(5, 3, 2, 0);
        c.args[0].kind = k_sparse;
        c.args[0].values = bytes(15, 0); // nothing stored: every column zero
        write(d, "fit-sparse-x-nothing-stored", c);
        c.args[0].kind = k_sparse | k_const; // one value, 2.5, wherever stored
        c.args[0].values = {v_two_and_half, 1, 0, 0, 1, 1, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1};
        write(d, "fit-sparse-x-one-value", c);
        c.args[0].kind = k_sparse | k_raw; // raw doubles where stored
        unsigned state = 5;
        c.args[0].values.clear();
        for (int i = 0; i < 15; i++) {
            c.args[0].values.push_back(i % 2);
            if (i % 2) {
                const bytes raw = spread(8, state);
                c.args[0].values.insert(c.args[0].values.end(), raw.begin(), raw.end());
            }
        }
        write(d, "fit-sparse-x-raw-doubles", c);
    }
    {
        // No samples; and an own shape, wider than the call's.
        call c = fit(0, 3, 2, 0, p_zero, p_zero);
        c.args[0].kind = k_sparse;
        write(d, "fit-sparse-x-no-samples", c);
        call w = fit(5, 7, 2, 0);
        std::vector<int> e(5 * 7, unstored);
        e[1] = 40, e[7] = 200, e[12] = p_one, e[33] = p_three;
        w.args[0] = shape(k_sparse, {5, 7}, pattern(e));
        write(d, "fit-sparse-x-mostly-unstored", w);
    }

    // No samples and a negative L1 weight: every weight leaves zero in the
    // first sweep and keeps its value in the next ones.
    write(d, "fit-negative-lambda1-no-samples", fit(0, 6, 4, 0, 39, p_half, 61, p_three));

    // Found by the fuzzer, for the core's shortcuts and the reasons it
    // refuses them: a start with -0.0 in XW and E near overflow, an
    // infinite x in a mostly-zero column, a target too large for the
    // shortcuts, and a mostly-zero column with a Z that is not the row sums.
    write_raw(d, "fit-negative-zero-start-near-exp-overflow",
              "01090604030107002000202000000000d50000d535e2e2e2e2e2e2e2e2e2e2e2010900030202"
              "07002030202000000000f788efefefef0100000000000000106910757510101010");
    write_raw(d, "fit-infinite-x-in-a-mostly-zero-column",
              "01090403020007002030202000000000385523603003020007002030202000000000385507");
    write_raw(d, "fit-huge-target-value",
              "0109030201000000000000000000000000000000260000000f1f1f1f1f1f2c1f1f1f1f1f240f1f");
    write_raw(d, "fit-mostly-zero-column-and-z-not-the-row-sums",
              "0109060403000700203020000000000020000000000000d5359dde6d5bbdb9e782d9b7a9923568"
              "6633e8bc000f911918bdfee5c451b9e78218");

    // Argument counts.
    {
        call c = fit(3, 2, 2, 0);
        c.nrhs = 0;
        write(d, "count-no-inputs", c);
        c.nrhs = 8;
        write(d, "count-eight-inputs", c);
        c.nrhs = 10;
        c.args.push_back(arg_bytes());
        write(d, "count-ten-inputs", c);
        c.nrhs = 9;
        c.args.pop_back();
        c.nlhs = 0;
        write(d, "count-no-output", c);
        c.nlhs = 2;
        write(d, "count-two-outputs", c);
    }

    // Every rejected input.
    auto reject = [&](const std::string &name, int pos, arg_bytes s) {
        call c = fit(3, 2, 2, 0);
        c.args[pos] = s;
        write(d, "reject-" + name, c);
    };
    reject("y-single", 1, arg_bytes{k_class, {c_single}, {}});
    reject("max-sweeps-int32", 8, arg_bytes{k_class, {c_int32}, {3, 0, 0, 0}});
    reject("tol-logical", 7, arg_bytes{k_class, {c_logical}, {1}});
    reject("lambda2-cell", 6, arg_bytes{k_class, {c_cell}, {}});
    reject("xw-complex", 2, arg_bytes{k_complex, {}, {}});
    reject("x-sparse-complex", 0, arg_bytes{k_sparse | k_complex, {}, {}});
    reject("x-sparse-logical", 0, arg_bytes{k_sparse | k_class, {c_logical}, {}});
    reject("y-sparse", 1, arg_bytes{k_sparse, {}, {}});
    reject("e-sparse", 3, arg_bytes{k_sparse, {}, {}});
    reject("z-sparse-complex-single", 4, arg_bytes{k_sparse | k_complex | k_class, {c_single}, {}});
    reject("x-3d", 0, shape(0, {3, 2, 2}));
    reject("e-3d", 3, shape(0, {3, 2, 2}));
    reject("y-rows", 1, shape(0, {2, 2}));
    reject("y-too-few-columns", 1, shape(0, {3, 1}));
    reject("xw-rows", 2, shape(0, {4, 2}));
    reject("e-size", 3, shape(0, {3, 1}));
    reject("z-count", 4, shape(0, {2, 1}));
    reject("lambda1-empty", 5, shape(0, {0, 0}));
    reject("tol-empty", 7, shape(0, {1, 0}));
    reject("max-sweeps-empty", 8, shape(0, {0, 3}));
    // Counts past 32 bits, described without data.
    reject("x-rows-past-32-bits", 0, shape(0, {d_3e9, 2}));
    reject("x-sparse-rows-past-32-bits", 0, shape(k_sparse, {d_3e9, 2}));
    reject("x-elements-past-32-bits", 0, shape(0, {d_65536, d_65536}));
    reject("x-rows-wrap-to-zero", 0, shape(0, {d_2_32, 0}));
    reject("y-columns-2-31", 1, shape(0, {3, d_2_31}));
    reject("z-huge", 4, shape(0, {d_2_62, 4}));
    {
        // nd*ny past 32 bits with no sample at all: only the pair count
        // is too large.
        call c = fit(0, 2, 2, 0);
        c.args[0] = shape(0, {0, d_46341});
        c.args[1] = shape(0, {0, d_46341});
        write(d, "reject-pairs-past-32-bits", c);
    }

    // dovex_solve: its fits, with and without options.
    const arg_bytes all_opts = opts({factors(o_penalty, {0, 2, 1, 3}),
                                     factors(o_weights, {2, 1, 3, 0, 7, 5}), display(false),
                                     method(t_newton)});
    const arg_bytes empty_opts{0, {0}, {}}; // any array: [] in the shape opts takes
    write(d, "solve-basic", solve(fit(6, 4, 3, 0)));
    write(d, "solve-opts-empty", solve(fit(6, 4, 3, 0), &empty_opts));
    write(d, "solve-all-options", solve(fit(6, 4, 3, 1), &all_opts));
    {
        unsigned state = 3;
        const bytes w0 = spread(12, state);
        write(d, "solve-from-nonzero-start",
              solve(fit(6, 4, 3, 0, v_quarter, v_sixteenth, p_1em6, p_three, false), &all_opts, w0));
        write(d, "solve-edge-start", solve(fit(3, 2, 2, 0), nullptr,
                                          {p_nan, p_inf, p_nzero, p_1e300}));
    }
    for (std::uint8_t t : {t_bound, t_quarter}) {
        const arg_bytes o = opts({method(t), display(true), factors(o_penalty, {2, 2, 2, 2})});
        write(d, std::string("solve-method-") + (t == t_bound ? "bound" : "quarter"),
              solve(fit(6, 4, 3, 0), &o));
    }
    {
        // Ones everywhere, display 1 as a double: the identity through opts.
        const arg_bytes o = opts({factors(o_penalty, {2, 2, 2, 2}),
                                  factors(o_weights, {2, 2, 2, 2, 2, 2}),
                                  {o_display, 0, {}, {p_one}}, method(t_bound)});
        write(d, "solve-options-of-ones", solve(fit(6, 4, 3, 0), &o));
    }
    {
        // Zero weights for every sample, and a zero factor with no L2.
        const arg_bytes o = opts({factors(o_weights, {0, 0, 0, 0, 0, 0}),
                                  factors(o_penalty, {0, 0, 1, 0})});
        write(d, "solve-zero-weights", solve(fit(6, 4, 3, 0, v_quarter, p_zero), &o));
        write(d, "solve-no-samples", solve(fit(0, 3, 2, 0), &all_opts));
    }
    {
        call c = fit(8, 6, 3, 0);
        std::vector<int> e(c.args[0].values.begin(), c.args[0].values.end());
        for (int &v : e)
            if (v % 3 != 0)
                v = unstored;
        c.args[0].kind = k_sparse;
        c.args[0].values = pattern(e);
        const arg_bytes o = opts({factors(o_penalty, {0, 1, 2, 3, 4, 5}),
                                  factors(o_weights, {1, 2, 3, 5, 6, 7, 0, 1}), method(t_newton)});
        write(d, "solve-sparse-x-weighted", solve(c, &o));
    }
    {
        call c = solve(fit(4, 3, 2, 0));
        c.nlhs = 1;
        write(d, "solve-one-output", c);
        c.nlhs = 0;
        write(d, "solve-no-output", c);
        c.nlhs = 3;
        write(d, "solve-count-three-outputs", c);
        c.nlhs = 1;
        c.nrhs = 9;
        write(d, "solve-count-nine-inputs", c);
        c.nrhs = 12;
        c.args.push_back(empty_opts);
        c.args.push_back(arg_bytes());
        write(d, "solve-count-twelve-inputs", c);
    }

    // Every kind of bad W0 and opts; the first shared input refused under
    // dovex_solve's name.
    auto solve_reject = [&](const std::string &name, const arg_bytes *o, int pos = -1,
                            arg_bytes s = {}) {
        call c = solve(fit(3, 2, 2, 0), o);
        if (pos >= 0)
            c.args[pos] = s;
        write(d, "solve-reject-" + name, c);
    };
    solve_reject("w0-size", nullptr, 2, shape(0, {2, 3}));
    solve_reject("w0-single", nullptr, 2, arg_bytes{k_class, {c_single}, {}});
    solve_reject("w0-complex", nullptr, 2, arg_bytes{k_complex, {}, {}});
    solve_reject("w0-sparse", nullptr, 2, arg_bytes{k_sparse, {}, {}});
    solve_reject("w0-3d", nullptr, 2, shape(0, {2, 2, 2}));
    solve_reject("w0-rows-past-32-bits", nullptr, 2, shape(0, {d_3e9, 2}));
    solve_reject("y-rows", nullptr, 1, shape(0, {2, 2}));
    solve_reject("max-sweeps-empty", nullptr, 9, shape(0, {0, 3}));
    const std::vector<std::pair<std::string, arg_bytes>> bad_opts = {
        {"opts-cell", arg_bytes{0, {k_class, c_cell}, {}}},
        {"opts-double", arg_bytes{0, {k_shape, 0, 1, 1}, {p_one}}},
        {"opts-struct-array", opts({}, 3)},
        {"opts-struct-no-fields-3d", arg_bytes{0, {k_class | k_shape, 12, 1, 1, 1, 2}, {}}},
        {"opts-unknown-field", opts({display(true), {o_unknown, 0, {}, {p_one}}})},
        {"opts-field-in-another-case", opts({{o_other_case, 0, {}, {2, 2}}})},
        {"opts-unset-penalty", opts({{o_penalty, f_unset, {}, {}}})},
        {"penalty-length", opts({{o_penalty, k_shape, {0, 3, 1}, {p_one, p_one, p_one}}})},
        {"penalty-negative", opts({{o_penalty, 0, {}, {p_one, p_mone}}})},
        {"penalty-nan", opts({{o_penalty, 0, {}, {p_one, p_nan}}})},
        {"penalty-inf", opts({{o_penalty, 0, {}, {p_inf, p_one}}})},
        {"penalty-negative-zero-then-subnormal", opts({{o_penalty, 0, {}, {p_nzero, p_denorm}},
                                                       {o_weights, 0, {}, {p_ninf, 0, 0}}})},
        {"penalty-sparse", opts({{o_penalty, k_sparse, {}, {1, p_one, 1, p_one}}})},
        {"penalty-complex", opts({{o_penalty, k_complex, {}, {p_one, p_one, 0, 0}}})},
        {"penalty-single", opts({{o_penalty, k_class, {c_single}, bytes(8, 0)}})},
        {"weights-negative", opts({factors(o_penalty, {1, 1}), {o_weights, 0, {}, {p_one, p_one, p_mone}}})},
        {"weights-length", opts({{o_weights, k_shape, {0, 2, 1}, {p_one, p_one}}})},
        {"display-two", opts({{o_display, 0, {}, {p_two}}})},
        {"display-nan", opts({{o_display, 0, {}, {p_nan}}})},
        {"display-char", opts({{o_display, k_class, {c_char}, {'y', 0}}})},
        {"display-logical-pair", opts({{o_display, k_class | k_shape, {c_logical, 0, 1, 2}, {1, 0}}})},
        {"method-capital", opts({method(t_capital)})},
        {"method-trailing-nul", opts({method(t_nul)})},
        {"method-empty", opts({method(t_empty)})},
        {"method-longer", opts({method(t_longer)})},
        {"method-unknown-after-good-fields", opts({display(false), method(t_unknown)})},
        {"method-double", opts({{o_method, 0, {}, {p_one}}})},
        {"method-unset", opts({{o_method, f_unset, {}, {}}})},
    };
    for (const auto &[name, o] : bad_opts)
        solve_reject(name, &o);
    std::printf("seeds written to %s\n", d.c_str());
    return 0;
}
