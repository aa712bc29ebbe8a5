#include "call.h"

#include "dovex.h"
#include "loader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

const char *const names[] = {"X", "Y", "XW", "E", "Z", "lambda1", "lambda2", "tol", "max_sweeps"};

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
struct arg {
    mxClassID cls = mxDOUBLE_CLASS;
    bool complex = false, sparse = false, data = true;
    int fill = 0;
    std::vector<std::size_t> dims;
    mxArray *a = nullptr;
    std::vector<unsigned char> before; // its data bytes before the call
    const double *pr_before = nullptr;

    std::size_t rows() const { return dims[0]; }
    std::size_t cols() const { return product(dims, 1); }
    std::size_t numel() const { return product(dims, 0); }
    bool full_double() const { return cls == mxDOUBLE_CLASS && !complex && !sparse; }
    bool sparse_double() const { return cls == mxDOUBLE_CLASS && !complex && sparse; }
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
    std::size_t ns, nd, nc, ny;
    unsigned seed;
};

std::vector<std::size_t> conforming(const model &m, int pos)
{
    switch (pos) {
    case 0: return {m.ns, m.nd};
    case 1: return {m.ns, m.ny};
    case 2:
    case 3: return {m.ns, m.nc};
    case 4: return {m.ns, 1};
    default: return {1, 1};
    }
}

arg describe(reader &in, const model &m, int pos)
{
    arg g;
    const std::uint8_t k = in.byte();
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
        g.dims = conforming(m, pos);
    }
    g.fill = (k >> 4) & 3;
    // A sparse array also keeps an index per column.
    g.data = g.numel() <= data_cap && (!g.sparse || g.cols() <= data_cap) &&
             standin_element_size(g.cls) > 0;
    return g;
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
// derive from are there: a one-hot Y, E = exp(XW), Z the row sums of E.
bool fill_derived(std::vector<arg> &args, int pos, reader &in)
{
    arg &g = args[pos];
    double *v = mxGetPr(g.a);
    if (pos == 1 && g.dims.size() == 2 && g.cols() > 0) {
        for (std::size_t r = 0; r < g.rows(); r++)
            v[r + g.rows() * (in.byte() % g.cols())] = 1.0;
        return true;
    }
    if (pos == 3 && args[2].full_double() && args[2].data && args[2].numel() == g.numel()) {
        const double *xw = mxGetPr(args[2].a);
        for (std::size_t i = 0; i < g.numel(); i++)
            v[i] = std::exp(xw[i]);
        return true;
    }
    if (pos == 4 && args[3].full_double() && args[3].data && args[3].rows() == g.numel()) {
        const arg &e = args[3];
        const double *ev = mxGetPr(e.a);
        for (std::size_t r = 0; r < e.rows(); r++) {
            double s = 0.0;
            for (std::size_t c = 0; c < e.cols(); c++)
                s += ev[r + e.rows() * c];
            v[r] = s;
        }
        return true;
    }
    return false;
}

void build(std::vector<arg> &args, int pos, reader &in)
{
    arg &g = args[pos];
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
        return;
    }
    if (!(g.fill == 2 && fill_derived(args, pos, in)))
        fill_doubles(mxGetPr(g.a), n, g.fill == 2 ? 0 : g.fill, in);
    if (g.complex)
        fill_doubles(mxGetPi(g.a), n, g.fill == 2 ? 0 : g.fill, in);
}

// What the module must do with the call.
struct expectation {
    enum { silent, usage, reject, fit } what = fit;
    int pos = -1;                   // the rejected argument
    std::vector<std::string> ids;   // the identifiers its error may carry
    std::vector<std::string> names; // the argument its message may start with
    bool runnable = true;           // false: the module would read indices not here
};

bool too_large(std::uint64_t n)
{
    return n > int32_max;
}

void add(std::vector<std::string> &v, const char *s)
{
    v.push_back(s);
}

// The class checks come first for an argument, then its shape. Only X may
// be sparse.
bool kind_errors(const arg &g, int pos, std::vector<std::string> &ids)
{
    if (g.cls != mxDOUBLE_CLASS)
        add(ids, "dovex_fit:notDouble");
    if (g.complex)
        add(ids, "dovex_fit:complex");
    if (g.sparse && pos != 0)
        add(ids, "dovex_fit:sparse");
    return !ids.empty();
}

// A matrix input: 2-D, and no dimension beyond a 32-bit count.
void matrix_errors(const arg &g, std::vector<std::string> &ids)
{
    if (g.dims.size() != 2)
        add(ids, "dovex_fit:notMatrix");
    else if (too_large(g.rows()) || too_large(g.cols()))
        add(ids, "dovex_fit:tooLarge");
}

