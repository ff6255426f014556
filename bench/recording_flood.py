#!/usr/bin/env python3
"""Recording throughput: vst_gse live (headless) on a pseudo-terminal that is
flooded with bytes holding no sync word, as fast as the terminal takes them,
the recording on tmpfs (/dev/shm): a disk that keeps up. Prints the rate the
pseudo-terminal took the bytes at and whether the recording holds every one
of them (it must: nothing is dropped on a disk that keeps up).

usage: recording_flood.py BIN_DIR [MIB] [RUNS]      (default 64 MiB, 3 runs)
"""
import os
import pty
import signal
import subprocess
import sys
import tempfile
import time
import tty

bin_dir = os.path.abspath(sys.argv[1])
mib = int(sys.argv[2]) if len(sys.argv) > 2 else 64
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 3
pattern = bytes((i * 7919 + (i >> 8)) & 0x7F for i in range(1 << 16))  # below 0x80: no sync word


def wait_for(cond, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if cond():
            return True
        time.sleep(0.02)
    return cond()


def one_run():
    master, slave = pty.openpty()
    tty.setraw(master)
    slave_path = os.ttyname(slave)
    work = tempfile.mkdtemp(prefix="gse_flood_", dir="/dev/shm")
    log = os.path.join(work, "run.log")
    station = subprocess.Popen([os.path.join(bin_dir, "vst_gse"), "--headless", "--port", slave_path, "--log", log],
                               cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        if not wait_for(lambda: os.path.exists(log) and "serial port ready" in open(log).read(), 30):
            raise SystemExit("the station did not start")
        total = mib << 20
        sent = 0
        start = time.monotonic()
        while sent < total:
            at = sent % len(pattern)
            sent += os.write(master, pattern[at:at + min(len(pattern) - at, total - sent)])
        took = time.monotonic() - start
        recs = lambda: [f for f in os.listdir(work) if f.endswith(".dat")]
        size = lambda: os.path.getsize(os.path.join(work, recs()[0])) if recs() else 0
        whole = wait_for(lambda: size() == sent, 60)
        station.send_signal(signal.SIGTERM)
        status = station.wait(30)
        print(f"  {sent / 2**20:.0f} MiB in {took:.2f} s: {sent / took / 2**20:6.1f} MiB/s; "
              f"recorded {size()} of {sent} bytes ({'whole' if whole else 'SHORT'}), exit status {status}")
        return whole and status == 0
    finally:
        if station.poll() is None:
            station.kill()
        os.close(master)
        os.close(slave)
        for f in os.listdir(work):
            os.unlink(os.path.join(work, f))
        os.rmdir(work)


ok = all([one_run() for _ in range(runs)])
sys.exit(0 if ok else 1)
