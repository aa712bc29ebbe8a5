// dovex_seed(s)
//
// Seeds the C runtime's rand(), the generator dovex_fit draws from, with
// srand(s). It is a module of its own so that it calls srand in the same C
// runtime that dovex_fit's rand() comes from: the host process's, shared by
// every module it loads. It builds against MATLAB's and Octave's mex.h and
// uses only names both provide.
#include "mex.h"

#include "export.h"

#include <cstdint>
#include <cstdlib>

namespace {

const double seed_max = 4294967295.0; // srand takes an unsigned int

// The value of a real numeric scalar of any class, as a double; false for
// other classes. The integer classes convert exactly up to 2^53, and
// anything above that is past seed_max anyway.
bool scalar_value(const mxArray *a, double *v)
{
    const void *p = mxGetData(a);
    switch (mxGetClassID(a)) {
    case mxDOUBLE_CLASS: *v = *static_cast<const double *>(p); return true;
    case mxSINGLE_CLASS: *v = *static_cast<const float *>(p); return true;
    case mxINT8_CLASS: *v = *static_cast<const std::int8_t *>(p); return true;
    case mxUINT8_CLASS: *v = *static_cast<const std::uint8_t *>(p); return true;
    case mxINT16_CLASS: *v = *static_cast<const std::int16_t *>(p); return true;
    case mxUINT16_CLASS: *v = *static_cast<const std::uint16_t *>(p); return true;
    case mxINT32_CLASS: *v = *static_cast<const std::int32_t *>(p); return true;
    case mxUINT32_CLASS: *v = *static_cast<const std::uint32_t *>(p); return true;
    case mxINT64_CLASS: *v = static_cast<double>(*static_cast<const std::int64_t *>(p)); return true;
    case mxUINT64_CLASS:
        *v = static_cast<double>(*static_cast<const std::uint64_t *>(p));
        return true;
    default: return false;
    }
}

// The seed as srand takes it; raises dovex_seed:badSeed for anything but a
// real, full numeric scalar holding a whole number from 0 to 2^32 - 1.
bool seed_of(const mxArray *s, unsigned *seed)
{
    const char *want = "s must be a whole number from 0 to 4294967295";
    if (mxIsComplex(s) || mxIsSparse(s)) {
        mexErrMsgIdAndTxt("dovex_seed:badSeed", "%s; it is %s.", want,
                          mxIsComplex(s) ? "complex" : "sparse");
        return false;
    }
    if (mxGetNumberOfElements(s) != 1) {
        mexErrMsgIdAndTxt("dovex_seed:badSeed", "%s; it has %.0f elements.", want,
                          static_cast<double>(mxGetNumberOfElements(s)));
        return false;
    }
    double v = 0;
    if (!scalar_value(s, &v)) {
        mexErrMsgIdAndTxt("dovex_seed:badSeed", "%s; it is of class %s.", want,
                          mxGetClassName(s));
        return false;
    }
    // Written so that NaN fails too.
    if (!(v >= 0 && v <= seed_max && v == static_cast<double>(static_cast<std::uint64_t>(v)))) {
        mexErrMsgIdAndTxt("dovex_seed:badSeed", "%s; it is %.17g.", want, v);
        return false;
    }
    *seed = static_cast<unsigned>(v);
    return true;
}

} // namespace

extern "C" DOVEX_EXPORT void mexFunction(int nlhs, mxArray *[], int nrhs, const mxArray *prhs[])
{
    if (nrhs != 1 || nlhs > 0) {
        mexErrMsgIdAndTxt("dovex_seed:usage",
                          "Usage: dovex_seed(s), with s a whole number from 0 to 4294967295; "
                          "it returns nothing.");
        return;
    }
    unsigned seed = 0;
    if (seed_of(prhs[0], &seed))
        std::srand(seed);
}
