#!/usr/bin/env python3
"""Runs histrel on real Pascal code: Lazarus units as Debian ships them
(package lazarus-src), UTF-8 sources with {$mode} directives and include
files, compiled with fpc alone (packages fpc and fpc-source).

1. LazUtils, the package registration units and the IDE's command list are
   copied. Notes and one marker line per file are planted in 32 of their
   sources and include files: every style of marker line, the marker's text
   as a word in code and in strings before the marker, notes in strings and
   in other comments (which are no notes), notes that end in a section sign
   before their brace, UTF-8 notes (East Asian ones among them) and
   Windows-1252 notes long enough to wrap, a byte order mark, a source
   without a final line end, one ending in a lone CR, mixed line ends.
2. The units are compiled without debug information, histrel runs, and they
   are compiled again: every object file must be byte for byte the same.
   Every rewritten source must be what its planting predicts, line for line
   and line end for line end, with the notes converted and the history under
   its marker line, indented, wrapped at 80 columns (characters in UTF-8
   sources, bytes in the others) and escaped; the logs hold the notes as
   written; the code tokens, read by the scanner of real_code_support.py
   with nested comments and without, are the same as before.
3. A second run must change nothing, logs included.
4. A marker in a line comment makes a run refuse: status 1, a message that
   names the file and the line, that file and its log untouched, and no
   file after it rewritten.
5. A run over the whole unmarked Lazarus tree must leave every file as it
   was, its mtime included, and create none.

Usage: tests/lazarus_real_code.py [path of histrel]   (default: build/histrel)
With KEEP_WORK=1 in the environment, the work tree is kept for a look.
"""
import datetime
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from real_code_support import (BOM, USER, check_scanner, compare_code, differences,  # noqa: E402
                               fail, first_line_difference, in_code, is_utf8_source,
                               line_end, private_histrel, read, run_histrel, snapshot,
                               split_lines, system_path, width, write)

LAZARUS = ["/usr/lib/lazarus", "/usr/share/lazarus"]
# What is copied from the Lazarus tree; every source that is planted lies
# in it.
COPIED = ["components/lazutils", "packager/registration", "components/ideintf/idecommands.pas"]
LAZUTILS = "components/lazutils/"
# Main units that pull in every planted unit that compiles on Linux; the
# IDE's command list needs the LCL, which compiles with the widgetset of
# no GUI at all.
COMPILED = ["components/lazutils/lazutils.pas", "packager/registration/fcllaz.pas",
            "components/ideintf/idecommands.pas"]
# The history's entry lines: "ci yyyy.mm.dd " before the first word, and as
# many blanks before the continuation lines.
ENTRY_PREFIX = len(USER) + 12
MAX_COLUMNS = 80

GERMAN = ("Dateinamen mit Umlauten (ä, ö, ü, ß) werden jetzt überall gleich behandelt; "
          "früher schlug die Prüfung fehl, wenn Groß- und Kleinschreibung nicht "
          "übereinstimmten").encode()
RUSSIAN = ("Исправлена обработка путей с пробелами и длинными именами файлов в "
           "каталогах пользователя, теперь всё работает как прежде").encode()
EAST_ASIAN = ("日本語の ファイル名を 正しく 扱う ように しました。 中文的 文件名 也 可以 使用， "
              "한국어 파일 이름도 지원합니다 そして 漢字は 二桁 として 数えます").encode()
WINDOWS_1252 = (b"Gr\xf6\xdfenangaben in \xbc und \xbd Zoll, Preise in \x80 und \xa3: die "
                b"\xdcbersetzung der Ma\xdfeinheiten erfolgt jetzt f\xfcr alle L\xe4nder "
                b"einheitlich, \xabohne Ausnahme\xbb")
LONG_ASCII = (b"The tree is balanced after every removal as well, so that lookups no longer "
              b"degrade to a linear search when many nodes are deleted in ascending order")


class Note:
    def __init__(self, planted, text):
        self.planted = planted      # the note as it stands in the source
        self.text = text            # its text, as the history takes it


