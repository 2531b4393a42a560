#!/usr/bin/env python3
"""histrel.exe end to end under Wine: the worked examples byte for byte, the
walk, a read-only file, linked sources and logs, a source deeper than
MAX_PATH, switches from the registry and from the INI file beside the
program, WRITEREG and WRITEINI read back.

Usage: tests/windows/end_to_end.py BUILD_DIR
BUILD_DIR is the Windows build (it holds histrel.exe and wine-run, whose
Wine prefix is ready). Exits 1 after the first failed case."""

import datetime
import os
import re
import shutil
import subprocess
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(sys.argv[1])
WINE_RUN = os.path.join(BUILD, "wine-run")
WORK = os.path.join(BUILD, "end-to-end")
KEY = "HKCU\\Software\\TAVIK\\Histrel\\PARAMETERS"
failures = []


def raw_strings(path):
    """The raw string constants (R"(...)") of a C++ source by name."""
    text = open(path, encoding="latin-1").read()
    return {m.group(1): m.group(2).encode("latin-1")
            for m in re.finditer(r'const char (\w+)\[\] =\s*R"\((.*?)\)";', text, re.S)}


SAMPLES = raw_strings(os.path.join(REPO, "tests", "SampleUnit.h"))
SAMPLES.update(raw_strings(os.path.join(REPO, "app", "uHistrel_test.cpp")))


def with_date(text, date):
    return text.replace(b"DATE", date.encode())


def crlf(text):
    return text.replace(b"\n", b"\r\n")


def today():
    return datetime.date.today().strftime("%Y.%m.%d")


def check(name, condition, detail=""):
    if not condition:
        failures.append(name)
        print(f"FAIL {name}\n{detail}")
    else:
        print(f"ok   {name}")


