#!/usr/bin/env bash
# Sets up, builds and runs the main job: "qorb check" on the simulated
# driver's built-in platform (its example platform file names four DUTs).
# Extra arguments go to "qorb check" (e.g. --junit results.xml).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
cd build/tools/qorb
status=0
./qorb check "$@" || status=$?
case $status in
  0) echo "qorb check: every check passed (logs in build/tools/qorb: qorb-check.xml)";;
  1) echo "qorb check: some checks FAILED (see the lines marked FAIL above)";;
  *) echo "qorb check could not run (exit status $status)";;
esac
exit $status
