// Program start-up: the command line, the Qt application,
// the system's thread beside the window, and the quit signals (Ctrl+C,
// SIGTERM, SIGHUP).
#include "main/run.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QSerialPortInfo>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <clocale>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "publish/broker.h"
#include "publish/page_feed.h"
#include "publish/publisher.h"
#include "publish/viewer.h"
#include "runtime/com_port.h"
#include "runtime/context.h"
#include "export/export_follow.h"
#include "export/export_job.h"
#include "export/panel_csv.h"
#include "history/install.h"
#include "gui/trends/remote_source.h"
#include "history/pass.h"
#include "record/record_reader.h"
#include "record/recorder.h"
#include "replay/link_replay_port.h"
#include "session/outcome.h"
#include "runtime/panel_file.h"
#include "gui/desktop/dialogs.h"
#include "gui/layout.h"
#include "gui/desktop/port_chooser.h"
#include "gui/desktop/report_values_dialog.h"
#include "runtime/qt/serial_port.h"
#include "gui/desktop/startup_dialogs.h"
#include "runtime/serial.h"
#include "gui/layout.h"
#include "gui/station/moment_jump.h"
#include "gui/window.h"
#include "archive/session_list.h"
#include "main/options.h"
#include "main/report_option.h"
#include "replay/replay.h"
#include "runtime/script.h"
#include "session/session_log.h"
#include "runtime/session_watch.h"
#include "runtime/testing.h"
#include "runtime/trace.h"
#include "runtime/transport.h"
#include "runtime/ui.h"
#include "runtime/user_limits.h"

#ifndef GSE_VERSION
#define GSE_VERSION "0"
#endif

