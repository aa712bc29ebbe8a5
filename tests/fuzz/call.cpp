#include "call.h"

#include "dovex.h"
#include "loader.h"
#include "reference_approx.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

const std::size_t int32_max = 2147483647;
// Arrays with more elements than this are described without data; a call
// that would be accepted with one of them is not run.
const std::size_t data_cap = 1 << 16;
// Nor is one whose work arrays (per feature and per pair) would be larger
// than this: it would only measure the allocator.
const std::size_t work_cap = 1 << 16;
const double sweep_cap = 3.0;

// What an argument is to the gateway: dovex_fit's nine inputs, which
// dovex_solve shares, then dovex_solve's W0 and opts, then any surplus one.
enum role { r_x, r_y, r_xw, r_e, r_z, r_lambda1, r_lambda2, r_tol, r_sweeps, r_w0, r_opts, r_extra };
const char *const names[] = {"X",          "Y",  "XW",   "E",    "Z", "lambda1", "lambda2", "tol",
                             "max_sweeps", "W0", "opts", "extra"};

// dovex_solve's positions of the roles; dovex_fit's are the roles.
const role solve_roles[] = {r_x,       r_y,   r_w0,     r_xw,   r_e,    r_z,
                            r_lambda1, r_lambda2, r_tol, r_sweeps, r_opts, r_extra};

// The fields opts may be given, the options and two that are not: in
// another case, and unknown.
const char *const field_names[] = {"penalty", "weights", "display", "method", "Penalty", "verbose"};
enum { f_penalty, f_weights, f_display, f_method };

// The texts a method field may hold, as UTF-16 units: the methods, and
// near misses (case, a trailing NUL, empty, longer, unknown).
const struct {
    const char *units;
    std::size_t n;
} method_texts[] = {{"bound", 5},   {"quarter", 7}, {"newton", 6},  {"Newton", 6}, {"bound\0", 6},
                    {"", 0},        {"newtons", 7}, {"fista", 5}, {"optimum", 7}};
const char *const method_names[] = {"bound", "quarter", "newton", "optimum"};
const solve_options::curvature_kind method_kinds[] = {solve_options::classes, solve_options::quarter,
                                                      solve_options::newton, solve_options::optimum};

const double palette[32] = {
    0.0,
    -0.0,
    1.0,
    -1.0,
    0.5,
    2.0,
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    std::numeric_limits<double>::denorm_min(),
    -std::numeric_limits<double>::denorm_min(),
    std::numeric_limits<double>::min(),
    std::numeric_limits<double>::max(),
    -std::numeric_limits<double>::max(),
    1e-300,
    1e300,
    709.782712893384, // exp just below overflow
    710.0,            // exp overflows
    -745.2,           // exp underflows to zero
    2147483647.0,
    2147483648.0,
    9007199254740992.0, // 2^53
    1e20,
    -1e20,
    3.0,
    1e-6,
    -1e-6,
    0.99999999999999989, // largest double below 1
    18014398509481984.0, // 2^54: 1 + it rounds back to it
    100.0,
    -std::numeric_limits<double>::quiet_NaN(),
    1.5,
};

// As 64-bit counts; a host with a 32-bit size_t sees those past it as its
// largest size.
const std::uint64_t large_dims[16] = {
    46340,                  // its square still fits in 32 bits
    46341,                  // its square does not
    65535,
    65536,
    100000,
    2147483647,             // the largest 32-bit count
    2147483648,
    3000000000,
    4294967295,
    4294967296,             // wraps to 0 in 32 bits
    std::uint64_t(1) << 40,
    std::uint64_t(1) << 53,
    std::uint64_t(1) << 62,
    UINT64_MAX / 2,
    UINT64_MAX - 1,
    UINT64_MAX,
};

const mxClassID other_classes[14] = {
    mxSINGLE_CLASS, mxINT32_CLASS, mxUINT8_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS,
    mxINT64_CLASS,  mxUINT64_CLASS, mxINT8_CLASS, mxINT16_CLASS,   mxUINT16_CLASS,
    mxUINT32_CLASS, mxCELL_CLASS,   mxSTRUCT_CLASS, mxFUNCTION_CLASS,
};

// Product of dimensions, stuck at SIZE_MAX rather than wrapping, as the
// host counts an array described by its dimensions only.
std::size_t product(const std::vector<std::size_t> &d, std::size_t from)
{
    std::size_t p = 1;
    for (std::size_t i = from; i < d.size(); i++) {
        if (d[i] == 0)
            return 0;
        p = p > SIZE_MAX / d[i] ? SIZE_MAX : p * d[i];
    }
    return p;
}

struct reader {
    const std::uint8_t *p;
    std::size_t n, at;
    std::uint8_t byte() { return at < n ? p[at++] : 0; }
};

double value(std::uint8_t b)
{
    return b < 32 ? palette[b] : (b - 144) / 16.0;
}

// An input as the harness built it, to check the call against.
struct field;
struct arg {
    mxClassID cls = mxDOUBLE_CLASS;
    bool complex = false, sparse = false, data = true;
    int fill = 0;
    std::vector<std::size_t> dims;
    mxArray *a = nullptr;
    std::vector<unsigned char> before; // its data bytes before the call
    const double *pr_before = nullptr;
    bool opts_struct = false;  // an opts struct with fields, set in its first element
    std::vector<field> fields;

