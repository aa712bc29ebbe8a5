#!/usr/bin/env bash
# Checks that Linux modules load on every glibc since 2.17: each version
# they need, from the version-needs table and from the imported symbols
# alike, is a GLIBC_ version no later than 2.17. Anything else fails,
# GLIBCXX_ and CXXABI_ above all: MATLAB loads its own libstdc++, older
# than the one a module may have been built against.
#
#   glibc_test.sh MODULE...
set -uo pipefail
export LC_ALL=C
[ $# -gt 0 ] || { echo "usage: glibc_test.sh MODULE..."; exit 2; }
newest_allowed=2.17

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
join() { paste -sd' ' -; }
# The versions in $1 that are not GLIBC_ or come after GLIBC_2.17.
too_new() {
    local v
    for v in $1; do
        if [[ $v =~ ^GLIBC_([0-9]+(\.[0-9]+)+)$ ]]; then
            [ "$(printf '%s\n%s\n' "${BASH_REMATCH[1]}" "$newest_allowed" | sort -V | tail -1)" \
                == "$newest_allowed" ] || echo "$v"
        else
            echo "$v"
        fi
    done | join
}

for module in "$@"; do
    name=$(basename "$module")
    [ -f "$module" ] || { check "$name exists" "yes" "no"; continue; }
    # "Name: GLIBC_2.14  Flags: ..." lines under .gnu.version_r.
    needs=$(readelf -V -W "$module" |
        sed -n '/\.gnu\.version_r/,/^$/s/.*Name: \([^ ]*\) .*/\1/p' | sort -uV | join)
    # Imports print their version in parentheses; host functions have none.
    imported=$(objdump -T "$module" | awk '/\*UND\*/ && $(NF - 1) ~ /^\(/ { print $(NF - 1) }' |
        tr -d '()' | sort -uV | join)
    check "$name needs some glibc version" "yes" \
        "$([[ " $needs " == *" GLIBC_"* ]] && echo yes || echo no)"
    check "$name version needs after GLIBC_$newest_allowed or not glibc's" "" "$(too_new "$needs")"
    check "$name symbol versions after GLIBC_$newest_allowed or not glibc's" "" \
        "$(too_new "$imported")"
    check "$name imports from libstdc++'s versions" "" \
        "$(objdump -T "$module" | awk '/\*UND\*/ && /GLIBCXX_|CXXABI_/')"
    echo "$name needs: $needs"
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
