"""What the real-code tests share: running histrel on a private copy,
snapshots of trees, and a small Pascal scanner of their own that reads code
as Free Pascal does (comments, directives, strings, identifiers, numbers,
symbols), so that a run can be proven to leave the code as it was.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import unicodedata

BOM = b"\xef\xbb\xbf"
USER = "ci"


def fail(message):
    print("FAILED: " + message, file=sys.stderr)
    sys.exit(1)


def system_path(native):
    return native.replace("/", "\\")


def private_histrel(histrel, work):
    """A copy of the program in work/bin, so that no INI file beside it counts,
    and an environment with a registry hive of its own."""
    os.makedirs(os.path.join(work, "bin"))
    copy = os.path.join(work, "bin/histrel")
    shutil.copy(histrel, copy)
    return copy, dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))


def run_as(histrel, file_switch, environment, user=USER):
    """One run of histrel as user, whatever its status."""
    # --quiet: no summary line, so that standard error holds failures alone.
    return subprocess.run([histrel, "--quiet", "/USER=" + user, "/FILE=" + file_switch],
                          env=environment, capture_output=True)


# The messages of a source refused for its text, on standard output.
REFUSALS = [
    re.compile(r"The marker at .+:\d+ cannot take the history: only a \{ \} or \(\* \*\) "
               r"comment can hold it!$"),
    re.compile(r"The rewrite of .+ would change its code, so the file was left as it is!$"),
]


def refusal_message(lines, name):
    """The line of lines that refuses the source called name, or None."""
    for line in lines:
        if name in line and any(pattern.match(line) for pattern in REFUSALS):
            return line
    return None


def run_histrel(histrel, file_switch, environment, what="histrel"):
    result = run_as(histrel, file_switch, environment)
    if result.returncode != 0 or result.stderr:
        fail("%s ended with %d: %r %r" % (what, result.returncode, result.stdout[-500:],
                                          result.stderr[-500:]))
    return result.stdout.decode("latin-1").splitlines()


def read(path):
    with open(path, "rb") as handle:
        return handle.read()


def write(path, data):
    with open(path, "wb") as handle:
        handle.write(data)


def snapshot(top):
    """Every file below top: its bytes' digest, size and mtime in nanoseconds."""
    files = {}
    for directory, _, names in os.walk(top):
        for name in names:
            path = os.path.join(directory, name)
            if os.path.islink(path):
                continue
            info = os.stat(path)
            digest = hashlib.sha256(read(path)).hexdigest()
            files[os.path.relpath(path, top)] = (digest, info.st_size, info.st_mtime_ns)
    return files


def differences(before, after):
    """Names that changed between two snapshots, each with what changed."""
    found = []
    for name in sorted(set(before) | set(after)):
        old, new = before.get(name), after.get(name)
        if old == new:
            continue
        if old is None:
            found.append(name + " (created)")
        elif new is None:
            found.append(name + " (removed)")
        elif old[0] != new[0]:
            found.append("%s (bytes: %d -> %d)" % (name, old[1], new[1]))
        else:
            found.append(name + " (mtime only)")
    return found


def compare(before, after, what):
    changed = differences(before, after)
    if changed:
        fail("%s: %d files differ, first %s" % (what, len(changed), changed[:5]))


def split_lines(data):
    """The lines of data, each with its own line end (LF or CR LF); a CR that
    no LF follows is a byte of its line. The last line may have no end."""
    lines = data.split(b"\n")
    last = lines.pop()
    lines = [line + b"\n" for line in lines]
    if last:
        lines.append(last)
    return lines


def line_end(line):
    if line.endswith(b"\r\n"):
        return b"\r\n"
    return b"\n" if line.endswith(b"\n") else b""


def first_line_difference(expected, actual, name, expected_offset=0, actual_offset=0):
    """None when the two lists of lines are equal, else a message naming the
    first line (1-based, as in the rewritten file) and both lines' bytes."""
    for index in range(max(len(expected), len(actual))):
        want = expected[index] if index < len(expected) else None
        got = actual[index] if index < len(actual) else None
        if want != got:
            return "%s line %d: expected %r, found %r" % (
                name, actual_offset + index + 1, want, got)
    return None


# --- Text and width --------------------------------------------------------

def is_utf8_source(data):
    """Whether histrel must wrap the source by characters: a UTF-8 byte order
    mark, or valid UTF-8 that holds a byte above 127."""
    if data.startswith(BOM):
        return True
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return any(byte > 127 for byte in data)