namespace {

constexpr const char* PANEL_FILE = "gse.uir";
constexpr int PANEL_RESOURCE = 1;
using rt::EXIT_STARTUP;
using gse::Options;
using gse::usage_error;

// The broker of --publish or --subscribe, and how to log in to it: a
// malformed address or an unreadable CA or login file is a usage error
// naming it. Returns -1 when the program should go on, else the status.
int broker_options(const Options& opt, rt::BrokerAddress* address, rt::BrokerLogin* login) {
  const std::string& url = opt.publish.empty() ? opt.subscribe : opt.publish;
  const char* option = opt.publish.empty() ? "--subscribe" : "--publish";
  std::string why;
  if (!rt::parse_broker_url(url, address, &why)) return usage_error(std::string(option) + ": " + why);
  if (!opt.mqtt_ca.empty()) {
    if (!address->tls) return usage_error("--mqtt-ca is for a TLS broker (mqtts://), not " + url);
    std::FILE* probe = std::fopen(opt.mqtt_ca.c_str(), "rb");
    if (!probe) return usage_error("--mqtt-ca: cannot read " + opt.mqtt_ca + ": " + std::strerror(errno));
    std::fclose(probe);
    login->ca_file = opt.mqtt_ca;
  }
  if (!opt.mqtt_login.empty()) {
    std::string warning;
    if (!rt::read_login_file(opt.mqtt_login, login, &why, &warning)) return usage_error("--mqtt-login: " + why);
    if (!warning.empty()) std::fprintf(stderr, "vst_gse: warning: %s\n", warning.c_str());
  } else {
    rt::login_from_environment(login);
  }
  return -1;
}

// Checks the event script against the panel file, so that a bad line is a
// usage error before anything is opened.
int load_event_script(const std::string& path) {
  std::vector<rt::ScriptEvent> events;
  std::string error;
  if (!rt::parse_event_script(path, &events, &error)) return usage_error(error);
  std::string panel_path = rt::find_panel_file(PANEL_FILE);
  rt::PanelLayout layout;
  // Without a readable panel file the names cannot be checked here; the
  // program then fails at LoadPanel with its own message.
  if (!panel_path.empty() && rt::read_panel_file(panel_path, PANEL_RESOURCE, &layout, &error) &&
      !rt::check_event_script(&events, layout, path, &error))
    return usage_error(error);
  rt::set_event_script(std::move(events), path);
  return -1;
}

// --link-replay FILE: the file must be a recording that can be read, else
// the start-up fails as for a playback file. Returns -1 when it can, else
// the status with the reason in *reason.
int check_link_replay(const std::string& path, std::string* reason_out) {
  std::error_code ec;
  const auto type = std::filesystem::status(path, ec).type();
  std::FILE* probe = ec || type != std::filesystem::file_type::regular ? nullptr : std::fopen(path.c_str(), "rb");
  if (!probe) {
    const std::string reason = ec ? ec.message()
                               : type != std::filesystem::file_type::regular ? "not a regular file"
                                                                             : std::strerror(errno);
    rt::say("Cannot open input file " + path);
    rt::say_error("vst_gse: " + path + ": " + reason);
    *reason_out = reason;
    return EXIT_STARTUP;
  }
  std::fclose(probe);
  return -1;
}

// Live mode to the system, on a port that plays the file; no recording.
void start_link_replay(const std::string& path) {
  rt::set_com_port(rt::make_link_replay_port());
  rt::set_com_path(path);
  rt::transport_set_link_replay(path);
  rt::set_no_recording("link replay of " + path);
  rt::log_info("Link replay of " + path +
               ": its bytes go through the live receiver at the link's pace; nothing is sent or recorded");
}

// The user limits file: --limits FILE, else limits.txt in the settings
// folder (where the window keeps its layout), headless too.
void choose_limits_file(const Options& opt) {
  if (!opt.limits.empty()) {
    rt::set_user_limits_file(opt.limits, true);
    return;
  }
  const QString folder = QFileInfo(rt::window_settings()->fileName()).absolutePath();
  rt::set_user_limits_file((folder + QStringLiteral("/limits.txt")).toStdString(), false);
}

// What identifies a serial device beyond its path, for the session record:
// the adapter's description, manufacturer, serial number and USB ids.
std::string describe_device(const std::string& device) {
  const QSerialPortInfo info(QString::fromStdString(device));
  QStringList parts;
  if (!info.description().isEmpty()) parts << info.description();
  if (!info.manufacturer().isEmpty()) parts << info.manufacturer();
  if (!info.serialNumber().isEmpty()) parts << QStringLiteral("serial number ") + info.serialNumber();
  if (info.hasVendorIdentifier() && info.hasProductIdentifier())
    parts << QStringLiteral("USB %1:%2")
                 .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                 .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
  return parts.join(QStringLiteral(", ")).toStdString();
}

// ----- Quit signals: the one place that handles them -------------------------
// Ctrl+C, SIGTERM and (where it exists) SIGHUP act as the quit button, so the
// session ends through the normal teardown: stop command sent, port and files
// closed. A second one ends the program the hard way, in case it is stuck,
// but only from QUIT_AGAIN_AFTER_S on: one quit often comes as several
// signals at once (`timeout` and service managers signal the process and then
// its group; a hang-up adds SIGHUP), and a repeat then must not cut the
// teardown short (summary, closing log lines, the session record's close).
constexpr double QUIT_AGAIN_AFTER_S = 2.0;

// A quit signal came (sticky: the run-time's own request is taken by the
// system when it quits).
std::atomic<bool> quit_signalled{false};
// When the first came, in ns of a monotonic clock (0: none yet).
std::atomic<int64_t> first_quit_signal_ns{0};

// Async-signal-safe: clock_gettime is; steady_clock where there is none.
int64_t monotonic_ns() {
#if defined(_WIN32)
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
#else
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
#endif
}

extern "C" void on_quit_signal(int sig) {
  const int64_t now = monotonic_ns();
  int64_t first = 0;
  if (first_quit_signal_ns.compare_exchange_strong(first, now)) {
    quit_signalled.store(true);
    rt::request_quit();
    return;
  }
  if (static_cast<double>(now - first) < QUIT_AGAIN_AFTER_S * 1e9) return;  // the same quit
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void install_quit_signals() {
  std::signal(SIGINT, on_quit_signal);
  std::signal(SIGTERM, on_quit_signal);
#ifdef SIGPIPE
  // A reader of the trace or of standard output that leaves makes that
  // output fail (EPIPE, said and in the exit status), never the program.
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);  // a file-size limit is then a write error, reported as one
#endif
#ifdef SIGHUP
  // The terminal went away (or the session ended). Started with SIGHUP
  // ignored (nohup), the program keeps it ignored.
  if (std::signal(SIGHUP, on_quit_signal) == SIG_IGN) std::signal(SIGHUP, SIG_IGN);
#endif
#ifdef SIGBREAK
  // Windows: Ctrl+Break in the console (it sends no SIGTERM).
  std::signal(SIGBREAK, on_quit_signal);
#endif
}
// ------------------------------------------------------------------------------

// Without a display Qt would abort the program before it can say anything
// useful: the window is then refused with a reason instead.
bool display_available() {
#if defined(__linux__) || defined(__unix__)
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
  };
  return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
#else
  return true;
#endif
}

