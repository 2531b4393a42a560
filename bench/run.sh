#!/usr/bin/env bash
# Times histrel against the tools a user would otherwise reach for, on the
# same synthetic trees, and prints each figure as a ratio to its anchor
# (medians of several runs) with the targets beside them.
#
# Usage: bench/run.sh [work-directory]   (default: a fresh directory in /tmp)
# Needs python3; installs hyperfine, ripgrep and GNU time when missing (apt-get).
# Environment: BENCH_ROUNDS (interleaved rounds, default 10), BENCH_RUNS
# (default 5), BENCH_HUGE_MB (default 1024), BENCH_SCAN_FILES (default
# 20000), BENCH_LARGE_FILES (1 MB files, default 2000), BENCH_REWRITE_FILES
# (default 2000), BENCH_WORD_MB (default 200), BENCH_LINE_MB (default 256).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
work="${1:-$(mktemp -d /tmp/histrel-bench-XXXXXX)}"
runs="${BENCH_RUNS:-5}"
huge_mb="${BENCH_HUGE_MB:-1024}"
scan_files="${BENCH_SCAN_FILES:-20000}"
large_files="${BENCH_LARGE_FILES:-2000}"
rewrite_files="${BENCH_REWRITE_FILES:-2000}"
word_mb="${BENCH_WORD_MB:-200}"
line_mb="${BENCH_LINE_MB:-256}"

