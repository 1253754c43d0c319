#!/usr/bin/env bash
# Fresh machine to a running program: packages, build, a crate server on
# 127.0.0.1:11111 (the simulator, unless one already answers; steerable with
# ksn-cratectl), then the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
bin=build/bin
if ! (exec 3<>/dev/tcp/127.0.0.1/11111) 2>/dev/null; then
  "$bin/ksn-crated" --control &
  crated=$!
  trap 'kill $crated 2>/dev/null || true' EXIT
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/11111) 2>/dev/null && break
    sleep 0.1
  done
fi
if [ -x "$bin/ksn48_vevu" ]; then
  "$bin/ksn48_vevu"
else
  "$bin/ksn-cratectl" list
fi
