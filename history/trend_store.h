// The trends of one recording: the values the operator plots, decoded from
// every frame of the recording, on the session's time axis. It is the one
// source of the trends: the recording read by replay/'s frame scanner (the
// playback reader's rules, or the live receiver's for a live recording or a
// link replay) and decoded by the value catalogue (values.h). Nothing is
// kept that the recording does not hold, but the time of reception of a
// live session's frames (reception.h) and, live, the frames shown that have
// not reached the disk yet (marked provisional; the recording's own copy
// replaces them once written).
//
// A thread of the store's own reads the file in the background and keeps
// reading as it grows. A file that shrinks, or whose bytes already read
// change (another recording put in its place), is read again from its
// start: the store drops everything first (the generation grows) and says
// why, so values of two files are never shown as one. A value asked for
// later is decoded by reading the file again; the others stay as they are.
// Qt-free; every public call is safe from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "history/event_marks.h"
#include "history/series.h"
#include "replay/recording_index.h"

namespace rt {

class ReceptionClock;
struct Pass;
struct ValueInfo;

struct TrendSource {
  std::string path;
  FrameRules rules = FrameRules::Playback;
  bool live = false;  // being recorded now: times from the reception clock
  // The first byte of the file read: a remote view's --record is appended
  // to, and only this run's frames have a time (the reception clock's).
  int64_t from_offset = 0;
  // No file at all: the frames the reception clock keeps whole (a remote
  // view without --record; `path` only names it). Needs `live`.
  bool memory = false;
};

// What the store holds; read it under the store's lock (TrendStore::read).
struct TrendData {
  std::vector<double> time_s;    // each frame's time (seconds since 1970)
  std::vector<int64_t> offset;   // its first byte in the recording, -1 if not there yet
  std::vector<int32_t> skipped;  // the discarded-byte count once it was taken
  std::map<std::string, Series, std::less<>> series;  // by value key
  size_t provisional = 0;  // the last frames, not in the recording yet (live)
  uint64_t generation = 0;  // as TrendStatus::generation
  size_t frames() const { return time_s.size(); }
};

enum class TrendState { Building, Ready, NoFrames, Failed };

struct TrendStatus {
  TrendState state = TrendState::Building;
  double progress = 0.0;      // share of the file read, while building
  std::string note;           // why it was built again, or why it failed
  uint64_t generation = 0;    // grows when everything was dropped and read again
  uint64_t revision = 0;      // grows with every change
  long frames = 0;
  bool start_known = false;   // playback: the recording's name gave its start
  bool start_from_log = false;  // to the millisecond, by the log beside it
  bool pass_times = false;    // playback: the session record's times (else estimated)
  bool log_read = false;      // the log beside the recording was read, or passed over for a session record (TrendStore::log_marks)
  std::string log_note;       // what of that log was not read, and why ("" when all or none)
  std::vector<std::string> pending;  // values asked for, not decoded yet
};

// The texts the store says (and tests look for).
extern const char* const NO_FRAMES_TEXT;  // "no frames found"

class TrendStore {
 public:
  // `clock`: the reception clock of a live source (else unused). The file
  // is looked at again every `poll_s`. With `pass` (a recording's session
  // record, history/pass.h): the frames the live panel showed, each at the
  // time it came, with its skipped count (the rules are then the link's).
  explicit TrendStore(TrendSource source, const ReceptionClock* clock = nullptr, double poll_s = 0.5,
                      std::shared_ptr<const Pass> pass = nullptr);
  ~TrendStore();
  TrendStore(const TrendStore&) = delete;
  TrendStore& operator=(const TrendStore&) = delete;

  const TrendSource& source() const { return source_; }
  const std::shared_ptr<const Pass>& pass() const { return pass_; }

  // The values to keep decoded (by key). Values no longer named are
  // dropped; new ones are decoded in the background.
  void want(const std::vector<std::string>& keys);
  TrendStatus status() const;
  // Waits until nothing is building or pending, or `timeout_s` passed.
  bool wait_idle(double timeout_s) const;
  // Runs `f` on the data under the store's lock (keep it short).
  void read(const std::function<void(const TrendData&)>& f) const;
  // The entries of the session log kept beside the recording (event_marks.h:
  // a regular file only, up to its bound), read once by the store's own
  // thread before the frames, never by the caller's. Empty until
  // status().log_read; always empty with a session record (its log
  // supersedes that file, which is then not read at all).
  std::vector<EventMark> log_marks() const;