    std::size_t rows() const { return dims[0]; }
    std::size_t cols() const { return product(dims, 1); }
    std::size_t numel() const { return product(dims, 0); }
    bool full_double() const { return cls == mxDOUBLE_CLASS && !complex && !sparse; }
    bool sparse_double() const { return cls == mxDOUBLE_CLASS && !complex && sparse; }
};

// A field of an opts struct: unset (NULL), a method text, or any array.
struct field {
    int name = 0;       // into field_names
    bool unset = false;
    int text = -1;      // into method_texts
    arg value;
};

// Every byte of an input's data, a sparse one's indices included.
std::vector<unsigned char> snapshot(const arg &g)
{
    std::vector<unsigned char> b;
    if (!g.data || !g.a)
        return b;
    const std::size_t esize = standin_element_size(g.cls);
    const std::size_t n = (g.sparse ? mxGetNzmax(g.a) : g.numel()) * esize;
    const std::size_t ni = g.sparse ? mxGetNzmax(g.a) * sizeof(mwIndex) : 0;
    const std::size_t nj = g.sparse ? (g.cols() + 1) * sizeof(mwIndex) : 0;
    const struct {
        const void *p;
        std::size_t n;
    } parts[4] = {{mxGetData(g.a), n}, {mxGetPi(g.a), n}, {mxGetIr(g.a), ni}, {mxGetJc(g.a), nj}};
    for (const auto &part : parts)
        if (part.p) {
            const auto *p = static_cast<const unsigned char *>(part.p);
            b.insert(b.end(), p, p + part.n);
        }
    return b;
}

struct model {
    int nlhs, nrhs;
    bool solve; // a dovex_solve call
    std::size_t ns, nd, nc, ny;
    unsigned seed;
    int fit_inputs() const { return solve ? 10 : 9; }
    role role_of(int pos) const
    {
        return solve ? solve_roles[pos] : pos < 9 ? static_cast<role>(pos) : r_extra;
    }
};

std::vector<std::size_t> conforming(const model &m, role r)
{
    switch (r) {
    case r_x: return {m.ns, m.nd};
    case r_y: return {m.ns, m.ny};
    case r_xw:
    case r_e: return {m.ns, m.nc};
    case r_z: return {m.ns, 1};
    case r_w0: return {m.nd, m.nc};
    case r_opts: return {0, 0};
    default: return {1, 1};
    }
}

arg describe_kind(std::uint8_t k, reader &in, std::vector<std::size_t> shape)
{
    arg g;
    g.complex = k & 1;
    g.sparse = k & 2;
    if (k & 4)
        g.cls = other_classes[in.byte() % 14];
    if (k & 8) {
        const std::size_t ndims = 2 + in.byte() % 3;
        for (std::size_t i = 0; i < ndims; i++) {
            const std::uint8_t b = in.byte();
            g.dims.push_back(b < 240 ? b % 10
                                     : static_cast<std::size_t>(
                                           std::min<std::uint64_t>(large_dims[b - 240], SIZE_MAX)));
        }
        // As in MATLAB: no trailing singleton dimensions past the second,
        // and a sparse array is 2-D.
        while (g.dims.size() > 2 && g.dims.back() == 1)
            g.dims.pop_back();
        if (g.sparse && g.dims.size() > 2) {
            g.dims[1] = product(g.dims, 1);
            g.dims.resize(2);
        }
    } else {
        g.dims = std::move(shape);
    }
    g.fill = (k >> 4) & 3;
    // A sparse array also keeps an index per column.
    g.data = g.numel() <= data_cap && (!g.sparse || g.cols() <= data_cap) &&
             standin_element_size(g.cls) > 0;
    return g;
}

// opts (call.h): an array as any argument, or a struct whose fields are
// described in turn.
arg describe_opts(reader &in, const model &m)
{
    const std::uint8_t o = in.byte();
    if (o % 4 == 0)
        return describe_kind(in.byte(), in, conforming(m, r_opts));
    arg g;
    g.cls = mxSTRUCT_CLASS;
    g.data = false;
    g.opts_struct = true;
    g.dims = {1, o % 4 == 3 ? std::size_t(2) : std::size_t(1)};
    const int nfields = in.byte() % 7;
    for (int k = 0; k < nfields; k++) {
        field f;
        f.name = in.byte() % 6;
        const std::uint8_t fk = in.byte();
        if (fk & 0x80)
            f.unset = true;
        else if ((fk & 0x40) && f.name == f_method)
            f.text = in.byte() % std::size(method_texts);
        else
            f.value = describe_kind(fk & 0x3f, in,
                                    f.name == f_penalty   ? std::vector<std::size_t>{m.nd, 1}
                                    : f.name == f_weights ? std::vector<std::size_t>{m.ns, 1}
                                                          : std::vector<std::size_t>{1, 1});
        // Names are unique in a struct: a repeated one is dropped.
        bool repeated = false;
        for (const field &e : g.fields)
            repeated = repeated || e.name == f.name;
        if (!repeated)
            g.fields.push_back(std::move(f));
    }
    return g;
}

arg describe(reader &in, const model &m, int pos)
{
    const role r = m.role_of(pos);
    if (r == r_opts)
        return describe_opts(in, m);
    return describe_kind(in.byte(), in, conforming(m, r));
}

double raw_double(reader &in)
{
    unsigned char b[8];
    for (unsigned char &c : b)
        c = in.byte();
    double v;
    std::memcpy(&v, b, 8);
    return v;
}

void fill_doubles(double *v, std::size_t n, int mode, reader &in)
{
    if (mode == 3) {
        const double c = value(in.byte());
        for (std::size_t i = 0; i < n; i++)
            v[i] = c;
        return;
    }
    for (std::size_t i = 0; i < n; i++)
        v[i] = mode == 1 ? raw_double(in) : value(in.byte());
}

