#!/usr/bin/env python3
"""Kills histrel at random moments of its rewrites and checks what is left.

Each trial makes a small tree of marked sources (filler from 0 B to 8 MB,
LF or CR LF line ends, with or without a log from earlier runs), learns
from an undisturbed run on a copy what the rewrite makes of each file,
starts histrel on the tree and kills it (SIGKILL) after a random part of
that run's time, then runs histrel once more to recover. Counted:

  torn        a source that is neither its old nor its new text
  ahead       a new source beside a log without its entry
  pending     an old source beside a log with the new entry (the one moment
              between the two writes; the recovery run cuts the log back)
  duplicated  a log holding an entry twice after the recovery run
  missing     a source or log that is not the rewritten one after it
  leftover    a temporary file still there after it

About half of the trials first kill a preview (--diff or --check, chosen at
random) on the same tree after a random part of its undisturbed time;
a preview writes nothing, so the tree must be as it was, byte for byte:

  previews         the previews killed
  preview_changed  a file added, removed or changed by a killed preview
  preview_leftover a temporary file left by a killed preview

Usage: kill_soak.py HISTREL [TRIALS] [SEED]. Exit status 1 when any count
but trials, landed (kills that left a tree between its old and its new
state), pending and previews is not zero.
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MAX_FILLER = 8 * 1024 * 1024


def source_text(rng, note, crlf):
    end = "\r\n" if crlf else "\n"
    # Sizes spread evenly over the orders of magnitude, 0 B included.
    size = 0 if rng.random() < 0.1 else int(2 ** rng.uniform(0, 23))
    line = "  Call(1, 2, 3); { filler without a marker }" + end
    filler = line * (min(size, MAX_FILLER) // len(line))
    return ("unit U;" + end + "{CVSLOG}" + end + "{CVS* " + note + "}" + end + filler +
            "end." + end).encode()


def run(program, tree):
    return subprocess.run([program, "/USER=soak", "/FILE=" + tree.replace("/", "\\") + "\\*.pas"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def snapshot(tree, names):
    return {n: (read(os.path.join(tree, n)), read(os.path.join(tree, n + ".cvs"))) for n in names}


def leftovers(tree):
    return [n for n in os.listdir(tree) if n.endswith(".tmp")]


def whole_tree(tree):
    """Every entry below tree, by its relative path: a directory as None, a
    file as its bytes."""
    entries = {}
    for directory, subdirectories, files in os.walk(tree):
        for name in subdirectories:
            entries[os.path.relpath(os.path.join(directory, name), tree)] = None
        for name in files:
            entries[os.path.relpath(os.path.join(directory, name), tree)] = read(
                os.path.join(directory, name))
    return entries


def preview_command(program, tree, option):
    return [program, option, "/USER=soak", "/FILE=" + tree.replace("/", "\\") + "\\*.pas"]


def main():
    program = os.path.abspath(sys.argv[1])
    trials = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    rng = random.Random(seed)
    # The previews draw from a stream of their own, so that the trees and
    # the kills of the runs stay those of the same seed without them.
    preview_rng = random.Random(seed + 1000003)
    counts = dict(trials=0, landed=0, pending=0, torn=0, ahead=0, duplicated=0, missing=0,
                  leftover=0, previews=0, preview_changed=0, preview_leftover=0)
    work = tempfile.mkdtemp(prefix="histrel-soak-")
    try:
        for trial in range(trials):
            tree = os.path.join(work, "tree")
            shutil.rmtree(tree, ignore_errors=True)
            os.makedirs(tree)
            names = []
            for index in range(rng.randint(1, 3)):
                name = "f%d.pas" % index
                names.append(name)
                with open(os.path.join(tree, name), "wb") as f:
                    f.write(source_text(rng, "note%d_%d" % (trial, index), rng.random() < 0.5))
                if rng.random() < 0.5:
                    with open(os.path.join(tree, name + ".cvs"), "wb") as f:
                        f.write(b"soak 2001.01.01 an earlier entry\r\n")
            old = snapshot(tree, names)
            reference = os.path.join(work, "reference")
            shutil.rmtree(reference, ignore_errors=True)
            shutil.copytree(tree, reference)
            option = None
            if preview_rng.random() < 0.5:
                option = preview_rng.choice(["--diff", "--check"])
                started = time.monotonic()
                subprocess.run(preview_command(program, reference, option),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
                preview_took = time.monotonic() - started
            started = time.monotonic()
            run(program, reference)
            took = time.monotonic() - started
            new = snapshot(reference, names)

            if option is not None:
                whole = whole_tree(tree)
                process = subprocess.Popen(preview_command(program, tree, option),
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                time.sleep(preview_rng.uniform(0, preview_took))
                process.send_signal(signal.SIGKILL)
                process.wait()
                counts["previews"] += 1
                if whole_tree(tree) != whole:
                    counts["preview_changed"] += 1
                counts["preview_leftover"] += len(leftovers(tree))

            process = subprocess.Popen(
                [program, "/USER=soak", "/FILE=" + tree.replace("/", "\\") + "\\*.pas"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0, took))
            process.send_signal(signal.SIGKILL)
            process.wait()
            counts["trials"] += 1
            after = snapshot(tree, names)
            if after != old and after != new:
                counts["landed"] += 1
            for name in names:
                source, log = after[name]
                if source not in (old[name][0], new[name][0]):
                    counts["torn"] += 1
                if source == new[name][0] and log != new[name][1]:
                    counts["ahead"] += 1
                if source == old[name][0] and log != old[name][1]:
                    counts["pending"] += 1

            run(program, tree)
            after = snapshot(tree, names)
            for index, name in enumerate(names):
                source, log = after[name]
                note = b"note%d_%d" % (trial, index)
                if log is not None and log.count(note) > 1:
                    counts["duplicated"] += 1
                elif (source, log) != new[name]:
                    counts["missing"] += 1
            counts["leftover"] += len(leftovers(tree))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(" ".join("%s=%d" % item for item in counts.items()))
    bad = sum(v for k, v in counts.items() if k not in ("trials", "landed", "pending", "previews"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
