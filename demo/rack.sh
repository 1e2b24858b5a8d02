#!/usr/bin/env bash
# Starts the simulated demo rack that demo/rack.pac describes, on 127.0.200.1-4:80, until it is
# interrupted. Needs root (or CAP_NET_BIND_SERVICE) for port 80.
#   Main PA:    two KV-30 amplifiers
#   Side fills: a KV-20, and a KV-40 whose channel B is in FAULT
set -euo pipefail
ampsim=${AMPSIM:-"$(dirname "$0")/../build/tools/ampsim/ampsim"}
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait' EXIT INT TERM
"$ampsim" --model KV-30 --group MAIN --name MAIN --time-scale 30 127.0.200.1 127.0.200.2 & pids+=($!)
"$ampsim" --model KV-20 --group SIDE --name SIDEL --time-scale 30 127.0.200.3 & pids+=($!)
"$ampsim" --model KV-40 --group SIDE --name SIDER --fault B --time-scale 30 127.0.200.4 & pids+=($!)
wait
