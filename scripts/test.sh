#!/usr/bin/env bash
# Sets the machine up, builds the tests with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test (unit, integration, gui).
#
#   scripts/test.sh [ctest args...]    e.g. scripts/test.sh -L unit
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(dirname "$here")
build_dir="$top/build-asan"

"$here/setup.sh" --build-dir "$build_dir" --sanitize

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$build_dir"
ctest --output-on-failure --timeout 300 -j "$(nproc)" "$@"