class Source:
    """One planted source: its lines (each with its own line end), its notes
    and its marker line."""

    def __init__(self, root, relative):
        self.relative = relative
        self.path = os.path.join(root, relative)
        self.lines = split_lines(read(self.path))
        self.notes = []
        self.marker = None          # the marker line, without its line end
        self.closed = False         # whether the marker's comment closes on its line
        self.compiled = True
        # When set, gives each line's end from its index and its text.
        self.line_ends = None

    def data(self):
        return b"".join(self.lines)

    def offset(self, index):
        return sum(len(line) for line in self.lines[:index])

    def find(self, pattern, after=0):
        """The first line from after on that matches pattern and starts in code."""
        data = self.data()
        for index in range(after, len(self.lines)):
            if re.match(pattern, self.lines[index], re.I) and in_code(data, self.offset(index)):
                return index
        fail("%s: no line in code matches %r" % (self.relative, pattern))
        return None

    def insert(self, index, *texts):
        """Inserts lines before line index, in code, with the line end of the
        line before them (of the first line at the top)."""
        if not in_code(self.data(), self.offset(index)):
            fail("%s: line %d does not start in code" % (self.relative, index + 1))
        end = line_end(self.lines[index - 1] if index > 0 else self.lines[0]) or b"\n"
        self.lines[index:index] = [text + end for text in texts]

    def insert_in_comment(self, index, *texts):
        """Inserts lines before line index, which lies inside a comment."""
        if in_code(self.data(), self.offset(index)):
            fail("%s: line %d is not inside a comment" % (self.relative, index + 1))
        end = line_end(self.lines[index - 1])
        self.lines[index:index] = [text + end for text in texts]

    def append(self, index, text):
        """Appends text to line index, before its line end."""
        line = self.lines[index]
        end = line_end(line)
        self.lines[index] = line[:len(line) - len(end)] + text + end

    def brace_note(self, text):
        """A note in braces; like the comment it is, it ends at the first
        closing brace, even where the compiler nests braces."""
        planted = b"{CVS* " + text + b"}"
        self.notes.append(Note(planted, text.split(b"}")[0]))
        return planted

    def line_note(self, text, indent=b""):
        planted = indent + b"// CVS* " + text
        self.notes.append(Note(planted, text))
        return planted

    def set_marker(self, line, closed):
        self.marker, self.closed = line, closed
        return line

    def save(self):
        data = self.data()
        for note in self.notes:
            if data.count(note.planted) != 1:
                fail("%s: the note %r is not planted once" % (self.relative, note.planted))
        if self.marker is not None and sum(
                1 for line in self.lines if line.rstrip(b"\r\n") == self.marker) != 1:
            fail("%s: the marker line %r is not planted once" % (self.relative, self.marker))
        write(self.path, data)
        return data


def interface(source):
    return source.find(rb"\s*interface\b")


def implementation(source):
    return source.find(rb"\s*implementation\b")


def unit_line(source):
    return source.find(rb"\s*(unit|program)\s+[\w.]+\s*;")


def text_of(name, what):
    return b"%s: %s" % (name.encode(), what)


