#!/usr/bin/env python3
"""The end of a CTest run: no child of this build's tests outlives them.

Every program the tests start carries GSE_TEST_CHILD_OF=<bin dir> in its
environment (tests/support/process.cpp, csv_readback_test.py, the tests
CTest starts itself). Once every test has ended, a process that still
carries the mark of this bin dir is an orphan: it is named, killed, and
the check fails. Processes of other builds (other worktrees, other users'
runs on the same machine) carry another mark, or none, and are left alone.

  orphans.py BIN_DIR
"""
import os
import signal
import sys

MARK = b"GSE_TEST_CHILD_OF="


def marked(bin_dir):
    want = MARK + os.fsencode(bin_dir)
    me = os.getpid()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == me:
            continue
        try:
            with open(f"/proc/{entry}/environ", "rb") as f:
                env = f.read().split(b"\0")
            if want not in env:
                continue
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
        except OSError:  # gone meanwhile, or not ours to read
            continue
        found.append((int(entry), cmd))
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    orphans = marked(os.path.realpath(sys.argv[1])) + (
        marked(sys.argv[1]) if os.path.realpath(sys.argv[1]) != sys.argv[1] else [])
    for pid, cmd in orphans:
        print(f"orphan of a test still running, killed: pid {pid}: {cmd}")
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError as e:
            print(f"  cannot kill it: {e.strerror}")
    if not orphans:
        print("no process started by the tests outlived them")
    return 1 if orphans else 0


if __name__ == "__main__":
    sys.exit(main())
