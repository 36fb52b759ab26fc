#!/usr/bin/env bash
# `kbx update ARCHIVE TREE` against the one `kbx replace ARCHIVE -T PAIRS`
# that makes the same change: a tree of 20,000 files (kbx_bench_data), packed,
# then 1,000 of its files (every 20th entry) given new bytes of the same
# size, so that only their contents tell them apart. Goal: update at most
# 1.5 x replace, in wall time and in CPU time (user + sys). Run on demand:
#
#   bench/update.sh                    # 4 KiB files (80 MiB), builds release
#   BYTES=76800 bench/update.sh        # 75 KiB files: a 1.5 GiB archive
#   RUNS=9 KBX=... DATA=... bench/update.sh
#   BENCH_TMP=/mnt/x bench/update.sh   # make the data on another disk
#
# Each round copies the packed archive twice, `sync`s, and runs replace on
# one copy and update on the other, alternating which goes first; the page
# cache stays warm (the tree and the archive were just written or copied).
# A last update of the updated archive finds nothing to do and must leave
# its inode and time alone. Prints each run and then min and median.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
count=${COUNT:-20000}
bytes=${BYTES:-4096}
runs=${RUNS:-7}
if [ -z "${KBX:-}" ]; then
  log=$(cmake --preset release 2>&1) || { printf '%s\n' "$log"; exit 1; }
  log=$(cmake --build --preset release -j2 2>&1) || { printf '%s\n' "$log"; exit 1; }
fi
kbx=$(realpath "${KBX:-$repo/build/release/cli/kbx}")
data=$(realpath "${DATA:-$repo/build/release/bench/kbx_bench_data}")

work=$(mktemp -d "${BENCH_TMP:-${TMPDIR:-/tmp}}/kbx-update.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

"$data" tree "$work/tree" "$count" "$bytes"
"$kbx" pack "$work/tree" -o "$work/a.kbx"
head -c "$bytes" /dev/urandom >"$work/new.dat"
: >"$work/pairs"
"$kbx" list "$work/a.kbx" | cut -f4 | sed -n '1~20p' | while read -r name; do
  file=$work/tree/${name//\\//}
  cp "$work/new.dat" "$file"
  printf '%s\n%s\n' "$name" "$file" >>"$work/pairs"
done
echo "$(wc -l <"$work/pairs" | awk '{print $1 / 2}') of $count files of $bytes bytes changed;" \
  "archive $(du -m "$work/a.kbx" | cut -f1) MiB; warm page cache, sync before each run"

# timed KIND ARCHIVE COMMAND...: one run; appends "KIND wall cpu" to results.
timed() {
  local kind=$1
  shift
  # Wall time to the millisecond (time's %e counts hundredths).
  local start=$EPOCHREALTIME
  /usr/bin/time -f '%U %S' -o "$work/time.txt" "$@" >/dev/null
  local wall
  wall=$(echo "$EPOCHREALTIME - $start" | bc)
  read -r user sys <"$work/time.txt"
  local cpu load
  cpu=$(echo "$user + $sys" | bc)
  load=$(cut -d' ' -f1 /proc/loadavg)
  printf '%-8s %6.3f s wall %6.2f s cpu (%s user %s sys) load %s\n' \
    "$kind" "$wall" "$cpu" "$user" "$sys" "$load"
  echo "$kind $wall $cpu" >>"$work/results"
}

for round in $(seq 1 "$runs"); do
  cp "$work/a.kbx" "$work/r.kbx"
  cp "$work/a.kbx" "$work/u.kbx"
  sync
  if [ $((round % 2)) -eq 1 ]; then
    timed replace "$kbx" replace "$work/r.kbx" -T "$work/pairs"
    sync
    timed update "$kbx" update "$work/u.kbx" "$work/tree"
  else
    timed update "$kbx" update "$work/u.kbx" "$work/tree"
    sync
    timed replace "$kbx" replace "$work/r.kbx" -T "$work/pairs"
  fi
  cmp "$work/r.kbx" "$work/u.kbx"
  before=$(stat -c '%i %Y.%y' "$work/u.kbx")
  sync
  timed noop "$kbx" update "$work/u.kbx" "$work/tree"
  [ "$before" = "$(stat -c '%i %Y.%y' "$work/u.kbx")" ] || { echo "noop update changed the archive" >&2; exit 1; }
done

# Min and median per kind, then the ratios of the medians and of the minima.
awk '
  { wall[$1, ++n[$1]] = $2; cpu[$1, n[$1]] = $3 }
  function sorted(a, kind, k, v,   i, j, t) {
    for (i = 1; i <= k; i++) v[i] = a[kind, i]
    for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (v[j] < v[i]) { t = v[i]; v[i] = v[j]; v[j] = t }
  }
  END {
    for (kind in n) {
      sorted(wall, kind, n[kind], w); sorted(cpu, kind, n[kind], c)
      m = int((n[kind] + 1) / 2)
      wmin[kind] = w[1]; wmed[kind] = w[m]; cmin[kind] = c[1]; cmed[kind] = c[m]
      printf "%-8s wall min %6.3f median %6.3f   cpu min %6.2f median %6.2f   (%d runs)\n", kind, w[1], w[m], c[1], c[m], n[kind]
    }
    printf "update / replace: wall %.2f x (min %.2f x), cpu %.2f x (min %.2f x)\n",
      wmed["update"] / wmed["replace"], wmin["update"] / wmin["replace"],
      cmed["update"] / cmed["replace"], cmin["update"] / cmin["replace"]
  }' "$work/results"