// A sparse real double array from its pattern and values (call.h). One
// that stores nothing may have any dimensions; one that stores something
// has at most data_cap elements, so its dimensions fit the host's ints.
mxArray *sparse_from(const arg &g, reader &in)
{
    const int mode = g.fill == 2 ? 0 : g.fill;
    const double all = mode == 3 ? value(in.byte()) : 0.0;
    std::vector<mwIndex> jc{0}, ir;
    std::vector<double> pr;
    for (std::size_t c = 0; c < g.cols(); c++) {
        for (std::size_t r = 0; r < g.rows(); r++) {
            if (in.byte() == 0)
                continue;
            pr.push_back(mode == 3 ? all : mode == 1 ? raw_double(in) : value(in.byte()));
            ir.push_back(r);
        }
        jc.push_back(ir.size());
    }
    if (pr.empty())
        return standin_array(mxDOUBLE_CLASS, mxREAL, 1, 2, g.dims.data(), 1);
    mxArray *a = mxCreateSparse(static_cast<int>(g.rows()), static_cast<int>(g.cols()),
                                static_cast<int>(pr.size()), mxREAL);
    std::copy(pr.begin(), pr.end(), mxGetPr(a));
    std::copy(ir.begin(), ir.end(), mxGetIr(a));
    std::copy(jc.begin(), jc.end(), mxGetJc(a));
    return a;
}

// full() of an input, in the column-major order the core reads.
std::vector<double> full_of(const arg &g)
{
    std::vector<double> v(g.numel(), 0.0);
    if (!g.sparse) {
        std::copy_n(mxGetPr(g.a), v.size(), v.data());
        return v;
    }
    const mwIndex *jc = mxGetJc(g.a), *ir = mxGetIr(g.a);
    for (std::size_t c = 0; c < g.cols(); c++)
        for (mwIndex m = jc[c]; m < jc[c + 1]; m++)
            v[ir[m] + g.rows() * c] = mxGetPr(g.a)[m];
    return v;
}

// The derived values of a well-formed starting state, when the arrays they
// derive from are there: a one-hot Y, E = exp(XW), Z the row sums of E;
// for opts.penalty and opts.weights valid factors, 0 among them, and for
// opts.display 0 or 1. xw and e are the arguments in those roles, if any.
bool fill_derived(arg &g, role r, int fld, const arg *xw, const arg *e, reader &in)
{
    double *v = mxGetPr(g.a);
    if (r == r_opts) {
        static const double factors[8] = {0.0, 0.5, 1.0, 2.0, 3.0, 0.25, 1.5, 4.0};
        if (fld != f_penalty && fld != f_weights && fld != f_display)
            return false;
        for (std::size_t i = 0; i < g.numel(); i++)
            v[i] = fld == f_display ? in.byte() % 2 : factors[in.byte() % 8];
        return true;
    }
    if (r == r_y && g.dims.size() == 2 && g.cols() > 0) {
        for (std::size_t k = 0; k < g.rows(); k++)
            v[k + g.rows() * (in.byte() % g.cols())] = 1.0;
        return true;
    }
    if (r == r_e && xw && xw->full_double() && xw->data && xw->numel() == g.numel()) {
        const double *p = mxGetPr(xw->a);
        for (std::size_t i = 0; i < g.numel(); i++)
            v[i] = std::exp(p[i]);
        return true;
    }
    if (r == r_z && e && e->full_double() && e->data && e->rows() == g.numel()) {
        const double *ev = mxGetPr(e->a);
        for (std::size_t k = 0; k < e->rows(); k++) {
            double s = 0.0;
            for (std::size_t c = 0; c < e->cols(); c++)
                s += ev[k + e->rows() * c];
            v[k] = s;
        }
        return true;
    }
    return false;
}

void make(arg &g, role r, int fld, const arg *xw, const arg *e, reader &in)
{
    if (g.data && g.sparse_double())
        g.a = sparse_from(g, in);
    else
        g.a = standin_array(g.cls, g.complex ? mxCOMPLEX : mxREAL, g.sparse, g.dims.size(),
                            g.dims.data(), g.data);
    if (!g.a) {
        std::fprintf(stderr, "fuzz: the host could not create an input array\n");
        std::abort();
    }
    if (!g.data || g.sparse)
        return;
    const std::size_t n = g.numel();
    if (g.cls != mxDOUBLE_CLASS) {
        auto *b = static_cast<unsigned char *>(mxGetData(g.a));
        for (std::size_t i = 0; i < n * standin_element_size(g.cls); i++)
            b[i] = in.byte();
        // A logical array holds only 0 and 1, as in MATLAB.
        if (g.cls == mxLOGICAL_CLASS)
            for (std::size_t i = 0; i < n; i++)
                b[i] &= 1;
        return;
    }
    if (!(g.fill == 2 && fill_derived(g, r, fld, xw, e, in)))
        fill_doubles(mxGetPr(g.a), n, g.fill == 2 ? 0 : g.fill, in);
    if (g.complex)
        fill_doubles(mxGetPi(g.a), n, g.fill == 2 ? 0 : g.fill, in);
}

