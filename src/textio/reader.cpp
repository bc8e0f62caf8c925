#include "textio/reader.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "textio/scan.hpp"

namespace textio {

input_stream::input_stream(platform::file f, std::unique_ptr<char[]> buffer,
                           std::size_t read_ahead)
    : text_stream(f), buffer_(std::move(buffer)), capacity_(read_ahead) {}

std::string_view input_stream::unread() {
  if (begin_ == end_) read_more();
  return {buffer_.get() + begin_, end_ - begin_};
}

bool input_stream::read_more() {
  if (at_end_ || failed_) return false;
  // The unfinished line moves to the front, so that the next read continues
  // it and every whole line lies in one piece of memory.
  std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  if (end_ == capacity_) return false;
  char* const from = buffer_.get() + end_;
  long n = platform::read_some(file_, from, capacity_ - end_);
  if (n < 0) failed_ = true;
  if (n == 0) at_end_ = true;
  if (n <= 0) return false;
  // A Ctrl-Z ends the input for good, whatever the file holds after it.
  if (const void* z = std::memchr(from, ctrl_z, static_cast<std::size_t>(n))) {
    at_end_ = true;
    ctrl_z_ = true;
    const long kept = static_cast<const char*>(z) - from;
    past_ctrl_z_ = static_cast<std::uint64_t>(n - kept - 1);
    n = kept;
  }
  end_ += static_cast<std::size_t>(n);
  return n > 0;
}

std::optional<input_stream> open_input(const char* name, std::size_t read_ahead) {
  read_ahead = std::max<std::size_t>(read_ahead, 1);
  // Zeroed, so that the bytes past the read-ahead are never unset.
  std::unique_ptr<char[]> buffer(
      new (std::nothrow) char[read_ahead + readable_past_piece_start]());
  if (!buffer) return std::nullopt;
  const platform::file f = platform::open_for_reading(name);
  if (f == platform::no_file) return std::nullopt;
  // Another run may not empty it while it is read, nor may it be read while
  // another run writes it.
  if (platform::lock_file(f, platform::lock_kind::shared) !=
      platform::lock_result::locked) {
    platform::close_file(f);
    return std::nullopt;
  }
  return input_stream(f, std::move(buffer), read_ahead);
}

std::optional<std::string_view> read_text_line(std::span<char> buffer, input_stream& in) {
  if (buffer.empty()) return std::nullopt;
  const std::size_t limit = buffer.size() - 1;
  std::size_t stored = 0;
  while (stored < limit) {
    const std::string_view bytes = in.unread();
    if (bytes.empty()) break;
    const line_part part = copy_line_part(bytes, buffer.data() + stored, limit - stored,
                                          buffer.data() + buffer.size());
    stored += part.stored;
    in.take(part.consumed);
    if (part.ended) break;
  }
  if (in.failed() || stored == 0) return std::nullopt;
  buffer[stored] = '\0';
  return std::string_view(buffer.data(), stored);
}

std::span<const char* const> pieces_in_place(input_stream& in, std::size_t piece_size,
                                             std::span<const char*> starts) {
  for (;;) {
    const pieces_found found = find_pieces(in.unread(), piece_size, starts);
    if (found.count > 0) {
      in.take(found.consumed);
      return starts.first(found.count);
    }
    switch (found.stop) {
      // CRs that are not line ends: the read-ahead is cleaned once, and its
      // lines are then taken where they lie like any others.
      case pieces_stop::carriage_return:
        in.drop_carriage_returns();
        break;
      case pieces_stop::no_room:
        return {};
      // The next piece is not all here yet; more is read unless that cannot
      // be done.
      case pieces_stop::end_of_bytes:
        if (!in.read_more()) return {};
        break;
    }
  }
}

void input_stream::drop_carriage_returns() {
  char* const unread_begin = buffer_.get() + begin_;
  end_ = static_cast<std::size_t>(
      remove_carriage_returns(unread_begin, buffer_.get() + end_) - buffer_.get());
}

std::optional<std::uint64_t> input_stream::count_past_ctrl_z() {
  if (!ctrl_z_) return 0;
  if (begin_ == end_) begin_ = end_ = 0;
  // The room after the unread bytes, which the Ctrl-Z itself took up at
  // least, is free: nothing more is ever read into it.
  for (;;) {
    const long n = platform::read_some(file_, buffer_.get() + end_, capacity_ - end_);
    if (n < 0) return std::nullopt;
    if (n == 0) return past_ctrl_z_;
    past_ctrl_z_ += static_cast<std::uint64_t>(n);
  }
}

bool input_stream::close() {
  close_file();
  return !failed_;
}

bool close_stream(input_stream& in) { return in.close(); }

}  // namespace textio
