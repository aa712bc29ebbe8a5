// wine_calls: the Windows half of the wine tests. A Windows program, built
// for each architecture, that loads the modules (dovex_fit.mexw64 or
// dovex_fit.mexw32, dovex_solve's, ...) through the stand-in host (libmx.dll, libmex.dll) and
// makes the calls named on its command line, so that one start of wine
// serves the whole suite. It prints a block per call for the Linux side to
// read and judge; it checks nothing itself.
//
//   wine_calls MODULE CALL...
//     draws:SEED:N   srand(SEED), then N values of rand()
//     call:FILE      srand(SEED) and the call described in FILE, then the
//                    next rand() value
//     seeder:PATH    loads PATH, a module called as NAME(s) to seed rand()
//     seeded:S:FILE  the seeder called with S instead of srand(SEED), then
//                    the call in FILE, as call: does
//     probe:PATH     loads PATH, a module called as [checks, info] =
//                    NAME(opts) (tests/windows/host_probe.cpp)
//     module:PATH    loads PATH, the module the calls after it make
//
// FILE, written by the test: int32 seed, nlhs, nrhs, then per input int32
// rows, cols and rows*cols doubles, all little-endian; rows -1 is a 1 x 1
// struct of cols fields, each an int32 name length, the name and its value
// as an input; rows -2 a char row of cols bytes; rows -3 the logical
// scalar cols.
//
// A block is "case ARG", then "key value" lines, then "end". Text values
// escape backslash and newline; doubles are printed as their 64-bit
// patterns in hex, so nothing is lost to formatting. A struct output is
// printed as its fields, each NAME:CLASS:MxN, and :TEXT for a char one;
// then each double field on a line "field SLOT.NAME M N VALUES".
#include "loader.h"

#include <xmmintrin.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string escaped(const char *s)
{
    std::string e;
    for (; *s; s++) {
        if (*s == '\\')
            e += "\\\\";
        else if (*s == '\n')
            e += "\\n";
        else
            e += *s;
    }
    return e;
}

std::string hex_bits(double v)
{
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(u));
    return buf;
}

