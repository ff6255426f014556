#!/usr/bin/env python3
"""Puts deliberate mistakes into the code one at a time and runs the tests
that should catch each: a mistake no test catches is a behaviour no test
pins down.

Each mistake is a line of a table file, fields separated by " @@ ":
  FILE @@ TEXT AS IT IS @@ TEXT WITH THE MISTAKE @@ TARGETS @@ CTEST REGEX
TEXT must occur exactly once in FILE; TARGETS are the build targets to
rebuild (comma-separated); CTEST REGEX chooses the tests to run (-R). Lines
starting with # are comments. "\\n" in the texts stands for a line break.

  scripts/mutation-check.py TABLE [BUILD_DIR]

Prints one line per mistake (caught by which test, or SURVIVED) and fails
when any survived. The source is always restored, also on Ctrl+C.
"""
import os
import re
import subprocess
import sys


def load(table):
    rows = []
    for n, line in enumerate(open(table, encoding="utf-8"), 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        parts = [p.strip() for p in line.rstrip("\n").split(" @@ ")]
        if len(parts) != 5:
            sys.exit(f"{table}:{n}: expected 5 fields separated by ' @@ '")
        f, old, new, targets, regex = parts
        rows.append((n, f, old.replace("\\n", "\n"), new.replace("\\n", "\n"), targets.split(","), regex))
    return rows


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    build = sys.argv[2] if len(sys.argv) == 3 else os.path.join(root, "build")
    survived = 0
    rows = load(sys.argv[1])
    for n, f, old, new, targets, regex in rows:
        path = os.path.join(root, f)
        original = open(path, encoding="utf-8").read()
        if original.count(old) != 1:
            print(f"line {n}: {f}: the text occurs {original.count(old)} times, not once")
            survived += 1
            continue
        try:
            open(path, "w", encoding="utf-8").write(original.replace(old, new))
            b = run(["cmake", "--build", build, "-j2", "--target", *targets])
            if b.returncode != 0:
                verdict = "caught by the build"
            else:
                t = run(["ctest", "--test-dir", build, "-R", regex, "-j2", "--timeout", "300"])
                failed = re.findall(r"\d+ - (\S+) \(", t.stdout)
                ran = re.search(r"tests passed, (\d+) tests failed out of (\d+)", t.stdout)
                if not ran or ran.group(2) == "0":
                    verdict = f"NO TEST RAN for -R {regex}"
                    survived += 1
                elif failed:
                    verdict = "caught by " + ", ".join(failed)
                else:
                    verdict = "SURVIVED"
                    survived += 1
        finally:
            open(path, "w", encoding="utf-8").write(original)
        print(f"line {n}: {f}: {old.strip()[:60]!r} -> {new.strip()[:60]!r}: {verdict}", flush=True)
    # Leave the targets built from the source as it is.
    run(["cmake", "--build", build, "-j2", "--target", *sorted({t for r in rows for t in r[4]})])
    return 1 if survived else 0


if __name__ == "__main__":
    sys.exit(main())
