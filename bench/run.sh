#!/usr/bin/env bash
# Benchmarks kbx against GNU tar, bsdtar and cp -r: system calls, then wall
# time. Run on demand:
#
#   bench/run.sh            # 5 timed rounds after a warm-up round
#   RUNS=7 bench/run.sh     # more rounds
#   BENCH_TMP=/mnt/x bench/run.sh   # make the data on another disk
#
# It installs what is missing, builds the release preset, makes its data in a
# temporary folder (removed at the end), and prints two tables. The first
# counts system calls under `strace -f` (one untimed run per command): it
# holds on any machine. In the second, all commands of one group run
# interleaved (A B C D A B C D ...), each into a fresh output, after a `sync`
# so that no run pays for the previous run's writeback.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
source scripts/deps.sh
quillmere_install libarchive-tools time strace

RUNS=${RUNS:-5}
[ "$RUNS" -ge 5 ] || { echo "RUNS must be at least 5" >&2; exit 2; }

echo "Building the release preset..."
log=$(cmake --preset release 2>&1) || { printf '%s\n' "$log"; exit 1; }
log=$(cmake --build --preset release -j2 2>&1) || { printf '%s\n' "$log"; exit 1; }
kbx=$repo/build/release/cli/kbx
data=$repo/build/release/bench/kbx_bench_data
window=$repo/build/release/bench/kbx_bench_window

base=${BENCH_TMP:-${TMPDIR:-/tmp}}
# (a) keeps its outputs (~2.5 GiB); (b) needs its sources, three archives
# and one output at a time (~5 GiB).
need_kib=$((6 * 1024 * 1024))
avail_kib=$(df -Pk "$base" | awk 'NR == 2 { print $4 }')
if [ "$avail_kib" -lt "$need_kib" ]; then
  echo "Not enough space in $base: $((avail_kib / 1024)) MiB free, 6144 MiB needed" >&2
  exit 1
