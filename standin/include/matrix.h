/* The matrix interface of the stand-in host: a small mxArray and the
 * functions a MEX module calls on it. Written for building and testing MEX
 * modules without MATLAB; the names and signatures are those a module
 * compiled against MATLAB's interface with 32-bit dimensions links to, so
 * the same module file runs under the stand-in and under MATLAB. */
#ifndef STANDIN_MATRIX_H
#define STANDIN_MATRIX_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* On Windows the host DLLs export exactly the interface; modules import it
 * through the DLLs' import libraries. */
#if defined(_WIN32) && defined(STANDIN_BUILD_MX)
#define STANDIN_MX_API __declspec(dllexport)
#else
#define STANDIN_MX_API
#endif

typedef struct mxArray_tag mxArray;

/* Dimensions of the 32-bit-dimension interface. The row and column
 * indices of a sparse array are as wide as a pointer, as the host stores
 * them: 64-bit on 64-bit hosts, 32-bit on 32-bit ones. */
typedef int mwSize;
typedef size_t mwIndex;

typedef enum {
    mxUNKNOWN_CLASS,
    mxCELL_CLASS,
    mxSTRUCT_CLASS,
    mxLOGICAL_CLASS,
    mxCHAR_CLASS,
    mxVOID_CLASS,
    mxDOUBLE_CLASS,
    mxSINGLE_CLASS,
    mxINT8_CLASS,
    mxUINT8_CLASS,
    mxINT16_CLASS,
    mxUINT16_CLASS,
    mxINT32_CLASS,
    mxUINT32_CLASS,
    mxINT64_CLASS,
    mxUINT64_CLASS,
    mxFUNCTION_CLASS
} mxClassID;

typedef enum { mxREAL, mxCOMPLEX } mxComplexity;

/* Modules call these under their plain names; the 32-bit-dimension
 * interface exports them with a _700 suffix. */
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateSparse mxCreateSparse_700
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700

/* A new m x n double matrix, all zeros (real and, if complex, imaginary). */
STANDIN_MX_API mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
/* A new m x n sparse double matrix with room for nzmax stored elements (at
 * least one) and none stored: its column starts (mxGetJc, n + 1 of them)
 * are all 0. Column c stores the elements jc[c] .. jc[c+1]-1 of the values
 * (mxGetPr, and mxGetPi if complex) in the rows ir[jc[c]] .. (mxGetIr),
 * counted from 0 and increasing; every other element is zero. */
STANDIN_MX_API mxArray *mxCreateSparse_700(int m, int n, int nzmax, mxComplexity flag);
STANDIN_MX_API void mxDestroyArray(mxArray *a);

STANDIN_MX_API double *mxGetPr(const mxArray *a); /* real data; NULL for an array without data */
STANDIN_MX_API double *mxGetPi(const mxArray *a); /* imaginary data; NULL for a real array */
STANDIN_MX_API void *mxGetData(const mxArray *a);
/* A sparse array's row indices and column starts, and its room for stored
 * elements; NULL (or 0) for a full array or one without data. */
STANDIN_MX_API mwIndex *mxGetIr(const mxArray *a);
STANDIN_MX_API mwIndex *mxGetJc(const mxArray *a);
STANDIN_MX_API size_t mxGetNzmax(const mxArray *a);
STANDIN_MX_API size_t mxGetM(const mxArray *a); /* rows */
STANDIN_MX_API size_t mxGetN(const mxArray *a); /* product of all dimensions but the first */
STANDIN_MX_API size_t mxGetNumberOfElements(const mxArray *a);
STANDIN_MX_API int mxGetNumberOfDimensions_700(const mxArray *a);
STANDIN_MX_API mxClassID mxGetClassID(const mxArray *a);
STANDIN_MX_API const char *mxGetClassName(const mxArray *a); /* "double", "single", ... */
STANDIN_MX_API int mxIsDouble(const mxArray *a);
STANDIN_MX_API int mxIsComplex(const mxArray *a);
STANDIN_MX_API int mxIsSparse(const mxArray *a);
STANDIN_MX_API int mxIsEmpty(const mxArray *a);

/* Zero-filled scratch memory for the length of one call. The host frees
 * whatever the module leaves allocated when the call ends; running out of
 * memory raises an error instead of returning NULL. */
STANDIN_MX_API void *mxCalloc(size_t n, size_t size);
STANDIN_MX_API void mxFree(void *ptr);

#ifdef __cplusplus
}
#endif

#endif
