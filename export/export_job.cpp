#include "export/export_job.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "display/spectra.h"
#include "link/frame.h"
#include "link/scanner.h"
#include "export/frame_csv.h"
#include "runtime/transport.h"

namespace rt {

namespace {

// Progress and the cancel flag are looked at after each block of the
// recording, read this many records' bytes at a time.
constexpr int64_t PROGRESS_EVERY = 4096;
constexpr size_t READ_BLOCK = PROGRESS_EVERY * FRAME_LEN;
// A playback run accumulates the 256-channel spectrum for its count of
// frames and one more (the frame at which the count is spent).
constexpr int32_t PLAYBACK_COUNT = 10000;

// The playback run's accumulation switch and count.
struct Accumulation {
  int32_t count = PLAYBACK_COUNT;
  int on = 1;
  void frame(spectra_t& s, const uint8_t* frame) {
    spectra_accumulate(s, frame, fsub(frame), fkind(frame), on);
    if (on == 0) return;
    if (count != 0) --count;
    else on = 0;
  }
};

}  // namespace

FrameExport::FrameExport(ExportOptions options) : options_(std::move(options)) {}

FrameExport::~FrameExport() { abandon(); }

bool FrameExport::open() {
  struct File {
    CsvFile& file;
    const std::string& path;
    std::string header;
  };
  File files[] = {{frame_file_, options_.frames_path, frame_csv_header(options_.hex)},
                  {samples_file_, options_.samples_path, samples_csv_header()},
                  {spectra_file_, options_.spectra_path, ""}};
  for (File& f : files) {
    if (f.path.empty()) continue;
    if (!f.file.open(f.path)) {
      error_ = f.file.error();
      abandon();
      return false;
    }
    if (!f.header.empty()) {
      f.file.row() += f.header;
      f.file.row() += '\n';
    }
  }
  return true;
}

void FrameExport::frame(const uint8_t* frame, int64_t offset, int64_t skipped) {
  ++frames_;
  if (frame_file_.is_open()) {
    frame_csv_row(frame_file_.row(), frame, frames_, offset, skipped, options_.hex);
    frame_file_.end_row();
  }
  if (samples_file_.is_open()) {
    // 80 rows at a time: counted as such, flushed as one.
    samples_csv_rows(samples_file_.row(), frame, frames_);
    samples_file_.row().pop_back();
    samples_file_.end_row();
  }
}

void FrameExport::failure(std::string_view status, int64_t offset) {
  ++failures_;
  if (!options_.failures || !frame_file_.is_open()) return;
  frame_csv_failure_row(frame_file_.row(), status, offset, options_.hex);
  frame_file_.end_row();
}

bool FrameExport::finish(const spectra_t* spectra, const std::function<bool(std::string&)>& write_rows) {
  if (spectra_file_.is_open()) {
    if (spectra) spectra_csv(spectra_file_.row(), *spectra);
    else if (!write_rows || !write_rows(spectra_file_.row()))
      error_ = "cannot write CSV file " + spectra_file_.path() + ": the program has no spectra to export";
  }
  if (!error_.empty()) {
    abandon();
    return false;
  }
  // Every file written out before any takes its name: one that fails
  // leaves none of them looking complete.
  for (CsvFile* f : {&frame_file_, &samples_file_, &spectra_file_})
    if (f->is_open() && !f->flush() && error_.empty()) error_ = f->error();
  for (CsvFile* f : {&frame_file_, &samples_file_, &spectra_file_})
    if (error_.empty() && f->is_open() && !f->commit()) error_ = f->error();
  if (!error_.empty()) abandon();
  return error_.empty();
}

void FrameExport::abandon() {
  for (CsvFile* f : {&frame_file_, &samples_file_, &spectra_file_}) f->abandon();
}

bool FrameExport::failed() const {
  return !error_.empty() || frame_file_.failed() || samples_file_.failed() || spectra_file_.failed();
}

std::string FrameExport::error() const {
  if (!error_.empty()) return error_;
  for (const CsvFile* f : {&frame_file_, &samples_file_, &spectra_file_})
    if (f->failed()) return f->error();
  return "";
}

int64_t FrameExport::rows() const {
  // Every data row; the samples count 80 a frame.
  int64_t n = 0;
  if (!options_.frames_path.empty()) n += frame_file_.rows();  // the header is not a row
  if (!options_.samples_path.empty()) n += 80 * frames_;
  if (!options_.spectra_path.empty()) n += 48 + 256;
  return n;
}

ExportResult export_recording(const std::string& input, const ExportOptions& options,
                              const std::atomic<bool>* cancel,
                              const std::function<void(double)>& progress) {
  FrameExport out(options);
  if (!out.open()) {
    ExportResult result;
    result.error = out.error();
    return result;
  }
  return export_recording_into(out, input, cancel, progress);
}

ExportResult export_recording_into(FrameExport& out, const std::string& input,
                                   const std::atomic<bool>* cancel,
                                   const std::function<void(double)>& progress) {
  ExportResult result;
  std::FILE* fp = std::fopen(input.c_str(), "rb");
  if (!fp) {
    result.error = "cannot read " + input + ": " + std::strerror(errno) + "; no file written";
    out.abandon();
    return result;
  }
  int64_t size = -1;
  if (std::fseek(fp, 0, SEEK_END) == 0) size = std::ftell(fp);
  std::rewind(fp);
  auto spectra = std::make_unique<spectra_t>();
  init(*spectra);
  Accumulation acc;

  // The playback reader's walk (link/scanner.h): every frame, with the bytes
  // passed over before it; a failed frame is a record that starts with the
  // sync word but fails the checksum (other bytes are just passed over).
  PlaybackScan scan;
  playback_scan_start(&scan);
  std::vector<uint8_t> block(READ_BLOCK);
  int read_error = 0;
  while (!out.failed()) {
    if (cancel && cancel->load(std::memory_order_relaxed)) break;
    if (progress && size > 0) progress(static_cast<double>(scan.n_fed) / static_cast<double>(size));
    errno = 0;
    const size_t got = std::fread(block.data(), 1, block.size(), fp);
    for (size_t at = 0; at < got && !out.failed();) {
      size_t used = 0;
      const int result = playback_scan_feed(&scan, block.data() + at, got - at, &used);
      at += used;
      if (result == PLAY_FRAME) {
        acc.frame(*spectra, scan.record);
        out.frame(scan.record, scan.record_at, scan.n_skipped);
      } else if (result == PLAY_BAD_CHECKSUM) {
        out.failure("checksum_failure", scan.record_at);
      }
    }
    if (got < block.size()) {
      if (std::ferror(fp)) read_error = errno != 0 ? errno : EIO;
      break;  // a final short record is not counted
    }
  }
  std::fclose(fp);

  result.frames = out.frames();
  result.failures = out.failures();
  if (cancel && cancel->load()) {
    out.abandon();
    result.cancelled = true;
    result.error = "export of " + input + " cancelled: no file written";
    return result;
  }
  if (read_error != 0) {
    out.abandon();
    result.error = "cannot read " + input + ": " + std::strerror(read_error) + "; no file written";
    return result;
  }
  if (!out.finish(spectra.get())) {
    result.error = out.error();
    return result;
  }
  if (progress) progress(1.0);
  result.ok = true;
  result.rows = out.rows();
  return result;
}

// ----- Export of the frames the station shows ---------------------------------

namespace {

std::unique_ptr<FrameExport> live;

}  // namespace

bool live_export_open(const ExportOptions& options, std::string* error) {
  live = std::make_unique<FrameExport>(options);
  if (live->open()) return true;
  *error = live->error();
  live.reset();
  return false;
}

bool live_export_enabled() { return live != nullptr; }

void live_export_frame(const uint8_t* frame, int64_t skipped) {
  if (live) live->frame(frame, NO_OFFSET, skipped);
}

void live_export_status(std::string_view status_text) {
  if (!live) return;
  const std::string token = frame_status_token(status_text);
  if (!token.empty()) live->failure(token, NO_OFFSET);
}

void live_export_refused_record(const uint8_t* record) {
  if (live && record_has_sync(record)) live->failure("checksum_failure", NO_OFFSET);
}

bool live_export_close(std::string* error) {
  if (!live) return true;
  // The spectra as the program holds them at the end of the run, as Save
  // spectra writes them.
  auto rows = [](std::string& out) {
    std::FILE* tmp = std::tmpfile();
    if (!tmp) return false;
    const bool written = transport_write_spectra_rows(tmp);
    std::rewind(tmp);
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, tmp)) > 0) out.append(block, n);
    std::fclose(tmp);
    return written;
  };
  const bool ok = live->finish(nullptr, rows);
  if (!ok) *error = live->error();
  live.reset();
  return ok;
}

}  // namespace rt
