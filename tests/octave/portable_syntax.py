#!/usr/bin/env python3
"""Fails on Octave-only syntax in the code of the shipped .m files.

The functions run in MATLAB as well as Octave, so their code may not use
what only Octave reads: # comments, double-quoted strings, !, !=, ++, +=
and the like, endif and the other end* keywords, printf and puts. Lines of
Octave's own test and demo blocks (%!) are Octave-only by nature and are
passed over, as are comments and the contents of single-quoted strings.

    portable_syntax.py FILE...
"""
import re
import sys

OCTAVE_ONLY = [
    (re.compile(r"#"), "a # comment or character"),
    (re.compile(r'"'), "a double-quoted string"),
    (re.compile(r"!"), "! or != (use ~ and ~=)"),
    (re.compile(r"\+\+|--(?!-)|[-+*/]="), "an increment or compound assignment"),
    (re.compile(r"\b(endif|endfor|endwhile|endfunction|endswitch|end_try_catch|"
                r"end_unwind_protect|unwind_protect|until)\b"), "an Octave-only keyword"),
    (re.compile(r"\b(printf|puts|fputs|fdisp)\s*\("), "an Octave-only output function"),
]


def code_of(line):
    """The line without its comment and with single-quoted strings blanked."""
    out = []
    i = 0
    while i < len(line):
        c = line[i]
        if c == "%":
            break
        if c == "'":
            # A quote right after a value is the transpose operator.
            prev = "".join(out).rstrip()
            if out and out[-1] not in " \t" and re.search(r"[\w)\]}.']$", prev):
                out.append(c)
                i += 1
                continue
            j = i + 1
            while j < len(line):
                if line[j] == "'" and j + 1 < len(line) and line[j + 1] == "'":
                    j += 2
                elif line[j] == "'":
                    break
                else:
                    j += 1
            out.append("''")
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)


def findings(lines):
    """(line number, what, line) of each line with Octave-only code."""
    for n, line in enumerate(lines, 1):
        if line.startswith("%!"):
            continue
        code = code_of(line.rstrip("\n"))
        for pattern, what in OCTAVE_ONLY:
            if pattern.search(code):
                yield n, what, line.strip()
                break


# Seven lines of which the first six must be found and the last not, so
# that a checker that finds nothing cannot pass.
SAMPLE = """# a comment
y = "text";
if x != 1, end
x += 1;
endif
printf('%d', x);
z = x';  w = 'a#b!"';  % a comment with # and !
%! assert (1 != 2)
""".splitlines()


def main(paths):
    if [n for n, _, _ in findings(SAMPLE)] != [1, 2, 3, 4, 5, 6]:
        print("the checker misreads its own sample")
        return 2
    found = 0
    for path in paths:
        with open(path, encoding="utf-8") as f:
            for n, what, line in findings(f):
                print(f"{path}:{n}: {what}: {line}")
                found += 1
    print(f"{len(paths)} files read, {found} Octave-only constructs")
    return 1 if found or not paths else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
