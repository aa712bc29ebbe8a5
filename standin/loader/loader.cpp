#include "loader.h"

#include <climits>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

struct mex_module {
    void *handle;
    mex_function_t entry;
};

namespace {

void describe(char *err, std::size_t errlen, const char *what, const char *path)
{
    if (err && errlen)
        std::snprintf(err, errlen, "%s: %s", path, what);
}

#if defined(_WIN32) && defined(__i386__)
// MSVC-built hosts such as MATLAB run the x87 unit at 53-bit precision
// (control word 0x027f), MinGW programs at 64-bit. The runtime's exp still
// computes partly in x87 registers, so the module would see other results
// under this loader than under MATLAB; set what MATLAB sets.
void set_host_x87()
{
    const unsigned short cw = 0x027f;
    __asm__ volatile("fldcw %0" : : "m"(cw));
}
#endif

} // namespace

extern "C" {

mex_module *mex_open(const char *path, char *err, std::size_t errlen)
{
#if defined(_WIN32)
    HMODULE h = LoadLibraryA(path);
    if (!h) {
        describe(err, errlen, "cannot be loaded", path);
        return nullptr;
    }
    FARPROC f = GetProcAddress(h, "mexFunction");
    void *handle = reinterpret_cast<void *>(h);
#else
    // Local binding, as a host keeps modules apart; the host libraries the
    // module needs are already loaded with the loader.
    void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        describe(err, errlen, dlerror(), path);
        return nullptr;
    }
    void *f = dlsym(handle, "mexFunction");
#endif
    if (!f) {
        describe(err, errlen, "has no mexFunction", path);
#if defined(_WIN32)
        FreeLibrary(h);
#else
        dlclose(handle);
#endif
        return nullptr;
    }
    mex_function_t entry;
    static_assert(sizeof entry == sizeof f, "function and symbol pointers differ");
    std::memcpy(&entry, &f, sizeof entry);
    return new mex_module{handle, entry};
}

void mex_close(mex_module *m)
{
    if (!m)
        return;
#if defined(_WIN32)
    FreeLibrary(reinterpret_cast<HMODULE>(m->handle));
#else
    dlclose(m->handle);
#endif
    delete m;
}

mex_function_t mex_entry(const mex_module *m)
{
    return m->entry;
}

int mex_call(const mex_module *m, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[],
             standin_outcome *out)
{
#if defined(_WIN32) && defined(__i386__)
    set_host_x87();
#endif
    return standin_call(m->entry, nlhs, plhs, nrhs, prhs, out);
}

mxArray *mex_matrix(std::size_t m, std::size_t n, const double *values)
{
    const std::size_t dims[2] = {m, n};
    mxArray *a = standin_array(mxDOUBLE_CLASS, mxREAL, 0, 2, dims, 1);
    if (a && values && m && n)
        std::memcpy(mxGetPr(a), values, m * n * sizeof(double));
    return a;
}

mxArray *mex_struct(std::size_t nfields, const char *const *names, mxArray *const *values)
{
    mxArray *s = nfields <= INT_MAX ? mxCreateStructMatrix(1, 1, static_cast<int>(nfields),
                                                           const_cast<const char **>(names))
                                    : nullptr;
    for (std::size_t k = 0; k < nfields; k++)
        if (s)
            mxSetField(s, 0, names[k], values[k]);
        else
            mxDestroyArray(values[k]);
    return s;
}
}