// A method text as a 1 x n char array (0 x 0 when empty, as '' is).
mxArray *text_array(int t)
{
    const std::size_t n = method_texts[t].n;
    const std::size_t dims[2] = {n ? std::size_t(1) : 0, n};
    mxArray *a = standin_array(mxCHAR_CLASS, mxREAL, 0, 2, dims, 1);
    auto *u = static_cast<char16_t *>(mxGetData(a));
    for (std::size_t i = 0; i < n; i++)
        u[i] = static_cast<char16_t>(method_texts[t].units[i]);
    return a;
}

void build(const model &m, std::vector<arg> &args, int pos, const std::vector<int> &at,
           reader &in)
{
    arg &g = args[pos];
    const role r = m.role_of(pos);
    const arg *xw = at[r_xw] >= 0 ? &args[at[r_xw]] : nullptr;
    const arg *e = at[r_e] >= 0 ? &args[at[r_e]] : nullptr;
    if (!g.opts_struct) {
        make(g, r, -1, xw, e, in);
        return;
    }
    std::vector<const char *> fnames;
    for (const field &f : g.fields)
        fnames.push_back(field_names[f.name]);
    g.a = mxCreateStructMatrix(1, static_cast<int>(g.dims[1]), static_cast<int>(fnames.size()),
                               fnames.data());
    for (field &f : g.fields) {
        if (f.unset)
            continue;
        if (f.text >= 0) {
            f.value.cls = mxCHAR_CLASS;
            f.value.a = text_array(f.text);
            f.value.dims = {mxGetM(f.value.a), mxGetN(f.value.a)};
        } else {
            make(f.value, r_opts, f.name, xw, e, in);
        }
        mxSetField(g.a, 0, field_names[f.name], f.value.a);
    }
}

// What the module must do with the call.
struct expectation {
    enum { silent, usage, reject, fit } what = fit;
    std::string who;                // the rejected argument
    std::vector<std::string> ids;   // the identifiers its error may carry
    std::vector<std::string> names; // the argument its message may start with
    bool runnable = true;           // false: the module would read indices not here
    solve_options opts;             // a dovex_solve fit's
    std::size_t texts_read = 0;     // method fields the checks read as text
};

bool too_large(std::uint64_t n)
{
    return n > int32_max;
}

// The class checks come first for an argument, then its shape. Only X may
// be sparse.
bool kind_errors(const std::string &fn, const arg &g, role r, std::vector<std::string> &ids)
{
    if (g.cls != mxDOUBLE_CLASS)
        ids.push_back(fn + ":notDouble");
    if (g.complex)
        ids.push_back(fn + ":complex");
    if (g.sparse && r != r_x)
        ids.push_back(fn + ":sparse");
    return !ids.empty();
}

// A matrix input: 2-D, and no dimension beyond a 32-bit count.
void matrix_errors(const std::string &fn, const arg &g, std::vector<std::string> &ids)
{
    if (g.dims.size() != 2)
        ids.push_back(fn + ":notMatrix");
    else if (too_large(g.rows()) || too_large(g.cols()))
        ids.push_back(fn + ":tooLarge");
}

// Whether a method field spells one of the methods exactly, element for
// element in one row; which, in *kind.
bool method_of(const field &f, solve_options::curvature_kind *kind)
{
    const arg &v = f.value;
    if (v.cls != mxCHAR_CLASS || v.sparse || !v.data || v.rows() != 1)
        return false;
    const auto *u = static_cast<const char16_t *>(mxGetData(v.a));
    for (std::size_t k = 0; k < std::size(method_names); k++) {
        const std::size_t n = std::strlen(method_names[k]);
        bool same = v.numel() == n;
        for (std::size_t i = 0; same && i < n; i++)
            same = u[i] == static_cast<char16_t>(method_names[k][i]);
        if (same) {
            *kind = method_kinds[k];
            return true;
        }
    }
    return false;
}

// Whether a field holds a valid value, into o if so.
bool option_ok(const field &f, std::size_t ns, std::size_t nd, solve_options &o)
{
    const arg &v = f.value;
    if (f.unset)
        return false;
    switch (f.name) {
    case f_penalty:
    case f_weights: {
        if (!v.full_double() || v.numel() != (f.name == f_penalty ? nd : ns))
            return false;
        const double *x = mxGetPr(v.a);
        for (std::size_t k = 0; k < v.numel(); k++)
            if (!(x[k] >= 0 && x[k] < HUGE_VAL))
                return false;
        (f.name == f_penalty ? o.penalty : o.weights) = x;
        return true;
    }
    case f_display: {
        if (v.numel() != 1 || v.sparse || v.complex)
            return false;
        if (v.cls == mxLOGICAL_CLASS) {
            o.display = mxGetLogicals(v.a)[0];
            return true;
        }
        const double x = v.cls == mxDOUBLE_CLASS ? mxGetPr(v.a)[0] : -1.0;
        o.display = x == 1;
        return x == 0 || x == 1;
    }
    case f_method:
        return method_of(f, &o.curvature);
    default:
        return false;
    }
}

