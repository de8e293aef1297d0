#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the editor's window at its default size with the sample project
# loaded, headless (under xvfb-run when installed: apt-get install xvfb xauth):
#   ./scripts/screenshot.sh [OUT.png]      (default: docs/screenshot.png)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="${1:-$here/docs/screenshot.png}"
"$here/scripts/build.sh" >/dev/null
sample="$(mktemp -d)/sample.tgz"
trap 'rm -rf "$(dirname "$sample")"' EXIT
"$here/scripts/make-sample-project.sh" "$sample" >/dev/null
mkdir -p "$(dirname "$out")"
tool="${BUILD_DIR:-$here/build}/tests/ui/window_screenshot"
# A real X server draws the window as users see it; offscreen is the fallback.
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x800x24" "$tool" "$sample" "$out"
else
  QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software "$tool" "$sample" "$out"
fi
echo "$out"
