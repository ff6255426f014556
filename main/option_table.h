// The command line's options, written once: the usage text (--help), the
// parser's list of names and the manual page's OPTIONS section are all made
// from this table, so none of them can drift from the others. Standard C++
// only (the manual page is made from it at build time by man_page.cpp).
#pragma once

#include <string>
#include <vector>

namespace gse {

struct OptionDoc {
  const char* names;  // "--port", or "-h, --help"
  const char* value;  // "DEVICE", or "" for a switch
  const char* help;   // one paragraph, plain text
};

// Every option, in the order the usage text lists them.
const std::vector<OptionDoc>& option_table();

// The text of --help: the synopsis, then each option with its help wrapped
// to 80 columns. `default_port` is the platform's default device.
std::string usage_text(const std::string& default_port);

// The OPTIONS section's body in roff (man(7)): one .TP paragraph per option.
std::string man_options(const std::string& default_port);

}  // namespace gse