// --csv, --csv-samples, --csv-spectra. A recording file is exported on a
// reader of its own beside the run (export_job.h), with byte offsets;
// anything that can be read only once (live, a link replay, a pipe) from the
// frames the station shows. The files are created at start-up, so an
// unwritable destination stops the program before it starts.
class AnalysisExport {
 public:
  explicit AnalysisExport(const Options& opt) : opt_(opt) {}
  ~AnalysisExport() {
    if (job_.joinable()) job_.join();
  }

  bool start() {
    if (!opt_.exports.any()) return true;
    std::string error;
    if (!from_file()) {
      if (rt::live_export_open(opt_.exports, &error)) return true;
      return fail(error);
    }
    file_ = std::make_unique<rt::FrameExport>(opt_.exports);
    if (!file_->open()) return fail(file_->error());
    job_ = std::thread([this] { result_ = rt::export_recording_into(*file_, opt_.positional[0]); });
    return true;
  }

  // After the run: waits for the file's export, or ends the shown frames'.
  void finish() {
    if (!opt_.exports.any()) return;
    if (job_.joinable()) {
      job_.join();
      if (!result_.ok) {
        fail(result_.error);
        return;
      }
      rt::log_info("CSV export of " + std::string(opt_.positional[0]) + ": " + std::to_string(result_.frames) +
                   " frames, " + std::to_string(result_.failures) + " failed frames, " +
                   std::to_string(result_.rows) + " rows");
      return;
    }
    std::string error;
    if (!rt::live_export_close(&error)) fail(error);
  }

 private:
  bool from_file() const {
    if (opt_.positional.size() != 1 || std::string(opt_.positional[0]) == "-") return false;
    std::error_code ec;
    return std::filesystem::is_regular_file(opt_.positional[0], ec);
  }
  bool fail(const std::string& error) {
    rt::say(error);
    rt::log_error(error);
    rt::note_exit_status(rt::EXIT_OUTPUT_FAILED);
    return false;
  }

  const Options& opt_;
  std::unique_ptr<rt::FrameExport> file_;
  std::thread job_;
  rt::ExportResult result_;
};

// What made the entry fail at start-up, from the run-time's own account of
// it (the system's thread, right after the entry returned).
struct StartupProblem {
  rt::StartupFailure kind;
  std::string subject, reason;
};
StartupProblem startup_problem(bool live, const char* input) {
  const std::string panel_error = PanelErrorText();
  if (!panel_error.empty()) return {rt::StartupFailure::Panel, PANEL_FILE, panel_error};
  if (live) return {rt::StartupFailure::Port, rt::com_path(), ComErrorText()};
  return {rt::StartupFailure::Input, input ? input : "", FileErrorText(nullptr)};
}

// A start-up failure before the window's application runs, shown in a
// dialog of its own in windowed mode.
void tell_early_failure(rt::StartupFailure kind, const std::string& subject, const std::string& reason) {
  int qt_argc = 1;
  char name[] = "vst_gse";
  char* qt_argv[] = {name, nullptr};
  QApplication app(qt_argc, qt_argv);
  app.setQuitOnLastWindowClosed(false);
  rt::apply_saved_theme();
  rt::install_answers_from_environment();
  QString device;
  rt::tell_startup_failure(kind, QString::fromStdString(subject), QString::fromStdString(reason), &device);
}

