#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/NAME_fuzz.cpp) with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, then runs each for SECONDS
# starting from its committed seeds in fuzz/corpus/NAME_fuzz/. A crash, a
# sanitizer report or a failed check exits non-zero and leaves the input in
# the build folder's artifacts/.
#
#   bash scripts/fuzz.sh [SECONDS [NAME_fuzz...]]   build, then run (default: 60 s, every target)
#   bash scripts/fuzz.sh --build-only               build only
#   bash scripts/fuzz.sh --no-build SECONDS NAME_fuzz...   run what is built (ctest builds once, then runs each)
#
# FUZZ_BUILD_DIR chooses the clang build folder (default build-fuzz); new
# inputs go to its corpus/, the committed seeds stay as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${FUZZ_BUILD_DIR:-build-fuzz}"

build() {
  bash scripts/install-deps.sh
  # A build type of its own: -O1 fuzzes fast enough and compiles quickly, and
  # without NDEBUG the assertions stay in.
  local flags="-O1 -g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
  CC=clang CXX=clang++ cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Fuzz -DTIDEWELL_LIBFUZZER=ON \
    -DTIDEWELL_BUILD_APP=OFF -DTIDEWELL_BUILD_TESTS=OFF -DTIDEWELL_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
  cmake --build "$build_dir" --target fuzz_targets
}

run() {
  local seconds=$1 target=$2
  mkdir -p "$build_dir/corpus/$target" "$build_dir/artifacts/$target"
  echo "== $target (${seconds} s)"
  local seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds+=("fuzz/corpus/$target")
  "$build_dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build_dir/artifacts/$target/" \
    "$build_dir/corpus/$target" "${seeds[@]}"
}

case "${1:-}" in
  --build-only) build; exit 0 ;;
  --no-build) shift ;;
  *) build ;;
esac
seconds="${1:-60}"
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=($(cd fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//'))
for target in "${targets[@]}"; do
  run "$seconds" "$target"
done
