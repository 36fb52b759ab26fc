#!/usr/bin/env bash
# Mutation testing at the lowest priority; see scripts/mutate.py --help.
#   scripts/mutate.sh --paths archive --count 150 --seed 16
set -euo pipefail
cd "$(dirname "$0")/.."
exec nice -n 19 python3 scripts/mutate.py "$@"
