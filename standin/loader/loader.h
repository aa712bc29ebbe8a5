/* Loads a MEX module file and calls it through the stand-in host, as MATLAB
 * would: the module is opened by path, its mexFunction looked up by name
 * and called with arrays the caller builds. */
#ifndef STANDIN_LOADER_H
#define STANDIN_LOADER_H

#include "standin.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct mex_module mex_module;

/* Opens the module file at path. On failure returns NULL and, if err is
 * given, describes why in err (errlen bytes). */
mex_module *mex_open(const char *path, char *err, size_t errlen);
void mex_close(mex_module *m);
mex_function_t mex_entry(const mex_module *m);

/* Calls the module's mexFunction; see standin_call. Returns failed. */
int mex_call(const mex_module *m, int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[],
             standin_outcome *out);

/* A real full double m x n matrix holding values (column-major, m*n of
 * them), or zeros when values is NULL. NULL when memory runs out. */
mxArray *mex_matrix(size_t m, size_t n, const double *values);

/* A 1 x 1 struct with the nfields fields names, in that order, field k
 * holding values[k] (or empty if that is NULL): the struct owns them from
 * then on, and destroying it destroys them. NULL when a name is no valid
 * field name or memory runs out; the values are destroyed then. Logical
 * scalars and char rows for such fields come from mxCreateLogicalScalar and
 * mxCreateString. */
mxArray *mex_struct(size_t nfields, const char *const *names, mxArray *const *values);

#ifdef __cplusplus
}
#endif

#endif
