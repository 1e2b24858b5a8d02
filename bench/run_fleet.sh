#!/usr/bin/env bash
# Builds the fleet benchmarks in build-bench/ and runs them: the fleet at N = 1, 50, 250 and
# 1000 (about 10 minutes), the probe under a crowd (about 2 minutes), and, with --soak, the
# 10-minute soak at N = 250. Runs as root: the simulated amplifiers bind port 80 on 127.0.x.y,
# the probe opens a raw ICMP socket, and the probe benchmark takes a network namespace of its own.
# Extra arguments go to bench_Fleet (for example --sizes 1,1000 --steady 10).
set -euo pipefail
cd "$(dirname "$0")/.."

soak=0
args=()
for arg in "$@"; do
  if [ "$arg" = --soak ]; then soak=1; else args+=("$arg"); fi
done

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build-bench bench_Fleet bench_Probe bench_Soak

# 1000 poll threads plus the simulator's listeners and connections need descriptors; the
# benchmarks raise their own soft limit to the hard one, this raises the hard one where allowed.
ulimit -Hn 65536 2>/dev/null || true
ulimit -n "$(ulimit -Hn)"

build-bench/bench/bench_Fleet "${args[@]}"
build-bench/bench/bench_Probe
if [ "$soak" = 1 ]; then
  build-bench/bench/bench_Soak
fi
