#!/usr/bin/env bash
# Prints the share of test code in all C++ of the project: non-blank lines
# that are not only comment, in .cpp and .h files. Test code is everything
# under tests/ (the platform doubles in tests/support/ included; fuzz corpora
# are data and hold no C++); product code is what ships: archive/, words/, cli/,
# widgets/, dialogs/, ui/, platform/, app/. The benchmark counts on neither
# side and is printed apart.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 - "$@" <<'PY'
import os, re, sys

def code_lines(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    # Comments out, strings kept (a "//" inside a string is not a comment).
    out, i, n = [], 0, len(text)
    while i < n:
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            k = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, k))
            i = k
        elif text[i] == '"' or (text[i] == "'" and not (i and text[i - 1].isalnum())):
            q, j = text[i], i + 1
            while j < n and text[j] != q and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(text[i])
            i += 1
    return sum(1 for line in "".join(out).splitlines() if line.strip())

def count(folders):
    total = {}
    for folder in folders:
        for d, dirs, files in os.walk(folder):
            dirs[:] = [x for x in dirs if x not in ("corpus", "regressions")]
            for f in files:
                if f.endswith((".cpp", ".h")):
                    total[folder] = total.get(folder, 0) + code_lines(os.path.join(d, f))
    return total

product = count(["archive", "words", "cli", "widgets", "dialogs", "ui", "platform", "app"])
tests = count(["tests"])
bench = count(["bench"])
support = count(["tests/support"])
p, t = sum(product.values()), sum(tests.values())
print("product lines: %d (%s)" % (p, ", ".join("%s %d" % kv for kv in sorted(product.items()))))
print("test lines:    %d (tests/support, doubles and mains: %d)" % (t, sum(support.values())))
print("bench lines:   %d (on neither side)" % sum(bench.values()))
print("test share:    %.1f%%" % (100.0 * t / (t + p)))
PY
