#!/usr/bin/env python3
"""Soak test of the live station: vst_gse (headless, traced) on a link fed by
gse_sim with faults, through a relay that records every byte it forwards.
The relay works in pieces of up to 5 s, each in one of three modes: bursts at
full rate (as fast as the station takes them, with short bursts of noise that
holds no sync word thrown in between the simulator's bytes), the link's own
rate (1920 bytes/s), or a stream of noise without sync words at the link's
rate (a wrong baud rate looks like that). Every segment the port disappears:
gse_sim is stopped, the relay's pseudo-terminal is closed and a new one is put
behind the same symlink (the --port), with a new gse_sim behind it. With
--disk-mb, the recording lies on a tmpfs of that size (needs root) which is
filled to the last byte now and then for one relay piece and freed again: the
station must say at once that it is not recording, hold what it can, and say
how many bytes are missing when writing resumes. The run ends with a quit
(SIGTERM) during a stream of noise.

Checks at the end:
  - the recording equals the bytes sent, in order, but for the gaps the
    station announced (a full disk) and what the final quit may drop: the
    bytes the station never took off the device, and at most one frame (200
    bytes) of what it had read ahead;
  - every time the disk filled, the station said so, and it said how many
    bytes are missing once it could write again; the exit status says a
    recording lost bytes (3) exactly when a gap was announced;
  - the final quit took effect within the link's time-out (1.05 s), and the
    stop command "3\r" reached the link;
  - the resident memory stays flat (after warm-up, growth within 5 %);
  - every frame that a correct receiver accepts from those bytes was shown
    (the hex dumps in the trace equal the reference receiver's good frames).

With --trace-stall S, the trace's reader stops reading for S seconds every
10 to 30 s: the station holds the trace meanwhile (nothing else waits for it)
and every check above still holds.

With --broker, the station also publishes to a local mosquitto, which is
paused (SIGSTOP) for 20 s at a quarter and at three fifths of the run and
killed and started again after 5 s at two fifths and four fifths of it; a
mosquitto_sub takes every frame message. Further checks: no frame came to
the subscriber twice or out of order, nor more than were published; the last
frame shown reached it; frames reached it after every outage; the station
said every kill ("connected again") and every outage with its reason; what
it could not send (the broker slow or away) is counted in its summary and
makes its exit status 7. The frames published but lost in the outages are
reported.

usage: soak.py --bin BIN_DIR --duration SECONDS [--work DIR] [--segment S]
               [--modes FULL,PACED,NOISE] [--disk-mb MB] [--fill-chance P]
               [--trace-stall S] [--broker]
"""
import argparse
import atexit
import glob
import json
import os
import random
import re
import fcntl
import select
import socket
import signal
import stat
import subprocess
import sys
import termios
import threading
import time
import tty

FAULTS = ["--noise", "0.02", "--bad-checksum", "0.01", "--illegal-escape", "0.01", "--cut", "0.01"]
LINK_RATE = 1920.0        # bytes/s: 19200 baud, 8N1
LINK_TIMEOUT_S = 1.05     # the station's read time-out
QUIT_BOUND_S = 1.05       # a quit takes effect within the link's time-out
READ_AHEAD_BYTES = 200    # what a quit may drop of the bytes the station took
NOISE_BURST_CHANCE = 0.02  # per chunk taken from gse_sim at full rate
NOISE_BURST_MAX = 4096     # bytes; far below MAX_BACKLOG
# Noise never holds 0xEB, so it never holds a sync word: the receiver hunts.
NO_SYNC = bytes.maketrans(b"\xeb", b"\x00")


def noise(n):
    return os.urandom(n).translate(NO_SYNC)


def log(msg):
    print(f"soak {time.strftime('%H:%M:%S')} {msg}", flush=True)


def rss_kb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def has_open(pid, path):
    for fd in glob.glob(f"/proc/{pid}/fd/*"):
        try:
            if os.readlink(fd) == path:
                return True
        except OSError:
            pass
    return False


