#include "export/csv.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace rt {

namespace {

// Rows are handed to the C library in blocks of about this size.
constexpr size_t FLUSH_AT = 1 << 18;

const char* const PART_SUFFIX = ".part";

bool special(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "nan";  // never "-nan": not every reader takes it
    return true;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

}  // namespace

std::string csv_field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void csv_int(std::string& out, int64_t value) {
  char text[24];
  auto r = std::to_chars(text, text + sizeof text, value);
  out.append(text, r.ptr);
}

void csv_double(std::string& out, double value) {
  if (special(out, value)) return;
  char text[32];
  auto r = std::to_chars(text, text + sizeof text, value);
  out.append(text, r.ptr);
}

void csv_general(std::string& out, double value, int digits) {
  if (special(out, value)) return;
  char text[64];
  auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
  out.append(text, r.ptr);
}

CsvFile::~CsvFile() { abandon(); }

bool CsvFile::open(const std::string& path) {
  abandon();
  path_ = path;
  error_.clear();
  rows_ = 0;
  buffer_.clear();
  buffer_.reserve(FLUSH_AT + 4096);
  std::error_code ec;
  const auto type = std::filesystem::status(path, ec).type();
  const bool in_place = !ec && type != std::filesystem::file_type::not_found &&
                        type != std::filesystem::file_type::regular;
  write_path_ = in_place ? path : path + PART_SUFFIX;
  // Binary: "\n" line ends on every platform.
  fp_ = std::fopen(write_path_.c_str(), "wb");
  if (!fp_) {
    fail(errno);
    return false;
  }
  return true;
}

void CsvFile::end_row() {
  buffer_ += '\n';
  ++rows_;
  if (buffer_.size() >= FLUSH_AT) flush();
}

bool CsvFile::flush() {
  if (!fp_ || failed()) {
    buffer_.clear();
    return false;
  }
  if (!buffer_.empty()) {
    errno = 0;
    const size_t n = std::fwrite(buffer_.data(), 1, buffer_.size(), fp_);
    const bool ok = n == buffer_.size();
    buffer_.clear();
    if (!ok) {
      fail(errno);
      return false;
    }
  }
  errno = 0;
  if (std::fflush(fp_) != 0) {
    fail(errno);
    return false;
  }
  return true;
}

bool CsvFile::commit() {
  if (!fp_) return false;
  flush();
  errno = 0;
  const int closed = std::fclose(fp_);
  fp_ = nullptr;
  if (closed != 0 && !failed()) fail(errno);
  if (!failed() && write_path_ != path_) {
    std::error_code ec;
    std::filesystem::rename(write_path_, path_, ec);
    if (ec && std::filesystem::exists(path_)) {
      // Where a rename does not replace a file (Windows), the old export
      // gives way to the new one.
      ec.clear();
      std::filesystem::remove(path_, ec);
      if (!ec) std::filesystem::rename(write_path_, path_, ec);
    }
    if (ec) error_ = "cannot write CSV file " + path_ + ": " + ec.message();
  }
  if (failed()) {
    if (write_path_ != path_) std::remove(write_path_.c_str());
    return false;
  }
  return true;
}

void CsvFile::abandon() {
  buffer_.clear();
  if (!fp_) return;
  std::fclose(fp_);
  fp_ = nullptr;
  if (write_path_ != path_) std::remove(write_path_.c_str());
}

void CsvFile::fail(int err) {
  if (failed()) return;
  error_ = "cannot write CSV file " + path_ + ": " + (err != 0 ? std::strerror(err) : "write failed");
}

}  // namespace rt
