#include "textio/text_stream.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace textio {
namespace {

constexpr char carriage_return = '\r';
constexpr char line_feed = '\n';
constexpr char ctrl_z = '\x1A';
constexpr int standard_output_fd = 1;

// The platform layer: plain file descriptors in binary mode everywhere, so
// that the only line-end rules are the ones this file applies.
#ifdef _WIN32

int open_file_for_reading(const char* name) {
  return _open(name, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int open_file_for_writing(const char* name) {
  return _open(name, _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
}

bool is_directory(int fd) {
  struct _stat64 st;
  return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
}

bool is_regular_file(int fd) {
  struct _stat64 st;
  return _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG;
}

bool same_file(int a, int b) {
  BY_HANDLE_FILE_INFORMATION x;
  BY_HANDLE_FILE_INFORMATION y;
  const auto handle = [](int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); };
  if (!GetFileInformationByHandle(handle(a), &x) ||
      !GetFileInformationByHandle(handle(b), &y)) {
    // Without an identity to compare, emptying the file could destroy the
    // input, so the answer that protects it is the one given.
    return true;
  }
  return x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

bool truncate_file(int fd) { return _chsize_s(fd, 0) == 0; }

long read_some(int fd, char* bytes, std::size_t count) {
  return _read(fd, bytes, static_cast<unsigned>(std::min<std::size_t>(count, INT_MAX)));
}

bool write_all(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const int n =
        _write(fd, bytes, static_cast<unsigned>(std::min<std::size_t>(count, INT_MAX)));
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool close_file(int fd) { return _close(fd) == 0; }

bool is_terminal(int fd) { return _isatty(fd) != 0; }

void prepare_standard_output() { _setmode(standard_output_fd, _O_BINARY); }

#else

// A file must never take descriptor 0, 1 or 2: when the tool is started with
// standard output closed, the echo of the console would otherwise land in
// whichever file was opened next.
int away_from_standard_fds(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

int open_file_for_reading(const char* name) {
  return away_from_standard_fds(open(name, O_RDONLY | O_CLOEXEC));
}

int open_file_for_writing(const char* name) {
  return away_from_standard_fds(open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
}

bool is_directory(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_regular_file(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool same_file(int a, int b) {
  struct stat x;
  struct stat y;
  if (fstat(a, &x) != 0 || fstat(b, &y) != 0) return true;  // see Windows
  return x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

bool truncate_file(int fd) { return ftruncate(fd, 0) == 0; }

long read_some(int fd, char* bytes, std::size_t count) {
  for (;;) {
    const ssize_t n = read(fd, bytes, count);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

bool write_all(int fd, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool close_file(int fd) { return close(fd) == 0 || errno == EINTR; }

bool is_terminal(int fd) { return isatty(fd) != 0; }

// A reader of the console that goes away must not kill the tool before it
// has finished the file: the write to the console fails instead, and is
// ignored like any other console failure.
void prepare_standard_output() { signal(SIGPIPE, SIG_IGN); }

#endif

// Removes every carriage return from [begin, end) and returns the new end.
char* drop_carriage_returns(char* begin, char* end) {
  auto* out = static_cast<char*>(std::memchr(begin, carriage_return, end - begin));
  if (out == nullptr) return end;
  for (char* in = out + 1; in < end;) {
    auto* next = static_cast<char*>(std::memchr(in, carriage_return, end - in));
    if (next == nullptr) next = end;
    std::memmove(out, in, next - in);
    out += next - in;
    in = next + 1;
  }
  return out;
}

}  // namespace

text_stream::text_stream(int fd, mode m, std::size_t buffer_size)
    : fd_(fd),
      mode_(m),
      buffer_(new char[std::max<std::size_t>(buffer_size, 1)]),
      capacity_(std::max<std::size_t>(buffer_size, 1)) {}

text_stream::text_stream(text_stream&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      mode_(other.mode_),
      buffer_(std::move(other.buffer_)),
      capacity_(other.capacity_),
      begin_(other.begin_),
      end_(other.end_),
      at_end_(other.at_end_),
      failed_(other.failed_),
      immediate_(other.immediate_) {}

text_stream::~text_stream() {
  if (fd_ >= 0 && mode_ != mode::console) close_file(fd_);
}

// Reads the next chunk and cleans it before any of it is delivered: it is cut
// at a Ctrl-Z, which ends the input for good, and loses every carriage
// return. Returns false when no clean byte is left to deliver.
bool text_stream::fill() {
  begin_ = end_ = 0;
  while (!at_end_ && !failed_) {
    const long n = read_some(fd_, buffer_.get(), capacity_);
    if (n < 0) {
      failed_ = true;
      break;
    }
    if (n == 0) {
      at_end_ = true;
      break;
    }
    char* const chunk = buffer_.get();
    char* end = chunk + n;
    if (auto* z = static_cast<char*>(std::memchr(chunk, ctrl_z, n))) {
      end = z;
      at_end_ = true;
    }
    end_ = static_cast<std::size_t>(drop_carriage_returns(chunk, end) - chunk);
    if (end_ > 0) return true;
  }
  return false;
}

void text_stream::flush() {
  if (end_ == 0) return;
  const bool ok = write_all(fd_, buffer_.get(), end_);
  end_ = 0;
  // The console keeps going after a failure; a file does not, since a file
  // with a hole in it is worse than a file that ends early.
  if (!ok && mode_ != mode::console) failed_ = true;
}

void text_stream::put(const char* bytes, std::size_t count) {
  while (count > 0 && !failed_) {
    if (end_ == capacity_) flush();
    const std::size_t n = std::min(count, capacity_ - end_);
    std::memcpy(buffer_.get() + end_, bytes, n);
    end_ += n;
    bytes += n;
    count -= n;
  }
}

std::optional<text_stream> open_input(const char* name, std::size_t buffer_size) {
  const int fd = open_file_for_reading(name);
  if (fd < 0) return std::nullopt;
  if (is_directory(fd)) {
    close_file(fd);
    return std::nullopt;
  }
  return text_stream(fd, text_stream::mode::reading, buffer_size);
}

std::optional<text_stream> open_output(const char* name, const text_stream& source,
                                       std::size_t buffer_size) {
  // Opened without truncation, so that nothing is lost before we know that
  // the name does not lead back to the input.
  const int fd = open_file_for_writing(name);
  if (fd < 0) return std::nullopt;
  // Devices such as /dev/null have no length to cut.
  if (same_file(fd, source.fd_) || (is_regular_file(fd) && !truncate_file(fd))) {
    close_file(fd);
    return std::nullopt;
  }
  return text_stream(fd, text_stream::mode::writing, buffer_size);
}

std::optional<std::string_view> read_text_line(std::span<char> buffer, text_stream& in) {
  if (buffer.empty()) return std::nullopt;
  const std::size_t limit = buffer.size() - 1;
  std::size_t stored = 0;
  while (stored < limit) {
    if (in.begin_ == in.end_ && !in.fill()) break;
    const char* from = in.buffer_.get() + in.begin_;
    const std::size_t available = std::min(limit - stored, in.end_ - in.begin_);
    const auto* lf = static_cast<const char*>(std::memchr(from, line_feed, available));
    const std::size_t n =
        lf != nullptr ? static_cast<std::size_t>(lf - from) + 1 : available;
    std::memcpy(buffer.data() + stored, from, n);
    stored += n;
    in.begin_ += n;
    if (lf != nullptr) break;
  }
  if (in.failed_ || stored == 0) return std::nullopt;
  buffer[stored] = '\0';
  return std::string_view(buffer.data(), stored);
}

bool write_text(std::string_view text, text_stream& out) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && !out.failed_) {
    const auto* lf = static_cast<const char*>(std::memchr(p, line_feed, end - p));
    if (lf == nullptr) {
      out.put(p, end - p);
      break;
    }
    out.put(p, lf - p);
    out.put("\r\n", 2);
    p = lf + 1;
  }
  if (out.immediate_) out.flush();
  return !out.failed_;
}

bool close_stream(text_stream& stream) {
  if (stream.fd_ < 0) return !stream.failed_;
  if (stream.mode_ != text_stream::mode::reading) stream.flush();
  if (!close_file(std::exchange(stream.fd_, -1)) &&
      stream.mode_ != text_stream::mode::reading) {
    stream.failed_ = true;
  }
  return !stream.failed_;
}

text_stream& standard_output() {
  // Written out when the process ends, whatever path it takes to its end.
  struct console {
    text_stream stream;
    console()
        : stream(standard_output_fd, text_stream::mode::console, default_buffer_size) {
      prepare_standard_output();
      stream.immediate_ = is_terminal(standard_output_fd);
    }
    ~console() { stream.flush(); }
  };
  static console instance;
  return instance.stream;
}

void print_text(std::string_view text) { write_text(text, standard_output()); }

void flush_standard_output() { standard_output().flush(); }

}  // namespace textio
