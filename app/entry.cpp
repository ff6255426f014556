#include "app/entry.h"

#include <cstdio>
#include <string_view>

#include "ui/panel.h"
#include "app/service.h"
#include "display/spectra.h"
#include "link/reader.h"
#include "link/receiver.h"
#include "runtime/serial.h"
#include "runtime/ui.h"

namespace {

constexpr int COM_PORT = 1;
constexpr long COM_BAUD = 19200;
constexpr int COM_PARITY_NONE = 0;
constexpr int COM_DATA_BITS = 8;
constexpr int COM_STOP_BITS = 1;
constexpr int COM_DEFAULT_QUEUE = 0;

spectra_t spectra;  // the one record of both spectra, zero at start

// "Save spectra" in the window: the run-time calls this on our own thread.
void write_spectra(void* record, FILE* out) {
  spectra_write_csv(*static_cast<const spectra_t*>(record), out);
}

// A seek back in the window would count frames twice: the run-time clears
// the spectra through this, on our own thread, between frames.
int spectra_panel = 0;
void clear_spectra(void* record) { spectra_clear(*static_cast<spectra_t*>(record), spectra_panel); }

// The local time of `t`. localtime() shares one buffer between threads (the
// window has its own); the thread-safe call has another name on Windows.
std::tm local_time(std::time_t t) {
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  return tm;
}

}  // namespace

void make_recording_name(const std::tm& t, char out[16]) {
  // The fields are bounded by their ranges, so the name is always 12
  // characters; the modulo keeps a year before 1900 from adding a '-'.
  int year_digit = ((t.tm_year % 10) + 10) % 10;
  std::snprintf(out, 16, "%1d%03d%02d%02d.dat", year_digit, t.tm_yday, t.tm_hour, t.tm_min);
}

int gse_main(int argc, char* argv[]) {
  FileStream* rec_fp = nullptr;
  FileStream* in_fp = nullptr;
  char rec_name[16] = "";
  char title[512];
  int file_mode;

  if (argc == 1) {
    file_mode = 0;
    int status = OpenComConfig(COM_PORT, "COM1", COM_BAUD, COM_PARITY_NONE, COM_DATA_BITS,
                               COM_STOP_BITS, COM_DEFAULT_QUEUE, COM_DEFAULT_QUEUE);
    std::time_t now = std::time(nullptr);
    make_recording_name(local_time(now), rec_name);
    // Appending: a restart within the same minute must not wipe a recording.
    rec_fp = FileOpen(rec_name, "ab");
    if (rec_fp) {
      std::snprintf(title, sizeof title, "vst_gse - live, recording %s", rec_name);
    } else {
      const char* reason = FileErrorText(nullptr);
      std::printf("NOT RECORDING: cannot create recording file %s: %s\n", rec_name, reason);
      std::fflush(stdout);
      std::snprintf(title, sizeof title, "vst_gse - live - NOT RECORDING (%s: %s)", rec_name, reason);
    }
    if (status < 0) {
      int err = ComSystemError();
      std::printf("%d COM1 port error %d\n", status, err != 0 ? err : status);
      std::fprintf(stderr, "vst_gse: COM1: %s\n", ComErrorText());
      std::fflush(stdout);
      FileClose(rec_fp);
      return 1;
    }
  } else if (argc == 2) {
    // A file, a pipe, a FIFO, a character device or "-" (standard input).
    in_fp = FileOpen(argv[1], "rb");
    if (!in_fp) {
      std::printf("Cannot open input file %s\n", argv[1]);
      std::fflush(stdout);
      std::fprintf(stderr, "vst_gse: %s: %s\n", argv[1], FileErrorText(nullptr));
      return 1;
    }
    file_mode = 1;
    std::snprintf(title, sizeof title, "vst_gse - playback of %s",
                  std::string_view(argv[1]) == "-" ? "standard input" : argv[1]);
  } else {
    std::fprintf(stderr, "usage: vst_gse [options] [FILE]\n");
    return 2;
  }

  init(spectra);
  int panel = LoadPanel(0, "gse.uir", PANEL);
  if (panel < 0) {
    std::printf("Cannot load panel: %s\n", PanelErrorText());
    std::fflush(stdout);
    FileClose(in_fp);
    if (file_mode == 0) CloseCom(COM_PORT);
    FileClose(rec_fp);
    return 1;
  }
  RegisterSpectraExport(write_spectra, &spectra);
  spectra_panel = panel;
  RegisterSpectraClear(clear_spectra, &spectra);
  SetPanelAttribute(panel, ATTR_PANEL_TITLE, title);
  if (rec_fp) SetPanelAttribute(panel, ATTR_PANEL_RECORDING_FILE, rec_name);
  DisplayPanel(panel);
  receiver_attach_recording(rec_fp);
  reader_attach(in_fp);

  int quit = 0;
  while (quit == 0) quit = service(panel, file_mode, spectra);

  DiscardPanel(panel);
  if (file_mode) FileClose(in_fp);
  else CloseCom(COM_PORT);
  receiver_attach_recording(nullptr);
  reader_attach(nullptr);
  // Writes what is still buffered and synchronises it to the disk.
  FileClose(rec_fp);
  std::fflush(stdout);
  return 0;
}
