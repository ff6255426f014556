#!/usr/bin/env python3
"""The end of a CTest run: no child of this run's tests outlives them.

Every program the tests start carries GSE_TEST_CHILD_OF=<bin dir>#<run id>
in its environment (tests/support/process.cpp, csv_readback_test.py, and
the commands CTest starts through `orphans.py --exec`). The run id names the
ctest process of the run: "ctest-PID-START", its pid and start time, found
by walking up from the process that asks. Once every test of the run has
ended, a process that still carries this run's mark is an orphan: it is
named, killed, and the check fails. Processes of other builds, and of
another ctest run of this same build going on beside this one, carry
another mark and are left alone.

  orphans.py BIN_DIR                    the check (run by CTest last)
  orphans.py --exec BIN_DIR -- CMD...   runs CMD marked as a child of this run
"""
import os
import signal
import sys

MARK = "GSE_TEST_CHILD_OF"


def proc_stat(pid):
    """(command name, parent pid, start time) of `pid`, or None if gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            stat = f.read().decode(errors="replace")
    except OSError:
        return None
    # "pid (comm) state ppid ...": the name may hold blanks and parentheses.
    comm = stat[stat.find("(") + 1:stat.rfind(")")]
    fields = stat[stat.rfind(")") + 2:].split()
    return comm, int(fields[1]), fields[19]


def run_id():
    """The run this process belongs to: "ctest-PID-START" of the nearest
    ctest among its ancestors, "" when none (run by hand)."""
    pid = os.getppid()
    for _ in range(64):
        if pid <= 1:
            break
        stat = proc_stat(pid)
        if stat is None:
            break
        comm, parent, start = stat
        if comm == "ctest":
            return f"ctest-{pid}-{start}"
        pid = parent
    return ""


def child_mark(bin_dir):
    return f"{bin_dir}#{run_id()}"


def marked(mark):
    want = f"{MARK}={mark}".encode()
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


def check(bin_dir):
    dirs = {bin_dir, os.path.realpath(bin_dir)}
    orphans = [found for d in sorted(dirs) for found in marked(child_mark(d))]
    for pid, cmd in orphans:
        print(f"orphan of a test still running, killed: pid {pid}: {cmd}")
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError as e:
            print(f"  cannot kill it: {e.strerror}")
    if not orphans:
        print(f"no process started by the tests of this run ({run_id() or 'not under ctest'}) outlived them")
    return 1 if orphans else 0


def main():
    args = sys.argv[1:]
    if len(args) >= 4 and args[0] == "--exec" and args[2] == "--":
        os.environ[MARK] = child_mark(args[1])
        os.execvp(args[3], args[3:])
    if len(args) != 1 or args[0].startswith("-"):
        print(__doc__.strip().splitlines()[-2].strip(), file=sys.stderr)
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    return check(args[0])


if __name__ == "__main__":
    sys.exit(main())
