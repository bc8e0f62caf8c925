#include "textio/writer.hpp"

#include <algorithm>
#include <cassert>
#include <new>
#include <utility>

#include "textio/scan.hpp"

namespace textio {

output_stream::output_stream(platform::file f, std::unique_ptr<char[]> buffer,
                             std::size_t buffer_size)
    : text_stream(f), buffer_(std::move(buffer)), capacity_(buffer_size) {}

char* output_stream::reserve([[maybe_unused]] std::size_t count) {
  assert(count <= max_reserve);
  return buffer_.get() + pending_;
}

void output_stream::commit(std::size_t count) {
  pending_ += count;
  if (pending_ >= capacity_) flush();
}

void output_stream::flush() {
  // A file that ends early can be noticed; one with a gap in it cannot.
  if (pending_ > 0 && !failed_ && !platform::write_all(file_, buffer_.get(), pending_)) {
    failed_ = true;
  }
  pending_ = 0;
}

bool output_stream::close() {
  flush();
  if (!close_file()) failed_ = true;
  return !failed_;
}

std::optional<output_stream> open_output(const char* name, const text_stream& source,
                                         std::size_t buffer_size) {
  // Everything the stream needs is had before the file is touched: once it is
  // emptied, the old result is gone. The room past the capacity takes the
  // largest reserve: the buffer is written out as soon as it is full, so
  // there is always that much left.
  buffer_size = std::max<std::size_t>(buffer_size, 1);
  std::unique_ptr<char[]> buffer(
      new (std::nothrow) char[buffer_size + output_stream::max_reserve]);
  if (!buffer) return std::nullopt;
  // Opened without emptying it, and locked at once, so that nothing is lost
  // before we know that no other run is writing it and that the name does
  // not lead back to the input. A file that this run created for nothing is
  // taken back, unless another run holds it: that run has taken it up, even
  // in the moment since it was created, and its result stays, empty or not.
  bool created = false;
  const platform::file f = platform::open_for_writing(name, created);
  if (f == platform::no_file) return std::nullopt;
  const platform::lock_result lock =
      platform::lock_file(f, platform::lock_kind::exclusive);
  if (lock != platform::lock_result::locked ||
      !platform::are_different_files(f, source.file()) || !platform::has_name(f) ||
      !platform::make_empty(f)) {
    if (created && lock != platform::lock_result::held_elsewhere) {
      platform::close_and_remove(f, name);
    } else {
      platform::close_file(f);
    }
    return std::nullopt;
  }
  return output_stream(f, std::move(buffer), buffer_size);
}

bool write_text(std::string_view text, output_stream& out,
                void (*tee)(std::string_view)) {
  // A slice of the text, converted, fits in one reserve.
  constexpr std::size_t slice = (output_stream::max_reserve - 16) / 2;
  while (!text.empty()) {
    const std::string_view part = text.substr(0, slice);
    char* const at = out.reserve(2 * part.size() + 16);
    const auto count = static_cast<std::size_t>(expand_line_feeds(part, at) - at);
    if (tee) tee({at, count});
    out.commit(count);
    text.remove_prefix(part.size());
  }
  return !out.failed();
}

bool close_stream(output_stream& out) { return out.close(); }

}  // namespace textio
