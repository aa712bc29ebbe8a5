// Linux modules built on a current glibc would need GLIBC_2.29 for exp
// alone, and no glibc older than that (RHEL 8, the CentOS 7 clusters, at
// 2.17) would load them. Calls of exp go to its first version instead,
// which gives the same bits: it is the same computation behind the older
// error-handling wrapper (tests/mex/exp_versions_test.cpp compares the
// two over millions of arguments). Every file that calls exp includes this
// header, so every build of the core, CMake's, make.m's or the Octave
// package's, binds the same way.
#ifndef DOVEX_CORE_GLIBC_COMPAT_H
#define DOVEX_CORE_GLIBC_COMPAT_H

#include <cmath>

#if defined(__GLIBC__) && defined(__x86_64__) && !defined(__ILP32__)
__asm__(".symver exp,exp@GLIBC_2.2.5");
#endif

#endif
