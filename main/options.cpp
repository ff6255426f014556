#include "main/options.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "archive/report_values.h"
#include "main/option_table.h"
#include "publish/publisher.h"
#include "runtime/transport.h"
#include "session/outcome.h"

#ifndef GSE_VERSION
#define GSE_VERSION "0"
#endif

namespace gse {

namespace {

// --at's moment: local time "YYYY-MM-DDTHH:MM:SS", with ".mmm" or not, a
// space for the T.
bool parse_local_time(const std::string& text, double* t_s) {
  QString t = QString::fromStdString(text).trimmed();
  t.replace(QLatin1Char(' '), QLatin1Char('T'));
  for (const char* format : {"yyyy-MM-ddTHH:mm:ss.zzz", "yyyy-MM-ddTHH:mm:ss"}) {
    const QDateTime d = QDateTime::fromString(t, QLatin1String(format));
    if (d.isValid()) {
      *t_s = static_cast<double>(d.toMSecsSinceEpoch()) / 1000.0;
      return true;
    }
  }
  return false;
}

#ifdef _WIN32
#define DEFAULT_PORT_TEXT "COM1"
#else
#define DEFAULT_PORT_TEXT "/dev/ttyS0"
#endif

// The --help text, made from the option table (main/option_table.h).
const std::string& usage() {
  static const std::string text = gse::usage_text(DEFAULT_PORT_TEXT);
  return text;
}

}  // namespace

int usage_error(const std::string& message) {
  std::fprintf(stderr, "vst_gse: %s\n%s", message.c_str(), usage().c_str());
  return rt::EXIT_USAGE;
}

// Returns -1 when the program should go on, else the exit status.
int parse_options(int argc, char* argv[], Options* opt) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(usage().c_str(), stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("vst_gse %s\n", GSE_VERSION);
      return 0;
    } else if (arg == "--headless") {
      opt->headless = true;
    } else if (arg == "--launcher") {
      opt->launcher = true;
    } else if (arg == "--sessions") {
      opt->sessions = true;
      // Its folder, when the next word is not an option.
      if (i + 1 < argc && argv[i + 1][0] != '-') opt->sessions_folder = argv[++i];
    } else if (arg == "--json") {
      opt->json = true;
    } else if (arg == "--csv-failures") {
      opt->exports.failures = true;
    } else if (arg == "--csv-hex") {
      opt->exports.hex = true;
    } else if (arg == "--port" || arg == "--trace" || arg == "--events" || arg == "--csv" ||
               arg == "--csv-samples" || arg == "--csv-spectra" || arg == "--csv-panel" ||
               arg == "--link-replay" || arg == "--log" || arg == "--summary" || arg == "--publish" ||
               arg == "--subscribe" || arg == "--record" || arg == "--mqtt-ca" || arg == "--mqtt-login" ||
               arg == "--limits" || arg == "--report") {
      std::string* target = arg == "--port"          ? &opt->port
                            : arg == "--trace"       ? &opt->trace
                            : arg == "--csv"         ? &opt->exports.frames_path
                            : arg == "--csv-samples" ? &opt->exports.samples_path
                            : arg == "--csv-spectra" ? &opt->exports.spectra_path
                            : arg == "--csv-panel"   ? &opt->csv_panel
                            : arg == "--link-replay" ? &opt->link_replay
                            : arg == "--log"         ? &opt->log
                            : arg == "--summary"     ? &opt->summary
                            : arg == "--publish"     ? &opt->publish
                            : arg == "--subscribe"   ? &opt->subscribe
                            : arg == "--record"      ? &opt->record
                            : arg == "--mqtt-ca"     ? &opt->mqtt_ca
                            : arg == "--mqtt-login"  ? &opt->mqtt_login
                            : arg == "--limits"      ? &opt->limits
                            : arg == "--report"      ? &opt->report
                                                     : &opt->events;
      if (!value(target) || target->empty()) return usage_error(arg + " needs a value");
    } else if (arg == "--speed") {
      std::string text;
      if (!value(&text)) return usage_error("--speed needs a value");
      char* end = nullptr;
      errno = 0;
      double x = std::strtod(text.c_str(), &end);
      const bool in_range = x == 0.0 || (x >= rt::SPEED_MIN && x <= rt::SPEED_MAX);
      if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(x) || !in_range)
        return usage_error("--speed takes 0 (no waits) or a number from 0.001 to 1000, not \"" +
                           text + "\"");
      opt->speed = x;
      opt->speed_given = true;
    } else if (arg == "--at") {
      std::string text;
      if (!value(&text)) return usage_error("--at needs a value");
      if (!parse_local_time(text, &opt->at_s))
        return usage_error("--at takes a local time YYYY-MM-DDTHH:MM:SS[.mmm] (a space for the T will do), not \"" +
                           text + "\"");
    } else if (arg == "--report-values") {
      std::string text, error;
      if (!value(&text) || text.empty()) return usage_error("--report-values needs a value");
      // One line naming the key, as --report's own refusal.
      if (!rt::parse_report_values(text, &opt->report_values, &error)) {
        std::fprintf(stderr, "vst_gse: %s\n", error.c_str());
        return rt::EXIT_USAGE;
      }
    } else if (arg == "--publish-queue") {
      std::string text;
      if (!value(&text)) return usage_error("--publish-queue needs a value");
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || errno != 0 || n < 1 || n > rt::MAX_QUEUE_FRAMES)
        return usage_error("--publish-queue takes a number of frames from 1 to " + std::to_string(rt::MAX_QUEUE_FRAMES) +
                           " (each held frame costs about 2.5 KiB), not \"" + text + "\"");
      opt->publish_queue = n;
    } else if (arg == "--") {
      for (++i; i < argc; ++i) opt->positional.push_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage_error("unknown option " + arg);
    } else {
      opt->positional.push_back(argv[i]);
    }
  }
  if (opt->positional.size() > 1) return usage_error("more than one recording named");
  if (opt->json && !opt->sessions) return usage_error("--json goes with --sessions");
  if (opt->sessions && (!opt->positional.empty() || !opt->port.empty() || !opt->link_replay.empty() ||
                        !opt->subscribe.empty() || !opt->publish.empty()))
    return usage_error("--sessions lists a folder's sessions: it takes no FILE, --port, --link-replay, "
                       "--publish or --subscribe");
  if (!opt->link_replay.empty() && !opt->port.empty())
    return usage_error("--link-replay plays a recording: it takes no --port");
  if (!opt->link_replay.empty() && !opt->positional.empty())
    return usage_error("--link-replay FILE plays FILE: name no other recording");
  if (!opt->subscribe.empty() && (!opt->positional.empty() || !opt->port.empty() || !opt->link_replay.empty() ||
                                  !opt->publish.empty()))
    return usage_error("--subscribe shows a publishing station's frames: it takes no FILE, --port, "
                       "--link-replay or --publish");
  if (!opt->subscribe.empty() && opt->speed_given)
    return usage_error("--subscribe shows the frames as they come: it takes no --speed");
  if (opt->at_s >= 0.0 && (opt->positional.size() != 1 || opt->headless))
    return usage_error("--at starts the window's playback of a recording at a moment: name the recording, "
                       "without --headless");
  if (!opt->record.empty() && opt->subscribe.empty())
    return usage_error("--record records a remote view (--subscribe); a live station records by itself");
  if ((!opt->mqtt_ca.empty() || !opt->mqtt_login.empty()) && opt->publish.empty() && opt->subscribe.empty())
    return usage_error(std::string(!opt->mqtt_ca.empty() ? "--mqtt-ca" : "--mqtt-login") +
                       " goes with --publish or --subscribe");
  if (!opt->report_values.empty() && opt->report.empty())
    return usage_error("--report-values chooses the values of the --report FILE: name it");
  if ((opt->exports.failures || opt->exports.hex) && opt->exports.frames_path.empty())
    return usage_error(std::string(opt->exports.failures ? "--csv-failures" : "--csv-hex") +
                       " adds to the --csv file: name it with --csv FILE");
  return -1;
}


