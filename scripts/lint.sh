#!/usr/bin/env bash
# Checks the project's own sources: clang-format on every file, and clang-tidy (the checks
# in .clang-tidy) on the source files changed since BASE (default: where this branch left
# main), or on all of them with --all; clang-tidy takes some 20 s a file.
# Usage: scripts/lint.sh [--all] [BUILD_DIR [BASE]]
set -euo pipefail
cd "$(dirname "$0")/.."
all=0
if [ "${1:-}" = "--all" ]; then all=1; shift; fi
build=${1:-build}
base=${2:-$(git merge-base HEAD main)}
mapfile -t files < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${files[@]}"
if [ "$all" = 1 ]; then
  mapfile -t sources < <(git ls-files '*.cpp' | grep -v '^fuzz/')
else
  mapfile -t sources < <(git diff --name-only --diff-filter=d "$base" -- '*.cpp' | grep -v '^fuzz/' || true)
fi
if [ ${#sources[@]} -gt 0 ]; then
  run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${sources[@]/#/$PWD/}" >"$build/clang-tidy.log" 2>&1 ||
    true
  if grep -E 'warning:|error:' "$build/clang-tidy.log"; then exit 1; fi
fi
echo "lint passed"
