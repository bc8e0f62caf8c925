// Text files with the Windows text conventions, the same on every platform:
// carriage returns vanish on input, a Ctrl-Z byte ends a file, and every line
// feed goes out as carriage return plus line feed. Nothing in textio knows
// what the text means; all of it is bytes.
#pragma once

#include <utility>

#include "textio/platform.hpp"

namespace textio {

// Room for the read-ahead of an input stream and the pending bytes of an
// output stream. Callers only pick other sizes to move buffer edges in tests.
inline constexpr std::size_t default_read_ahead = 64 * 1024;
inline constexpr std::size_t default_write_buffer = 256 * 1024;

// One open file, read (input_stream) or written (output_stream). The stream
// owns the file until it is closed; the destructor only releases it, so a
// write that is lost on the way is reported by close_stream() and nowhere else.
class text_stream {
 public:
  text_stream(text_stream&& other) noexcept
      : file_(std::exchange(other.file_, platform::no_file)), failed_(other.failed_) {}
  text_stream& operator=(text_stream&&) = delete;
  ~text_stream() {
    if (file_ != platform::no_file) platform::close_file(file_);
  }

  // A read failed (input) or a write or the close failed (output). Reaching
  // the end of the input is not a failure.
  bool failed() const { return failed_; }

  platform::file file() const { return file_; }

 protected:
  explicit text_stream(platform::file f) : file_(f) {}

  // Closes the file; false when the close failed.
  bool close_file() {
    return file_ == platform::no_file ||
           platform::close_file(std::exchange(file_, platform::no_file));
  }

  platform::file file_;
  bool failed_ = false;
};

}  // namespace textio
