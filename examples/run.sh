#!/usr/bin/env bash
# Installs what the build needs when it is missing, builds histrel and runs
# it on a copy of this example tree, then shows what it did to Billing.pas
# and its history log. The tree itself stays as it is.
# Usage: examples/run.sh [user]   (default user: ann)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
user="${1:-ann}"
"$repo/tools/need-packages" cmake make g++ libncurses-dev
echo "Building histrel in build/ (the first time about a minute on two cores)"
cmake -S "$repo" -B "$repo/build" >/dev/null
cmake --build "$repo/build" -j2 --target histrel
echo

# A directory of its own: another user's copy in /tmp is neither in the
# way nor taken for this one.
work="$(mktemp -d "${TMPDIR:-/tmp}/histrel-example.XXXXXX")"
cp -r "$repo/examples/." "$work/"
rm -f "$work/run.sh"
# The paths after -- are the shell's: a directory gives its Pascal sources.
echo "\$ histrel /USER=$user -- $work"
"$repo/build/histrel" "/USER=$user" -- "$work"
echo
echo "== $work/Billing.pas"
cat "$work/Billing.pas"
echo "== $work/Billing.pas.cvs"
cat "$work/Billing.pas.cvs"
echo "== a second run changes nothing:"
before="$(cat "$work/Billing.pas")"
"$repo/build/histrel" --quiet "/USER=$user" -- "$work" >/dev/null
[ "$before" = "$(cat "$work/Billing.pas")" ] && echo "Billing.pas unchanged"
