// Opening a file the station writes (a recording, the session log) so that
// the open can never block: a FIFO at the name would wait for a reader for
// ever. Only a regular file is taken (created when missing); anything else
// at the name is refused with the reason. Qt-free.
#pragma once

#include <cstdio>
#include <string>

namespace rt {

// Opens `path` for writing in binary: appended to, or emptied first.
// `follow_links` false refuses a symbolic link at the name (a recording is
// never written through one). Returns the stream, or nullptr with *reason
// ("a FIFO is at that name, not a regular file", "Permission denied", ...).
FILE* open_output_file(const std::string& path, bool append, bool follow_links, std::string* reason);

}  // namespace rt
