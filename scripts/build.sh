#!/usr/bin/env bash
# Configures and builds into build/ (Release, warnings as errors).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKSN_WERROR=ON
cmake --build build -j"${KSN_JOBS:-2}"
