#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs missing packages, then configures and builds into build/ (or $BUILD_DIR).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/setup-deps.sh"
build_dir="${BUILD_DIR:-$here/build}"
cmake -S "$here" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
