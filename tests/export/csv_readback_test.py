#!/usr/bin/env python3
"""The analysis export (--csv, --csv-samples, --csv-spectra) of a recording
made by gse_sim, read back with Python's csv module: one line per record,
a fixed column count, numbers a reader parses, values that the frame's own
bytes give, the failures option, and a full or missing destination.

usage: csv_readback_test.py BIN_DIR
"""
import csv
import ctypes
import os
import signal
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import orphans  # noqa: E402  (the mark of this run's children)

BIN = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "build/bin")
VST_GSE = os.path.join(BIN, "vst_gse")
GSE_SIM = os.path.join(BIN, "gse_sim")
FRAMES = 400
BAD = (10, 250)  # frames that gse_sim sends with a bad checksum
TEXT_COLUMNS = {"status", "hexdump"}


def die_with_test():
    """In the child: killed when this test ends, however it ends."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def run(args, cwd, env=None, stdin=None):
    # The mark the end-of-run check looks for (tests/support/orphans.py).
    full_env = dict(os.environ, QT_QPA_PLATFORM="offscreen", GSE_TEST_CHILD_OF=orphans.child_mark(BIN))
    full_env.update(env or {})
    return subprocess.run(args, cwd=cwd, env=full_env, stdin=stdin, capture_output=True,
                          text=True, timeout=120, preexec_fn=die_with_test)


def read_rows(path):
    with open(path, newline="") as f:
        return list(csv.reader(f))


class Export(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = cls.tmp.name
        sim = run([GSE_SIM, "--seed", "7", "--frames", str(FRAMES), "--bad-checksum",
                   ",".join(map(str, BAD)), "--noise", "30", "--quiet", "--out", "rec.dat"], cls.dir)
        assert sim.returncode == 0, sim.stderr
        with open(os.path.join(cls.dir, "rec.dat"), "rb") as f:
            cls.rec = f.read()
        r = cls.export(["--csv", "pass.csv", "--csv-samples", "samples.csv",
                        "--csv-spectra", "spectra.csv", "--csv-failures", "--csv-hex"])
        assert r.returncode == 0, r.stdout + r.stderr
        cls.rows = read_rows(os.path.join(cls.dir, "pass.csv"))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def export(cls, options, env=None, source="rec.dat", stdin=None):
        return run([VST_GSE, "--headless", "--speed", "0"] + options + [source], cls.dir, env, stdin)

    def header(self):
        return self.rows[0]

    def records(self, status=None):
        h = self.header()
        out = [dict(zip(h, r)) for r in self.rows[1:]]
        return [r for r in out if status is None or (r["status"] == "ok") == (status == "ok")]

    def test_one_line_per_record_with_a_fixed_column_count(self):
        with open(os.path.join(self.dir, "pass.csv"), "rb") as f:
            raw = f.read()
        self.assertNotIn(b"\r", raw)
        self.assertNotIn(b'"', raw, "no field needs quoting")
        self.assertEqual(raw.count(b"\n"), len(self.rows), "no line break inside a field")
        for i, row in enumerate(self.rows):
            self.assertEqual(len(row), len(self.header()), "row %d" % i)
        for name in self.header():
            self.assertRegex(name, r"^[A-Za-z0-9_]+$")
        for name in ("hk00_V", "hk08_A", "hk16_degC", "angle_k2_deg", "elapsed_k1_s"):
            self.assertIn(name, self.header())

    def test_every_numeric_column_parses(self):
        for row in self.records():
            for name, value in row.items():
                if name in TEXT_COLUMNS or value == "":
                    continue
                float(value)  # raises on anything a reader would not take
                if name in ("frame", "offset_bytes", "fcount", "kind", "hk_slot", "hk_word"):
                    int(value)

    def test_values_equal_those_of_the_frame_bytes(self):
        good = self.records("ok")
        self.assertEqual(len(good), FRAMES - len(BAD))
        for n, row in enumerate(good, start=1):
            self.assertEqual(int(row["frame"]), n)
            at = int(row["offset_bytes"])
            frame = self.rec[at:at + 200]
            self.assertEqual(frame[:2], b"\xeb\x90", "offset %d is a sync word" % at)
            self.assertEqual(row["hexdump"], frame.hex().upper())
            count = (frame[3] & 0x1F) << 16 | frame[4] << 8 | frame[5]
            self.assertEqual(int(row["fcount"]), count)
            self.assertEqual(int(row["kind"]), count % 4)
            self.assertEqual(int(row["hk_slot"]), count % 40)
            f12 = struct.unpack(">f", frame[12:16])[0]
            self.assertEqual(float(row["f12"]), f12)
            word = struct.unpack(">H", frame[28:30])[0]
            self.assertEqual(int(row["hk_word"]), word)
            if count % 40 == 0:  # 0 to 10 V over the 16-bit word
                self.assertAlmostEqual(float(row["hk00_V"]), word * 10.0 / 65535.0, places=12)
            if count % 4 == 1:  # milliseconds
                ms = struct.unpack(">i", frame[6:10])[0]
                self.assertEqual(float(row["elapsed_k1_s"]), ms / 1000.0)

    def test_each_housekeeping_slot_only_in_its_own_frames_row(self):
        h = self.header()
        hk_columns = [c for c in h if c.startswith("hk") and c[2:4].isdigit()]
        seen = set()
        for row in self.records("ok"):
            slot = int(row["hk_slot"])
            filled = {c for c in hk_columns if row[c] != ""}
            own = {c for c in hk_columns if int(c[2:4]) == slot}
            self.assertEqual(filled, own, "frame %s, slot %d" % (row["frame"], slot))
            seen.add(slot)
        self.assertEqual(seen, set(range(40)))

    def test_failures_option_adds_exactly_the_failed_frames(self):
        failed = self.records("failed")
        self.assertEqual(len(failed), len(BAD))
        for row in failed:
            self.assertEqual(row["status"], "checksum_failure")
            self.assertEqual(row["frame"], "")
            at = int(row["offset_bytes"])
            self.assertEqual(self.rec[at:at + 2], b"\xeb\x90")
        r = self.export(["--csv", "plain.csv"])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        plain = read_rows(os.path.join(self.dir, "plain.csv"))
        without_hex = [r[:-1] for r in self.rows if r[self.header().index("status")] != "checksum_failure"]
        self.assertEqual(plain, without_hex)

    def test_samples_are_80_rows_per_frame(self):
        rows = read_rows(os.path.join(self.dir, "samples.csv"))
        self.assertEqual(rows[0], ["frame", "trace", "index", "value"])
        self.assertEqual(len(rows) - 1, 80 * (FRAMES - len(BAD)))
        first = self.records("ok")[0]
        frame = self.rec[int(first["offset_bytes"]):][:200]
        word1 = [int(r[3]) for r in rows[1:81] if r[1] == "word1"]
        self.assertEqual(word1, [struct.unpack(">H", frame[30 + 6 * g:32 + 6 * g])[0] for g in range(20)])
        self.assertEqual({r[1] for r in rows[1:]}, {"word1", "word2", "byte1", "byte2"})

    def test_spectra_hold_both_spectra(self):
        rows = read_rows(os.path.join(self.dir, "spectra.csv"))
        self.assertEqual(rows[0], ["spectrum", "channel", "position", "width", "total", "frames", "rate"])
        self.assertEqual(len(rows) - 1, 48 + 256)
        self.assertEqual(rows[1][:4], ["48", "0", "44", "4"])

    def test_a_foreign_locale_changes_no_number(self):
        if "de_DE.utf8" not in subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout:
            self.skipTest("locale de_DE.UTF-8 not generated")
        env = {"LC_ALL": "", "LANG": "de_DE.UTF-8", "LC_NUMERIC": "de_DE.UTF-8"}
        r = self.export(["--csv", "de.csv", "--csv-spectra", "de-spectra.csv"], env)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        r = self.export(["--csv", "c.csv", "--csv-spectra", "c-spectra.csv"])
        for a, b in (("de.csv", "c.csv"), ("de-spectra.csv", "c-spectra.csv")):
            with open(os.path.join(self.dir, a)) as fa, open(os.path.join(self.dir, b)) as fb:
                self.assertEqual(fa.read(), fb.read(), a)

    def test_input_read_once_gives_the_same_frames_without_offsets(self):
        with open(os.path.join(self.dir, "rec.dat"), "rb") as f:
            r = self.export(["--csv", "piped.csv"], source="-", stdin=f)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        piped = read_rows(os.path.join(self.dir, "piped.csv"))
        h = self.header()
        expected = [[v if h[i] != "offset_bytes" else "" for i, v in enumerate(row[:-1])]
                    for row in self.rows[1:] if row[h.index("status")] == "ok"]
        self.assertEqual(piped[1:], expected)

    def test_a_full_or_missing_destination_is_said_and_leaves_no_file(self):
        r = self.export(["--csv", "/dev/full"])
        self.assertEqual(r.returncode, 4)
        self.assertIn("cannot write CSV file /dev/full: No space left on device", r.stdout)
        r = self.export(["--csv-samples", "no/such/dir/s.csv"])
        self.assertEqual(r.returncode, 4)
        self.assertIn("cannot write CSV file no/such/dir/s.csv", r.stdout)
        r = self.export(["--csv", "ok.csv", "--csv-samples", "/dev/full"])
        self.assertEqual(r.returncode, 4)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "ok.csv")), "no file looks complete")
        self.assertFalse(os.path.exists(os.path.join(self.dir, "ok.csv.part")))


if __name__ == "__main__":
    unittest.main()