 private:
  void run();
  bool poll_once();  // one look at the file; false when stopped
  void reset(const std::string& why);
  bool file_changed(std::string* why);
  bool decode_new_values(const std::vector<std::string>& keys);
  bool read_growth();
  // The memory source: the same three steps on the clock's frames.
  bool poll_memory();
  void decode_memory(const std::vector<std::string>& keys);
  void add_frame(TrendData& d, const uint8_t* frame, double t_s, int64_t offset, int32_t skipped,
                 const std::vector<std::pair<std::string, const ValueInfo*>>& values);
  void add_provisional();
  void read_start();
  std::vector<std::pair<std::string, const ValueInfo*>> wanted_values() const;

  const TrendSource source_;
  const std::shared_ptr<const Pass> pass_;
  const ReceptionClock* clock_;
  const double poll_s_;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  TrendData data_;
  TrendStatus status_;
  std::set<std::string> wanted_;
  std::set<std::string> decoded_;  // of those, the ones the data holds
  std::vector<EventMark> log_marks_;
  bool stop_ = false;
  bool wake_ = false;

  // The reading thread's own.
  std::unique_ptr<FrameScanner> scanner_;
  int64_t scanned_ = 0;         // bytes of the file read so far
  int64_t size_ = 0;            // its size at the last look
  std::vector<uint8_t> head_;   // its first bytes, as read
  uint64_t head_print_ = 0;
  int64_t head_len_ = 0;
  bool start_known_ = false;
  double start_s_ = 0.0;        // from the name
  std::time_t not_after_ = 0;   // the latest start the name can stand for
  size_t clock_next_ = 0;       // live: the next reception to match
  size_t memory_first_ = 0;     // memory: the clock's entry of the data's first frame
  std::shared_ptr<const LiveFrames> shown_;  // the pass's frames
  std::thread thread_;
};

// ----- Queries (under the store's lock) ------------------------------------

// Frames [first, count) of a time axis: x[i] for frame i (the frame times,
// or the instrument's elapsed time from the first frame that gives it).
struct AxisX {
  const std::vector<double>* x = nullptr;
  size_t first = 0;
};

// The first frame at or after `x0` and the first after `x1`.
std::pair<size_t, size_t> frames_between(const AxisX& axis, double x0, double x1);

// What a plot draws of a series over [x0, x1] with `columns` pixel columns:
// the raw samples when there are few (at most RAW_PER_COLUMN a column; one
// sample beyond each end is added, so lines run to the edges), else the
// minimum and maximum of each column (two points at the column's centre,
// the minimum first), so no extreme is lost. Values times `scale`. Where
// no frame came for more than LINE_GAP_S on the axis (an outage of the
// link, a stretch without a good frame) between two points, a point with a
// NaN value lies between them: the line breaks there, and is never drawn
// straight across the outage.
struct PlotPoints {
  std::vector<double> x, y;
  bool raw = true;
  size_t samples = 0;   // samples of the series inside [x0, x1]
  size_t isolated = 0;  // points with a break on either side: no line reaches them
};
constexpr double RAW_PER_COLUMN = 2.0;
// As long as the health bar waits before it says NO FRAMES or LINK SILENT;
// the longest a working link leaves between two frames is far below it.
constexpr double LINE_GAP_S = 3.0;
PlotPoints plot_points(const TrendData& d, const Series& s, const AxisX& axis, double x0, double x1, int columns,
                       double scale = 1.0);

// The series' last sample at or before `x` (false when none); its frame in
// *frame.
bool value_at(const Series& s, const AxisX& axis, double x, double* value, size_t* frame);

// The instrument's elapsed time of each frame: the value of the last frame
// of kind 1 at or before it plus the time since that frame; frames before
// the first of kind 1 have none. `monotonic` is false when it goes back (the
// instrument restarted its count): it cannot serve as an axis then.
void elapsed_axis(const TrendData& d, std::vector<double>* x, size_t* first, bool* monotonic);

// The same at one frame; false before the first frame of kind 1 (or when
// ELAPSED_K1 is not decoded).
bool elapsed_at(const TrendData& d, size_t frame, double* elapsed_s);

// Bytes held by the data (the frames and every series).
size_t trend_bytes(const TrendData& d);

}  // namespace rt
