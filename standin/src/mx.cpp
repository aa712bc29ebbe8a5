// libmx of the stand-in host: arrays and scratch memory.
//
// Every array and every scratch block is tracked so that a call can be
// closed the way MATLAB closes one: scratch memory from the call is freed,
// arrays it created are kept only if they were returned.
#include "standin.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

struct mxArray_tag {
    mxClassID cls;
    bool complex;
    bool sparse;
    std::vector<std::size_t> dims; // at least two
    void *pr;                      // NULL for an array without data
    void *pi;
    mwIndex *ir, *jc;  // sparse storage: nzmax rows, one start per column and the end
    std::size_t nzmax; // slots of pr, pi and ir of a sparse array
};

namespace {

struct block {
    std::size_t bytes;
    unsigned long call; // the call that allocated it, 0 outside calls
};

struct mx_state {
    std::unordered_map<void *, block> blocks;
    std::unordered_map<mxArray *, unsigned long> arrays; // array -> its call
    unsigned long calls = 0;                             // calls begun so far
    unsigned long current = 0;                           // the call running, 0 if none
    void (*raise)(const char *, const char *) = nullptr;
    standin_mx_report report{};
};

mx_state &state()
{
    static mx_state s;
    return s;
}

// Ends the running call with an error; outside a call there is nobody to
// tell, and the caller gets NULL.
void fail(const char *id, const char *message)
{
    if (state().raise)
        state().raise(id, message);
}

// Product that sticks at SIZE_MAX instead of wrapping, for arrays described
// by their dimensions only.
std::size_t product(const std::size_t *d, std::size_t n)
{
    std::size_t p = 1;
    for (std::size_t i = 0; i < n; i++) {
        if (d[i] == 0)
            return 0;
        p = p > SIZE_MAX / d[i] ? SIZE_MAX : p * d[i];
    }
    return p;
}

void release(mxArray *a)
{
    std::free(a->pr);
    std::free(a->pi);
    std::free(a->ir);
    std::free(a->jc);
    delete a;
}

// standin_array with room for nzmax stored elements when sparse.
mxArray *make_array(mxClassID cls, mxComplexity cx, bool sparse, std::size_t ndims,
                    const std::size_t *dims, bool with_data, std::size_t nzmax)
{
    mxArray *a = new mxArray_tag{
        cls, cx == mxCOMPLEX, sparse, {}, nullptr, nullptr, nullptr, nullptr, 0};
    a->dims.assign(dims, dims + ndims);
    a->dims.resize(ndims < 2 ? 2 : ndims, ndims == 0 ? 0 : 1);
    const std::size_t esize = standin_element_size(cls);
    if (with_data && esize > 0) {
        // A sparse array keeps nzmax slots and an all-zero column index.
        const std::size_t n = a->sparse ? nzmax : product(a->dims.data(), a->dims.size());
        const std::size_t slots = n ? n : 1; // never NULL data for an empty array
        bool ok = slots <= SIZE_MAX / esize && (a->pr = std::calloc(slots, esize)) != nullptr;
        if (ok && a->complex)
            ok = (a->pi = std::calloc(slots, esize)) != nullptr;
        if (ok && a->sparse) {
            a->nzmax = slots;
            const std::size_t cols = product(a->dims.data() + 1, a->dims.size() - 1);
            ok =
                cols < SIZE_MAX / sizeof(mwIndex) &&
                (a->ir = static_cast<mwIndex *>(std::calloc(slots, sizeof(mwIndex)))) != nullptr &&
                (a->jc = static_cast<mwIndex *>(std::calloc(cols + 1, sizeof(mwIndex)))) != nullptr;
        }
        if (!ok) {
            release(a);
            return nullptr;
        }
    }
    state().arrays[a] = state().current;
    if (state().current)
        state().report.arrays_created++;
    return a;
}

} // namespace

extern "C" {

std::size_t standin_element_size(mxClassID cls)
{
    switch (cls) {
    case mxDOUBLE_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS:
        return 8;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS:
        return 4;
    case mxINT16_CLASS:
    case mxUINT16_CLASS:
    case mxCHAR_CLASS:
        return 2;
    case mxINT8_CLASS:
    case mxUINT8_CLASS:
    case mxLOGICAL_CLASS:
        return 1;
    default:
        return 0;
    }
}

mxArray *standin_array(mxClassID cls, mxComplexity cx, int sparse, std::size_t ndims,
                       const std::size_t *dims, int with_data)
{
    return make_array(cls, cx, sparse != 0, ndims, dims, with_data != 0, 1);
}

mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag)
{
    if (m < 0 || n < 0) {
        fail("standin:negativeSize", "mxCreateDoubleMatrix was given a negative size.");
        return nullptr;
    }
    const std::size_t dims[2] = {static_cast<std::size_t>(m), static_cast<std::size_t>(n)};
    mxArray *a = standin_array(mxDOUBLE_CLASS, flag, 0, 2, dims, 1);
    if (!a)
        fail("standin:outOfMemory", "Out of memory creating a double matrix.");
    return a;
}

