#include "textio/text_stream.hpp"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

enum class file_match { same, different, unknown };

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

HANDLE os_handle(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// The 128-bit file id where the file system keeps one (ReFS does not keep
// the older 64-bit index unique); some network shares report an all-zero id,
// which says nothing.
bool file_id(HANDLE h, FILE_ID_INFO& id) {
  static constexpr FILE_ID_128 unknown{};
  return GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id) &&
         std::memcmp(&id.FileId, &unknown, sizeof unknown) != 0;
}

std::wstring final_path(HANDLE h) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), 0);
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    path.resize(n);
  }
}

file_match compare_files(int a, int b) {
  const HANDLE x = os_handle(a);
  const HANDLE y = os_handle(b);
  FILE_ID_INFO x_id;
  FILE_ID_INFO y_id;
  if (file_id(x, x_id) && file_id(y, y_id)) {
    // A handle that was not opened by name, such as a standard handle that
    // wine takes over from its host, may report volume 0; its id still counts.
    const bool volume_may_match = x_id.VolumeSerialNumber == y_id.VolumeSerialNumber ||
                                  x_id.VolumeSerialNumber == 0 ||
                                  y_id.VolumeSerialNumber == 0;
    return volume_may_match &&
                   std::memcmp(&x_id.FileId, &y_id.FileId, sizeof x_id.FileId) == 0
               ? file_match::same
               : file_match::different;
  }
  const std::wstring x_path = final_path(x);
  const std::wstring y_path = final_path(y);
  if (x_path.empty() || y_path.empty()) return file_match::unknown;
  return CompareStringOrdinal(x_path.c_str(), -1, y_path.c_str(), -1, TRUE) == CSTR_EQUAL
             ? file_match::same
             : file_match::different;
}

// Only a file on a disk can be one of the tool's own files.
bool may_be_a_file(int fd) { return GetFileType(os_handle(fd)) == FILE_TYPE_DISK; }

// Cutting an empty file to length 0 can still fail on a full disk; there is
// nothing to cut, and the write that follows reports the full disk.
bool truncate_file(int fd) { return _filelengthi64(fd) == 0 || _chsize_s(fd, 0) == 0; }

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

// _isatty() is true for NUL as well; a console is what takes a console mode.
bool is_terminal(int fd) {
  DWORD mode;
  return GetConsoleMode(os_handle(fd), &mode) != 0;
}

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

file_match compare_files(int a, int b) {
  struct stat x;
  struct stat y;
  if (fstat(a, &x) != 0 || fstat(b, &y) != 0) return file_match::unknown;
  return x.st_dev == y.st_dev && x.st_ino == y.st_ino ? file_match::same
                                                      : file_match::different;
}

bool may_be_a_file(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0;
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

// The two scans below run over every byte of a long list. Where SSE2 is
// there (every x86-64, Windows included) they look at 16 bytes at a time;
// the byte loop that follows each handles the tail, and everything on other
// processors.

struct line_part {
  std::size_t stored;    // bytes stored, carriage returns left out
  std::size_t consumed;  // bytes of input used up
  bool ended;            // a line feed was stored
};

// Copies input bytes from [from, end) to [to, to_end) until a line feed has
// been copied, `room` bytes have been stored or the input runs out, leaving
// out every carriage return. Bytes past the ones stored may be overwritten up
// to `to_end`.
line_part copy_line_part(const char* from, const char* end, char* to, std::size_t room,
                         const char* to_end) {
  const char* p = from;
  char* q = to;
  char* const q_limit = to + room;
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8(line_feed);
  const __m128i cr = _mm_set1_epi8(carriage_return);
  while (end - p >= 16 && to_end - q >= 16 && q < q_limit) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto special = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(block, lf), _mm_cmpeq_epi8(block, cr))));
    const auto plain = static_cast<std::size_t>(std::countr_zero(special | 0x10000u));
    // Only a block that stores something may write: at the end of the input
    // the caller's buffer stays as it was.
    if (plain != 0) _mm_storeu_si128(reinterpret_cast<__m128i*>(q), block);
    const auto left = static_cast<std::size_t>(q_limit - q);
    if (plain >= left) {
      p += left;
      q += left;
      break;
    }
    p += plain;
    q += plain;
    if (plain == 16) continue;
    // A CR LF line end, the usual case, ends the line at once.
    if (*p == carriage_return && (end - p < 2 || p[1] != line_feed)) {
      ++p;
      continue;
    }
    p += *p == carriage_return ? 2 : 1;
    *q++ = line_feed;
    return {static_cast<std::size_t>(q - to), static_cast<std::size_t>(p - from), true};
  }
#endif
  while (p < end && q < q_limit) {
    const char c = *p++;
    if (c == carriage_return) continue;
    *q++ = c;
    if (c == line_feed) {
      return {static_cast<std::size_t>(q - to), static_cast<std::size_t>(p - from), true};
    }
  }
  return {static_cast<std::size_t>(q - to), static_cast<std::size_t>(p - from), false};
}

