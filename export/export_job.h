// The analysis export: --csv, --csv-samples, --csv-spectra (with
// --csv-failures and --csv-hex), and the window's Export CSV. Qt-free.
//
// A recording file is exported by export_recording(), on a reader of its
// own (the playback reader's rules: 200-byte records, the sync word and the
// checksum, the hunt for the next sync word after a failed record), away
// from the system's thread and the window. Input that can be read only once
// (live, a link replay, a pipe) is exported from the frames the station
// shows, through FrameExport fed by the run-time (live_export_*).
//
// Every file is written as NAME.part and renamed when the export ends
// (csv.h): an error or a cancel leaves no file by the name asked for.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "export/csv.h"

struct spectra_t;

namespace rt {

struct ExportOptions {
  std::string frames_path;   // --csv: one row per good frame
  std::string samples_path;  // --csv-samples: the fast samples, one row each
  std::string spectra_path;  // --csv-spectra: both spectra at the end
  bool failures = false;     // --csv-failures: a row per failed frame too
  bool hex = false;          // --csv-hex: the frame's bytes as one hex field
  bool any() const { return !frames_path.empty() || !samples_path.empty() || !spectra_path.empty(); }
};

struct ExportResult {
  bool ok = false;
  bool cancelled = false;
  int64_t frames = 0;    // good frames exported
  int64_t failures = 0;  // failed frames seen (rows only with `failures`)
  int64_t rows = 0;      // data rows written in all files (headers not counted)
  std::string error;     // names the file and the reason
};

// The open files of one export and the rows they get.
class FrameExport {
 public:
  explicit FrameExport(ExportOptions options);
  ~FrameExport();  // abandons files not finished

  // Creates the files and writes the headers. False with error() set.
  bool open();
  // One good frame; `offset` may be NO_OFFSET (frame_csv.h).
  void frame(const uint8_t* frame, int64_t offset, int64_t skipped);
  // One failed frame, by status token (frame_csv.h).
  void failure(std::string_view status, int64_t offset);
  // Writes the spectra file from `spectra` (null: from `write_rows`, which
  // appends the spectrum rows to the text it is given, header included),
  // then closes and names every file. False with error() set.
  bool finish(const spectra_t* spectra, const std::function<bool(std::string&)>& write_rows = nullptr);
  void abandon();

  bool failed() const;
  // The first file error.
  std::string error() const;
  int64_t frames() const { return frames_; }
  int64_t failures() const { return failures_; }
  int64_t rows() const;

 private:
  ExportOptions options_;
  CsvFile frame_file_, samples_file_, spectra_file_;
  int64_t frames_ = 0;
  int64_t failures_ = 0;
  std::string error_;
};

// Reads the recording at `input` and writes what `options` asks for.
// `progress` (may be empty) is called with the share of the file read, 0..1,
// at most every few thousand frames; `cancel` (may be null) stops the export
// within as long, leaving no file. The spectra are accumulated as a
// playback run does (the 256 channels for the first 10 001 frames).
// Returns the outcome; on a failure its error names the file and the reason.
ExportResult export_recording(const std::string& input, const ExportOptions& options,
                              const std::atomic<bool>* cancel = nullptr,
                              const std::function<void(double)>& progress = nullptr);
// The same into files already opened (FrameExport::open), so that a caller
// can refuse an unwritable destination before it starts anything else.
ExportResult export_recording_into(FrameExport& out, const std::string& input,
                                   const std::atomic<bool>* cancel = nullptr,
                                   const std::function<void(double)>& progress = nullptr);

// ----- Export of the frames the station shows ---------------------------------
// The run-time feeds the frames of a session it cannot read again. Called on
// the system's thread (open/close before and after the run).
bool live_export_open(const ExportOptions& options, std::string* error);
bool live_export_enabled();
// After a good frame: its 200 bytes and the discarded-byte count shown.
void live_export_frame(const uint8_t* frame, int64_t skipped);
// After a failed frame attempt: the status text the station showed.
void live_export_status(std::string_view status_text);
// Ends the export (spectra from the program's exporter); false with
// *error when a file could not be written.
// A record the playback reader refused (from a pipe: no file to read again),
// `record` its FRAME_LEN bytes: a failure row when it began as a frame,
// as the export of a file has.
void live_export_refused_record(const uint8_t* record);
bool live_export_close(std::string* error);

}  // namespace rt
