#!/usr/bin/env bash
# Builds, then times tando-project against the system's tar on generated
# archives: bench/run.sh [ROUNDS] [SIZES] [SEED]   (defaults: 5 small,medium,large 1)
# The archives are generated once into bench/out (ignored by git) and reused.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/build.sh" >/dev/null
build_dir="${BUILD_DIR:-$here/build}"
exec "$build_dir/bench/tando-bench" run "$build_dir/src/tando-project" "$here/bench/out" "$@"
