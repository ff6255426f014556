#include "session/link_health.h"

#include <algorithm>
#include <cmath>

namespace rt {

namespace {

// The texts the system shows in its status line: a single blank after a good
// frame, one text per way a frame attempt fails, and the run start's two.
constexpr std::string_view GOOD = " ";
constexpr std::string_view END_OF_INPUT = "EOF on input file";
constexpr std::string_view RUN_START = "setting up serial port";
constexpr std::string_view READY = "serial port ready";
constexpr std::string_view CHECKSUM = "COM1 err: checksum failure";
constexpr std::string_view ILLEGAL_ESCAPE = "COM1 err: illegal ++- sequence";
constexpr std::string_view READ_FAILED = "COM1 err: too few bytes read";

}  // namespace

std::string duration_words(double seconds) {
  const long long s = static_cast<long long>(std::floor(std::max(0.0, seconds)));
  if (s < 120) return std::to_string(s) + " s";
  if (s < 7200) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s / 60 % 60) + " min";
}

const char* link_state_words(LinkState state, bool playback) {
  switch (state) {
    case LinkState::Waiting: return "waiting";
    case LinkState::Receiving: return playback ? "playing" : "receiving";
    case LinkState::Degraded: return "degraded";
    case LinkState::NoFrames: return "no frames";
    case LinkState::Silent: return playback ? "input silent" : "link silent";
    case LinkState::PortLost: return "port lost";
    case LinkState::Paused: return "paused";
    case LinkState::EndOfInput: return "end of input";
  }
  return "?";
}

const char* failure_name(Failure kind) {
  switch (kind) {
    case Failure::Checksum: return "checksum";
    case Failure::IllegalEscape: return "illegal escape";
    case Failure::ReadFailure: return "read failure";
    case Failure::Other: return "other";
  }
  return "?";
}

StatusKind classify_status(std::string_view text, Failure* kind) {
  if (text == GOOD) return StatusKind::GoodFrame;
  if (text == END_OF_INPUT) return StatusKind::EndOfInput;
  if (text == RUN_START) return StatusKind::RunStart;
  if (text == READY) return StatusKind::Ready;
  Failure k = Failure::Other;
  if (text == CHECKSUM) k = Failure::Checksum;
  else if (text == ILLEGAL_ESCAPE) k = Failure::IllegalEscape;
  else if (text == READ_FAILED) k = Failure::ReadFailure;
  else if (text.rfind("COM1 err", 0) != 0) return StatusKind::Unknown;
  if (kind) *kind = k;
  return StatusKind::Failure;
}

// ----- SecondCounts -------------------------------------------------------------

void SecondCounts::add(double t_s, long long n) {
  const long long second = static_cast<long long>(std::floor(t_s));
  const int i = static_cast<int>(((second % SECONDS) + SECONDS) % SECONDS);
  if (!used_[i] || second_[i] != second) {
    used_[i] = true;
    second_[i] = second;
    count_[i] = 0;
  }
  count_[i] += n;
}

long long SecondCounts::sum(double t_s, double span_s) const {
  const long long now = static_cast<long long>(std::floor(t_s));
  const long long first = now - static_cast<long long>(std::ceil(span_s)) + 1;
  long long total = 0;
  for (int i = 0; i < SECONDS; ++i)
    if (used_[i] && second_[i] >= first && second_[i] <= now) total += count_[i];
  return total;
}

// ----- LinkHealth -----------------------------------------------------------------

LinkHealth::LinkHealth(bool playback, double t0_s)
    : playback_(playback), t0_s_(t0_s), ref_s_(t0_s), gap_from_s_(t0_s) {}

void LinkHealth::on_bytes(uint64_t total, double t_s) {
  // The first look is the base; a count that went back starts again there.
  if (!bytes_based_ || total < bytes_seen_) {
    bytes_based_ = true;
    bytes_seen_ = total;
    return;
  }
  if (total == bytes_seen_) return;
  const long long n = static_cast<long long>(total - bytes_seen_);
  bytes_seen_ = total;
  bytes_total_ += n;
  bytes_.add(t_s, n);
  last_byte_s_ = t_s;
}

void LinkHealth::on_status(std::string_view text, double t_s) {
  Failure kind = Failure::Other;
  switch (classify_status(text, &kind)) {
    case StatusKind::GoodFrame: {
      ++good_frames_;
      frames_.add(t_s, 1);
      end_of_input_ = false;
      update_hold(t_s);
      longest_gap_s_ = std::max(longest_gap_s_, gap_now(t_s));
      // A frame stepped to while paused: the gap starts again at the resume.
      gap_from_s_ = held_ ? held_from_s_ : t_s;
      last_good_s_ = t_s;
      break;
    }
    case StatusKind::Failure: {
      const int k = static_cast<int>(kind);
      ++failures_total_[k];
      failures_[k].add(t_s, 1);
      last_failure_s_ = t_s;
      last_failure_kind_ = kind;
      break;
    }
    case StatusKind::EndOfInput:
      end_of_input_ = true;
      update_hold(t_s);
      break;
    default:
      break;
  }
}

void LinkHealth::on_skipped(long long nskip, double t_s) {
  if (skipped_grows(nskip)) {
    skipped_growth_.add(t_s, nskip - skipped_);
    last_skip_s_ = t_s;
  }
  skipped_ = nskip;
}

void LinkHealth::on_port_lost(double t_s) {
  if (port_lost_) return;
  port_lost_ = true;
  ++port_losses_;
  (void)t_s;
}

void LinkHealth::on_port_returned(double t_s) {
  if (!port_lost_) return;
  port_lost_ = false;
  ref_s_ = t_s;
}

