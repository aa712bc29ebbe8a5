// Replays stored fuzzer inputs through the same checks as the fuzzer, for
// the ordinary suite and any compiler.
//
//   fuzz_replay PATH...   each PATH a file or a folder of files
#include "call.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char **argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; i++) {
        if (fs::is_directory(argv[i])) {
            for (const auto &e : fs::directory_iterator(argv[i]))
                if (e.is_regular_file())
                    files.push_back(e.path());
        } else if (fs::is_regular_file(argv[i])) {
            files.push_back(argv[i]);
        } else {
            std::fprintf(stderr, "fuzz_replay: no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::fprintf(stderr, "fuzz_replay: no inputs given\n");
        return 2;
    }

    open_modules();
    int run = 0, skipped = 0;
    for (const fs::path &f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                               std::istreambuf_iterator<char>());
        // The name first, so that a failed check says which input it was.
        std::fprintf(stderr, "%s\n", f.string().c_str());
        if (run_call(bytes.data(), bytes.size()))
            run++;
        else
            skipped++;
    }
    std::printf("replayed %d inputs, %d not run (too large to allocate)\n", run, skipped);
    return 0;
}
