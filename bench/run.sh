#!/usr/bin/env bash
# Times histrel against the tools a user would otherwise reach for, on the
# same synthetic trees, and prints each figure as a ratio to its anchor
# (medians of several runs) with the targets beside them.
#
# Usage: bench/run.sh [work-directory]   (default: a fresh directory in /tmp)
# Needs python3; installs hyperfine and GNU time when missing (apt-get).
# Environment: BENCH_RUNS (default 5), BENCH_HUGE_MB (default 1024),
# BENCH_SCAN_FILES (default 20000), BENCH_REWRITE_FILES (default 2000),
# BENCH_WORD_MB (default 200).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
work="${1:-$(mktemp -d /tmp/histrel-bench-XXXXXX)}"
runs="${BENCH_RUNS:-5}"
huge_mb="${BENCH_HUGE_MB:-1024}"
scan_files="${BENCH_SCAN_FILES:-20000}"
rewrite_files="${BENCH_REWRITE_FILES:-2000}"
word_mb="${BENCH_WORD_MB:-200}"

need() { command -v "$1" >/dev/null 2>&1; }
if ! need hyperfine || [ ! -x /usr/bin/time ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq && $SUDO apt-get install -y -qq hyperfine time >/dev/null
fi

echo "== building a release histrel"
cmake -S "$repo" -B "$repo/build-bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$repo/build-bench" -j2 --target histrel >/dev/null
# A private copy of the program, so that no INI file beside it interferes.
mkdir -p "$work/bin" "$work/config"
cp "$repo/build-bench/histrel" "$work/bin/histrel"
histrel="$work/bin/histrel"
export XDG_CONFIG_HOME="$work/config"   # no registry hive unless W4 makes one

# The system path of a native directory: backslashes, as histrel expects.
syspath() { printf '%s' "$1" | tr '/' '\\'; }
# hyperfine -N splits a command into words as a shell would, so a backslash
# outside quotes escapes the next character: arguments with backslashes are
# single-quoted in the commands below.

# Stops the benchmark when a timed command did not do its work, so that a
# figure never comes from a run that failed early.
expect() {  # expect DESCRIPTION ACTUAL WANTED
  if [ "$2" != "$3" ]; then
    echo "benchmark check failed: $1: got '$2', expected '$3'" >&2
    exit 1
  fi
}

median() {  # median of hyperfine's runs of command number $2 in json $1
  python3 -c 'import json,statistics,sys
r=json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]
print(statistics.median(r["times"]))' "$1" "$2"
}
ratio() { python3 -c 'import sys; print("%.2f" % (float(sys.argv[1]) / float(sys.argv[2])))' "$1" "$2"; }
ms() { python3 -c 'import sys; print("%.1f" % (float(sys.argv[1]) * 1000))' "$1"; }
results=()

echo "== W1 scan: $scan_files files of about 10 KB, no marked comment"
if [ ! -d "$work/w1" ]; then python3 "$here/gen_tree.py" scan "$work/w1" "$scan_files" 10240; fi
w1sys="$(syspath "$work/w1")"
expect "W1 files announced" \
  "$("$histrel" /USER=bench "/FILE=$w1sys\\*.pas" /RECURSIVE+ | grep -c 'Unit.*\.pas')" "$scan_files"
# -i: grep's exit status is 1 when it finds nothing, which is the point here.
hyperfine -N -i --warmup 1 --runs "$runs" --export-json "$work/w1.json" \
  "$histrel /USER=bench '/FILE=$w1sys\\*.pas' /RECURSIVE+" \
  "grep -rlF CVS* $work/w1" >/dev/null
hyperfine --warmup 1 --runs "$runs" --export-json "$work/w1cat.json" \
  "find $work/w1 -type f -exec cat {} + > /dev/null" >/dev/null
t_h=$(median "$work/w1.json" 0); t_g=$(median "$work/w1.json" 1); t_c=$(median "$work/w1cat.json" 0)
results+=("W1 scan vs grep -rlF|$(ratio "$t_h" "$t_g")x|<= 1.0x|$(ms "$t_h") ms vs $(ms "$t_g") ms")
results+=("W1 scan vs read-everything|$(ratio "$t_h" "$t_c")x|<= 1.3x|$(ms "$t_h") ms vs $(ms "$t_c") ms")

echo "== W1 deep: the same files in a chain of 50 nested directories"
if [ ! -d "$work/w1deep" ]; then python3 "$here/gen_tree.py" deep "$work/w1deep" "$scan_files" 10240; fi
w1deepsys="$(syspath "$work/w1deep")"
expect "W1 deep files announced" \
  "$("$histrel" /USER=bench "/FILE=$w1deepsys\\*.pas" /RECURSIVE+ | grep -c 'Unit.*\.pas')" "$scan_files"
hyperfine -N -i --warmup 1 --runs "$runs" --export-json "$work/w1deep.json" \
  "$histrel /USER=bench '/FILE=$w1deepsys\\*.pas' /RECURSIVE+" \
  "grep -rlF CVS* $work/w1deep" >/dev/null
t_h=$(median "$work/w1deep.json" 0); t_g=$(median "$work/w1deep.json" 1)
results+=("W1 deep (50 levels) vs grep -rlF|$(ratio "$t_h" "$t_g")x|<= 1.05x|$(ms "$t_h") ms vs $(ms "$t_g") ms")

