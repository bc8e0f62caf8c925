// Writing a text file: every line feed goes out as CR LF, collected in a
// buffer and written in large pieces. After the first failed write nothing
// more reaches the file.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "textio/text_stream.hpp"

namespace textio {

// A line end as it stands in every file the tool writes.
inline constexpr std::string_view line_end = "\r\n";

class output_stream : public text_stream {
 public:
  // `buffer` holds buffer_size bytes and max_reserve more.
  output_stream(platform::file f, std::unique_ptr<char[]> buffer,
                std::size_t buffer_size);

  // The most that one reserve() may ask for.
  static constexpr std::size_t max_reserve = 16 * 1024;

  // Room for `count` bytes, at most max_reserve, after those pending; bytes
  // put there count once commit() takes them.
  char* reserve(std::size_t count);

  // Adds `count` bytes, put at reserve(), to what goes to the file; writes
  // out when the buffer is full. After a failure they are dropped.
  void commit(std::size_t count);

  // Writes out what is pending and closes the file. Returns false when
  // anything written to the stream has not reached the file.
  bool close();

 private:
  void flush();

  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t pending_ = 0;
};

// Opens a file for writing, creating it when missing and emptying it when
// present, and holds an exclusive lock on it until it is closed. Fails, and
// leaves the file as it was, when the name leads to the file that `source`
// reads, or when that cannot be ruled out: emptying it would destroy the
// input; when another run is writing or reading it, or the lock cannot be
// had; when it cannot be told whether it was emptied; or when there is no
// memory for the stream. A missing file stays missing, unless another run
// has taken up the one created meanwhile.
std::optional<output_stream> open_output(const char* name, const text_stream& source,
                                         std::size_t buffer_size = default_write_buffer);

// Writes `text` with every line feed as CR LF. When `tee` is given, it sees
// each converted piece just before the file does, so that a second
// destination costs no second conversion. Returns false once the stream has
// failed.
bool write_text(std::string_view text, output_stream& out,
                void (*tee)(std::string_view) = nullptr);

bool close_stream(output_stream& out);

}  // namespace textio
