#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole suite in the dev
# preset and again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh

for preset in dev asan; do
  echo "== $preset"
  quillmere_build "$preset"
  ctest --preset "$preset" -j "$(nproc)"
done
