#!/usr/bin/env bash
# Runs every libFuzzer target of a sanitizer tree for a bounded time each.
set -euo pipefail
tree=${1:?usage: run-fuzzers.sh BUILD_TREE [SECONDS]}
seconds=${2:-${QUELT_FUZZ_SECONDS:-10}}
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
found=0
for fuzzer in "$tree"/fuzz/fuzz_*; do
  [[ -x $fuzzer && -f $fuzzer ]] || continue
  found=1
  name=$(basename "$fuzzer")
  corpus=$(mktemp -d)
  seeds="$root/fuzz/seeds/$name"
  echo "--- $name for ${seconds}s"
  args=(-max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1)
  if [[ -d $seeds ]]; then
    "$fuzzer" "${args[@]}" "$corpus" "$seeds" 2>"$corpus.log" || { tail -50 "$corpus.log"; exit 1; }
  else
    "$fuzzer" "${args[@]}" "$corpus" 2>"$corpus.log" || { tail -50 "$corpus.log"; exit 1; }
  fi
  grep -E '^stat::number_of_executed_units' "$corpus.log" || true
  rm -rf "$corpus" "$corpus.log"
done
((found)) || echo "no fuzzers built"
