// Endurance: many calls through the stand-in host in one process, cycling
// through stored inputs (fits, argument-count errors and every rejected
// input), each checked as the fuzzer checks it, which includes no scratch
// memory left after the call. The process's resident memory must be flat:
// what it holds after a warm-up, it still holds at the end.
//
//   fuzz_endurance CALLS DIR...
#include "call.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Growth a leak of even one small block per call would exceed many times
// over across the run, but which allocator noise stays well within.
const long slack_kib = 1024;

long resident_kib()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: fuzz_endurance CALLS DIR...\n");
        return 2;
    }
    const long calls = std::atol(argv[1]);
    std::vector<std::vector<unsigned char>> inputs;
    std::vector<fs::path> files;
    for (int i = 2; i < argc; i++)
        for (const auto &e : fs::directory_iterator(argv[i]))
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const fs::path &f : files) {
        std::ifstream in(f, std::ios::binary);
        inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (inputs.empty() || calls < 10) {
        std::fprintf(stderr, "fuzz_endurance: nothing to run\n");
        return 2;
    }

    open_modules();
    // Counting only the calls made: an input too large to allocate here is
    // passed over without one.
    const long warm_up = calls / 10;
    long before = 0, run = 0;
    for (std::size_t i = 0; run < calls; i++) {
        if (i == inputs.size() && run == 0) {
            std::fprintf(stderr, "fuzz_endurance: no input makes a call\n");
            return 2;
        }
        const std::vector<unsigned char> &in = inputs[i % inputs.size()];
        if (run_call(in.data(), in.size()) && ++run == warm_up)
            before = resident_kib();
    }
    const long after = resident_kib();
    std::printf("%ld calls from %zu inputs; resident memory after %ld calls: %ld KiB, "
                "at the end: %ld KiB\n",
                run, inputs.size(), warm_up, before, after);
    if (after > before + slack_kib) {
        std::printf("resident memory grew by %ld KiB\n", after - before);
        return 1;
    }
    return 0;
}
