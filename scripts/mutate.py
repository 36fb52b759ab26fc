#!/usr/bin/env python3
"""Mutation testing for the product's C++: breaks the code one small change at
a time and checks that some test notices.

    scripts/mutate.py --paths archive --count 150 --seed 7
    scripts/mutate.py --list --paths widgets/progress --count 20 --seed 7
    scripts/mutate.py --score [RUN_ID]
    scripts/mutate.py --restore

Each mutant is applied to the source file, the test binaries of the mutated
folder are rebuilt in build/mutate (ninja, ccache) and run with a timeout, and
the file is put back, always: on success, on failure, on Ctrl-C and on
SIGTERM. A copy of the original waits in build/mutate/backup while a mutant is
applied; `--restore` puts it back after a crash of this script.

Outcomes go to tests/mutation/runs.tsv, one row per mutant. Survivors judged
equivalent (no test could tell them apart from the original) are listed in
tests/mutation/equivalent.tsv and leave the score:
    score = killed / (killed + survived - equivalent)
where a timeout counts as killed and a mutant that does not compile counts
neither way.

Python 3 standard library only.
"""

import argparse
import fcntl
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "mutate")
BACKUP = os.path.join(BUILD, "backup")
MARKER = os.path.join(BACKUP, "active.json")
RUNS = os.path.join(ROOT, "tests", "mutation", "runs.tsv")
EQUIVALENT = os.path.join(ROOT, "tests", "mutation", "equivalent.tsv")
RUNS_HEADER = ["run", "seed", "file", "line", "col", "operator", "original", "mutant",
               "status", "seconds", "detail"]

# Product folders and the test binaries that exercise them: (ninja target,
# binary path under the build folder). The narrow set is the folder's own
# tests; --wide adds every other test binary that links the folder's library.
FOLDERS = {
    "archive": [("archive_tests", "tests/archive/archive_tests")],
    "widgets/progress": [("coolbar_tests", "tests/widgets/coolbar_tests")],
    "dialogs": [("dialog_tests", "tests/dialogs/dialog_tests")],
    "ui": [("ui_tests", "tests/ui/ui_tests")],
    "cli": [("cli_tests", "tests/cli/cli_tests")],
    "words": [("ui_tests", "tests/ui/ui_tests"), ("cli_tests", "tests/cli/cli_tests")],
}
WIDE = {
    "archive": [("cli_tests", "tests/cli/cli_tests"), ("ui_tests", "tests/ui/ui_tests")],
    "widgets/progress": [("ui_tests", "tests/ui/ui_tests")],
    "dialogs": [("ui_tests", "tests/ui/ui_tests")],
}


def folder_of(path):
    for f in sorted(FOLDERS, key=len, reverse=True):
        if path == f or path.startswith(f + "/"):
            return f
    return None


# ---------------------------------------------------------------------------
# Which characters are code: comments, string and character literals and
# preprocessor lines are never mutated.

def code_mask(text):
    mask = [True] * len(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c in " \t":
            i += 1
            continue
        if line_start and c == "#":
            j = i
            while j < n:  # to the end of the line, following continuations
                if text[j] == "\n" and (j == 0 or text[j - 1] != "\\"):
                    break
                j += 1
            for k in range(i, j):
                mask[k] = False
            i = j
            continue
        line_start = False
        if c == "\n":
            line_start = True
            i += 1
        elif text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            for k in range(i, j):
                mask[k] = False
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            for k in range(i, j):
                mask[k] = False
            i = j
        elif c == "R" and text.startswith('R"', i) and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if not m:
                i += 1
                continue
            end = text.find(")" + m.group(1) + '"', i)
            j = n if end < 0 else end + len(m.group(1)) + 2
            for k in range(i, j):
                mask[k] = False
            i = j
        elif c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            # a digit separator (1'000) is not a character literal
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            j = min(j + 1, n)
            for k in range(i, j):
                mask[k] = False
            i = j
        else:
            i += 1
    return mask


# ---------------------------------------------------------------------------
# Mutants

@dataclass
class Mutant:
    file: str        # relative to ROOT
    start: int       # character offsets of the replaced text
    end: int
    original: str
    replacement: str
    operator: str
    line: int = 0
    col: int = 0

    def key(self):
        return (self.file, self.line, self.describe())

    def describe(self):
        return f"{self.operator}@{self.col}:{norm(self.original)}->{norm(self.replacement)}"


def norm(code):
    """One line of at most 80 characters, as the runs table records it."""
    return " ".join(code.split())[:80]


KEYWORDS = {"return", "if", "while", "for", "switch", "case", "delete", "throw", "new", "else",
            "do", "co_return", "goto", "using", "typedef", "static_assert", "default",
            # checks of debug builds only, and markers without behaviour
            "Q_ASSERT", "Q_ASSERT_X", "assert", "Q_UNUSED", "Q_OBJECT"}

COMPARISONS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}


