#!/usr/bin/env bash
# Checks the project's own sources against .clang-format and .clang-tidy.
#   scripts/lint.sh [LINT_DIR]           clang-format on every file; clang-tidy's quick
#                                        checks (all but the static analyser) on the
#                                        libraries below the windows; run by the tests
#   scripts/lint.sh --changed [LINT_DIR [BASE]]
#                                        every check on the sources changed since BASE
#                                        (default: where this branch left main)
#   scripts/lint.sh --all [LINT_DIR]     every check on every source (some 20 s a file)
# LINT_DIR (default build-lint) is configured here, not built: clang-tidy reads its
# compile_commands.json, one entry per source, which a unity build does not give.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=quick
case "${1:-}" in
  --all) mode=all; shift ;;
  --changed) mode=changed; shift ;;
esac
build=${1:-build-lint}
cmake -S . -B "$build" -G Ninja -DPW_UNITY=OFF >/dev/null

mapfile -t files < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${files[@]}"

checks=()
case "$mode" in
  quick)
    checks=(-checks='-clang-analyzer-*')
    mapfile -t sources < <(git ls-files 'tablature/*.cpp' 'text/*.cpp' 'fileio/*.cpp' \
      'midifile/*.cpp' 'recording/*.cpp' 'tabimport/*.cpp' 'playback/*.cpp' 'padmap/*.cpp' 'midi/*.cpp' 'kits/*.cpp' \
      'platform/*.cpp' 'notation/*.cpp' 'grid/*.cpp' 'session/*.cpp' |
      grep -v -e '^padmap/ui/' -e '^platform/qt/' -e '^notation/ui/' -e '^grid/ui/') ;;
  all) mapfile -t sources < <(git ls-files '*.cpp' | grep -v -e '^fuzz/' -e '^tests/' -e '^bench/') ;;
  changed)
    base=${2:-$(git merge-base HEAD main)}
    mapfile -t sources < <(git diff --name-only --diff-filter=d "$base" -- '*.cpp' |
      grep -v -e '^fuzz/' -e '^tests/' -e '^bench/' || true) ;;
esac
if [ ${#sources[@]} -gt 0 ]; then
  run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${checks[@]}" "${sources[@]/#/$PWD/}" \
    >"$build/clang-tidy.log" 2>&1 || true
  if grep -E 'warning:|error:' "$build/clang-tidy.log"; then
    echo "clang-tidy: see $build/clang-tidy.log" >&2
    exit 1
  fi
fi
echo "lint passed (${#files[@]} files formatted, ${#sources[@]} checked by clang-tidy)"
