#include "history/trend_store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

#include "history/pass.h"
#include "history/reception.h"
#include "history/time_axis.h"
#include "history/values.h"
#include "link/frame.h"
#include "runtime/session_watch.h"

namespace rt {

const char* const NO_FRAMES_TEXT = "no frames found";

namespace {

constexpr size_t CHUNK = 1 << 20;   // bytes read at a time
constexpr int64_t HEAD_BYTES = 4096;  // the start of the file, looked at again each time
constexpr size_t MATCH_AHEAD = 256;   // live: receptions looked through for a frame of the file
constexpr double NONE = std::numeric_limits<double>::quiet_NaN();

// Takes off the frames shown live but not yet found in the recording.
void drop_provisional(TrendData& d) {
  if (d.provisional == 0) return;
  const auto keep = static_cast<uint32_t>(d.time_s.size() - d.provisional);
  d.time_s.resize(keep);
  d.offset.resize(keep);
  d.skipped.resize(keep);
  for (auto& [key, s] : d.series) s.truncate_frames(keep);
  d.provisional = 0;
}

bool seek_to(std::FILE* fp, int64_t offset) {
#ifdef _WIN32
  return _fseeki64(fp, offset, SEEK_SET) == 0;
#else
  return fseeko(fp, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

uint64_t bytes_print(const std::vector<uint8_t>& bytes) {
  uint64_t h = 1469598103934665603ULL;
  for (uint8_t b : bytes) {
    h ^= b;
    h *= 1099511628211ULL;
  }
  return h;
}

// Reads `n` bytes at `offset` of `path`; false when they cannot all be read.
bool read_at(const std::string& path, int64_t offset, size_t n, std::vector<uint8_t>* out) {
  std::FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) return false;
  out->resize(n);
  const bool ok = seek_to(fp, offset) && std::fread(out->data(), 1, n, fp) == n;
  std::fclose(fp);
  return ok;
}

std::string errno_text(int err) { return std::make_error_code(static_cast<std::errc>(err)).message(); }

// The link figures of frame i (values.h), from the frames' times and
// offsets.
double link_figure(const TrendData& d, Field field, size_t i) {
  if (field == Field::Skipped) return d.skipped[i] >= 0 ? d.skipped[i] : NONE;
  const double t = d.time_s[i];
  const double lo = std::max(d.time_s[0], t - LINK_RATE_SPAN_S);
  const double dt = t - lo;
  if (!(dt > 0.0)) return NONE;
  // Frames after `lo` up to i; the one before them starts the span.
  const size_t j = static_cast<size_t>(std::upper_bound(d.time_s.begin(), d.time_s.begin() + static_cast<long>(i), lo) -
                                       d.time_s.begin());
  if (j == 0) return NONE;
  if (field == Field::FramesPerS) return static_cast<double>(i - (j - 1)) / dt;
  if (d.offset[i] < 0 || d.offset[j - 1] < 0) return NONE;
  return static_cast<double>(d.offset[i] - d.offset[j - 1]) / dt;
}

// The share of frames that carry a value.
double carried_share(const ValueInfo& v) {
  switch (v.carrier) {
    case Carrier::Every: return 1.0;
    case Carrier::Kind: return 0.25;
    case Carrier::Kinds02:
    case Carrier::Kinds13: return 0.5;
    case Carrier::Slot: return 1.0 / 40.0;
  }
  return 1.0;
}

// Room for `frames` in all in the data and its series, so a day's values are
// not held twice over by vectors grown by doubling.
void reserve_frames(TrendData& d, size_t frames) {
  if (d.time_s.capacity() >= frames) return;
  // A live recording grows a little each time: room ahead, so the vectors
  // are not moved at every look.
  if (d.time_s.capacity() > 0) frames = std::max(frames, d.time_s.capacity() * 3 / 2);
  d.time_s.reserve(frames);
  d.offset.reserve(frames);
  d.skipped.reserve(frames);
  for (auto& [key, s] : d.series)
    if (const ValueInfo* v = find_value(key)) s.reserve(static_cast<size_t>(frames * carried_share(*v)) + 64);
}

}  // namespace

TrendStore::TrendStore(TrendSource source, const ReceptionClock* clock, double poll_s,
                       std::shared_ptr<const Pass> pass)
    : source_(std::move(source)),
      pass_(source_.live || source_.memory ? nullptr : std::move(pass)),
      clock_(source_.live ? clock : nullptr),
      poll_s_(poll_s) {
  scanned_ = source_.from_offset;
  if (source_.memory) {
    // Every frame has its time of reception.
    start_known_ = status_.start_known = true;
    thread_ = std::thread([this] { run(); });
    return;
  }
  std::error_code ec;
  const auto changed = std::filesystem::last_write_time(source_.path, ec);
  std::time_t not_after = std::time(nullptr);
  if (!ec) {
    // The file's last change, as seconds since 1970 (C++20 clock_cast is not
    // in every library yet: go through the difference to now).
    const auto age = std::filesystem::file_time_type::clock::now() - changed;
    not_after -= static_cast<std::time_t>(std::chrono::duration_cast<std::chrono::seconds>(age).count());
  }
  // A live recording's name is its start too; a few minutes' slack for a
  // clock that moved.
  not_after_ = not_after + 600;
  thread_ = std::thread([this] { run(); });
}

// The start the recording's name gives, to the millisecond where the log
// beside it says so, and that log's events (playback). On the store's
// thread: a log can be large, or not a file at all. With a session record
// the log is not read: the record's own log and times supersede it.
void TrendStore::read_start() {
  std::string note;
  std::vector<EventMark> marks;
  if (!pass_) marks = read_log_marks(log_beside(source_.path), &note);
  bool from_log = false;
  start_known_ = recording_start(source_.path, not_after_, marks, &start_s_, &from_log);
  std::lock_guard lock(mu_);
  if (pass_ && pass_->frames) {
    shown_ = pass_->frames;
    start_known_ = true;  // every time is the pass's own, or estimated from it
    status_.pass_times = true;
  }
  status_.start_known = start_known_;
  status_.start_from_log = from_log;
  if (!source_.live) log_marks_ = std::move(marks);
  status_.log_note = std::move(note);
  status_.log_read = true;
  ++status_.revision;
}

std::vector<EventMark> TrendStore::log_marks() const {
  std::lock_guard lock(mu_);
  return log_marks_;
}

TrendStore::~TrendStore() {
  {
    std::lock_guard lock(mu_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TrendStore::want(const std::vector<std::string>& keys) {
  {
    std::lock_guard lock(mu_);
    std::set<std::string> now;
    for (const std::string& k : keys)
      if (find_value(k)) now.insert(k);
    if (now == wanted_) return;
    wanted_ = std::move(now);
    for (auto it = data_.series.begin(); it != data_.series.end();) {
      if (wanted_.count(it->first)) {
        ++it;
      } else {
        decoded_.erase(it->first);
        it = data_.series.erase(it);
      }
    }
    status_.pending.clear();
    for (const std::string& k : wanted_)
      if (!decoded_.count(k)) status_.pending.push_back(k);
    ++status_.revision;
    wake_ = true;
  }
  changed_.notify_all();
}

TrendStatus TrendStore::status() const {
  std::lock_guard lock(mu_);
  return status_;
}

bool TrendStore::wait_idle(double timeout_s) const {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, std::chrono::duration<double>(timeout_s), [this] {
    return status_.state != TrendState::Building && status_.pending.empty();
  });
}

void TrendStore::read(const std::function<void(const TrendData&)>& f) const {
  std::lock_guard lock(mu_);
  f(data_);
}

std::vector<std::pair<std::string, const ValueInfo*>> TrendStore::wanted_values() const {
  std::vector<std::pair<std::string, const ValueInfo*>> out;
  for (const std::string& k : decoded_) out.emplace_back(k, find_value(k));
  return out;
}

void TrendStore::run() {
  read_start();
  for (;;) {
    if (!poll_once()) return;
    std::unique_lock lock(mu_);
    changed_.wait_for(lock, std::chrono::duration<double>(poll_s_), [this] { return stop_ || wake_; });
    if (stop_) return;
    wake_ = false;
  }
}

void TrendStore::reset(const std::string& why) {
  scanner_.reset();
  scanned_ = source_.from_offset;
  head_len_ = 0;
  clock_next_ = 0;
  std::lock_guard lock(mu_);
  const std::set<std::string> keys = wanted_;
  data_ = TrendData{};
  decoded_.clear();
  status_.state = TrendState::Building;
  status_.progress = 0.0;
  status_.note = why;
  status_.frames = 0;
  status_.pending.assign(keys.begin(), keys.end());
  data_.generation = ++status_.generation;
  ++status_.revision;
}

// A file that shrank, or whose first bytes differ from those read, is not
// the one read so far.
bool TrendStore::file_changed(std::string* why) {
  if (size_ < scanned_) {
    *why = "The recording " + source_.path + " shrank from " + std::to_string(scanned_) + " to " +
           std::to_string(size_) + " bytes while its trend was shown: the trend was built again from its start.";
    return true;
  }
  if (head_len_ > 0) {
    std::vector<uint8_t> head;
    if (read_at(source_.path, source_.from_offset, static_cast<size_t>(head_len_), &head) &&
        bytes_print(head) != head_print_) {
      *why = "The recording " + source_.path +
             " was replaced by another file while its trend was shown: the trend was built again from its start.";
      return true;
    }
  }
  return false;
}

bool TrendStore::poll_once() {
  if (source_.memory) return poll_memory();
  std::error_code ec;
  const auto size = std::filesystem::file_size(source_.path, ec);
  if (ec) {
    std::lock_guard lock(mu_);
    // What was read stays shown; the reason is said.
    status_.note = "Cannot read the recording " + source_.path + ": " + ec.message();
    if (status_.state == TrendState::Building) status_.state = TrendState::Failed;
    status_.pending.clear();
    ++status_.revision;
    changed_.notify_all();
    return true;
  }
  size_ = static_cast<int64_t>(size);
  std::string why;
  if (scanned_ > 0 && file_changed(&why)) reset(why);
  std::vector<std::string> fresh;
  {
    std::lock_guard lock(mu_);
    for (const std::string& k : wanted_)
      if (!decoded_.count(k)) fresh.push_back(k);
    if (stop_) return false;
  }
  if (!fresh.empty() && !decode_new_values(fresh)) return !stop_;
  if (!read_growth()) return !stop_;
  add_provisional();
  {
    std::lock_guard lock(mu_);
    const bool any = !data_.time_s.empty();
    if (status_.state == TrendState::Building || status_.state == TrendState::Failed ||
        (status_.state == TrendState::NoFrames && any))
      status_.state = any ? TrendState::Ready : TrendState::NoFrames;
    if (status_.state == TrendState::Ready && status_.note.rfind("Cannot read", 0) == 0) status_.note.clear();
    status_.progress = 1.0;
    status_.frames = static_cast<long>(data_.time_s.size());
    ++status_.revision;
  }
  changed_.notify_all();
  return true;
}

void TrendStore::add_frame(TrendData& d, const uint8_t* frame, double t_s, int64_t offset, int32_t skipped,
                           const std::vector<std::pair<std::string, const ValueInfo*>>& values) {
  if (!d.time_s.empty()) t_s = std::max(t_s, d.time_s.back());  // never back in time
  const auto i = static_cast<uint32_t>(d.time_s.size());
  d.time_s.push_back(t_s);
  d.offset.push_back(offset);
  d.skipped.push_back(skipped);
  const uint32_t count = fcount(frame);
  for (const auto& [key, info] : values) {
    if (!carries(*info, count)) continue;
    auto it = d.series.find(key);
    if (it == d.series.end()) continue;
    it->second.add(i, is_link_figure(*info) ? link_figure(d, info->field, i) : decode_value(*info, frame));
  }
}

// Reads the file from where the last look ended, decoding every wanted
// value of each new frame.
bool TrendStore::read_growth() {
  if (size_ <= scanned_) return true;
  std::FILE* fp = std::fopen(source_.path.c_str(), "rb");
  if (!fp || !seek_to(fp, scanned_)) {
    const std::string reason = errno_text(errno);
    if (fp) std::fclose(fp);
    std::lock_guard lock(mu_);
    status_.note = "Cannot read the recording " + source_.path + ": " + reason;
    return true;
  }
  if (!scanner_) scanner_ = std::make_unique<FrameScanner>(source_.rules, true, shown_);
  {
    // A recording is about one frame every 200 bytes.
    std::lock_guard lock(mu_);
    reserve_frames(data_, data_.time_s.size() + static_cast<size_t>((size_ - scanned_) / FRAME_LEN) + 16);
  }
  std::vector<uint8_t> chunk(CHUNK);
  const auto values = [this] {
    std::lock_guard lock(mu_);
    return wanted_values();
  }();
  bool ok = true;
  while (scanned_ < size_) {
    {
      std::lock_guard lock(mu_);
      if (stop_ || wake_) {  // stop, or a value asked for: come back to the rest
        ok = false;
        break;
      }
    }
    const size_t want = static_cast<size_t>(std::min<int64_t>(CHUNK, size_ - scanned_));
    const size_t got = std::fread(chunk.data(), 1, want, fp);
    if (got == 0) break;
    if (head_len_ < HEAD_BYTES) {  // the start of the file, to see later whether it was replaced
      const size_t add = static_cast<size_t>(std::min<int64_t>(HEAD_BYTES - head_len_, static_cast<int64_t>(got)));
      if (head_len_ == 0) head_.clear();
      head_.insert(head_.end(), chunk.begin(), chunk.begin() + static_cast<long>(add));
      head_len_ += static_cast<int64_t>(add);
      head_print_ = bytes_print(head_);
    }
    scanner_->feed(chunk.data(), got);
    scanned_ += static_cast<int64_t>(got);
    const auto& marks = scanner_->frames();
    const auto& bytes = scanner_->frame_bytes();
    std::vector<double> times(marks.size());
    bool has_prev;
    double prev_t = 0.0;
    int64_t prev_offset = 0;
    {
      std::lock_guard lock(mu_);
      const size_t n = data_.time_s.size() - data_.provisional;
      has_prev = n > 0;
      if (has_prev) {
        prev_t = data_.time_s[n - 1];
        prev_offset = data_.offset[n - 1];
      }
    }
    // Live: each frame takes the time the same bytes were shown, looked for
    // a little ahead (the receiver may have shown a frame the recording's
    // reading does not find, after a time-out in the middle of a frame).
    // Frames this session did not show (an earlier run wrote them to the
    // same file) follow the frame before at the link's rate.
    std::vector<ReceptionClock::Entry> seen;
    if (clock_) seen = clock_->since(clock_next_, marks.size() + MATCH_AHEAD);
    size_t w = 0;
    for (size_t k = 0; k < marks.size(); ++k) {
      double t = start_known_ ? recording_time(start_s_, marks[k].offset) : marks[k].offset / RECORDING_BYTES_PER_S;
      if (shown_) pass_->time_at(marks[k].offset, &t);  // the time it came (beyond the record: estimated)
      if (clock_) {
        if (has_prev) t = prev_t + static_cast<double>(marks[k].offset - prev_offset) / RECORDING_BYTES_PER_S;
        const uint64_t print = frame_print(bytes.data() + k * FRAME_LEN);
        for (size_t j = w; j < seen.size() && j < w + MATCH_AHEAD; ++j) {
          if (seen[j].print == print) {
            t = seen[j].t_s;
            w = j + 1;
            break;
          }
        }
      }
      times[k] = t;
      has_prev = true;
      prev_t = t;
      prev_offset = marks[k].offset;
    }
    clock_next_ += w;
    {
      std::lock_guard lock(mu_);
      // Provisional frames go first: the recording's own copies replace them.
      drop_provisional(data_);
      for (size_t k = 0; k < marks.size(); ++k)
        add_frame(data_, bytes.data() + k * FRAME_LEN, times[k], marks[k].offset, marks[k].skipped, values);
      status_.frames = static_cast<long>(data_.time_s.size());
      // Frames after a file of none: never "no frames" beside a count of them.
      if (status_.state == TrendState::NoFrames && status_.frames > 0) status_.state = TrendState::Ready;
      status_.progress = size_ > source_.from_offset ? static_cast<double>(scanned_ - source_.from_offset) /
                                                         static_cast<double>(size_ - source_.from_offset)
                                                   : 1.0;
      ++status_.revision;
    }
    scanner_->clear_found();
  }
  std::fclose(fp);
  return ok;
}

// Live: the frames shown since the last one found in the recording, which
// the recording has not written yet.
void TrendStore::add_provisional() {
  if (!clock_) return;
  const auto frames = clock_->frames_since(clock_next_);
  const auto entries = clock_->since(clock_next_);
  std::lock_guard lock(mu_);
  drop_provisional(data_);
  const auto values = wanted_values();
  for (const auto& [n, frame] : frames) {
    const size_t k = n - clock_next_;
    if (k >= entries.size()) break;
    add_frame(data_, frame.data(), entries[k].t_s, -1, -1, values);
    ++data_.provisional;
  }
}

// Reads the file again up to where it was read, decoding `keys` only, and
// puts them beside the values already held.
bool TrendStore::decode_new_values(const std::vector<std::string>& keys) {
  std::map<std::string, Series, std::less<>> fresh;
  std::vector<std::pair<std::string, const ValueInfo*>> infos;
  size_t known;
  {
    std::lock_guard lock(mu_);
    known = data_.time_s.size() - data_.provisional;
  }
  bool need_file = false;
  for (const std::string& k : keys) {
    const ValueInfo* info = find_value(k);
    fresh.emplace(k, Series(info->carrier == Carrier::Every)).first->second.reserve(
        static_cast<size_t>(known * carried_share(*info)) + 64);
    infos.emplace_back(k, info);
    need_file = need_file || !is_link_figure(*info);
  }
  if (known > 0 && need_file) {
    std::FILE* fp = std::fopen(source_.path.c_str(), "rb");
    if (!fp) {
      std::lock_guard lock(mu_);
      status_.note = "Cannot read the recording " + source_.path + ": " + errno_text(errno);
      return true;
    }
    FrameScanner scanner(source_.rules, true, shown_);
    std::vector<uint8_t> chunk(CHUNK);
    int64_t read = source_.from_offset;
    if (!seek_to(fp, read)) {
      std::fclose(fp);
      return true;  // read again at the next look
    }
    size_t n = 0;
    bool same = true;
    while (read < scanned_ && n < known && same) {
      {
        std::lock_guard lock(mu_);
        if (stop_) {
          std::fclose(fp);
          return false;
        }
      }
      const size_t want = static_cast<size_t>(std::min<int64_t>(CHUNK, scanned_ - read));
      const size_t got = std::fread(chunk.data(), 1, want, fp);
      if (got == 0) break;
      read += static_cast<int64_t>(got);
      scanner.feed(chunk.data(), got);
      const auto& marks = scanner.frames();
      const auto& bytes = scanner.frame_bytes();
      std::lock_guard lock(mu_);
      for (size_t k = 0; k < marks.size() && n < known; ++k, ++n) {
        if (marks[k].offset != data_.offset[n]) {
          same = false;  // not the bytes read before
          break;
        }
        const uint8_t* frame = bytes.data() + k * FRAME_LEN;
        const uint32_t count = fcount(frame);
        for (const auto& [key, info] : infos)
          if (!is_link_figure(*info) && carries(*info, count))
            fresh.at(key).add(static_cast<uint32_t>(n), decode_value(*info, frame));
      }
      status_.progress = scanned_ > source_.from_offset ? static_cast<double>(read - source_.from_offset) /
                                                            static_cast<double>(scanned_ - source_.from_offset)
                                                      : 1.0;
      scanner.clear_found();
    }
    std::fclose(fp);
    if (!same || n < known) {
      reset("The recording " + source_.path +
            " changed under its trend (its frames are not the ones read before): the trend was built again from its start.");
      return true;
    }
  }
  std::lock_guard lock(mu_);
  for (const auto& [key, info] : infos) {
    if (!wanted_.count(key)) continue;  // no longer wanted meanwhile
    Series& s = fresh.at(key);
    if (is_link_figure(*info))
      for (size_t i = 0; i < known; ++i) s.add(static_cast<uint32_t>(i), link_figure(data_, info->field, i));
    data_.series.insert_or_assign(key, std::move(s));
    decoded_.insert(key);
  }
  // The provisional frames get their values when they are laid again.
  if (data_.provisional > 0) {
    const auto keep = static_cast<uint32_t>(known);
    data_.time_s.resize(keep);
    data_.offset.resize(keep);
    data_.skipped.resize(keep);
    for (auto& [key, s] : data_.series) s.truncate_frames(keep);
    data_.provisional = 0;
  }
  status_.pending.clear();
  for (const std::string& k : wanted_)
    if (!decoded_.count(k)) status_.pending.push_back(k);
  ++status_.revision;
  return true;
}

// ----- The memory source ------------------------------------------------------

bool TrendStore::poll_memory() {
  // The clock let go of frames the data holds: start again a quarter of its
  // room further on, so that this happens once for every quarter of the
  // room, not at every frame.
  const size_t kept_from = clock_->first_kept();
  if (memory_first_ < kept_from) {
    const size_t room = clock_->tail_frames();
    const size_t from = std::min(clock_->size(), kept_from + room / 4);
    reset("The oldest frames received were let go: the trends keep the last " + std::to_string(room) +
          " in memory (--record FILE keeps them all)");
    memory_first_ = clock_next_ = from;
  }
  std::vector<std::string> fresh;
  {
    std::lock_guard lock(mu_);
    if (stop_) return false;
    for (const std::string& k : wanted_)
      if (!decoded_.count(k)) fresh.push_back(k);
  }
  if (!fresh.empty()) decode_memory(fresh);
  const auto values = [this] {
    std::lock_guard lock(mu_);
    return wanted_values();
  }();
  const size_t end = clock_->size();
  {
    std::lock_guard lock(mu_);
    reserve_frames(data_, data_.time_s.size() + (end - clock_next_) + 16);
  }
  size_t next = clock_next_;
  clock_->visit(clock_next_, end, [&](size_t n, const ReceptionClock::Entry& e, const ReceptionClock::Frame& frame) {
    std::lock_guard lock(mu_);
    add_frame(data_, frame.data(), e.t_s, -1, -1, values);
    next = n + 1;
  });
  clock_next_ = next;
  {
    std::lock_guard lock(mu_);
    status_.state = data_.time_s.empty() ? TrendState::NoFrames : TrendState::Ready;
    status_.progress = 1.0;
    status_.frames = static_cast<long>(data_.time_s.size());
    ++status_.revision;
  }
  changed_.notify_all();
  return true;
}

// Values asked for later: decoded from the frames the data holds, which the
// clock still keeps whole.
void TrendStore::decode_memory(const std::vector<std::string>& keys) {
  std::map<std::string, Series, std::less<>> fresh;
  std::vector<std::pair<std::string, const ValueInfo*>> infos;
  for (const std::string& k : keys) {
    const ValueInfo* info = find_value(k);
    fresh.emplace(k, Series(info->carrier == Carrier::Every));
    infos.emplace_back(k, info);
  }
  clock_->visit(memory_first_, clock_next_, [&](size_t n, const ReceptionClock::Entry&, const ReceptionClock::Frame& frame) {
    const auto i = static_cast<uint32_t>(n - memory_first_);
    for (const auto& [key, info] : infos)
      if (!is_link_figure(*info) && carries(*info, fcount(frame.data())))
        fresh.at(key).add(i, decode_value(*info, frame.data()));
  });
  std::lock_guard lock(mu_);
  const size_t known = data_.time_s.size();
  for (const auto& [key, info] : infos) {
    if (!wanted_.count(key)) continue;
    Series& s = fresh.at(key);
    if (is_link_figure(*info))
      for (size_t i = 0; i < known; ++i) s.add(static_cast<uint32_t>(i), link_figure(data_, info->field, i));
    data_.series.insert_or_assign(key, std::move(s));
    decoded_.insert(key);
  }
  status_.pending.clear();
  for (const std::string& k : wanted_)
    if (!decoded_.count(k)) status_.pending.push_back(k);
  ++status_.revision;
}

// ----- Queries ---------------------------------------------------------------

std::pair<size_t, size_t> frames_between(const AxisX& axis, double x0, double x1) {
  const auto& x = *axis.x;
  const auto begin = x.begin() + static_cast<long>(std::min(axis.first, x.size()));
  const size_t a = static_cast<size_t>(std::lower_bound(begin, x.end(), x0) - x.begin());
  const size_t b = static_cast<size_t>(std::upper_bound(begin, x.end(), x1) - x.begin());
  return {a, std::max(a, b)};
}

namespace {

// The frames in [from, to) of an axis that come more than LINE_GAP_S after
// the frame before them, asked for in increasing order.
class Gaps {
 public:
  Gaps(const std::vector<double>& x, size_t from, size_t to) {
    for (size_t k = std::max<size_t>(from, 1); k < to && k < x.size(); ++k)
      if (x[k] - x[k - 1] > LINE_GAP_S) at_.push_back(k);
  }
  // Whether a gap lies after frame `a` up to frame `b` (a < b; each call's
  // `a` at or after the last call's).
  bool between(size_t a, size_t b) {
    while (next_ < at_.size() && at_[next_] <= a) ++next_;
    return next_ < at_.size() && at_[next_] <= b;
  }

 private:
  std::vector<size_t> at_;
  size_t next_ = 0;
};

constexpr double BREAK = std::numeric_limits<double>::quiet_NaN();

// Counts the raw points that no line reaches (a break or an end on both sides).
size_t isolated_points(const std::vector<double>& y) {
  size_t n = 0;
  for (size_t i = 0; i < y.size(); ++i) {
    if (std::isnan(y[i])) continue;
    const bool before = i > 0 && !std::isnan(y[i - 1]);
    const bool after = i + 1 < y.size() && !std::isnan(y[i + 1]);
    n += !before && !after;
  }
  return n;
}

}  // namespace

PlotPoints plot_points(const TrendData& d, const Series& s, const AxisX& axis, double x0, double x1, int columns,
                       double scale) {
  (void)d;
  PlotPoints out;
  const auto& x = *axis.x;
  const auto [fa, fb] = frames_between(axis, x0, x1);
  const size_t sa = s.lower(static_cast<uint32_t>(fa));
  const size_t sb = s.lower(static_cast<uint32_t>(fb));
  out.samples = sb - sa;
  columns = std::max(columns, 1);
  // Samples before the axis's first frame have no place on it.
  const size_t first_sample = s.lower(static_cast<uint32_t>(axis.first));
  if (static_cast<double>(out.samples) <= RAW_PER_COLUMN * columns) {
    const size_t from = sa > first_sample ? sa - 1 : sa;
    const size_t to = std::min(sb + 1, s.size());
    out.x.reserve(to - from);
    out.y.reserve(to - from);
    if (from >= to) return out;
    Gaps gaps(x, s.frame(from), s.frame(to - 1) + 1);
    for (size_t i = from; i < to; ++i) {
      if (i > from && gaps.between(s.frame(i - 1), s.frame(i))) {
        out.x.push_back(x[s.frame(i - 1)]);
        out.y.push_back(BREAK);
      }
      out.x.push_back(x[s.frame(i)]);
      out.y.push_back(s.value(i) * scale);
    }
    out.isolated = isolated_points(out.y);
    return out;
  }
  out.raw = false;
  const double width = (x1 - x0) / columns;
  out.x.reserve(2 * static_cast<size_t>(columns));
  out.y.reserve(2 * static_cast<size_t>(columns));
  Gaps gaps(x, fa, fb);
  size_t a = sa;
  bool any = false;
  size_t last_frame = 0;  // of the last sample drawn
  for (int c = 0; c < columns; ++c) {
    const double right = c + 1 == columns ? x1 : x0 + width * (c + 1);
    const size_t fend = frames_between(axis, right, right).first;
    const size_t b = c + 1 == columns ? sb : std::max(a, s.lower(static_cast<uint32_t>(fend)));
    double lo, hi;
    if (b > a && s.extremes(a, b, &lo, &hi)) {
      const double centre = x0 + width * (c + 0.5);
      if (any && gaps.between(last_frame, s.frame(a))) {
        out.x.push_back(centre);
        out.y.push_back(BREAK);
      }
      out.x.push_back(centre);
      out.y.push_back(std::min(lo * scale, hi * scale));
      out.x.push_back(centre);
      out.y.push_back(std::max(lo * scale, hi * scale));
      any = true;
      last_frame = s.frame(b - 1);
    }
    a = b;
  }
  return out;
}

bool value_at(const Series& s, const AxisX& axis, double x, double* value, size_t* frame) {
  const size_t f = frames_between(axis, x, x).second;  // frames at or before x: [first, f)
  size_t i = s.lower(static_cast<uint32_t>(f));
  if (i == 0) return false;
  --i;
  if (s.frame(i) < axis.first) return false;
  *value = s.value(i);
  if (frame) *frame = s.frame(i);
  return true;
}

void elapsed_axis(const TrendData& d, std::vector<double>* x, size_t* first, bool* monotonic) {
  x->assign(d.frames(), NONE);
  *first = d.frames();
  *monotonic = true;
  auto it = d.series.find("ELAPSED_K1");
  if (it == d.series.end() || it->second.size() == 0) return;
  const Series& e = it->second;
  // Between two frames of kind 1 the time runs evenly from one's value to
  // the other's; after the last, at the rate of the frames' own times.
  size_t k = 0;  // the first kind-1 sample after frame i
  for (size_t i = e.frame(0); i < d.frames(); ++i) {
    while (k < e.size() && e.frame(k) <= i) ++k;
    const size_t a = k - 1;
    const double ea = e.value(a), ta = d.time_s[e.frame(a)];
    double v = ea + (d.time_s[i] - ta);
    if (k < e.size()) {
      const double eb = e.value(k), tb = d.time_s[e.frame(k)];
      if (eb < ea) *monotonic = false;
      if (tb > ta) v = ea + (eb - ea) * (d.time_s[i] - ta) / (tb - ta);
    }
    if (!std::isfinite(v)) *monotonic = false;
    (*x)[i] = v;
  }
  *first = e.frame(0);
}

bool elapsed_at(const TrendData& d, size_t frame, double* elapsed_s) {
  auto it = d.series.find("ELAPSED_K1");
  if (it == d.series.end() || frame >= d.frames()) return false;
  const Series& e = it->second;
  const size_t k = e.lower(static_cast<uint32_t>(frame) + 1);  // the first kind-1 sample after the frame
  if (k == 0) return false;
  const double ea = e.value(k - 1), ta = d.time_s[e.frame(k - 1)];
  double v = ea + (d.time_s[frame] - ta);
  if (k < e.size()) {
    const double eb = e.value(k), tb = d.time_s[e.frame(k)];
    if (tb > ta) v = ea + (eb - ea) * (d.time_s[frame] - ta) / (tb - ta);
  }
  *elapsed_s = v;
  return std::isfinite(v);
}

size_t trend_bytes(const TrendData& d) {
  size_t n = d.time_s.capacity() * sizeof(double) + d.offset.capacity() * sizeof(int64_t) +
             d.skipped.capacity() * sizeof(int32_t);
  for (const auto& [key, s] : d.series) n += s.bytes() + key.size();
  return n;
}

}  // namespace rt