def matching_paren(text, open_at, mask):
    depth = 0
    for j in range(open_at, len(text)):
        if not mask[j]:
            continue
        if text[j] == "(":
            depth += 1
        elif text[j] == ")":
            depth -= 1
            if depth == 0:
                return j
    return -1


def find_mutants(rel):
    path = os.path.join(ROOT, rel)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    mask = code_mask(text)
    out = []

    def all_code(a, b):
        return all(mask[a:b])

    def add(a, b, repl, op):
        if all_code(a, b):
            out.append(Mutant(rel, a, b, text[a:b], repl, op))

    # Comparisons. clang-format spaces binary operators, so " < " is a
    # comparison and "vector<int>" a template.
    for m in re.finditer(r"(?<=[ ])(<=|>=|==|!=|<|>)(?=[ ])", text):
        if m.group(1) in ("<", ">") and text[m.start() - 2:m.start()] in ("<<", ">>"):
            continue
        add(m.start(1), m.end(1), COMPARISONS[m.group(1)], "comparison")

    # Logical operators.
    for m in re.finditer(r"(?<= )(&&|\|\|)(?= )", text):
        add(m.start(1), m.end(1), "||" if m.group(1) == "&&" else "&&", "logical")

    # Negated conditions.
    for m in re.finditer(r"\b(if|while)\s*\(", text):
        if not mask[m.start()]:
            continue
        open_at = m.end() - 1
        close = matching_paren(text, open_at, mask)
        if close < 0:
            continue
        inner = text[open_at + 1:close]
        if inner.strip().startswith("const ") or ";" in inner or re.match(r"^\s*(auto|[\w:<>]+\s+\w+\s*=)", inner):
            continue  # an if with an initialiser or a declaration
        add(open_at + 1, close, "!(" + inner + ")", "negate")

    # Boolean returns.
    for m in re.finditer(r"\breturn (true|false);", text):
        a = m.start(1)
        add(a, m.end(1), "false" if m.group(1) == "true" else "true", "return")

    # Integer constants: n -> n + 1, and 0 <-> 1.
    for m in re.finditer(r"(?<![\w.])(\d+)([uUlL]*)(?![\w.'])", text):
        if text[m.start():m.start() + 2].lower() == "0x":
            continue
        v = int(m.group(1))
        if m.group(1).startswith("0") and len(m.group(1)) > 1:
            continue  # octal
        repl = "1" if v == 0 else ("0" if v == 1 else str(v + 1))
        add(m.start(1), m.end(1), repl, "constant")

    # Call statements: a whole statement that is a call and nothing else.
    line_starts = [0] + [i + 1 for i, c in enumerate(text) if c == "\n"]
    for ls in line_starts:
        m = re.match(r"[ \t]*((?:Q_EMIT\s+)?(?:[\w]+(?:::|\.|->))*~?[\w]+\s*\()", text[ls:])
        if not m:
            continue
        a = ls + m.start(1)
        word = re.match(r"(?:Q_EMIT\s+)?~?([\w]+)", text[a:]).group(1)
        if word in KEYWORDS or not mask[a]:
            continue
        close = matching_paren(text, ls + m.end(1) - 1, mask)
        if close < 0 or not text.startswith(";", close + 1):
            continue
        # a declaration such as "Fd fd(...)" has a space before its name
        add(a, close + 2, ";", "call")

    # Line and column of each.
    for mu in out:
        ln = text.count("\n", 0, mu.start) + 1
        mu.line = ln
        mu.col = mu.start - (text.rfind("\n", 0, mu.start) + 1) + 1
    return out


def product_files(paths):
    files = []
    for p in paths:
        p = p.rstrip("/")
        full = os.path.join(ROOT, p)
        if os.path.isfile(full):
            cand = [p]
        else:
            cand = []
            for d, _, names in os.walk(full):
                for name in names:
                    cand.append(os.path.relpath(os.path.join(d, name), ROOT))
        for c in cand:
            if c.endswith((".cpp", ".h")) and folder_of(c) and not c.startswith("tests/"):
                files.append(c)
    return sorted(set(files))


