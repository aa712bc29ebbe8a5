// A recording host for tests of the core: supplies mxCalloc, mxFree,
// mexPrintf and mexEvalString, and remembers what the core did with them.
#ifndef DOVEX_TESTS_RECORDING_HOST_H
#define DOVEX_TESTS_RECORDING_HOST_H

#include <cstddef>
#include <string>
#include <vector>

struct host_block {
    void *ptr;
    std::size_t count, size;
    std::vector<double> at_free; // contents when freed, as doubles
};

struct host_record {
    std::vector<host_block> allocs; // in allocation order
    std::vector<void *> frees;      // in free order
    std::string out;                // everything printed
    std::vector<std::string> evals; // commands evaluated
    long live = 0;                  // blocks allocated and not yet freed
};

// Forget everything recorded so far.
void host_reset();
const host_record &host_log();

#endif
