#!/usr/bin/env bash
# Builds the libFuzzer target tests/fuzz/NAME_fuzz.cpp with clang (address and
# undefined-behaviour sanitizers) and runs it for SECONDS, starting from the
# seeds in tests/fuzz/NAME_seeds. A crash, a sanitizer report or a failed
# check exits non-zero and leaves the input in the output folder.
# Usage: scripts/fuzz.sh NAME SECONDS SOURCE...   (sources under test, from the repository root)
# FUZZ_DIR chooses the output folder (default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
name=$1
seconds=$2
shift 2
out="${FUZZ_DIR:-build/fuzz}/$name"
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  "tests/fuzz/${name}_fuzz.cpp" "$@" -o "$out/$name"
seeds=()
[ -d "tests/fuzz/${name}_seeds" ] && seeds+=("$PWD/tests/fuzz/${name}_seeds")
cd "$out"
"./$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  corpus "${seeds[@]}"
