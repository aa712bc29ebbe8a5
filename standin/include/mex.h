/* The MEX interface of the stand-in host: the module's entry point and the
 * host services it calls for output, commands and errors. */
#ifndef STANDIN_MEX_H
#define STANDIN_MEX_H

#include "matrix.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(STANDIN_BUILD_MEX)
#define STANDIN_MEX_API __declspec(dllexport)
#else
#define STANDIN_MEX_API
#endif

#if defined(__GNUC__)
#define STANDIN_NORETURN __attribute__((noreturn))
#define STANDIN_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define STANDIN_NORETURN
#define STANDIN_PRINTF(f, a)
#endif

/* What a module defines and the host calls: nlhs outputs requested into
 * plhs (which has room for at least one), nrhs inputs in prhs. */
void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]);

/* printf-style text to the command window. */
STANDIN_MEX_API int mexPrintf(const char *format, ...) STANDIN_PRINTF(1, 2);
/* Evaluates a host command; 0 on success. */
STANDIN_MEX_API int mexEvalString(const char *command);
/* Raise an error: the call ends there and control goes back to the host,
 * which frees the call's scratch memory and new arrays. Never return. */
STANDIN_MEX_API void mexErrMsgTxt(const char *message) STANDIN_NORETURN;
STANDIN_MEX_API void mexErrMsgIdAndTxt(const char *id, const char *format, ...) STANDIN_NORETURN
    STANDIN_PRINTF(2, 3);

#ifdef __cplusplus
}
#endif

#endif
