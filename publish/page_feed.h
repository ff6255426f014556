// What a browser page needs to show the whole panel, beyond the frame and
// values messages: the displays' formats and limits (PREFIX/panel), the
// strip chart's points of each frame (PREFIX/strip), both spectra with their
// axes (PREFIX/spectra) and the link status line (PREFIX/link_status). The
// page decodes nothing: every figure it shows comes from the station's
// model. Payloads: docs/mqtt.md.
//
// Read from the panel model on the system's thread (a FrameObserver, and the
// publisher's frame follower); handed to the publisher's thread as the
// latest state of each retained topic, so a slow broker never makes them
// queue up. Spectra are taken at most every SPECTRA_EVERY_MS. Qt-free.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "publish/messages.h"

namespace rt {

class FrameObserver;
class PanelModel;

constexpr const char* TOPIC_PANEL = "panel";
constexpr const char* TOPIC_STRIP = "strip";
constexpr const char* TOPIC_SPECTRA = "spectra";
constexpr const char* TOPIC_LINK_STATUS = "link_status";
constexpr int SPECTRA_EVERY_MS = 1000;

// A message for the publisher to send as it is.
struct PageMessage {
  const char* leaf = "";
  std::string payload;
  bool retained = true;
};

// Follows the panel (its layout, limits, status line, spectra) on the
// system's thread. publish_install adds it after the publisher's own
// follower, so that a frame is offered before the feed looks at it.
FrameObserver* page_feed_observer();

// Whether the feed follows the panel (it does unless told otherwise). A run
// that can never publish (headless without --publish) says so before its
// panel loads, and its frames then cost the feed nothing.
void page_feed_follow(bool on);

// The publisher's follower: the strip chart's points that this good frame
// appended go with the frame (FrameRecord::strip).
void page_feed_frame(const PanelModel& model, FrameRecord* frame);

// The publisher's thread, while connected: what changed since the last
// call, with `station`'s session and the time of sending. `all`: every
// retained topic again (a new connection; the broker may have lost them).
std::vector<PageMessage> page_feed_take(const StationInfo& station, bool all);

// One frame's strip chart points, as a strip message carries them.
struct StripPoints {
  uint64_t seq = 0;
  int64_t time_ms = 0;
  double t_s = -1.0;
  std::array<std::vector<uint16_t>, 4> traces;
};

// The most frames one strip message carries: the publisher gathers the
// points of the frames it hands over together (a backlog: a playback at
// full speed, a link catching up) into one message, not one each.
constexpr size_t STRIP_FRAMES_MAX = 16;

// PREFIX/strip: the last of `parts` (its seq, times and points), the ones
// before it, oldest first, under "earlier"; written into *out (its text
// replaced), a buffer the caller keeps. `n` >= 1.
void strip_json(const StripPoints* parts, size_t n, const StationInfo& station, std::string* out);
// One frame's points.
std::string strip_json(const FrameRecord& frame, const StationInfo& station);

// For tests: forgets the panel and every state taken.
void page_feed_reset_for_tests();

}  // namespace rt
