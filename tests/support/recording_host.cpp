#include "recording_host.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
host_record rec;
}

void host_reset()
{
    rec = host_record();
}

const host_record &host_log()
{
    return rec;
}

extern "C" {

void *mxCalloc(std::size_t n, std::size_t size)
{
    // Never a null pointer, even for n = 0, as the core does not test it.
    void *p = std::calloc(n ? n : 1, size ? size : 1);
    rec.allocs.push_back({p, n, size, {}});
    rec.live++;
    return p;
}

void mxFree(void *ptr)
{
    for (host_block &b : rec.allocs)
        if (b.ptr == ptr && b.at_free.empty() && b.size == sizeof(double)) {
            b.at_free.resize(b.count);
            // copy_n, not memcpy: an empty vector's data() may be null.
            std::copy_n(static_cast<const double *>(ptr), b.count, b.at_free.data());
            break;
        }
    rec.frees.push_back(ptr);
    rec.live--;
    std::free(ptr);
}

int mexPrintf(const char *format, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    rec.out += buf;
    return n;
}

int mexEvalString(const char *command)
{
    rec.evals.push_back(command);
    return 0;
}
}