mxArray *mxCreateSparse_700(int m, int n, int nzmax, mxComplexity flag)
{
    if (m < 0 || n < 0 || nzmax < 0) {
        fail("standin:negativeSize", "mxCreateSparse was given a negative size.");
        return nullptr;
    }
    const std::size_t dims[2] = {static_cast<std::size_t>(m), static_cast<std::size_t>(n)};
    mxArray *a = make_array(mxDOUBLE_CLASS, flag, true, 2, dims, true,
                            static_cast<std::size_t>(nzmax));
    if (!a)
        fail("standin:outOfMemory", "Out of memory creating a sparse matrix.");
    return a;
}

void mxDestroyArray(mxArray *a)
{
    if (!a)
        return;
    auto it = state().arrays.find(a);
    // Unknown, or not the module's to destroy: a call may not destroy its
    // inputs or arrays from earlier calls.
    if (it == state().arrays.end() || (state().current && it->second != state().current)) {
        state().report.bad_frees++;
        return;
    }
    state().arrays.erase(it);
    release(a);
}

double *mxGetPr(const mxArray *a)
{
    return static_cast<double *>(a->pr);
}

double *mxGetPi(const mxArray *a)
{
    return static_cast<double *>(a->pi);
}

void *mxGetData(const mxArray *a)
{
    return a->pr;
}

mwIndex *mxGetIr(const mxArray *a)
{
    return a->ir;
}

mwIndex *mxGetJc(const mxArray *a)
{
    return a->jc;
}

std::size_t mxGetNzmax(const mxArray *a)
{
    return a->nzmax;
}

std::size_t mxGetM(const mxArray *a)
{
    return a->dims[0];
}

std::size_t mxGetN(const mxArray *a)
{
    return product(a->dims.data() + 1, a->dims.size() - 1);
}

std::size_t mxGetNumberOfElements(const mxArray *a)
{
    return product(a->dims.data(), a->dims.size());
}

int mxGetNumberOfDimensions_700(const mxArray *a)
{
    return static_cast<int>(a->dims.size());
}

mxClassID mxGetClassID(const mxArray *a)
{
    return a->cls;
}

const char *mxGetClassName(const mxArray *a)
{
    switch (a->cls) {
    case mxCELL_CLASS:
        return "cell";
    case mxSTRUCT_CLASS:
        return "struct";
    case mxLOGICAL_CLASS:
        return "logical";
    case mxCHAR_CLASS:
        return "char";
    case mxVOID_CLASS:
        return "void";
    case mxDOUBLE_CLASS:
        return "double";
    case mxSINGLE_CLASS:
        return "single";
    case mxINT8_CLASS:
        return "int8";
    case mxUINT8_CLASS:
        return "uint8";
    case mxINT16_CLASS:
        return "int16";
    case mxUINT16_CLASS:
        return "uint16";
    case mxINT32_CLASS:
        return "int32";
    case mxUINT32_CLASS:
        return "uint32";
    case mxINT64_CLASS:
        return "int64";
    case mxUINT64_CLASS:
        return "uint64";
    case mxFUNCTION_CLASS:
        return "function_handle";
    default:
        return "unknown";
    }
}

int mxIsDouble(const mxArray *a)
{
    return a->cls == mxDOUBLE_CLASS;
}

int mxIsComplex(const mxArray *a)
{
    return a->complex;
}

int mxIsSparse(const mxArray *a)
{
    return a->sparse;
}

int mxIsEmpty(const mxArray *a)
{
    return mxGetNumberOfElements(a) == 0;
}

void *mxCalloc(std::size_t n, std::size_t size)
{
    mx_state &s = state();
    if (s.current)
        s.report.callocs++;
    // Never NULL for a zero count: callers may use the pointer untested.
    const bool fits = size == 0 || n <= SIZE_MAX / size;
    void *p = fits ? std::calloc(n && size ? n : 1, n && size ? size : 1) : nullptr;
    if (!p) {
        fail("standin:outOfMemory", "Out of memory in mxCalloc.");
        return nullptr;
    }
    s.blocks[p] = block{n * size, s.current};
    return p;
}

void mxFree(void *ptr)
{
    if (!ptr)
        return;
    auto it = state().blocks.find(ptr);
    if (it == state().blocks.end()) {
        state().report.bad_frees++;
        return;
    }
    state().blocks.erase(it);
    std::free(ptr);
}

std::size_t standin_live_blocks(void)
{
    return state().blocks.size();
}

void standin_mx_begin(void (*raise)(const char *id, const char *message))
{
    mx_state &s = state();
    s.current = ++s.calls;
    s.raise = raise;
    s.report = standin_mx_report{};
}

void standin_mx_end(int failed, mxArray *plhs[], int nslots, standin_mx_report *report)
{
    mx_state &s = state();
    for (auto it = s.blocks.begin(); it != s.blocks.end();)
        if (it->second.call == s.current) {
            s.report.left_blocks++;
            s.report.left_bytes += it->second.bytes;
            std::free(it->first);
            it = s.blocks.erase(it);
        } else {
            ++it;
        }

    for (auto it = s.arrays.begin(); it != s.arrays.end();) {
        bool returned = false;
        for (int i = 0; i < nslots && !failed; i++)
            returned = returned || plhs[i] == it->first;
        if (it->second != s.current || returned) {
            it->second = 0; // the caller's now
            ++it;
            continue;
        }
        if (!failed)
            s.report.arrays_left++;
        release(it->first);
        it = s.arrays.erase(it);
    }
    if (failed)
        for (int i = 0; i < nslots; i++)
            plhs[i] = nullptr;

    *report = s.report;
    s.current = 0;
    s.raise = nullptr;
}
}
