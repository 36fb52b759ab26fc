#!/usr/bin/env bash
# Fuzzes the archive engine with libFuzzer (clang, address and undefined
# behaviour sanitizers), one target at a time at the lowest priority.
#
#   scripts/fuzz.sh [-t MINUTES] [TARGET...]   fuzz each target for MINUTES (default 10)
#   scripts/fuzz.sh --merge [TARGET...]        minimise the committed corpora
#
# TARGET is load, extract, pack or rewrite (default: all four). New inputs collect in
# build/fuzz/work/TARGET; each run's executions are appended to
# tests/fuzz/runs.tsv. A crashing input is copied into
# tests/fuzz/regressions/TARGET, which the replay tests run and merging never
# drops, and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
# Only fuzzing needs clang and its fuzzer runtime; the normal build does not.
quillmere_install clang libclang-rt-dev

minutes=10
merge=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    -t) minutes="$2"; shift 2 ;;
    --merge) merge=1; shift ;;
    load|extract|pack|rewrite) targets+=("$1"); shift ;;
    *) echo "usage: $0 [-t MINUTES] [--merge] [load|extract|pack|rewrite]..." >&2; exit 2 ;;
  esac
done
[ "${#targets[@]}" -gt 0 ] || targets=(load extract pack rewrite)

build=build/fuzz
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
log=$(cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE= \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DQUILLMERE_FUZZ=ON -DQUILLMERE_TESTS=ON 2>&1) || { printf '%s\n' "$log"; exit 1; }
log=$(cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}" 2>&1) ||
  { printf '%s\n' "$log"; exit 1; }

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"

status=0
for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/fuzz_$t"
  corpus="tests/fuzz/corpus/$t"
  work="$build/work/$t"
  mkdir -p "$work" "$build/findings"
  if [ "$merge" = 1 ]; then
    # The smallest set of inputs that keeps all the coverage found so far.
    merged=$(mktemp -d "$build/merged-$t.XXXXXX")
    nice -n 19 "$bin" -merge=1 "$merged" "$corpus" "$work" >"$build/merge-$t.log" 2>&1 ||
      { cat "$build/merge-$t.log"; exit 1; }
    rm -f "$corpus"/*
    cp "$merged"/* "$corpus"/
    rm -rf "$merged"
    python3 tests/fuzz/make_seeds.py "$t"  # the hand-made seeds stay, covered or not
    echo "$t: $(ls "$corpus" | wc -l) inputs, $(du -sk "$corpus" | cut -f1) KiB"
    continue
  fi
  out="$build/run-$t-$$.log"  # one log per invocation, so runs can overlap
  echo "== fuzzing $t for $minutes min (log: $out)"
  rc=0
  start=$SECONDS
  # Small inputs keep the loader fast; trees need room for file contents.
  case "$t" in load|extract|rewrite) maxlen=2048 ;; pack) maxlen=16384 ;; esac
  nice -n 19 "$bin" "$work" "$corpus" -max_total_time=$((minutes * 60)) -timeout=10 \
    -max_len="$maxlen" \
    -print_final_stats=1 -artifact_prefix="$build/findings/$t-" >"$out" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -1)
  secs=$((SECONDS - start))
  result=ok
  found=0
  for f in "$build"/findings/"$t"-*; do
    [ -e "$f" ] || continue
    found=1
    mkdir -p "tests/fuzz/regressions/$t"
    cp "$f" "tests/fuzz/regressions/$t/$(sha1sum "$f" | cut -c1-40)"
    mv "$f" "$build/findings/kept-$(basename "$f")"
    echo "kept $f in tests/fuzz/regressions/$t"
  done
  if [ "$found" = 1 ]; then
    result=finding
    status=1
    tail -40 "$out"
  elif [ "$rc" -eq 72 ] || [ "$rc" -eq 130 ]; then
    result="ok (interrupted)"
  elif [ "$rc" -ne 0 ]; then
    result="stopped ($rc)"
  fi
  printf '%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$t" "$secs" "${execs:-?}" "$result" \
    >>tests/fuzz/runs.tsv
  echo "$t: ${execs:-?} executions, $result"
done
exit "$status"
