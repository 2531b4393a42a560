#!/bin/sh
# End-to-end tests of the git pre-commit hook (contrib/git/pre-commit): each
# case builds a real repository in a temporary directory, with the built
# histrel on PATH and the hook installed, commits Pascal sources with notes
# and checks what the commit holds, or that a refused commit changed
# nothing.
# Usage: tests/git_hook_test.sh HISTREL HOOK CASE   (status 77: skipped)
set -eu
histrel=$1
hook=$2
case=$3

if ! command -v git >/dev/null 2>&1; then
  # The form tools/skip-reasons reads.
  echo "$0:1: Skipped"
  echo "git is not installed (tools/need-packages git)"
  exit 77
fi

top=$(mktemp -d "${TMPDIR:-/tmp}/histrel-hook-test.XXXXXX")
trap 'chmod -R u+w "$top"; rm -rf "$top"' EXIT
mkdir "$top/bin" "$top/home" "$top/hooks"
# A private copy of the program, so that no INI file beside the build's
# program counts, and a private home for git's settings and the registry.
cp "$histrel" "$top/bin/histrel"
cp "$hook" "$top/hooks/pre-commit"
chmod +x "$top/hooks/pre-commit"
PATH="$top/bin:$PATH"
HOME=$top/home
XDG_CONFIG_HOME=$top/home/config
GIT_CONFIG_NOSYSTEM=1
export PATH HOME XDG_CONFIG_HOME GIT_CONFIG_NOSYSTEM
unset GIT_DIR GIT_WORK_TREE GIT_INDEX_FILE GIT_LITERAL_PATHSPECS 2>/dev/null || :
date='[0-9]{4}\.[0-9]{2}\.[0-9]{2}'

fail() {
  echo "FAIL ($case): $*" >&2
  for f in out err; do
    if [ -s "$top/$f" ]; then
      echo "--- git commit's standard $f:" >&2
      cat "$top/$f" >&2
    fi
  done
  exit 1
}

