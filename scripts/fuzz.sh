#!/usr/bin/env bash
# Builds every fuzz target (clang, libFuzzer with ASan and UBSan) and runs each
# for the given number of seconds (default 60) over a working copy of its seed
# corpus, then prints one table: executions, coverage (cov: edges, ft:
# features) and the outcome per target.
#
#   scripts/fuzz.sh [seconds] [target ...]     e.g. scripts/fuzz.sh 600 frame_reader
#
# ZV_FUZZ_JOBS (default 1) targets run at once. The working corpora, logs and
# any crash inputs stay in build-fuzz/run/<target>/; the seeds in fuzz/corpus
# are only read. A crash input found is worth keeping: copy it to
# fuzz/corpus/<target>/ once the fault is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
jobs=${ZV_FUZZ_JOBS:-1}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZV_BUILD_FUZZ=ON -DZV_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j 2 --target fuzz_targets >/dev/null

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for source in fuzz/*_fuzz.cc; do
    name=$(basename "$source" .cc)
    targets+=("${name%_fuzz}")
  done
fi

# The targets that need files work in a scratch program folder under TMPDIR;
# memory keeps their many small writes cheap.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

run_one() {
  local target=$1 dir=build-fuzz/run/$1
  rm -rf "$dir/work"
  mkdir -p "$dir/work" "$dir/crashes"
  if [ -d "fuzz/corpus/$target" ]; then cp "fuzz/corpus/$target"/* "$dir/work/"; fi
  local dict=()
  if [ -f "fuzz/$target.dict" ]; then dict=("-dict=fuzz/$target.dict"); fi
  local status=0
  nice -n 19 "build-fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$dir/crashes/" "${dict[@]}" "$dir/work" >"$dir/log" 2>&1 || status=$?
  echo "$status" >"$dir/status"
}

running=0
for target in "${targets[@]}"; do
  if [ ! -x "build-fuzz/fuzz/${target}_fuzz" ]; then
    echo "no fuzz target named $target" >&2
    exit 2
  fi
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=0
printf '%-14s %8s %12s %7s %8s %8s  %s\n' target seconds executions cov ft corpus outcome
for target in "${targets[@]}"; do
  dir=build-fuzz/run/$target
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$dir/log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(sed -n 's/.* corp: \([0-9]*\)\/.*/\1/p' <<<"$last")
  outcome=ok
  if [ "$(cat "$dir/status")" != 0 ]; then
    outcome="FAILED: see $dir/log and $dir/crashes/"
    failed=1
  fi
  printf '%-14s %8s %12s %7s %8s %8s  %s\n' "$target" "$seconds" "${execs:-?}" "${cov:-?}" \
    "${ft:-?}" "${corpus:-?}" "$outcome"
done
exit "$failed"
