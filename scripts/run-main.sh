#!/usr/bin/env bash
# Sets up, builds and runs the main job on the simulated driver's built-in platform.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/tools/qorb/qorb ]; then
  cd build/tools/qorb && exec ./qorb check "$@"
fi
exec build/examples/qorb_report "$@"