echo "== W2 rewrite: $rewrite_files files with a marker and three marked comments"
if [ ! -d "$work/w2.orig" ]; then python3 "$here/gen_tree.py" rewrite "$work/w2.orig" "$rewrite_files"; fi
w2sys="$(syspath "$work/w2")"
hyperfine -N --runs "$runs" --export-json "$work/w2.json" \
  --prepare "bash -c 'rm -rf $work/w2 && cp -a $work/w2.orig $work/w2'" \
  "$histrel /USER=bench '/FILE=$w2sys\\*.pas' /RECURSIVE+" \
  "bash -c 'find $work/w2 -name \"*.pas\" -exec sed -i s/CVSLOG/CVSLOG/ {} +'" >/dev/null
t_h=$(median "$work/w2.json" 0); t_s=$(median "$work/w2.json" 1)
rm -rf "$work/w2" && cp -a "$work/w2.orig" "$work/w2"
"$histrel" /USER=bench "/FILE=$w2sys\\*.pas" /RECURSIVE+ >/dev/null
expect "W2 logs written" "$(find "$work/w2" -name '*.pas.cvs' | wc -l)" "$rewrite_files"
expect "W2 marked comments left" "$(grep -rlF 'CVS*' "$work/w2" | wc -l)" 0
results+=("W2 rewrite vs sed -i|$(ratio "$t_h" "$t_s")x|<= 1.0x|$(ms "$t_h") ms vs $(ms "$t_s") ms")

echo "== W3 one huge source: $huge_mb MB"
if [ ! -f "$work/w3.orig/Huge.pas" ]; then
  mkdir -p "$work/w3.orig"; python3 "$here/gen_tree.py" huge "$work/w3.orig/Huge.pas" "$huge_mb"
fi
mkdir -p "$work/w3"
w3sys="$(syspath "$work/w3")"
hyperfine -N --runs 3 --export-json "$work/w3.json" \
  --prepare "bash -c 'rm -f $work/w3/* && cp $work/w3.orig/Huge.pas $work/w3/Huge.pas && sync'" \
  "$histrel /USER=bench '/FILE=$w3sys\\Huge.pas' /RECURSIVE-" \
  "cp $work/w3/Huge.pas $work/w3/Copy.pas" >/dev/null
t_h=$(median "$work/w3.json" 0); t_p=$(median "$work/w3.json" 1)
rm -f "$work/w3/"*; cp "$work/w3.orig/Huge.pas" "$work/w3/Huge.pas"
peak_kb=$( { /usr/bin/time -v "$histrel" /USER=bench "/FILE=$w3sys\\Huge.pas" /RECURSIVE- >/dev/null; } 2>&1 |
  awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}')
expect "W3 log lines" "$(wc -l <"$work/w3/Huge.pas.cvs")" 2
results+=("W3 huge source vs cp|$(ratio "$t_h" "$t_p")x|<= 1.5x|$(ms "$t_h") ms vs $(ms "$t_p") ms")
results+=("W3 peak memory|$((peak_kb / 1024)) MB|< 16 MB|${peak_kb} KB resident at most")

echo "== W4 start-up with a 1,000-entry INI file and a 1,000-value hive"
python3 "$here/gen_tree.py" settings "$work/w4" 1000
cp "$histrel" "$work/w4/histrel"
mkdir -p "$work/w4/empty"
w4sys="$(syspath "$work/w4/empty")"
expect "W4 output" "$(XDG_CONFIG_HOME="$work/w4/config" "$work/w4/histrel" /USER=bench "/FILE=$w4sys")" ""
XDG_CONFIG_HOME="$work/w4/config" hyperfine -N --warmup 3 --runs $((runs * 4)) \
  --export-json "$work/w4.json" "$work/w4/histrel /USER=bench '/FILE=$w4sys'" >/dev/null
t_s=$(median "$work/w4.json" 0)
results+=("W4 start-up|$(ms "$t_s") ms|< 20 ms|median of $((runs * 4)) runs")

echo "== W5 long notes: a one-line note of 1.17 MB, a one-word note of $word_mb MB"
mkdir -p "$work/w5"
w5sys="$(syspath "$work/w5")"
for kind in note word; do
  size_kb=1198; label="one-line"
  if [ "$kind" = word ]; then size_kb=$((word_mb * 1024)); label="one-word"; fi
  if [ ! -f "$work/w5.$kind.pas" ]; then
    python3 "$here/gen_tree.py" "$kind" "$work/w5.$kind.pas" "$size_kb"
  fi
  rm -f "$work/w5/"*; cp "$work/w5.$kind.pas" "$work/w5/Note.pas"
  measured=$( { /usr/bin/time -f '%e %M' "$histrel" /USER=bench "/FILE=$w5sys\\Note.pas" \
    /RECURSIVE- >/dev/null; } 2>&1 | tail -1)
  expect "W5 $label note collected" "$(grep -c 'CVS\*' "$work/w5/Note.pas")" 0
  read -r seconds peak_kb <<<"$measured"
  results+=("W5 $label note: time|${seconds} s|linear|$size_kb KB note")
  results+=("W5 $label note: memory|$((peak_kb / 1024)) MB|<= 2x note|${peak_kb} KB resident at most")
done
rm -f "$work/w5/"*

echo
printf '%-30s %-10s %-10s %s\n' "figure" "measured" "target" "detail"
for row in "${results[@]}"; do
  IFS='|' read -r name value target detail <<<"$row"
  printf '%-30s %-10s %-10s %s\n' "$name" "$value" "$target" "$detail"
done
echo "(trees kept in $work; pass it again to reuse them)"
