// DOVEX_EXPORT marks a gateway's mexFunction, the one symbol its module
// exports. Octave's mex.h does not mark it, and the modules are built with
// hidden visibility.
#ifndef DOVEX_MEX_EXPORT_H
#define DOVEX_MEX_EXPORT_H

#if defined(_WIN32)
#define DOVEX_EXPORT __declspec(dllexport)
#else
#define DOVEX_EXPORT __attribute__((visibility("default")))
#endif

#endif
