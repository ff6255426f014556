#!/usr/bin/env bash
# Every message a station publishes, for proving that a change to the
# publisher's speed changed none of them (docs/performance.md):
#   bench/same_messages.sh BIN_DIR OUT_DIR [RECORDING]
# plays RECORDING (default: a gse_sim recording with faults, limit
# excursions and spectra, made by BIN_DIR's gse_sim) headless at --speed 0
# with --publish to a mosquitto of its own on a free loopback port, while
# mosquitto_sub -v records every topic under the prefix. It writes
#   OUT_DIR/exact.txt   frame, values, strip, status and log, topic by topic in
#                       the order received (the log sorted), the session
#                       id and the times of sending blanked out, and the last panel, alarm list
#                       and link status whole;
#   OUT_DIR/timed.txt   every form (numbers blanked out) of health, spectra,
#                       link_status, alarms and panel, which go by the clock
#                       or as the latest state only (how many: timing), and
#                       the log's lines of the link's state (a watcher's);
#   OUT_DIR/sums.txt    the SHA-256 of both and the message counts.
# Compare two builds with
#   diff OUT_A/sums.txt OUT_B/sums.txt   (and diff the files themselves)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 2 ] && [ $# -le 3 ] || { echo "usage: bench/same_messages.sh BIN_DIR OUT_DIR [RECORDING]" >&2; exit 2; }
bin=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
work=$(mktemp -d)
broker_pid=""
sub_pid=""
cleanup() {
  [ -n "$sub_pid" ] && kill "$sub_pid" 2>/dev/null || true
  [ -n "$broker_pid" ] && kill "$broker_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

rec=${3:-}
if [ -z "$rec" ]; then
  # The same bytes for every build compared (gse_sim is seeded).
  rec=$work/41211230.dat  # named as the station names it: its start is known
  "$bin/gse_sim" --out "$rec" --frames 3000 --seed 11 --noise 0.02 --bad-checksum 0.02 \
    --cut 0.01 --escapes 0.05 --hk 16=60@100..400 --hk 8=0.2@900..950 --quiet
fi

. bench/local_broker.sh
start_local_broker "$work"

# The subscriber is ready once it receives what it publishes itself.
mosquitto_sub -h 127.0.0.1 -p "$port" -v -t 'same/#' > "$work/all.txt" &
sub_pid=$!
for _ in $(seq 200); do
  mosquitto_pub -h 127.0.0.1 -p "$port" -t same/ready -m ready
  grep -q '^same/ready ready$' "$work/all.txt" 2>/dev/null && break
  sleep 0.05
done

"$bin/vst_gse" --headless --speed 0 --publish "mqtt://127.0.0.1:$port/same" "$rec" > "$work/station.txt" 2>&1 || true
# The station's last word is its status going offline: wait for it.
for _ in $(seq 200); do
  grep -q '^same/status .*"state":"offline"' "$work/all.txt" && break
  sleep 0.05
done
kill "$sub_pid"
wait "$sub_pid" 2>/dev/null || true
sub_pid=""

python3 - "$work/all.txt" "$out" "$work" <<'PY'
import re, sys, hashlib, collections
lines = open(sys.argv[1], encoding="utf-8", errors="surrogateescape").read().splitlines()
out, work = sys.argv[2], sys.argv[3]
TIMED = ("health", "spectra", "link_status", "alarms", "panel")
by_leaf, forms, last = collections.defaultdict(list), set(), {}
for line in lines:
    topic, _, payload = line.partition(" ")
    leaf = topic.split("/", 1)[1]
    if leaf == "ready":
        continue
    p = payload.replace(work, "WORK")
    p = re.sub(r'"session":"[0-9a-f]{16}"', '"session":"S"', p)
    p = re.sub(r'"time_ms":\d+,"time":"[^"]*"', '"time_ms":T,"time":"T"', p)
    p = re.sub(r'"(first|last|acknowledged)_time_ms":\d+', r'"\1_time_ms":T', p)
    # The strip chart's points are stamped by the panel's clock.
    p = re.sub(r'"t_s":[-0-9.e]+', '"t_s":T', p)
    if leaf == "log":
        # The log's own times, session id, port and durations vary from run to run.
        p = re.sub(r'"local_time":"[^"]*"', '"local_time":"T"', p)
        p = re.sub(r'\b[0-9a-f]{16}\b', 'S', p)
        p = re.sub(r'\d+(\.\d+)?', '#', p)
    if leaf in TIMED or (leaf == "log" and '"text":"link: ' in p):
        # (The link's state is logged as a watcher sees it, by the clock.)
        # Sent by the clock or as the latest state only: how many depends on
        # timing. Their forms (numbers blanked), and the last one whole.
        if leaf == "log":
            forms.add(leaf + " " + p)
            continue
        forms.add(leaf + " " + re.sub(r'-?\d+(\.\d+)?([eE][-+]?\d+)?', '#', p))
        last[leaf] = p
    else:
        by_leaf[leaf].append(p)
# The log's lines come from several threads: their order is the clock's.
by_leaf["log"].sort()
exact = [leaf + " " + p for leaf in sorted(by_leaf) for p in by_leaf[leaf]]
exact += ["last " + leaf + " " + last[leaf] for leaf in sorted(last) if leaf not in ("health", "spectra")]
timed = sorted(forms)
open(out + "/exact.txt", "w").write("\n".join(exact) + "\n")
open(out + "/timed.txt", "w").write("\n".join(timed) + "\n")
with open(out + "/sums.txt", "w") as f:
    for name, text in (("exact.txt", exact), ("timed.txt", timed)):
        f.write("%s  %s\n" % (hashlib.sha256(("\n".join(text) + "\n").encode("utf-8", "surrogateescape")).hexdigest(), name))
    for leaf in sorted(by_leaf):
        f.write("%s %d messages\n" % (leaf, len(by_leaf[leaf])))
print(open(out + "/sums.txt").read(), end="")
PY
