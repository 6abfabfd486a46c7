#!/usr/bin/env bash
# The style checks CI runs: clang-format over the C++ lines changed since a
# base commit (default: the previous commit; QORB_FORMAT_BASE overrides), and
# ShellCheck over every shell script of the tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh --lint
status=0
base=${QORB_FORMAT_BASE:-HEAD~1}
if git rev-parse --verify -q "$base" >/dev/null; then
  diff=$(git diff -U0 --no-color "$base" -- '*.cpp' '*.h' | clang-format-diff -p1 || true)
  if [ -n "$diff" ]; then
    echo "qorb: C++ lines changed since $base do not follow .clang-format:"
    echo "$diff"
    status=1
  fi
else
  echo "qorb: no commit $base to compare with; the format check is skipped"
fi
mapfile -t scripts < <(git ls-files '*.sh' scripts .ci bench/run fuzz/run | sort -u)
shellcheck "${scripts[@]}" || status=1
exit "$status"
