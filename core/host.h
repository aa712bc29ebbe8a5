// The four host operations the fitting core needs. Whatever binary links the
// core supplies them: MATLAB, Octave, the stand-in host libraries, or a test
// double. The signatures match the MEX interface so the same object code links
// against any of them.
#ifndef DOVEX_CORE_HOST_H
#define DOVEX_CORE_HOST_H

#include <cstddef>

extern "C" {
void *mxCalloc(std::size_t n, std::size_t size); // zero-filled scratch memory
void mxFree(void *ptr);
int mexPrintf(const char *format, ...);
int mexEvalString(const char *command);
}

#endif
