#!/usr/bin/env bash
# The sources as make.m compiles them on macOS, short of Apple's SDK: every
# core/*.cpp and every gateway mex/*.cpp compiled by clang into a Mach-O
# object for Intel (x86_64-apple-macos10.15) and Apple silicon
# (arm64-apple-macos11), with make.m's flags (-std=c++17 and those of
# core/exact_fp.flags) and -Wall -Wextra -Werror, each gateway once against
# the stand-in host's mex.h (as MATLAB's mex builds it) and once against
# Octave's (as mkoctfile --mex does). No Apple headers are here, so the
# standard headers are LLVM's libc++ (the C++ library macOS ships) over
# musl's C headers (a C library that, like Apple's, is not glibc): what is
# compiled is what a non-glibc Apple target selects, and Mach-O's assembler
# refuses anything ELF-only, such as the glibc symbol binding of
# core/glibc_compat.h. Not covered: Apple's own C headers, linking, loading.
#
#   macos_compile.sh CLANG SOURCE_DIR LIBCXX_INCLUDE LIBC_INCLUDE NM [OCTAVE_INCLUDE...]
set -uo pipefail
export LC_ALL=C
clang=$1 src=$2 libcxx=$3 libc=$4 nm=$5
shift 5
octave_includes=("$@")

passed=0
failed=0
check() { # check NAME EXPECTED ACTUAL
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
    fi
}

mapfile -t fpflags < <(grep -v '^#' "$src/core/exact_fp.flags" | grep -v '^[[:space:]]*$')
check "flags in core/exact_fp.flags" "yes" "$([ ${#fpflags[@]} -gt 0 ] && echo yes || echo no)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for target in x86_64-apple-macos10.15 arm64-apple-macos11; do
    arch=${target%%-*}
    cxx=("$clang" --target="$target" -std=c++17 "${fpflags[@]}" -Wall -Wextra -Werror
        -nostdinc -nostdinc++ -isystem "$libcxx" -isystem "$("$clang" -print-resource-dir)/include"
        -isystem "$libc" -I"$src/core" -I"$src/mex")

    # What the sources' #if lines see there: Apple, and no glibc or Linux.
    macros=$(printf '#include <cmath>\n#include <cstdlib>\n#include <cstring>\n#include <cstdint>\n' |
        "${cxx[@]}" -x c++ -dM -E - 2>&1)
    check "$target: predefined macros" "__APPLE__" \
        "$(grep -oE '^#define (__APPLE__|__GLIBC__|__linux__|__linux|_WIN32) ' <<<"$macros" |
            awk '{print $2}' | sort | paste -sd' ' -)"

    compile() { # compile LABEL SOURCE INCLUDES...
        local label=$1 source=$2 obj
        shift 2
        obj=$work/$target-$label-$(basename "$source" .cpp).o
        out=$("${cxx[@]}" "$@" -c "$source" -o "$obj" 2>&1)
        check "$target: $label $(basename "$source") compiles" "0:" "$?:$out"
        check "$target: $label $(basename "$source") is a Mach-O $arch object" "yes" \
            "$(file -b "$obj" 2>/dev/null | grep -qE "^Mach-O 64-bit $arch object" && echo yes || echo no)"
    }
    for f in "$src"/core/*.cpp; do
        compile core "$f"
    done
    for f in "$src"/mex/*.cpp; do
        compile matlab "$f" -I"$src/standin/include"
        g=$(basename "$f" .cpp)
        check "$target: matlab $g.cpp defines mexFunction" "_mexFunction" \
            "$("$nm" -g --defined-only "$work/$target-matlab-$g.o" | awk '$3 == "_mexFunction" {print $3}')"
        if [ ${#octave_includes[@]} -gt 0 ]; then
            compile octave "$f" "${octave_includes[@]/#/-I}"
        fi
    done
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