// Worked out from the inputs alone, in the order the gateway's checks
// take them: dovex_fit's nine inputs in position order, then dovex_solve's
// W0, then opts and its fields in their order, whose values it reads: with
// built false, before the arrays are made, it leaves opts out.
expectation expect(const model &m, const std::vector<arg> &a, const std::vector<int> &at,
                   bool built)
{
    expectation x;
    const std::string fn = m.solve ? "dovex_solve" : "dovex_fit";
    if (!m.solve && m.nrhs == 0) {
        x.what = expectation::silent;
        return x;
    }
    if (m.solve ? m.nrhs < 10 || m.nrhs > 11 || m.nlhs > 3 : m.nrhs != 9 || m.nlhs != 1) {
        x.what = expectation::usage;
        return x;
    }
    auto reject = [&x](const std::string &who, std::vector<std::string> ids,
                       std::vector<std::string> names) {
        x.what = expectation::reject;
        x.who = who;
        x.ids = std::move(ids);
        x.names = std::move(names);
    };
    // In 64 bits, so that the products below cannot wrap where size_t is
    // 32 bits wide.
    const std::uint64_t ns = a[at[r_x]].rows(), nd = a[at[r_x]].cols();
    const std::uint64_t ny = a[at[r_y]].cols(), nc = a[at[r_xw]].cols();
    for (int ri = r_x; ri <= r_w0 && x.what == expectation::fit; ri++) {
        const role r = static_cast<role>(ri);
        if (at[r] < 0)
            continue;
        const arg &g = a[at[r]];
        std::vector<std::string> ids, who{names[r]};
        if (!kind_errors(fn, g, r, ids)) {
            if (r <= r_e || r == r_w0)
                matrix_errors(fn, g, ids);
            // Products only of counts that each fit in 32 bits, so that
            // they cannot wrap in 64 either.
            const bool fits = ids.empty();
            switch (r) {
            case r_x:
                // A sparse X counts its stored elements, which are few
                // here; the module reads its indices once its dimensions
                // pass.
                if (fits && !g.sparse && too_large(ns * nd))
                    ids.push_back(fn + ":tooLarge");
                if (fits && g.sparse && !g.data)
                    x.runnable = false;
                break;
            case r_y:
                if (g.rows() != ns)
                    ids.push_back(fn + ":badSize");
                if (fits && (too_large(ns * ny) || too_large(nd * ny)))
                    ids.push_back(fn + ":tooLarge");
                break;
            case r_xw:
                if (g.rows() != ns)
                    ids.push_back(fn + ":badSize");
                if (ny < nc) {
                    ids.push_back(fn + ":badSize");
                    who.push_back("Y"); // "Y must have at least nc columns"
                }
                break;
            case r_e:
                if (g.rows() != ns || g.cols() != nc)
                    ids.push_back(fn + ":badSize");
                break;
            case r_z:
                if (g.numel() != ns)
                    ids.push_back(fn + ":badSize");
                break;
            case r_w0:
                if (fits && (g.rows() != nd || g.cols() != nc))
                    ids.push_back(fn + ":badSize");
                break;
            default:
                if (g.numel() == 0)
                    ids.push_back(fn + ":emptyScalar");
            }
        }
        if (!ids.empty())
            reject(names[r], ids, who);
    }
    if (x.what != expectation::fit || at[r_opts] < 0 || !built)
        return x;

    // opts: none when absent or an empty double; else one struct, every
    // field known and valid.
    const arg &o = a[at[r_opts]];
    const std::vector<std::string> bad{"dovex_solve:badOption"};
    if (o.cls == mxDOUBLE_CLASS && o.numel() == 0)
        return x;
    if (o.cls != mxSTRUCT_CLASS || o.numel() != 1) {
        reject("opts", bad, {"opts"});
        return x;
    }
    for (const field &f : o.fields) {
        x.texts_read += f.name == f_method && !f.unset;
        if (!option_ok(f, ns, nd, x.opts)) {
            const std::string who = std::string("opts.") + field_names[f.name];
            reject(who, bad, {who});
            break;
        }
    }
    return x;
}