def sample(paths, seed, count):
    every = []
    for f in product_files(paths):
        every.extend(find_mutants(f))
    rng = random.Random(seed)
    if count >= len(every):
        chosen = list(every)
    else:
        chosen = rng.sample(every, count)
    chosen.sort(key=lambda m: (m.file, m.start))
    return chosen, len(every)


def survivors_of(run, killed_by=None):
    """The survivors of an earlier run, found again in the current sources:
    the same change in the same file, at the nearest line to the recorded one
    (tests added since then do not move product lines, but edits may).
    With killed_by (a regular expression), instead every mutant of any run
    whose first failing test matched it: after tests are merged or shortened,
    those are the only kills that can have been lost."""
    eq = equivalents()
    found, gone = [], []
    cache, seen = {}, set()
    for r in read_tsv(RUNS):
        if killed_by is not None:
            if r["status"] != "killed" or not re.search(killed_by, r["detail"]):
                continue
        elif r["run"] != run or r["status"] != "survived":
            continue
        key = (r["file"], r["line"], f'{r["operator"]}@{r["col"]}:{r["original"]}->{r["mutant"]}')
        if key in eq or key in seen:
            continue
        seen.add(key)
        if r["file"] not in cache:  # a file since removed holds none of them
            cache[r["file"]] = (find_mutants(r["file"])
                                if os.path.exists(os.path.join(ROOT, r["file"])) else [])
        same = [m for m in cache[r["file"]] if m.operator == r["operator"] and
                norm(m.original) == r["original"] and norm(m.replacement) == r["mutant"] and
                str(m.col) == r["col"]]
        if not same:
            print(f'  gone: {r["file"]}:{r["line"]} {r["original"]}', file=sys.stderr)
            gone.append(r)
            continue
        found.append(min(same, key=lambda m: abs(m.line - int(r["line"]))))
    return found, gone


# ---------------------------------------------------------------------------
# Applying and restoring

class Interrupted(Exception):
    pass


def on_signal(signum, _frame):
    raise Interrupted(signal.Signals(signum).name)


def apply(mu):
    path = os.path.join(ROOT, mu.file)
    os.makedirs(BACKUP, exist_ok=True)
    backup = os.path.join(BACKUP, "original")
    shutil.copy2(path, backup)
    with open(MARKER, "w") as f:
        json.dump({"file": mu.file}, f)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    assert text[mu.start:mu.end] == mu.original, (mu.file, mu.line)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text[:mu.start] + mu.replacement + text[mu.end:])


_lock_file = None


def lock():
    """Takes the tree's run lock for the life of this process; False when
    another run holds it."""
    global _lock_file
    os.makedirs(BACKUP, exist_ok=True)
    _lock_file = open(os.path.join(BACKUP, "lock"), "w")
    try:
        fcntl.flock(_lock_file, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return True
    except BlockingIOError:
        return False


def restore():
    """Puts back the file a mutant was applied to. The file gets a fresh
    modification time, so that ninja rebuilds it (from ccache) next time."""
    if not os.path.exists(MARKER):
        return None
    with open(MARKER) as f:
        rel = json.load(f)["file"]
    path = os.path.join(ROOT, rel)
    backup = os.path.join(BACKUP, "original")
    with open(backup, "rb") as src:
        data = src.read()
    tmp = path + ".mutate-restore"
    with open(tmp, "wb") as dst:
        dst.write(data)
    shutil.copymode(backup, tmp)
    os.replace(tmp, path)
    os.remove(MARKER)
    return rel


# ---------------------------------------------------------------------------
# Building and running

def configure():
    if os.path.exists(os.path.join(BUILD, "build.ninja")):
        return
    cmd = ["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
           "-DQUILLMERE_WERROR=OFF"]
    # ccache brings back the objects of a mutant's earlier builds; without it
    # (it is not among the build's dependencies) ninja rebuilds them.
    if shutil.which("ccache"):
        cmd.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)


def run_limited(cmd, timeout, cwd=None):
    """Runs cmd in its own process group; returns (rc, output, timed_out)."""
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         start_new_session=True)
    try:
        out, _ = p.communicate(timeout=timeout)
        return p.returncode, out.decode("utf-8", "replace"), False
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        out, _ = p.communicate()
        return None, out.decode("utf-8", "replace"), True
    except BaseException:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        p.wait()
        raise


def build(targets, jobs):
    rc, out, _ = run_limited(["ninja", "-C", BUILD, "-j", str(jobs)] + targets, timeout=1800)
    return rc == 0, out


