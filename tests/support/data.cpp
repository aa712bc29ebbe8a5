#include "data.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

dataset read_dataset(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    std::string line;
    std::getline(in, line); // header
    std::vector<std::vector<double>> rows;
    for (int number = 2; std::getline(in, line); number++) {
        if (line.find_first_not_of(" \r") == std::string::npos)
            continue;
        const std::string where = path + ":" + std::to_string(number);
        std::vector<double> row;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, ',')) {
            std::size_t used = 0;
            try {
                row.push_back(std::stod(cell, &used));
            } catch (const std::exception &) {
                used = 0;
            }
            if (used == 0 || cell.find_first_not_of(" \r", used) != std::string::npos)
                throw std::runtime_error(where + ": not a number: " + cell);
        }
        if (row.size() < 2 || (!rows.empty() && row.size() != rows[0].size()))
            throw std::runtime_error(where + ": " + std::to_string(row.size()) +
                                     " values; every line needs the same number, two or more");
        const double label = row.back();
        if (!(label >= 0 && label < 1e6 && label == static_cast<int>(label)))
            throw std::runtime_error(where + ": the class must be 0, 1, 2, ...");
        rows.push_back(row);
    }
    if (rows.empty())
        throw std::runtime_error(path + ": no samples");
    dataset d;
    d.ns = static_cast<std::int32_t>(rows.size());
    d.nd = static_cast<std::int32_t>(rows[0].size()) - 1;
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

dataset load_dataset(const std::string &name)
{
    return read_dataset(std::string(DOVEX_DATA_DIR) + "/" + name + ".csv");
}

start_state zero_start(std::int32_t ns, std::int32_t nc)
{
    start_state s;
    s.XW.assign(static_cast<size_t>(ns) * nc, 0.0);
    s.E.assign(static_cast<size_t>(ns) * nc, 1.0);
    s.Z.assign(ns, static_cast<double>(nc));
    return s;
}
