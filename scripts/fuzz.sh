#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz targets (clang, libFuzzer, ASan and UBSan) into build-fuzz/
# (or $FUZZ_BUILD_DIR) and runs each for SECONDS (default 20), starting from its
# seed corpus in fuzz/corpus/<target>. Fails when a target finds a crash, a hang,
# a leak or a broken check; the input that did it is kept in build-fuzz/artifacts/.
#
#   scripts/fuzz.sh                     # 20 s per target, as the test command runs it
#   scripts/fuzz.sh 300                 # the longer run: 5 minutes per target
#   scripts/fuzz.sh 60 fuzz_load_tgz    # one target
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-20}"
[ $# -gt 0 ] && shift
all=(fuzz_mac fuzz_tarheaders fuzz_load_tgz fuzz_load_tar fuzz_xml fuzz_csv)
targets=("${@:-${all[@]}}")
build_dir="${FUZZ_BUILD_DIR:-$here/build-fuzz}"

"$here/scripts/setup-deps.sh" test
cmake -S "$here" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDO_FUZZ=ON -DBUILD_TESTING=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build_dir" --target fuzzers --parallel "$(nproc)"

mkdir -p "$build_dir/artifacts" "$build_dir/logs" "$build_dir/tmp"
passed=0
failed=0
for target in "${targets[@]}"; do
  case "$target" in
    fuzz_xml) dict=(-dict="$here/fuzz/xml.dict") ;;
    fuzz_mac|fuzz_csv) dict=() ;;
    *) dict=(-dict="$here/fuzz/tar.dict") ;;
  esac
  mkdir -p "$build_dir/corpus/$target"
  log="$build_dir/logs/$target.log"
  # New inputs go to the build directory's corpus; the seeds stay as committed.
  # A smaller quarantine than ASan's 256 MiB keeps the resident size of a long
  # run low (it only delays the reuse of freed memory).
  if TMPDIR="$build_dir/tmp" UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     ASAN_OPTIONS=quarantine_size_mb=64:detect_stack_use_after_return=1 \
     "$build_dir/fuzz/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
       -print_final_stats=1 "${dict[@]}" -artifact_prefix="$build_dir/artifacts/$target-" \
       "$build_dir/corpus/$target" "$here/fuzz/corpus/$target" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "$target: ${runs:-?} inputs in ${seconds} s, no failure"
    passed=$((passed + 1))
  else
    echo "$target: FAILED, see $log and $build_dir/artifacts/"
    tail -n 60 "$log"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
