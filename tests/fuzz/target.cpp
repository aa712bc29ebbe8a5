// The libFuzzer target: every input is one call of the module.
#include "call.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // Loaded once, before the first input, so that the module's coverage
    // counters are registered when fuzzing starts.
    open_modules();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // -1 keeps an input that was not run out of the corpus.
    return run_call(data, size) ? 0 : -1;
}