def plant_all(root):
    """Plants notes and markers; returns the planted sources."""
    sources = []

    def source(relative, compiled=True):
        planted = Source(root, relative)
        planted.compiled = compiled
        sources.append(planted)
        return planted

    def lazutils(name, compiled=True):
        return source(LAZUTILS + name, compiled)

    def decoys(planted, index, tag):
        """Notes that are none: in strings, in other comments and in a
        directive."""
        planted.insert(index,
                       b"const",
                       b"  SNoteInString%s = '{CVS* stays in the string %s}';" % (tag, tag),
                       b"  SLineNoteInString%s = '// CVS* is no line note %s';" % (tag, tag),
                       b"(* {CVS* in a paren-star comment %s} *)" % tag,
                       b"// a line comment with {CVS* in it %s}" % tag,
                       b"(*$NOTE {CVS* in a directive %s} *)" % tag)

    # {CVSLOG} on a line of its own above the unit line.
    s = lazutils("avglvltree.pas")
    s.insert(unit_line(s), s.set_marker(b"{CVSLOG}", True))
    s.insert(interface(s) + 1, s.brace_note(text_of("avglvltree", LONG_ASCII)))
    decoys(s, implementation(s), b"A")
    s.insert(implementation(s), s.line_note(b"AVL tree: the root is kept on deletion", b"  "))

    # { CVSLOG } under the unit line; a UTF-8 note and one on a code line.
    s = lazutils("lazfileutils.pas")
    s.insert(unit_line(s) + 1, s.set_marker(b"{ CVSLOG }", True))
    s.append(interface(s), b" " + s.brace_note(b"lazfileutils: a note on the interface line"))
    s.insert(implementation(s), s.line_note(b"lazfileutils: " + GERMAN))

    # Notes alone in an include file: the source is rewritten, the entry goes
    # to the log only.
    s = lazutils("lazfileutils.inc")
    s.insert(1, s.brace_note(b"lazfileutils.inc: a note that goes on\n  over a second line"),
             s.line_note(b"lazfileutils.inc: " + RUSSIAN))

    # {CVSLOG History} at the top of an include file.
    s = lazutils("unixlazfileutils.inc")
    s.insert(1, s.set_marker(b"{CVSLOG History}", True))
    s.insert(3, s.brace_note(b"unixlazfileutils.inc: symbolic links resolved once"))

    # (*CVSLOG*) in an include file that only Windows compiles.
    s = lazutils("winlazfileutils.inc", compiled=False)
    s.insert(1, s.set_marker(b"(*CVSLOG*)", True))
    s.insert(2, s.line_note(b"winlazfileutils.inc: drive letters in UNC paths"))
    decoys(s, 2, b"W")

    # (* CVSLOG *) in a UTF-8 unit; East Asian notes and a section sign.
    s = lazutils("lazutf8.pas")
    s.insert(unit_line(s) + 1, s.set_marker(b"(* CVSLOG *)", True))
    at = interface(s) + 1
    s.insert(at, s.line_note(b"lazutf8: " + EAST_ASIAN),
             s.brace_note("lazutf8: Regel nach §".encode()),
             b"{ a plain comment: the note above ended at its first closing brace }")

    # Windows-1252: the source is no UTF-8 any more and wraps by bytes; the
    # marker with code before it and a directive after it.
    s = lazutils("lazstringutils.pas")
    at = unit_line(s)
    marker = s.lines[at].rstrip(b"\r\n") + b" {CVSLOG} {$hints off}"
    s.lines[at] = marker + line_end(s.lines[at])
    s.set_marker(marker, True)
    at = interface(s) + 1
    s.insert(at, s.line_note(b"lazstringutils: " + WINDOWS_1252),
             s.brace_note(b"lazstringutils: siehe Abschnitt \xa7"),
             b"{ a plain comment after the note with the section sign }")

    # (* CVSLOG *) after code, a comment after its closer; UTF-8 notes.
    s = lazutils("laz2_xmlwrite.pas")
    at = unit_line(s)
    marker = s.lines[at].rstrip(b"\r\n") + b" (* CVSLOG *) { the closer keeps this }"
    s.lines[at] = marker + line_end(s.lines[at])
    s.set_marker(marker, True)
    s.insert(implementation(s),
             s.brace_note("laz2_xmlwrite: Zeichen wie „“ und « » escaped".encode()))

    # {CVSLOG: the comment goes on below.
    s = lazutils("lazloggerbase.pas")
    s.insert(unit_line(s), s.set_marker(b"{CVSLOG", False), b"}")
    s.insert(interface(s) + 1, s.brace_note(b"lazloggerbase: " + LONG_ASCII))
    s.insert(implementation(s), s.line_note(b"lazloggerbase: DebugLn goes to stderr"))

    # {CVSLOG history of changes, with a line of the comment under it.
    s = lazutils("textstrings.pas")
    s.insert(unit_line(s), s.set_marker(b"{CVSLOG history of changes", False),
             b"  the newest entry comes first", b"}")
    s.insert(implementation(s), s.brace_note(b"textstrings: {braces} in a note"))

    # The marker's text on a line inside the licence comment, in another case.
    s = lazutils("dynqueue.pas")
    s.insert_in_comment(9, s.set_marker(b"  CvsLog", False))
    s.insert(interface(s) + 1, s.line_note(b"dynqueue: " + GERMAN))

    # The marker's text on a line inside a (* ... *) comment.
    s = lazutils("maps.pp")
    s.insert(unit_line(s), b"(*", b"  Maps: what changed and when",
             s.set_marker(b"  cvslog", False), b"*)")
    s.insert(implementation(s), s.brace_note(b"maps: iterators survive a removal"))

    # The marker's text as a word in code, in a string and in a note before
    # the marker; none of them takes the history.
    s = lazutils("fileutil.pas")
    s.insert(implementation(s), b"const", b"  ecInsertCVSLog = 80;",
             b"  SInsertCVSLogCaption = 'Insert CVSLOG';",
             s.brace_note(b"fileutil: the CVSLOG marker is in the implementation"))
    s.insert(implementation(s) + 1, s.set_marker(b"{ CVSLOG }", True))
    s.insert(implementation(s) + 2, s.line_note(b"fileutil: CopyDirTree keeps the dates"))

    s = lazutils("fileutil.inc")
    s.insert(1, s.line_note(b"fileutil.inc: " + LONG_ASCII))
    decoys(s, 1, b"F")

    # Notes without a marker: the entry goes to the log only.
    s = lazutils("integerlist.pas")
    s.insert(implementation(s), s.line_note(b"integerlist: Sort is stable"))
    s = lazutils("lazclasses.pas")
    s.insert(interface(s) + 1,
             s.brace_note(b"lazclasses: a note\n   over three lines\n   of the source"))

    # No line end after the last line.
    s = lazutils("lazsysutils.pas")
    s.insert(unit_line(s), s.set_marker(b"{CVSLOG}", True))
    s.insert(implementation(s), s.line_note(b"lazsysutils: NowUTC without the RTL's offset"))
    s.lines[-1] = s.lines[-1].rstrip(b"\r\n")
    while s.lines[-1] == b"":
        s.lines.pop()
        s.lines[-1] = s.lines[-1].rstrip(b"\r\n")

    # A lone CR at the end of the source.
    s = lazutils("lazversion.pas")
    s.insert(unit_line(s), s.set_marker(b"{ CVSLOG }", True))
    s.insert(implementation(s), s.brace_note(b"lazversion: 2.2.6"))
    while s.lines[-1].strip() == b"":
        s.lines.pop()
    s.lines[-1] = s.lines[-1].rstrip(b"\r\n") + b"\r"

    # Mixed line ends: every third line ends in CR LF, the marker line too.
    s = lazutils("lazutilities.pas")
    s.insert(unit_line(s), s.set_marker(b"{CVSLOG}", True))
    s.insert(implementation(s), s.line_note(b"lazutilities: " + LONG_ASCII))
    s.line_ends = lambda index, line: b"\r\n" if index % 3 == 0 or line == b"{CVSLOG}" else b"\n"

    # Mixed line ends: the first line in CR LF, all others (the marker
    # line's among them) in LF.
    s = lazutils("objectlists.pas")
    s.insert(unit_line(s), s.set_marker(b"(*CVSLOG*)", True))
    s.insert(implementation(s), s.line_note(b"objectlists: " + LONG_ASCII))
    s.line_ends = lambda index, line: b"\r\n" if index == 0 else b"\n"

    # CR LF throughout; braces in the note.
    s = lazutils("stringhashlist.pas")
    s.insert(unit_line(s), s.set_marker(b"{CVSLOG History}", True))
    s.insert(implementation(s), s.line_note(b"stringhashlist: {$H+} is {on} here"))
    s.line_ends = lambda index, line: b"\r\n"

    # A UTF-8 byte order mark.
    s = lazutils("lazunicode.pas")
    s.lines[0] = BOM + s.lines[0]
    s.insert(unit_line(s), s.set_marker(b"{CVSLOG}", True))
    s.insert(interface(s) + 1, s.line_note(b"lazunicode: " + EAST_ASIAN),
             s.line_note(b"lazunicode: " + RUSSIAN))

    # Comment delimiters in notes.
    s = lazutils("masks.pas")
    s.insert(unit_line(s), s.set_marker(b"{ CVSLOG }", True))
    s.insert(implementation(s), s.line_note(b"masks: (* and *) and { and } are escaped"),
             s.brace_note(b"masks: a brace note with (*stars*) in it"))

    # Notes in strings and other comments beside a marker in a brace block.
    s = lazutils("laz2_xmlutils.pas")
    s.insert_in_comment(12, s.set_marker(b"  CVSLOG", False))
    decoys(s, implementation(s), b"X")
    s.insert(implementation(s), s.brace_note(b"laz2_xmlutils: IsXmlName for names with dots"))

    # Windows-1252 with (*CVSLOG*) and a section sign.
    s = lazutils("lazlogger.pas")
    s.insert(unit_line(s), s.set_marker(b"(*CVSLOG*)", True))
    s.insert(implementation(s), s.brace_note(b"lazlogger: Absatz \xa7"),
             b"{ the note above ended at the brace after the section sign }",
             s.line_note(b"lazlogger: " + WINDOWS_1252))

    # The marker's text in an open (* ... *) comment.
    s = lazutils("lcsvutils.pas")
    s.insert(unit_line(s), b"(* lcsvutils", s.set_marker(b"   CVSLOG", False), b"   --", b"*)")
    s.insert(implementation(s), s.line_note(b"lcsvutils: quoted fields may hold line ends"))

    s = lazutils("amigalazfileutils.inc", compiled=False)
    s.insert(1, s.set_marker(b"{CVSLOG", False), b"}")
    s.insert(3, s.line_note(b"amigalazfileutils.inc: volumes as roots"))

    s = lazutils("fpmake.pp", compiled=False)
    s.insert(unit_line(s), s.set_marker(b"{ CVSLOG }", True))
    s.insert(unit_line(s) + 1, s.line_note(b"fpmake: " + LONG_ASCII))

    s = lazutils("laz_avl_tree.pp")
    s.insert(unit_line(s), s.set_marker(b"{CVSLOG}", True))
    s.insert(interface(s) + 1, s.brace_note(b"laz_avl_tree: " + LONG_ASCII),
             s.line_note(b"laz_avl_tree: FindNearest for empty trees"))

    s = source("packager/registration/lazaruspackageintf.pas")
    s.insert_in_comment(s.find(rb"\s*unit\s") - 1, s.set_marker(b"    CVSLOG", False))
    s.insert(implementation(s), s.brace_note(b"lazaruspackageintf: " + GERMAN))

    s = source("packager/registration/fcllaz.pas")
    s.insert(unit_line(s) + 1, s.set_marker(b"(* CVSLOG *)", True))
    s.insert(implementation(s), s.line_note(b"fcllaz: registers fcl units"))

    # The IDE's own command for the marker's text comes before the marker.
    s = source("components/ideintf/idecommands.pas")
    at = s.find(rb"\s*ecInsertCVSLog\s*=")
    s.insert(at + 1, s.set_marker(b"  { CVSLOG }", True))
    s.insert(implementation(s), s.line_note(b"idecommands: " + EAST_ASIAN),
             s.brace_note(b"idecommands: ecInsertCVSLog stays a command"))

    for planted in sources:
        line_ends = planted.line_ends
        if line_ends:
            planted.lines = [line.rstrip(b"\r\n") + line_ends(i, line.rstrip(b"\r\n"))
                             if line_end(line) else line for i, line in enumerate(planted.lines)]
    return sources


