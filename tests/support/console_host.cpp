#include "console_host.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

bool echo = true;
std::string *capture = nullptr;
std::vector<double> *sweep_times = nullptr;
std::size_t live = 0, peak = 0;

// Each block starts with its size, so that mxFree knows what it gives back;
// the header keeps the block aligned for any type.
const std::size_t header = alignof(std::max_align_t);

} // namespace

void console_echo(bool on)
{
    echo = on;
}

void console_capture(std::string *text)
{
    capture = text;
}

void console_time_sweeps(std::vector<double> *times)
{
    sweep_times = times;
}

std::size_t console_peak_bytes()
{
    return peak;
}

void console_reset_peak()
{
    peak = live;
}

extern "C" {

void *mxCalloc(std::size_t n, std::size_t size)
{
    // The core uses the memory without a test, as MATLAB's never fails
    // without ending the call; a console program can only stop.
    const std::size_t bytes = n * size;
    if (size && bytes / size != n) {
        std::fprintf(stderr, "mxCalloc: %zu x %zu bytes is too much\n", n, size);
        std::abort();
    }
    auto *p = static_cast<unsigned char *>(std::calloc(1, header + bytes));
    if (!p) {
        std::fprintf(stderr, "mxCalloc: out of memory for %zu bytes\n", bytes);
        std::abort();
    }
    *reinterpret_cast<std::size_t *>(p) = bytes;
    live += bytes;
    peak = std::max(peak, live);
    return p + header;
}

void mxFree(void *ptr)
{
    if (!ptr)
        return;
    unsigned char *p = static_cast<unsigned char *>(ptr) - header;
    live -= *reinterpret_cast<std::size_t *>(p);
    std::free(p);
}

int mexPrintf(const char *format, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    if (echo)
        std::fputs(buf, stdout);
    if (capture)
        *capture += buf;
    return n;
}

int mexEvalString(const char *)
{
    if (sweep_times) {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        sweep_times->push_back(static_cast<double>(t.tv_sec) +
                               1e-9 * static_cast<double>(t.tv_nsec));
    }
    return std::fflush(stdout);
}
}
