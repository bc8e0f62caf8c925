#include <fcntl.h>
#include <langinfo.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>

#include "textio/platform.hpp"

namespace textio::platform {
namespace {

file away_from_standard_descriptors(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

bool is_folder(file f) {
  struct stat st;
  return fstat(f, &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_regular_file(file f) {
  struct stat st;
  return fstat(f, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

file open_for_reading(const char* name) {
  const file f = away_from_standard_descriptors(open(name, O_RDONLY | O_CLOEXEC));
  if (f >= 0 && is_folder(f)) {
    close(f);
    return no_file;
  }
  return f;
}

file open_for_writing(const char* name) {
  return away_from_standard_descriptors(open(name, O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
}

bool make_empty(file f) { return !is_regular_file(f) || ftruncate(f, 0) == 0; }

long read_some(file f, char* bytes, std::size_t count) {
  for (;;) {
    const ssize_t n = read(f, bytes, count);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

bool write_all(file f, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(f, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

// After EINTR the descriptor is gone on Linux, and nothing was lost.
bool close_file(file f) { return close(f) == 0 || errno == EINTR; }

bool are_different_files(file a, file b) {
  struct stat x;
  struct stat y;
  return fstat(a, &x) == 0 && fstat(b, &y) == 0 &&
         (x.st_dev != y.st_dev || x.st_ino != y.st_ino);
}

console_kind console_kind_of(file f) {
  if (isatty(f) == 0) return console_kind::none;
  setlocale(LC_CTYPE, "");
  return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0 ? console_kind::utf8
                                                         : console_kind::bytes;
}

bool write_console(file, std::u16string_view) { return false; }

void prepare_standard_output() { signal(SIGPIPE, SIG_IGN); }

}  // namespace textio::platform
