#include "data.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

dataset load_dataset(const std::string &name)
{
    const std::string path = std::string(DOVEX_DATA_DIR) + "/" + name + ".csv";
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::string line;
    std::getline(in, line); // header
    std::vector<std::vector<double>> rows;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        std::vector<double> row;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, ','))
            row.push_back(std::stod(cell));
        rows.push_back(row);
    }
    dataset d;
    d.ns = static_cast<std::int32_t>(rows.size());
    d.nd = static_cast<std::int32_t>(rows.at(0).size()) - 1;
    for (const auto &r : rows)
        d.label.push_back(static_cast<int>(r.back()));
    d.nc = *std::max_element(d.label.begin(), d.label.end()) + 1;
    d.X.resize(static_cast<size_t>(d.ns) * d.nd);
    d.Y.assign(static_cast<size_t>(d.ns) * d.nc, 0.0);
    for (std::int32_t k = 0; k < d.ns; k++) {
        for (std::int32_t i = 0; i < d.nd; i++)
            d.X[k + static_cast<size_t>(d.ns) * i] = rows[k][i];
        d.Y[k + static_cast<size_t>(d.ns) * d.label[k]] = 1.0;
    }
    return d;
}

start_state zero_start(std::int32_t ns, std::int32_t nc)
{
    start_state s;
    s.XW.assign(static_cast<size_t>(ns) * nc, 0.0);
    s.E.assign(static_cast<size_t>(ns) * nc, 1.0);
    s.Z.assign(ns, static_cast<double>(nc));
    return s;
}