# --- What a run must make of a planted source ------------------------------

def escape(text):
    """A note's text as the history holds it: no comment delimiters."""
    return (text.replace(b"(*", b"( *").replace(b"*)", b"* )")
            .replace(b"{", b"(").replace(b"}", b")"))


def marker_parts(marker):
    """The marker line split at the closer of its comment: the head without
    the blanks before the closer, and the closer with what follows it."""
    column = marker.lower().find(b"cvslog")
    opener = max(marker.rfind(b"{", 0, column), marker.rfind(b"(*", 0, column))
    closer = marker.find(b"*)" if marker[opener:opener + 2] == b"(*" else b"}", column)
    return marker[:closer].rstrip(b" \t"), marker[closer:], column + 1


def expected_lines(source, planted, date):
    """The lines of the rewritten source but the history, and where the
    history goes (None without marker) with its line end and indentation."""
    text = planted
    for note in source.notes:
        converted = note.planted.replace(b"CVS*", b"%s %s" % (USER.encode(), date), 1)
        text = text.replace(note.planted, converted, 1)
    lines = split_lines(text)
    if source.marker is None:
        return lines, None, None, None
    index = next(i for i, line in enumerate(lines) if line.rstrip(b"\r\n") == source.marker)
    end = line_end(lines[index])
    if source.closed:
        head, closer, column = marker_parts(source.marker)
        lines[index:index + 1] = [head + end, closer + end]
    else:
        column = source.marker.lower().find(b"cvslog") + 1
    return lines, index + 1, end, column + 1