fi
work=$(mktemp -d "$base/kbx-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM  # through the EXIT trap
results=$work/results.txt
calls=$work/calls.txt
: >"$results"
: >"$calls"

# run GROUP LABEL ROUND COMMAND...: times one command into the results.
run() {
  local group=$1 label=$2 round=$3
  shift 3
  sync
  if ! /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt"; then
    echo "FAILED: $*" >&2
    cat "$work/err.txt" >&2
    exit 1
  fi
  [ "$round" -eq 0 ] && return 0  # the warm-up round is not counted
  read -r secs kib <"$work/time.txt"
  echo "$group $label $secs $kib" >>"$results"
}

# count SET LABEL ENTRIES COMMAND...: one untimed run under strace -f; adds
# the system calls, the bytes read and written through user space (read,
# pread, write, pwrite and their vector forms) and the flushes (fsync,
# fdatasync, sync_file_range, syncfs) to the calls table.
count() {
  local set=$1 label=$2 entries=$3
  shift 3
  sync
  if ! strace -f -qq -s 0 -o "$work/strace.log" "$@" >/dev/null 2>"$work/err.txt"; then
    echo "FAILED: $*" >&2
    cat "$work/err.txt" >&2
    exit 1
  fi
  awk -v set="$set" -v label="$label" -v n="$entries" '
    { line = $0; sub(/^[0-9]+ +/, "", line) }
    line ~ /^<\.\.\. / { split(line, w, " "); name = w[2] }
    line ~ /^[a-z_0-9]+\(/ {
      name = substr(line, 1, index(line, "(") - 1); calls++
      if (name ~ /^(fsync|fdatasync|sync_file_range|syncfs)$/) flushes++
    }
    match(line, /= [0-9]+$/) {
      if (name ~ /^p?readv?2?$|^pread64$/) rd += substr(line, RSTART + 2)
      if (name ~ /^p?writev?2?$|^pwrite64$/) wr += substr(line, RSTART + 2)
    }
    END { printf "%s %s %d %d %.1f %.1f %d\n", set, label, n, calls, rd / 1048576, wr / 1048576, flushes }
  ' "$work/strace.log" >>"$calls"
  rm -f "$work/strace.log"
}

# On ext4 without a journal a newly created file skips every inode deleted
# in the last 30 seconds, checking each one, so creating 20,000 files right
# after deleting 20,000 costs seconds and the figures would measure the
# previous run's clean-up. Outputs with many files are therefore kept in
# folders of their own until the set ends; single files go at once.

# bench_set NAME KEEP: packs and unpacks the tree in $work/NAME/src; KEEP=1
# keeps every output until the end of the set.
bench_set() {
  local set=$1 keep=$2 d=$work/$1
  # Inputs for the unpack group, made once.
  "$kbx" pack "$d/src" -o "$d/in.kbx" >/dev/null
  tar -cf "$d/in.tar" -C "$d/src" Version
  local round tool n=0
  for round in $(seq 0 "$RUNS"); do
    rm -f "$d/out.kbx" "$d/out.tar"
    run "pack-$set" kbx "$round" "$kbx" pack "$d/src" -o "$d/out.kbx"
    rm -f "$d/out.kbx"
    run "pack-$set" tar "$round" tar -cf "$d/out.tar" -C "$d/src" Version
    rm -f "$d/out.tar"
    # tar with the flush kbx does before its rename (sync FILE is fsync).
    run "pack-$set" tar+fsync "$round" sh -c 'tar -cf "$1" -C "$2" Version && sync "$1"' sh \
      "$d/out.tar" "$d/src"
    rm -f "$d/out.tar"
    run "pack-$set" bsdtar "$round" bsdtar -cf "$d/out.tar" -C "$d/src" Version
    rm -f "$d/out.tar"
    for tool in kbx tar bsdtar cp; do
      n=$((n + 1))
      local out=$d/out.$n
      mkdir "$out"
      case $tool in
        kbx) run "unpack-$set" kbx "$round" "$kbx" unpack "$d/in.kbx" -C "$out" ;;
        tar) run "unpack-$set" tar "$round" tar -xf "$d/in.tar" -C "$out" ;;
        bsdtar) run "unpack-$set" bsdtar "$round" bsdtar -xf "$d/in.tar" -C "$out" ;;
        cp) run "unpack-$set" cp-r "$round" cp -r "$d/src/Version" "$out/" ;;
      esac
      [ "$keep" -eq 1 ] || rm -rf "$out"
    done
  done
  # System calls: the same commands once each, untimed, into fresh outputs;
  # then unpacking again into the same folder, which replaces every file.
  local entries
  entries=$(find "$d/src" -type f | wc -l)
  count "$set" "pack kbx" "$entries" "$kbx" pack "$d/src" -o "$d/calls.kbx"
  count "$set" "pack tar" "$entries" tar -cf "$d/calls.tar" -C "$d/src" Version
  mkdir "$d/ck" "$d/ct" "$d/cc"
  count "$set" "unpack kbx" "$entries" "$kbx" unpack "$d/in.kbx" -C "$d/ck"
  count "$set" "unpack tar" "$entries" tar -xf "$d/in.tar" -C "$d/ct"
  count "$set" "unpack cp-r" "$entries" cp -r "$d/src/Version" "$d/cc/"
  count "$set" "again kbx" "$entries" "$kbx" unpack "$d/in.kbx" -C "$d/ck"
  count "$set" "again tar" "$entries" tar -xf "$d/in.tar" -C "$d/ct"
  count "$set" "again cp-r" "$entries" cp -r "$d/src/Version" "$d/cc/"
  if [ "$set" = a ]; then
    # kbx pack groups a folder's files; an archive whose entries alternate
    # between Version and Version/Data is the common layout of others.
    "$data" archive "$d/alt.kbx" "$entries" 4096
    mkdir "$d/ca"
    count "$set" "unpack kbx alternating" "$entries" "$kbx" unpack "$d/alt.kbx" -C "$d/ca"
  fi
  rm -rf "$d"
}

echo "Making (a) 20,000 x 4 KiB..."
"$data" tree "$work/a/src" 20000 4096
echo "Benchmarking (a), $RUNS rounds..."
bench_set a 1

echo "Making (b) 4 x 256 MiB..."
"$data" tree "$work/b/src" 4 $((256 << 20))
echo "Benchmarking (b), $RUNS rounds..."
bench_set b 0

echo "Making (c) 1,000,000 entries and the window's 32,777..."
"$data" archive "$work/c.kbx" 1000000
"$data" archive "$work/w.kbx" 32777
count c "verify kbx" 1000000 "$kbx" verify "$work/c.kbx"
count c "list --json kbx" 1000000 "$kbx" list "$work/c.kbx" --json
for round in $(seq 0 "$RUNS"); do
  run load-c verify "$round" "$kbx" verify "$work/c.kbx"
  run load-c list-json "$round" "$kbx" list "$work/c.kbx" --json
done
window_ms=$("$window" "$work/w.kbx" "$RUNS" 2>/dev/null | awk '/^median/ { print $2 }')
# The raw figures stay beside the build for a closer look.
cp "$results" "$repo/build/release/bench/last-results.txt"
cp "$calls" "$repo/build/release/bench/last-calls.txt"