std::string launcher_folder(std::string* why) {
#if !defined(_WIN32)
  // Qt takes the root folder for a home that HOME does not give.
  const QString home = qEnvironmentVariable("HOME");
  if (home.isEmpty() || !QDir::isAbsolutePath(home)) {
    if (why) *why = home.isEmpty() ? "HOME is not set" : "HOME is not an absolute path (\"" + home.toStdString() + "\")";
    return "";
  }
#endif
  if (why) why->clear();
  return QDir(QDir::homePath()).filePath(QStringLiteral("vst_gse")).toStdString();
}

int enter_launcher_folder(Options* opt, LauncherFolder* where, std::string* why) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string folder = launcher_folder(why);
  if (folder.empty()) {
    *why += ", so there is no home folder to work in";
    rt::say("Cannot work in ~/vst_gse: " + *why);
    std::fprintf(stderr, "vst_gse: --launcher: %s\n", why->c_str());
    std::fflush(stderr);
    return rt::EXIT_STARTUP;
  }
  auto absolute = [&ec](std::string* path) {
    if (path->empty() || *path == "-") return;
    const fs::path full = fs::absolute(*path, ec);
    if (!ec) *path = full.string();
  };
  for (std::string* path : {&opt->trace, &opt->csv_panel, &opt->exports.frames_path, &opt->exports.samples_path,
                            &opt->exports.spectra_path, &opt->link_replay, &opt->log, &opt->summary, &opt->limits,
                            &opt->report})
    absolute(path);
  // (A remote view's input is the viewer's, not a path.)
  if (opt->positional.size() == 1 && opt->subscribe.empty()) {
    opt->positional_path = opt->positional[0];
    absolute(&opt->positional_path);
    opt->positional[0] = opt->positional_path.data();
  }
  fs::create_directories(folder, ec);
  std::string reason = ec ? ec.message() : "";
  // Recordings are made there: a folder that cannot take them is no use.
  if (reason.empty() && !QFileInfo(QString::fromStdString(folder)).isWritable()) reason = "it cannot be written to";
  if (reason.empty()) {
    fs::current_path(folder, ec);
    if (ec) reason = ec.message();
  }
  if (!reason.empty()) {
    where->folder = fs::current_path(ec).string();
    where->fallback = folder + " cannot be used (" + reason + ")";
    std::fprintf(stderr, "vst_gse: cannot work in %s: %s; recordings go to the working directory %s\n",
                 folder.c_str(), reason.c_str(), where->folder.c_str());
    std::fflush(stderr);
    return -1;
  }
  where->folder = folder;
  where->fallback.clear();
  return -1;
}

}  // namespace gse