def check_entry(where, entries, notes, date, utf8, numbers):
    """Checks the lines of one history entry, each given as the entry writes
    it: "ci yyyy.mm.dd " before the first word, blanks under it on the
    continuation lines. Each note begins a line; a line holds at most 80
    columns unless it holds one word, and breaks only where the next word
    would not fit. Returns the problems found."""
    lead = b"%s %s " % (USER.encode(), date)
    words = [note.split() for note in notes]
    which, word = 0, 0
    for index, text in enumerate(entries):
        line = "%s line %d" % (where, numbers[index])
        start = lead if index == 0 else b" " * ENTRY_PREFIX
        if not text.startswith(start) or text[ENTRY_PREFIX:ENTRY_PREFIX + 1] in (b"", b" "):
            return ["%s: expected %r and a word, found %r" % (line, start, text)]
        if utf8:
            try:
                text.decode("utf-8")
            except UnicodeDecodeError as error:
                return ["%s: a UTF-8 sequence is split (%s): %r" % (line, error, text)]
        found = text[ENTRY_PREFIX:].split()
        if which >= len(words):
            return ["%s: holds %r after the last note" % (line, text)]
        wanted = words[which][word:word + len(found)]
        if found != wanted:
            return ["%s: holds the words %r where the notes give %r" % (line, found, wanted)]
        word += len(found)
        columns = width(text, utf8)
        if columns > MAX_COLUMNS and len(found) > 1:
            return ["%s: %d columns (at most %d): %r" % (line, columns, MAX_COLUMNS, text)]
        if word < len(words[which]):
            following = words[which][word]
            if columns + 1 + width(following, utf8) <= MAX_COLUMNS:
                return ["%s: %d columns, and the next word %r would have fitted: %r" % (
                    line, columns, following, text)]
        else:
            which, word = which + 1, 0
    if which < len(words):
        return ["%s: the entry ends before the note %r" % (where, notes[which])]
    return []