// The outputs that must never hold the run up (the trace, standard output
// and standard error): how long their writers may wait for a slow reader.
class Outputs {
 public:
  // Headless playback waits for its reader, as any filter does, until a quit
  // signal; the window's playback also until the operator quits. Live
  // reception never waits: a full queue is a failed output.
  void start(bool live, bool headless) {
    live_ = live;
    headless_ = headless;
    install_quit_signals();
    rt::start_message_streams();
    if (live) rt::set_output_wait(nullptr);
    else if (headless) rt::set_output_wait([] { return !quit_signalled.load(); });
    else rt::set_output_wait([] { return !quit_signalled.load() && !rt::quit_asked(); });
    started_ = true;
  }
  // Asked every 20 ms by the outputs' closing: live and in the window, what
  // still waits gets QUIT_WRITE_OUT_S; headless playback waits for its
  // reader until a quit signal, then as long.
  bool give_up() {
    const auto now = std::chrono::steady_clock::now();
    if (!live_ && headless_ && !quit_signalled.load()) return false;
    if (!since_) since_ = now;
    return now - *since_ > std::chrono::duration<double>(QUIT_WRITE_OUT_S);
  }
  // Writes out the trace and the panel CSV. Before the summary: a write
  // that fails only now is said ahead of it and counted in the log.
  void finish_files() {
    rt::trace_close([this] { return give_up(); });
    rt::panel_csv_close();
  }
  // Writes out the messages, the summary last among them.
  void finish() {
    if (started_) rt::end_message_streams([this] { return give_up(); });
    started_ = false;
  }
  ~Outputs() {
    if (started_) rt::end_message_streams([this] { return give_up(); });
  }

 private:
  static constexpr double QUIT_WRITE_OUT_S = 0.5;
  bool live_ = false, headless_ = false, started_ = false;
  std::optional<std::chrono::steady_clock::time_point> since_;
};

}  // namespace

