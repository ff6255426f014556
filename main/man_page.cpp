// Build-time tool: writes the manual page vst_gse(1) from its template, the
// line "%OPTIONS%" replaced by the option table's OPTIONS section
// (main/option_table.h), so the page says what --help says.
//   gse_man_page TEMPLATE OUTPUT
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "main/option_table.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::cerr << "usage: gse_man_page TEMPLATE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "gse_man_page: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::ostringstream page;
  bool placed = false;
  for (std::string line; std::getline(in, line);) {
    if (line == "%OPTIONS%") {
      page << gse::man_options("/dev/ttyS0; COM1 on Windows");
      placed = true;
    } else {
      page << line << "\n";
    }
  }
  if (!placed) {
    std::cerr << "gse_man_page: " << argv[1] << " has no %OPTIONS% line\n";
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary);
  out << page.str();
  out.close();
  if (!out) {
    std::cerr << "gse_man_page: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
