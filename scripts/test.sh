#!/usr/bin/env bash
# Sets the machine up and runs every test:
#   1. each libFuzzer target briefly from its seed corpus (clang, ASan+UBSan);
#   2. the tests of the threaded engines (audio, karaoke, downloads) under
#      ThreadSanitizer;
#   3. every test (unit, integration, gui) under AddressSanitizer and
#      UndefinedBehaviorSanitizer — last, so its summary closes the output.
# The exit code is non-zero when any of the three failed.
#
#   scripts/test.sh [--quick] [ctest args...]
#     --quick      only step 3
#     ctest args   go to step 3, e.g. scripts/test.sh --quick -L unit
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
quick=0
if [ "${1:-}" = "--quick" ]; then
  quick=1
  shift
fi
fuzz_seconds=${VOKARI_FUZZ_SECONDS:-15}
failed=()

"$here/setup.sh" --build-dir "$top/build-asan" --sanitize || exit 1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

if [ "$quick" -eq 0 ]; then
  echo "== Fuzzing each parser for ${fuzz_seconds}s"
  "$here/fuzz.sh" "$fuzz_seconds" || failed+=("fuzzing")

  echo "== Threaded engines under ThreadSanitizer"
  tsan_dir="$top/build-tsan"
  tsan_tests=(test_audio test_karaoke test_catalogue)
  if "$here/setup.sh" --build-dir "$tsan_dir" --no-build -- -DVOKARI_TSAN=ON &&
     ninja -C "$tsan_dir" -j "$(nproc)" "${tsan_tests[@]}"; then
    for t in "${tsan_tests[@]}"; do
      TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1} \
        "$tsan_dir/tests/$t" --gtest_brief=1 || failed+=("$t under ThreadSanitizer")
    done
  else
    failed+=("ThreadSanitizer build")
  fi
fi

echo "== All tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cd "$top/build-asan"
ctest --output-on-failure --timeout 300 -j "$(nproc)" "$@" || failed+=("ctest")

if [ ${#failed[@]} -gt 0 ]; then
  printf 'Failed: %s\n' "${failed[@]}" >&2
  exit 1
fi
