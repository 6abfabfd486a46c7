#!/usr/bin/env bash
# Line and branch coverage per folder of a build made with -DQORB_COVERAGE=ON
# after its tests ran:  scripts/coverage.sh [BUILD_DIR]   (default build/)
# Prints one row per folder of the code (Source, include, drivers/*, tools,
# common, python: the extension's C++) and the total; a gcovr JSON summary is left in BUILD_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
summary="$build/coverage-summary.json"
gcovr --root . --object-directory "$build" --filter 'Source/' --filter 'include/' --filter 'drivers/' \
  --filter 'tools/' --filter 'common/' --filter 'python/src/' --exclude-throw-branches --exclude-unreachable-branches \
  --json-summary "$summary" >/dev/null 2>&1
python3 - "$summary" <<'PY'
import collections, json, sys
files = json.load(open(sys.argv[1]))["files"]
rows = collections.OrderedDict()
def folder(path):
    parts = path.split("/")
    return "/".join(parts[:2]) if parts[0] in ("drivers", "tools") and len(parts) > 2 else parts[0]
for f in sorted(files, key=lambda f: f["filename"]):
    r = rows.setdefault(folder(f["filename"]), [0, 0, 0, 0])
    r[0] += f["line_covered"]; r[1] += f["line_total"]
    r[2] += f["branch_covered"]; r[3] += f["branch_total"]
rows["total"] = [sum(r[i] for r in rows.values()) for i in range(4)]
pct = lambda a, b: f"{100.0 * a / b:5.1f}%" if b else "    -"
print(f"{'coverage':<16}{'lines':>22}{'branches':>22}")
for name, (lc, lt, bc, bt) in rows.items():
    print(f"{name:<16}{pct(lc, lt):>8} {lc:>6}/{lt:<6}{pct(bc, bt):>8} {bc:>6}/{bt:<6}")
PY
