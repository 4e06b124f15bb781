#!/usr/bin/env bash
# Builds the Unicode decoder fuzz target with clang's libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs it for $FUZZ_SECONDS (default 60).
# Extra arguments go to libFuzzer (a corpus folder, -jobs=N, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
out="${BUILD_DIR:-build}/fuzz"
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. fuzz/unicode_decoders_fuzz.cpp toolkit/*.cpp -o "$out/unicode_decoders_fuzz"
"$out/unicode_decoders_fuzz" -max_total_time="${FUZZ_SECONDS:-60}" -max_len=4096 "$out/corpus" "$@"