need() { command -v "$1" >/dev/null 2>&1; }
if ! need hyperfine || [ ! -x /usr/bin/time ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq && $SUDO apt-get install -y -qq hyperfine time >/dev/null
fi
if ! need rg; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get install -y -qq ripgrep >/dev/null
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

rounds="${BENCH_ROUNDS:-10}"
# Medians of interleaved rounds (bench/interleave.py): every command of a
# figure runs once per round, in turn, so the machine's load touches all alike.
interleave() { python3 "$here/interleave.py" "$rounds" "$@" >/dev/null; }
med() {  # med JSON NAME: the median in seconds
  python3 -c 'import json,statistics,sys
print(statistics.median(json.load(open(sys.argv[1]))[sys.argv[2]]))' "$1" "$2"
}
low() {  # low JSON NAME: the fastest run in seconds
  python3 -c 'import json,sys
print(min(json.load(open(sys.argv[1]))[sys.argv[2]]))' "$1" "$2"
}

echo "== W1 scan: $scan_files files of about 10 KB, no marked comment"
if [ ! -d "$work/w1" ]; then python3 "$here/gen_tree.py" scan "$work/w1" "$scan_files" 10240; fi
w1sys="$(syspath "$work/w1")"
expect "W1 files announced" \
  "$("$histrel" /USER=bench "/FILE=$w1sys\\*.pas" /RECURSIVE+ | grep -c 'Unit.*\.pas')" "$scan_files"
find "$work/w1" -type f -print0 >"$work/w1.list"
# The read floor: one process that opens and reads every file.
cc -O2 -o "$work/bin/readall" "$here/readall.c"
interleave "$work/w1.json" \
  "histrel=$histrel /USER=bench '/FILE=$w1sys\\*.pas' /RECURSIVE+" \
  "histrel1=$histrel /USER=bench /THREADS=1 '/FILE=$w1sys\\*.pas' /RECURSIVE+" \
  "grep=grep -rlF 'CVS*' $work/w1" \
  "rg=rg -uuu -lF 'CVS*' $work/w1" \
  "rg1=rg -j1 -uuu -lF 'CVS*' $work/w1" \
  "read=$work/bin/readall <$work/w1.list"
j="$work/w1.json"
results+=("W1 vs rg (default threads)|$(ratio "$(med "$j" histrel)" "$(med "$j" rg)")x|<= 1.0x|$(ms "$(med "$j" histrel)") ms vs $(ms "$(med "$j" rg)") ms")
results+=("W1 /THREADS=1 vs grep -rlF|$(ratio "$(med "$j" histrel1)" "$(med "$j" grep)")x|<= 1.0x|$(ms "$(med "$j" histrel1)") ms vs $(ms "$(med "$j" grep)") ms")
results+=("W1 /THREADS=1 vs rg -j1|$(ratio "$(med "$j" histrel1)" "$(med "$j" rg1)")x|<= 1.0x|$(ms "$(med "$j" histrel1)") ms vs $(ms "$(med "$j" rg1)") ms")
results+=("W1 /THREADS=1 vs read floor|$(ratio "$(med "$j" histrel1)" "$(med "$j" read)")x|<= 1.3x|$(ms "$(med "$j" histrel1)") ms vs $(ms "$(med "$j" read)") ms (one process reading)")

echo "== W1 large: $large_files files of 1 MB, no marked comment"
if [ ! -d "$work/w1large" ]; then
  python3 "$here/gen_tree.py" scan "$work/w1large" "$large_files" 1048576
fi
w1lsys="$(syspath "$work/w1large")"
interleave "$work/w1large.json" \
  "histrel=$histrel /USER=bench '/FILE=$w1lsys\\*.pas' /RECURSIVE+" \
  "histrel1=$histrel /USER=bench /THREADS=1 '/FILE=$w1lsys\\*.pas' /RECURSIVE+" \
  "grep=grep -rlF 'CVS*' $work/w1large" \
  "rg=rg -uuu -lF 'CVS*' $work/w1large"
j="$work/w1large.json"
results+=("W1 1 MB files vs rg|$(ratio "$(med "$j" histrel)" "$(med "$j" rg)")x|<= 1.0x|$(ms "$(med "$j" histrel)") ms vs $(ms "$(med "$j" rg)") ms")
results+=("W1 1 MB /THREADS=1 vs grep|$(ratio "$(med "$j" histrel1)" "$(med "$j" grep)")x|<= 1.0x|$(ms "$(med "$j" histrel1)") ms vs $(ms "$(med "$j" grep)") ms")

echo "== W1 on a terminal: --check of W1 with a note in every file, standard error on a terminal"
# A check of over a second draws its progress line on the terminal that
# script gives it; --quiet draws none. Both run under script, so that the
# terminal costs them alike.
if [ ! -d "$work/w1notes" ]; then
  cp -r "$work/w1" "$work/w1notes"
  find "$work/w1notes" -name '*.pas' -exec sh -c 'for f; do echo "{CVS* a note}" >>"$f"; done' sh {} +
fi
if need script; then
  interleave "$work/w1tty.json" \
    "quiet=script -qfec '$histrel --quiet --check /USER=bench /THREADS=1 -- $work/w1notes >/dev/null' /dev/null" \
    "progress=script -qfec '$histrel --check /USER=bench /THREADS=1 -- $work/w1notes >/dev/null' /dev/null"
  j="$work/w1tty.json"
  results+=("W1 on a terminal: progress line vs --quiet|$(ratio "$(med "$j" progress)" "$(med "$j" quiet)")x|<= 1.02x|$(ms "$(med "$j" progress)") ms vs $(ms "$(med "$j" quiet)") ms (/THREADS=1)")
fi

echo "== W1 deep: the same files in a chain of 50 nested directories"
if [ ! -d "$work/w1deep" ]; then python3 "$here/gen_tree.py" deep "$work/w1deep" "$scan_files" 10240; fi
w1deepsys="$(syspath "$work/w1deep")"
expect "W1 deep files announced" \
  "$("$histrel" /USER=bench "/FILE=$w1deepsys\\*.pas" /RECURSIVE+ | grep -c 'Unit.*\.pas')" "$scan_files"
interleave "$work/w1deep.json" \
  "histrel1=$histrel /USER=bench /THREADS=1 '/FILE=$w1deepsys\\*.pas' /RECURSIVE+" \
  "grep=grep -rlF 'CVS*' $work/w1deep"
j="$work/w1deep.json"
results+=("W1 deep (50 levels) vs grep|$(ratio "$(med "$j" histrel1)" "$(med "$j" grep)")x|<= 1.05x|$(ms "$(med "$j" histrel1)") ms vs $(ms "$(med "$j" grep)") ms (/THREADS=1)")

echo "== W2 rewrite: $rewrite_files files with a marker and three marked comments"
if [ ! -d "$work/w2.orig" ]; then python3 "$here/gen_tree.py" rewrite "$work/w2.orig" "$rewrite_files"; fi
w2sys="$(syspath "$work/w2")"
# The like-for-like work: every file rewritten by sed -i and one line
# appended to a log beside it, both put on the disk (histrel syncs the new
# text and the log's entry before it replaces a source); the same unsynced;
# and bare sed -i.
interleave "$work/w2.json" \
  "+prepare=rm -rf $work/w2 && cp -a $work/w2.orig $work/w2" \
  "histrel=$histrel /USER=bench '/FILE=$w2sys\\*.pas' /RECURSIVE+" \
  "sedlogsync=find $work/w2 -name '*.pas' -exec sed -i s/CVSLOG/CVSLOG/ {} + && for f in \$(find $work/w2 -name '*.pas'); do echo 'bench 2024.01.01 note' >>\"\$f.cvs\"; sync --data \"\$f\" \"\$f.cvs\"; done" \
  "sedlog=find $work/w2 -name '*.pas' -exec sed -i s/CVSLOG/CVSLOG/ {} + && for f in \$(find $work/w2 -name '*.pas'); do echo 'bench 2024.01.01 note' >>\"\$f.cvs\"; done" \
  "sed=find $work/w2 -name '*.pas' -exec sed -i s/CVSLOG/CVSLOG/ {} +"
rm -rf "$work/w2" && cp -a "$work/w2.orig" "$work/w2"
"$histrel" /USER=bench "/FILE=$w2sys\\*.pas" /RECURSIVE+ >/dev/null
expect "W2 logs written" "$(find "$work/w2" -name '*.pas.cvs' | wc -l)" "$rewrite_files"
expect "W2 marked comments left" "$(grep -rlF 'CVS*' "$work/w2" | wc -l)" 0
j="$work/w2.json"
results+=("W2 vs sed -i + log line, synced|$(ratio "$(med "$j" histrel)" "$(med "$j" sedlogsync)")x|<= 1.0x|$(ms "$(med "$j" histrel)") ms vs $(ms "$(med "$j" sedlogsync)") ms")
results+=("W2 vs sed -i + log line|$(ratio "$(med "$j" histrel)" "$(med "$j" sedlog)")x|(info)|$(ms "$(med "$j" histrel)") ms vs $(ms "$(med "$j" sedlog)") ms")
results+=("W2 vs bare sed -i|$(ratio "$(med "$j" histrel)" "$(med "$j" sed)")x|(info)|$(ms "$(med "$j" histrel)") ms vs $(ms "$(med "$j" sed)") ms")

for place in disk tmpfs; do
  if [ "$place" = disk ]; then w3="$work/w3"; else w3="/dev/shm/histrel-bench-w3"; fi
  echo "== W3 one huge source: $huge_mb MB on $place"
  if [ ! -f "$work/w3.orig/Huge.pas" ]; then
    mkdir -p "$work/w3.orig"; python3 "$here/gen_tree.py" huge "$work/w3.orig/Huge.pas" "$huge_mb"
  fi
  mkdir -p "$w3"
  w3sys="$(syspath "$w3")"
  # The replace floor: a copy under a temporary name renamed over the file.
  interleave "$work/w3$place.json" \
    "+prepare=rm -f $w3/* && cp $work/w3.orig/Huge.pas $w3/Huge.pas && sync" \
    "histrel=$histrel /USER=bench '/FILE=$w3sys\\Huge.pas' /RECURSIVE-" \
    "replace=cp $w3/Huge.pas $w3/Huge.tmp && mv $w3/Huge.tmp $w3/Huge.pas" \
    "sed=sed -i s/CVSLOG/CVSLOG/ $w3/Huge.pas"
  rm -f "$w3/"*; cp "$work/w3.orig/Huge.pas" "$w3/Huge.pas"
  peak_kb=$( { /usr/bin/time -v "$histrel" /USER=bench "/FILE=$w3sys\\Huge.pas" /RECURSIVE- >/dev/null; } 2>&1 |
    awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}')
  expect "W3 log lines" "$(wc -l <"$w3/Huge.pas.cvs")" 2
  j="$work/w3$place.json"
  # Writing a gigabyte makes single runs vary widely (writeback, reclaim):
  # the fastest runs are shown beside the medians.
  results+=("W3 $place vs cp + mv|$(ratio "$(med "$j" histrel)" "$(med "$j" replace)")x|<= 1.1x|$(ms "$(med "$j" histrel)") ms vs $(ms "$(med "$j" replace)") ms; fastest $(ratio "$(low "$j" histrel)" "$(low "$j" replace)")x")
  results+=("W3 $place vs sed -i|$(ratio "$(med "$j" histrel)" "$(med "$j" sed)")x|(info)|$(ms "$(med "$j" histrel)") ms vs $(ms "$(med "$j" sed)") ms")
  results+=("W3 $place peak memory|$((peak_kb / 1024)) MB|< 16 MB|${peak_kb} KB resident at most")
  rm -rf /dev/shm/histrel-bench-w3
done

echo "== W4 start-up: none, and a 1,000-entry INI file with a 1,000-value hive"
python3 "$here/gen_tree.py" settings "$work/w4" 1000
# Settings files are old when a program starts; one changed in the last two
# seconds is read again at every look-up.
touch -d '-1 minute' "$work/w4/histrel.ini" "$work/w4/config/programswitch/HKEY_CURRENT_USER.reg"
cp "$histrel" "$work/w4/histrel"
mkdir -p "$work/w4/empty" "$work/w4/none"
cp "$histrel" "$work/w4/none/histrel"
w4sys="$(syspath "$work/w4/empty")"
expect "W4 output" "$(XDG_CONFIG_HOME="$work/w4/config" "$work/w4/histrel" /USER=bench "/FILE=$w4sys")" ""
# hyperfine -N starts the programs without a shell, which matters at this
# scale; each pair runs in both orders and the medians of both are taken.
# The settings are found through XDG_CONFIG_HOME, set for the whole pair.
for order in 1 2; do
  none=("$work/w4/none/histrel /USER=bench '/FILE=$w4sys'" "grep -F CVS* /dev/null")
  withset=("$work/w4/histrel /USER=bench '/FILE=$w4sys'" "grep -F CVS* /dev/null")
  if [ "$order" = 2 ]; then none=("${none[1]}" "${none[0]}"); withset=("${withset[1]}" "${withset[0]}"); fi
  XDG_CONFIG_HOME="$work/config" hyperfine -N -i --warmup 5 --runs $((rounds * 3)) \
    --export-json "$work/w4none.$order.json" "${none[@]}" >/dev/null
  XDG_CONFIG_HOME="$work/w4/config" hyperfine -N -i --warmup 5 --runs $((rounds * 3)) \
    --export-json "$work/w4set.$order.json" "${withset[@]}" >/dev/null
done
w4med() {  # w4med KIND PATTERN: the median over both orders of the matching command
  python3 -c 'import json,statistics,sys
t=[]
for f in sys.argv[2:]:
  for r in json.load(open(f))["results"]:
    if sys.argv[1] in r["command"]: t += r["times"]
print(statistics.median(t))' "$2" "$work/w4$1.1.json" "$work/w4$1.2.json"
}
t_none=$(w4med none "histrel"); t_grep=$(w4med none "grep -F"); t_set=$(w4med set "histrel")
results+=("W4 start-up, no settings|$(ratio "$t_none" "$t_grep")x grep|<= 1.2x|$(ms "$t_none") ms vs $(ms "$t_grep") ms")
results+=("W4 start-up, 1,000 entries|$(ms "$t_set") ms|<= 2 ms|INI file and hive of 1,000 entries each")

echo "== W5 long notes: one line of 1.17 MB and of $word_mb MB, one word of $word_mb MB"
mkdir -p "$work/w5"
w5sys="$(syspath "$work/w5")"
for kind in note bignote word; do
  size_kb=1198; label="one-line"; make=note
  if [ "$kind" = bignote ]; then size_kb=$((word_mb * 1024)); label="$word_mb MB one-line"; fi
  if [ "$kind" = word ]; then size_kb=$((word_mb * 1024)); label="one-word"; make=word; fi
  if [ ! -f "$work/w5.$kind.pas" ]; then
    python3 "$here/gen_tree.py" "$make" "$work/w5.$kind.pas" "$size_kb"
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

echo "== W6 previews: the peak memory of a run, --check and --diff on one code line of $line_mb MB"
mkdir -p "$work/w6"
w6sys="$(syspath "$work/w6")"
if [ ! -f "$work/w6.line.pas" ]; then
  python3 "$here/gen_tree.py" line "$work/w6.line.pas" "$((line_mb * 1024))"
fi
peak() {  # peak [OPTION]: "status peak-KB" of histrel on a fresh copy of the source
  rm -f "$work/w6/"*; cp "$work/w6.line.pas" "$work/w6/Line.pas"
  { /usr/bin/time -f '%x %M' "$histrel" "$@" /USER=bench "/FILE=$w6sys\\Line.pas" \
    /RECURSIVE- >/dev/null || true; } 2>&1 | tail -1
}
read -r status run_kb <<<"$(peak)"; expect "W6 run status" "$status" 0
read -r status check_kb <<<"$(peak --check)"; expect "W6 --check status" "$status" 1
read -r status diff_kb <<<"$(peak --diff)"; expect "W6 --diff status" "$status" 1
rm -f "$work/w6/"*
source_kb=$(( $(stat -c %s "$work/w6.line.pas") / 1024 ))
results+=("W6 run: memory|$((run_kb / 1024)) MB|(info)|${run_kb} KB resident at most")
results+=("W6 --check: memory|$((check_kb / 1024)) MB|<= run|${check_kb} KB vs the run's ${run_kb} KB")
results+=("W6 --diff: memory|$(ratio "$diff_kb" "$source_kb")x|~2x source|${diff_kb} KB, the source ${source_kb} KB")

echo
printf '%-32s %-12s %-10s %s\n' "figure" "measured" "target" "detail"
for row in "${results[@]}"; do
  IFS='|' read -r name value target detail <<<"$row"
  printf '%-32s %-12s %-10s %s\n' "$name" "$value" "$target" "$detail"
done
echo "(trees kept in $work; pass it again to reuse them)"
