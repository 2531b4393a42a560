#!/usr/bin/env python3
"""Runs histrel on real Pascal code: Free Pascal's own sources as Debian ships
them (packages fpc and fpc-source).

1. Units of fcl-base that compile on their own are copied, half of them with
   CR LF line ends. Marker lines and notes are planted: code and a directive
   on the marker line, braces in line-comment notes, Windows-1252 and UTF-8
   umlauts, a note wrapped so that "// CVS*" begins a history line, a lone CR
   in a comment and a Ctrl-Z tail after "end.".
2. The units are compiled without debug information, histrel runs, and they
   are compiled again: every object file must be byte for byte the same, the
   code tokens (read by the scanner of real_code_support.py, with nested
   comments and without) must be the same, and nothing planted may be lost.
3. A second run must change nothing, logs included.
4. A run over the whole unmarked source tree must leave every file as it was,
   its mtime included, and create none.
5. Hand-made units, each holding a way to fool a rewrite (a user name or a
   marker that ends a nested comment, UTF-8 right after "CVS*", the marker
   in a note, a byte order mark before a line note, a code word after a
   comment, lone CRs, a NUL byte, notes and markers in multi-line strings, a
   line note in a block that ends on its line, a user name holding "}"), run
   one at a time with their own user: each must come out as a correct run
   leaves it (refused untouched, or rewritten so that it compiles to the same
   object file with the same code tokens and string literals and a next run
   changes nothing, or left as it is). Every unit that does not is reported
   on a line of its own, and the test fails after the other steps.

Usage: tests/fpc_real_code.py [path of histrel]   (default: build/histrel)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from real_code_support import (BOM, USER, check_scanner, compare, compare_code,  # noqa: E402
                               compare_strings, differences, fail, is_utf8, private_histrel,
                               read, refusal_message, run_as, run_histrel, scan, snapshot,
                               system_path, write)

FPC_SOURCE = "/usr/share/fpcsrc"
UNITS = [
    "ascii85", "avl_tree", "base64", "blowfish", "bufstream", "cachecls", "contnrs",
    "csvreadwrite", "csvdocument", "idea", "inicol", "inifiles", "iostream", "maskutils",
    "nullstream", "pooledmm", "streamcoll", "streamex", "streamio", "uriparser", "wformat",
    "whtml", "wtex", "fptemplate", "rttiutils", "gettext", "syncobjs", "custapp",
]
# With the user "ci", a word of 65 letters fills a history line so that the
# "//" after it begins the next one.
WRAPPED_NOTE = b"// CVS* " + b"w" * 65 + b" // CVS* starts a history line"
NOTES = [
    b'// CVS* map "}" to "\\}" and "{" to "\\{" in the scanner',
    b"// CVS* Umlaute Windows-1252: \xe4\xf6\xfc\xc4\xd6\xdc\xdf, UTF-8: \xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f",
    WRAPPED_NOTE,
]
DIRECTIVE = b"{$hints off}"
LONE_CR = b"{ a plain comment with a lone CR\rin it }"
CTRL_Z_TAIL = b"\x1a{CVS* after the Ctrl-Z: no note} junk"


def fcl_base():
    for version in sorted(os.listdir(FPC_SOURCE)):
        path = os.path.join(FPC_SOURCE, version, "packages/fcl-base/src")
        if os.path.isdir(path):
            return os.path.join(FPC_SOURCE, version), path
    fail("no fpc-source below " + FPC_SOURCE)
    return None, None


def plant(path, index):
    """Plants the marker line and the notes; returns the bytes that must stay."""
    with open(path, "rb") as handle:
        text = handle.read()
    lines = text.split(b"\n")
    unit = next(i for i, line in enumerate(lines) if re.match(rb"\s*unit\s+\w+\s*;", line, re.I))
    lines[unit] = lines[unit].rstrip(b"\r") + b" {CVSLOG} " + DIRECTIVE
    interface = next(i for i, line in enumerate(lines) if re.match(rb"\s*interface\b", line, re.I))
    lines.insert(interface + 1, b"{CVS* " + b"Brace note %d: Gr\xfc\xdfe, Gr\xc3\xbc\xc3\x9fe}" % index)
    lines.insert(interface + 2, LONE_CR)
    implementation = next(
        i for i, line in enumerate(lines) if re.match(rb"\s*implementation\b", line, re.I))
    for offset, note in enumerate(NOTES):
        lines.insert(implementation + 1 + offset, note)
    planted = b"\n".join(lines)
    if index % 2 == 1:
        planted = planted.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    if index % 3 == 0:
        planted = planted.rstrip(b"\r\n") + CTRL_Z_TAIL
    with open(path, "wb") as handle:
        handle.write(planted)
    return planted


# --- Hand-made units, each a way Pascal has to fool a rewrite ---------------
# Each unit is compiled, histrel runs on it alone as its user, and the outcome
# decides what is checked. Refused: status 1 with a refusal message, the
# source and its log as they were. Rewritten: the unit compiles to the same
# object file, its code tokens are the same under both readings of nested
# comments, no string literal changed, a Ctrl-Z tail stayed, and a second
# run changes nothing. Left as it is: status 0 and nothing written. Each
# unit names the outcomes a correct run may have, and some a check of
# their own.

REFUSED, REWRITTEN, LEFT = "refused", "rewritten", "left as it is"
EARLIER_ENTRY = b"ci 2001.01.01 an earlier entry\n"


def entry_text(entry, user):
    """The text of the one history entry that a run appended to a log."""
    lines = entry.splitlines()
    match = re.match(re.escape(user.encode()) + rb" \d{4}\.\d\d\.\d\d ?(.*)$",
                     lines[0] if lines else b"")
    if not match:
        return None
    return b" ".join([match.group(1)] + [line.strip() for line in lines[1:]]).strip()


def logs_text(expected):
    def check(previous, after, entry, user):
        text = entry_text(entry, user)
        if text != expected:
            return "the history holds %r, not the note's text %r" % (text, expected)
        return None
    return check


def stays_utf8(previous, after, entry, user):
    if not is_utf8(after) or not is_utf8(entry):
        return "the source or its log is no longer UTF-8: %r" % (entry,)
    text = entry_text(entry, user) or b""
    if not (b"text" in text and b"note" in text):
        return "the history %r lacks a note" % (text,)
    return None


def history_lines(text, heads, user):
    """The comments (Delphi's reading) of text that hold one of heads as a
    line of its own, each with whether it is a note: one that waits for a
    run, or one that a run converted."""
    note = re.compile(rb"(\{|\(\*|//)\s*(CVS\*|" + re.escape(user.encode()) + rb" \d{4}\.)",
                      re.I)
    found = []
    for kind, start, stop in scan(text, False):
        comment = text[start:stop]
        if kind == "comment" and any(re.search(rb"^[ \t]*" + re.escape(head) + rb"[ \t]*\r?$",
                                               comment, re.M) for head in heads):
            found.append((comment, bool(note.match(comment))))
    return found


def history_outside_notes(previous, after, entries, user):
    """The history stays a comment of its own: not in a note, and not lost
    from the source once it was written there."""
    heads = [line for line in entries.splitlines() if line.startswith(user.encode() + b" ")]
    now = history_lines(after, heads, user)
    for comment, is_note in now:
        if is_note:
            return "the history went into the note %r" % (comment[:60],)
    if history_lines(previous, heads, user) and not now:
        return "the history the source held is gone"
    return None


class Case:
    def __init__(self, row, name, source, outcomes, user=USER, check=None, compiles=True,
                 runs=1):
        self.row = row
        self.name = name
        self.source = source
        self.outcomes = outcomes
        self.user = user
        self.check = check
        # fpc 3.2.2 knows no multi-line strings: Delphi 12's ''' reads as an
        # unterminated string ("String exceeds line"), and the backtick of
        # {$modeswitch multilinestrings} (Free Pascal 3.3.1) as an illegal
        # character. Such a unit is checked by its code tokens and string
        # literals alone, and compiled only by a compiler that takes it.
        self.compiles = compiles
        # A line gives one note: a second on it waits for the next run, and
        # only the run after that must change nothing.
        self.runs = runs


CASES = [
    Case("1 (a line note in a (* *) block, USER a(*b)", "row1.pas",
         b"{$mode objfpc}\nprogram row1;\n{CVSLOG}\n(* block\n// CVS* x\n*)\n"
         b"begin writeln(42); end.\n", {REFUSED, REWRITTEN}, user="a(*b"),
    # Free Pascal reads "(* a (* b *)" as one level still open, which the "*)"
    # in the marker closes, and ' x} ' is the constant; Delphi's reading has
    # two comments and an unterminated string after them.
    Case("1 (a marker that closes a nested (* *))", "row1b.pas",
         b"{$mode objfpc}\nprogram row1b;\nconst c = (* a (* b *)\n{CVSLOG '*)' x} ';\n"
         b"{CVS* n}\nbegin writeln(c); end.\n", {REFUSED, REWRITTEN}),
    # In Delphi mode fpc reads it as the tool does; Free Pascal's reading of
    # the code tokens must still hold.
    Case("1 (the same in Delphi mode)", "row1c.pas",
         b"{$mode delphi}\nprogram row1c;\n(* a (* b *)\n{CVSLOG '*)' x}\n{CVS* n}\n"
         b"begin writeln(42); end.\n", {REFUSED, REWRITTEN}),
    Case("2 (UTF-8 right after CVS*)", "row2.pas",
         b"{$mode objfpc}\nunit row2;\ninterface\n{CVSLOG}\n{CVS*\xc3\xa9 text}\n"
         b"implementation\n// CVS*\xc2\xa7note\nend.\n", {REWRITTEN}, check=stays_utf8),
    Case("3 (the marker in a note)", "row3.pas",
         b"unit row3;\ninterface\n{CVS* a} {CVS* b\n  CVSLOG\n}\nimplementation\nend.\n",
         {REWRITTEN}, check=history_outside_notes, runs=2),
    Case("4 (a line note after a byte order mark)", "row4.pas",
         BOM + b"// CVS* a\nunit row4;\ninterface\n{CVSLOG}\nimplementation\nend.\n",
         {REWRITTEN}, check=logs_text(b"a")),
    Case("6 (a code word after a comment)", "row6.pas",
         b"{$mode objfpc}\nprogram row6;\nvar CVSLOG: integer;\nbegin\n{ b\n"
         b"// CVS* a } {}CVSLOG := 1;\nwriteln(CVSLOG);\nend.\n",
         {REWRITTEN}, check=logs_text(b"a")),
    # A lone CR ends a // comment for the compiler: the marker is a { } one.
    Case("6 (lone CRs before a { } marker)", "row6cr.pas",
         b"{$mode objfpc}\nprogram row6cr;\n// CVS* x\r// d\r{CVSLOG}\n"
         b"begin writeln(42); end.\n", {REWRITTEN}, check=logs_text(b"x")),
    Case("7 (a NUL byte)", "row7.pas",
         b"unit row7;\ninterface\n// CVSLOG\n{CVS* a}\nimplementation\nend.\n\x00", {LEFT}),
    Case("8 (Delphi multi-line strings)", "row8.pas",
         b"unit row8;\n{$mode delphi}\ninterface\nconst\n  S = '''\n"
         b"  {CVS* inside a multi-line string}\n  // CVS* also inside\n  ''';\n"
         b"  T = '''\n  {CVSLOG}\n  ''';\nimplementation\n{CVSLOG}\n{CVS* real}\nend.\n",
         {REWRITTEN}, check=logs_text(b"real"), compiles=False),
    Case("8 (Free Pascal backtick strings)", "row8b.pas",
         b"unit row8b;\n{$mode objfpc}{$modeswitch multilinestrings}\ninterface\nconst\n"
         b"  S = `\n  {CVS* inside a backtick string}\n  // CVS* also inside\n  `;\n"
         b"  T = `\n  {CVSLOG}\n  `;\nimplementation\n{CVSLOG}\n{CVS* real}\nend.\n",
         {REWRITTEN}, check=logs_text(b"real"), compiles=False),
    Case("9 (a line note in a block that ends on its line)", "row9.pas",
         b"unit row9;\ninterface\n{CVSLOG}\n{ block\n  // CVS* a } const z = 3;\n"
         b"implementation\nend.\n\x1a{CVS* after the Ctrl-Z} junk",
         {REWRITTEN}, check=logs_text(b"a")),
    Case("USER a}{b (a brace note)", "user_brace.pas",
         b"unit user_brace;\ninterface\n{CVSLOG}\n{CVS* n}\nimplementation\nend.\n",
         {REFUSED}, user="a}{b"),
]


def compile_case(path, output):
    """The object files of one unit, or the compiler's complaint as text."""
    os.makedirs(output)
    result = subprocess.run(["fpc", "-g-", "-vw0", "-Cn", "-FU" + output, path],
                            cwd=output, capture_output=True)
    if result.returncode != 0:
        lines = result.stdout.decode("latin-1").splitlines()
        return " / ".join(line for line in lines if re.search(r"Error|Fatal", line))[:300]
    return {name: read(os.path.join(output, name))
            for name in sorted(os.listdir(output)) if name.endswith(".o")}


def outcome_of(case, top, histrel, environment):
    """Runs histrel on the case's unit; returns its outcome and the problems
    with it (an empty list for a sound one)."""
    directory = os.path.join(top, case.name[:-len(".pas")])
    os.makedirs(directory)
    path = os.path.join(directory, case.name)
    write(path, case.source)
    write(path + ".cvs", EARLIER_ENTRY)
    before = None
    if case.compiles:
        before = compile_case(path, os.path.join(top, "objects", case.name, "before"))
        if not isinstance(before, dict):
            fail("row %s: %s does not compile before the run: %s" % (case.row, case.name, before))
    else:
        # Should the compiler learn these strings, the unit is compiled too.
        taken = compile_case(path, os.path.join(top, "objects", case.name, "probe"))
        before = taken if isinstance(taken, dict) else None
    untouched = snapshot(directory)
    result = run_as(histrel, system_path(path), environment, case.user)
    output = result.stdout.decode("latin-1").splitlines()
    if result.returncode == 1:
        problems = []
        if not refusal_message(output, case.name):
            problems.append("status 1 without a refusal message: %r %r" % (
                output[-2:], result.stderr[-300:]))
        changed = differences(untouched, snapshot(directory))
        if changed:
            problems.append("refused, but it changed %s" % changed)
        return REFUSED, problems
    if result.returncode != 0 or result.stderr:
        return "failed", ["status %d: %r %r" % (result.returncode, output[-2:],
                                                 result.stderr[-300:])]
    if not differences(untouched, snapshot(directory)):
        return LEFT, []
    problems = []
    previous = case.source
    for run in range(1, case.runs + 1):
        if run > 1:
            result = run_as(histrel, system_path(path), environment, case.user)
            if result.returncode != 0 or result.stderr:
                problems.append("run %d ended with %d: %r" % (run, result.returncode,
                                                               result.stderr[-300:]))
                break
        after, log = read(path), read(path + ".cvs")
        problems += [("after run %d: " % run if case.runs > 1 else "") + problem
                     for problem in sound(case, path, top, before, previous, after, log, run)]
        previous = after
    first = snapshot(directory)
    again = run_as(histrel, system_path(path), environment, case.user)
    changed = differences(first, snapshot(directory))
    if again.returncode != 0 or changed:
        problems.append("run %d ended with %d and changed %s" % (case.runs + 1,
                                                                  again.returncode, changed))
    return REWRITTEN, problems


def sound(case, path, top, before, previous, after, log, run):
    """What is wrong with a rewrite: previous is the text before this run."""
    problems = []
    if run == 1 and (after == case.source or not log.startswith(EARLIER_ENTRY)
                     or log == EARLIER_ENTRY):
        problems.append("a partial rewrite: the source %s, the log %s" % (
            "unchanged" if after == case.source else "rewritten",
            "gained no entry" if log == EARLIER_ENTRY else "changed"))
    for difference in (compare_strings(case.name, case.source, after),
                       compare_code(case.name, case.source, after)):
        if difference:
            problems.append(difference)
    tail = case.source.find(b"\x1a")
    if tail >= 0 and not after.endswith(case.source[tail:]):
        problems.append("the Ctrl-Z tail was lost")
    if before is not None:
        objects = compile_case(path, os.path.join(top, "objects", case.name, "after%d" % run))
        if not isinstance(objects, dict):
            problems.append("it no longer compiles: " + objects)
        elif objects != before:
            problems.append("its object files differ: %s" % sorted(
                name for name in set(before) | set(objects)
                if before.get(name) != objects.get(name)))
    if case.check:
        problem = case.check(previous, after, log[len(EARLIER_ENTRY):], case.user)
        if problem:
            problems.append(problem)
    return problems


def hand_made_units(histrel, environment, work):
    """Runs every case; prints one line per unit that fails and returns how
    many did."""
    top = os.path.join(work, "cases")
    failed = 0
    for case in CASES:
        outcome, problems = outcome_of(case, top, histrel, environment)
        if outcome not in case.outcomes:
            problems.insert(0, "%s, but a correct run has it %s" % (
                outcome, " or ".join(sorted(case.outcomes))))
        if problems:
            failed += 1
            print("FAILED row %s, %s: %s" % (case.row, case.name, "; ".join(problems)),
                  file=sys.stderr)
    return failed


def compile_units(sources, output):
    objects = {}
    for unit in UNITS:
        directory = os.path.join(output, unit)
        os.makedirs(directory)
        result = subprocess.run(
            ["fpc", "-g-", "-vw0", "-FU" + directory, "-Fi" + sources,
             os.path.join(sources, unit + ".pp")], capture_output=True)
        if result.returncode != 0:
            fail("fpc %s: %s" % (unit, result.stdout.decode("latin-1")[-1500:]))
        for name in sorted(os.listdir(directory)):
            if name.endswith(".o"):
                with open(os.path.join(directory, name), "rb") as handle:
                    objects[unit + "/" + name] = handle.read()
    return objects


def main():
    histrel = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/histrel")
    check_scanner()
    tree, fcl = fcl_base()
    work = tempfile.mkdtemp(prefix="histrel-fpc-")
    try:
        histrel, environment = private_histrel(histrel, work)
        failed = hand_made_units(histrel, environment, work)

        src = os.path.join(work, "src")
        shutil.copytree(fcl, src, symlinks=True)
        planted = {unit: plant(os.path.join(src, unit + ".pp"), i) for i, unit in enumerate(UNITS)}
        before = compile_units(src, os.path.join(work, "before"))

        announced = run_histrel(histrel, system_path(src) + "\\*.pp", environment)
        if len(announced) < len(UNITS):
            fail("only %d files announced" % len(announced))
        for index, unit in enumerate(UNITS):
            path = os.path.join(src, unit + ".pp")
            with open(path, "rb") as handle:
                after = handle.read()
            if after.count(b"{CVSLOG\r\n" if index % 2 else b"{CVSLOG\n") != 1:
                fail(unit + ": no history under the marker line")
            # Nothing planted is lost: the line ends are kept, and so are the
            # directive, the lone CR and the Ctrl-Z tail.
            crlf = index % 2 == 1
            body = after.split(b"\x1a")[0]
            if crlf != (body.count(b"\r\n") == body.count(b"\n")):
                fail(unit + ": line ends changed")
            for kept in (b"} " + DIRECTIVE, LONE_CR):
                if kept not in after:
                    fail(unit + ": lost " + repr(kept))
            if index % 3 == 0 and not after.endswith(CTRL_Z_TAIL):
                fail(unit + ": lost the Ctrl-Z tail")
            if after.count(b"{%s " % USER.encode()) != 1 or after.count(
                    b"// %s " % USER.encode()) != len(NOTES):
                fail(unit + ": the notes were not all converted")
            if len(after) <= len(planted[unit]):
                fail(unit + ": nothing written")
            if not os.path.exists(path + ".cvs"):
                fail(unit + ": no log")
            # Outside comments nothing changed, however nested braces are read.
            difference = compare_code(unit + ".pp", planted[unit], after)
            if difference:
                fail(difference)
        after = compile_units(src, os.path.join(work, "after"))
        if sorted(before) != sorted(after):
            fail("the object files compiled are not the same ones")
        for name in sorted(before):
            if before[name] != after[name]:
                fail("object file " + name + " differs")

        first = snapshot(src)
        run_histrel(histrel, system_path(src) + "\\*.pp", environment)
        compare(first, snapshot(src), "a second run")

        whole = os.path.join(work, "tree")
        subprocess.run(["cp", "-a", tree, whole], check=True)
        untouched = snapshot(whole)
        announced = run_histrel(histrel, system_path(whole), environment)
        compare(untouched, snapshot(whole), "the unmarked tree")
        print("fpc real code: %d units, %d object files identical; %d files of the unmarked "
              "tree announced, all untouched" % (len(UNITS), len(before), len(announced)))
        if failed:
            fail("%d of the %d hand-made units (listed above) did not come out as a correct "
                 "run leaves them" % (failed, len(CASES)))
        print("fpc real code: %d hand-made units came out as a correct run leaves them"
              % len(CASES))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
