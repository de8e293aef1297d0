#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up, builds and runs every check headless; non-zero on any failure:
#   1. the test suite of the normal build (build/, or $BUILD_DIR);
#   2. the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (build-asan/, or $ASAN_BUILD_DIR);
#   3. every fuzz target for $FUZZ_SECONDS seconds (default 20; build-fuzz/).
# Arguments go to ctest and then only the normal build's tests run, e.g.
#   ./scripts/test.sh -R tst_entities
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software
"$here/scripts/setup-deps.sh" test
"$here/scripts/build.sh"
(cd "${BUILD_DIR:-$here/build}" && ctest --output-on-failure --parallel "$(nproc)" "$@")
[ $# -gt 0 ] && exit 0

echo "== Sanitizer build (ASan + UBSan)"
asan_dir="${ASAN_BUILD_DIR:-$here/build-asan}"
cmake -S "$here" -B "$asan_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDO_SANITIZE=ON >/dev/null
cmake --build "$asan_dir" --parallel "$(nproc)"
(cd "$asan_dir" && ctest --output-on-failure --parallel "$(nproc)")

echo "== Fuzz targets, ${FUZZ_SECONDS:-20} s each"
"$here/scripts/fuzz.sh" "${FUZZ_SECONDS:-20}"

# Reached only when every step passed (set -e).
count() { (cd "$1" && ctest -N | sed -n 's/^Total Tests: //p'); }
echo "all: $(( $(count "${BUILD_DIR:-$here/build}") + $(count "$asan_dir") + 6 )) passed, 0 failed"
