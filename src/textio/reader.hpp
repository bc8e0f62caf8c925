// Reading a text file: lines cut to the caller's buffer by read_text_line(),
// and, for long runs of plain lines, pieces judged where they lie in the
// read-ahead without being copied.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "textio/text_stream.hpp"

namespace textio {

class input_stream : public text_stream {
 public:
  // `buffer` holds read_ahead bytes and readable_past_piece_start more.
  input_stream(platform::file f, std::unique_ptr<char[]> buffer, std::size_t read_ahead);

  // The bytes read ahead and not yet taken, reading more first when none
  // are left. Empty at the end of the input and after a failure. A Ctrl-Z
  // and whatever follows it never appear.
  std::string_view unread();

  // Marks the first `count` bytes of unread() as taken.
  void take(std::size_t count) { begin_ += count; }

  // Keeps the unread bytes and reads more after them. False when nothing
  // more came: the end of the input, a failure, or no room left.
  bool read_more();

  // Removes the CRs from the unread bytes. Every CR is dropped on the way to
  // the caller anyway, so what is delivered stays the same.
  void drop_carriage_returns();

  // Whether a Ctrl-Z ended the input, rather than the end of the file.
  bool ended_at_ctrl_z() const { return ctrl_z_; }

  // Once a Ctrl-Z has ended the input, reads the rest of the file and says
  // how many bytes followed the Ctrl-Z; 0 when no Ctrl-Z ended it. Nothing
  // when a read fails; what the stream delivered stays whole, so it is not
  // marked failed.
  std::optional<std::uint64_t> count_past_ctrl_z();

  // Closes the file. Returns false when a read had failed.
  bool close();

 private:
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t begin_ = 0;  // first unread byte
  std::size_t end_ = 0;    // end of the bytes read
  bool at_end_ = false;
  bool ctrl_z_ = false;
  std::uint64_t past_ctrl_z_ = 0;  // bytes after the Ctrl-Z, as far as read
};

// Opens an existing file for reading, and holds a shared lock on it until it
// is closed. Fails for a missing file, one that may not be read, a folder,
// one that another run is writing, and when there is no memory for the
// read-ahead.
std::optional<input_stream> open_input(const char* name,
                                       std::size_t read_ahead = default_read_ahead);

// Reads one line into `buffer`: at most buffer.size() - 1 bytes, ended by its
// line feed when the line feed fits, then a NUL. A longer line arrives in
// pieces. Returns the bytes read, or nothing at the end of the input or after
// a read error (failed() tells which); then the buffer is left untouched. A
// line cut short by a read error is never delivered.
std::optional<std::string_view> read_text_line(std::span<char> buffer, input_stream& in);

// Bytes that may be read past the start of any piece from pieces_in_place():
// a piece can be judged by a fixed number of its first bytes without looking
// at its length. Past a line's end they belong to later lines or are left
// over, and a test that stops at the first byte that fails never needs them,
// since the line end itself fails.
inline constexpr std::size_t readable_past_piece_start = 32;

// Takes the next pieces where they lie in the read-ahead, and fills `starts`
// with where they begin: exactly the pieces that read_text_line() with a
// buffer of piece_size + 1 bytes would deliver, without the CR before a line
// feed. A stretch that holds other CRs is cleaned of them first. They stay
// valid until the stream is next used. Returns nothing when the next piece
// must come from read_text_line(): the last piece of the input, a line whose
// pieces do not fit in `starts`, a read-ahead too small for a piece, the end
// of the input or a read error.
std::span<const char* const> pieces_in_place(input_stream& in, std::size_t piece_size,
                                             std::span<const char*> starts);

bool close_stream(input_stream& in);

}  // namespace textio
