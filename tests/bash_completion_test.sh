#!/usr/bin/env bash
# The bash completion offers exactly the switches that the program lists in
# its --help, in that order, every option that --help lists, and completes
# the options and a switch typed in small letters.
# Usage: tests/bash_completion_test.sh HISTREL COMPLETION-FILE
set -euo pipefail
histrel="$1"
completion="$2"

# The program's own list, with no settings of the user's in the way.
config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
program="$(XDG_CONFIG_HOME="$config" "$histrel" --help | sed -n 's|^/\([A-Z]*\)=.*|/\1=|p')"
[ -n "$program" ] || { echo "histrel --help lists no switches" >&2; exit 1; }
# Its options: "  --diff   ...", "  -h, --help ...", "  --files-from=LIST".
options="$(XDG_CONFIG_HOME="$config" "$histrel" --help |
  sed -n 's/^  \(-h, \)\{0,1\}\(--[a-z-]*=\{0,1\}\).*/\2/p')"
[ -n "$options" ] || { echo "histrel --help lists no options" >&2; exit 1; }

# complete WORD...: what the completion offers for the last word, one a line.
complete_words() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _histrel
    printf "%s\n" "${COMPREPLY[@]}"' bash "$completion" "$@"
}

status=0
check() {  # check WHAT ACTUAL WANTED
  if [ "$2" != "$3" ]; then
    printf '%s:\n--- offered\n%s\n--- wanted\n%s\n' "$1" "$2" "$3" >&2
    status=1
  fi
}
check "the switches after /" "$(complete_words histrel /USER=ann /)" "$program"
check "a switch in small letters" "$(complete_words histrel /thr)" "/THREADS="
check "the options after --f" "$(complete_words histrel --f)" "--files-from="
check "the options after --" "$(complete_words histrel --)" \
  "$(printf '%s\n' --diff --check --keep-going --files-from= --quiet --help --version --)"
check "the options of --help, as completed after --" \
  "$(complete_words histrel -- | sort)" "$(printf '%s\n' "$options" | sort)"
check "a switch after --, which is a source" "$(complete_words histrel -- /thr)" ""
exit "$status"
