// Text files and the console with the Windows text conventions, the same on
// every platform: carriage returns vanish on input, a Ctrl-Z byte ends a file,
// and every line feed goes out as carriage return plus line feed. Nothing here
// knows what the text means; all of it is bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace textio {

// Room for the read-ahead of an input stream and the pending bytes of an
// output stream. Callers only pick another size to move buffer edges in tests.
inline constexpr std::size_t default_buffer_size = 64 * 1024;

// One open file, either read or written. The stream owns the file until
// close_stream(); the destructor only releases it, so a write that is lost on
// the way is reported by close_stream() and nowhere else.
class text_stream {
 public:
  text_stream(text_stream&& other) noexcept;
  text_stream& operator=(text_stream&&) = delete;
  ~text_stream();

  // A read failed (input) or a write, flush or close failed (output). Reaching
  // the end of the input is not a failure.
  bool failed() const { return failed_; }

 private:
  enum class mode { reading, writing, console };

  text_stream(int fd, mode m, std::size_t buffer_size);
  bool fill();
  void put(const char* bytes, std::size_t count);
  void flush();

  int fd_;
  mode mode_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t begin_ = 0;  // reading: next byte to deliver
  std::size_t end_ = 0;    // reading: end of the chunk; writing: pending bytes
  bool at_end_ = false;
  bool failed_ = false;
  bool immediate_ = false;  // console on a terminal: no collecting
  bool silent_ = false;     // console that is one of the tool's files

  friend std::optional<text_stream> open_input(const char*, std::size_t);
  friend std::optional<text_stream> open_output(const char*, const text_stream&,
                                                std::size_t);
  friend std::optional<std::string_view> read_text_line(std::span<char>, text_stream&);
  friend bool write_text(std::string_view, text_stream&);
  friend bool echo_text(std::string_view, text_stream&);
  friend bool close_stream(text_stream&);
  friend text_stream& standard_output();
  friend void flush_console();
  friend void keep_console_off(const text_stream&);
};

// Opens an existing file for reading. Fails for a missing file, one that may
// not be read, or a directory.
std::optional<text_stream> open_input(const char* name,
                                      std::size_t buffer_size = default_buffer_size);

// Opens a file for writing, creating it when missing and emptying it when
// present. Fails, and leaves the file as it was, when the name leads to the
// very file that `source` reads: emptying it would destroy the input.
std::optional<text_stream> open_output(const char* name, const text_stream& source,
                                       std::size_t buffer_size = default_buffer_size);

// Reads one line into `buffer`: at most buffer.size() - 1 bytes, ended by its
// line feed when the line feed fits, then a NUL. A longer line arrives in
// pieces. Returns the bytes read, or nothing at the end of the input or after
// a read error (failed() tells which); at the end the buffer is left untouched.
std::optional<std::string_view> read_text_line(std::span<char> buffer, text_stream& in);

// Writes `text`, every line feed as CR LF. Returns false once the stream has
// failed; after a failure nothing more is written.
bool write_text(std::string_view text, text_stream& out);

// print_text(text), then write_text(text, out), with one conversion for
// both. Returns what write_text would.
bool echo_text(std::string_view text, text_stream& out);

// Writes out what is pending and closes the file. Returns false when anything
// written to the stream since it was opened has not reached the file.
bool close_stream(text_stream& stream);

// Writes `text` to standard output, every line feed as CR LF. A terminal gets
// it at once; otherwise it is collected and written out when the buffer fills
// and when the process ends. Console trouble (closed, full, a reader gone) is
// ignored: every print is tried, and none ends the process.
void print_text(std::string_view text);

// Silences standard output for the rest of the process when it is `file`
// itself (`codelist >> code.txt`, `codelist > code_new.txt`): the echo would
// otherwise land in the very files the tool reads and writes.
void keep_console_off(const text_stream& file);

// Writes out what standard output has collected. The run ends with it, so
// that nothing waits for the process to end.
void flush_console();

}  // namespace textio
