#include "textio/console.hpp"

#include <array>
#include <cstring>
#include <memory>

#include "textio/scan.hpp"

namespace textio {
namespace {

class console {
 public:
  console() {
    platform::prepare_standard_output();
    interactive_ = platform::is_console(platform::standard_output);
  }
  // Whatever path the process takes to its end, what was printed is shown.
  ~console() { flush(); }

  void print(std::string_view bytes) {
    if (silent_) return;
    if (bytes.size() > capacity - pending_) flush();
    if (bytes.size() >= capacity) {
      platform::write_all(platform::standard_output, bytes.data(), bytes.size());
    } else {
      std::memcpy(buffer_.get() + pending_, bytes.data(), bytes.size());
      pending_ += bytes.size();
    }
    if (interactive_) flush();
  }

  void flush() {
    if (pending_ > 0)
      platform::write_all(platform::standard_output, buffer_.get(), pending_);
    pending_ = 0;
  }

  void silence() {
    silent_ = true;
    pending_ = 0;
  }

 private:
  static constexpr std::size_t capacity = 64 * 1024;
  std::unique_ptr<char[]> buffer_{new char[capacity]};
  std::size_t pending_ = 0;
  bool interactive_ = false;
  bool silent_ = false;
};

console& standard_output() {
  static console instance;
  return instance;
}

}  // namespace

void print_text(std::string_view text) {
  constexpr std::size_t slice = 256;
  std::array<char, 2 * slice + 16> converted;
  for (; !text.empty(); text.remove_prefix(std::min(text.size(), slice))) {
    const char* const end = expand_line_feeds(text.substr(0, slice), converted.data());
    print_bytes({converted.data(), static_cast<std::size_t>(end - converted.data())});
  }
}

void print_bytes(std::string_view bytes) { standard_output().print(bytes); }

void keep_console_off(const text_stream& file) {
  if (!platform::are_different_files(platform::standard_output, file.file())) {
    standard_output().silence();
  }
}

void flush_console() { standard_output().flush(); }

}  // namespace textio
