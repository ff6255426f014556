// Opening a file the station writes (a recording, the session log) or reads
// beside them (a session log, the limits file) so that the open can never
// block: a FIFO at the name would wait for a reader or writer for ever, and
// a device such as /dev/zero never ends. Only a regular file is taken;
// anything else at the name is refused with the reason. Qt-free.
#pragma once

#include <cstdio>
#include <string>

namespace rt {

// Opens `path` for writing in binary: appended to, or emptied first.
// `follow_links` false refuses a symbolic link at the name (a recording is
// never written through one). Returns the stream, or nullptr with *reason
// ("a FIFO is at that name, not a regular file", "Permission denied", ...).
FILE* open_output_file(const std::string& path, bool append, bool follow_links, std::string* reason);

// Makes `path` anew for writing in binary, exclusively (O_EXCL): anything
// already at the name, a symbolic link too (dangling or not: never
// followed), refuses it, so nothing else is ever written through that name.
// Returns the stream, or nullptr with *reason; *exists says that something
// was at the name.
FILE* create_new_file(const std::string& path, std::string* reason, bool* exists);

// Opens `path` for reading in binary, when it is a regular file (a
// symbolic link is followed to one). Returns the stream, or nullptr with
// *reason ("a FIFO is at that name, not a regular file", "No such file or
// directory", ...); *missing says that nothing is at the name (or a file
// stands where a folder on its way should be).
FILE* open_input_file(const std::string& path, std::string* reason, bool* missing);

}  // namespace rt
