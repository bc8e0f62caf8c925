#include "textio/console.hpp"

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "textio/scan.hpp"

namespace textio {
namespace {

std::u16string with_cr_lf(std::u16string_view text) {
  std::u16string out;
  for (const char16_t c : text) {
    if (c == u'\n') out += u'\r';
    out += c;
  }
  return out;
}

// The tool's texts are all in the Basic Multilingual Plane: one UTF-16 unit
// is one character.
std::string utf8(std::u16string_view text) {
  std::string out;
  for (const char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class console {
 public:
  console() : kind_(platform::console_kind_of(platform::standard_output)) {
    platform::prepare_standard_output();
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
    if (kind_ != platform::console_kind::none) flush();
  }

  void print_message(const message& text) {
    switch (kind_) {
      case platform::console_kind::none:
      case platform::console_kind::bytes:
        print_text(text.bytes);
        break;
      case platform::console_kind::utf8:
        print(utf8(with_cr_lf(text.characters)));
        break;
      case platform::console_kind::utf16:
        if (silent_) return;
        flush();
        platform::write_console(platform::standard_output, with_cr_lf(text.characters));
        break;
    }
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
  platform::console_kind kind_;
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

void print_message(const message& text) { standard_output().print_message(text); }

void keep_console_off(const text_stream& file) {
  if (!platform::are_different_files(platform::standard_output, file.file())) {
    standard_output().silence();
  }
}

void flush_console() { standard_output().flush(); }

}  // namespace textio
