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

typedef struct mxArray_tag mxArray;

/* Dimensions and indices of the 32-bit-dimension interface. */
typedef int mwSize;
typedef int mwIndex;

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
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700

/* A new m x n double matrix, all zeros (real and, if complex, imaginary). */
mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
void mxDestroyArray(mxArray *a);

double *mxGetPr(const mxArray *a); /* real data; NULL for an array without data */
double *mxGetPi(const mxArray *a); /* imaginary data; NULL for a real array */
void *mxGetData(const mxArray *a);
size_t mxGetM(const mxArray *a); /* rows */
size_t mxGetN(const mxArray *a); /* product of all dimensions but the first */
size_t mxGetNumberOfElements(const mxArray *a);
int mxGetNumberOfDimensions_700(const mxArray *a);
mxClassID mxGetClassID(const mxArray *a);
const char *mxGetClassName(const mxArray *a); /* "double", "single", ... */
int mxIsDouble(const mxArray *a);
int mxIsComplex(const mxArray *a);
int mxIsSparse(const mxArray *a);
int mxIsEmpty(const mxArray *a);

/* Zero-filled scratch memory for the length of one call. The host frees
 * whatever the module leaves allocated when the call ends; running out of
 * memory raises an error instead of returning NULL. */
void *mxCalloc(size_t n, size_t size);
void mxFree(void *ptr);

#ifdef __cplusplus
}
#endif

#endif
