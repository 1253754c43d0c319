#!/usr/bin/env bash
# Fresh machine to green tests: packages, build, every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j"${KSN_JOBS:-2}" --timeout 600