unsigned x87_control_word()
{
    unsigned short cw = 0;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

// The SSE control and status register, where the module's arithmetic takes
// its rounding mode; without the sticky exception flags a fit may raise.
unsigned sse_control()
{
    return _mm_getcsr() & ~0x3fu;
}

bool read_i32(FILE *f, std::int32_t &v)
{
    return std::fread(&v, sizeof v, 1, f) == 1;
}

void draws(const char *arg)
{
    unsigned seed = 0;
    int n = 0;
    if (std::sscanf(arg, "draws:%u:%d", &seed, &n) != 2) {
        std::printf("case %s\nerror bad arguments\nend\n", arg);
        return;
    }
    std::srand(seed);
    std::printf("case %s\nvalues", arg);
    for (int i = 0; i < n; i++)
        std::printf(" %d", std::rand());
    std::printf("\nrand_max %d\nend\n", RAND_MAX);
}

void print_doubles(const std::string &key, const mxArray *a)
{
    std::printf("%s %zu %zu", key.c_str(), mxGetM(a), mxGetN(a));
    const double *p = mxGetPr(a);
    for (std::size_t k = 0; k < mxGetNumberOfElements(a); k++)
        std::printf(" %s", hex_bits(p[k]).c_str());
    std::printf("\n");
}

// One input of a call FILE, a struct's fields read in turn; NULL when the
// file ends early or is malformed.
mxArray *read_input(FILE *f, int depth = 0)
{
    std::int32_t rows = 0, cols = 0;
    if (!read_i32(f, rows) || !read_i32(f, cols) || cols < 0)
        return nullptr;
    if (rows == -1 && depth == 0) {
        std::vector<std::string> names(static_cast<std::size_t>(cols));
        std::vector<mxArray *> values;
        for (std::string &name : names) {
            std::int32_t n = 0;
            if (!read_i32(f, n) || n <= 0 || n > 63)
                break;
            name.resize(static_cast<std::size_t>(n));
            if (std::fread(&name[0], 1, name.size(), f) != name.size())
                break;
            mxArray *v = read_input(f, depth + 1);
            if (!v)
                break;
            values.push_back(v);
        }
        if (values.size() != names.size()) {
            for (mxArray *v : values)
                mxDestroyArray(v);
            return nullptr;
        }
        std::vector<const char *> p;
        for (const std::string &name : names)
            p.push_back(name.c_str());
        return mex_struct(names.size(), p.data(), values.data());
    }
    if (rows == -2) {
        std::string text(static_cast<std::size_t>(cols), ' ');
        if (std::fread(&text[0], 1, text.size(), f) != text.size())
            return nullptr;
        return mxCreateString(text.c_str());
    }
    if (rows == -3)
        return mxCreateLogicalScalar(cols != 0);
    if (rows < 0)
        return nullptr;
    std::vector<double> v(static_cast<std::size_t>(rows) * cols);
    if (std::fread(v.data(), sizeof(double), v.size(), f) != v.size())
        return nullptr;
    return mex_matrix(rows, cols, v.data());
}

// What every call prints of its outcome, and its outputs, which it then
// destroys.
void print_result(const standin_outcome &o, std::vector<mxArray *> &out)
{
    std::printf("failed %d\nid %s\nmessage %s\n", o.failed, escaped(o.id).c_str(),
                escaped(o.message).c_str());
    std::printf("out %s\n", escaped(standin_output()).c_str());
    std::printf("evals %zu\n", standin_eval_count());
    std::printf("left_blocks %zu\nbad_frees %zu\narrays_left %zu\n", o.left_blocks, o.bad_frees,
                o.arrays_left);
    for (std::size_t i = 0; i < out.size(); i++) {
        if (!out[i])
            continue;
        if (mxIsStruct(out[i])) {
            std::printf("struct %zu", i + 1);
            for (int k = 0; k < mxGetNumberOfFields(out[i]); k++) {
                const mxArray *f = mxGetFieldByNumber(out[i], 0, k);
                std::printf(" %s:%s:%zux%zu", mxGetFieldNameByNumber(out[i], k),
                            f ? mxGetClassName(f) : "empty", f ? mxGetM(f) : 0, f ? mxGetN(f) : 0);
                if (char *text = f ? mxArrayToString(f) : nullptr) {
                    std::printf(":%s", escaped(text).c_str());
                    mxFree(text);
                }
            }
            std::printf("\n");
            for (int k = 0; k < mxGetNumberOfFields(out[i]); k++)
                if (const mxArray *f = mxGetFieldByNumber(out[i], 0, k); f && mxIsDouble(f))
                    print_doubles("field " + std::to_string(i + 1) + "." +
                                      mxGetFieldNameByNumber(out[i], k),
                                  f);
        } else if (mxIsDouble(out[i])) {
            print_doubles("output " + std::to_string(i + 1), out[i]);
        }
        mxDestroyArray(out[i]);
    }
    std::printf("end\n");
}

// A call: or seeded: argument; seeded: calls need the seeder loaded.
void call(const mex_module *m, const char *arg, const mex_module *seeder)
{
    std::printf("case %s\n", arg);
    const bool seeded = std::strncmp(arg, "seeded:", 7) == 0;
    double s = 0;
    const char *path = arg + 5;
    if (seeded) {
        const char *colon = std::strchr(arg + 7, ':');
        if (!seeder || std::sscanf(arg + 7, "%lf", &s) != 1 || !colon) {
            std::printf("error no seeder or bad arguments\nend\n");
            return;
        }
        path = colon + 1;
    }
    FILE *f = std::fopen(path, "rb");
    std::int32_t seed = 0, nlhs = 0, nrhs = 0;
    if (!f || !read_i32(f, seed) || !read_i32(f, nlhs) || !read_i32(f, nrhs) || nlhs < 0 ||
        nrhs < 0 || nrhs > 16) {
        std::printf("error cannot read the call\nend\n");
        if (f)
            std::fclose(f);
        return;
    }
    std::vector<mxArray *> in;
    for (std::int32_t i = 0; i < nrhs; i++) {
        mxArray *a = read_input(f);
        if (!a)
            break;
        in.push_back(a);
    }
    std::fclose(f);
    if (static_cast<std::int32_t>(in.size()) != nrhs) {
        std::printf("error cannot read input %zu\nend\n", in.size() + 1);
        return;
    }

    std::vector<mxArray *> out(nlhs > 1 ? nlhs : 1);
    standin_outcome o;
    if (seeded) {
        mxArray *sa = mex_matrix(1, 1, &s);
        standin_outcome so;
        mxArray *none[1] = {nullptr}; // a host always has room for one output
        mex_call(seeder, 0, none, 1, const_cast<const mxArray **>(&sa), &so);
        std::printf("seed_failed %d\nseed_message %s\n", so.failed, escaped(so.message).c_str());
        mxDestroyArray(sa);
    } else {
        std::srand(static_cast<unsigned>(seed));
    }
    mex_call(m, nlhs, out.data(), nrhs, const_cast<const mxArray **>(in.data()), &o);
    const int next_draw = std::rand();
    const unsigned cw = x87_control_word();
    const unsigned csr = sse_control();

    std::printf("next_draw %d\nx87_cw %04x\nmxcsr %04x\n", next_draw, cw, csr);
    print_result(o, out);
    for (mxArray *a : in)
        mxDestroyArray(a);
}

// A probe: argument: the options struct built here, the struct returned
// read back and destroyed here, across the DLLs.
void probe(const char *arg)
{
    std::printf("case %s\n", arg);
    char err[512];
    mex_module *p = mex_open(arg + 6, err, sizeof err);
    if (!p) {
        std::printf("error %s\nend\n", escaped(err).c_str());
        return;
    }
    const double penalty[2] = {0.5, 0.25};
    const char *names[] = {"penalty", "display", "method"};
    mxArray *values[] = {mex_matrix(2, 1, penalty), mxCreateLogicalScalar(true),
                         mxCreateString("fista")};
    const mxArray *opts = mex_struct(3, names, values);
    std::vector<mxArray *> out(2);
    standin_outcome o;
    mex_call(p, 2, out.data(), 1, &opts, &o);
    print_result(o, out);
    mxDestroyArray(const_cast<mxArray *>(opts));
    mex_close(p);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: wine_calls MODULE CALL...\n");
        return 2;
    }
    char err[512];
    mex_module *m = mex_open(argv[1], err, sizeof err);
    if (!m) {
        std::fprintf(stderr, "wine_calls: %s\n", err);
        return 1;
    }
    mex_module *seeder = nullptr, *first = m;
    for (int i = 2; i < argc; i++) {
        if (std::strncmp(argv[i], "draws:", 6) == 0) {
            draws(argv[i]);
        } else if (std::strncmp(argv[i], "call:", 5) == 0 ||
                   std::strncmp(argv[i], "seeded:", 7) == 0) {
            call(m, argv[i], seeder);
        } else if (std::strncmp(argv[i], "probe:", 6) == 0) {
            probe(argv[i]);
        } else if (std::strncmp(argv[i], "module:", 7) == 0) {
            if (m != first)
                mex_close(m);
            m = mex_open(argv[i] + 7, err, sizeof err);
            std::printf("case %s\n", argv[i]);
            if (!m) {
                std::printf("error %s\nend\n", escaped(err).c_str());
                m = first;
            } else {
                std::printf("end\n");
            }
        } else if (std::strncmp(argv[i], "seeder:", 7) == 0) {
            mex_close(seeder);
            seeder = mex_open(argv[i] + 7, err, sizeof err);
            std::printf("case %s\n", argv[i]);
            if (!seeder)
                std::printf("error %s\n", escaped(err).c_str());
            std::printf("end\n");
        } else
            std::printf("case %s\nerror unknown call\nend\n", argv[i]);
        std::fflush(stdout);
    }
    mex_close(seeder);
    if (m != first)
        mex_close(m);
    mex_close(first);
    return 0;
}
