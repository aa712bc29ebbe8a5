// mexrun: fits a CSV data set with a dovex_fit module file through the
// stand-in host, as MATLAB would call it, from the all-zero start
// (XW = 0, E = 1, Z = number of classes).
//
//   mexrun MODULE DATA.csv lambda1 lambda2 tol max_sweeps [W.csv]
//
// DATA.csv has a header line, then one sample a line: its features, then
// its class as 0, 1, 2, ... The module's progress lines are shown as it
// prints them; then a summary, and W is written to W.csv if given.
#include "loader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct data_set {
    std::size_t ns = 0, nd = 0, nc = 0;
    std::vector<double> X; // ns x nd, column-major
    std::vector<int> label;
};

bool read_csv(const char *path, data_set &d)
{
    FILE *f = std::fopen(path, "r");
    if (!f)
        return false;
    std::vector<std::vector<double>> rows;
    std::string line;
    bool header = true, ok = true;
    for (int c; ok;) {
        line.clear();
        while ((c = std::fgetc(f)) != EOF && c != '\n')
            line += static_cast<char>(c);
        if (c == EOF && line.empty())
            break;
        if (header || line.find_first_not_of(" \r") == std::string::npos) {
            header = false;
            continue;
        }
        std::vector<double> row;
        const char *p = line.c_str();
        for (char *end;; p = end + 1) {
            row.push_back(std::strtod(p, &end));
            ok = end != p && (rows.empty() || row.size() <= rows[0].size());
            if (!ok || *end != ',')
                break;
        }
        ok = ok && row.size() >= 2 && (rows.empty() || row.size() == rows[0].size());
        rows.push_back(row);
    }
    std::fclose(f);
    if (!ok || rows.empty())
        return false;
    d.ns = rows.size();
    d.nd = rows[0].size() - 1;
    d.X.resize(d.ns * d.nd);
    for (std::size_t k = 0; k < d.ns; k++) {
        for (std::size_t i = 0; i < d.nd; i++)
            d.X[k + d.ns * i] = rows[k][i];
        const double y = rows[k][d.nd];
        if (!(y >= 0 && y < 1e6 && y == static_cast<int>(y)))
            return false;
        d.label.push_back(static_cast<int>(y));
        d.nc = std::max(d.nc, static_cast<std::size_t>(y) + 1);
    }
    return true;
}

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
    data_set d;
    if (!read_csv(argv[2], d)) {
        std::fprintf(stderr, "mexrun: %s: cannot read a data set from it\n", argv[2]);
        return 1;
    }
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

    std::vector<double> Y(d.ns * d.nc, 0.0), XW(d.ns * d.nc, 0.0), E(d.ns * d.nc, 1.0),
        Z(d.ns, static_cast<double>(d.nc));
    for (std::size_t k = 0; k < d.ns; k++)
        Y[k + d.ns * static_cast<std::size_t>(d.label[k])] = 1.0;
    const mxArray *in[9] = {mex_matrix(d.ns, d.nd, d.X.data()), mex_matrix(d.ns, d.nc, Y.data()),
                            mex_matrix(d.ns, d.nc, XW.data()),  mex_matrix(d.ns, d.nc, E.data()),
                            mex_matrix(d.ns, 1, Z.data()),      mex_matrix(1, 1, &settings[0]),
                            mex_matrix(1, 1, &settings[1]),     mex_matrix(1, 1, &settings[2]),
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
    if (!out[0] || mxGetM(out[0]) != d.nd || mxGetN(out[0]) != d.nc) {
        std::fprintf(stderr, "mexrun: the module returned no %zu x %zu W\n", d.nd, d.nc);
        return 1;
    }

    // Training accuracy of the fitted weights: the class of largest X*W.
    const double *W = mxGetPr(out[0]);
    std::size_t right = 0, nonzero = 0;
    for (std::size_t p = 0; p < d.nd * d.nc; p++)
        nonzero += W[p] != 0;
    for (std::size_t k = 0; k < d.ns; k++) {
        std::size_t best = 0;
        double best_score = 0;
        for (std::size_t j = 0; j < d.nc; j++) {
            double score = 0;
            for (std::size_t i = 0; i < d.nd; i++)
                score += d.X[k + d.ns * i] * W[i + d.nd * j];
            if (j == 0 || score > best_score) {
                best = j;
                best_score = score;
            }
        }
        right += static_cast<int>(best) == d.label[k];
    }
    std::printf("W: %zu x %zu, %zu non-zero; training accuracy %.4f\n", d.nd, d.nc, nonzero,
                static_cast<double>(right) / static_cast<double>(d.ns));
    if (o.left_blocks)
        std::printf("the module left %zu scratch blocks (%zu bytes) allocated\n", o.left_blocks,
                    o.left_bytes);

    if (argc == 8) {
        FILE *f = std::fopen(argv[7], "w");
        if (!f) {
            std::fprintf(stderr, "mexrun: %s: cannot write\n", argv[7]);
            return 1;
        }
        for (std::size_t i = 0; i < d.nd; i++)
            for (std::size_t j = 0; j < d.nc; j++)
                std::fprintf(f, "%.17g%c", W[i + d.nd * j], j + 1 < d.nc ? ',' : '\n');
        std::fclose(f);
    }
    for (const mxArray *a : in)
        mxDestroyArray(const_cast<mxArray *>(a));
    mxDestroyArray(out[0]);
    mex_close(m);
    return o.left_blocks ? 3 : 0;
}