# The table: medians, ratio to GNU tar's median in the same group, peak memory.
echo
echo "Machine: $(lscpu | awk -F: '/Model name/ { gsub(/^ +/, "", $2); print $2; exit }'), $(nproc) cores," \
  "$(free -g | awk '/^Mem:/ { print $2 }') GiB RAM, kernel $(uname -r)," \
  "$(df -PT "$base" | awk 'NR == 2 { print $2 }') on $(df -P "$base" | awk 'NR == 2 { print $1 }')," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "System calls, one run each under strace -f (process start-up included):"
echo
awk '
  BEGIN {
    target["a unpack kbx"] = 4.05; target["a unpack kbx alternating"] = 4.05
    target["a again kbx"] = 6.05; target["a pack kbx"] = 4.15
    printf "| %-3s | %-24s | %9s | %10s | %9s | %9s | %7s | %-12s |\n", "set", "command", "calls",
      "per entry", "read MiB", "write MiB", "flushes", "target"
    printf "|-----|--------------------------|----------:|-----------:|----------:|----------:|--------:|--------------|\n"
  }
  {
    set = $1; n = $(NF - 4); c = $(NF - 3); label = $2
    for (i = 3; i <= NF - 5; i++) label = label " " $i
    k = set " " label; verdict = ""
    if (k in target) verdict = sprintf("<= %.2f %s", target[k], c / n <= target[k] ? "met" : "MISSED")
    printf "| %-3s | %-24s | %9d | %10.2f | %9.1f | %9.1f | %7d | %-12s |\n", set, label, c, c / n,
      $(NF - 2), $(NF - 1), $NF, verdict
  }
' "$calls"
echo
echo "Medians of $RUNS runs after a warm-up round."
echo
awk -v window_ms="$window_ms" '
  function median(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; j--) {
      t = a[j]; a[j] = a[j - 1]; a[j - 1] = t
    }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  {
    key = $1 SUBSEP $2
    if (!(key in secs)) { order[++n] = key; group[n] = $1; label[n] = $2 }
    secs[key] = secs[key] " " $3
    if ($4 > peak[key]) peak[key] = $4
  }
  END {
    target["pack-a"] = 1.0; target["unpack-a"] = 1.0
    target["pack-b"] = 0.4; target["unpack-b"] = 0.4
    printf "| %-10s | %-10s | %8s | %18s | %8s | %-22s |\n", "operation", "command", "median s",
      "tar (tar+fsync)", "peak MiB", "target"
    printf "|%s|%s|%s|%s|%s|%s|\n", "------------", "------------", "----------:", "-------------------:",
      "---------:", "------------------------"
    for (i = 1; i <= n; i++) {
      k = order[i]; split(k, parts, SUBSEP); g = parts[1]; l = parts[2]
      med[k] = median(substr(secs[k], 2))
    }
    for (i = 1; i <= n; i++) {
      k = order[i]; split(k, parts, SUBSEP); g = parts[1]; l = parts[2]
      ratio = "-"; verdict = ""
      tk = g SUBSEP "tar"
      if (tk in med && med[tk] > 0) ratio = sprintf("%.2f", med[k] / med[tk])
      fk = g SUBSEP "tar+fsync"
      if (l == "kbx" && fk in med && med[fk] > 0)
        ratio = ratio sprintf(" (%.2f)", med[k] / med[fk])
      if (l == "kbx" && g in target)
        verdict = sprintf("<= %.1f %s", target[g], (med[k] / med[tk] <= target[g]) ? "met" : "MISSED")
      if (l == "verify") verdict = sprintf("< 1 s %s", med[k] < 1 ? "met" : "MISSED")
      vk = g SUBSEP "verify"
      if (l == "list-json" && med[vk] > 0) {
        ratio = sprintf("%.2f x verify", med[k] / med[vk])
        verdict = sprintf("<= 2 x verify %s", med[k] <= 2 * med[vk] ? "met" : "MISSED")
      }
      if (l == "kbx" || l == "verify" || l == "list-json") verdict = verdict (verdict == "" ? "" : ", ") (peak[k] < 65536 ? "mem ok" : "MEM > 64")
      printf "| %-10s | %-10s | %8.2f | %18s | %8.1f | %-22s |\n", g, l, med[k], ratio,
        peak[k] / 1024, verdict
    }
    printf "| %-10s | %-10s | %8.3f | %18s | %8s | %-22s |\n", "window-32k", "load", window_ms / 1000,
      "-", "-", sprintf("< 1 s %s", window_ms < 1000 ? "met" : "MISSED")
  }
' "$results"
