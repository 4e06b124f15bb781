#!/usr/bin/env bash
# Builds the container stream fuzz target with libFuzzer (clang) under
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs it. Extra
# arguments go to libFuzzer, e.g. -max_total_time=60.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${FUZZ_DIR:-build-fuzz}"
mkdir -p "$out/corpus"
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. -Itests/toolkit toolkit/*.cpp tests/toolkit/fuzz/container_stream_fuzz.cpp \
  -o "$out/container_stream_fuzz"
"$out/container_stream_fuzz" "$out/corpus" "$@"
