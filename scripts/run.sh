#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it on the example song.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
song=${1:-examples/basic-rock.tab}
build/cli/pulsewright-cli check "$song"
build/cli/pulsewright-cli compile "$song"