def check_source(source, planted, after, log, date):
    """Everything a run must have made of one planted source and its log;
    returns the problems found."""
    name = source.relative
    utf8 = is_utf8_source(planted)
    expected, at, end, indent = expected_lines(source, planted, date)
    actual = split_lines(after)
    problems = []
    if at is None:
        difference = first_line_difference(expected, actual, name)
        if difference:
            problems.append(difference)
    else:
        added = len(actual) - len(expected)
        if added < 1:
            problems.append("%s: no history under the marker line %d; first difference: %s" % (
                name, at, first_line_difference(expected, actual, name)))
            added = 0
        difference = first_line_difference(expected[:at], actual[:at], name) or \
            first_line_difference(expected[at:], actual[at + added:], name, at, at + added)
        if difference:
            problems.append(difference)
        history = actual[at:at + added]
        entries = []
        for number, line in enumerate(history, at + 1):
            if line_end(line) != end:
                problems.append("%s line %d: a history line ends in %r, the marker line in %r" % (
                    name, number, line_end(line), end))
            body = line[:len(line) - len(line_end(line))]
            if body[:indent] != b" " * indent:
                problems.append("%s line %d: not indented by %d blanks: %r" % (
                    name, number, indent, body))
            entries.append(body[indent:])
        if history:
            problems += check_entry(name, entries, [escape(n.text) for n in source.notes], date,
                                    utf8, range(at + 1, at + 1 + added))
    if utf8:
        try:
            after.decode("utf-8")
        except UnicodeDecodeError as error:
            problems.append("%s: no longer valid UTF-8: %s" % (name, error))
    if log is None:
        problems.append(name + ": no log")
    else:
        lines = [line.rstrip(b"\r\n") for line in split_lines(log)]
        # An entry that went to the log alone is followed by an empty line.
        while lines and lines[-1] == b"":
            lines.pop()
        indented = [i + 1 for i, line in enumerate(lines) if line.startswith(b" ")]
        if indented:
            problems.append("%s.cvs line %d: indented: %r" % (name, indented[0],
                                                              lines[indented[0] - 1]))
        entries = lines[:1] + [b" " * ENTRY_PREFIX + line for line in lines[1:]]
        escaped = any(b"(*" in n.text or b"*)" in n.text for n in source.notes)
        found = check_entry(name + ".cvs", entries, [n.text for n in source.notes], date, utf8,
                            range(1, len(lines) + 1))
        # The log holds the notes as written, so with "(*" in them its lines
        # may break where those of the history (which hold "( *") do not.
        if escaped:
            found = [p for p in found if "columns" not in p]
        problems += found
    problems += filter(None, [compare_code(name, planted, after)])
    return problems


