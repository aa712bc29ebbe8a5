// Linux modules built on a current glibc would need GLIBC_2.29 for exp and
// log alone, and no glibc older than that (RHEL 8, the CentOS 7 clusters, at
// 2.17) would load them. Calls of exp and log go to their first versions
// instead, which give the same bits: each is the same computation behind
// the older error-handling wrapper (tests/mex/exp_versions_test.cpp
// compares the two versions of each over millions of arguments). The one
// difference: log of a negative number is +NaN from the old wrapper and
// -NaN from the new version, so log is never called off (0, Inf]. Every file
// that calls exp or log includes this header, so every build of the core,
// CMake's, make.m's or the Octave package's, binds the same way. Only
// dovex_solve's block method calls log.
#ifndef DOVEX_CORE_GLIBC_COMPAT_H
#define DOVEX_CORE_GLIBC_COMPAT_H

#include <cmath>

#if defined(__GLIBC__) && defined(__x86_64__) && !defined(__ILP32__)
__asm__(".symver exp,exp@GLIBC_2.2.5");
__asm__(".symver log,log@GLIBC_2.2.5");
#endif

#endif
