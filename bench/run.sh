#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds, then times tando-project against the system's tar on generated
# archives (show and edit, then diff and check), and the editor's window on
# the large project and on one of 10 000 devices:  bench/run.sh [ROUNDS] [SIZES] [SEED]
# (defaults: 5 small,medium,large,huge 1). The archives are generated once into
# bench/out (ignored by git) and reused. BENCH_COMPARE=/path/to/older/tando-project
# times an older build in the same rounds. Exits 1 when a target is missed
# (see bench/README.md).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/build.sh" >/dev/null
# The floors: ISA-L's igzip and pigz.
if ! command -v igzip >/dev/null || ! command -v pigz >/dev/null; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get install -y -qq --no-install-recommends isal pigz >/dev/null
fi
build_dir="${BUILD_DIR:-$here/build}"
tools="$build_dir/src/tando-project"
[ -n "${BENCH_COMPARE:-}" ] && tools="$tools,before=$BENCH_COMPARE"
status=0
"$build_dir/bench/tando-bench" run "$tools" "$here/bench/out" "$@" || status=1
echo
"$build_dir/bench/tando-bench" review "$build_dir/src/tando-project" "$here/bench/out" "$@" || status=1
echo
"$build_dir/bench/tando-bench" editor "$build_dir/bench/tando-editor-bench" "$build_dir/src/tando-project" \
  "$here/bench/out" "${1:-5}" "${3:-1}" || status=1
exit $status
