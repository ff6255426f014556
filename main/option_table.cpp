#include "main/option_table.h"

#include <cctype>
#include <sstream>

namespace gse {

namespace {

constexpr const char* DEFAULT_PORT = "%PORT%";  // replaced by the platform's default device
constexpr size_t USAGE_WIDTH = 80;
constexpr size_t HELP_COLUMN = 18;

const char SYNOPSIS[] =
    "usage: vst_gse [options]          live: the telemetry link on COM1\n"
    "       vst_gse [options] FILE     playback of a recording ('-': standard input)\n"
    "       vst_gse [options] --link-replay FILE\n"
    "                                  a live recording through the live receiver\n"
    "       vst_gse --sessions [FOLDER] [--json]\n"
    "                                  the sessions of a folder's archive\n";

std::string with_port(std::string text, const std::string& port) {
  for (size_t at = text.find(DEFAULT_PORT); at != std::string::npos; at = text.find(DEFAULT_PORT))
    text.replace(at, std::string(DEFAULT_PORT).size(), port);
  return text;
}

// `text` in lines of at most `width` columns after `indent` blanks (the
// first line starts where the caller left off, at column `at`).
std::string wrap(const std::string& text, size_t at, size_t indent, size_t width) {
  std::istringstream words(text);
  std::string word, out;
  size_t column = at;
  bool first = true;
  while (words >> word) {
    if (!first && column + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
      first = true;
    }
    if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
  }
  return out;
}

// roff: a minus for every '-', and a line never begins with a control
// character.
std::string roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '-') out += "\\-";
    else if (c == '\\') out += "\\e";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

}  // namespace

const std::vector<OptionDoc>& option_table() {
  static const std::vector<OptionDoc> table = {
      {"--port", "DEVICE",
       "device that COM1 stands for (default %PORT%; in the window, the one chosen last in the port "
       "chooser)"},
      {"--headless", "", "no window (for unattended recording, scripts and tests)"},
      {"--launcher", "",
       "as the desktop launcher starts it: work in the folder ~/vst_gse (made when missing), so live "
       "recordings, their logs, screenshots and saved spectra go there instead of the working directory; "
       "the window's title names the folder"},
      {"--trace", "FILE", "write every run-time call as one JSON line ('-' = standard output)"},
      {"--events", "FILE", "scripted operator input: lines of '<n> <PANEL_NAME> [<value>]'"},
      {"--speed", "X", "playback speed 0.001 to 1000: playback waits are divided by X; 0 = no waits"},
      {"--at", "TIME",
       "the window's playback starts paused at the moment TIME (local, YYYY-MM-DDTHH:MM:SS[.mmm]) of the pass: "
       "its session record's times, else those its name implies (a click on a moment opens a review so)"},
      {"--csv", "FILE", "one CSV row per good frame: every decoded value, with units (columns: docs/csv.md)"},
      {"--csv-samples", "FILE", "the fast samples, one CSV row each (frame, trace, index, value)"},
      {"--csv-spectra", "FILE", "both spectra as CSV when the run ends"},
      {"--csv-failures", "", "a --csv row for each failed frame too (status, offset)"},
      {"--csv-hex", "", "a --csv column with the frame's bytes in hex"},
      {"--csv-panel", "FILE", "after each good frame, one CSV row of every display's value"},
      {"--link-replay", "FILE",
       "the bytes of a live recording through the live receiver (escapes undone), at the link's pace divided "
       "by --speed; nothing is sent or recorded (no --port, no other FILE)"},
      {"--log", "FILE",
       "the session log (appended; default live: beside the recording, same name with .log; playback: none)"},
      {"--summary", "FILE",
       "the handover summary at quit as JSON (it also goes to the log and to standard error); it counts the "
       "alarms by source and lists them"},
      {"--limits", "FILE",
       "the user limits file, over the panel file's limits slot by slot (default: limits.txt in the settings "
       "folder); the limits dialog writes it; a file with any fault is refused whole, with its line and the reason"},
      {"--publish", "mqtt://HOST[:PORT]/PREFIX",
       "publish the session to an MQTT broker (mqtts:// for TLS): PREFIX/frame, values, health, log, status, "
       "alarms (docs/mqtt.md); a slow or absent broker never delays reception or recording"},
      {"--publish-queue", "N",
       "frames and log lines held while the broker is slow or away, then the oldest are dropped and counted "
       "(default 4096, at most 100000); each frame held takes about 2.5 KiB of memory: 10 MiB by default, "
       "250 MiB at most"},
      {"--subscribe", "mqtt://HOST[:PORT]/PREFIX",
       "a read-only remote view of a publishing station's panel: frame for frame, its health, its alarm list "
       "and the frames missed, as they come (no --speed); nothing is ever sent to the instrument"},
      {"--record", "FILE",
       "with --subscribe: append the frames received to FILE (a regular file, never through a symbolic link), "
       "a recording that playback reads"},
      {"--mqtt-ca", "FILE", "mqtts://: the CA certificate that signs the broker's"},
      {"--mqtt-login", "FILE",
       "the broker login: user name on the first line, password on the second (else VST_GSE_MQTT_USER, "
       "VST_GSE_MQTT_PASSWORD; never on the command line)"},
      {"--sessions", "[FOLDER]",
       "index the recordings in FOLDER and its subfolders (default ~/vst_gse) into its archive, archive.sqlite "
       "(made again from the recordings and their session records whenever missing, damaged or stale), list "
       "every session, one a line, and quit; status 1 when a recording or the folder could not be read"},
      {"--json", "", "with --sessions: the list as one JSON document"},
      {"--report", "FILE",
       "at the end of the run, the session's report to FILE: one self-contained, printable HTML file (summary, "
       "alarms and their acknowledgements, notes, commands, the link, trends per minute), made from the "
       "recording (played, or recorded live) and its session record; not with standard input or a pipe"},
      {"--report-values", "KEY,KEY,...",
       "with --report: the values whose trends it draws, by the trends' names (HK16,F12,...); an unknown name "
       "refuses the run (status 2). Default: the set kept in the settings from File > Report... (else HK00, "
       "HK08, HK16, HK20)"},
      {"-h, --help", "", "this text"},
      {"--version", "", "the version"},
  };
  return table;
}

std::string usage_text(const std::string& default_port) {
  std::string out = SYNOPSIS;
  for (const OptionDoc& o : option_table()) {
    std::string left = std::string("  ") + o.names + (*o.value ? std::string(" ") + o.value : "");
    left += left.size() + 2 <= HELP_COLUMN ? std::string(HELP_COLUMN - left.size(), ' ') : "  ";
    out += left + wrap(with_port(o.help, default_port), left.size(), HELP_COLUMN, USAGE_WIDTH) + "\n";
  }
  return out;
}

std::string man_options(const std::string& default_port) {
  std::string out;
  for (const OptionDoc& o : option_table()) {
    out += ".TP\n";
    std::string names;
    std::istringstream parts(o.names);
    std::string part;
    while (std::getline(parts, part, ',')) {
      if (part.front() == ' ') part.erase(0, 1);
      names += (names.empty() ? "\\fB" : ", \\fB") + roff(part) + "\\fR";
    }
    out += names + (*o.value ? std::string(" \\fI") + o.value + "\\fR" : "") + "\n";
    std::string help = with_port(o.help, default_port);
    help[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(help[0])));
    out += roff(help) + ".\n";
  }
  return out;
}

}  // namespace gse
