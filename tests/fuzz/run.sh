#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, starting from its committed seed corpus.
#   tests/fuzz/run.sh BUILD_DIR SECONDS
# New inputs go to BUILD_DIR/corpus/<target>, so the committed seeds stay as they are; an input
# that breaks a target is kept as BUILD_DIR/artifacts/<target>-crash-... and fails the run.
set -euo pipefail
build=$1
seconds=$2
seeds="$(cd "$(dirname "$0")" && pwd)/corpus"

status=0
for target in entity_table conversion; do
  mkdir -p "$build/corpus/$target" "$build/artifacts"
  echo "fuzz: $target for ${seconds}s"
  if ! "$build/${target}_fuzzer" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
      "$build/corpus/$target" "$seeds/$target" >"$build/$target.log" 2>&1; then
    tail -n 40 "$build/$target.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "$build/$target.log" || true
  fi
done
exit $status
