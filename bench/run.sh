#!/usr/bin/env bash
# Builds zvcc, zvsim and the micro benchmarks in Release (build-bench/) and
# prints one table of every benchmark: end-to-end against zvsim on both links,
# and the micro benchmarks. Options are passed to bench/link_bench.py
# (--messages N, --probes N, --idle SECONDS, --carriers N, --no-local).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_BENCH=ON \
  -DZV_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target zvcc zvsim cipher_bench frame_bench pipelined_client >/dev/null
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(uname -sr)"
exec /usr/bin/python3 bench/link_bench.py build-bench/bin/zvcc build-bench/bin/zvsim \
  --micro build-bench/bench --client build-bench/bench/pipelined_client "$@"
