/* The stand-in host's own control interface, for the programs that play
 * MATLAB's part: build arrays of any kind, call a module's mexFunction and
 * learn what the call did. Modules never include this. */
#ifndef STANDIN_STANDIN_H
#define STANDIN_STANDIN_H

#include "mex.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*mex_function_t)(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

/* A new array of any class, real or complex, full or sparse, with ndims
 * (at least 2) dimensions. With with_data 0 the array has its dimensions
 * only and no data (mxGetPr, mxGetData, mxGetIr and mxGetJc give NULL):
 * that describes arrays far larger than memory, to exercise a module's size
 * checks. With data, a full array holds its elements zero-filled; a sparse
 * one has room for one element and stores none (mxCreateSparse gives more
 * room). A struct array made here has no fields (mxCreateStructMatrix makes
 * them). Returns NULL when the memory cannot be had. */
STANDIN_MX_API mxArray *standin_array(mxClassID cls, mxComplexity cx, int sparse, size_t ndims,
                                      const size_t *dims, int with_data);

/* Bytes in one element of an array of class cls: 8 for double and the
 * 64-bit integers, 4 for single and the 32-bit ones, 2 for char and the
 * 16-bit ones, 1 for logical and the 8-bit ones; 0 for the classes that hold
 * no plain data here (cells, structs, function handles, unknown). */
STANDIN_MX_API size_t standin_element_size(mxClassID cls);

/* Scratch blocks from mxCalloc not yet released, over all calls. */
STANDIN_MX_API size_t standin_live_blocks(void);

/* What one call did. */
typedef struct {
    int failed;         /* the module raised an error */
    char id[128];       /* its identifier ("" for mexErrMsgTxt) */
    char message[1024]; /* its text */
    size_t callocs;     /* mxCalloc calls made */
    size_t left_blocks; /* scratch blocks still allocated at the end */
    size_t left_bytes;
    size_t arrays_created; /* arrays the module created */
    /* Created, neither returned nor destroyed, nor held by a field of a
     * struct that was returned or destroyed; a struct left behind counts
     * with every array its fields hold. */
    size_t arrays_left;
    /* mxFree of a pointer the host never gave, mxDestroyArray of an array
     * the call does not own (an input, say), and mxSetField the host
     * refused (see there). Each is counted and not done. */
    size_t bad_frees;
} standin_outcome;

/* Calls fn as MATLAB would: plhs must have room for max(nlhs, 1) arrays and
 * is cleared first. The host gets control back when the module raises an
 * error. Afterwards, as in MATLAB, scratch memory the module left allocated
 * is freed; after an error the arrays it created are destroyed and plhs is
 * cleared, after success those it did not return are (a returned struct
 * keeps the arrays in its fields; an array returned out of a field is taken
 * out of it). Returns failed. */
STANDIN_MEX_API int standin_call(mex_function_t fn, int nlhs, mxArray *plhs[], int nrhs,
                                 const mxArray *prhs[], standin_outcome *out);

/* Text printed with mexPrintf and commands given to mexEvalString since the
 * last standin_call began (or standin_clear_output). */
STANDIN_MEX_API const char *standin_output(void);
STANDIN_MEX_API size_t standin_eval_count(void);
STANDIN_MEX_API const char *standin_eval(size_t i);
STANDIN_MEX_API void standin_clear_output(void);
/* With on non-zero, printed text also goes to stdout, flushed on "drawnow". */
STANDIN_MEX_API void standin_echo(int on);

/* The stand-in's internals between libmex and libmx: a call is bracketed by
 * these, and raise is how libmx ends the call when memory runs out. */
typedef struct {
    size_t callocs, left_blocks, left_bytes, arrays_created, arrays_left, bad_frees;
} standin_mx_report;
STANDIN_MX_API void standin_mx_begin(void (*raise)(const char *id, const char *message));
STANDIN_MX_API void standin_mx_end(int failed, mxArray *plhs[], int nslots,
                                   standin_mx_report *report);

#ifdef __cplusplus
}
#endif

#endif