def width(text, utf8):
    """Columns that text takes: bytes in a Windows-1252 source, characters
    (East Asian wide ones two) in a UTF-8 one."""
    if not utf8:
        return len(text)
    return sum(2 if unicodedata.east_asian_width(c) in ("W", "F") else 1
               for c in text.decode("utf-8"))


# --- A Pascal scanner of the test's own ------------------------------------
# It follows Free Pascal's scanner: "{...}" and "(*...*)" comments (nested
# or not: both are read; nested, each kind counts only its own openers, so a
# "{" inside "(* *)" is text), "//" up to the line end (an LF or a CR),
# "{$...}" and "(*$...*)" directives as tokens, strings 'a''b' up to their
# quote or the line end, #nn and #$hh characters, identifiers (&begin too),
# numbers ($hex, %bin, &oct, decimals with fraction and exponent) and
# symbols. A Ctrl-Z ends the text, as it ends the compiler's reading.
# Multi-line strings are strings too: Delphi 12's, which an odd number (three
# or more) of quotes at a line's end opens and the same quotes, with only
# blanks before them on their line, close; and Free Pascal's `...` (a
# doubled backtick stands for one). In older code neither can be anything
# but an error, so reading them changes nothing there.

_SEGMENT = re.compile(
    rb"(?P<space>[ \t\r\n\x0b\x0c\x00]+)"
    rb"|(?P<directive>\{\$[^}]*\}?|\(\*\$[\s\S]*?(?:\*\)|\Z))"
    rb"|(?P<brace>\{)"
    rb"|(?P<paren>\(\*)"
    rb"|(?P<line>//[^\r\n]*)"
    rb"|(?P<multiline>'{3}(?:'')*(?=[ \t]*[\r\n]))"
    rb"|(?P<string>'(?:[^'\r\n]|'')*'?|`(?:[^`]|``)*`?)"
    rb"|(?P<code>#(?:\$[0-9A-Fa-f]*|%[01]*|&[0-7]*|[0-9]*)"
    rb"|&?[A-Za-z_][A-Za-z0-9_]*"
    rb"|\$[0-9A-Fa-f]+|%[01]+|&[0-7]+"
    rb"|[0-9]+(?:\.[0-9]+)?(?:[eE][+-]?[0-9]+)?"
    rb"|:=|<=|>=|<>|\.\.|\*\*|><|\+=|-=|\*=|/=|\(\.|\.\)|<<|>>|@@"
    rb"|[\s\S])")
_BRACES = re.compile(rb"[{}]")
_PAREN_STARS = re.compile(rb"\(\*\)|\(\*|\*\)")


def _skip_brace(data, at, end, nested):
    if not nested:
        close = data.find(b"}", at, end)
        return end if close < 0 else close + 1
    depth = 1
    for match in _BRACES.finditer(data, at, end):
        depth += 1 if match.group() == b"{" else -1
        if depth == 0:
            return match.end()
    return end


def _skip_paren_star(data, at, end, nested):
    if not nested:
        close = data.find(b"*)", at, end)
        return end if close < 0 else close + 2
    depth = 1
    for match in _PAREN_STARS.finditer(data, at, end):
        # "(*)" inside such a comment closes a level, as in Free Pascal.
        depth += 1 if match.group() == b"(*" else -1
        if depth == 0:
            return match.end()
    return end


def _skip_multiline(data, at, end, quotes):
    closer = re.compile(rb"[\r\n][ \t]*" + b"'" * quotes)
    match = closer.search(data, at, end)
    return end if match is None else match.end()


def scan(data, nested):
    """Segments of a Pascal source as (kind, start, end), kind one of
    "code", "directive", "string" and "comment"."""
    end = data.find(b"\x1a")
    if end < 0:
        end = len(data)
    at = len(BOM) if data.startswith(BOM) else 0
    segments = []
    while at < end:
        match = _SEGMENT.match(data, at, end)
        kind = match.lastgroup
        start, at = at, match.end()
        if kind == "space":
            continue
        if kind == "brace":
            at = _skip_brace(data, at, end, nested)
        elif kind == "paren":
            at = _skip_paren_star(data, at, end, nested)
        elif kind == "multiline":
            at = _skip_multiline(data, at, end, at - start)
            kind = "string"
        if kind in ("brace", "paren", "line"):
            kind = "comment"
        segments.append((kind, start, at))
    return segments


def code_tokens(data, nested):
    """The code of a source: every token outside comments, directives
    included, with its offset."""
    return [(data[start:stop], start) for kind, start, stop in scan(data, nested)
            if kind != "comment"]