[[noreturn]] void fail(const char *what, const std::string &detail = "")
{
    std::fprintf(stderr, "fuzz: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stderr);
    std::abort();
}

void require(bool ok, const char *what, const std::string &detail = "")
{
    if (!ok)
        fail(what, detail);
}

bool contains(const std::vector<std::string> &v, const std::string &s)
{
    for (const std::string &e : v)
        if (e == s)
            return true;
    return false;
}

bool starts_with(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

mex_module *fit_module = nullptr, *solve_module = nullptr;

const char usage_line[] = "Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n";
const char solve_usage_line[] =
    "Usage: [W, info, XW] = dovex_solve(X,Y,W0,XW,E,Z,lambda1,lambda2,tol,max_sweeps,opts)\n";

// The same bits, except that for a sparse X any NaN matches any NaN: where
// two NaNs meet, which one an operation passes on is the machine code's
// choice, and the full and the compressed paths are different machine code.
bool same_w(const double *expected, const double *got, std::size_t n, bool any_nan)
{
    for (std::size_t p = 0; p < n; p++)
        if (std::memcmp(&expected[p], &got[p], sizeof(double)) != 0 &&
            !(any_nan && std::isnan(expected[p]) && std::isnan(got[p])))
            return false;
    return true;
}

// info as the gateway gives it: sweeps, diffs and visits as the reference
// recorded them; converged when the last diff was tol or less, or the 0/0
// of a W still all zero.
void check_info(const mxArray *info, const reference_record &rec, const std::vector<double> &w,
                double tol)
{
    require(info && mxIsStruct(info) && mxGetNumberOfElements(info) == 1 &&
                mxGetNumberOfFields(info) == 4,
            "info is not a struct of four fields");
    const std::size_t n = rec.diffs.size();
    const mxArray *sweeps = mxGetField(info, 0, "sweeps"), *diffs = mxGetField(info, 0, "diffs");
    const mxArray *visits = mxGetField(info, 0, "visits"), *conv = mxGetField(info, 0, "converged");
    require(sweeps && mxIsDouble(sweeps) && mxGetNumberOfElements(sweeps) == 1 &&
                mxGetPr(sweeps)[0] == static_cast<double>(n),
            "info.sweeps is not the number of sweeps the reference ran");
    for (const mxArray *v : {diffs, visits})
        require(v && mxIsDouble(v) && !mxIsComplex(v) && mxGetM(v) == n && mxGetN(v) == 1,
                "info.diffs or info.visits is not sweeps x 1");
    // A NaN diff's sign and payload are the machine code's choice, as in
    // the differential test: any NaN matches any NaN there.
    require(n == 0 || same_w(rec.diffs.data(), mxGetPr(diffs), n, true),
            "info.diffs differs from the reference's");
    require(n == 0 || same_w(rec.visits.data(), mxGetPr(visits), n, false),
            "info.visits differs from the reference's");
    bool done = false;
    if (n > 0) {
        const double last = rec.diffs.back();
        done = last <= tol;
        if (std::isnan(last)) {
            done = true;
            for (double v : w)
                done = done && v == 0;
        }
    }
    require(conv && mxIsLogical(conv) && mxGetNumberOfElements(conv) == 1 &&
                mxGetLogicals(conv)[0] == done,
            "info.converged is not as its definition says");
}

// A fit of the optimum method, which has no reference: what it returns is
// of the right shapes, it draws nothing from rand(), converged says the
// distance is tol or less, and a second call gives the same bits.
void check_optimum(const std::vector<arg> &a, const std::vector<int> &at, int nlhs,
                   mxArray *const plhs[], int next_draw, unsigned seed)
{
    const std::size_t nd = a[at[r_x]].cols(), nc = a[at[r_xw]].cols(), ns = a[at[r_x]].rows();
    std::srand(seed);
    require(next_draw == std::rand(), "the optimum method drew from rand()");
    const double max_sweeps = mxGetPr(a[at[r_sweeps]].a)[0];
    const double tol = mxGetPr(a[at[r_tol]].a)[0];
    if (nlhs >= 2) {
        const mxArray *info = plhs[1];
        require(info && mxIsStruct(info) && mxGetNumberOfFields(info) == 7,
                "info of the optimum method is not a struct of seven fields");
        const mxArray *sweeps = mxGetField(info, 0, "sweeps"), *diffs = mxGetField(info, 0, "diffs");
        const mxArray *gap = mxGetField(info, 0, "gap"), *conv = mxGetField(info, 0, "converged");
        const mxArray *gradient = mxGetField(info, 0, "gradient");
        const mxArray *objective = mxGetField(info, 0, "objective");
        require(sweeps && mxGetNumberOfElements(sweeps) == 1 && mxGetPr(sweeps)[0] >= 0 &&
                    (mxGetPr(sweeps)[0] == 0 || mxGetPr(sweeps)[0] <= max_sweeps) && diffs &&
                    mxGetM(diffs) == static_cast<std::size_t>(mxGetPr(sweeps)[0]),
                "info.sweeps is above max_sweeps or not the number of diffs",
                std::to_string(sweeps ? mxGetPr(sweeps)[0] : -1) + " sweeps, max_sweeps " +
                    std::to_string(max_sweeps));
        require(gap && objective && mxGetNumberOfElements(gap) == 1 &&
                    mxGetNumberOfElements(objective) == 1 && gradient &&
                    mxGetM(gradient) == nd && mxGetN(gradient) == nc,
                "info.gap, objective or gradient of the wrong shape");
        require(conv && mxIsLogical(conv) && (!mxGetLogicals(conv)[0] || mxGetPr(gap)[0] <= tol),
                "info.converged with a distance above tol");
    }
    if (nlhs == 3)
        require(mxGetM(plhs[2]) == ns && mxGetN(plhs[2]) == nc, "the third output is not ns x nc");
    std::vector<const mxArray *> prhs;
    for (const arg &g : a)
        prhs.push_back(g.a);
    mxArray *again[4] = {nullptr, nullptr, nullptr, nullptr};
    standin_outcome out;
    standin_clear_output();
    mex_call(solve_module, 1, again, static_cast<int>(prhs.size()), prhs.data(), &out);
    standin_clear_output();
    require(!out.failed && again[0] && same_w(mxGetPr(plhs[0]), mxGetPr(again[0]), nd * nc, true),
            "a second call of the optimum method gave other bits");
    mxDestroyArray(again[0]);
}

// The fit the module should have made, from the core (dovex_fit) or the
// reference (dovex_solve) on copies of the same inputs (with X full, for a
// sparse X full(X)), from the same rand() state; the rand() draws the same
// too (next_draw, the draw after the module's call).
void check_fit(const model &m, const std::vector<arg> &a, const std::vector<int> &at,
               const expectation &x, mxArray *const plhs[], const std::string &printed,
               int next_draw)
{
    const mxArray *W = plhs[0];
    require(W != nullptr, "an accepted call returned no W");
    const std::size_t nd = a[at[r_x]].cols(), nc = a[at[r_xw]].cols(), ns = a[at[r_x]].rows(),
                      ny = a[at[r_y]].cols();
    require(mxIsDouble(W) && !mxIsComplex(W) && !mxIsSparse(W) &&
                mxGetNumberOfDimensions(W) == 2,
            "W is not a real full double matrix");
    require(mxGetM(W) == nd && mxGetN(W) == nc, "W is not nd x nc",
            std::to_string(mxGetM(W)) + "x" + std::to_string(mxGetN(W)) + " for " +
                std::to_string(nd) + "x" + std::to_string(nc));

    // One element at least, so that no empty buffer is a null pointer.
    auto copy = [](const arg &g) {
        std::vector<double> v(std::max<std::size_t>(g.numel(), 1));
        std::memcpy(v.data(), mxGetPr(g.a), g.numel() * sizeof(double));
        return v;
    };
    std::vector<double> X = full_of(a[at[r_x]]), XW = copy(a[at[r_xw]]), E = copy(a[at[r_e]]),
                        Z = copy(a[at[r_z]]);
    X.resize(std::max<std::size_t>(X.size(), 1));
    std::vector<double> w(std::max<std::size_t>(nd * nc, 1), 0.0);
    if (m.solve)
        w = copy(a[at[r_w0]]);
    const double scalar[4] = {mxGetPr(a[at[r_lambda1]].a)[0], mxGetPr(a[at[r_lambda2]].a)[0],
                              mxGetPr(a[at[r_tol]].a)[0], mxGetPr(a[at[r_sweeps]].a)[0]};
    const std::int32_t counts[4] = {static_cast<std::int32_t>(nd), static_cast<std::int32_t>(ns),
                                    static_cast<std::int32_t>(ny), static_cast<std::int32_t>(nc)};
    const bool sparse = a[at[r_x]].sparse;
    if (m.solve && x.opts.curvature == solve_options::optimum) {
        check_optimum(a, at, m.nlhs, plhs, next_draw, m.seed);
        return;
    }
    reference_record rec;
    standin_clear_output();
    std::srand(m.seed);
    if (m.solve)
        reference_approx(w.data(), X.data(), mxGetPr(a[at[r_y]].a), XW.data(), E.data(), Z.data(),
                         scalar[0], scalar[1], scalar[2], scalar[3], counts[0], counts[1],
                         counts[2], counts[3], nullptr, &x.opts, &rec);
    else
        dovex_approx(w.data(), X.data(), mxGetPr(a[at[r_y]].a), XW.data(), E.data(), Z.data(),
                     scalar[0], scalar[1], scalar[2], scalar[3], counts[0], counts[1], counts[2],
                     counts[3]);
    const int draw = std::rand();
    const char *by = m.solve ? "the reference" : "a direct call of the core";
    // dovex_solve is held to the reference, other code than the module's:
    // there, as for a sparse X, a NaN's payload is that code's choice.
    require(same_w(w.data(), mxGetPr(W), nd * nc, sparse || m.solve), "W differs from", by);
    require(printed == standin_output(), "progress text differs from", by);
    require(next_draw == draw, "rand() draws differ from", by);
    standin_clear_output();
    if (m.solve && m.nlhs >= 2) {
        w.resize(nd * nc);
        check_info(plhs[1], rec, w, scalar[2]);
    }
    // Any NaN matches any NaN in XW, as in the record and the differential
    // test: its payload is the machine code's choice.
    if (m.solve && m.nlhs == 3)
        require(mxGetM(plhs[2]) == static_cast<std::size_t>(counts[1]) &&
                    mxGetN(plhs[2]) == static_cast<std::size_t>(counts[3]) &&
                    same_w(XW.data(), mxGetPr(plhs[2]), counts[1] * counts[3], true),
                "the third output differs from the reference's XW");
}

// An input's header and bytes as they were before the call; for an opts
// struct, every field's value too.
void check_unchanged(const arg &g, const std::string &which)
{
    require(mxGetClassID(g.a) == g.cls && mxIsComplex(g.a) == g.complex &&
                mxIsSparse(g.a) == g.sparse &&
                mxGetNumberOfDimensions(g.a) == static_cast<int>(g.dims.size()) &&
                mxGetM(g.a) == g.rows() && mxGetN(g.a) == g.cols(),
            "an input's header changed", which);
    require(mxGetPr(g.a) == g.pr_before && snapshot(g) == g.before, "an input's data changed",
            which);
    for (const field &f : g.fields) {
        const std::string name = which + "." + field_names[f.name];
        require(mxGetField(g.a, 0, field_names[f.name]) == f.value.a, "a field was replaced",
                name);
        if (!f.unset)
            check_unchanged(f.value, name);
    }
}

void take_snapshots(arg &g)
{
    g.before = snapshot(g);
    g.pr_before = g.data ? mxGetPr(g.a) : nullptr;
    for (field &f : g.fields)
        if (!f.unset)
            take_snapshots(f.value);
}

} // namespace

void open_modules()
{
    const struct {
        const char *env, *file;
        mex_module **m;
    } modules[] = {{"DOVEX_MODULE", DOVEX_MODULE_FILE, &fit_module},
                   {"DOVEX_SOLVE_MODULE", DOVEX_SOLVE_MODULE_FILE, &solve_module}};
    for (const auto &mod : modules) {
        const char *env = std::getenv(mod.env);
        char err[512];
        *mod.m = mex_open(env && *env ? env : mod.file, err, sizeof err);
        if (!*mod.m) {
            std::fprintf(stderr, "fuzz: %s\n", err);
            std::exit(2);
        }
    }
}

bool run_call(const std::uint8_t *data, std::size_t size)
{
    reader in{data, size, 0};
    model m;
    const std::uint8_t first = in.byte();
    m.nlhs = first % 4;
    m.solve = first & 4;
    m.nrhs = in.byte() % (m.solve ? 13 : 12);
    m.ns = in.byte() % 9;
    m.nd = in.byte() % 9;
    m.nc = in.byte() % 5;
    m.ny = m.nc + in.byte() % 3;
    m.seed = in.byte();

    std::vector<arg> args;
    std::vector<int> at(r_extra + 1, -1); // the position of each role
    for (int pos = 0; pos < m.nrhs; pos++) {
        args.push_back(describe(in, m, pos));
        at[m.role_of(pos)] = pos;
    }
    if (!expect(m, args, at, false).runnable)
        return false;
    if (expect(m, args, at, false).what == expectation::fit) {
        const arg &X = args[at[r_x]];
        bool small = X.cols() <= work_cap && args[at[r_y]].cols() * X.cols() <= work_cap;
        for (int r = r_x; r <= r_w0; r++)
            small = small && (at[r] < 0 || args[at[r]].data);
        if (!small)
            return false;
    }

    for (int pos = 0; pos < m.nrhs; pos++)
        build(m, args, pos, at, in);
    // A small sweep limit keeps every call quick; its edges below 1 and NaN
    // stay as they are.
    if (at[r_sweeps] >= 0 && args[at[r_sweeps]].full_double() && args[at[r_sweeps]].data &&
        args[at[r_sweeps]].numel() > 0) {
        double *ms = mxGetPr(args[at[r_sweeps]].a);
        if (ms[0] > sweep_cap)
            ms[0] = sweep_cap;
    }
    const expectation x = expect(m, args, at, true);
    std::vector<const mxArray *> prhs;
    for (arg &g : args) {
        take_snapshots(g);
        prhs.push_back(g.a);
    }

    mxArray *plhs[4] = {nullptr, nullptr, nullptr, nullptr};
    standin_outcome out;
    std::srand(m.seed);
    mex_call(m.solve ? solve_module : fit_module, m.nlhs, plhs, m.nrhs, prhs.data(), &out);
    const int next_draw = std::rand();
    const std::string printed = standin_output();
    const std::size_t evals = standin_eval_count();

    // Whatever the outcome: the inputs as they were, nothing left behind.
    for (std::size_t pos = 0; pos < args.size(); pos++)
        check_unchanged(args[pos], "argument " + std::to_string(pos + 1));
    require(out.left_blocks == 0 && standin_live_blocks() == 0, "scratch memory left allocated",
            std::to_string(out.left_blocks) + " blocks, " + std::to_string(out.left_bytes) +
                " bytes");
    require(out.arrays_left == 0, "arrays created and not returned");
    require(out.bad_frees == 0, "freed memory the host never gave");

    const std::string message = out.message, id = out.id;
    switch (x.what) {
    case expectation::silent:
        require(!out.failed && plhs[0] == nullptr && printed.empty() && out.callocs == 0 &&
                    out.arrays_created == 0,
                "a call without inputs did something");
        break;
    case expectation::usage:
        if (m.solve)
            require(out.failed && id == "dovex_solve:badCount" &&
                        starts_with(message, "dovex_solve takes 10 or 11 inputs") &&
                        printed == solve_usage_line,
                    "wrong argument counts not refused with the usage line", message);
        else
            require(out.failed && id.empty() && message == "Incorrect number of arguments." &&
                        printed == usage_line,
                    "wrong argument counts not refused with the usage line", message);
        require(out.callocs == 0 && out.arrays_created == 0, "allocated before the count check");
        break;
    case expectation::reject: {
        require(out.failed, "a bad input was accepted", x.who);
        require(contains(x.ids, id), "wrong identifier", id + " for " + x.who + ": " + message);
        bool named = false;
        for (const std::string &n : x.names)
            named = named || starts_with(message, n + " ");
        require(named && message.size() > 1 && message.back() == '.',
                "the message does not name the argument and end with a full stop", message);
        require(printed.empty() && out.arrays_created == 0,
                "printed or made an array before the input checks");
        // dovex_solve reads opts.method with mxArrayToString, which takes
        // scratch memory (and gives it back, as checked above).
        require(out.callocs <= x.texts_read, "allocated before the input checks");
        break;
    }
    case expectation::fit:
        require(!out.failed, "a good call was refused", id + ": " + message);
        // One drawnow after each progress line, and no more lines than sweeps.
        require(evals == static_cast<std::size_t>(std::count(printed.begin(), printed.end(), '\n')) &&
                    evals <= sweep_cap,
                "progress lines and drawnow calls do not pair up", printed);
        require(x.opts.display || printed.empty(), "printed with display false", printed);
        for (std::size_t i = 0; i < evals; i++)
            require(std::strcmp(standin_eval(i), "drawnow") == 0, "not drawnow", standin_eval(i));
        check_fit(m, args, at, x, plhs, printed, next_draw);
        break;
    }

    // DOVEX_FUZZ_TRACE=1 shows what each call did, to follow an input by hand.
    if (const char *t = std::getenv("DOVEX_FUZZ_TRACE"); t && *t == '1') {
        std::fprintf(stderr, "  %s: ", m.solve ? "dovex_solve" : "dovex_fit");
        if (out.failed)
            std::fprintf(stderr, "error %s: %s\n", out.id, out.message);
        else if (plhs[0])
            std::fprintf(stderr, "W %zux%zu, %zu progress lines%s\n", mxGetM(plhs[0]),
                         mxGetN(plhs[0]), evals,
                         x.opts.curvature == solve_options::optimum ? ", method optimum" : "");
        else
            std::fprintf(stderr, "no output\n");
    }

    for (mxArray *p : plhs)
        mxDestroyArray(p);
    for (arg &g : args)
        mxDestroyArray(g.a);
    require(standin_live_blocks() == 0, "scratch memory left after the check");
    return true;
}
