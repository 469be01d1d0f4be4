#!/usr/bin/env bash
# Builds the libFuzzer targets (every vokari_fuzzer() of the tests) in a
# clang tree with AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# each for a bounded time from its seed corpus. Exits non-zero when a target
# finds a fault; the input that caused it is kept under build-fuzz/fuzz/.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target...]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
build_dir="$top/build-fuzz"
seconds=${1:-60}
shift || true
targets=("$@")

"$here/setup.sh" --packages-only
if [ ! -f "$build_dir/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DVOKARI_FUZZ=ON -DVOKARI_TESTS=ON
fi
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cd "$build_dir/fuzz" && ls *.corpus-path | sed 's/\.corpus-path$//' | sort)
fi
ninja -C "$build_dir" -j "$(nproc)" "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for t in "${targets[@]}"; do
  work="$build_dir/fuzz/$t.corpus"
  crashes="$build_dir/fuzz/$t.crashes"
  mkdir -p "$work" "$crashes"
  seeds=()
  seed_dir=$(cat "$build_dir/fuzz/$t.corpus-path" 2>/dev/null || true)
  [ -n "$seed_dir" ] && seeds=("$seed_dir")
  echo "== $t for ${seconds}s"
  "$build_dir/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -artifact_prefix="$crashes/" "$work" "${seeds[@]}"
done