def tree(name):
    """A fresh directory with its own copy of histrel.exe, so that an INI
    file beside the program belongs to this case alone."""
    path = os.path.join(WORK, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    shutil.copy(os.path.join(BUILD, "histrel.exe"), path)
    return path


def histrel(directory, *arguments, stdin=b""):
    """Runs histrel.exe in directory. It is named without a directory: Wine
    would otherwise pass a Unix path with slashes on the command line, where
    a "/" begins a switch. --quiet leaves the summary line out of standard
    error, which the checks here compare whole."""
    result = subprocess.run([WINE_RUN, "histrel.exe", "--quiet", *arguments], cwd=directory,
                            input=stdin, capture_output=True, timeout=120)
    return result.returncode, result.stdout, result.stderr


def wine(*arguments):
    return subprocess.run([WINE_RUN, *arguments], capture_output=True, timeout=120)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def read_if(path):
    """The bytes of path, or nothing when it is missing."""
    return read(path) if os.path.exists(path) else b""


def worked_examples():
    before, after, log = (SAMPLES["kSampleBefore"], SAMPLES["kSampleAfterFirstRun"],
                          SAMPLES["kSampleLogAfterFirstRun"])
    for ends, convert in (("LF", lambda t: t), ("CR LF", crlf)):
        top = tree("worked-example")
        write(os.path.join(top, "src", "Sample.pas"), convert(before))
        day = today()
        status, out, err = histrel(top, "/USER=dev", "/FILE=src\\*.pas")
        day = day if day.encode() in read(os.path.join(top, "src", "Sample.pas")) else today()
        check(f"first worked example ({ends}): status, CR LF on standard output",
              (status, out, err) == (0, b"src\\Sample.pas\r\n", b""), (status, out, err))
        check(f"first worked example ({ends}): the source byte for byte",
              read(os.path.join(top, "src", "Sample.pas")) == convert(with_date(after, day)))
        check(f"first worked example ({ends}): the log byte for byte",
              read(os.path.join(top, "src", "Sample.pas.cvs")) == convert(with_date(log, day)))
        check(f"first worked example ({ends}): no temporary file left",
              sorted(os.listdir(os.path.join(top, "src"))) == ["Sample.pas", "Sample.pas.cvs"])

    top = tree("second-worked-example")
    first = with_date(after, "2003.05.14")
    edited = first.replace(b"  Bar;\n", b"  Bar; {CVS* Bar is now called once per report "
                           b"instead of once per page.}\n")
    edited = edited.replace(b"  }\nend;", b"  }\n  // CVS* Tested the page totals again after "
                            b"the change of Bar.\nend;")
    write(os.path.join(top, "Sample.pas"), crlf(edited))
    write(os.path.join(top, "Sample.pas.cvs"), crlf(with_date(log, "2003.05.14")))
    expected = SAMPLES["kSampleAfterSecondRun"]
    date = re.search(rb"qa (\d{4}\.\d\d\.\d\d)", expected).group(1).decode()
    # The second example's date is that of the run: the expected text gets today's.
    day = today()
    status, out, _ = histrel(top, "/USER=qa", "/FILE=Sample.pas", "/RECURSIVE-")
    text = read(os.path.join(top, "Sample.pas"))
    day = day if day.encode() in text else today()
    check("second worked example: the new entry on top, byte for byte",
          status == 0 and text == crlf(expected.replace(date.encode(), day.encode())), text)


def walk():
    top = tree("walk")
    for name in ("a.pas", "B.PAS", "c.pas.bak", "d.txt", "sub/e.pas", "sub/a.pas"):
        write(os.path.join(top, name), b"")
    lines = lambda out: sorted(out.decode().split("\r\n")[:-1])
    status, out, _ = histrel(top, "/USER=ann", "/FILE=*.pas", "/RECURSIVE-")
    check("mask: a substring test, letter case ignored, one directory",
          (status, lines(out)) == (0, [".\\B.PAS", ".\\a.pas", ".\\c.pas.bak"]), out)
    status, out, _ = histrel(top, "/USER=ann", "/FILE=*.pas")
    check("recursive walk: every directory below",
          (status, lines(out)) == (0, sorted([".\\B.PAS", ".\\a.pas", ".\\c.pas.bak",
                                              ".\\sub\\a.pas", ".\\sub\\e.pas"])), out)


def file_list():
    """Files after -- and in a --files-from list, in their order: Windows
    takes "\\" and "/" alike; a list may end its lines with CR LF."""
    top = tree("file-list")
    for name in ("a.pas", "sub/b.pas", "sub/c.pas"):
        write(os.path.join(top, name), b"{CVS* note}\r\n")
    status, out, err = histrel(top, "/USER=ann", "--", "sub\\b.pas", "a.pas")
    check("list after --: each file announced in the order given, FILE not needed",
          (status, out, err) == (0, b"sub\\b.pas\r\n.\\a.pas\r\n", b""), (status, out, err))
    check("list after --: both rewritten, the file not named left alone",
          read(os.path.join(top, "sub", "c.pas")) == b"{CVS* note}\r\n"
          and b"CVS*" not in read(os.path.join(top, "a.pas"))
          and b"CVS*" not in read(os.path.join(top, "sub", "b.pas")))
    write(os.path.join(top, "a.pas"), b"{CVS* again}\r\n")
    status, out, err = histrel(top, "/USER=ann", "--files-from=-",
                               stdin=b"sub/c.pas\r\n\r\na.pas\r\n")
    check("--files-from=-: names with CR LF from standard input, / as a separator",
          (status, out, err) == (0, b"sub\\c.pas\r\n.\\a.pas\r\n", b""), (status, out, err))
    status, out, err = histrel(top, "/USER=ann", "--", "missing.pas")
    check("list: a missing file cannot be edited, the reason on standard error",
          (status, out) == (1, b".\\missing.pas\r\nThe file .\\missing.pas cannot be "
                               b"edited!\r\n")
          and err.startswith(b"Reason: .\\missing.pas "), (status, out, err))
    status, out, err = histrel(top)
    check("bare histrel: the message, then a hint on standard error",
          (status, out, err) == (1, b"The parameter FILE must be indicated!\r\n",
                                 b"Try 'histrel --help' for more information.\r\n"),
          (status, out, err))


def read_only():
    top = tree("read-only")
    source = os.path.join(top, "Locked.pas")
    write(source, b"{CVS* note}\r\n")
    check("read-only: attrib +r", wine("attrib", "+r", "Z:" + source.replace("/", "\\"))
          .returncode == 0)
    status, out, err = histrel(top, "/USER=ann", "/FILE=Locked.pas", "/RECURSIVE-")
    check("read-only: refused with the message, its reason and status 1, the file unchanged",
          (status, out, read(source)) ==
          (1, b"The file .\\Locked.pas cannot be edited!\r\n", b"{CVS* note}\r\n")
          and err.startswith(b"Reason: .\\Locked.pas "), (status, out, err))


def links():
    """Wine shows a Unix symbolic link made from the Linux side as the file
    or folder it names; a linked source is rewritten where it is and stays
    a link, a log that is a link is refused."""
    top = tree("links")
    note = b"{CVSLOG}\r\n{CVS* Fixed the totals.}\r\n"
    write(os.path.join(top, "real", "t.pas"), note)
    os.makedirs(os.path.join(top, "src"))
    os.symlink("../real/t.pas", os.path.join(top, "src", "t.pas"))
    status, out, err = histrel(top, "/USER=dev", "/FILE=src\\t.pas", "/RECURSIVE-")
    # A build that replaces the link removes the file it names.
    text = read_if(os.path.join(top, "real", "t.pas"))
    check("linked source named by FILE: rewritten at its target, the link kept",
          (status, out, err) == (0, b"", b"") and os.path.islink(os.path.join(top, "src", "t.pas"))
          and text.startswith(b"{CVSLOG\r\n   dev ") and b"{CVS*" not in text
          and b"Fixed the totals." in read(os.path.join(top, "src", "t.pas.cvs"))
          and sorted(os.listdir(os.path.join(top, "real"))) == ["t.pas"], (status, out, err, text))
    write(os.path.join(top, "real", "t.pas"), text + b"{CVS* Again.}\r\n")
    status, out, err = histrel(top, "/USER=dev", "/FILE=src\\*.pas")
    text = read(os.path.join(top, "real", "t.pas"))
    check("linked source in a mask walk: rewritten at its target, the link kept",
          (status, sorted(out.split(b"\r\n")), err)
          == (0, [b"", b"src\\t.pas", b"src\\t.pas.cvs"], b"")
          and os.path.islink(os.path.join(top, "src", "t.pas")) and b"{CVS*" not in text
          and b"Again." in read(os.path.join(top, "src", "t.pas.cvs")), (status, out, err, text))

    write(os.path.join(top, "plain", "t.pas"), note)
    write(os.path.join(top, "other", "kept.txt"), b"someone else's\r\n")
    os.symlink("../other/kept.txt", os.path.join(top, "plain", "t.pas.cvs"))
    status, out, err = histrel(top, "/USER=dev", "/FILE=plain\\t.pas", "/RECURSIVE-")
    check("a log that is a link: refused, the source and the file it names unchanged",
          (status, out) == (1, b"The file plain\\t.pas cannot be edited!\r\n")
          and err.startswith(b"Reason: ") and read(os.path.join(top, "plain", "t.pas")) == note
          and read(os.path.join(top, "other", "kept.txt")) == b"someone else's\r\n",
          (status, out, err))


def letter_case():
    """Windows names are found in any letter case; the rewritten source keeps
    the name it has on disk."""
    top = tree("letter-case")
    write(os.path.join(top, "src", "t.pas"), b"{CVSLOG}\r\n{CVS* Fixed the totals.}\r\n")
    status, out, err = histrel(top, "/USER=dev", "/FILE=SRC\\T.PAS", "/RECURSIVE-")
    names = sorted(os.listdir(os.path.join(top, "src")))
    check("a source named in another letter case: rewritten under its own name",
          (status, out, err) == (0, b"", b"") and "t.pas" in names and "T.PAS" not in names
          and b"{CVS*" not in read_if(os.path.join(top, "src", "t.pas")), (status, out, err, names))


def long_paths():
    """A source 315 characters deep in the tree (more than 350 from the
    drive): beyond the ANSI limit of MAX_PATH, as deep as on Linux."""
    top = tree("long-paths")
    parts = ["deep"] + ["d" * 59 + str(level) for level in range(1, 6)] + ["t.pas"]
    shown = "\\".join(parts)
    source = os.path.join(top, *parts)
    write(source, b"{CVSLOG}\r\n{CVS* Deep down.}\r\n")
    status, out, err = histrel(top, "/USER=dev", "/FILE=deep\\*.pas")
    check(f"a source {len(shown)} characters deep ({len('Z:' + source)} in all): walked, rewritten",
          (status, out, err) == (0, shown.encode() + b"\r\n", b"")
          and b"{CVS*" not in read(source) and os.path.exists(source + ".cvs"),
          (status, out, err))
    write(source, read(source) + b"{CVS* Named.}\r\n")
    status, out, err = histrel(top, "/USER=dev", "/FILE=" + shown, "/RECURSIVE-")
    check("the same source named by FILE: rewritten, its log 319 characters deep",
          (status, out, err) == (0, b"", b"") and b"{CVS*" not in read(source)
          and b"Named." in read(source + ".cvs"), (status, out, err))


def registry():
    wine("reg", "delete", "HKCU\\Software\\TAVIK", "/f")
    top = tree("registry")
    write(os.path.join(top, "Unit.pas"), b"{CVS* from the registry}\r\n")
    wine("reg", "add", KEY, "/v", "USER", "/t", "REG_SZ", "/d", "regina", "/f")
    status, out, err = histrel(top, "/FILE=Unit.pas", "/RECURSIVE-")
    check("registry: USER from a REG_SZ value",
          status == 0 and b"{regina " in read(os.path.join(top, "Unit.pas")), (status, out, err))

    wine("reg", "add", KEY, "/v", "USER", "/t", "REG_DWORD", "/d", "42", "/f")
    status, out, err = histrel(top, "/FILE=Unit.pas", "/RECURSIVE-")
    check("registry: a REG_DWORD value is the failure that names it",
          (status, out) == (1, b'The registry value "USER" of HKEY_CURRENT_USER\\Software\\TAVIK'
                               b'\\Histrel\\PARAMETERS is not a text value\r\n'), (status, out, err))
    wine("reg", "delete", KEY, "/v", "USER", "/f")

    # WRITEREG writes every registered switch with its initial value.
    status, out, err = histrel(top, "/WRITEREG=all")
    query = wine("reg", "query", KEY).stdout.decode("latin-1")
    values = dict(re.findall(r"^    (\S+)    REG_SZ    (.*)$", query.replace("\r", ""), re.M))
    check("registry: WRITEREG=all writes the switches, read back with reg query",
          status == 0 and values.get("REGPATH") == "\\Software\\TAVIK\\Histrel\\"
          and values.get("INIFILE") == "histrel.ini" and values.get("RECURSIVE") == "+"
          and values.get("INIPATH") == "Z:" + top.replace("/", "\\") + "\\"
          and values.get("USER") == "no default value", (status, out, err, query))
    wine("reg", "delete", "HKCU\\Software\\TAVIK", "/f")


def ini_file():
    top = tree("ini")
    write(os.path.join(top, "Unit.pas"), b"{CVS* from the INI file}\r\n")
    write(os.path.join(top, "histrel.ini"), b"[PARAMETERS]\r\nUSER=ina\r\n")
    status, out, err = histrel(top, "/FILE=Unit.pas", "/RECURSIVE-")
    check("INI file beside histrel.exe: USER from it",
          status == 0 and b"{ina " in read(os.path.join(top, "Unit.pas")), (status, out, err))

    other = tree("ini-write")
    sub = os.path.join(other, "work")
    os.makedirs(sub)
    # Run from another directory: the INI file is the one beside the program.
    result = subprocess.run(
        [WINE_RUN, "Z:" + os.path.join(other, "histrel.exe").replace("/", "\\"),
         "/WRITEINI=all"], cwd=sub, capture_output=True, timeout=120)
    status, out, err = result.returncode, result.stdout, result.stderr
    written = os.path.join(other, "histrel.ini")
    text = read(written) if os.path.exists(written) else b""
    expected_path = ("Z:" + other.replace("/", "\\") + "\\").encode()
    check("INI file: WRITEINI=all writes the switches beside histrel.exe",
          status == 0 and text.startswith(b"[PARAMETERS]\r\n")
          and b"\r\nINIPATH=" + expected_path + b"\r\n" in text
          and b"\r\nINIFILE=histrel.ini\r\n" in text and b"\r\nUSER=no default value\r\n" in text
          and not os.listdir(sub), (status, out, err, text))


def overview_as_text():
    top = tree("overview-text")
    status, out, err = histrel(top, "/?")
    lines = out.split(b"\r\n")
    check("overview into a pipe: the caption, then the list, as text with CR LF",
          status == 0 and err == b"" and lines[0] == b"List of registered switches"
          and b"/REGOFF=-" in lines and lines[-1] == b"" and b"\n" not in out.replace(b"\r\n", b""),
          (status, out[:200], err))


def created_path():
    top = tree("ini-path")
    target = os.path.join(top, "made", "on", "demand")
    status, out, err = histrel(top, "/WRITEINI=all",
                               "/INIPATH=Z:" + target.replace("/", "\\"))
    written = os.path.join(target, "histrel.ini")
    check("INI file: WRITEINI creates the missing folders of INIPATH (CreateDirectoryW)",
          status == 0 and os.path.isfile(written)
          and read(written).startswith(b"[PARAMETERS]\r\n"), (status, out, err))


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    for case in (worked_examples, walk, file_list, read_only, links, letter_case, long_paths,
                 registry, ini_file, created_path, overview_as_text):
        case()
    if failures:
        print(f"{len(failures)} failed")
        return 1
    print("all passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
