#include "runtime/user_limits.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "present/limits_file.h"
#include "runtime/model.h"
#include "session/outcome.h"
#include "session/output_file.h"
#include "session/session_log.h"

namespace rt {

namespace {

struct UserLimits {
  std::mutex mu;
  std::string path;
  bool given = false;
  std::string refusal;  // why the file was refused at start
  // The file as this station last read or wrote it (nullopt: there was
  // none), to see whether another program changed it since.
  std::optional<std::string> known;
};

UserLimits& ul() {
  static UserLimits state;
  return state;
}

// The whole file, or false with *why (a file that does not exist:
// *missing). Only a regular file is read, so a FIFO at the name never holds
// the caller up.
bool read_whole(const std::string& path, std::string* text, std::string* why, bool* missing) {
  FILE* f = open_input_file(path, why, missing);
  if (!f) return false;
  text->clear();
  char buffer[8192];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text->size() <= LIMITS_FILE_MAX)
    text->append(buffer, n);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) {
    *why = std::strerror(err);
    return false;
  }
  return true;
}

// Names tried, in turn, for the new file that then replaces the limits file.
constexpr int NEW_FILE_TRIES = 10;

// Writes `text` to `path` through a new file beside it, so that a failure
// part way never leaves half a file. That file is made exclusively: nothing
// already at its name (another station's file being written, a FIFO, a
// symbolic link to some other file) is ever opened or written through; the
// next name is tried instead. False with *why.
bool write_whole(const std::string& path, const std::string& text, std::string* why) {
  std::error_code ec;
  const std::filesystem::path target(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
  std::string temporary;
  FILE* f = nullptr;
  std::string taken;  // why the names tried were not used
  for (int k = 0; k < NEW_FILE_TRIES && !f; ++k) {
    temporary = path + ".new" + (k == 0 ? "" : std::to_string(k));
    bool exists = false;
    std::string reason;
    f = create_new_file(temporary, &reason, &exists);
    if (!f && !exists) {
      *why = temporary + ": " + reason;
      return false;
    }
    if (!f && taken.empty()) taken = temporary + ": " + reason;
  }
  if (!f) {
    *why = "no new file could be made beside it (" + taken + ", and " + std::to_string(NEW_FILE_TRIES - 1) +
           " names after it are taken too)";
    return false;
  }
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fflush(f) == 0;
  const int err = errno != 0 ? errno : EIO;
  if (std::fclose(f) != 0 || !written) {
    *why = std::strerror(err);
    std::remove(temporary.c_str());
    return false;
  }
  std::filesystem::rename(temporary, target, ec);
  if (ec) {
    // Some platforms will not rename over an existing file.
    std::error_code again;
    std::filesystem::remove(target, again);
    std::filesystem::rename(temporary, target, ec);
  }
  if (ec) {
    *why = ec.message();
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

// The slots whose limits differ from the panel file's, as the file holds them.
std::vector<SlotLimits> overrides(const PanelModel& model) {
  std::vector<SlotLimits> slots;
  for (const auto& s : model.limit_slots())
    if (!(s.limits == s.defaults)) slots.push_back({s.label, s.limits});
  return slots;
}

// Under the lock: when the file is no longer what this station last read
// or wrote (another station or an editor changed it meanwhile), its limits
// are taken in first, slot by slot and each logged, but for the slots in
// `mine`, which the operator has just changed here: nothing either side
// changed is lost. False with *error when its new contents are refused.
bool take_in_changes(UserLimits& u, PanelModel& model, const std::set<int>& mine, std::string* error) {
  std::string text, why;
  bool missing = false;
  if (!read_whole(u.path, &text, &why, &missing)) {
    if (missing || !u.known) return true;  // removed meanwhile: written anew
    *error = "cannot read limits file " + u.path + " again before writing it: " + why +
             "; the change is in force but not written";
    return false;
  }
  if (u.known && text == *u.known) return true;
  const auto known = model.limit_slots();
  auto is_slot = [&known](std::string_view label) {
    for (const auto& s : known)
      if (s.label == label) return true;
    return false;
  };
  std::vector<SlotLimits> slots;
  LimitsFileFault fault;
  if (!parse_limits_file(text, is_slot, &slots, &fault)) {
    *error = "limits file " + u.path + " was changed by another program since this station read it, and is refused (" +
             (fault.line > 0 ? "line " + std::to_string(fault.line) + ": " : std::string()) + fault.reason +
             "); the change is in force but not written";
    return false;
  }
  log_warning("limits file " + u.path + " was changed by another program since this station read it: its limits are taken in before this change is written");
  for (const auto& k : known) {
    if (mine.count(k.id)) continue;
    Limits theirs = k.defaults;
    for (const SlotLimits& s : slots)
      if (s.label == k.label) theirs = s.limits;
    if (theirs == k.limits) continue;
    log_info("limits of " + k.label + " from " + u.path + " (changed there meanwhile): " + limits_fields(k.limits) +
             " -> " + limits_fields(theirs));
    model.set_limits(k.id, theirs);
  }
  return true;
}

// Under the lock: writes the file for the model's limits now (after taking
// in another program's changes, see take_in_changes; `mine` are the slots
// this change is about).
bool save(UserLimits& u, PanelModel& model, const std::set<int>& mine, std::string* error) {
  if (u.path.empty()) return true;
  if (!u.refusal.empty()) {
    // The operator's refused file is kept, not overwritten.
    std::error_code ec;
    const std::string kept = u.path + ".refused";
    std::filesystem::rename(u.path, kept, ec);
    if (ec) {
      *error = "cannot keep the refused limits file " + u.path + " as " + kept + ": " + ec.message() +
               "; the change is in force but not written";
      log_error(*error);
      note_exit_status(EXIT_OUTPUT_FAILED);
      return false;
    }
    log_info("the refused limits file is kept as " + kept);
    u.refusal.clear();
    u.known.reset();
  } else if (!take_in_changes(u, model, mine, error)) {
    log_error(*error);
    note_exit_status(EXIT_OUTPUT_FAILED);
    return false;
  }
  std::string why;
  const std::string text = format_limits_file(overrides(model));
  if (!write_whole(u.path, text, &why)) {
    *error = "cannot write limits file " + u.path + ": " + why + "; the change is in force but not written";
    log_error(*error);
    note_exit_status(EXIT_OUTPUT_FAILED);
    return false;
  }
  u.known = text;
  return true;
}

const PanelModel::LimitSlot* find_slot(const std::vector<PanelModel::LimitSlot>& slots, int id) {
  for (const auto& s : slots)
    if (s.id == id) return &s;
  return nullptr;
}

}  // namespace

void set_user_limits_file(const std::string& path, bool given) {
  std::lock_guard lock(ul().mu);
  ul().path = path;
  ul().given = given;
  ul().refusal.clear();
  ul().known.reset();
}

std::string user_limits_file() {
  std::lock_guard lock(ul().mu);
  return ul().path;
}

std::string user_limits_refusal() {
  std::lock_guard lock(ul().mu);
  return ul().refusal;
}

void load_user_limits(PanelModel& model) {
  UserLimits& u = ul();
  std::lock_guard lock(u.mu);
  if (u.path.empty()) return;
  std::string text, why;
  bool missing = false;
  LimitsFileFault fault;
  std::vector<SlotLimits> slots;
  const auto known = model.limit_slots();
  auto is_slot = [&known](std::string_view label) {
    for (const auto& s : known)
      if (s.label == label) return true;
    return false;
  };
  if (!read_whole(u.path, &text, &why, &missing)) {
    if (missing) {
      if (u.given) log_info("limits file " + u.path + " does not exist yet: the panel file's limits, and changes go there");
      return;
    }
    u.refusal = why;
  } else {
    u.known = text;
    if (!parse_limits_file(text, is_slot, &slots, &fault))
      u.refusal = fault.line > 0 ? "line " + std::to_string(fault.line) + ": " + fault.reason : fault.reason;
  }
  if (!u.refusal.empty()) {
    const std::string message = "limits file " + u.path + " refused: " + u.refusal + "; the panel file's limits are used";
    say(message);
    log_error(message);
    note_exit_status(EXIT_LIMITS_REFUSED);
    return;
  }
  for (const SlotLimits& s : slots) {
    for (const auto& k : known) {
      if (k.label != s.label) continue;
      log_info("limits of " + s.label + " from " + u.path + ": " + limits_fields(s.limits) + " (the panel file's: " +
               limits_fields(k.defaults) + ")");
      model.set_limits(k.id, s.limits);
    }
  }
}

bool change_limits(PanelModel& model, int id, const Limits& limits, std::string* error) {
  UserLimits& u = ul();
  std::lock_guard lock(u.mu);
  const auto slots = model.limit_slots();
  const PanelModel::LimitSlot* slot = find_slot(slots, id);
  if (!slot) {
    *error = "display " + std::to_string(id) + " takes no limits";
    return false;
  }
  std::string why;
  if (!check_limits(limits, &why)) {
    *error = slot->label + ": " + why;
    return false;
  }
  if (limits == slot->limits) return true;
  // Logged first: what the new limits raise or clear follows it.
  log_info("limits of " + slot->label + " changed by the operator: " + limits_fields(slot->limits) + " -> " +
           limits_fields(limits) + (u.path.empty() ? "" : " (" + u.path + ")"));
  model.set_limits(id, limits);
  return save(u, model, {id}, error);
}

bool restore_default_limits(PanelModel& model, std::string* error) {
  UserLimits& u = ul();
  std::lock_guard lock(u.mu);
  bool any = false;
  std::set<int> all;
  for (const auto& s : model.limit_slots()) {
    all.insert(s.id);
    if (s.limits == s.defaults) continue;
    any = true;
    log_info("limits of " + s.label + " restored to the panel file's by the operator: " + limits_fields(s.limits) +
             " -> " + limits_fields(s.defaults));
    model.set_limits(s.id, s.defaults);
  }
  if (!any) return true;
  return save(u, model, all, error);
}

void reset_user_limits_for_tests() {
  std::lock_guard lock(ul().mu);
  ul().path.clear();
  ul().given = false;
  ul().refusal.clear();
  ul().known.reset();
}

}  // namespace rt
