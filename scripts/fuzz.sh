#!/usr/bin/env bash
# Builds the fuzz targets in a clang tree with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a bounded time, starting from
# its seed corpus. Exits non-zero when a target finds a fault.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
build_dir="$top/build-fuzz"
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_markup fuzz_profile fuzz_melody)

# Seed corpus of each target, relative to the repository.
declare -A seeds=(
  [fuzz_markup]=tests/ui/markup/fuzz/corpus
  [fuzz_profile]=tests/platform/fuzz/corpus
  [fuzz_melody]=tests/evaluation/fuzz/corpus
  [fuzz_catalogue_json]=tests/catalogue/fuzz/corpus-json
  [fuzz_transfer_replies]=tests/catalogue/fuzz/corpus-replies
)

if [ ! -f "$build_dir/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DVOKARI_SANITIZE=ON -DVOKARI_FUZZ=ON -DVOKARI_TESTS=ON
fi
ninja -C "$build_dir" -j "$(nproc)" "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for t in "${targets[@]}"; do
  work="$build_dir/fuzz/$t.corpus"
  mkdir -p "$work" "$build_dir/fuzz/$t.crashes"
  echo "== $t for ${seconds}s"
  "$build_dir/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix="$build_dir/fuzz/$t.crashes/" \
    "$work" "$top/${seeds[$t]}"
done
