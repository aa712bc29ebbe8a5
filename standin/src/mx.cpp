// libmx of the stand-in host: arrays and scratch memory.
//
// Every array and every scratch block is tracked so that a call can be
// closed the way MATLAB closes one: scratch memory from the call is freed,
// arrays it created are kept only if they were returned.
//
// A struct owns the arrays in its fields: they are tracked as the struct's
// (they belong to the same call) and go with it, whether it is returned,
// destroyed or left behind.
#include "standin.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

static_assert(sizeof(mxLogical) == 1, "a logical element is one byte");

struct mxArray_tag {
    mxClassID cls;
    bool complex;
    bool sparse;
    std::vector<std::size_t> dims; // at least two
    void *pr;                      // NULL for an array without data
    void *pi;
    mwIndex *ir, *jc;  // sparse storage: nzmax rows, one start per column and the end
    std::size_t nzmax; // slots of pr, pi and ir of a sparse array
    // A struct's field names, and its fields element by element: field k of
    // element i is fields[i * names.size() + k], NULL while empty.
    std::vector<std::string> names;
    std::vector<mxArray *> fields;
    mxArray *parent; // the struct whose field holds this array, NULL if none
};

namespace {

struct block {
    std::size_t bytes;
    unsigned long call; // the call that allocated it, 0 outside calls
};

struct mx_state {
    std::unordered_map<void *, block> blocks;
    // Every live array, those in fields too -> its call (that of the struct
    // holding it, for an array in a field).
    std::unordered_map<mxArray *, unsigned long> arrays;
    unsigned long calls = 0;   // calls begun so far
    unsigned long current = 0; // the call running, 0 if none
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

// Frees a and whatever its fields hold; returns how many arrays that was.
std::size_t destroy_tree(mxArray *a)
{
    std::size_t n = 1;
    for (mxArray *f : a->fields)
        if (f)
            n += destroy_tree(f);
    state().arrays.erase(a);
    release(a);
    return n;
}

// Hands a and whatever its fields hold to a call (0: the caller).
void give_tree(mxArray *a, unsigned long call)
{
    state().arrays[a] = call;
    for (mxArray *f : a->fields)
        if (f)
            give_tree(f, call);
}

// Takes a out of the field that holds it, leaving the field empty.
void detach(mxArray *a)
{
    for (mxArray *&f : a->parent->fields)
        if (f == a)
            f = nullptr;
    a->parent = nullptr;
}

// Whether the running call may change or free a: an array it created.
// Between calls the caller may do anything with any array.
bool owned(const mxArray *a)
{
    auto it = state().arrays.find(const_cast<mxArray *>(a));
    return it != state().arrays.end() && (!state().current || it->second == state().current);
}

int field_number(const mxArray *a, const char *name)
{
    if (!a || a->cls != mxSTRUCT_CLASS || !name)
        return -1;
    for (std::size_t k = 0; k < a->names.size(); k++)
        if (a->names[k] == name)
            return static_cast<int>(k);
    return -1;
}

// The slot of field k of element index, or NULL if there is none.
mxArray **field_slot(const mxArray *a, mwIndex index, int k)
{
    if (!a || a->cls != mxSTRUCT_CLASS || k < 0 || static_cast<std::size_t>(k) >= a->names.size())
        return nullptr;
    if (index >= a->fields.size() / a->names.size())
        return nullptr;
    return const_cast<mxArray **>(&a->fields[index * a->names.size() + k]);
}

bool valid_field_name(const char *name)
{
    if (!name || !((*name >= 'a' && *name <= 'z') || (*name >= 'A' && *name <= 'Z')))
        return false;
    std::size_t n = 0;
    for (const char *c = name; *c; c++, n++)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
              *c == '_'))
            return false;
    return n <= 63;
}

// The next code point of UTF-8 text at *p, moving *p past it; U+FFFD for a
// byte that starts no valid sequence (which is then skipped alone).
char32_t next_code_point(const unsigned char *&p)
{
    const unsigned char c = *p++;
    if (c < 0x80)
        return c;
    const int more = c >= 0xc2 && c <= 0xdf   ? 1
                     : c >= 0xe0 && c <= 0xef ? 2
                     : c >= 0xf0 && c <= 0xf4 ? 3
                                              : 0;
    if (!more)
        return 0xfffd;
    char32_t cp = c & (0x3f >> more);
    for (int i = 0; i < more; i++) {
        if ((p[i] & 0xc0) != 0x80)
            return 0xfffd;
        cp = cp << 6 | (p[i] & 0x3f);
    }
    // Overlong forms and surrogates are no UTF-8.
    const char32_t least[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[more] || (cp >= 0xd800 && cp < 0xe000) || cp > 0x10ffff)
        return 0xfffd;
    p += more;
    return cp;
}

