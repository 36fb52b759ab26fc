#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer: every test the dev preset
# runs, with the sanitizers watching. Other presets are named on the command
# line, e.g. `./test.sh dev asan` before a change lands.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh

presets=("$@")
[ "${#presets[@]}" -gt 0 ] || presets=(asan)
for preset in "${presets[@]}"; do
  echo "== $preset"
  quillmere_build "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