def wait_for(cond, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if cond():
            return True
        time.sleep(0.05)
    log(f"timed out waiting for {what}")
    return False


class Sim:
    """gse_sim on a pty of its own; the relay reads its link side."""

    def __init__(self, bin_dir, seed, first_count):
        self.proc = subprocess.Popen(
            [os.path.join(bin_dir, "gse_sim"), "--pty", "--rate", "0", "--seed", str(seed),
             "--first-count", str(first_count), "--quiet"] + FAULTS,
            stdout=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline().split()
        if len(first) != 2 or first[0] != "pty":
            raise RuntimeError(f"gse_sim did not print its pty: {first}")
        self.fd = os.open(first[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

    def stop(self):
        os.close(self.fd)
        self.proc.send_signal(signal.SIGTERM)
        out = self.proc.communicate(timeout=20)[0]
        return out.strip().splitlines()[-1] if out.strip() else ""


class Port:
    """The station's side: a new pseudo-terminal behind the symlink."""

    def __init__(self, link_path):
        self.master, self.slave = os.openpty()
        tty.setraw(self.master)
        tty.setraw(self.slave)
        os.set_blocking(self.master, False)
        self.path = os.ttyname(self.slave)
        tmp = link_path + ".new"
        if os.path.lexists(tmp):
            os.unlink(tmp)
        os.symlink(self.path, tmp)
        os.replace(tmp, link_path)

    def close(self, link_path):
        os.unlink(link_path)
        os.close(self.master)
        os.close(self.slave)

    def unread(self):
        """Bytes waiting in the station's input queue."""
        return int.from_bytes(fcntl.ioctl(self.slave, termios.FIONREAD, b"\0\0\0\0"), sys.byteorder)

    def drain(self, quiet_s=0.5):
        """Reads what the station left in its input queue, until it stays
        empty for quiet_s. Returns the count."""
        os.set_blocking(self.slave, False)
        total = 0
        while True:
            try:
                got = os.read(self.slave, 65536)
                total += len(got)
                continue
            except BlockingIOError:
                pass
            if not select.select([self.slave], [], [], quiet_s)[0]:
                return total


class Disk:
    """A tmpfs for the recording that can be filled to the last byte and
    freed again."""

    def __init__(self, path, size_mb):
        os.makedirs(path, exist_ok=True)
        subprocess.run(["umount", path], stderr=subprocess.DEVNULL)
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size_mb}m", "tmpfs", path], check=True)
        atexit.register(self.unmount)
        self.path = path
        self.ballast = os.path.join(path, "ballast")

    def fill(self):
        fd = os.open(self.ballast, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        try:
            for size in (1 << 20, 4096, 1):  # then to the very last byte
                chunk = b"\0" * size
                try:
                    while os.write(fd, chunk) > 0:
                        pass
                except OSError:
                    pass
        finally:
            os.close(fd)

    def free(self):
        if os.path.exists(self.ballast):
            os.unlink(self.ballast)

    def unmount(self):
        if os.path.ismount(self.path):
            self.free()
            subprocess.run(["umount", "-l", self.path])


def said_lines(said_path):
    with open(said_path, errors="replace") as f:
        return [line for line in f if line.startswith("NOT RECORDING") or line.startswith("Recording ")]


def said_count(said_path, what):
    return sum(1 for line in said_lines(said_path) if what in line)


GAP = re.compile(r"(\d+) received bytes are missing from the file \(a gap at byte (\d+)\)")


def announced_gaps(said_path):
    """(offset in the file, byte count) of every gap the station announced."""
    gaps = []
    for line in said_lines(said_path):
        m = GAP.search(line)
        if m:
            gaps.append((int(m.group(2)), int(m.group(1))))
    return gaps


def missing(said_path):
    return sum(n for _, n in announced_gaps(said_path))


def equal_but_gaps(rec_path, sent_path, gaps):
    """The recording equals the bytes sent with the announced gaps cut out
    (and may end early, at the final quit)."""
    with open(rec_path, "rb") as rec, open(sent_path, "rb") as sent:
        at = 0  # offset in the recording
        for gap_at, n in sorted(gaps) + [(None, 0)]:
            length = None if gap_at is None else gap_at - at
            while length is None or length > 0:
                step = 1 << 20 if length is None else min(1 << 20, length)
                a, b = rec.read(step), sent.read(step)
                if length is None:
                    if a != b[:len(a)]:
                        return False
                    if len(a) < step:
                        return True
                elif a != b or len(a) < step:
                    return False
                else:
                    length -= step
                at += len(a)
            sent.seek(n, os.SEEK_CUR)
    return True


# Bytes sent but not yet recorded that the relay allows. The station reads
# ahead into a bounded buffer; keeping the link's own queue from filling up
# avoids a pseudo-terminal stall in which the last bytes before a pause are
# only delivered with the next write (never, once the port is gone).
MAX_BACKLOG = 32768


def relay(sim, port, sent, seconds, stats, backlog, mode="full", rng=None, uplink=None):
    """Forwards bytes to the station for `seconds`, and the station's
    acknowledgements back (to gse_sim, or into `uplink` without one).
    Modes: "full" takes gse_sim's bytes as fast as the station takes them,
    with now and then a burst of noise between two of its chunks; "paced"
    takes them at the link's rate; "noise" sends noise at the link's rate
    instead. Returns the bytes forwarded."""
    start = time.monotonic()
    end = start + seconds
    pending = b""
    forwarded = 0
    last = time.monotonic()
    while True:
        now = time.monotonic()
        if now >= end and not pending:
            break
        due = forwarded + 1 if mode == "full" else int(LINK_RATE * (now - start)) + 1
        take = not pending and now < end and backlog(forwarded) < MAX_BACKLOG and forwarded < due
        if take and mode == "noise":
            pending = noise(min(due - forwarded, 64))
            take = False
        elif take and mode == "full" and rng is not None and rng.random() < NOISE_BURST_CHANCE:
            pending = noise(rng.randint(1, NOISE_BURST_MAX))
            take = False
        rd = [port.master] + ([sim.fd] if take else [])
        wr = [port.master] if pending else []
        idle = 0.2 if mode == "full" else 0.01
        r, w, _ = select.select(rd, wr, [], idle if take or pending else 0.002)
        if sim is not None and sim.fd in r:
            try:
                pending = os.read(sim.fd, 65536 if mode == "full" else max(1, min(due - forwarded, 64)))
            except BlockingIOError:
                pending = b""
        if port.master in w and pending:
            try:
                n = os.write(port.master, pending)
            except BlockingIOError:
                n = 0
            if n > 0:
                sent.write(pending[:n])
                forwarded += n
                pending = pending[n:]
                t = time.monotonic()
                stats["max_gap"] = max(stats["max_gap"], t - last)
                last = t
        if port.master in r:
            try:
                up = os.read(port.master, 4096)
                if up and sim is not None:
                    os.write(sim.fd, up)
                elif up and uplink is not None:
                    uplink.extend(up)
            except (BlockingIOError, OSError):
                pass
    return forwarded


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    """A local mosquitto the station publishes to, and a subscriber that
    notes when each frame's sequence number came."""

    def __init__(self, work):
        self.port = free_port()
        self.conf = os.path.join(work, "mosquitto.conf")
        with open(self.conf, "w") as f:
            # No queue limit towards the subscriber: what it misses must be
            # the station's doing (or an outage's), not the broker's.
            f.write(f"listener {self.port} 127.0.0.1\nallow_anonymous true\npersistence false\n"
                    "max_queued_messages 0\nmax_queued_bytes 0\n")
        self.log = open(os.path.join(work, "mosquitto.txt"), "w")
        self.outages = []  # (kind, start, end) in time.monotonic()
        self.frames = []   # (arrival, session, seq)
        self.start()
        self.sub = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.port), "-t", "soak/frame"],
                                    stdout=subprocess.PIPE, text=True)
        threading.Thread(target=self.take, daemon=True).start()

    def start(self):
        self.proc = subprocess.Popen(["mosquitto", "-c", self.conf], stdout=self.log, stderr=self.log)
        def up():
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                return False
        if not wait_for(up, 20, "mosquitto to listen"):
            raise RuntimeError("mosquitto did not start")

    def take(self):
        seq_re = re.compile(r'"session":"([0-9a-f]+)".*?"seq":(\d+)')
        for line in self.sub.stdout:
            m = seq_re.search(line)
            if m:
                self.frames.append((time.monotonic(), m.group(1), int(m.group(2))))

    def pause(self, seconds):
        t = time.monotonic()
        self.proc.send_signal(signal.SIGSTOP)
        time.sleep(seconds)
        self.proc.send_signal(signal.SIGCONT)
        self.outages.append(("pause", t, time.monotonic()))

    def kill(self, seconds):
        t = time.monotonic()
        self.proc.kill()
        self.proc.wait()
        time.sleep(seconds)
        self.start()
        self.outages.append(("kill", t, time.monotonic()))

    def stop(self):
        time.sleep(2)  # the last frames on their way to the subscriber
        self.sub.terminate()
        self.sub.wait()
        self.proc.terminate()
        self.proc.wait()

    def check(self, published, shown, failures):
        """The frames received against what the station says it published
        (`published`: sent to the broker; the others of the `shown` frames
        were dropped from its queue while the broker was slow or away, and
        counted)."""
        sessions = {s for _, s, _ in self.frames}
        if len(sessions) != 1:
            failures.append(f"the subscriber saw {len(sessions)} publishing sessions, expected 1")
            return
        seqs = [q for _, _, q in self.frames]
        if any(b <= a for a, b in zip(seqs, seqs[1:])):
            failures.append("a frame came twice or out of order to the subscriber")
        lost = published - len(seqs)  # sent to a broker, never received
        log(f"broker: {len(seqs)} frames received of {published} published and {shown} shown; {lost} lost "
            f"in {len(self.outages)} outages ({', '.join(k for k, _, _ in self.outages)}); the last seq "
            f"{seqs[-1] if seqs else 0}")
        if lost < 0 or len(seqs) > shown:
            failures.append("the subscriber received more frames than the station published")
        if not seqs or seqs[-1] != shown:
            failures.append(f"the last frame shown ({shown}) did not reach the subscriber")
        for k, t0, t1 in self.outages:
            if not any(t > t1 for t, _, _ in self.frames):
                failures.append(f"no frame reached the subscriber after the {k} of the broker")


def stalling_reader(fifo, out, stall_s, seed):
    """Copies the trace from the FIFO to `out`, stopping for stall_s seconds
    every 10 to 30 s; counts the stalls in STALLS."""
    r = random.Random(seed)
    fd = os.open(fifo, os.O_RDONLY)
    next_stall = time.monotonic() + r.uniform(10, 30)
    while True:
        if time.monotonic() >= next_stall:
            time.sleep(stall_s)
            STALLS[0] += 1
            next_stall = time.monotonic() + r.uniform(10, 30)
        chunk = os.read(fd, 1 << 16)
        if not chunk:
            break
        out.write(chunk)
        out.flush()
    os.close(fd)
    out.close()


STALLS = [0]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--duration", type=float, default=600)
    ap.add_argument("--segment", type=float, default=60, help="mean seconds between port losses")
    ap.add_argument("--work", default="/tmp/gse_soak")
    ap.add_argument("--modes", default="6,3,1",
                    help="weights of the relay's modes: full rate, link rate, noise at the link rate")
    ap.add_argument("--disk-mb", type=int, default=0,
                    help="put the recording on a tmpfs of this size that fills and frees (root only)")
    ap.add_argument("--trace-stall", type=float, default=0,
                    help="the trace's reader stalls this long (s) every 10 to 30 s; 0: never")
    ap.add_argument("--broker", action="store_true",
                    help="publish to a local mosquitto that is paused and killed twice each")
    ap.add_argument("--fill-chance", type=float, default=0.15,
                    help="chance that a relay piece runs with the disk full")
    a = ap.parse_args()
    weights = [float(w) for w in a.modes.split(",")]
    a.bin = os.path.abspath(a.bin)

    os.makedirs(a.work, exist_ok=True)
    for old in glob.glob(os.path.join(a.work, "*")):
        if os.path.isfile(old) or os.path.islink(old) or stat.S_ISFIFO(os.lstat(old).st_mode):
            os.unlink(old)
    disk = Disk(os.path.join(a.work, "disk"), a.disk_mb) if a.disk_mb else None
    rec_dir = disk.path if disk else a.work
    link_path = os.path.join(a.work, "ttyGSE")
    sent_path = os.path.join(a.work, "sent.bin")
    bounds_path = os.path.join(a.work, "boundaries.txt")
    shown_path = os.path.join(a.work, "shown.jsonl")
    said_path = os.path.join(a.work, "said.txt")
    rng = random.Random(8)

    port = Port(link_path)
    # The trace goes through a FIFO to grep, which keeps only the hex dumps
    # and the time-outs; standard output keeps what the station says.
    trace_fifo = os.path.join(a.work, "trace.fifo")
    os.mkfifo(trace_fifo)
    if a.trace_stall > 0:
        # A reader that stalls now and then: the station must hold the trace
        # meanwhile, never its reception.
        grep = subprocess.Popen(["sh", "-c", 'exec grep --line-buffered -E "PANEL_HEXDUMP|\\"SetComTime\\"" > "$0"',
                                 shown_path], stdin=subprocess.PIPE)
        threading.Thread(target=stalling_reader, args=(trace_fifo, grep.stdin, a.trace_stall, rng.random()),
                         daemon=True).start()
    else:
        grep = subprocess.Popen(["sh", "-c", 'exec grep --line-buffered -E "PANEL_HEXDUMP|\\"SetComTime\\"" < "$0" > "$1"',
                                 trace_fifo, shown_path])
    said = open(said_path, "w")
    broker = Broker(a.work) if a.broker else None
    publish = ["--publish", f"mqtt://127.0.0.1:{broker.port}/soak"] if broker else []
    station = subprocess.Popen(
        [os.path.join(a.bin, "vst_gse"), "--headless", "--port", link_path, "--trace", trace_fifo] + publish,
        cwd=rec_dir, stdout=said)
    atexit.register(lambda: station.poll() is None and station.kill())  # never left behind
    pid = station.pid
    ok = wait_for(lambda: os.path.exists(shown_path) and '"seconds":1.05' in open(shown_path).read(), 30,
                  "the end of the start-up drain")
    if not ok or station.poll() is not None:
        log("station did not start")
        return 1

    sent = open(sent_path, "wb")
    bounds = []
    total = 0
    stats = {"max_gap": 0.0}
    rss = []
    start = time.monotonic()
    seg = 0
    first_count = 0
    failures = []
    modes = {"full": 0, "paced": 0, "noise": 0}
    fills = 0
    lost = [0]  # bytes the station said are missing from its recording
    if broker:
        def outages():
            for at, what in ((0.25, "pause"), (0.4, "kill"), (0.6, "pause"), (0.8, "kill")):
                time.sleep(max(0.0, start + a.duration * at - time.monotonic()))
                log(f"broker: {what}")
                broker.pause(20) if what == "pause" else broker.kill(5)
        threading.Thread(target=outages, daemon=True).start()

    while time.monotonic() - start < a.duration:
        if seg > 0:
            port = Port(link_path)
            if not wait_for(lambda: has_open(pid, port.path), 30, "the station to reopen the port"):
                failures.append("the station did not reopen the port")
                break
        sim = Sim(a.bin, seed=100 + seg, first_count=first_count)
        seconds = min(a.segment * rng.uniform(0.6, 1.4), a.duration - (time.monotonic() - start))
        seg_start = time.monotonic()
        rec_path = glob.glob(os.path.join(rec_dir, "*.dat"))[0]
        base = total
        backlog = lambda fwd: base + fwd - lost[0] - os.path.getsize(rec_path)
        while time.monotonic() - seg_start < seconds:
            base = total
            mode = rng.choices(["full", "paced", "noise"], weights)[0]
            modes[mode] += 1
            full = disk is not None and rng.random() < a.fill_chance
            filler = None
            if full:
                # The file does not grow now: keep the station's input queue
                # short instead. The disk fills beside the relay: filling
                # 2 GB can take longer than the link's time-out, and a pause
                # that long in the middle of a frame would rightly cost the
                # station that frame, which the reference receiver does not
                # model.
                filler = threading.Thread(target=disk.fill)
                filler.start()
                fills += 1
            piece = relay(sim, port, sent, min(5.0, seconds - (time.monotonic() - seg_start)), stats,
                          (lambda fwd: port.unread()) if full else backlog, mode, rng)
            if filler is not None:
                filler.join()
            total += piece
            sent.flush()
            if full and piece == 0:
                disk.free()  # nothing came to be written meanwhile
                fills -= 1
            elif full:
                told = wait_for(lambda: said_count(said_path, "NOT RECORDING") >= fills, 10,
                                "the station to say it is not recording")
                disk.free()
                if not told:
                    failures.append(f"the disk filled (time {fills}) and the station said nothing")
                elif not wait_for(lambda: said_count(said_path, "written again") >= fills, 10,
                                  "the station to say the recording is written again"):
                    failures.append(f"the disk was freed (time {fills}) and the station did not say so")
                lost[0] = missing(said_path)
            if mode == "noise":
                # Let the station read it all and time out (the link stays
                # silent longer than its time-out), so the stream is cut at a
                # known place: a frame the noise broke into ends there.
                wait_for(lambda: os.path.getsize(rec_path) + lost[0] >= total, 30,
                         "the recording after noise")
                time.sleep(LINK_TIMEOUT_S + 0.5)
                bounds.append(total)
            rss.append((time.monotonic() - start, rss_kb(pid)))
        summary = sim.stop()
        # Wait until the station has read (and recorded) everything sent.
        rec = glob.glob(os.path.join(rec_dir, "*.dat"))
        caught_up = lambda: os.path.getsize(rec[0]) + lost[0] >= total
        if not rec or not wait_for(caught_up, 30, "the recording to catch up"):
            failures.append(f"recording {total - os.path.getsize(rec[0]) if rec else total} bytes behind "
                            f"after segment {seg}")
        bounds.append(total)
        log(f"segment {seg}: {total} bytes sent so far, rss {rss[-1][1]} kB; {summary}")
        port.close(link_path)
        time.sleep(rng.uniform(1.0, 3.0))  # the port stays away for a while
        first_count = (first_count + 100000) & 0x1FFFFF
        seg += 1
    # The end: a quit during a stream of noise on a fresh port.
    dropped_ok = 0
    port = Port(link_path)
    rc = None
    if not wait_for(lambda: has_open(pid, port.path), 30, "the station to reopen the port"):
        failures.append("the station did not reopen the port for the final quit")
    else:
        rec_path = glob.glob(os.path.join(rec_dir, "*.dat"))[0]
        base = total
        uplink = bytearray()
        total += relay(None, port, sent, 3.0, stats,
                       lambda fwd: base + fwd - lost[0] - os.path.getsize(rec_path), "noise",
                       uplink=uplink)
        sent.close()
        quit_start = time.monotonic()
        station.send_signal(signal.SIGTERM)
        try:
            rc = station.wait(timeout=30)
        except subprocess.TimeoutExpired:
            station.kill()
            rc = station.wait()
        quit_s = time.monotonic() - quit_start
        try:
            os.set_blocking(port.master, False)
            uplink.extend(os.read(port.master, 4096))
        except (BlockingIOError, OSError):
            pass
        never_taken = port.drain()
        dropped_ok = never_taken + READ_AHEAD_BYTES
        log(f"final quit during noise: exit {rc} after {quit_s:.3f} s; uplink {bytes(uplink[-16:])!r}; "
            f"{never_taken} bytes never taken off the device")
        if quit_s > QUIT_BOUND_S:
            failures.append(f"the final quit took {quit_s:.2f} s (bound {QUIT_BOUND_S} s)")
        if not uplink.endswith(b"3\r"):
            failures.append("the stop command did not reach the link at the quit")
        port.close(link_path)
    if not sent.closed:
        sent.close()
    if rc is None:
        station.send_signal(signal.SIGTERM)
        try:
            rc = station.wait(timeout=30)
        except subprocess.TimeoutExpired:
            station.kill()
            rc = station.wait()
    grep.wait()
    said.close()
    gaps = announced_gaps(said_path)
    want_rc = 3 if gaps else 0
    if broker:
        broker.stop()
        # The station's log beside its recording (the broker's is in the work folder too).
        logs = [p[:-4] + ".log" for p in glob.glob(os.path.join(rec_dir, "*.dat"))]
        said_text = open(logs[0], errors="replace").read() if logs and os.path.exists(logs[0]) else ""
        m = re.search(r"published to \S+: frames (\d+), messages dropped (\d+), broker outages (\d+)", said_text)
        if not m:
            failures.append("the summary does not say what was published")
        else:
            log(f"station: frames {m.group(1)} published, {m.group(2)} messages dropped, {m.group(3)} outages")
            broker.check(int(m.group(1)), len(open(shown_path).read().split("PANEL_HEXDUMP")) - 1, failures)
            if int(m.group(2)) > 0 and not gaps:
                want_rc = 7  # messages dropped: sharing was incomplete
        kills = sum(1 for k, _, _ in broker.outages if k == "kill")
        if said_text.count("publish: connected again") < kills:
            failures.append(f"the station did not say it connected again after each of {kills} broker kills")
        if "Unknown error" in said_text:
            failures.append("an outage was said without its reason (\"Unknown error\")")
    if rc != want_rc:
        failures.append(f"station exit status {rc}, expected {want_rc} ({len(gaps)} gaps announced)")
    with open(bounds_path, "w") as f:
        f.write("".join(f"{b}\n" for b in bounds))

    # 1. The recording equals the bytes sent, but for the announced gaps and
    # what the final quit may drop.
    rec = glob.glob(os.path.join(rec_dir, "*.dat"))
    same = False
    short = None
    gap_bytes = sum(n for _, n in gaps)
    if len(rec) == 1:
        rec_size = os.path.getsize(rec[0])
        short = total - gap_bytes - rec_size
        same = 0 <= short <= dropped_ok and equal_but_gaps(rec[0], sent_path, gaps)
    log(f"recording {rec[0] if rec else '(none)'}: {'equals' if same else 'DIFFERS FROM'} the {total} bytes sent"
        f" but {len(gaps)} announced gaps of {gap_bytes} bytes in all"
        f" ({short} short at the final quit, {dropped_ok} allowed); the disk filled {fills} times")
    if not same:
        failures.append("recording differs from what was sent")

    # 2. Memory stays flat: the largest RSS of the last half against the
    # largest of the first quarter after 30 s of warm-up, within 5 % (and
    # the recording's bounded backlog when the disk fills).
    samples = [(t, k) for t, k in rss if k is not None and t >= 30]
    if len(samples) >= 4:
        q = samples[: max(1, len(samples) // 4)]
        h = samples[len(samples) // 2:]
        early, late = max(k for _, k in q), max(k for _, k in h)
        growth = (late - early) / early * 100
        log(f"rss early max {early} kB, late max {late} kB, growth {growth:+.2f} %; "
            f"min {min(k for _, k in samples)} max {max(k for _, k in samples)}")
        # A full disk makes the station hold up to 1 MiB of the recording in
        # memory (two buffers of it at worst): that much is bounded, not a leak.
        # A stalled trace reader makes it hold up to 16 MiB of trace lines
        # (a queue that may have grown to twice that): bounded too.
        allowed_kb = early * 0.05 + (2.5 * 1024 if disk else 0) + (32 * 1024 if a.trace_stall > 0 else 0)
        if late - early > allowed_kb:
            failures.append(f"rss grew {growth:.1f} %")
    with open(os.path.join(a.work, "rss.txt"), "w") as f:
        f.write("".join(f"{t:.1f} {k}\n" for t, k in rss))

    # 3. Every good frame was shown, in order.
    check = subprocess.Popen([os.path.join(a.bin, "gse_soak_check"), sent_path, bounds_path],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    shown_n = 0
    want_n = 0
    mismatch = None
    with open(shown_path) as f:
        dumps = (json.loads(line)["value"].replace("\n", "") for line in f if "PANEL_HEXDUMP" in line)
        for want in check.stdout:
            want = want.strip()
            want_n += 1
            got = next(dumps, None)
            if got is not None:
                shown_n += 1
            if got != want and mismatch is None:
                mismatch = (want_n, got, want)
        shown_n += sum(1 for _ in dumps)
    check_summary = check.stderr.read().strip()
    check.wait()
    log(f"reference receiver: {check_summary}")
    log(f"frames shown {shown_n}, good frames sent {want_n}, largest relay gap {stats['max_gap']:.2f} s")
    if mismatch or shown_n != want_n:
        failures.append(f"shown frames differ from the good frames sent (first at {mismatch[0] if mismatch else '-'})")

    elapsed = time.monotonic() - start
    if a.trace_stall > 0:
        log(f"the trace's reader stalled {STALLS[0]} times for {a.trace_stall} s")
    log(f"relay pieces: {modes['full']} at full rate, {modes['paced']} at the link rate, "
        f"{modes['noise']} of noise without sync words")
    log(f"{seg} segments in {elapsed:.0f} s, {total / elapsed / 1000:.1f} kB/s, "
        f"{want_n / elapsed:.0f} good frames/s ({want_n / 9.6 / 3600:.1f} h of link time)")
    if disk:
        disk.unmount()
    if failures:
        for f in failures:
            log(f"FAIL: {f}")
        return 1
    log("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