def in_code(data, offset):
    """Whether offset lies between tokens in code under both readings, so
    that a comment may be put there."""
    for nested in (False, True):
        for _, start, stop in scan(data, nested):
            if start < offset < stop:
                return False
            if start >= offset:
                break
    return True


def line_of(data, offset):
    return data.count(b"\n", 0, offset) + 1


def compare_strings(name, before, after):
    """None when every string literal of both texts is the same, in the same
    order, under both readings of nested comments; else the first that
    changed. (A rewrite may change comments alone.)"""
    for nested in (False, True):
        old, new = (
            [(text[start:stop], start) for kind, start, stop in scan(text, nested)
             if kind == "string"] for text in (before, after))
        for index in range(max(len(old), len(new))):
            was = old[index] if index < len(old) else (None, len(before))
            now = new[index] if index < len(new) else (None, len(after))
            if was[0] != now[0]:
                return "%s (%s): string literal %d at line %d was %r, is %r" % (
                    name, "nested comments" if nested else "comments not nested", index + 1,
                    line_of(before, was[1]), was[0], now[0])
    return None


def is_utf8(data):
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


def compare_code(name, before, after):
    """None when the code tokens of both texts are the same under both
    readings of nested comments, else a message with the first difference."""
    for nested in (False, True):
        reading = "nested comments" if nested else "comments not nested"
        old, new = code_tokens(before, nested), code_tokens(after, nested)
        for index in range(max(len(old), len(new))):
            was = old[index] if index < len(old) else (None, len(before))
            now = new[index] if index < len(new) else (None, len(after))
            if was[0] != now[0]:
                return "%s (%s): code token %d was %r at line %d, is %r at line %d" % (
                    name, reading, index + 1, was[0], line_of(before, was[1]), now[0],
                    line_of(after, now[1]))
    return None


def check_scanner():
    """The scanner must tell code from comments as the compiler does, or a
    comparison of code proves nothing; this runs before it is relied on."""
    cases = [
        (b"a{x}b", False, [b"a", b"b"]),
        (b"a{x{y}z}b", True, [b"a", b"b"]),
        (b"a{x{y}z}b", False, [b"a", b"z", b"}", b"b"]),
        (b"a(*x(*y*)z*)b", True, [b"a", b"b"]),
        (b"a(*x(*y*)z*)b", False, [b"a", b"z", b"*", b")", b"b"]),
        (b"a(*{*)b}", False, [b"a", b"b", b"}"]),
        (b"a//{x\r\nb", True, [b"a", b"b"]),
        (b"//{x\r{y}b", True, [b"b"]),
        # Nested, each kind counts only its own openers and closers.
        (b"a(*{*)b", True, [b"a", b"b"]),
        (b"a{(*}b", True, [b"a", b"b"]),
        (b"(* a (* b *)\n{L '*)' x}\nc", True, [b"' x}", b"c"]),
        (b"(* a (* b *)\n{L '*)' x}\nc", False, [b"c"]),
        (b"s='''\n {x}\n // y\n ''';", True, [b"s", b"=", b"'''\n {x}\n // y\n '''", b";"]),
        (b"s='''''\n'''\n '''''{x}", False, [b"s", b"=", b"'''''\n'''\n '''''"]),
        (b"s:='''';{x}", True, [b"s", b":=", b"''''", b";"]),
        (b"s=`{x}\n// ``y`;", False, [b"s", b"=", b"`{x}\n// ``y`", b";"]),
        (b"s:='{x}''//'#13#$0A;", True, [b"s", b":=", b"'{x}''//'", b"#13", b"#$0A", b";"]),
        (b"{$mode objfpc}(*$H+*)x", True, [b"{$mode objfpc}", b"(*$H+*)", b"x"]),
        (b"for i:=1..2 do x:=1.5e3", True,
         [b"for", b"i", b":=", b"1", b"..", b"2", b"do", b"x", b":=", b"1.5e3"]),
        (BOM + b"end.\x1a{x} junk", True, [b"end", b"."]),
    ]
    for text, nested, tokens in cases:
        found = [token for token, _ in code_tokens(text, nested)]
        if found != tokens:
            fail("the test's scanner reads %r as %r, not %r" % (text, found, tokens))
    if compare_code("a", b"a{x}b", b"a {y}\nb") or not compare_code("a", b"a{x}b", b"a{x b}"):
        fail("the test's comparison of code does not tell code from comments")
