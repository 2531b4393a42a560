#!/usr/bin/env python3
"""Writes deterministic synthetic Pascal trees for the benchmark.

gen_tree.py scan DIR FILES SIZE      FILES sources of about SIZE bytes, no marks
gen_tree.py deep DIR FILES SIZE      the same, spread over a chain of 50 nested directories
gen_tree.py rewrite DIR FILES        FILES sources with a marker and three marks
gen_tree.py huge FILE MEGABYTES      one source with marks near its start and end
gen_tree.py line FILE KILOBYTES      one source with a short note and one code line of that size
gen_tree.py settings DIR ENTRIES     an INI file and a registry hive of ENTRIES each
"""
import os
import random
import sys

WORDS = ("begin end procedure function var const integer string result "
         "inc dec if then else while do for to repeat until writeln").split()


def body_line(rng):
    return "  " + " ".join(rng.choice(WORDS) for _ in range(rng.randint(3, 12))) + ";"


def unit_text(rng, name, size, marks):
    lines = [f"unit {name};", "", "interface", ""]
    if marks:
        lines += ["{CVSLOG}", ""]
    lines += ["implementation", ""]
    total = sum(len(x) + 2 for x in lines)
    mark_at = set()
    if marks:
        mark_at = {3, 17, 40}
    n = 0
    while total < size:
        if n in mark_at:
            line = "  {CVS* Changed the handling of " + rng.choice(WORDS) + " in this unit.}"
        else:
            line = body_line(rng)
        lines.append(line)
        total += len(line) + 2
        n += 1
    lines.append("end.")
    return "\r\n".join(lines) + "\r\n"


def tree(root, files, size, marks):
    rng = random.Random(4711)
    per_dir = 100
    for i in range(files):
        d = os.path.join(root, f"d{i // per_dir:03d}")
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, f"Unit{i:05d}.pas"), "w", newline="") as f:
            f.write(unit_text(rng, f"Unit{i:05d}", size, marks))


def deep(root, files, size, levels=50):
    rng = random.Random(4711)
    directory = root
    for level in range(levels):
        directory = os.path.join(directory, f"level{level:02d}")
        os.makedirs(directory, exist_ok=True)
        for i in range(level * files // levels, (level + 1) * files // levels):
            with open(os.path.join(directory, f"Unit{i:05d}.pas"), "w", newline="") as f:
                f.write(unit_text(rng, f"Unit{i:05d}", size, False))


def huge(path, megabytes):
    rng = random.Random(4711)
    block = "\r\n".join(body_line(rng) for _ in range(2000)) + "\r\n"
    with open(path, "w", newline="") as f:
        f.write("unit Huge;\r\n\r\n{CVSLOG}\r\n\r\n  {CVS* A note near the start.}\r\n")
        written = 0
        while written < megabytes * 1024 * 1024:
            f.write(block)
            written += len(block)
        f.write("  // CVS* A note near the end.\r\nend.\r\n")


def note(path, kilobytes, one_word):
    """A source with one marked comment of about the given size: many words on
    one line, or a single word."""
    with open(path, "w", newline="") as f:
        f.write("unit Note;\r\n{CVSLOG}\r\n{CVS* ")
        if one_word:
            chunk = "x" * (1024 * 1024)
            for _ in range(kilobytes // 1024):
                f.write(chunk)
            f.write("x" * (kilobytes % 1024 * 1024))
        else:
            words = ["totals", "rounding", "footer", "cents", "invoice", "page", "report"]
            written = 0
            i = 0
            while written < kilobytes * 1024:
                word = words[i % len(words)] + " "
                f.write(word)
                written += len(word)
                i += 1
        f.write("}\r\nend.\r\n")


def line(path, kilobytes):
    """A source with a short note and one code line of about the given size."""
    with open(path, "w", newline="") as f:
        f.write("unit Line;\r\n{CVSLOG}\r\n{CVS* A short note.}\r\n")
        chunk = "x := 1; " * (128 * 1024)
        for _ in range(kilobytes // 1024):
            f.write(chunk)
        f.write("\r\nend.\r\n")


def settings(root, entries):
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "histrel.ini"), "w", newline="") as f:
        f.write("[PARAMETERS]\r\n")
        for i in range(entries):
            f.write(f"SETTING{i:04d}=value {i}\r\n")
        f.write("[MACROS]\r\nROOT=x\r\n")
    hive_dir = os.path.join(root, "config", "programswitch")
    os.makedirs(hive_dir, exist_ok=True)
    with open(os.path.join(hive_dir, "HKEY_CURRENT_USER.reg"), "w", newline="") as f:
        f.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\TAVIK\\Histrel\\PARAMETERS]\r\n")
        for i in range(entries):
            f.write(f'"VALUE{i:04d}"="text {i}"\r\n')
        f.write("\r\n")


def main():
    kind = sys.argv[1]
    if kind == "scan":
        tree(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), False)
    elif kind == "deep":
        deep(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    elif kind == "rewrite":
        tree(sys.argv[2], int(sys.argv[3]), 4096, True)
    elif kind == "huge":
        huge(sys.argv[2], int(sys.argv[3]))
    elif kind == "note":
        note(sys.argv[2], int(sys.argv[3]), False)
    elif kind == "line":
        line(sys.argv[2], int(sys.argv[3]))
    elif kind == "word":
        note(sys.argv[2], int(sys.argv[3]), True)
    elif kind == "settings":
        settings(sys.argv[2], int(sys.argv[3]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
