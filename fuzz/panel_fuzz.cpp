// Fuzzes the panel-file reader with arbitrary files.
// Invariants: no crash or undefined behaviour; a failure says why; an
// accepted panel has the requested resource, unique identifiers and
// unique names, and a model can be built from it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "runtime/model.h"
#include "runtime/panel_file.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "panel invariant broken: %s\n", what);
  std::abort();
}

const std::string& scratch_path() {
  static const std::string path = "/tmp/gse_panel_fuzz_" + std::to_string(getpid()) + ".uir";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = scratch_path();
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) return 0;
  std::fwrite(data, 1, size, fp);
  std::fclose(fp);

  rt::PanelLayout layout;
  std::string error;
  if (!rt::read_panel_file(path, 1, &layout, &error)) {
    if (error.empty()) fail("a refused panel file without a reason");
    return 0;
  }
  if (layout.resource != 1) fail("accepted the wrong resource");
  std::set<int> ids;
  std::set<std::string> names;
  for (const auto& c : layout.controls) {
    if (!ids.insert(c.id).second) fail("a duplicate identifier accepted");
    if (!names.insert(c.name).second) fail("a duplicate name accepted");
  }
  rt::PanelModel model{std::move(layout)};
  (void)model;
  return 0;
}
