// mexrun: fits a CSV data set with a dovex_fit module file through the
// stand-in host, as MATLAB would call it, from the all-zero start
// (XW = 0, E = 1, Z = number of classes).
//
//   mexrun MODULE DATA.csv lambda1 lambda2 tol max_sweeps [W.csv]
//
// DATA.csv has a header line, then one sample a line: its features, then
// its class as 0, 1, 2, ... (read by the reader the tests use, which names
// the line of anything it cannot read). The module's progress lines are
// shown as it prints them; then a summary, and W is written to W.csv if
// given.
#include "data.h"
#include "loader.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: mexrun MODULE DATA.csv lambda1 lambda2 tol max_sweeps [W.csv]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 7 && argc != 8)
        return usage();
    dataset d;
    try {
        d = read_dataset(argv[2]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "mexrun: %s\n", e.what());
        return 1;
    }
    const std::size_t ns = d.ns, nd = d.nd, nc = d.nc;
    double settings[4];
    for (int i = 0; i < 4; i++) {
        char *end;
        settings[i] = std::strtod(argv[3 + i], &end);
        if (end == argv[3 + i] || *end)
            return usage();
    }
    char err[512];
    mex_module *m = mex_open(argv[1], err, sizeof err);
    if (!m) {
        std::fprintf(stderr, "mexrun: %s\n", err);
        return 1;
    }

    const start_state s = zero_start(d.ns, d.nc);
    const mxArray *in[9] = {mex_matrix(ns, nd, d.X.data()),  mex_matrix(ns, nc, d.Y.data()),
                            mex_matrix(ns, nc, s.XW.data()), mex_matrix(ns, nc, s.E.data()),
                            mex_matrix(ns, 1, s.Z.data()),   mex_matrix(1, 1, &settings[0]),
                            mex_matrix(1, 1, &settings[1]),  mex_matrix(1, 1, &settings[2]),
                            mex_matrix(1, 1, &settings[3])};
    for (const mxArray *a : in)
        if (!a) {
            std::fprintf(stderr, "mexrun: out of memory\n");
            return 1;
        }

    standin_echo(1);
    mxArray *out[1];
    standin_outcome o;
    mex_call(m, 1, out, 9, in, &o);
    std::fflush(stdout);
    if (o.failed) {
        std::fprintf(stderr, "Error (%s): %s\n", o.id[0] ? o.id : "no identifier", o.message);
        return 1;
    }
    if (!out[0] || mxGetM(out[0]) != nd || mxGetN(out[0]) != nc) {
        std::fprintf(stderr, "mexrun: the module returned no %zu x %zu W\n", nd, nc);
        return 1;
    }

    // Training accuracy of the fitted weights: the class of largest X*W.
    const double *W = mxGetPr(out[0]);
    std::size_t right = 0, nonzero = 0;
    for (std::size_t p = 0; p < nd * nc; p++)
        nonzero += W[p] != 0;
    for (std::size_t k = 0; k < ns; k++) {
        std::size_t best = 0;
        double best_score = 0;
        for (std::size_t j = 0; j < nc; j++) {
            double score = 0;
            for (std::size_t i = 0; i < nd; i++)
                score += d.X[k + ns * i] * W[i + nd * j];
            if (j == 0 || score > best_score) {
                best = j;
                best_score = score;
            }
        }
        right += static_cast<int>(best) == d.label[k];
    }
    std::printf("W: %zu x %zu, %zu non-zero; training accuracy %.4f\n", nd, nc, nonzero,
                static_cast<double>(right) / static_cast<double>(ns));
    if (o.left_blocks)
        std::printf("the module left %zu scratch blocks (%zu bytes) allocated\n", o.left_blocks,
                    o.left_bytes);

    if (argc == 8) {
        FILE *f = std::fopen(argv[7], "w");
        if (!f) {
            std::fprintf(stderr, "mexrun: %s: cannot write\n", argv[7]);
            return 1;
        }
        for (std::size_t i = 0; i < nd; i++)
            for (std::size_t j = 0; j < nc; j++)
                std::fprintf(f, "%.17g%c", W[i + nd * j], j + 1 < nc ? ',' : '\n');
        std::fclose(f);
    }
    for (const mxArray *a : in)
        mxDestroyArray(const_cast<mxArray *>(a));
    mxDestroyArray(out[0]);
    mex_close(m);
    return o.left_blocks ? 3 : 0;
}