int RunProgram(int argc, char* argv[], int (*entry)(int argc, char* argv[])) {
  // Every message line reaches a reader at once, also when standard output
  // is a file or a pipe. (Windows has no line buffering: unbuffered there.)
#ifdef _WIN32
  std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
  std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
  // The features above the system join its calls (runtime/hooks.h).
  rt::replay_install();
  rt::export_install();
  rt::publish_install();
  // The broker password leaves the environment before anything can inherit
  // it (a browser the operator guide opens, say); the login is kept.
  rt::BrokerLogin environment_login;
  rt::login_from_environment(&environment_login);
  rt::record_install(GSE_VERSION);
  rt::record_set_device_describer(describe_device);
  rt::set_pass_reader(rt::read_session_record);
  rt::set_viewer_record_listener({rt::record_remote_opened, rt::record_remote_frame});
  gse::report_follow_recording();
  Options opt;
  int status = gse::parse_options(argc, argv, &opt);
  if (status >= 0) return status;
  if (opt.sessions)
    return rt::sessions_command(opt.sessions_folder.empty() ? gse::launcher_folder() : opt.sessions_folder,
                                opt.json, stdout, stderr);
  if (!opt.report.empty() && opt.subscribe.empty()) {
    const std::string problem = gse::report_input_problem(
        !opt.link_replay.empty() ? opt.link_replay : opt.positional.empty() ? std::string() : opt.positional[0]);
    if (!problem.empty()) {
      std::fprintf(stderr, "vst_gse: %s\n", problem.c_str());
      return rt::EXIT_USAGE;
    }
  }
  if (!opt.events.empty() && (status = load_event_script(opt.events)) >= 0) return status;
  const bool windowed = !opt.headless && display_available();
  rt::history_install(windowed);
  // Headless, only the command line can start publishing: without it,
  // nothing but the system reads the panel (no feed, no strip times).
  const bool panel_read = windowed || !opt.publish.empty();
  rt::page_feed_follow(panel_read);
  rt::set_strip_times_read(panel_read);
  rt::BrokerAddress broker;
  rt::BrokerLogin login;
  const bool sharing = !opt.publish.empty() || !opt.subscribe.empty();
  if (sharing && (status = broker_options(opt, &broker, &login)) >= 0) return status;
  // From here on a quit signal ends the program through its teardown, also
  // while a start-up failure waits in a dialog or the remote view waits for
  // its broker (Outputs::start installs it).
  Outputs outputs;
  outputs.start(opt.positional.empty() && opt.link_replay.empty() && opt.subscribe.empty(), !windowed);
  if (!opt.subscribe.empty()) {
    // The remote view: playback of the frames received, as they come. Its
    // trends follow the frames received (the station's times): from its
    // --record file, else from memory.
    if (windowed) rt::install_remote_view_trends(!opt.record.empty());
    rt::ViewerSettings view;
    view.address = broker;
    view.login = login;
    view.record_path = opt.record;
    std::string error;
    if (!rt::viewer_start(view, &error)) {
      rt::say(error);
      if (windowed) tell_early_failure(rt::StartupFailure::Input, broker.text(), error);
      return EXIT_STARTUP;
    }
    opt.subscribe_input = rt::viewer_input_name();
    opt.positional.push_back(opt.subscribe_input.data());
    opt.speed = 0.0;  // as the frames come
  }
  gse::LauncherFolder work;
  if (opt.launcher) {
    std::string why;
    if ((status = gse::enter_launcher_folder(&opt, &work, &why)) >= 0) {
      if (windowed) tell_early_failure(rt::StartupFailure::Folder, "~/vst_gse", why);
      return status;
    }
  }
  if (!opt.link_replay.empty()) {
    std::string reason;
    if ((status = check_link_replay(opt.link_replay, &reason)) >= 0) {
      if (windowed) tell_early_failure(rt::StartupFailure::Input, opt.link_replay, reason);
      return status;
    }
  }
  if (!opt.trace.empty()) {
    std::string error;
    if (!rt::trace_open(opt.trace, &error)) {
      rt::say(error);
      return rt::EXIT_OUTPUT_FAILED;
    }
  }
  if (!opt.csv_panel.empty()) {
    std::string error;
    if (!rt::panel_csv_open(opt.csv_panel, &error)) {
      rt::say(error);
      rt::trace_close();
      return rt::EXIT_OUTPUT_FAILED;
    }
  }
  AnalysisExport analysis(opt);
  if (!analysis.start()) return rt::EXIT_OUTPUT_FAILED;
  // The end of every run: what follows the session stops before its summary
  // is made, then the outputs get their last bound.
  const auto end_run = [&](int status) {
    rt::set_window_hooks(rt::WindowHooks{});
    analysis.finish();
    rt::publish_stop();
    rt::viewer_stop();
    outputs.finish_files();
    rt::add_pass_summary();
    rt::session_end(status);
    outputs.finish();
    if (!opt.report.empty())
      gse::report_at_end(opt.report,
                         !opt.link_replay.empty()                          ? opt.link_replay
                         : opt.positional.empty() || !opt.subscribe.empty() ? std::string()
                                                                            : std::string(opt.positional[0]),
                         opt.report_values, GSE_VERSION);
    return rt::final_exit_status(status);
  };
  rt::set_speed(opt.speed);
  if (opt.at_s >= 0.0) rt::set_review_start(opt.at_s);
  if (!opt.link_replay.empty()) {
    start_link_replay(opt.link_replay);
  } else {
    rt::set_com_port(rt::make_qt_serial_port());
    // A returning port is read again only if it is the same device.
    rt::set_device_identity_lookup(rt::qt_device_identity);
    if (!opt.port.empty()) {
      rt::set_com_path(opt.port);
    } else if (windowed && opt.positional.empty()) {
      // The port the operator chose last in the window (the port chooser).
      const QString remembered = rt::remembered_port();
      if (!remembered.isEmpty()) rt::set_com_path(remembered.toStdString());
    }
    // The window's transport shows the position in this file; none in live mode.
    rt::transport_set_source(opt.positional.size() == 1 ? opt.positional[0] : "");
  }
  const bool viewing = !opt.subscribe.empty();
  rt::set_quit_at_end_of_input(opt.headless && !viewing && (opt.positional.size() == 1 || !opt.link_replay.empty()));
  rt::replay_set_indexing(!opt.headless && !viewing && display_available());
  // The session log, the link's health and the summary (session_watch.h).
  rt::SessionInfo session;
  session.version = GSE_VERSION;
  session.playback = opt.positional.size() == 1;
  session.remote_view = viewing;
  session.source = viewing             ? broker.text()
                   : session.playback        ? opt.positional[0]
                   : opt.link_replay.empty() ? rt::com_path()
                                             : opt.link_replay + " (link replay)";
  session.headless = opt.headless;
  session.speed = opt.speed;
  session.log_path = opt.log;
  session.summary_path = opt.summary;
  session.link_replay = !opt.link_replay.empty();
  rt::session_begin(session);
  if (opt.launcher) {
    rt::transport_set_work_folder(work.folder, work.fallback);
    if (!work.fallback.empty())
      rt::log_warning("Launcher start: " + work.fallback + "; working in the working directory " + work.folder);
    else rt::log_info("Launcher start: working in " + work.folder + " (recordings, their logs, screenshots, saved spectra)");
  }
  choose_limits_file(opt);
  // --report's values: the ones named, else the settings' default set
  // (read now, so that a key there that no report can draw is said at the
  // start of the log).
  if (!opt.report.empty() && opt.report_values.empty()) opt.report_values = rt::saved_report_values();
  // Who publishes, for --publish or the window's setting.
  rt::publish_set_station(GSE_VERSION, session.playback ? "playback" : opt.link_replay.empty() ? "live" : "link_replay",
                          session.playback ? opt.positional[0] : opt.link_replay.empty() ? rt::com_path() : opt.link_replay);
  if (!opt.publish.empty()) {
    rt::PublishSettings publish;
    publish.address = broker;
    publish.login = login;
    publish.queue_frames = static_cast<size_t>(opt.publish_queue);
    std::string error;
    rt::publish_start(publish, /*whole_log=*/true, &error);
  }

  std::vector<char*> args{argv[0]};
  args.insert(args.end(), opt.positional.begin(), opt.positional.end());
  args.push_back(nullptr);
  int entry_argc = static_cast<int>(args.size()) - 1;

  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  const bool no_display = !opt.headless && !display_available();
  if (opt.headless || no_display) {
    QCoreApplication app(qt_argc, qt_argv);
    if (no_display) {
      // The input is opened (and reported) first as usual; the panel then
      // fails to load with this reason, and the program ends with status 1.
      rt::WindowHooks refuse;
      refuse.create = [](rt::PanelModel&, const std::string&, std::string* error) {
        *error = "no display to show it on (DISPLAY is not set); use --headless to run without a window";
        return false;
      };
      rt::set_window_hooks(std::move(refuse));
    }
    std::setlocale(LC_NUMERIC, "C");
    status = entry(entry_argc, args.data());
    return end_run(status);
  }

  QApplication app(qt_argc, qt_argv);
  // The program ends when the system's thread does, never because a window
  // closed: a start-up dialog (the port chooser) is the only window until
  // the panel shows, and its closing must not end the event loop while the
  // system's thread waits on it to make the panel.
  app.setQuitOnLastWindowClosed(false);
  // Qt takes the process's locale from the environment: numbers that the
  // C library writes (trace, saved spectra) keep the point.
  std::setlocale(LC_NUMERIC, "C");
  rt::apply_saved_theme();
  rt::install_answers_from_environment();
  rt::PanelWindow* window = nullptr;
  auto on_gui = [&app](auto&& work) {
    QMetaObject::invokeMethod(&app, work, Qt::BlockingQueuedConnection);
  };
  rt::WindowHooks hooks;
  hooks.create = [&](rt::PanelModel& model, const std::string& path, std::string* error) {
    on_gui([&] { window = rt::create_panel_window(model, path, error); });
    return window != nullptr;
  };
  hooks.show = [&] { on_gui([&] { rt::show_panel_window(window); }); };
  hooks.destroy = [&] {
    on_gui([&] {
      rt::destroy_panel_window(window);
      window = nullptr;
    });
  };
  rt::set_window_hooks(std::move(hooks));
  // A port chosen in the chooser is remembered once it has opened.
  rt::set_port_opened_observer([&app](const std::string& device) {
    QMetaObject::invokeMethod(&app, [d = QString::fromStdString(device)] { rt::port_opened(d); },
                              Qt::QueuedConnection);
  });

  status = 0;
  const bool live = opt.positional.empty() && opt.link_replay.empty();
  std::unique_ptr<QThread> system(QThread::create([&] {
    // A start-up failure is also shown in a dialog; a port that cannot be
    // opened can be retried, on the same device or another, from the start.
    for (;;) {
      status = entry(entry_argc, args.data());
      if (status != EXIT_STARTUP) break;
      const StartupProblem p = startup_problem(live, opt.positional.empty() ? nullptr : opt.positional[0]);
      QString device;
      bool retry = false;
      on_gui([&] {
        retry = rt::tell_startup_failure(p.kind, QString::fromStdString(p.subject),
                                         QString::fromStdString(p.reason), &device);
      });
      if (!retry) break;
      rt::set_com_path(device.toStdString());
      rt::log_info("Operator: retry with COM1 on " + device.toStdString());
    }
    QMetaObject::invokeMethod(&app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  }));
  system->start();
  app.exec();
  system->wait();
  rt::set_port_opened_observer(nullptr);
  QCoreApplication::sendPostedEvents();  // a port that opened last is remembered
  // A window whose deletion waited for an open question to close goes now.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return end_run(status);
}
