#!/usr/bin/env bash
# tools/need-packages as a user who is not root, with a sudo that stands in
# for the real one: fake sudo, id, dpkg-query and apt-get on PATH record
# what is run, and as whom.
#   NoPasswordSudoIsUsedWithoutAsking: the user may use sudo without a
#     password and has none ("sudo -v" asks for one and fails, "sudo -n"
#     runs the command);
#   APasswordIsAskedOnceByTheNormalPrompt: sudo wants the password, which
#     the user types once.
# Usage: tests/need_packages_test.sh NEED-PACKAGES CASE
set -euo pipefail
need_packages="$1"
case="$2"

top="$(mktemp -d "${TMPDIR:-/tmp}/histrel-need-packages.XXXXXX")"
trap 'rm -rf "$top"' EXIT
bin="$top/bin"
mkdir "$bin"
calls="$top/calls"
: >"$calls"

cat >"$bin/id" <<'EOF'
#!/bin/sh
[ "$1" = -u ] && echo "${FAKE_UID:-1000}"
EOF
# Only "present" is installed.
cat >"$bin/dpkg-query" <<'EOF'
#!/bin/sh
for last; do :; done
[ "$last" = present ] && printf installed
exit 0
EOF
# apt-get must run as root, which only the fake sudo makes the user.
cat >"$bin/apt-get" <<'EOF'
#!/bin/sh
if [ "${FAKE_UID:-1000}" -ne 0 ]; then
  echo "E: Could not open lock file - are you root?" >&2
  exit 100
fi
echo "apt-get $*" >>"$FAKE_CALLS"
EOF
# The fake sudo. SUDO_MODE nopasswd: every command runs without a question,
# but -v asks for the password the user does not have. SUDO_MODE password:
# -n fails until the password ("secret", read from standard input) has been
# given once; the answer is remembered, as sudo's timestamp does.
cat >"$bin/sudo" <<'EOF'
#!/bin/bash
echo "sudo $*" >>"$FAKE_CALLS"
ask() {
  echo "[sudo] password for ann: " >&2
  local answer=""
  read -r answer || true
  if [ "$answer" = secret ]; then
    : >"$FAKE_STAMP"
  else
    echo "sudo: no password was provided" >&2
    exit 1
  fi
}
case "$1" in
  -v)
    ask
    exit 0 ;;
  -n)
    shift
    if [ "$SUDO_MODE" = password ] && [ ! -e "$FAKE_STAMP" ]; then
      echo "sudo: a password is required" >&2
      exit 1
    fi ;;
  *)
    if [ "$SUDO_MODE" = password ] && [ ! -e "$FAKE_STAMP" ]; then ask; fi ;;
esac
FAKE_UID=0 exec "$@"
EOF
chmod +x "$bin"/*
export FAKE_CALLS="$calls" FAKE_STAMP="$top/stamp" PATH="$bin:$PATH"

fail() {
  echo "FAIL ($case): $*" >&2
  printf -- '--- calls:\n%s\n--- standard output:\n%s\n--- standard error:\n%s\n' \
    "$(cat "$calls")" "$(cat "$top/out")" "$(cat "$top/err")" >&2
  exit 1
}

# Runs need-packages with the password lines on standard input.
run() {
  local status=0
  printf '%s' "$1" | SUDO_MODE="$mode" "$need_packages" present gone absent \
    >"$top/out" 2>"$top/err" || status=$?
  [ "$status" -eq 0 ] || fail "need-packages ended with status $status"
  grep -qx 'Installing gone absent' "$top/out" || fail "it did not say what it installs"
}

installed() {
  grep -qx "apt-get update -qq" "$calls" || fail "apt-get update did not run as root"
  grep -qx "apt-get install -y -qq --no-install-recommends gone absent" "$calls" ||
    fail "the missing packages (and only those) were not installed"
}

case "$case" in
  NoPasswordSudoIsUsedWithoutAsking)
    mode=nopasswd
    # No password to give: any question would end in a failure.
    run ""
    installed
    if grep -q '^sudo -v' "$calls"; then fail "sudo -v asks for a password the user has not got"; fi
    grep -qx 'sudo -n apt-get install -y -qq --no-install-recommends gone absent' "$calls" ||
      fail "apt-get was not run through sudo -n"
    if grep -q 'password' "$top/err"; then fail "a password was asked for"; fi
    ;;
  APasswordIsAskedOnceByTheNormalPrompt)
    mode=password
    run $'secret\n'
    installed
    [ "$(grep -c '^\[sudo\] password' "$top/err")" -eq 1 ] || fail "the password was not asked once"
    # The prompt comes before apt runs, where it can be seen.
    case "$(grep -m1 -v '^sudo -n' "$calls")" in
      "sudo apt-get"*) fail "the password was asked while apt's output is hidden" ;;
    esac
    ;;
  *)
    echo "unknown case: $case" >&2
    exit 2
    ;;
esac
