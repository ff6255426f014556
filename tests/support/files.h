// Temporary folders and whole-file reads and writes for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_files {

// A fresh folder under the system's temporary directory, removed with the
// object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_file(const std::string& path);
std::string read_text(const std::string& path);

// The records of a CSV text (RFC 4180: quoted fields may hold commas, quotes
// and line breaks). complete_only leaves out a last record with no line
// break yet, as a file still being written may end.
std::vector<std::vector<std::string>> parse_csv(const std::string& text, bool complete_only = false);

// The folder of the built executables (vst_gse, gse.uir, tools).
std::string bin_dir();
// The top of the source tree (data/demo.dat, ui/gse.uir).
std::string source_dir();

}  // namespace testing_files
