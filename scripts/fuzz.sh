#!/usr/bin/env bash
# Runs the compiler's fuzz target. Usage: scripts/fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
seconds=${2:-30}
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp examples/*.tab tests/data/*.tab "$corpus"/ 2>/dev/null || true
"$dir"/fuzz/pw_fuzz_compiler -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -dict=fuzz/tablature.dict "$corpus" 2>&1 |
  grep -v -E "^(\"|###|INFO: )" | tail -n 12