# --- Compiling -------------------------------------------------------------

def compile_units(root, lazarus, output):
    """Compiles the main units into output; returns every object file, or
    the compiler's message when one does not compile."""
    os.makedirs(output)
    copied = lambda relative: os.path.join(root, relative)
    original = lambda relative: os.path.join(lazarus, relative)
    paths = ["-Fu" + copied("components/lazutils"), "-Fi" + copied("components/lazutils"),
             "-Fu" + copied("packager/registration"), "-Fu" + copied("components/ideintf"),
             "-Fu" + original("components/ideintf"), "-Fu" + original("components/buildintf"),
             "-Fu" + original("lcl"), "-Fu" + original("lcl/widgetset"),
             "-Fu" + original("lcl/forms"), "-Fu" + original("lcl/nonwin32"),
             "-Fi" + original("lcl/include"), "-Fu" + original("lcl/interfaces/nogui")]
    for unit in COMPILED:
        result = subprocess.run(["fpc", "-g-", "-vw0", "-FU" + output] + paths + [copied(unit)],
                                capture_output=True)
        if result.returncode != 0:
            return "fpc %s: %s" % (unit, result.stdout.decode("latin-1")[-1500:])
    return {name: read(os.path.join(output, name))
            for name in sorted(os.listdir(output)) if name.endswith(".o")}


def lazarus_tree():
    for top in LAZARUS:
        if os.path.isdir(top):
            for version in sorted(os.listdir(top), reverse=True):
                path = os.path.join(top, version)
                if os.path.isdir(os.path.join(path, LAZUTILS)):
                    return path
    fail("no lazarus-src below " + " or ".join(LAZARUS))
    return None


def refusal(histrel, environment, lazarus, work):
    """A marker in a line comment: the run stops there."""
    top = os.path.join(work, "refuse")
    os.makedirs(top)
    names = ["integerlist.pas", "lazdbglog.pas", "lazfglhash.pas", "lazutf8sysutils.pas"]
    for name in names:
        shutil.copy(os.path.join(lazarus, LAZUTILS, name), top)
        write(os.path.join(top, name + ".cvs"), b"ci 2001.01.01 an earlier entry\n")
    # The walk takes a directory in the order the file system lists it; the
    # first source refuses, so that the others come after it.
    order = [name for name in os.listdir(top) if name in names]
    refused = Source(top, order[0])
    at = refused.find(rb"\s*uses\b")
    refused.insert(at, b"// CVSLOG")
    marker_line = at + 1
    refused.insert(implementation(refused), refused.line_note(b"refused: a note"))
    refused.save()
    for name in order[1:]:
        later = Source(top, name)
        later.insert(unit_line(later), later.set_marker(b"{CVSLOG}", True))
        later.insert(implementation(later), later.brace_note(b"a note after the refusal"))
        later.save()
    # The mtimes must tell a rewrite from the planting.
    time.sleep(0.05)
    before = snapshot(top)
    result = subprocess.run([histrel, "/USER=" + USER, "/FILE=" + system_path(top)],
                            env=environment, capture_output=True)
    output = result.stdout.decode("latin-1").splitlines()
    problems = []
    if result.returncode != 1:
        problems.append("a marker in a line comment: status %d, not 1 (output %r)" % (
            result.returncode, output[-3:]))
    message = output[-1] if output else ""
    if order[0] not in message or not re.search(r"(?<!\d)%d(?!\d)" % marker_line, message):
        problems.append("a marker in a line comment: the last line %r names not both the file "
                        "%s and its line %d" % (message, order[0], marker_line))
    changed = differences(before, snapshot(top))
    if changed:
        problems.append("a marker in a line comment: the run wrote %s (the walk's order: %s)" % (
            changed, order))
    return problems


