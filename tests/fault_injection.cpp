#include "fault_injection.hpp"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>

extern "C" {
ssize_t __real_read(int fd, void* bytes, std::size_t count);
ssize_t __real_write(int fd, const void* bytes, std::size_t count);
int __real_close(int fd);
}

namespace fault_injection {
namespace {

enum class fault { none, reads, write, close };

fault armed_fault = fault::none;
std::size_t reads_left = 0;
int write_to_fail = 0;
int writes_seen = 0;
int writes_after = 0;

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

int writes_after_failure() { return writes_after; }

void disarm() { armed_fault = fault::none; }

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