# Writes a file from printf arguments (directories made as needed).
put() {
  file=$1
  shift
  case $file in */*) mkdir -p "${file%/*}" ;; esac
  # shellcheck disable=SC2059 # the format is the test's own
  printf "$@" >"$file"
}

# A repository whose first commit holds a.pas (with a marker), "sub dir/b
# c.pas" (without one) and notes.txt; the hook through core.hooksPath.
init_repo() {
  git init -q "$top/repo"
  cd "$top/repo"
  git config user.name ann
  git config user.email ann@example.org
  git config core.hooksPath "$top/hooks"
  put a.pas '{CVSLOG}\nunit a;\ninterface\nimplementation\nend.\n'
  put 'sub dir/b c.pas' 'unit b;\ninterface\nimplementation\nend.\n'
  put notes.txt 'not Pascal {CVS* x}\n'
  git add .
  git commit -q -m first
}

# Commits, keeping standard output and error in $top/out and $top/err;
# returns git commit's status.
commit() {
  git commit "$@" >"$top/out" 2>"$top/err"
}

# Index and work tree as the test compares them: the index's entries, HEAD,
# and every file of the work tree with its checksum.
state() {
  git ls-files -s
  git rev-parse HEAD
  find . -path ./.git -prune -o -type f -print | LC_ALL=C sort | while IFS= read -r f; do
    cksum "$f"
  done
}

# The file AT the commit's blob holds the line pattern (grep -E).
commit_has() {
  git show "HEAD:$1" | grep -Eq "$2" || fail "HEAD:$1 has no line like $2"
}

commit_lacks() {
  if git show "HEAD:$1" | grep -Eq "$2"; then fail "HEAD:$1 has a line like $2"; fi
}

# Nothing left to commit or to stage, no file beside the commit's.
clean() {
  test -z "$(git status --porcelain --untracked-files=all)" ||
    fail "the work tree or the index differs from the commit: $(git status --porcelain)"
}

# No patch of set-aside changes is left in the git directory.
no_patch_left() {
  for p in .git/histrel-*; do
    test ! -e "$p" || fail "a patch was left: $p"
  done
}

case $case in
CollectsTheNotesAndCommitsSourcesAndLogs)
  # Stored settings that a run of the hook must not follow: the list of
  # staged sources replaces FILE, the git user wins over USER.
  put "$top/bin/histrel.ini" '[PARAMETERS]\nUSER=zed\nFILE=\\nowhere\\*.pas\nRECURSIVE=-\n'
  init_repo
  put a.pas '{CVSLOG}\nunit a;\ninterface\n{CVS* Rounding fixed}\nimplementation\nend.\n'
  put 'sub dir/b c.pas' 'unit b;\n// CVS* New unit b\ninterface\nimplementation\nend.\n'
  put MAIN.DPK 'package m;\n{CVS* Upper case}\nend.\n'
  git add a.pas 'sub dir/b c.pas' MAIN.DPK
  commit -m notes || fail "the commit failed"
  commit_has MAIN.DPK "^\\{ann $date Upper case\\}\$"
  # The history entry under the marker, the note an ordinary comment.
  commit_has a.pas "^   ann $date Rounding fixed\$"
  commit_has a.pas "^\\{ann $date Rounding fixed\\}\$"
  commit_lacks a.pas 'CVS\*'
  commit_has 'sub dir/b c.pas' "^// ann $date New unit b\$"
  # Both logs are in the commit, the new one too.
  commit_has a.pas.cvs "^ann $date Rounding fixed\$"
  commit_has 'sub dir/b c.pas.cvs' "^ann $date New unit b\$"
  git ls-tree -r --name-only HEAD >"$top/tree"
  printf 'MAIN.DPK\nMAIN.DPK.cvs\na.pas\na.pas.cvs\nnotes.txt\nsub dir/b c.pas\nsub dir/b c.pas.cvs\n' | cmp -s - "$top/tree" ||
    fail "the commit holds $(cat "$top/tree")"
  grep -q 'a.pas:4: Rounding fixed' "$top/err" || fail "the collected notes are not named"
  clean
  # A second commit without notes leaves the sources alone.
  put notes.txt 'still {CVS* x}\n'
  git add notes.txt
  commit -m text || fail "the commit without Pascal sources failed"
  commit_has notes.txt 'CVS\* x'
  test "$(git diff --name-only HEAD~1 HEAD)" = notes.txt || fail "the second commit changed more"
  clean
  ;;

CommitOfNamedFilesLeavesTheIndexAtTheCommit)
  # git commit a.pas commits through a temporary index; the real one must
  # take the rewritten source and the new log as well.
  init_repo
  put a.pas '{CVSLOG}\nunit a;\n{CVS* named}\nend.\n'
  put 'sub dir/b c.pas' 'unit b;\n{CVS* not committed}\nend.\n'
  commit -m named a.pas || fail "the commit failed"
  commit_has a.pas "^   ann $date named\$"
  commit_has a.pas.cvs "^ann $date named\$"
  test "$(git status --porcelain)" = ' M "sub dir/b c.pas"' ||
    fail "after the commit git status says $(git status --porcelain)"
  commit -a -m rest || fail "the second commit failed"
  commit_has 'sub dir/b c.pas' "^\\{ann $date not committed\\}\$"
  commit_has a.pas "^   ann $date named\$"
  clean
  ;;

HonoursHistrelUserAndPatterns)
  init_repo
  git config histrel.user bob
  # Pathspecs, separated by blanks: ? stands for the blank of "sub dir".
  git config histrel.patterns 'sub?dir/*.pas *.dpk'
  put a.pas '{CVSLOG}\nunit a;\n{CVS* outside the patterns}\nend.\n'
  put 'sub dir/b c.pas' 'unit b;\n{CVS* inside}\nend.\n'
  put p.dpk '{CVSLOG}\npackage p;\n{CVS* a package}\nend.\n'
  # A log that git ignores stays out of the commit.
  put .gitignore 'p.dpk.cvs\n'
  git add .
  commit -m patterns || fail "the commit failed"
  commit_has 'sub dir/b c.pas' "^\\{bob $date inside\\}\$"
  commit_has 'sub dir/b c.pas.cvs' "^bob $date inside\$"
  commit_has p.dpk "^   bob $date a package\$"
  grep -q '^bob .* a package$' p.dpk.cvs || fail "p.dpk.cvs lacks the entry"
  grep -q 'log p.dpk.cvs is ignored' "$top/err" || fail "the ignored log is not named"
  if git cat-file -e HEAD:p.dpk.cvs 2>/dev/null; then fail "the ignored log was committed"; fi
  commit_has a.pas 'CVS\* outside the patterns'
  if git cat-file -e HEAD:a.pas.cvs 2>/dev/null; then fail "a.pas got a log"; fi
  clean
  ;;

TheNameIsTheOneGitCommitsUnder)
  # Without histrel.user and user.name the name is the commit's author:
  # GIT_AUTHOR_NAME, else the account's full name (GECOS).
  init_repo
  git config --unset user.name
  put a.pas '{CVSLOG}\nunit a;\n{CVS* by Ann}\nend.\n'
  git add a.pas
  # The committer's name too: an account without a full name has none.
  GIT_AUTHOR_NAME='Ann Lee' GIT_COMMITTER_NAME='Ann Lee' commit -m env || fail "the commit failed"
  test "$(git log -1 --format=%an)" = 'Ann Lee' || fail "the author is $(git log -1 --format=%an)"
  commit_has a.pas "^   Ann Lee $date by Ann\$"
  # The account's full name, where it has one (git cannot commit without).
  if [ -n "$(getent passwd "$(id -u)" | cut -d: -f5 | cut -d, -f1)" ]; then
    put a.pas '{CVSLOG}\nunit a;\n{CVS* by the account}\nend.\n'
    git add a.pas
    commit -m account || fail "the commit failed"
    name=$(git log -1 --format=%an)
    git show HEAD:a.pas | grep -Fq "   $name " || fail "the entry does not name the author $name"
    commit_lacks a.pas 'Ann Lee .* by the account'
  fi
  # No name git may use: the hook stops and says what to set.
  git config user.useConfigOnly true
  put a.pas '{CVSLOG}\nunit a;\n{CVS* by nobody}\nend.\n'
  git add a.pas
  before=$(state)
  status=0
  "$top/hooks/pre-commit" >"$top/out" 2>"$top/err" || status=$?
  test "$status" -eq 1 || fail "the hook ended with status $status, not 1"
  grep -q 'set git config histrel.user' "$top/err" || fail "the message does not name histrel.user"
  test "$(state)" = "$before" || fail "the index or the work tree changed"
  # histrel.user comes before the author's name.
  git config histrel.user bob
  GIT_AUTHOR_NAME='Ann Lee' GIT_COMMITTER_NAME='Ann Lee' commit -m named || fail "the commit with histrel.user failed"
  commit_has a.pas "^   bob $date by nobody\$"
  ;;

PartiallyStagedSourcesAreCommittedAsStagedAndKeepTheRest)
  # a.pas, with a note, and its log have unstaged changes near the lines
  # the run rewrites: set aside, merged back. "b c.pas" has some too, but no
  # note: it is not touched.
  init_repo
  put a.pas.cvs 'ann 2001.01.01 first\nann 2001.01.02 second\n'
  put a.pas '{CVSLOG}\nunit a;\n{CVS* staged}\nend.\n'
  put 'sub dir/b c.pas' 'unit b;\n{ staged }\nend.\n'
  git add .
  put a.pas.cvs 'ann 2001.01.01 first, not staged\nann 2001.01.02 second\n'
  put a.pas '{CVSLOG}\nunit a;\n{CVS* staged}\nend.\n{ not staged }\n'
  put 'sub dir/b c.pas' 'unit b;\n{ staged }\n{ not staged }\nend.\n'
  before=$(cksum 'sub dir/b c.pas')
  commit -m partial || fail "the commit failed"
  commit_has a.pas "^   ann $date staged\$"
  commit_lacks a.pas 'not staged'
  commit_has a.pas.cvs "^ann $date staged\$"
  commit_lacks a.pas.cvs 'not staged'
  commit_lacks 'sub dir/b c.pas' 'not staged'
  # The work tree: the commit plus exactly the changes that were not staged.
  git diff --no-color -U0 >"$top/unstaged"
  git diff --no-color -U0 -- a.pas | grep -q '^+{ not staged }$' || fail "a.pas lost its unstaged line"
  grep -q '^+ann 2001.01.01 first, not staged$' "$top/unstaged" || fail "the log lost its change"
  test "$(grep -c '^[-+][^-+]' "$top/unstaged")" -eq 4 || fail "the work tree differs by $(cat "$top/unstaged")"
  test "$(cksum 'sub dir/b c.pas')" = "$before" || fail "b c.pas was touched"
  test "$(git status --porcelain)" = "$(printf ' M a.pas\n M a.pas.cvs\n M "sub dir/b c.pas"')" ||
    fail "git status says $(git status --porcelain)"
  no_patch_left
  # Changes far from the rewritten lines: the patch applies as it is.
  git add 'sub dir/b c.pas'
  put 'sub dir/b c.pas' 'unit b;\n{ staged }\n{ not staged }\n{CVS* far}\n\n\n\n\nend.\n'
  git add 'sub dir/b c.pas'
  put 'sub dir/b c.pas' '{ new }\nunit b;\n{ staged }\n{ not staged }\n{CVS* far}\n\n\n\n\nend.\n'
  commit -m far || fail "the second commit failed"
  commit_has 'sub dir/b c.pas' "^\\{ann $date far\\}\$"
  commit_lacks 'sub dir/b c.pas' 'new'
  test "$(git diff --no-color -U0 -- 'sub dir/b c.pas' | grep '^[-+][^-+]')" = '+{ new }' ||
    fail "the work tree differs by $(git diff)"
  ;;

ChangesThatMeetTheRewrittenLinesRollBackWithAdviceThatWorks)
  # The unstaged change edits the note's own line: no merge can keep both,
  # so the commit is stopped with the state as it was, and the advice given
  # is followed.
  init_repo
  put a.pas '{CVSLOG}\nunit a;\n{CVS* staged}\nend.\n'
  git add a.pas
  put a.pas '{CVSLOG}\nunit a;\n{CVS* staged, and more}\nend.\n'
  before=$(state)
  if commit -m conflict; then fail "the commit was made"; fi
  test "$(state)" = "$before" || fail "the index or the work tree changed"
  grep -qx '  a.pas' "$top/err" || fail "the message does not name a.pas"
  patch=$(sed -n 's/^.*git apply --3way //p' "$top/err")
  test -f "$patch" || fail "the patch $patch named in the advice is not there"
  git checkout -- a.pas
  commit -m staged || fail "the commit of the staged part failed"
  commit_has a.pas "^\\{ann $date staged\\}\$"
  if git apply --3way "$patch" 2>"$top/err"; then fail "the merge had no conflict"; fi
  grep -q '^<<<<<<<' a.pas || fail "a.pas has no conflict markers"
  # Settled as a user would: the entry of the commit, the note changed again.
  git show HEAD:a.pas | awk '{ print } /^[{]ann .* staged[}]$/ { print "{CVS* and more}" }' >a.pas
  git restore --staged a.pas
  git diff --cached --quiet || fail "something is staged: $(git diff --cached)"
  test "$(git diff --no-color -U0 | grep '^[-+][^-+]')" = '+{CVS* and more}' ||
    fail "the work tree differs by $(git diff)"
  ;;

AToolFailureLeavesIndexAndWorkTreeAsTheyWere)
  # The program rewrites every source, then fails: the hook puts sources
  # and logs back and ends with the program's status and message.
  init_repo
  put "$top/failing" '#!/bin/sh\ncase " $* " in\n*" --check "*) exec histrel "$@" ;;\nesac\nhistrel "$@"\necho "The disk is on fire!"\nexit 3\n'
  chmod +x "$top/failing"
  git config histrel.program "$top/failing"
  put a.pas '{CVSLOG}\nunit a;\n{CVS* one}\nend.\n'
  put 'sub dir/b c.pas' 'unit b;\n{CVS* two}\nend.\n'
  put a.pas.cvs 'ann 2001.01.01 an old entry\n'
  git add .
  # Changes that are not staged, set aside during the run, are back too.
  put a.pas '{CVSLOG}\nunit a;\n{CVS* one, not staged}\nend.\n'
  before=$(state)
  status=0
  "$top/hooks/pre-commit" >"$top/out" 2>"$top/err" || status=$?
  test "$status" -eq 3 || fail "the hook ended with status $status, not 3"
  grep -q 'The disk is on fire!' "$top/err" || fail "the program's message is not on standard error"
  test "$(state)" = "$before" || fail "the index or the work tree changed"
  test ! -e 'sub dir/b c.pas.cvs' || fail "the new log was left"
  if commit -m fails; then fail "the commit was made"; fi
  test "$(state)" = "$before" || fail "the index or the work tree changed"
  # Interrupted (Ctrl-C) while the program runs.
  # shellcheck disable=SC2016 # the script's own expansions
  put "$top/failing" '#!/bin/sh\ncase " $* " in\n*" --check "*) exec histrel "$@" ;;\nesac\nhistrel "$@"\nkill -INT $PPID\n'
  status=0
  "$top/hooks/pre-commit" >"$top/out" 2>"$top/err" || status=$?
  test "$status" -eq 130 || fail "the interrupted hook ended with status $status, not 130"
  test "$(state)" = "$before" || fail "the index or the work tree changed"
  no_patch_left
  ;;

ARefusedSourceStopsTheCommitAndChangesNothing)
  # A marker in a // comment cannot take the history: histrel refuses the
  # source, and the good source beside it is not rewritten either.
  init_repo
  put a.pas '{CVSLOG}\nunit a;\n{CVS* good}\nend.\n'
  put 'sub dir/b c.pas' '// CVSLOG\nunit b;\n{CVS* refused}\nend.\n'
  git add .
  before=$(state)
  if commit -m refused; then fail "the commit was made"; fi
  grep -q 'cannot take the history' "$top/err" || fail "histrel's message is not shown"
  test "$(state)" = "$before" || fail "the index or the work tree changed"
  ;;

OddNamesAndDeletionsAreHandled)
  init_repo
  name=$(printf 'odd\tname [1] *.pas')
  put "$name" '{CVSLOG}\nunit odd;\n{CVS* odd}\nend.\n'
  put -x.pas '{CVSLOG}\nunit x;\n{CVS* dash}\nend.\n'
  put '[a].pas' '{CVSLOG}\nunit brackets;\n{CVS* brackets}\nend.\n'
  git add -- "$name" -x.pas '[a].pas'
  git rm -q 'sub dir/b c.pas'
  # Not staged: a glob "[a].pas" would match it.
  put a.pas '{CVSLOG}\nunit a;\n{ not staged }\nend.\n'
  commit -m odd || fail "the commit failed"
  commit_has '[a].pas' "^   ann $date brackets\$"
  test "$(git status --porcelain)" = ' M a.pas' || fail "git status says $(git status --porcelain)"
  git checkout -q a.pas
  commit_has "$name" "^   ann $date odd\$"
  commit_has "$name.cvs" "^ann $date odd\$"
  commit_has -x.pas.cvs "^ann $date dash\$"
  if git cat-file -e 'HEAD:sub dir/b c.pas' 2>/dev/null; then fail "the deletion was not committed"; fi
  clean
  ;;

ThePreCommitFrameworkTakesTheToolAsAHook)
  # .pre-commit-hooks.yaml, through the framework where it is installed
  # (tools/need-packages pre-commit), else run as the framework runs it:
  # the entry, the user's args, then the staged files the pattern selects.
  yaml=$(cd "$(dirname "$0")/.." && pwd)/.pre-commit-hooks.yaml
  init_repo
  put a.pas '{CVSLOG}\nunit a;\n{CVS* lower}\nend.\n'
  put 'sub dir/B.PAS' 'unit b;\n{CVS* upper}\nend.\n'
  put p.Dpk '{CVSLOG}\npackage p;\n{CVS* package}\nend.\n'
  put README.md 'Write {CVS* notes} in the sources.\n'
  put a.pasx '{CVS* not Pascal}\n'
  if command -v pre-commit >/dev/null 2>&1; then
    git init -q "$top/hooks-repo"
    cp "$yaml" "$top/hooks-repo/"
    git -C "$top/hooks-repo" add .pre-commit-hooks.yaml
    git -C "$top/hooks-repo" -c user.name=ann -c user.email=ann@example.org commit -q -m hooks
    put .pre-commit-config.yaml 'repos:\n- repo: %s\n  rev: %s\n  hooks:\n  - id: histrel\n    args: [/USER=ann, --]\n' \
      "$top/hooks-repo" "$(git -C "$top/hooks-repo" rev-parse HEAD)"
    git config --unset core.hooksPath
    PRE_COMMIT_HOME=$top/cache
    export PRE_COMMIT_HOME
    pre-commit install >/dev/null
    git add .
    # The framework stops a commit whose hook changed files; they are then
    # staged and committed again.
    if commit -m notes; then fail "the framework let the rewritten files pass"; fi
    git add .
    commit -m notes || fail "the second commit failed"
  else
    git add .
    entry=$(sed -n 's/^ *entry: *//p' "$yaml")
    files=$(sed -n "s/^ *files: *'(?i)\\(.*\\)'\$/\\1/p" "$yaml")
    grep -q '^ *language: *system$' "$yaml" || fail "the hook's language is not system"
    test "$entry" = histrel || fail "the entry is $entry"
    test -n "$files" || fail "no files pattern in $yaml"
    git diff --cached --name-only | grep -Ei "$files" | tr '\n' '\0' |
      xargs -0 "$entry" /USER=ann -- >"$top/out" 2>"$top/err" || fail "$entry failed"
    git add .
    git -c core.hooksPath=/dev/null commit -q -m notes
  fi
  commit_has a.pas "^   ann $date lower\$"
  commit_has 'sub dir/B.PAS' "^\\{ann $date upper\\}\$"
  commit_has p.Dpk "^   ann $date package\$"
  commit_has 'sub dir/B.PAS.cvs' "^ann $date upper\$"
  commit_has README.md 'CVS\* notes'
  commit_has a.pasx 'CVS\* not Pascal'
  clean
  ;;

*)
  echo "unknown case $case" >&2
  exit 2
  ;;
esac
echo "passed: $case"