def main():
    histrel = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/histrel")
    check_scanner()
    lazarus = lazarus_tree()
    work = tempfile.mkdtemp(prefix="histrel-lazarus-")
    problems = []
    try:
        histrel, environment = private_histrel(histrel, work)
        root = os.path.join(work, "lazarus")
        for relative in COPIED:
            target = os.path.join(root, relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if os.path.isdir(os.path.join(lazarus, relative)):
                shutil.copytree(os.path.join(lazarus, relative), target, symlinks=True)
            else:
                shutil.copy(os.path.join(lazarus, relative), target)
        sources = plant_all(root)
        planted = {source.relative: source.save() for source in sources}
        before = compile_units(root, lazarus, os.path.join(work, "before"))
        if isinstance(before, str):
            fail("the planted units do not compile: " + before)
        # The mtimes must tell a rewrite from the planting.
        time.sleep(0.05)
        untouched = snapshot(root)

        date = datetime.date.today().strftime("%Y.%m.%d").encode()
        announced = run_histrel(histrel, system_path(root), environment)
        if datetime.date.today().strftime("%Y.%m.%d").encode() != date:
            fail("the date changed during the run; run the test again")
        for source in sources:
            log = source.path + ".cvs"
            problems += check_source(source, planted[source.relative], read(source.path),
                                     read(log) if os.path.exists(log) else None, date)
        expected = {source.relative for source in sources} | {
            source.relative + ".cvs" for source in sources}
        first = snapshot(root)
        unexpected = [change for change in differences(untouched, first)
                      if change.split(" (")[0] not in expected]
        if unexpected:
            problems.append("the run changed files without notes: %s" % unexpected[:5])

        after = compile_units(root, lazarus, os.path.join(work, "after"))
        if isinstance(after, str):
            problems.append("after the run: " + after)
        elif sorted(before) != sorted(after):
            problems.append("the object files compiled are not the same ones: %s" % sorted(
                set(before) ^ set(after)))
        else:
            changed = [name for name in sorted(before) if before[name] != after[name]]
            if changed:
                problems.append("%d object files differ: %s" % (len(changed), changed))

        run_histrel(histrel, system_path(root), environment, "the second run")
        changed = differences(first, snapshot(root))
        if changed:
            problems.append("a second run changed %d files: %s" % (len(changed), changed[:8]))

        problems += refusal(histrel, environment, lazarus, work)

        whole = os.path.join(work, "tree")
        subprocess.run(["cp", "-a", lazarus, whole], check=True)
        untouched = snapshot(whole)
        tree = run_histrel(histrel, system_path(whole), environment, "the run over the tree")
        changed = differences(untouched, snapshot(whole))
        if changed:
            problems.append("the run over the unmarked Lazarus tree changed %d files: %s" % (
                len(changed), changed[:8]))
    finally:
        if os.environ.get("KEEP_WORK"):
            print("work tree kept in " + work, file=sys.stderr)
        else:
            shutil.rmtree(work, ignore_errors=True)
    for problem in problems:
        print("FAILED: " + problem, file=sys.stderr)
    if problems:
        fail("lazarus real code: %d problems" % len(problems))
    print("lazarus real code: %d sources planted (%d not compiled on Linux, their code "
          "compared), %d files announced, %d object files identical; %d files of the "
          "unmarked tree announced, all untouched" % (
              len(sources), sum(1 for source in sources if not source.compiled),
              len(announced), len(before), len(tree)))


if __name__ == "__main__":
    main()