// Worked out from the inputs alone, in position order, as the contract of
// the gateway's checks states them.
expectation expect(const model &m, const std::vector<arg> &a)
{
    expectation x;
    if (m.nrhs == 0) {
        x.what = expectation::silent;
        return x;
    }
    if (m.nrhs != 9 || m.nlhs != 1) {
        x.what = expectation::usage;
        return x;
    }
    // In 64 bits, so that the products below cannot wrap where size_t is
    // 32 bits wide.
    const std::uint64_t ns = a[0].rows(), nd = a[0].cols();
    const std::uint64_t ny = a[1].cols(), nc = a[2].cols();
    for (int pos = 0; pos < 9 && x.what == expectation::fit; pos++) {
        const arg &g = a[pos];
        std::vector<std::string> ids, who{names[pos]};
        if (!kind_errors(g, pos, ids)) {
            if (pos <= 3)
                matrix_errors(g, ids);
            // Products only of counts that each fit in 32 bits, so that
            // they cannot wrap in 64 either.
            const bool fits = ids.empty();
            switch (pos) {
            case 0:
                // A sparse X counts its stored elements, which are few
                // here; the module reads its indices once its dimensions
                // pass.
                if (fits && !g.sparse && too_large(ns * nd))
                    add(ids, "dovex_fit:tooLarge");
                if (fits && g.sparse && !g.data)
                    x.runnable = false;
                break;
            case 1:
                if (g.rows() != ns)
                    add(ids, "dovex_fit:badSize");
                if (fits && (too_large(ns * ny) || too_large(nd * ny)))
                    add(ids, "dovex_fit:tooLarge");
                break;
            case 2:
                if (g.rows() != ns)
                    add(ids, "dovex_fit:badSize");
                if (ny < nc) {
                    add(ids, "dovex_fit:badSize");
                    add(who, "Y"); // "Y must have at least nc columns"
                }
                break;
            case 3:
                if (g.rows() != ns || g.cols() != nc)
                    add(ids, "dovex_fit:badSize");
                break;
            case 4:
                if (g.numel() != ns)
                    add(ids, "dovex_fit:badSize");
                break;
            default:
                if (g.numel() == 0)
                    add(ids, "dovex_fit:emptyScalar");
            }
        }
        if (!ids.empty()) {
            x.what = expectation::reject;
            x.pos = pos;
            x.ids = ids;
            x.names = who;
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

mex_module *the_module = nullptr;

const char usage_line[] = "Usage: W = dovex_fit(X,Y,XW,E,Z,lambda1,lambda2,tol,max_sweeps)\n";

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

// The fit the module should have made, from a direct call of the core on
// copies of the same inputs (with X full, for a sparse X full(X)), from the
// same rand() state.
void check_fit(const model &m, const std::vector<arg> &a, const mxArray *W,
               const std::string &printed)
{
    require(W != nullptr, "an accepted call returned no W");
    const std::size_t nd = a[0].cols(), nc = a[2].cols(), ns = a[0].rows(), ny = a[1].cols();
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
    std::vector<double> X = full_of(a[0]), XW = copy(a[2]), E = copy(a[3]), Z = copy(a[4]);
    X.resize(std::max<std::size_t>(X.size(), 1));
    std::vector<double> w(std::max<std::size_t>(nd * nc, 1), 0.0);
    const double scalar[4] = {mxGetPr(a[5].a)[0], mxGetPr(a[6].a)[0], mxGetPr(a[7].a)[0],
                              mxGetPr(a[8].a)[0]};
    standin_clear_output();
    std::srand(m.seed);
    dovex_approx(w.data(), X.data(), mxGetPr(a[1].a), XW.data(), E.data(), Z.data(),
                 scalar[0], scalar[1], scalar[2], scalar[3], static_cast<std::int32_t>(nd),
                 static_cast<std::int32_t>(ns), static_cast<std::int32_t>(ny),
                 static_cast<std::int32_t>(nc));
    require(same_w(w.data(), mxGetPr(W), nd * nc, a[0].sparse),
            "W differs from a direct call of the core");
    require(printed == standin_output(), "progress text differs from a direct call of the core",
            printed);
    standin_clear_output();
}

} // namespace

void open_module(const char *path)
{
    char err[512];
    the_module = mex_open(path, err, sizeof err);
    if (!the_module) {
        std::fprintf(stderr, "fuzz: %s\n", err);
        std::exit(2);
    }
}

const char *module_path()
{
    const char *env = std::getenv("DOVEX_MODULE");
    return env && *env ? env : DOVEX_MODULE_FILE;
}

bool run_call(const std::uint8_t *data, std::size_t size)
{
    reader in{data, size, 0};
    model m;
    m.nlhs = in.byte() % 4;
    m.nrhs = in.byte() % 12;
    m.ns = in.byte() % 9;
    m.nd = in.byte() % 9;
    m.nc = in.byte() % 5;
    m.ny = m.nc + in.byte() % 3;
    m.seed = in.byte();

    std::vector<arg> args;
    for (int pos = 0; pos < m.nrhs; pos++)
        args.push_back(describe(in, m, pos));
    const expectation x = expect(m, args);
    if (!x.runnable)
        return false;
    if (x.what == expectation::fit) {
        bool small = args[0].cols() <= work_cap && args[1].cols() * args[0].cols() <= work_cap;
        for (int pos = 0; pos < 9; pos++)
            small = small && args[pos].data;
        if (!small)
            return false;
    }

    for (int pos = 0; pos < m.nrhs; pos++)
        build(args, pos, in);
    // A small sweep limit keeps every call quick; its edges below 1 and NaN
    // stay as they are.
    if (m.nrhs > 8 && args[8].full_double() && args[8].data && args[8].numel() > 0) {
        double *ms = mxGetPr(args[8].a);
        if (ms[0] > sweep_cap)
            ms[0] = sweep_cap;
    }
    std::vector<const mxArray *> prhs;
    for (arg &g : args) {
        g.before = snapshot(g);
        g.pr_before = g.data ? mxGetPr(g.a) : nullptr;
        prhs.push_back(g.a);
    }

    mxArray *plhs[4] = {nullptr, nullptr, nullptr, nullptr};
    standin_outcome out;
    std::srand(m.seed);
    mex_call(the_module, m.nlhs, plhs, m.nrhs, prhs.data(), &out);
    const std::string printed = standin_output();
    const std::size_t evals = standin_eval_count();

    // Whatever the outcome: the inputs as they were, nothing left behind.
    for (std::size_t pos = 0; pos < args.size(); pos++) {
        const arg &g = args[pos];
        const std::string which = "argument " + std::to_string(pos + 1);
        require(mxGetClassID(g.a) == g.cls && mxIsComplex(g.a) == g.complex &&
                    mxIsSparse(g.a) == g.sparse &&
                    mxGetNumberOfDimensions(g.a) == static_cast<int>(g.dims.size()) &&
                    mxGetM(g.a) == g.rows() && mxGetN(g.a) == g.cols(),
                "an input's header changed", which);
        require(mxGetPr(g.a) == g.pr_before && snapshot(g) == g.before,
                "an input's data changed", which);
    }
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
        require(out.failed && id.empty() && message == "Incorrect number of arguments." &&
                    printed == usage_line,
                "wrong argument counts not refused with the usage line", message);
        require(out.callocs == 0 && out.arrays_created == 0, "allocated before the count check");
        break;
    case expectation::reject: {
        require(out.failed, "a bad input was accepted", names[x.pos]);
        require(contains(x.ids, id), "wrong identifier",
                id + " for " + names[x.pos] + ": " + message);
        bool named = false;
        for (const std::string &n : x.names)
            named = named || starts_with(message, n + " ");
        require(named && message.size() > 1 && message.back() == '.',
                "the message does not name the argument and end with a full stop", message);
        require(printed.empty() && out.callocs == 0 && out.arrays_created == 0,
                "printed or allocated before the input checks");
        break;
    }
    case expectation::fit:
        require(!out.failed, "a good call was refused", id + ": " + message);
        // One drawnow after each progress line, and no more lines than sweeps.
        require(evals == static_cast<std::size_t>(std::count(printed.begin(), printed.end(), '\n')) &&
                    evals <= sweep_cap,
                "progress lines and drawnow calls do not pair up", printed);
        for (std::size_t i = 0; i < evals; i++)
            require(std::strcmp(standin_eval(i), "drawnow") == 0, "not drawnow", standin_eval(i));
        check_fit(m, args, plhs[0], printed);
        break;
    }

    // DOVEX_FUZZ_TRACE=1 shows what each call did, to follow an input by hand.
    if (const char *t = std::getenv("DOVEX_FUZZ_TRACE"); t && *t == '1') {
        if (out.failed)
            std::fprintf(stderr, "  error %s: %s\n", out.id, out.message);
        else if (plhs[0])
            std::fprintf(stderr, "  W %zux%zu, %zu progress lines\n", mxGetM(plhs[0]),
                         mxGetN(plhs[0]), evals);
        else
            std::fprintf(stderr, "  no output\n");
    }

    for (mxArray *p : plhs)
        mxDestroyArray(p);
    for (arg &g : args)
        mxDestroyArray(g.a);
    require(standin_live_blocks() == 0, "scratch memory left after the check");
    return true;
}
