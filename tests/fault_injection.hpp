// Failures of the operating system's own calls, made to order: the unit tests
// are linked with the linker's --wrap for read, write, close, fstat, flock,
// lstat, statfs, fstatfs and syscall, so these calls from the tool's code
// come here before they reach the C library, and this file replaces the
// global operator new. Only files are touched (descriptors above 2), and
// only while a fault is armed.
#pragma once

#include <cstddef>

namespace fault_injection {

// Reads deliver `bytes` bytes in all, the last read cut short where needed,
// and every read after that fails with EIO.
void fail_reads_after(std::size_t bytes);

// The write with this number (1 for the first) fails with ENOSPC; the
// others go through.
void fail_write(int number);

// Closing succeeds, but reports EIO, as on a network share whose last
// write-back fails.
void fail_close();

// The fstat with this number (1 for the first) and every later one fail with
// EIO, as on a network share that stops answering.
void fail_stats_from(int number);

// The flock with this number (1 for the first) and every later one fail with
// ENOLCK, as on a file system that gives no locks. Another program writes
// `meanwhile` to the file just before the first of them.
void fail_locks_from(int number, const char* meanwhile = "");

// The flock with this number meets another run that has opened the same file
// anew, locked it and emptied it; that run lets it go once the flock has
// failed, as a run that found no header line would.
void another_run_at_lock(int number);

// Another run creates `name` as a plain file just before the next lstat,
// in the moment between finding the name missing and creating it.
void another_run_creates_before_lstat(const char* name);

// Every file and name lies on a FUSE view. The forced refreshes of its
// attributes (statx with AT_STATX_FORCE_SYNC) are counted, and fail as on
// a kernel without statx where `refresh_fails`.
void on_a_view(bool refresh_fails);
int refreshes();

// Every allocation of `bytes` or more fails.
void fail_allocations_from(std::size_t bytes);

// Writes that were attempted after the failed one.
int writes_after_failure();

// Writes to standard output since the last arming.
int console_writes();

void disarm();

// Disarms whatever was armed before it and when it goes out of scope.
struct armed {
  armed() { disarm(); }
  armed(const armed&) = delete;
  armed& operator=(const armed&) = delete;
  ~armed() { disarm(); }
};

}  // namespace fault_injection
