// Publishing a session to an MQTT broker (--publish, or the window's
// setting): every good frame as the panel showed it (PREFIX/frame, its
// bytes; PREFIX/values, its values with units and limit states), the link's
// health (PREFIX/health, retained, every second and at every change), the
// session log (PREFIX/log) and the station's status (PREFIX/status,
// retained, with a last will that says offline when the station vanishes).
// Topics and payloads: docs/mqtt.md.
//
// Never at the link's expense. On the system's thread, a good frame is only
// copied into a bounded queue (a FrameObserver, runtime/hooks.h); a thread
// of the publisher's own formats and sends it. A broker that is slow,
// unreachable or gone costs the system's thread nothing: the queue holds
// the newest `queue_frames` frames and log lines, dropping the oldest and
// counting them. In playback there is no link to keep up with: while the
// broker takes messages (and for up to 2 s while the first connection is
// made), the system's thread waits for room (looking for a quit every
// QUIT_POLL_MS), so a recording pushed at speed 0 reaches the broker whole;
// a broker that takes nothing for PLAYBACK_WAIT_MS counts as slow, and the
// queue then drops as in live mode until it has emptied.
//
// The publisher says once, in the log, what went wrong (a refused login or
// a certificate that does not verify also on standard output, and those set
// the exit status EXIT_SHARING_INCOMPLETE, as do dropped messages), tries
// again with a back-off from BACKOFF_MIN_S doubling to BACKOFF_MAX_S, says
// when it is back and what the outage cost, and reports outages and drops
// in the summary. Qt-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "publish/broker.h"
#include "publish/messages.h"

namespace rt {

constexpr size_t DEFAULT_QUEUE_FRAMES = 4096;  // about 7 minutes of the link
// --publish-queue at most: each frame held takes about 2.5 KiB (its bytes
// and the values it wrote), so the queue stays under 250 MiB.
constexpr long MAX_QUEUE_FRAMES = 100000;
constexpr int PLAYBACK_WAIT_MS = 2000;
constexpr double BACKOFF_MIN_S = 0.5;
constexpr double BACKOFF_MAX_S = 15.0;
constexpr int HEALTH_EVERY_MS = 1000;  // and at every change of the state
// At the end of the session the publisher sends what is queued while the
// broker takes it: until the queue is empty, the broker has taken nothing
// for STOP_FLUSH_MS, or STOP_FLUSH_MAX_S have passed; then it says offline
// and leaves.
constexpr int STOP_FLUSH_MS = 700;
constexpr double STOP_FLUSH_MAX_S = 5.0;

struct PublishSettings {
  BrokerAddress address;
  BrokerLogin login;
  size_t queue_frames = DEFAULT_QUEUE_FRAMES;
};

// Joins the publisher to the run-time's calls (runtime/hooks.h), once: the
// program start and every test program call it. Nothing is published until
// publish_start.
void publish_install();

// Who publishes: the program's version, its mode ("live", "playback" or
// "link_replay", as every message says it) and the device or recording.
// Set at program start, before publish_start.
void publish_set_station(const std::string& version, const std::string& mode, const std::string& source);

// Whether the alarm sound is muted (the window says so at its start and at
// every change); the published alarm list carries it.
void publish_set_alarms_muted(bool muted);

// Starts publishing (a new session id; the log from its first entry when
// `whole_log`, else from now). False with *error when it already publishes.
// The broker is reached in the background: its failures are said there.
bool publish_start(const PublishSettings& settings, bool whole_log, std::string* error);
// Stops: sends what is queued (STOP_FLUSH_MS), says offline ("the station
// quit"), leaves the broker; adds the summary's "publish" part and notes the exit
// status when messages were dropped or the broker refused us. Any thread;
// nothing when not publishing. Waits for the stops started in the
// background too: the program's end calls it before the summary.
void publish_stop();
// The same, without waiting: publishing ends at once (publish_state() is Off)
// and the publisher sends what is queued and leaves on a thread of its own,
// so a slow broker never holds up the caller (the window's Stop). The
// status says offline with "publishing stopped": the station goes on.
void publish_stop_in_background();

struct PublishState {
  enum class Phase { Off, Connecting, Connected, Down, Refused };
  Phase phase = Phase::Off;
  std::string broker;   // mqtt://HOST:PORT/PREFIX
  std::string reason;   // Down, Refused: why
  long long frames_sent = 0;
  long long dropped = 0;   // messages
  double down_s = 0.0;     // Down, Refused: for how long
};
// For the window (any thread).
PublishState publish_state();
// The settings of the publishing under way (the window offers them again).
PublishSettings publish_settings();
// The sequence number of the last frame offered to the publishing under
// way (0 before the first); false when not publishing. The system's thread.
bool publish_current_seq(uint64_t* seq);

}  // namespace rt