// The UTF-8 form of n UTF-16 units into out (if not NULL); returns its
// length. A surrogate that is not half of a pair becomes U+FFFD.
std::size_t to_utf8(const char16_t *u, std::size_t n, char *out)
{
    std::size_t len = 0;
    auto put = [&](unsigned v) {
        if (out)
            out[len] = static_cast<char>(v);
        len++;
    };
    for (std::size_t i = 0; i < n; i++) {
        char32_t cp = u[i];
        if (cp >= 0xd800 && cp < 0xdc00 && i + 1 < n && u[i + 1] >= 0xdc00 && u[i + 1] < 0xe000)
            cp = 0x10000 + ((cp - 0xd800) << 10) + (u[++i] - 0xdc00);
        else if (cp >= 0xd800 && cp < 0xe000)
            cp = 0xfffd;
        if (cp < 0x80) {
            put(cp);
        } else if (cp < 0x800) {
            put(0xc0 | cp >> 6);
            put(0x80 | (cp & 0x3f));
        } else if (cp < 0x10000) {
            put(0xe0 | cp >> 12);
            put(0x80 | (cp >> 6 & 0x3f));
            put(0x80 | (cp & 0x3f));
        } else {
            put(0xf0 | cp >> 18);
            put(0x80 | (cp >> 12 & 0x3f));
            put(0x80 | (cp >> 6 & 0x3f));
            put(0x80 | (cp & 0x3f));
        }
    }
    return len;
}

