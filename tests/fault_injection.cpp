#include "fault_injection.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

extern "C" {
ssize_t __real_read(int fd, void* bytes, std::size_t count);
ssize_t __real_write(int fd, const void* bytes, std::size_t count);
int __real_close(int fd);
int __real_flock(int fd, int operation);
// fstat() under each name that the C library has for it: the headers lead
// a call to the form with 64-bit sizes where those are asked for, and to the
// one with 64-bit times on a 32-bit system.
int __real_fstat(int fd, void* st);
int __real_fstat64(int fd, void* st);
#if __TIMESIZE == 32
int __real___fstat64_time64(int fd, void* st);
#endif
int __real_lstat(const char* name, void* st);
int __real_lstat64(const char* name, void* st);
#if __TIMESIZE == 32
int __real___lstat64_time64(const char* name, void* st);
#endif
int __real_statfs(const char* name, void* fs);
int __real_statfs64(const char* name, void* fs);
int __real_fstatfs(int fd, void* fs);
int __real_fstatfs64(int fd, void* fs);
long __real_syscall(long number, ...);
}

namespace fault_injection {
namespace {

enum class fault {
  none,
  reads,
  write,
  close,
  stats,
  locks,
  another_run,
  created_before_lstat,
  view,
  allocations
};

fault armed_fault = fault::none;
std::size_t reads_left = 0;
int write_to_fail = 0;
int writes_seen = 0;
int writes_after = 0;
int first_stat_to_fail = 0;
int stats_seen = 0;
int first_lock_to_fail = 0;
int locks_seen = 0;
const char* written_meanwhile = "";
const char* created_meanwhile = "";
bool refresh_failing = false;
int refreshes_seen = 0;
std::size_t smallest_failing_allocation = 0;
int console_writes_seen = 0;

bool is_file(int fd) { return fd > 2; }

}  // namespace

void fail_reads_after(std::size_t bytes) {
  armed_fault = fault::reads;
  reads_left = bytes;
}

void fail_write(int number) {
  armed_fault = fault::write;
  write_to_fail = number;
  writes_seen = 0;
  writes_after = 0;
}

void fail_close() { armed_fault = fault::close; }

void fail_stats_from(int number) {
  armed_fault = fault::stats;
  first_stat_to_fail = number;
  stats_seen = 0;
}

void fail_locks_from(int number, const char* meanwhile) {
  armed_fault = fault::locks;
  first_lock_to_fail = number;
  locks_seen = 0;
  written_meanwhile = meanwhile;
}

void another_run_at_lock(int number) {
  fail_locks_from(number);
  armed_fault = fault::another_run;
}

void another_run_creates_before_lstat(const char* name) {
  armed_fault = fault::created_before_lstat;
  created_meanwhile = name;
}

void on_a_view(bool refresh_fails) {
  armed_fault = fault::view;
  refresh_failing = refresh_fails;
  refreshes_seen = 0;
}

int refreshes() { return refreshes_seen; }

void fail_allocations_from(std::size_t bytes) {
  armed_fault = fault::allocations;
  smallest_failing_allocation = bytes;
}

int writes_after_failure() { return writes_after; }

int console_writes() { return console_writes_seen; }

void disarm() {
  armed_fault = fault::none;
  console_writes_seen = 0;
}

}  // namespace fault_injection

using namespace fault_injection;

extern "C" ssize_t __wrap_read(int fd, void* bytes, std::size_t count) {
  if (armed_fault != fault::reads || !is_file(fd)) return __real_read(fd, bytes, count);
  if (reads_left == 0) {
    errno = EIO;
    return -1;
  }
  const ssize_t n = __real_read(fd, bytes, std::min(count, reads_left));
  if (n > 0) reads_left -= static_cast<std::size_t>(n);
  return n;
}

extern "C" ssize_t __wrap_write(int fd, const void* bytes, std::size_t count) {
  if (fd == 1) ++console_writes_seen;
  if (armed_fault != fault::write || !is_file(fd)) return __real_write(fd, bytes, count);
  ++writes_seen;
  if (writes_seen > write_to_fail) ++writes_after;
  if (writes_seen == write_to_fail) {
    errno = ENOSPC;
    return -1;
  }
  return __real_write(fd, bytes, count);
}

extern "C" int __wrap_close(int fd) {
  const int result = __real_close(fd);
  if (armed_fault != fault::close || !is_file(fd) || result != 0) return result;
  errno = EIO;
  return -1;
}

