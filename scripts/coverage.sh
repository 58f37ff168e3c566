#!/usr/bin/env bash
# Line coverage of engine/, keys/ and console/ by the whole test suite (every ctest test of a
# gcov build: the GUI tests and the console's black-box runs included). Not part of CI.
#   scripts/coverage.sh [BUILD_FOLDER]      default: build-coverage
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-coverage}
jobs=${JOBS:-2}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DAESSUITE_BUILD_GUI=ON \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "$jobs"
find "$build" -name '*.gcda' -delete
# One test at a time: programs ending together can garble the counts of a .gcda they share.
(cd "$build" && ctest --timeout 1800 | grep -E 'tests passed|Failed|Timeout|Exception')

# gcov's JSON for every object, merged line by line across the units that include a header.
find "$build" -name '*.gcda' -print0 | python3 -c '
import collections, json, os, subprocess, sys
root, gcdas = sys.argv[1], sys.stdin.read().split("\0")[:-1]
lines = collections.defaultdict(dict)
for gcda in gcdas:
    out = subprocess.run(["gcov", "--json-format", "--stdout", gcda], cwd=os.path.dirname(gcda),
                         capture_output=True, check=True).stdout
    for doc in out.decode().splitlines():
        for f in json.loads(doc)["files"]:
            path = os.path.normpath(os.path.join(os.path.dirname(gcda), f["file"]))
            if not path.startswith(root + "/"):
                path = os.path.normpath(f["file"])
            rel = os.path.relpath(path, root)
            if rel.split("/")[0] not in ("engine", "keys", "console"):
                continue
            for line in f["lines"]:
                seen = lines[rel]
                seen[line["line_number"]] = seen.get(line["line_number"], 0) + line["count"]
totals = collections.Counter()
for rel in sorted(lines):
    hit = sum(1 for c in lines[rel].values() if c > 0)
    total = len(lines[rel])
    folder = rel.split("/")[0]
    totals[folder, "hit"] += hit
    totals[folder, "all"] += total
    print(f"{rel:32} {hit:5}/{total:<5} {100 * hit / total:5.1f}%")
for folder in ("engine", "keys", "console"):
    hit, total = totals[folder, "hit"], totals[folder, "all"]
    name = folder + "/"
    print(f"{name:32} {hit:5}/{total:<5} {100 * hit / max(total, 1):5.1f}%")
hit = sum(v for (f, k), v in totals.items() if k == "hit")
total = sum(v for (f, k), v in totals.items() if k == "all")
name = "engine/ keys/ console/"
print(f"{name:32} {hit:5}/{total:<5} {100 * hit / max(total, 1):5.1f}%")
' "$root"