// standin_array with room for nzmax stored elements when sparse.
mxArray *make_array(mxClassID cls, mxComplexity cx, bool sparse, std::size_t ndims,
                    const std::size_t *dims, bool with_data, std::size_t nzmax)
{
    mxArray *a = new mxArray_tag{}; // no data, no fields, in no field
    a->cls = cls;
    a->complex = cx == mxCOMPLEX;
    a->sparse = sparse;
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

// An m x n struct array with these fields, all empty; NULL when the memory
// cannot be had. Kept apart from the error it leads to, which must not pass
// over the vectors made here.
mxArray *make_struct(std::size_t m, std::size_t n, std::size_t nfields, const char **fieldnames)
{
    try {
        const std::size_t dims[3] = {m, n, nfields};
        std::vector<std::string> names(fieldnames, fieldnames + nfields);
        std::vector<mxArray *> fields(product(dims, 3), nullptr);
        mxArray *a = make_array(mxSTRUCT_CLASS, mxREAL, false, 2, dims, true, 1);
        if (a) {
            a->names = std::move(names);
            a->fields = std::move(fields);
        }
        return a;
    } catch (...) {
        return nullptr;
    }
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

mxArray *mxCreateStructMatrix_700(int m, int n, int nfields, const char **fieldnames)
{
    if (m < 0 || n < 0 || nfields < 0) {
        fail("standin:negativeSize", "mxCreateStructMatrix was given a negative size.");
        return nullptr;
    }
    for (int k = 0; k < nfields; k++) {
        const char *name = fieldnames ? fieldnames[k] : nullptr;
        bool ok = valid_field_name(name);
        for (int j = 0; ok && j < k; j++)
            ok = std::strcmp(fieldnames[j], name) != 0;
        if (!ok) {
            char message[160];
            std::snprintf(message, sizeof message,
                          "mxCreateStructMatrix was given an invalid or repeated field name "
                          "'%.63s'.",
                          name ? name : "(NULL)");
            fail("standin:badFieldName", message);
            return nullptr;
        }
    }
    mxArray *a = make_struct(static_cast<std::size_t>(m), static_cast<std::size_t>(n),
                             static_cast<std::size_t>(nfields), fieldnames);
    if (!a)
        fail("standin:outOfMemory", "Out of memory creating a struct array.");
    return a;
}

mxArray *mxCreateDoubleScalar(double value)
{
    mxArray *a = mxCreateDoubleMatrix_700(1, 1, mxREAL);
    if (a)
        *mxGetPr(a) = value;
    return a;
}

mxArray *mxCreateLogicalScalar(mxLogical value)
{
    const std::size_t dims[2] = {1, 1};
    mxArray *a = standin_array(mxLOGICAL_CLASS, mxREAL, 0, 2, dims, 1);
    if (!a)
        fail("standin:outOfMemory", "Out of memory creating a logical scalar.");
    else
        *mxGetLogicals(a) = value;
    return a;
}

mxArray *mxCreateString(const char *str)
{
    // Counted first, so that nothing needs freeing if creating fails.
    if (!str)
        str = "";
    std::size_t units = 0;
    for (auto p = reinterpret_cast<const unsigned char *>(str); *p;)
        units += next_code_point(p) >= 0x10000 ? 2 : 1;
    const std::size_t dims[2] = {units ? std::size_t{1} : 0, units};
    mxArray *a = standin_array(mxCHAR_CLASS, mxREAL, 0, 2, dims, 1);
    if (!a) {
        fail("standin:outOfMemory", "Out of memory creating a string.");
        return nullptr;
    }
    auto *u = static_cast<char16_t *>(a->pr);
    for (auto p = reinterpret_cast<const unsigned char *>(str); *p;) {
        const char32_t cp = next_code_point(p);
        if (cp >= 0x10000) {
            *u++ = static_cast<char16_t>(0xd800 + ((cp - 0x10000) >> 10));
            *u++ = static_cast<char16_t>(0xdc00 + ((cp - 0x10000) & 0x3ff));
        } else {
            *u++ = static_cast<char16_t>(cp);
        }
    }
    return a;
}

void mxDestroyArray(mxArray *a)
{
    if (!a)
        return;
    // Unknown, or not the module's to destroy: a call may not destroy its
    // inputs (or what their fields hold) or arrays from earlier calls.
    if (!owned(a)) {
        state().report.bad_frees++;
        return;
    }
    if (a->parent)
        detach(a);
    destroy_tree(a);
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

int mxIsNumeric(const mxArray *a)
{
    return a->cls >= mxDOUBLE_CLASS && a->cls <= mxUINT64_CLASS;
}

int mxIsLogical(const mxArray *a)
{
    return a->cls == mxLOGICAL_CLASS;
}

int mxIsChar(const mxArray *a)
{
    return a->cls == mxCHAR_CLASS;
}

int mxIsStruct(const mxArray *a)
{
    return a->cls == mxSTRUCT_CLASS;
}

mxLogical *mxGetLogicals(const mxArray *a)
{
    return a->cls == mxLOGICAL_CLASS ? static_cast<mxLogical *>(a->pr) : nullptr;
}

char *mxArrayToString(const mxArray *a)
{
    // A char array described by its dimensions alone has no text to give.
    if (!a || a->cls != mxCHAR_CLASS || a->sparse || !a->pr)
        return nullptr;
    const auto *u = static_cast<const char16_t *>(a->pr);
    const std::size_t n = mxGetNumberOfElements(a);
    auto *text = static_cast<char *>(mxCalloc(to_utf8(u, n, nullptr) + 1, 1));
    if (text)
        to_utf8(u, n, text);
    return text;
}

int mxGetNumberOfFields(const mxArray *a)
{
    return a && a->cls == mxSTRUCT_CLASS ? static_cast<int>(a->names.size()) : 0;
}

const char *mxGetFieldNameByNumber(const mxArray *a, int fieldnumber)
{
    if (fieldnumber < 0 || fieldnumber >= mxGetNumberOfFields(a))
        return nullptr;
    return a->names[static_cast<std::size_t>(fieldnumber)].c_str();
}

mxArray *mxGetField(const mxArray *a, mwIndex index, const char *fieldname)
{
    return mxGetFieldByNumber(a, index, field_number(a, fieldname));
}

mxArray *mxGetFieldByNumber(const mxArray *a, mwIndex index, int fieldnumber)
{
    mxArray **slot = field_slot(a, index, fieldnumber);
    return slot ? *slot : nullptr;
}

void mxSetField(mxArray *a, mwIndex index, const char *fieldname, mxArray *value)
{
    if (!a)
        return;
    if (!owned(a)) {
        state().report.bad_frees++;
        return;
    }
    mxArray **slot = field_slot(a, index, field_number(a, fieldname));
    if (!slot || *slot == value)
        return;
    if (value) {
        // One owner for every array, and no struct inside itself.
        bool ok = owned(value) && !value->parent;
        for (const mxArray *p = a; ok && p; p = p->parent)
            ok = p != value;
        if (!ok) {
            state().report.bad_frees++;
            return;
        }
        value->parent = a;
    }
    if (*slot)
        (*slot)->parent = nullptr;
    *slot = value;
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

    // The call's arrays outside any field, each with what its fields hold:
    // the caller's now if returned, freed otherwise. An array returned out
    // of a field is taken out of it, so that no array has two owners.
    if (!failed)
        for (int i = 0; i < nslots; i++)
            if (owned(plhs[i]) && plhs[i]->parent)
                detach(plhs[i]);
    std::vector<mxArray *> roots;
    for (const auto &e : s.arrays)
        if (e.second == s.current && !e.first->parent)
            roots.push_back(e.first);
    for (mxArray *a : roots) {
        bool returned = false;
        for (int i = 0; i < nslots && !failed; i++)
            returned = returned || plhs[i] == a;
        if (returned) {
            give_tree(a, 0);
        } else {
            const std::size_t n = destroy_tree(a);
            if (!failed)
                s.report.arrays_left += n;
        }
    }
    if (failed)
        for (int i = 0; i < nslots; i++)
            plhs[i] = nullptr;

    *report = s.report;
    s.current = 0;
    s.raise = nullptr;
}
}
