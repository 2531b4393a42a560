#!/usr/bin/env bash
# Compares two builds of histrel on the scan (W1), the rewrite (W2) and the
# huge source (W3) of bench/run.sh, in interleaved rounds, so that a change
# can be shown to keep the speed: prints each median and the new one as a
# share of the old.
#
# Usage: bench/compare.sh OLD-HISTREL NEW-HISTREL [work-directory]
# Environment: BENCH_ROUNDS (default 10), BENCH_SCAN_FILES (default 20000),
# BENCH_REWRITE_FILES (default 2000), BENCH_HUGE_MB (default 1024).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
old="$(realpath "$1")"
new="$(realpath "$2")"
work="${3:-$(mktemp -d /tmp/histrel-compare-XXXXXX)}"
rounds="${BENCH_ROUNDS:-10}"
scan_files="${BENCH_SCAN_FILES:-20000}"
rewrite_files="${BENCH_REWRITE_FILES:-2000}"
huge_mb="${BENCH_HUGE_MB:-1024}"
mkdir -p "$work/config"
export XDG_CONFIG_HOME="$work/config"
# Private copies, so that no INI file beside either program takes part.
mkdir -p "$work/old" "$work/new"
cp "$old" "$work/old/histrel"
cp "$new" "$work/new/histrel"
syspath() { printf '%s' "$1" | tr '/' '\\'; }

[ -d "$work/w1" ] || python3 "$here/gen_tree.py" scan "$work/w1" "$scan_files" 10240
[ -d "$work/w2.orig" ] || python3 "$here/gen_tree.py" rewrite "$work/w2.orig" "$rewrite_files"
if [ ! -f "$work/w3.orig/Huge.pas" ]; then
  mkdir -p "$work/w3.orig"
  python3 "$here/gen_tree.py" huge "$work/w3.orig/Huge.pas" "$huge_mb"
fi
w1="$(syspath "$work/w1")"
w2="$(syspath "$work/w2")"
w3="$(syspath "$work/w3")"
mkdir -p "$work/w3"

run() {  # run NAME JSON [interleave.py arguments]
  local name="$1" json="$2"
  shift 2
  python3 "$here/interleave.py" "$rounds" "$json" "$@" >/dev/null
  python3 - "$name" "$json" <<'EOF'
import json, statistics, sys
name, path = sys.argv[1], sys.argv[2]
times = json.load(open(path))
old, new = statistics.median(times["old"]), statistics.median(times["new"])
print("%-10s old %8.1f ms  new %8.1f ms  new/old %.3f" % (name, old * 1e3, new * 1e3, new / old))
EOF
}

for side in old new; do eval "${side}_bin=$work/$side/histrel"; done
run W1 "$work/w1.json" \
  "old=$old_bin /USER=bench '/FILE=$w1\\*.pas' /RECURSIVE+" \
  "new=$new_bin /USER=bench '/FILE=$w1\\*.pas' /RECURSIVE+"
run W2 "$work/w2.json" \
  "+prepare=rm -rf $work/w2 && cp -a $work/w2.orig $work/w2" \
  "old=$old_bin /USER=bench '/FILE=$w2\\*.pas' /RECURSIVE+" \
  "new=$new_bin /USER=bench '/FILE=$w2\\*.pas' /RECURSIVE+"
run W3 "$work/w3.json" \
  "+prepare=rm -f $work/w3/* && cp $work/w3.orig/Huge.pas $work/w3/Huge.pas && sync" \
  "old=$old_bin /USER=bench '/FILE=$w3\\Huge.pas' /RECURSIVE-" \
  "new=$new_bin /USER=bench '/FILE=$w3\\Huge.pas' /RECURSIVE-"