def run_tests(binaries, timeout):
    """Returns (status, detail): killed with the first failing test, timeout,
    or survived."""
    env_extra = {"QT_QPA_PLATFORM": "offscreen"}
    os.environ.update(env_extra)
    for b in binaries:
        full = os.path.join(BUILD, b)
        rc, out, timed_out = run_limited([full, "--gtest_fail_fast", "--gtest_brief=1"],
                                         timeout, cwd=os.path.dirname(full))
        if timed_out:
            return "timeout", os.path.basename(b)
        if rc != 0:
            m = re.search(r"\[  FAILED  \] (\S+)", out)
            if m:
                return "killed", m.group(1)
            return "killed", f"{os.path.basename(b)} exit {rc}"
    return "survived", ""


def tests_for(folder, wide):
    pairs = list(FOLDERS[folder]) + (list(WIDE.get(folder, [])) if wide else [])
    return [t for t, _ in pairs], [b for _, b in pairs]


# ---------------------------------------------------------------------------
# Records and score

def read_tsv(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        lines = [l.rstrip("\n") for l in f if l.strip() and not l.startswith("#")]
    if not lines:
        return []
    header = lines[0].split("\t")
    return [dict(zip(header, l.split("\t"))) for l in lines[1:]]


def append_run(row):
    os.makedirs(os.path.dirname(RUNS), exist_ok=True)
    new = not os.path.exists(RUNS)
    with open(RUNS, "a", encoding="utf-8") as f:
        if new:
            f.write("\t".join(RUNS_HEADER) + "\n")
        f.write("\t".join(str(row[h]).replace("\t", " ") for h in RUNS_HEADER) + "\n")


def runs_rows(runs):
    """The rows of the runs named in `runs` ("all", or run ids joined by
    commas). A mutant tested again by a later run (--again) takes the later
    outcome: the same change in the same file, at the nearest line (its line
    may have moved)."""
    rows = read_tsv(RUNS)
    if runs == "all":
        return rows
    merged = []
    for n, run in enumerate(runs.split(",")):
        for r in rows:
            if r["run"] != run:
                continue
            key = (r["file"], r["operator"], r["col"], r["original"], r["mutant"])
            same = [i for i, m in enumerate(merged) if n > 0 and m["run"] != run and
                    (m["file"], m["operator"], m["col"], m["original"], m["mutant"]) == key]
            if same:
                nearest = min(same, key=lambda i: abs(int(merged[i]["line"]) - int(r["line"])))
                merged[nearest] = r
            else:
                merged.append(r)
    return merged


def equivalents():
    return {(r["file"], r["line"], r["mutation"]) for r in read_tsv(EQUIVALENT)}


def score(rows):
    eq = equivalents()
    per = {}
    for r in rows:
        d = per.setdefault(folder_of(r["file"]) or "?",
                           {"killed": 0, "timeout": 0, "survived": 0, "equivalent": 0,
                            "did-not-compile": 0, "gone": 0})
        status = r["status"]
        mutation = f'{r["operator"]}@{r["col"]}:{r["original"]}->{r["mutant"]}'
        if status == "survived" and (r["file"], r["line"], mutation) in eq:
            d["equivalent"] += 1
        elif status in d:
            d[status] += 1
    print(f'{"folder":18} {"killed":>6} {"timeout":>7} {"survived":>8} {"equiv":>5} '
          f'{"nocompile":>9} {"gone":>4} {"score":>6}')
    for folder, d in sorted(per.items()):
        caught = d["killed"] + d["timeout"]
        denom = caught + d["survived"]
        s = f"{100.0 * caught / denom:5.1f}%" if denom else "    -"
        print(f'{folder:18} {d["killed"]:6} {d["timeout"]:7} {d["survived"]:8} '
              f'{d["equivalent"]:5} {d["did-not-compile"]:9} {d["gone"]:4} {s:>6}')
    survivors = [r for r in rows if r["status"] == "survived" and
                 (r["file"], r["line"], f'{r["operator"]}@{r["col"]}:{r["original"]}->{r["mutant"]}') not in eq]
    if survivors:
        print("\nsurvivors (gaps, or equivalents to list in tests/mutation/equivalent.tsv):")
        for r in survivors:
            print(f'  {r["file"]}:{r["line"]}\t{r["operator"]}@{r["col"]}:{r["original"]}->{r["mutant"]}')


# ---------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--paths", nargs="+", default=list(FOLDERS), help="product files or folders")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--count", type=int, default=50, help="mutants to sample")
    ap.add_argument("--timeout", type=float, default=0,
                    help="seconds per test run (default: 4 x the unmutated run + 10)")
    ap.add_argument("--jobs", type=int, default=1, help="ninja jobs")
    ap.add_argument("--wide", action="store_true", help="also run the tests of dependent folders")
    ap.add_argument("--list", action="store_true", help="print the sample and stop")
    ap.add_argument("--score", nargs="?", const="all", help="score the recorded run(s)")
    ap.add_argument("--again", metavar="RUN",
                    help="test again the survivors of an earlier run (after new tests)")
    ap.add_argument("--killed-by", metavar="REGEX",
                    help="test again every recorded kill whose first failing test matches")
    ap.add_argument("--restore", action="store_true", help="put back a file left mutated")
    args = ap.parse_args()

    if args.restore:
        if not lock():
            print("a run is going on; it restores its own file", file=sys.stderr)
            return 2
        rel = restore()
        print(f"restored {rel}" if rel else "nothing to restore")
        return 0
    if args.score:
        score(runs_rows(args.score))
        return 0

    if args.killed_by:
        mutants, gone = survivors_of(None, args.killed_by)
        args.seed = ""
        print(f"{len(mutants)} recorded kills by tests matching {args.killed_by}")
    elif args.again:
        mutants, gone = survivors_of(args.again)
        args.seed = next((r["seed"] for r in read_tsv(RUNS) if r["run"] == args.again), "")
        print(f"{len(mutants)} survivors of run {args.again} (seed {args.seed})")
    else:
        mutants, total = sample(args.paths, args.seed, args.count)
        print(f"seed {args.seed}: {len(mutants)} of {total} mutants in {' '.join(args.paths)}")
    if args.list:
        for mu in mutants:
            print(f"{mu.file}:{mu.line}\t{mu.describe()}")
        return 0

    # One run at a time per tree: a second one would rebuild and restore the
    # first one's mutant under it.
    if not lock():
        print("another run is going on in this tree", file=sys.stderr)
        return 2
    left = restore()
    if left:
        print(f"restored {left}, left mutated by an earlier run")
    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGHUP, on_signal)
    configure()

    # The unmutated code must build and pass; its run time sets the timeout.
    folders = sorted({folder_of(m.file) for m in mutants})
    timeouts = {}
    for folder in folders:
        targets, binaries = tests_for(folder, args.wide)
        ok, out = build(targets, args.jobs)
        if not ok:
            print(out[-3000:])
            print("the unmutated code does not build", file=sys.stderr)
            return 2
        t0 = time.time()
        status, detail = run_tests(binaries, 600)
        if status != "survived":
            print(f"the unmutated tests of {folder} fail: {detail}", file=sys.stderr)
            return 2
        timeouts[folder] = args.timeout or 4 * (time.time() - t0) + 10

    run_id = time.strftime("%Y%m%dT%H%M%S")
    rows = []
    # Survivors whose code has changed since: neither killed nor survived.
    for r in (gone if args.again or args.killed_by else []):
        append_run(dict(r, run=run_id, status="gone", seconds="0", detail="code changed"))
    try:
        for i, mu in enumerate(mutants, 1):
            folder = folder_of(mu.file)
            targets, binaries = tests_for(folder, args.wide)
            t0 = time.time()
            try:
                apply(mu)
                ok, out = build(targets, args.jobs)
                if not ok:
                    status, detail = "did-not-compile", ""
                else:
                    status, detail = run_tests(binaries, timeouts[folder])
            finally:
                restore()
            row = {"run": run_id, "seed": args.seed, "file": mu.file, "line": mu.line,
                   "col": mu.col, "operator": mu.operator, "original": norm(mu.original),
                   "mutant": norm(mu.replacement), "status": status,
                   "seconds": f"{time.time() - t0:.1f}", "detail": detail}
            append_run(row)
            rows.append(row)
            print(f"[{i}/{len(mutants)}] {status:15} {mu.file}:{mu.line} {mu.describe()[:70]}",
                  flush=True)
    except Interrupted as e:
        print(f"\nstopped by {e}; the file is restored", file=sys.stderr)
    finally:
        restore()
    print(f"\nrun {run_id}, seed {args.seed}")
    score(rows)
    if args.killed_by and any(r["status"] == "survived" for r in rows):
        print("\nkills lost: the survivors above were killed before by the tests named")
    if args.again:
        print(f"\nrun {args.again} with its survivors tested again ({args.again},{run_id}):")
        score(runs_rows(f"{args.again},{run_id}"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
