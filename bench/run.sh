#!/usr/bin/env bash
# Builds, then times tando-project against the system's tar on generated
# archives: bench/run.sh [ROUNDS] [SIZES] [SEED]   (defaults: 5 small,medium,large 1)
# The archives are generated once into bench/out (ignored by git) and reused.
# BENCH_COMPARE=/path/to/older/tando-project times an older build in the same
# rounds. Exits 1 when the large project misses a target (see bench/README.md).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$here/scripts/build.sh" >/dev/null
build_dir="${BUILD_DIR:-$here/build}"
tools="$build_dir/src/tando-project"
[ -n "${BENCH_COMPARE:-}" ] && tools="$tools,before=$BENCH_COMPARE"
exec "$build_dir/bench/tando-bench" run "$tools" "$here/bench/out" "$@"
