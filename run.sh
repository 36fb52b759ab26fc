#!/usr/bin/env bash
# Installs what is missing, builds the release preset and starts the program.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh

quillmere_build release

bin=build/release
if [ -x "$bin/app/quillmere" ]; then
  exec "$bin/app/quillmere" "$@"
fi
"$bin/cli/kbx" --help
echo
echo "Sample archive: $bin/cli/sample.kbx"
"$bin/cli/kbx" list "$bin/cli/sample.kbx"
