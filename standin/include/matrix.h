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

/* One element of a logical array, one byte. */
#ifdef __cplusplus
typedef bool mxLogical;
#else
typedef unsigned char mxLogical;
#endif

/* Modules call these under their plain names; the 32-bit-dimension
 * interface exports them with a _700 suffix. */
#define mxCreateDoubleMatrix mxCreateDoubleMatrix_700
#define mxCreateSparse mxCreateSparse_700
#define mxGetNumberOfDimensions mxGetNumberOfDimensions_700
#define mxCreateStructMatrix mxCreateStructMatrix_700

/* A new m x n double matrix, all zeros (real and, if complex, imaginary). */
STANDIN_MX_API mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag);
/* A new m x n sparse double matrix with room for nzmax stored elements (at
 * least one) and none stored: its column starts (mxGetJc, n + 1 of them)
 * are all 0. Column c stores the elements jc[c] .. jc[c+1]-1 of the values
 * (mxGetPr, and mxGetPi if complex) in the rows ir[jc[c]] .. (mxGetIr),
 * counted from 0 and increasing; every other element is zero. */
STANDIN_MX_API mxArray *mxCreateSparse_700(int m, int n, int nzmax, mxComplexity flag);
/* A new m x n struct array with the nfields fields named in fieldnames, in
 * that order (names as MATLAB's: a letter, then letters, digits and
 * underscores, 63 at most, no two alike); every field of every element is
 * empty (NULL) until mxSetField fills it. */
STANDIN_MX_API mxArray *mxCreateStructMatrix_700(int m, int n, int nfields,
                                                 const char **fieldnames);
STANDIN_MX_API mxArray *mxCreateDoubleScalar(double value);
STANDIN_MX_API mxArray *mxCreateLogicalScalar(mxLogical value);
/* A 1 x n char array of the UTF-8 text str (0 x 0 for ""), one UTF-16 unit
 * per element as MATLAB stores text; bytes that are no UTF-8 become U+FFFD. */
STANDIN_MX_API mxArray *mxCreateString(const char *str);
/* Frees a and, for a struct, every array in its fields, recursively. An
 * array that sits in a field may be destroyed too (its field becomes empty),
 * as before replacing it with mxSetField. */
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
STANDIN_MX_API int mxIsNumeric(const mxArray *a); /* double, single or an integer class */
STANDIN_MX_API int mxIsLogical(const mxArray *a);
STANDIN_MX_API int mxIsChar(const mxArray *a);
STANDIN_MX_API int mxIsStruct(const mxArray *a);

/* A logical array's elements; NULL for any other class. */
STANDIN_MX_API mxLogical *mxGetLogicals(const mxArray *a);
/* A char array's text, its elements in column order, as a NUL-terminated
 * UTF-8 string in scratch memory that the caller frees with mxFree; NULL
 * for any other class. Text is read this way rather than with mxGetChars
 * because both MATLAB and Octave provide it with this meaning, while
 * mxGetChars gives 16-bit elements in MATLAB and 8-bit ones in Octave. */
STANDIN_MX_API char *mxArrayToString(const mxArray *a);

/* Struct arrays. Fields are numbered from 0 in the order of their names;
 * elements (index) from 0 in column order. Each call gives 0 or NULL for an
 * array that is no struct, a number or index out of range, a name that is
 * no field (names are case-sensitive) or a field never filled. */
STANDIN_MX_API int mxGetNumberOfFields(const mxArray *a);
STANDIN_MX_API const char *mxGetFieldNameByNumber(const mxArray *a, int fieldnumber);
STANDIN_MX_API mxArray *mxGetField(const mxArray *a, mwIndex index, const char *fieldname);
STANDIN_MX_API mxArray *mxGetFieldByNumber(const mxArray *a, mwIndex index, int fieldnumber);
/* Puts value (or NULL) into a field of element index of the struct a; the
 * struct owns it from then on and destroys it with itself. The value the
 * field held before is not destroyed: it is the caller's again. Nothing is
 * done for a name that is no field or an index out of range, and value
 * stays the caller's. The value must be an array the caller owns that no
 * field holds yet, and neither a itself nor a struct that holds a: never an
 * input of the call, say. The host refuses any other (and a struct a the
 * call does not own) and counts the attempt among the bad frees. */
STANDIN_MX_API void mxSetField(mxArray *a, mwIndex index, const char *fieldname, mxArray *value);

/* Zero-filled scratch memory for the length of one call. The host frees
 * whatever the module leaves allocated when the call ends; running out of
 * memory raises an error instead of returning NULL. */
STANDIN_MX_API void *mxCalloc(size_t n, size_t size);
STANDIN_MX_API void mxFree(void *ptr);

#ifdef __cplusplus
}
#endif

#endif
