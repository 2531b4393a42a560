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

Usage: tests/fpc_real_code.py [path of histrel]   (default: build/histrel)
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from real_code_support import (USER, check_scanner, compare, compare_code, fail,  # noqa: E402
                               private_histrel, run_histrel, snapshot, system_path)

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
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
