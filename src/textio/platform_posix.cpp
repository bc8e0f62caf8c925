#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "textio/platform.hpp"
#include "textio/same_file.hpp"

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

bool is_link(const char* name) {
  struct stat st;
  return lstat(name, &st) == 0 && S_ISLNK(st.st_mode);
}

// The kernel's numbers for the file systems that show files kept elsewhere:
// an overlay, and FUSE (bindfs, unionfs-fuse, sshfs among them).
view view_of(const struct statfs& fs) {
  if (fs.f_type == 0x794c7630) return view::overlay;
  if (fs.f_type == 0x65735546) return view::fuse;
  return view::none;
}

view view_of(file f) {
  struct statfs fs;
  return fstatfs(f, &fs) != 0 ? view::fuse : view_of(fs);
}

view view_of(const char* name) {
  struct statfs fs;
  return statfs(name, &fs) != 0 ? view::fuse : view_of(fs);
}

// A view may answer with the size and time it took of a file earlier: FUSE
// keeps them for a while. Asked with AT_STATX_FORCE_SYNC, it asks again, and
// the stat that follows sees the file as it is now. False where it could not
// be asked: a kernel before statx, or a C library that would answer in the
// kernel's place without asking anew.
bool refresh(int folder, const char* name, int flags) {
#ifdef SYS_statx
  struct statx ignored;
  return syscall(SYS_statx, folder, name, flags | AT_STATX_FORCE_SYNC, STATX_BASIC_STATS,
                 &ignored) == 0;
#else
  (void)folder, (void)name, (void)flags;
  return false;
#endif
}

bool is_same_time(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the character set that a locale's name gives is UTF-8, as in
// "de_DE.UTF-8", "en_US.utf8" or a bare "UTF-8", which macOS sends over ssh
// as LC_CTYPE. The name comes from the environment, ended by its NUL, and is
// read as such: taking its length first and then searching within it would
// let the compiler assume a search as long as memory itself.
bool names_utf8(const char* locale) {
  const char* const dot = std::strchr(locale, '.');
  const char* const codeset = dot != nullptr ? dot + 1 : locale;
  const std::size_t length = std::strcspn(codeset, "@");
  const auto is = [codeset, length](std::string_view name) {
    return length == name.size() && strncasecmp(codeset, name.data(), length) == 0;
  };
  return is("utf-8") || is("utf8");
}

bool locale_is_utf8() {
  if (setlocale(LC_CTYPE, "") != nullptr) {
    return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  }
  // A locale that is not installed still names its character set, and the
  // terminal is set up for that one.
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* name = std::getenv(variable);
    if (name != nullptr && *name != '\0') return names_utf8(name);
  }
  return false;
}

}  // namespace

// - Files of two kinds (a pipe, a terminal, a plain file) are two, whatever
//   numbers they show.
// - Off views, on one device, the inode number tells. Across two (two NFS
//   mounts of one file system), one file keeps its inode number, its size
//   and its time, the time to the second only, since some keep it coarser.
// - On a view, neither the inode number nor the device tells for sure: an
//   overlay may number a file anew or show two file systems' numbers side by
//   side, and FUSE may number each name on its own. One inode number on one
//   device is one file; otherwise one file shows one size and one time to
//   the nanosecond, asked afresh. A view that could not be asked afresh
//   tells nothing by them: two names count as one.
// - Only an overlay shows true link counts: there two names on one device
//   that have one link each and two inode numbers are two files, so that two
//   files in one folder are not taken for one.
// Two files taken for one cost a refusal; one file taken for two, the data.
bool are_different(const struct stat& x, const struct stat& y, view on, bool fresh) {
  if ((x.st_mode & S_IFMT) != (y.st_mode & S_IFMT)) return true;
  const bool one_device = x.st_dev == y.st_dev;
  if (on == view::none) {
    if (one_device) return x.st_ino != y.st_ino;
    return x.st_ino != y.st_ino || x.st_size != y.st_size ||
           x.st_mtim.tv_sec != y.st_mtim.tv_sec;
  }
  if (one_device && x.st_ino == y.st_ino) return false;
  if (one_device && on == view::overlay && x.st_nlink == 1 && y.st_nlink == 1)
    return true;
  return fresh && (x.st_size != y.st_size || !is_same_time(x.st_mtim, y.st_mtim));
}

