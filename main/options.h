// The command line: what each option asks for (the table of options and
// their texts is main/option_table.h), read and checked. Program start only.
#pragma once

#include <string>
#include <vector>

#include "export/export_job.h"
#include "publish/publisher.h"

namespace gse {

struct Options {
  bool headless = false;
  bool launcher = false;  // --launcher: work in launcher_folder()
  std::string port;
  std::string trace;
  std::string events;
  std::string csv_panel;
  rt::ExportOptions exports;
  std::string link_replay;
  std::string log;
  std::string summary;
  std::string limits;
  std::string publish, subscribe, record, mqtt_ca, mqtt_login;
  std::string subscribe_input;  // the playback input of the remote view
  long publish_queue = static_cast<long>(rt::DEFAULT_QUEUE_FRAMES);
  double speed = 1.0;
  bool speed_given = false;
  bool sessions = false;       // --sessions: list the archive's sessions and quit
  std::string sessions_folder;  // its FOLDER ("" : the launcher's folder)
  bool json = false;           // --json: that list as JSON
  std::string report;          // --report FILE: the session's report at the end
  std::vector<std::string> report_values;  // --report-values: its values (empty: the settings' default set)
  double at_s = -1.0;  // --at: the moment the review starts at (seconds since 1970), -1: none
  std::vector<char*> positional;
  std::string positional_path;  // the recording's path when it was made absolute
};

// Reads argv into *opt. Returns -1 when the program should go on, else the
// exit status: 0 after --help or --version (their text on standard output),
// EXIT_USAGE after a usage error (the reason and the usage on standard
// error).
int parse_options(int argc, char* argv[], Options* opt);

// A usage error: `message` and the usage text on standard error. Returns
// EXIT_USAGE.
int usage_error(const std::string& message);

// The folder a launcher start works in: ~/vst_gse (the user's home folder
// as Qt finds it, also on Windows). "" with *why when there is no home
// folder to be in (on Linux, HOME unset, empty or not an absolute path: Qt
// would take "/" for it).
std::string launcher_folder(std::string* why = nullptr);

// Where a launcher start works.
struct LauncherFolder {
  std::string folder;    // launcher_folder(), or the working directory it was started in
  std::string fallback;  // why launcher_folder() could not be used ("" when it is used)
};

// --launcher: makes launcher_folder() (when missing) and the working
// directory, after turning every relative path of the command line still to
// be opened (the recording, --trace, --csv..., --log, --summary) into an
// absolute one, so that they still name what the operator meant. Returns
// -1 to go on, with *where: the folder, or, when it cannot be made, entered
// or written to, the working directory with the reason in `fallback` (said
// on standard error; the window's title says it too). Returns EXIT_STARTUP
// when there is no home folder (said on standard output and error, the
// reason in *why): a session would work in "/vst_gse".
int enter_launcher_folder(Options* opt, LauncherFolder* where, std::string* why);

}  // namespace gse
