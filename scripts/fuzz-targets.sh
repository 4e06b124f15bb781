#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/, then runs each for
# FUZZ_SECONDS (default 60). Names of targets to run may follow; new inputs
# go to build-fuzz/corpus/, the committed seeds stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends clang
fi
bash scripts/install-deps.sh
build_dir=build-fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined"
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DTIDEWELL_LIBFUZZER=ON \
  -DTIDEWELL_BUILD_APP=OFF -DTIDEWELL_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=($(cd fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//'))
cmake --build "$build_dir" --target "${targets[@]}"
for target in "${targets[@]}"; do
  mkdir -p "$build_dir/corpus/$target"
  echo "== $target"
  "$build_dir/fuzz/$target" -max_total_time="${FUZZ_SECONDS:-60}" -max_len=256 -print_final_stats=1 \
    "$build_dir/corpus/$target" "fuzz/corpus/$target"
done
