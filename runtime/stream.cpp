// The system's streams (ui.h, FileOpen ... FileClose): the playback input,
// read through a look-back buffer so that a pipe steps back like a file,
// and the recording, handed to a RecordingWriter. Qt-free.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "runtime/context.h"
#include "session/outcome.h"
#include "session/output_file.h"
#include "runtime/recording.h"
#include "session/session_log.h"
#include "runtime/session_watch.h"
#include "runtime/testing.h"
#include "runtime/transport.h"
#include "runtime/ui.h"

// ----- Platform: the disk sync call and a binary standard input --------------
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rt {

namespace {
std::string errno_text(int err) { return std::make_error_code(static_cast<std::errc>(err)).message(); }
}  // namespace

int sync_to_disk(FILE* fp) {
  if (std::fflush(fp) != 0) return errno != 0 ? errno : EIO;
#if defined(_WIN32)
  const int fd = _fileno(fp);
  if (fd < 0 || _commit(fd) == 0) return 0;
  return errno == EBADF || errno == EINVAL ? 0 : errno;  // a device: nothing to sync
#else
  const int fd = fileno(fp);
  if (fd < 0 || fsync(fd) == 0) return 0;
  return errno == EINVAL || errno == EROFS || errno == ENOTSUP ? 0 : errno;  // a device or pipe
#endif
}

namespace {

FILE* binary_stdin() {
#if defined(_WIN32)
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  return stdin;
}

}  // namespace

#if !defined(_WIN32)
// A pipe, FIFO or device is read as bytes come, a slice at a time, so that
// a writer that stays silent (or a FIFO nobody has opened for writing yet)
// never holds up a quit. Returns the bytes read (fewer than n at the end of
// the input, at a quit, or after a read error: *err then says why).
static size_t read_polled(int fd, uint8_t* out, size_t n, int* err) {
  size_t got = 0;
  *err = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, QUIT_POLL_MS);
    if (ready < 0 && errno != EINTR) {
      *err = errno;
      break;
    }
    if (ready <= 0) {
      if (quit_pending()) break;
      continue;
    }
    const ssize_t k = ::read(fd, out + got, n - got);
    if (k > 0) {
      got += static_cast<size_t>(k);
    } else if (k == 0) {
      break;  // the end: every writer has gone
    } else if (errno != EAGAIN && errno != EINTR) {
      *err = errno;
      break;
    } else if (quit_pending()) {
      break;
    }
  }
  return got;
}

#endif

}  // namespace rt
// ----- End of the platform part ----------------------------------------------

struct FileStream {
  std::string name;
  std::string error;  // of the last failing call

  // An input.
  FILE* in = nullptr;
  bool owns_in = false;
  std::unique_ptr<char[]> in_buffer;  // stdio's buffer for `in`, freed after it is closed
  rt::InputFeed* feed = nullptr;  // or a feed (hooks.h) instead of `in`
  bool seekable = false;      // a regular file: any position can be reached
  int polled_fd = -1;         // a pipe, FIFO or device: read as bytes come (read_polled)
  std::vector<uint8_t> seen;  // the last bytes taken from `in`, ending at offset `taken`
  size_t back = 0;            // how many of them are delivered again before `in` is read on
  int64_t taken = 0;
  bool read_failed = false;
  uint32_t getc_since_quit_look = 0;  // FileGetc calls since a quit was last looked for

  // The operator's seek, step and "Open recording" on an input (replay.h).
  std::unique_ptr<rt::ReplayInput> control;

  // A recording.
  std::unique_ptr<rt::RecordingWriter> writer;
  bool discard = false;  // no recording is made (link replay): writes go nowhere
  bool observed = false;  // the live recording: its bytes go to the session observers too

  int64_t position() const { return taken - static_cast<int64_t>(back); }
  bool is_input() const { return in != nullptr || feed != nullptr; }
};