file open_for_reading(const char* name) {
  const file f = away_from_standard_descriptors(open(name, O_RDONLY | O_CLOEXEC));
  if (f >= 0 && is_folder(f)) {
    close(f);
    return no_file;
  }
  return f;
}

file open_for_writing(const char* name, bool& created) {
  created = false;
  // Created only where it was missing, so that the run knows the file is
  // its own to take back. Another run may create or remove it in between;
  // the name is then tried again, and a name that keeps changing is given
  // up. O_EXCL never creates through a link: a link that leads nowhere gets
  // its file without it, and that file, missing a moment ago, is this run's
  // as well.
  for (int tries = 0; tries < 3; ++tries) {
    const int f = open(name, O_WRONLY | O_CLOEXEC);
    if (f >= 0 || errno != ENOENT) return away_from_standard_descriptors(f);
    const int exclusive = is_link(name) ? 0 : O_EXCL;
    const int made = open(name, O_WRONLY | O_CREAT | exclusive | O_CLOEXEC, 0666);
    if (made >= 0) {
      created = true;
      return away_from_standard_descriptors(made);
    }
    if (errno != EEXIST) return no_file;
  }
  return no_file;
}

// What the name leads to, through any links, is removed: a link stays, and
// leads nowhere again.
void close_and_remove(file f, const char* name) {
  char* const path = realpath(name, nullptr);
  struct stat x;
  struct stat y;
  if (path != nullptr && fstat(f, &x) == 0 && x.st_size == 0 && stat(path, &y) == 0 &&
      x.st_dev == y.st_dev && x.st_ino == y.st_ino) {
    unlink(path);
  }
  std::free(path);
  close_file(f);
}

bool has_name(file f) {
  struct stat st;
  return fstat(f, &st) == 0 && st.st_nlink > 0;
}

lock_result lock_file(file f, lock_kind kind) {
  const int operation = (kind == lock_kind::exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
  for (;;) {
    if (flock(f, operation) == 0) return lock_result::locked;
    if (errno == EWOULDBLOCK) return lock_result::held_elsewhere;
    if (errno != EINTR) return lock_result::failed;
  }
}

bool make_empty(file f) {
  if (ftruncate(f, 0) == 0) return true;
  struct stat st;
  return fstat(f, &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode));
}

long read_some(file f, char* bytes, std::size_t count) {
  for (;;) {
    const ssize_t n = read(f, bytes, count);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

bool write_all(file f, const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t n = write(f, bytes, count);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A pipe that its reader put in non-blocking mode is full: wait until
      // it takes more. A reader that goes away wakes the wait, and the next
      // write fails.
      pollfd ready{f, POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
      continue;
    }
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
  const view on = std::max(view_of(a), view_of(b));
  const bool fresh =
      on != view::none && refresh(a, "", AT_EMPTY_PATH) && refresh(b, "", AT_EMPTY_PATH);
  struct stat x;
  struct stat y;
  if (fstat(a, &x) != 0 || fstat(b, &y) != 0) return false;
  return are_different(x, y, on, fresh);
}

// A name that cannot be looked up (a loop of links, a folder that may not
// be entered) cannot be opened either: the run refuses, and its console must
// be there to say so.
bool are_different_files(file a, const char* name) {
  const view on = std::max(view_of(a), view_of(name));
  const bool fresh =
      on != view::none && refresh(a, "", AT_EMPTY_PATH) && refresh(AT_FDCWD, name, 0);
  struct stat x;
  struct stat y;
  if (stat(name, &y) != 0) return true;
  if (fstat(a, &x) != 0) return false;
  return are_different(x, y, on, fresh);
}

console_kind console_kind_of(file f) {
  if (isatty(f) == 0) return console_kind::none;
  return locale_is_utf8() ? console_kind::utf8 : console_kind::bytes;
}

bool write_console(file, std::u16string_view) { return false; }

void prepare_writes() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace textio::platform
