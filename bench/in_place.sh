#!/usr/bin/env bash
# Edits in place against a whole rewrite, on a 1 GiB archive of 1,024
# entries of 1 MiB:
#   1. one entry replaced by a 1 MiB file with `kbx replace -i`, flushes
#      included (goal: at most 50 ms and 3 MiB written);
#   2. the same with a whole rewrite (`kbx replace`), for comparison;
#   3. 100 separate `kbx replace -i` runs, one after another (goal: 5 s);
#   4. `kbx update -i` of a 20,000-entry archive from its tree with 1,000
#      files of 4 KiB changed, against copying those 1,000 files with `cp`
#      and a `sync` (goal: at most twice as long).
# Written bytes are the pages the process dirtied (/usr/bin/time's %O, in
# 512-byte blocks). Run on demand:
#
#   bench/in_place.sh                    # builds the release preset first
#   KBX=build/dev/cli/kbx DATA=build/dev/bench/kbx_bench_data bench/in_place.sh
#   BENCH_TMP=/mnt/x bench/in_place.sh   # make the data on another disk
#
# It needs 2.5 GiB free where it makes its data, and removes them at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
if [ -z "${KBX:-}" ]; then
  echo "Building the release preset..."
  log=$(cmake --preset release 2>&1) || { printf '%s\n' "$log"; exit 1; }
  log=$(cmake --build --preset release -j2 2>&1) || { printf '%s\n' "$log"; exit 1; }
fi
kbx=$(realpath "${KBX:-$repo/build/release/cli/kbx}")
data=$(realpath "${DATA:-$repo/build/release/bench/kbx_bench_data}")

base=${BENCH_TMP:-${TMPDIR:-/tmp}}
work=$(mktemp -d "$base/kbx-in-place.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
archive=$work/game.kbx
"$data" archive "$archive" 1024 1048576
head -c 1048576 /dev/urandom >"$work/new.bin"
entry() { printf 'Version/Data/entry%07d.dat' "$1"; }

# timed LABEL COMMAND...: wall time and bytes written of one run, after a sync.
timed() {
  local label=$1
  shift
  sync
  /usr/bin/time -f '%e %O' -o "$work/time.txt" "$@"
  read -r secs blocks <"$work/time.txt"
  printf '%-34s %8.0f ms %10.2f MiB written\n' "$label" "$(echo "$secs * 1000" | bc)" \
    "$(echo "scale=2; $blocks * 512 / 1048576" | bc)"
}

timed "replace -i, 1 MiB of 1 GiB" "$kbx" replace -i "$archive" "$(entry 500)" "$work/new.bin"
timed "replace (whole rewrite), same" "$kbx" replace "$archive" "$(entry 502)" "$work/new.bin"
sync
start=$(date +%s%N)
for i in $(seq 0 99); do
  "$kbx" replace -i "$archive" "$(entry $((2 * i)))" "$work/new.bin"
done
end=$(date +%s%N)
printf '%-34s %8d ms\n' "100 separate replace -i" $(((end - start) / 1000000))
"$kbx" verify "$archive"

tree=$work/tree
"$data" tree "$tree" 20000 4096
"$kbx" pack -r "$tree" -o "$work/small.kbx"
changed=()
for i in $(seq 0 20 19999); do changed+=("$tree/Version/Data/file$(printf %07d "$i").dat"); done
head -c 4096 /dev/urandom >"$work/new4k.bin"
for f in "${changed[@]}"; do cp "$work/new4k.bin" "$f"; done
mkdir "$work/copies"
timed "update -i, 1,000 of 20,000 changed" "$kbx" update -i "$work/small.kbx" "$tree"
timed "cp + sync of the same 1,000 files" sh -c 'cp -t "$0" "$@" && sync' "$work/copies" \
  "${changed[@]}"
"$kbx" verify "$work/small.kbx"