namespace rt {

namespace {

std::string& open_error() {
  static std::string text;
  return text;
}

// How many bytes a hunt reads between two looks for a quit (FileGetc).
constexpr uint32_t QUIT_LOOK_BYTES = 4096;

// The look-back kept is trimmed only when it has grown to this, so that each
// byte is moved rarely.
constexpr size_t SEEN_TRIM_AT = 4 * static_cast<size_t>(FILE_LOOK_BACK);
constexpr size_t INPUT_BUFFER_BYTES = 64 * 1024;

void remember(FileStream* s, const uint8_t* bytes, size_t n) {
  s->taken += static_cast<int64_t>(n);
  s->seen.insert(s->seen.end(), bytes, bytes + n);
  if (s->seen.size() > SEEN_TRIM_AT)
    s->seen.erase(s->seen.begin(), s->seen.end() - FILE_LOOK_BACK);
}

void report_read_error(FileStream* s, int err) {
  s->read_failed = true;
  s->error = err != 0 ? errno_text(err) : "read error";
  say("Cannot read input file " + s->name + " to its end: " + s->error + " (playback ends there)");
  note_exit_status(EXIT_INPUT_FAILED);
  transport_post_message("Input file " + s->name + " could not be read to its end: " + s->error);
}

// Up to n bytes from the position: first those stepped back over, then new
// ones. Fewer only at the end of the input or after a read error.
size_t input_read(FileStream* s, uint8_t* out, size_t n) {
  size_t got = 0;
  if (s->back > 0) {
    got = std::min(n, s->back);
    std::memcpy(out, s->seen.data() + (s->seen.size() - s->back), got);
    s->back -= got;
  }
  if (s->feed) {
    // A feed waits for its bytes; a quit ends the input (the record read
    // so far is short, as at the end of a file).
    while (got < n && !quit_pending()) {
      const size_t fresh = s->feed->read(out + got, n - got, QUIT_POLL_MS);
      remember(s, out + got, fresh);
      got += fresh;
    }
  } else if (got < n && !s->read_failed) {
    size_t fresh;
#if !defined(_WIN32)
    if (s->polled_fd >= 0) {
      int err = 0;
      fresh = read_polled(s->polled_fd, out + got, n - got, &err);
      if (err != 0) report_read_error(s, err);
    } else
#endif
    {
      errno = 0;
      fresh = std::fread(out + got, 1, n - got, s->in);
      const int err = errno;
      if (fresh < n - got && std::ferror(s->in)) report_read_error(s, err);
    }
    remember(s, out + got, fresh);
    got += fresh;
  }
  transport_input_at(s->position());
  return got;
}

int seek_failed(FileStream* s, const std::string& why) {
  s->error = why;
  return -1;
}

// What an input reads from.
struct Source {
  std::string name;
  FILE* in = nullptr;
  std::unique_ptr<char[]> buffer;  // stdio's buffer for `in`
  InputFeed* feed = nullptr;
  bool owns = false;
  bool seekable = false;
  int polled_fd = -1;
  int64_t total = 0;  // 0: unknown
};

bool open_source(const std::string& path, Source* out, std::string* error) {
  if (InputFeed* feed = input_feed(path)) {
    out->name = path;
    out->feed = feed;
    return true;
  }
  if (path == "-") {
    out->name = "- (standard input)";
    out->in = binary_stdin();
#if !defined(_WIN32)
    struct stat st {};
    if (::fstat(0, &st) == 0 && !S_ISREG(st.st_mode)) out->polled_fd = 0;
#endif
    return true;
  }
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_type type = fs::status(path, ec).type();
  if (ec) {
    *error = ec.message();
    return false;
  }
  if (type == fs::file_type::directory) {
    *error = std::make_error_code(std::errc::is_a_directory).message();
    return false;
  }
  if (type != fs::file_type::regular && type != fs::file_type::fifo &&
      type != fs::file_type::character) {
    *error = "not a regular file, pipe, FIFO or character device";
    return false;
  }
#if defined(_WIN32)
  out->in = std::fopen(path.c_str(), "rb");
#else
  // Without waiting for a FIFO's writer: the reads wait for bytes instead,
  // where a quit can end the wait.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0 && type == fs::file_type::regular) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  out->in = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
  if (fd >= 0 && !out->in) ::close(fd);
  // A file is read 64 KiB at a time (stdio's default is 4 KiB): fast
  // playback reads a day's recording in seconds. The buffer is given:
  // glibc ignores the size asked for without one.
  if (out->in && type == fs::file_type::regular) {
    out->buffer.reset(new char[INPUT_BUFFER_BYTES]);
    std::setvbuf(out->in, out->buffer.get(), _IOFBF, INPUT_BUFFER_BYTES);
  }
  if (out->in && type != fs::file_type::regular) out->polled_fd = fd;
#endif
  if (!out->in) {
    *error = errno_text(errno);
    return false;
  }
  out->name = path;
  out->owns = true;
  out->seekable = type == fs::file_type::regular;
  if (out->seekable) {
    const auto size = fs::file_size(path, ec);
    if (!ec) out->total = static_cast<int64_t>(size);
  }
  return true;
}

// Reads from `source` from its start on.
void take_source(FileStream* s, Source&& source) {
  if (s->in && s->owns_in) std::fclose(s->in);
  s->in_buffer = std::move(source.buffer);  // (the closed stream's is freed)
  s->name = std::move(source.name);
  s->in = source.in;
  s->feed = source.feed;
  s->owns_in = source.owns;
  s->seekable = source.seekable;
  s->polled_fd = source.polled_fd;
  s->seen.clear();
  s->back = 0;
  s->taken = 0;
  s->read_failed = false;
  s->error.clear();
  transport_input_opened(source.total);
}

// Moves the position to `target` (0 or more).
int seek_input(FileStream* s, int64_t target) {
  const int64_t oldest = s->taken - static_cast<int64_t>(s->seen.size());
  if (target >= oldest && target <= s->taken) {
    s->back = static_cast<size_t>(s->taken - target);
  } else if (s->seekable) {
    std::clearerr(s->in);
    if (std::fseek(s->in, static_cast<long>(target), SEEK_SET) != 0) return seek_failed(s, errno_text(errno));
    s->taken = target;
    s->seen.clear();
    s->back = 0;
  } else {
    return seek_failed(s, "a pipe cannot step back more than the look-back nor skip ahead");
  }
  transport_input_at(s->position());
  return 0;
}

class StreamControl : public ReplayInput {
 public:
  explicit StreamControl(FileStream* s) : s_(s) {}
  bool move_to(int64_t offset, std::string* error) override {
    if (seek_input(s_, offset) == 0) return true;
    *error = s_->error;
    return false;
  }
  bool reopen(const std::string& path, std::string* error) override {
    Source source;
    if (!open_source(path, &source, error)) return false;
    take_source(s_, std::move(source));
    return true;
  }
  bool seekable() const override { return s_->seekable; }

