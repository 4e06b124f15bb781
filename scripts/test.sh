#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under ctest.
# TIDEWELL_SANITIZE=address,undefined (or thread) runs them under sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build_dir="${BUILD_DIR:-build}"
args=()
if [ -n "${TIDEWELL_SANITIZE:-}" ]; then
  build_dir="build-$(echo "$TIDEWELL_SANITIZE" | tr ',' '-')"
  args+=(-DTIDEWELL_SANITIZE="$TIDEWELL_SANITIZE" -DTIDEWELL_BUILD_APP=OFF -DTIDEWELL_BUILD_BENCH=OFF)
fi
BUILD_DIR="$build_dir" bash scripts/build.sh "${args[@]}"
cd "$build_dir"
ctest --output-on-failure --parallel "$(nproc)" --timeout 600
