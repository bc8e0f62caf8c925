// Failures of the operating system's own calls, made to order: the unit tests
// are linked with the linker's --wrap for read, write and close, so these
// calls from the tool's code come here before they reach the C library. Only
// files are touched (descriptors above 2), and only while a fault is armed.
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

// Writes that were attempted after the failed one.
int writes_after_failure();

void disarm();

// Disarms whatever was armed when it goes out of scope.
struct armed {
  armed() = default;
  armed(const armed&) = delete;
  armed& operator=(const armed&) = delete;
  ~armed() { disarm(); }
};

}  // namespace fault_injection
