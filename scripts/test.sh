#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless; non-zero on any failure.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/build.sh"
cd "${BUILD_DIR:-$here/build}"
export QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software
ctest --output-on-failure --parallel "$(nproc)" "$@"
