#!/usr/bin/env bash
# Runs the whole test suite twice more, each in a build folder of its own:
# under AddressSanitizer with UndefinedBehaviorSanitizer, then under
# ThreadSanitizer. Stops at the first run that fails; says how long each took.
# TIDEWELL_DROP_BUILDS=1 removes each build folder once its run has passed.
set -euo pipefail
cd "$(dirname "$0")/.."

run_under() {
  local sanitizers=$1
  local started=$SECONDS
  echo "== tests under $sanitizers"
  TIDEWELL_SANITIZE="$sanitizers" bash scripts/test.sh
  echo "== tests under $sanitizers passed in $((SECONDS - started)) s"
  if [ -n "${TIDEWELL_DROP_BUILDS:-}" ]; then rm -rf "build-$(echo "$sanitizers" | tr ',' '-')"; fi
}

run_under address,undefined
run_under thread
