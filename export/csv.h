// Writing CSV files that analysis tools read as they are: numbers in the C
// locale whatever the process's locale, NaN and infinities as "nan", "inf"
// and "-inf" (what pandas, numpy and Python's float() read), one line per
// record, "\n" line ends on every platform. Qt-free.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace rt {

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string csv_field(std::string_view text);

// Number fields appended to `out`, in the C locale.
void csv_int(std::string& out, int64_t value);
// The shortest text that reads back as exactly `value`.
void csv_double(std::string& out, double value);
// `digits` significant digits, as printf's "%.<digits>g" in the C locale.
void csv_general(std::string& out, double value, int digits);

// One output file, written through a large buffer. A regular file (or a new
// one) is written as PATH.part and takes its name only in commit(), so a file
// by the name asked for is always complete; anything else (a device such as
// /dev/full or /dev/stdout, a FIFO) is written in place. The first failed
// write is kept in error() and later rows are dropped.
class CsvFile {
 public:
  CsvFile() = default;
  ~CsvFile();  // abandons a file not committed
  CsvFile(const CsvFile&) = delete;
  CsvFile& operator=(const CsvFile&) = delete;

  // False with error() set when the file cannot be created.
  bool open(const std::string& path);
  bool is_open() const { return fp_ != nullptr; }
  const std::string& path() const { return path_; }

  // The row being built: append fields, then end_row().
  std::string& row() { return buffer_; }
  void end_row();
  int64_t rows() const { return rows_; }

  // Writes what is buffered out to the operating system.
  bool flush();
  // Flushes, closes and gives the file its name. False with error() set
  // when any write failed (the partial file is then removed).
  bool commit();
  // Closes and removes the partial file (cancel, or another file failed).
  void abandon();

  bool failed() const { return !error_.empty(); }
  // "cannot write CSV file PATH: reason".
  const std::string& error() const { return error_; }

 private:
  void fail(int err);

  std::FILE* fp_ = nullptr;
  std::string path_;       // the name asked for
  std::string write_path_;  // PATH.part, or PATH when written in place
  std::string buffer_;
  int64_t rows_ = 0;
  std::string error_;
};

}  // namespace rt
