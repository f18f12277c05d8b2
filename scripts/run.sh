#!/usr/bin/env bash
# Installs what the program needs, builds it and starts the window. Without a display it
# shows what the example song compiles to instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Only the two programs: the tests and benchmarks are scripts/test.sh's to build.
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target pulsewright pulsewright-cli
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/app/pulsewright
fi
echo "No display: compiling examples/basic-rock.tab with the command-line companion instead."
build/cli/pulsewright-cli check examples/basic-rock.tab
build/cli/pulsewright-cli compile examples/basic-rock.tab