 private:
  FileStream* s_;
};

FileStream* open_input(const std::string& path) {
  Source source;
  if (!open_source(path, &source, &open_error())) return nullptr;
  auto s = std::make_unique<FileStream>();
  take_source(s.get(), std::move(source));
  s->control = std::make_unique<StreamControl>(s.get());
  if (PlaybackControl* control = playback_control()) control->attach(s->control.get(), path);
  return s.release();
}

std::string& no_recording_reason() {
  static std::string text;
  return text;
}

FileStream* open_recording(const std::string& path, const char* mode) {
  if (!no_recording_reason().empty()) {
    auto s = std::make_unique<FileStream>();
    s->name = path;
    s->discard = true;
    return s.release();
  }
  std::error_code ec;
  int64_t start = 0;
  if (mode[0] == 'a') {
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec) start = static_cast<int64_t>(size);
  }
#if defined(_WIN32)
  FILE* fp = std::fopen(path.c_str(), mode);
  if (!fp) open_error() = errno_text(errno);
#else
  std::string reason;
  FILE* fp = open_output_file(path, mode[0] == 'a', false, &reason);
  if (!fp) open_error() = reason;
#endif
  if (!fp) {
    transport_set_recording_failure("cannot create recording file " + path + ": " + open_error());
    log_error("NOT RECORDING: cannot create recording file " + path + ": " + open_error());
    // Reception goes on, but nothing received will be in a file: the caller
    // of an unattended run must learn that from the exit status.
    note_exit_status(EXIT_RECORDING_LOST);
    return nullptr;
  }
  auto s = std::make_unique<FileStream>();
  s->name = path;
  s->writer = std::make_unique<RecordingWriter>(fp, path, start, static_cast<size_t>(FILE_BACKLOG));
  s->observed = true;
  for (SessionObserver* o : session_observers()) o->recording_opened(path, start);
  return s.release();
}

}  // namespace

FileStream* stream_over(FILE* fp, const std::string& name, const char* mode) {
  auto s = std::make_unique<FileStream>();
  s->name = name;
  if (std::string(mode) == "rb") {
    s->in = fp;
    s->owns_in = true;
    transport_input_opened(0);
  } else {
    s->writer = std::make_unique<RecordingWriter>(fp, name, 0, static_cast<size_t>(FILE_BACKLOG));
  }
  return s.release();
}

void set_no_recording(const std::string& reason) { no_recording_reason() = reason; }

void drain_recording(FileStream* recording) {
  if (recording && recording->writer) recording->writer->drain();
}

}  // namespace rt

using namespace rt;

