#!/usr/bin/env bash
# Configures and builds into build/ (or $BUILD_DIR). Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${BUILD_DIR:-build}"
werror=OFF
# Sanitizer builds make GCC report false "maybe-uninitialized" warnings in
# library code, so only the plain CI build treats warnings as errors.
[ -n "${CI:-}" ] && [ -z "${TIDEWELL_SANITIZE:-}" ] && werror=ON
cmake -S . -B "$build_dir" -G Ninja -DTIDEWELL_WERROR="$werror" "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