extern "C" int __wrap_flock(int fd, int operation) {
  if ((armed_fault != fault::locks && armed_fault != fault::another_run) ||
      !is_file(fd) || ++locks_seen < first_lock_to_fail) {
    return __real_flock(fd, operation);
  }
  if (armed_fault == fault::locks) {
    const std::size_t size = std::strlen(written_meanwhile);
    if (size > 0 &&
        pwrite(fd, written_meanwhile, size, 0) != static_cast<ssize_t>(size)) {
      std::abort();
    }
    written_meanwhile = "";
    errno = ENOLCK;
    return -1;
  }
  armed_fault = fault::none;
  const int other = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY);
  __real_flock(other, LOCK_EX);
  if (ftruncate(other, 0) != 0) std::abort();
  const int result = __real_flock(fd, operation);
  const int error = errno;
  close(other);
  errno = error;
  return result;
}

namespace {

int stat_or_fail(int fd, void* st, int (*real)(int, void*)) {
  if (armed_fault != fault::stats || !is_file(fd) || ++stats_seen < first_stat_to_fail) {
    return real(fd, st);
  }
  errno = EIO;
  return -1;
}

}  // namespace

extern "C" int __wrap_fstat(int fd, void* st) {
  return stat_or_fail(fd, st, __real_fstat);
}
extern "C" int __wrap_fstat64(int fd, void* st) {
  return stat_or_fail(fd, st, __real_fstat64);
}
#if __TIMESIZE == 32
extern "C" int __wrap___fstat64_time64(int fd, void* st) {
  return stat_or_fail(fd, st, __real___fstat64_time64);
}
#endif

namespace {

int lstat_after_another_run(const char* name, void* st, int (*real)(const char*, void*)) {
  if (armed_fault == fault::created_before_lstat &&
      std::strcmp(name, created_meanwhile) == 0) {
    armed_fault = fault::none;
    const int made = open(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (made < 0) std::abort();
    __real_close(made);
  }
  return real(name, st);
}

// The number that FUSE gives its file systems.
void show_a_view(int result, void* fs) {
  if (result == 0) static_cast<struct statfs*>(fs)->f_type = 0x65735546;
}

}  // namespace

extern "C" int __wrap_lstat(const char* name, void* st) {
  return lstat_after_another_run(name, st, __real_lstat);
}
extern "C" int __wrap_lstat64(const char* name, void* st) {
  return lstat_after_another_run(name, st, __real_lstat64);
}
#if __TIMESIZE == 32
extern "C" int __wrap___lstat64_time64(const char* name, void* st) {
  return lstat_after_another_run(name, st, __real___lstat64_time64);
}
#endif

extern "C" int __wrap_statfs(const char* name, void* fs) {
  const int result = __real_statfs(name, fs);
  if (armed_fault == fault::view) show_a_view(result, fs);
  return result;
}
extern "C" int __wrap_statfs64(const char* name, void* fs) {
  const int result = __real_statfs64(name, fs);
  if (armed_fault == fault::view) show_a_view(result, fs);
  return result;
}
extern "C" int __wrap_fstatfs(int fd, void* fs) {
  const int result = __real_fstatfs(fd, fs);
  if (armed_fault == fault::view && is_file(fd)) show_a_view(result, fs);
  return result;
}
extern "C" int __wrap_fstatfs64(int fd, void* fs) {
  const int result = __real_fstatfs64(fd, fs);
  if (armed_fault == fault::view && is_file(fd)) show_a_view(result, fs);
  return result;
}

// The tool calls syscall() for statx alone, with its five arguments; they
// are passed on as they came, as words. No more are read than were given.
extern "C" long __wrap_syscall(long number, ...) {
  va_list arguments;
  va_start(arguments, number);
  long word[5];
  for (long& w : word) w = va_arg(arguments, long);
  va_end(arguments);
#ifdef SYS_statx
  if (armed_fault == fault::view && number == SYS_statx &&
      (word[2] & AT_STATX_FORCE_SYNC) != 0) {
    ++refreshes_seen;
    if (refresh_failing) {
      errno = ENOSYS;
      return -1;
    }
  }
#endif
  return __real_syscall(number, word[0], word[1], word[2], word[3], word[4]);
}

// Every operator new of the tests and of the tool comes here. Each form is
// given, so that none comes from a sanitizer's runtime instead.
void* operator new(std::size_t size) {
  if (armed_fault == fault::allocations && size >= smallest_failing_allocation) {
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept try {
  return operator new(size);
} catch (const std::bad_alloc&) {
  return nullptr;
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
