#include "textio/console.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "textio/platform.hpp"
#include "textio/scan.hpp"

namespace textio {
namespace {

// A message's characters with every line feed as CR LF, in `out`.
std::u16string_view with_cr_lf(std::u16string_view text,
                               std::array<char16_t, 2 * message::max_characters>& out) {
  std::size_t n = 0;
  for (const char16_t c : text) {
    if (c == u'\n') out[n++] = u'\r';
    out[n++] = c;
  }
  return {out.data(), n};
}

class console {
 public:
  console() : kind_(platform::console_kind_of(platform::standard_output)) {
    platform::prepare_writes();
  }
  // Whatever path the process takes to its end, what was printed is shown.
  ~console() { flush(); }

  void print(std::string_view bytes) {
    if (silent_) return;
    while (!bytes.empty()) {
      if (pending_ == buffer_.size()) flush();
      const std::size_t n = std::min(bytes.size(), buffer_.size() - pending_);
      std::memcpy(buffer_.data() + pending_, bytes.data(), n);
      pending_ += n;
      bytes.remove_prefix(n);
    }
    if (kind_ != platform::console_kind::none) flush();
  }

  void print_message(const message& text) {
    std::array<char16_t, 2 * message::max_characters> characters;
    switch (kind_) {
      case platform::console_kind::none:
      case platform::console_kind::bytes:
        print_text(text.bytes);
        break;
      case platform::console_kind::utf8: {
        // ASCII is one byte; every other character of a message is three.
        std::array<char, 3 * characters.size()> utf8;
        char* out = utf8.data();
        for (const char16_t c : with_cr_lf(text.characters, characters)) {
          if (c < 0x80) {
            *out++ = static_cast<char>(c);
          } else {
            *out++ = static_cast<char>(0xE0 | c >> 12);
            *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
          }
        }
        print({utf8.data(), static_cast<std::size_t>(out - utf8.data())});
        break;
      }
      case platform::console_kind::utf16:
        if (silent_) return;
        flush();
        platform::write_console(platform::standard_output,
                                with_cr_lf(text.characters, characters));
        break;
    }
  }

  void flush() {
    if (pending_ > 0)
      platform::write_all(platform::standard_output, buffer_.data(), pending_);
    pending_ = 0;
  }

  void silence() {
    silent_ = true;
    pending_ = 0;
  }

 private:
  // Part of the one console object, so that printing never needs memory
  // that could run out.
  std::array<char, 64 * 1024> buffer_;
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

void keep_console_off(const char* name) {
  if (!platform::are_different_files(platform::standard_output, name)) {
    standard_output().silence();
  }
}

void keep_console_off(const text_stream& file) {
  if (!platform::are_different_files(platform::standard_output, file.file())) {
    standard_output().silence();
  }
}

void flush_console() { standard_output().flush(); }

}  // namespace textio
