// The remote viewer (vst_gse --subscribe mqtt://HOST[:PORT]/PREFIX): the
// station's panel on another machine. The frames a station publishes
// (PREFIX/frame) go through the system's own code path, as a playback input
// that yields them back to back (an InputFeed, runtime/hooks.h): the
// playback reader checks each, the decoder shows it, so the remote panel
// equals the station's frame for frame. Before a frame the input also yields
// as many zero bytes as the station's Skipped grew (at most MAX_PAD_BYTES a
// frame), so the reader counts them and the panel's Skipped reads the same.
//
// Read-only: the viewer runs as playback, so it never opens a serial port,
// and the system sends nothing in playback (the window also disables the
// Command switch). It subscribes to PREFIX/frame, PREFIX/health and
// PREFIX/status only, and what it reads is checked (publish/messages.h):
// a message that is too large, not JSON, lacks a field or holds no frame is
// refused, counted and logged, and the viewer goes on. The broker never
// sends it a packet larger than MAX_PACKET_BYTES.
//
// It shows the station's health (PREFIX/health), status and alarm list
// (PREFIX/alarms: the station's own, read-only: the viewer raises none),
// counts the frames it missed from the sequence numbers, records the frames
// it received to --record FILE (appended; plain frames that normal playback
// reads; opened as the station opens its recording: a regular file only,
// never through a symbolic link) and measures each frame's age when the
// panel shows it.
//
// A sequence number that jumps further than any station could have
// published since the last frame (MAX_FRAMES_PER_S over the time between,
// plus MAX_SEQ_SLACK) is refused as forged, not adopted; frames that go
// back are refused, unless SEQ_RESTART_RUN of them in a row follow each
// other (the frame adopted before was the forged one).
//
// Nothing waits without a bound: the broker is reached with a time-out
// (publish/mqtt_client.h), and a stop ends the broker's thread within
// STOP_JOIN_MS whatever the network does. Qt-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "publish/broker.h"
#include "publish/messages.h"
#include "runtime/session_watch.h"
#include "session/link_health.h"

namespace rt {

class FrameObserver;

constexpr size_t VIEWER_QUEUE_FRAMES = 4096;
constexpr long long MAX_PAD_BYTES = 1 << 20;
constexpr uint32_t MAX_PACKET_BYTES = 1 << 20;
// A station publishes its health every second: older than this, it is not
// heard (the broker, or the station, is gone).
constexpr double HEALTH_SILENT_S = 3.0;
// The highest rate a station publishes frames at (a recording pushed at
// speed 0 reaches about 60 000 a second), and the jump always let through.
constexpr double MAX_FRAMES_PER_S = 200000.0;
constexpr uint64_t MAX_SEQ_SLACK = 100000;
constexpr int SEQ_RESTART_RUN = 3;
constexpr int STOP_JOIN_MS = 500;

struct ViewerSettings {
  BrokerAddress address;
  BrokerLogin login;
  std::string record_path;  // "" = no recording
};

// Connects and subscribes, waiting for the broker's first answer (at most
// MqttClient::CONNECT_TIMEOUT_MS, less once a quit is pending). False with
// *error when the run cannot go on: the --record file cannot be opened, the
// broker refused the login, or its certificate does not verify. A broker
// that cannot be reached is no reason to end: the viewer says so and waits
// for it, as it waits for a station that has not started.
bool viewer_start(const ViewerSettings& settings, std::string* error);
// Called on the viewer's broker thread with each frame accepted, before it
// is recorded: its bytes and its time (the frame's own time where the
// station gives one, else the time the station showed it), in seconds since
// 1970. The program start joins it to the trends' clock.
void viewer_set_frame_listener(std::function<void(const uint8_t* bytes, double t_s)> listener);
// The playback input that yields the received frames: FileOpen(name, "rb").
std::string viewer_input_name();
bool viewer_active();
// Leaves the broker; adds the summary's "remote_view" part; notes
// EXIT_SHARING_INCOMPLETE when frames were missed or messages refused, and
// EXIT_RECORDING_LOST when received frames are missing from --record.
void viewer_stop();

struct ViewerState {
  enum class Phase { Off, Connecting, Connected, Down, Refused };
  Phase phase = Phase::Off;
  std::string broker;
  std::string reason;
  bool status_heard = false;
  StationStatus status;
  long long frames = 0;     // accepted
  long long missed = 0;     // from the sequence numbers
  long long refused = 0;    // messages refused (any reason)
  long long behind = 0;     // received but dropped: the panel fell behind
  std::string recording;    // --record FILE
  int64_t recording_from = 0;  // its size when this run opened it: this run's frames follow
  std::string recording_failure;
  std::string prefix;       // the station's topic prefix: "gse", "lab/vst/station1"
  std::string station;      // the station as the title names it: "PREFIX at HOST:PORT"
};
ViewerState viewer_state();

// The station's health as the window shows it: the last one heard, its ages
// grown by the time since. Not heard for HEALTH_SILENT_S (or never): state
// Waiting, stale, and a reason that says so.
// Not heard, its figures (bytes and frames per second) are NaN: the window
// shows none rather than old ones.
HealthSnapshot viewer_station_health();

// The station's alarm list as last heard (the rows on the session clock's
// origin, as the window's alarm pane reads them); version 0 before any.
// Its status counts the rows the station has not acknowledged, and its
// raises grow with every row that became unacknowledged.
AlarmsSnapshot viewer_station_alarms();
// Whether the station said its alarm sound is muted.
bool viewer_station_muted();

// The frame observer that times each received frame to the panel
// (publish_install registers it).
FrameObserver* viewer_observer();

}  // namespace rt