FileStream* FileOpen(const char* path, const char* mode) {
  open_error().clear();
  if (!path || !mode) {
    open_error() = "no file named";
    return nullptr;
  }
  const std::string m = mode;
  if (m == "rb") return open_input(path);
  if (m == "ab" || m == "wb") return open_recording(path, mode);
  open_error() = "unsupported mode \"" + m + "\"";
  return nullptr;
}

size_t FileRead(void* buffer, size_t size, size_t count, FileStream* stream) {
  if (!stream || !stream->is_input() || size == 0 || count == 0 || count > SIZE_MAX / size) return 0;
  return input_read(stream, static_cast<uint8_t*>(buffer), size * count) / size;
}

int FileGetc(FileStream* stream) {
  uint8_t byte;
  if (!stream || !stream->is_input()) return EOF;
  // The reader's hunt for a sync word takes byte after byte and comes back
  // only at the next one: across a long stretch without it (a zero-filled
  // or random file at speed 0) that is minutes. A quit ends the input there,
  // as it ends a wait for a pipe's bytes, so the hunt returns at once. It is
  // looked for once every QUIT_LOOK_BYTES (well under a millisecond of
  // reading), never in FileRead: an input no quit cuts reads as before.
  if (++stream->getc_since_quit_look >= QUIT_LOOK_BYTES) {
    stream->getc_since_quit_look = 0;
    if (quit_pending()) return EOF;
  }
  if (input_read(stream, &byte, 1) != 1) return EOF;
  return byte;
}

int FileSeek(FileStream* stream, long offset, int origin) {
  if (!stream) return -1;
  FileStream* s = stream;
  if (!s->is_input()) return seek_failed(s, "not an input");
  int64_t target;
  if (origin == SEEK_SET) {
    target = offset;
  } else if (origin == SEEK_CUR) {
    target = s->position() + offset;
  } else if (origin == SEEK_END && s->seekable) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(s->name, ec);
    if (ec) return seek_failed(s, ec.message());
    target = static_cast<int64_t>(size) + offset;
  } else if (origin == SEEK_END) {
    return seek_failed(s, "the end of a pipe is not known");
  } else {
    return seek_failed(s, "unknown origin");
  }
  if (target < 0) return seek_failed(s, "a position before the start");
  const int64_t oldest = s->taken - static_cast<int64_t>(s->seen.size());
  if (origin == SEEK_CUR && offset < 0 && target >= oldest) {
    // The reader steps back to hunt for a sync word over what it refused.
    const size_t from = s->seen.size() - static_cast<size_t>(s->taken - target);
    if (PlaybackControl* control = playback_control())
      control->stepped_back(s->seen.data() + from, s->seen.size() - s->back - from);
    if (from > 0)
      for (FrameObserver* o : frame_observers())
        o->stepped_back(s->seen[from - 1], s->seen.data() + from, s->seen.size() - s->back - from);
  }
  return seek_input(s, target);
}

size_t FileWrite(const void* data, size_t size, size_t count, FileStream* stream) {
  if (stream && stream->discard) return count;
  if (!stream || !stream->writer || size == 0 || count == 0 || count > SIZE_MAX / size) return 0;
  const auto* bytes = static_cast<const uint8_t*>(data);
  const size_t n = size * count;
  if (!stream->observed || session_observers().empty()) return stream->writer->append(bytes, n) / size;
  int64_t offset = 0;
  const size_t kept = stream->writer->append(bytes, n, &offset);
  for (SessionObserver* o : session_observers()) {
    o->recorded(bytes, kept, offset);
    if (kept < n) o->recorded(bytes + kept, n - kept, -1);
  }
  return kept / size;
}

int FileFlush(FileStream* stream) {
  if (stream && stream->discard) return 0;
  if (!stream || !stream->writer) return EOF;
  stream->writer->wake();
  return stream->writer->failing() ? EOF : 0;
}

int FileClose(FileStream* stream) {
  if (!stream) return 0;
  int result = 0;
  if (stream->control)
    if (PlaybackControl* control = playback_control()) control->detach(stream->control.get());
  if (stream->writer) {
    if (!stream->writer->close()) result = EOF;
    watch_recording_closed(stream->name, stream->writer->bytes_written(), stream->writer->bytes_missing());
    if (stream->observed)
      for (SessionObserver* o : session_observers()) o->recording_closed(stream->name);
  }
  if (stream->in) {
    if (stream->read_failed) result = EOF;
    if (stream->owns_in) std::fclose(stream->in);
  }
  delete stream;
  return result;
}

const char* FileErrorText(FileStream* stream) {
  if (!stream) return open_error().c_str();
  if (stream->writer) stream->error = stream->writer->error();
  return stream->error.c_str();
}
