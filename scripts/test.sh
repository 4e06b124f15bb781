#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under ctest.
# TIDEWELL_SANITIZE=address,undefined (or thread) runs them under sanitizers;
# TIDEWELL_TEST_JOBS sets how many tests run at once (default: one per core).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build_dir="${BUILD_DIR:-build}"
# The tests are built whatever an earlier configure of the folder chose:
# scripts/start-app.sh configures build/ without them.
args=(-DTIDEWELL_BUILD_TESTS=ON)
if [ -z "${TIDEWELL_SANITIZE:-}" ]; then
  args+=(-DTIDEWELL_BUILD_APP=ON)
else
  build_dir="build-$(echo "$TIDEWELL_SANITIZE" | tr ',' '-')"
  args+=(-DTIDEWELL_SANITIZE="$TIDEWELL_SANITIZE" -DTIDEWELL_BUILD_APP=OFF -DTIDEWELL_BUILD_BENCH=OFF)
  # UndefinedBehaviorSanitizer only prints by default: a report must fail its test.
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
fi
BUILD_DIR="$build_dir" bash scripts/build.sh "${args[@]}"
ctest_args=()
# LeakSanitizer's tracer can crash at exit ("Tracer caught signal 11") after a
# test passed: under AddressSanitizer a test whose output shows that crash is
# run again (twice at most); any other failure fails at once. Never under
# ThreadSanitizer, where a retry could hide a race.
run_ctest=(ctest)
case "${TIDEWELL_SANITIZE:-}" in *address*) run_ctest=(bash "$PWD/scripts/ctest-tracer-retry.sh") ;; esac
# The fuzz replays run on one thread: ThreadSanitizer has nothing to find in
# them and slows them down to minutes.
if [ "${TIDEWELL_SANITIZE:-}" = thread ]; then ctest_args+=(--label-exclude fuzz); fi
cd "$build_dir"
# A run that finds no test has failed.
"${run_ctest[@]}" --no-tests=error --output-on-failure --parallel "${TIDEWELL_TEST_JOBS:-$(nproc)}" --timeout 600 "${ctest_args[@]}"