void LinkHealth::on_port_switched(bool opened, double t_s) {
  port_lost_ = !opened;
  if (opened) ref_s_ = t_s;
}

void LinkHealth::set_paused(bool paused, double t_s) {
  if (paused == paused_) return;
  paused_ = paused;
  // The time held says nothing about the link: judge afresh from the resume.
  if (!paused) ref_s_ = t_s;
  update_hold(t_s);
}

void LinkHealth::on_input_moved(uint64_t total, double t_s) {
  rebase_bytes(total);
  end_of_input_ = false;
  ref_s_ = std::max(ref_s_, t_s);
  update_hold(t_s);
}

void LinkHealth::update_hold(double t_s) {
  const bool held = playback_ && (paused_ || end_of_input_);
  if (held == held_) return;
  held_ = held;
  if (held) held_from_s_ = t_s;
  else gap_from_s_ += std::max(0.0, t_s - std::max(held_from_s_, gap_from_s_));
}

void LinkHealth::set_speed(double speed) {
  time_scale_ = speed > 0.0 && speed < 1.0 ? 1.0 / speed : 1.0;
}

LinkState LinkHealth::state_at(double t_s, std::string* reason, double* fault_age_s) const {
  const double k = scale();
  if (!playback_ && port_lost_) {
    *reason = "the port failed";
    return LinkState::PortLost;
  }
  if (playback_ && end_of_input_) {
    *reason = "the input has run out";
    return LinkState::EndOfInput;
  }
  if (playback_ && paused_) {
    *reason = "held by the operator";
    return LinkState::Paused;
  }
  // The thresholds count from the latest of start-up, a resume or a port's
  // return; the texts give the true age of the last byte or good frame, as
  // the health bar's age and the stale marking do.
  const double since = ref_s_;
  const double quiet_s = t_s - std::max(last_byte_s_, since);
  if (quiet_s >= SILENT_S * k) {
    *reason = "no byte for " + duration_words(t_s - (last_byte_s_ >= 0.0 ? last_byte_s_ : t0_s_));
    return LinkState::Silent;
  }
  const bool good_since = last_good_s_ >= since;
  const double frame_from = good_since ? last_good_s_ : since;
  const double without_s = t_s - frame_from;
  if (without_s >= NO_FRAMES_S * k && last_byte_s_ - frame_from >= BYTES_GO_ON_S * k) {
    *reason = "bytes arrive but no good frame for " + duration_words(t_s - (last_good_s_ >= 0.0 ? last_good_s_ : t0_s_));
    return LinkState::NoFrames;
  }
  if (!good_since) {
    *reason = "no good frame yet";
    return LinkState::Waiting;
  }
  // A failure names itself; skipped bytes alone (noise between frames,
  // playback's resynchronisations) say so.
  auto recent = [&](double at_s) { return at_s >= since && t_s - at_s < DEGRADED_HOLD_S; };
  if (recent(last_failure_s_)) {
    switch (last_failure_kind_) {
      case Failure::Checksum: *reason = "checksum failure"; break;
      case Failure::IllegalEscape: *reason = "illegal escape"; break;
      case Failure::ReadFailure: *reason = "read failure"; break;
      case Failure::Other: *reason = "failed frame"; break;
    }
    *fault_age_s = t_s - last_failure_s_;
    return LinkState::Degraded;
  }
  if (recent(last_skip_s_)) {
    *reason = "bytes skipped";
    *fault_age_s = t_s - last_skip_s_;
    return LinkState::Degraded;
  }
  reason->clear();
  return LinkState::Receiving;
}

HealthSnapshot LinkHealth::snapshot(double t_s) const {
  HealthSnapshot s;
  s.playback = playback_;
  s.state = state_at(t_s, &s.reason, &s.fault_age_s);
  s.words = link_state_words(s.state, playback_);
  // Rates over the last RATE_SPAN_S, or over the time since start-up when
  // that is shorter (never below a second, so a first burst does not spike).
  const double span = std::clamp(t_s - t0_s_, 1.0, RATE_SPAN_S);
  const double window_start = std::floor(t_s) - std::ceil(RATE_SPAN_S) + 1;
  const double covered = std::max(1.0, std::min(t_s - window_start, span));
  // A rate the state denies reads 0, not what the last seconds averaged.
  const bool no_bytes = s.state == LinkState::Silent || s.state == LinkState::PortLost ||
                        s.state == LinkState::Paused || s.state == LinkState::EndOfInput;
  const bool no_frames = no_bytes || s.state == LinkState::NoFrames;
  s.bytes_per_s = no_bytes ? 0.0 : static_cast<double>(bytes_.sum(t_s, RATE_SPAN_S)) / covered;
  s.frames_per_s = no_frames ? 0.0 : static_cast<double>(frames_.sum(t_s, RATE_SPAN_S)) / covered;
  for (int k = 0; k < FAILURE_KINDS; ++k) {
    s.failures_minute[k] = failures_[k].sum(t_s, MINUTE_S);
    s.failures_total[k] = failures_total_[k];
  }
  s.skipped = skipped_;
  s.skipped_minute = skipped_growth_.sum(t_s, MINUTE_S);
  s.age_s = last_good_s_ >= 0.0 ? t_s - last_good_s_ : -1.0;
  s.stale = s.age_s >= STALE_S * scale() && s.state != LinkState::Receiving &&
            s.state != LinkState::Degraded && s.state != LinkState::Paused &&
            s.state != LinkState::EndOfInput;
  s.bytes_total = bytes_total_;
  s.good_frames = good_frames_;
  s.longest_gap_s = std::max(longest_gap_s_, gap_now(t_s));
  s.port_losses = port_losses_;
  return s;
}

}  // namespace rt
