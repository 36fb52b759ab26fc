#!/usr/bin/env bash
# Times the modder's loop at scale: many names from a file, diff, and an
# edit with many files, on an archive of 20,000 entries and one of a million
# records. Run on demand (not in CI):
#
#   bench/loop.sh              # needs the release preset; builds it
#   BENCH_TMP=/mnt/x bench/loop.sh
#
# Prints one line per step: seconds (wall) and peak memory (KiB).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
source scripts/deps.sh
quillmere_install time

log=$(cmake --preset release 2>&1) || { printf '%s\n' "$log"; exit 1; }
log=$(cmake --build --preset release -j2 2>&1) || { printf '%s\n' "$log"; exit 1; }
kbx=$repo/build/release/cli/kbx

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/kbx-loop.XXXXXX")
trap 'rm -rf "$work"' EXIT

# step LABEL COMMAND...: one timed run, after a sync.
step() {
  local label=$1
  shift
  sync
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || {
    local code=$?
    [ "$code" -le 1 ] || { cat "$work/err.txt" >&2; exit 1; }
  }
  # time(1) puts a line about a non-zero status first: the figures are last.
  read -r secs kib < <(tail -n 1 "$work/time.txt")
  printf '%-44s %8s s %8s KiB\n' "$label" "$secs" "$kib"
}

# A tree of 20,000 files of 4 KiB in 20 folders, packed recursively.
python3 - "$work/tree" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(20):
    folder = os.path.join(root, "Version", "Data", "f%02d" % d)
    os.makedirs(folder, exist_ok=True)
    for i in range(1000):
        with open(os.path.join(folder, "e%04d.dat" % i), "wb") as f:
            f.write(bytes([i % 256]) * 4096)
PY
"$kbx" pack -r "$work/tree" -o "$work/a.kbx"
"$kbx" list "$work/a.kbx" | cut -f4 | sed -n '1,5000p' >"$work/names"
"$kbx" list "$work/a.kbx" | cut -f4 | sed -n '1~20p' | sed -n '1,1000p' >"$work/changed"
while read -r name; do
  printf '%s\n%s\n' "$name" "$work/new.dat"
done <"$work/changed" >"$work/pairs"
head -c 4096 /dev/urandom >"$work/new.dat"
# 1,000 files of the tree changed, for diff and update.
while read -r name; do
  cp "$work/new.dat" "$work/tree/${name//\\//}"
done <"$work/changed"

step "list, 5,000 names (-T)" "$kbx" list "$work/a.kbx" -T "$work/names"
step "extract, 5,000 names (-T)" "$kbx" extract "$work/a.kbx" -T "$work/names" -C "$work/out"
cp "$work/a.kbx" "$work/b.kbx"
step "remove, 5,000 names (-T)" "$kbx" remove "$work/b.kbx" -T "$work/names"
cp "$work/a.kbx" "$work/b.kbx"
step "replace, 1,000 pairs (-T)" "$kbx" replace "$work/b.kbx" -T "$work/pairs"
step "diff archive / tree, 1,000 differ" "$kbx" diff "$work/a.kbx" "$work/tree"
if "$kbx" help update >/dev/null 2>&1; then
  cp "$work/a.kbx" "$work/b.kbx"
  step "update from the tree, 1,000 changed" "$kbx" update "$work/b.kbx" "$work/tree"
fi

# A million records of 1 byte: the directory dominates.
python3 - "$work/m.kbx" <<'PY'
import struct, sys
n = 1_000_000
end = 20 + 136 * n
with open(sys.argv[1], "wb") as f:
    f.write(b"GEEK\0\1\0\0" + struct.pack("<iii", end, 0, n))
    for i in range(n):
        name = ("Version\\Data\\m%07d.dat" % i).encode()
        f.write(struct.pack("<ii", end + i, 1) + name.ljust(128, b"\0"))
    f.write(b"x" * n)
PY
"$kbx" list "$work/m.kbx" | cut -f4 | sed -n '1~1000p' >"$work/mnames"
while read -r name; do
  printf '%s\n%s\n' "$name" "$work/new.dat"
done <"$work/mnames" >"$work/mpairs"
step "million records: list" "$kbx" list "$work/m.kbx"
step "million records: replace, 1,000 pairs (-T)" "$kbx" replace "$work/m.kbx" -T "$work/mpairs"