// Copies [p, end) to `q` with every line feed as CR LF and returns the new
// end of the copy. Room for twice the input and 16 bytes more is needed.
char* expand_line_feeds(const char* p, const char* end, char* q) {
#ifdef __SSE2__
  const __m128i lf = _mm_set1_epi8(line_feed);
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), block);
    const auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf)));
    if (lfs == 0) {
      p += 16;
      q += 16;
      continue;
    }
    const int plain = std::countr_zero(lfs);
    p += plain + 1;
    q += plain;
    *q++ = carriage_return;
    *q++ = line_feed;
  }
#endif
  for (; p < end; ++p) {
    if (*p == line_feed) *q++ = carriage_return;
    *q++ = *p;
  }
  return q;
}

// Text is converted a slice at a time, so that the converted bytes of a
// slice always fit in a small buffer: at most two bytes for each byte, and
// the 16 that the conversion may write ahead.
constexpr std::size_t slice_size = 256;
constexpr std::size_t converted_slice_size = 2 * slice_size + 16;

template <typename Use>
void for_each_slice(std::string_view text, Use use) {
  while (!text.empty()) {
    use(text.substr(0, slice_size));
    text.remove_prefix(std::min(text.size(), slice_size));
  }
}

}  // namespace

text_stream& standard_output();

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
      immediate_(other.immediate_),
      silent_(other.silent_) {}

text_stream::~text_stream() {
  if (fd_ >= 0 && mode_ != mode::console) close_file(fd_);
}

// Reads the next chunk. A Ctrl-Z ends the input for good, so the chunk is cut
// there; carriage returns are left out as lines are copied from it. Returns
// false when no byte is left to deliver.
bool text_stream::fill() {
  begin_ = end_ = 0;
  while (!at_end_ && !failed_) {
    const long n = read_some(fd_, buffer_.get(), capacity_);
    if (n < 0) {
      failed_ = true;
    } else if (n == 0) {
      at_end_ = true;
    } else {
      const auto* z = static_cast<const char*>(std::memchr(buffer_.get(), ctrl_z, n));
      at_end_ = z != nullptr;
      end_ = z != nullptr ? static_cast<std::size_t>(z - buffer_.get())
                          : static_cast<std::size_t>(n);
      if (end_ > 0) return true;
    }
  }
  return false;
}

void text_stream::flush() {
  if (silent_) end_ = 0;
  // After a failed write nothing more reaches a file: a file that ends early
  // can be noticed, one with a hole in it cannot. The console keeps going.
  const bool ok = failed_ || end_ == 0 || write_all(fd_, buffer_.get(), end_);
  end_ = 0;
  if (!ok && mode_ != mode::console) failed_ = true;
}

void text_stream::put(const char* bytes, std::size_t count) {
  if (!failed_ && count <= capacity_ - end_) {
    std::memcpy(buffer_.get() + end_, bytes, count);
    end_ += count;
    return;
  }
  while (count > 0 && !failed_) {
    if (end_ == capacity_) {
      flush();
      continue;
    }
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
  // Without an identity to compare, emptying the file could destroy the
  // input, so only a file known to be another one is emptied.
  if (compare_files(fd, source.fd_) != file_match::different ||
      (is_regular_file(fd) && !truncate_file(fd))) {
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
    const line_part part =
        copy_line_part(from, in.buffer_.get() + in.end_, buffer.data() + stored,
                       limit - stored, buffer.data() + buffer.size());
    stored += part.stored;
    in.begin_ += part.consumed;
    if (part.ended) break;
  }
  if (in.failed_ || stored == 0) return std::nullopt;
  buffer[stored] = '\0';
  return std::string_view(buffer.data(), stored);
}

bool write_text(std::string_view text, text_stream& out) {
  char converted[converted_slice_size];
  for_each_slice(text, [&](std::string_view part) {
    const char* const end =
        expand_line_feeds(part.data(), part.data() + part.size(), converted);
    out.put(converted, static_cast<std::size_t>(end - converted));
  });
  if (out.immediate_) out.flush();
  return !out.failed_;
}

bool echo_text(std::string_view text, text_stream& out) {
  // Converted straight into the console's buffer, which is never smaller
  // than a slice needs, and copied from there to the file.
  text_stream& console = standard_output();
  for_each_slice(text, [&](std::string_view part) {
    if (console.capacity_ - console.end_ < converted_slice_size) console.flush();
    char* const at = console.buffer_.get() + console.end_;
    const char* const end = expand_line_feeds(part.data(), part.data() + part.size(), at);
    const auto count = static_cast<std::size_t>(end - at);
    console.end_ += count;
    out.put(at, count);
  });
  if (console.immediate_) console.flush();
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

void keep_console_off(const text_stream& file) {
  text_stream& console = standard_output();
  if (may_be_a_file(standard_output_fd) &&
      compare_files(standard_output_fd, file.fd_) != file_match::different) {
    console.silent_ = true;
    console.end_ = 0;
  }
}

void flush_console() { standard_output().flush(); }

}  // namespace textio
