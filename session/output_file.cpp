#include "session/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rt {

#if defined(_WIN32)

// No FIFOs in Windows' file system: the usual open cannot block.
FILE* open_output_file(const std::string& path, bool append, bool, std::string* reason) {
  FILE* fp = std::fopen(path.c_str(), append ? "ab" : "wb");
  if (!fp) *reason = std::strerror(errno);
  return fp;
}

FILE* create_new_file(const std::string& path, std::string* reason, bool* exists) {
  const int fd = ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  *exists = fd < 0 && errno == EEXIST;
  if (fd < 0) {
    *reason = *exists ? "a file is already at that name" : std::strerror(errno);
    return nullptr;
  }
  FILE* fp = ::_fdopen(fd, "wb");
  if (!fp) {
    *reason = std::strerror(errno);
    ::_close(fd);
  }
  return fp;
}

FILE* open_input_file(const std::string& path, std::string* reason, bool* missing) {
  std::error_code ec;
  const auto type = std::filesystem::status(path, ec).type();
  *missing = type == std::filesystem::file_type::not_found;
  if (type != std::filesystem::file_type::regular) {
    *reason = ec ? ec.message() : "not a regular file";
    return nullptr;
  }
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) *reason = std::strerror(errno);
  return fp;
}

#else

namespace {

const char* LINK_REFUSED = "a symbolic link is at that name (it is not written through)";

const char* kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "something";
}

}  // namespace

FILE* open_output_file(const std::string& path, bool append, bool follow_links, std::string* reason) {
  // Said before the open: a FIFO would refuse it with a puzzling "No such
  // device or address".
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode) && !follow_links) {
      *reason = LINK_REFUSED;
      return nullptr;
    }
    if (!S_ISLNK(st.st_mode) && !S_ISREG(st.st_mode)) {
      *reason = std::string(kind_of(st.st_mode)) + " is at that name, not a regular file";
      return nullptr;
    }
  }
  int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : 0);
  if (!follow_links) flags |= O_NOFOLLOW;
  const int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    *reason = errno == ELOOP && !follow_links ? LINK_REFUSED : std::strerror(errno);
    return nullptr;
  }
  auto refuse = [fd, reason](const std::string& why) -> FILE* {
    *reason = why;
    ::close(fd);
    return nullptr;
  };
  // What was opened, whatever the name held a moment before.
  if (::fstat(fd, &st) != 0) return refuse(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return refuse(std::string(kind_of(st.st_mode)) + " is at that name, not a regular file");
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return refuse(std::strerror(errno));
  if (!append && ::ftruncate(fd, 0) != 0) return refuse(std::strerror(errno));
  FILE* fp = ::fdopen(fd, append ? "ab" : "wb");
  if (!fp) return refuse(std::strerror(errno));
  return fp;
}

FILE* create_new_file(const std::string& path, std::string* reason, bool* exists) {
  // O_EXCL with O_CREAT fails on anything at the name, a link included.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  *exists = fd < 0 && errno == EEXIST;
  if (fd < 0) {
    struct stat st {};
    if (*exists && ::lstat(path.c_str(), &st) == 0)
      *reason = S_ISLNK(st.st_mode) ? "a symbolic link is at that name (it is not written through)"
                : S_ISREG(st.st_mode) ? "a file is already at that name"
                                      : std::string(kind_of(st.st_mode)) + " is at that name";
    else
      *reason = std::strerror(errno);
    return nullptr;
  }
  FILE* fp = ::fdopen(fd, "wb");
  if (!fp) {
    *reason = std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
  }
  return fp;
}

FILE* open_input_file(const std::string& path, std::string* reason, bool* missing) {
  *missing = false;
  // Without waiting for a FIFO's writer; what was opened is then looked at.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A file where a folder on the way should be: nothing at the name either.
    *missing = errno == ENOENT || errno == ENOTDIR;
    *reason = std::strerror(errno);
    return nullptr;
  }
  auto refuse = [fd, reason](const std::string& why) -> FILE* {
    *reason = why;
    ::close(fd);
    return nullptr;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return refuse(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return refuse(std::string(kind_of(st.st_mode)) + " is at that name, not a regular file");
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return refuse(std::strerror(errno));
  FILE* fp = ::fdopen(fd, "rb");
  if (!fp) return refuse(std::strerror(errno));
  return fp;
}

#endif

}  // namespace rt
