#!/usr/bin/env bash
# Runs ctest with the arguments given, in the current (build) folder. A test
# whose failure shows LeakSanitizer's tracer crashing at exit ("Tracer caught
# signal") after its own summary showed every assertion passed is run again,
# twice at most; any other failure fails the run at once, so an intermittent
# memory error or a failed assertion stays red.
set -uo pipefail
log=Testing/Temporary/LastTest.log
failed_list=Testing/Temporary/LastTestsFailed.log

# The names of the failed tests of the last run, one a line.
failed_tests() { [ -f "$failed_list" ] && sed 's/^[0-9]*://' "$failed_list"; }

# The names of the tests of the last run whose output shows the tracer crash
# after the test's own summary said that every assertion passed. A test that
# failed an assertion, or ended before its summary, is no tracer crash.
tracer_crashes() {
  awk '/^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); name = $0; tracer = passed = failed = 0 }
       /Tracer caught signal/ { tracer = 1 }
       /^\[  PASSED  \] / { passed = 1 }
       /^\[  FAILED  \] / { failed = 1 }
       /<end of output>$/ && name != "" { if (tracer && passed && !failed) print name; name = "" }' "$log" | sort -u
}

status=0
ctest "$@" || status=$?
for retry in 1 2; do
  [ "$status" -ne 0 ] || exit 0
  failed=$(failed_tests | sort -u)
  # ctest failed before running tests (or named none): nothing to retry.
  [ -n "$failed" ] || exit "$status"
  others=$(comm -23 <(echo "$failed") <(tracer_crashes))
  if [ -n "$others" ]; then
    echo "Failed (not a LeakSanitizer tracer crash):"
    echo "$others"
    exit "$status"
  fi
  echo "LeakSanitizer's tracer crashed at exit; running again (retry $retry of 2):"
  echo "$failed"
  pattern=$(echo "$failed" | sed 's/[][\.*^$+?(){}|/]/\\&/g' | paste -sd '|')
  status=0
  ctest "$@" --tests-regex "^($pattern)\$" || status=$?
done
exit "$status"
