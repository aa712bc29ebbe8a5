# The reader of mex/imports.txt (its head comment gives the format), sourced
# by the Linux and Windows binding tests and by gateways_test.sh.

# imports_of FILE GATEWAY KIND FROM: the names, in the file's order, of the
# gateway's own lines for that kind and FROM, or else of the * lines; fails
# when there are neither.
imports_of() {
    awk -v g="$2" -v k="$3" -v f="$4" '
        /^[[:space:]]*(#|$)/ || $3 != f { next }
        {
            n = split($2, kinds, ",")
            for (i = 1; i <= n && kinds[i] != k; i++) {}
            if (i > n) next
        }
        $1 == g { has_own = 1; for (i = 4; i <= NF; i++) own = own " " $i }
        $1 == "*" { has_all = 1; for (i = 4; i <= NF; i++) all = all " " $i }
        END {
            if (has_own) print substr(own, 2)
            else if (has_all) print substr(all, 2)
            else exit 1
        }' "$1"
}

# imports_gateways FILE: the gateways that have lines of their own, sorted.
imports_gateways() {
    awk '!/^[[:space:]]*(#|$)/ && $1 != "*" { print $1 }' "$1" | sort -u
}

# imports_malformed FILE: the lines whose kinds or FROM are not known, or
# that lack them.
imports_malformed() {
    awk '
        /^[[:space:]]*(#|$)/ { next }
        {
            bad = NF < 3 || $3 !~ /^(needed|libmx|libmex|crt)$/
            n = split($2, kinds, ",")
            for (i = 1; i <= n; i++) if (kinds[i] !~ /^mex(a64|w64|w32)$/) bad = 1
            if (bad) print FILENAME ":" FNR ": " $0
        }' "$1"
}

# imports_has FILE GATEWAY KIND FROM: whether the gateway has a line of its
# own for that kind and FROM.
imports_has() {
    awk -v g="$2" -v k="$3" -v f="$4" '
        /^[[:space:]]*(#|$)/ || $1 != g || $3 != f { next }
        { n = split($2, kinds, ","); for (i = 1; i <= n; i++) if (kinds[i] == k) found = 1 }
        END { exit !found }' "$1"
}
