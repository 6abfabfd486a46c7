#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
#   scripts/run-tests.sh            normal build with coverage (build/); prints line and branch
#                                   coverage per folder after the tests
#   scripts/run-tests.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --vm
build="build"
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQORB_COVERAGE=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build="build-asan"
  flags=(-DCMAKE_BUILD_TYPE=Debug -DQORB_SANITIZE=ON -DQORB_COVERAGE=OFF)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi
cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
# Counts from an earlier run would add up with this one.
find . -name '*.gcda' -delete
status=0
ctest --output-on-failure -j"$(nproc)" || status=$?
# ctest names skipped tests but not why: show the first line of each reason.
log=Testing/Temporary/LastTest.log
# The emulated-machine test (tests/vm) prints its own reason.
if [ -f "$log" ] && grep -q -e ': Skipped$' -e '^qorb-vm: skipped: ' "$log"; then
  echo "Skipped tests:"
  awk '/^\[ RUN      \]/ { name = $4 }
       /: Skipped$/ { getline reason; printf "  %s: %s\n", name, reason }' "$log"
  sed -n 's/^qorb-vm: skipped: /  vm_qemu_q35: /p' "$log"
fi
if [ "$build" = "build" ]; then
  bash ../scripts/coverage.sh "$build" || echo "qorb: coverage could not be summarised" >&2
fi
exit "$status"
