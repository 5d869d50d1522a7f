#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every fuzzer for SECONDS on a copy of its corpus; fails when any of them finds a crash.
# Usage: bash fuzz/run.sh BUILD_DIR SECONDS
set -euo pipefail
build=${1:?usage: fuzz/run.sh BUILD_DIR SECONDS}
seconds=${2:?usage: fuzz/run.sh BUILD_DIR SECONDS}
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$build" && pwd)

declare -A max_len=([avi_reader_fuzzer]=400000 [frame_analysis_fuzzer]=150000)
status=0
for name in avi_reader_fuzzer frame_analysis_fuzzer; do
  program=$(find "$build" -type f -name "$name" -perm -u+x | head -n 1)
  if [ -z "$program" ]; then
    echo "fuzz: $name is not built in $build" >&2
    exit 1
  fi
  # Work on a copy: new inputs the run finds stay in the build tree, never in the sources.
  work="$build/fuzz-work/$name"
  mkdir -p "$work/corpus" "$work/findings"
  cp -n "$here/corpus/$name/"* "$work/corpus/" 2>/dev/null || true
  dict=()
  if [ -f "$here/corpus/$name.dict" ]; then dict=(-dict="$here/corpus/$name.dict"); fi
  echo "== $name: $seconds s"
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$program" "$work/corpus" "${dict[@]}" -max_total_time="$seconds" -max_len="${max_len[$name]}" -rss_limit_mb=2048 \
      -timeout=30 -artifact_prefix="$work/findings/" -print_final_stats=1 > "$work/log.txt" 2>&1; then
    echo "fuzz: $name found a problem; the input is in $work/findings/" >&2
    tail -n 60 "$work/log.txt" >&2
    status=1
  else
    grep -E '^(stat::number_of_executed_units|Done)' "$work/log.txt" || tail -n 3 "$work/log.txt"
  fi
done
exit $status
