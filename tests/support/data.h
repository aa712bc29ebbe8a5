// The bundled data sets, as the column-major arrays the fit takes.
#ifndef DOVEX_TESTS_DATA_H
#define DOVEX_TESTS_DATA_H

#include <cstdint>
#include <string>
#include <vector>

struct dataset {
    std::int32_t ns = 0, nd = 0, nc = 0;
    std::vector<double> X;   // ns x nd
    std::vector<double> Y;   // ns x nc, one-hot
    std::vector<int> label;  // class of each sample, from 0
};

// Reads a data set from a CSV file: a header line, then one sample a line,
// its features and then its class as 0, 1, 2, ... Throws std::runtime_error
// naming the file and line of the first thing it cannot read.
dataset read_dataset(const std::string &path);

// read_dataset of the bundled data/<name>.csv.
dataset load_dataset(const std::string &name);

// The starting state for all-zero weights: XW = 0, E = 1, Z = nc.
struct start_state {
    std::vector<double> XW, E, Z;
};
start_state zero_start(std::int32_t ns, std::int32_t nc);

#endif
