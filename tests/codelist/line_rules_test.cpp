#include "codelist/line_rules.hpp"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "guarded_bytes.hpp"

namespace codelist {
namespace {

using namespace std::string_literals;

TEST(line_rules, recognises_header_and_code_lines) {
  struct row {
    const char* name;
    std::string line;
    bool header;
    bool code;
  };
  const row rows[] = {
      {"six bytes and a line end", "ABCDEF\n", true, false},
      {"five bytes", "ABCDE\n", false, false},
      {"seven bytes", "ABCDEFG\n", false, false},
      {"l as seventh byte", "ABCDEFl\n", true, false},
      {"l with more after it", "123456lx\n", true, false},
      {"six bytes without a line end", "ABCDEF", false, false},
      {"NUL counts as a byte", "AB\0DEF\n"s, true, false},
      {"code", "0123ABCD 89ABCDEF\n", false, true},
      {"code at the end of the file", "0123ABCD 89ABCDEF", false, true},
      {"code and a comment", "0123ABCD 89ABCDEF extra words\n", false, true},
      {"code and a NUL", "0123ABCD 89ABCDEF\0x\n"s, false, true},
      {"all digits", "01234567 89ABCDEF\n", false, true},
      {"lower-case digits", "0123abcd 89ABCDEF\n", false, false},
      {"lower-case in the second word", "0123ABCD 89ABCDEf\n", false, false},
      {"two blanks", "0123ABCD  89ABCDEF\n", false, false},
      {"dash", "0123ABCD-89ABCDEF\n", false, false},
      {"tab", "0123ABCD\t89ABCDEF\n", false, false},
      {"second word too short", "0123ABCD 89ABCDE\n", false, false},
      {"second word too short at the end", "0123ABCD 89ABCDE", false, false},
      {"leading blank", " 0123ABCD 89ABCDEF\n", false, false},
      {"G is no code digit", "0123ABCG 89ABCDEF\n", false, false},
      {"NUL inside the code", "0123\0BCD 89ABCDEF\n"s, false, false},
      {"empty", "", false, false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(is_header_line(r.line), r.header);
    EXPECT_EQ(is_code_line(r.line), r.code);
  }
}

// Each way of writing codes against the byte loop: every byte value in
// every place of a code, and the bytes right after it; and codes alone,
// which take the output to the end of its room. The output ends right at
// its slack, before a guard page.
TEST(line_rules, writing_codes_agrees_with_the_byte_loop) {
  constexpr std::size_t slot = 32;
  std::vector<char> bytes;
  for (std::size_t place = 0; place < code_length + 2; ++place) {
    for (int value = 0; value < 256; ++value) {
      char piece[slot] = "0123ABCD 89ABCDEF\r\n";
      piece[place] = static_cast<char>(value);
      bytes.insert(bytes.end(), piece, piece + slot);
    }
  }
  std::vector<const char*> every_byte;
  for (std::size_t at = 0; at < bytes.size(); at += slot)
    every_byte.push_back(&bytes[at]);
  const char code[slot] = "0123ABCD 89ABCDEF\r\n";
  const std::vector<const char*> codes_alone(7, code);
  const auto written_bytewise = [](const std::vector<const char*>& pieces) {
    std::string written(pieces.size() * written_code_size, '\0');
    written.resize(static_cast<std::size_t>(write_codes_bytewise(pieces, written.data()) -
                                            written.data()));
    return written;
  };
  // A code stays one with any byte after it, with any of the 16 code digits
  // in each of its 16 digit places, and with the space alone in its middle.
  EXPECT_EQ(written_bytewise(every_byte).size(),
            (2 * 256 + 16 * 16 + 1) * written_code_size);
  for (const auto& pieces : {every_byte, codes_alone}) {
    const std::string expected = written_bytewise(pieces);
    for (const auto& variant : write_codes_variants().all()) {
      SCOPED_TRACE(std::string(variant.name) + ", " + std::to_string(pieces.size()) +
                   " pieces");
      guarded_bytes room(pieces.size() * written_code_size + write_codes_slack);
      const char* const end = variant.run(pieces, room.data());
      EXPECT_TRUE(std::string_view(room.data(), static_cast<std::size_t>(
                                                    end - room.data())) == expected);
    }
  }
}

TEST(line_rules, cuts_a_code_line_to_its_code) {
  std::array<char, line_buffer_size> buffer{};
  const std::string line = "0123ABCD 89ABCDEF ; comment\n";
  std::memcpy(buffer.data(), line.data(), line.size() + 1);
  EXPECT_EQ(normalize_code_line(buffer), "0123ABCD 89ABCDEF\n");
  EXPECT_EQ(buffer[18], '\0');

  // A code at the very end of the file has neither a line feed nor a comment.
  std::memcpy(buffer.data(), "0123ABCD 89ABCDEF", 18);
  EXPECT_EQ(normalize_code_line(buffer), "0123ABCD 89ABCDEF\n");
}

// The code page 932 bytes decoded by the system, in UTF-16.
std::u16string decoded(std::string_view bytes) {
#ifdef _WIN32
  const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(),
                                    static_cast<int>(bytes.size()), nullptr, 0);
  std::u16string text(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(),
                      static_cast<int>(bytes.size()),
                      reinterpret_cast<wchar_t*>(text.data()), n);
  return text;
#else
  const iconv_t cd = iconv_open("UTF-16LE", "CP932");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string in(bytes);
  std::string out(4 * bytes.size(), '\0');
  char* from = in.data();
  char* to = out.data();
  std::size_t from_left = in.size();
  std::size_t to_left = out.size();
  EXPECT_NE(iconv(cd, &from, &from_left, &to, &to_left), static_cast<std::size_t>(-1));
  iconv_close(cd);
  std::u16string text;
  for (const char* p = out.data(); p < to; p += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                  static_cast<unsigned char>(p[1]) << 8);
  }
  return text;
#endif
}

TEST(line_rules, console_texts_say_what_their_bytes_say) {
#if defined(TESTS_LINKED_STATICALLY)
  // Loading a converter into a static program may find that of another build
  // of the C library, which it cannot safely use.
  GTEST_SKIP() << "iconv cannot decode CP932 here: a program linked statically "
                  "cannot load the C library's converters";
#elif !defined(_WIN32)
  const iconv_t cp932 = iconv_open("UTF-16LE", "CP932");
  if (cp932 == reinterpret_cast<iconv_t>(-1)) {
    GTEST_SKIP() << "iconv cannot decode CP932 here";
  }
  iconv_close(cp932);
#endif
  struct row {
    const char* name;
    textio::message text;
    std::size_t size;
  };
  const row rows[] = {
      {"open failure", open_failure_message, 23},
      {"read failure", read_failure_message, 23},
      {"write failure", write_failure_message, 23},
      {"rule", separator_rule, 47},
      {"completion", completion_message, 35},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    // The texts are built from split literals; a slip in a hex escape
    // changes the length, or the characters.
    EXPECT_EQ(r.text.bytes.size(), r.size);
    EXPECT_TRUE(decoded(r.text.bytes) == r.text.characters);
  }
  EXPECT_EQ(completion_message.bytes.substr(6, 13), "code_new.txt ");
}

// A message as a UTF-8 terminal shows it, without its line ends.
std::string shown(const textio::message& text) {
  std::string line;
  for (const char16_t c : text.characters) {
    if (c == u'\n') continue;
    if (c < 0x80) {
      line += static_cast<char>(c);
    } else {
      line += static_cast<char>(0xE0 | c >> 12);
      line += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      line += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return line;
}

// The READMEs and the manual pages quote every message as the tool shows it,
// and whatever in them reads as a failure message ("ファイル...エラー", Japanese
// alone) is one that the tool has: a message changed here cannot leave a
// guide behind.
TEST(line_rules, the_guides_quote_the_messages_as_the_tool_has_them) {
  const std::string failures[] = {shown(open_failure_message), shown(read_failure_message),
                                  shown(write_failure_message)};
  const std::string first_word = failures[0].substr(0, 12);  // "ファイル"
  const std::string last_word = failures[0].substr(failures[0].size() - 9);  // "エラー"
  for (const char* guide : {"README.md", "README.ja.md", "man/codelist.1", "man/ja/codelist.1"}) {
    SCOPED_TRACE(guide);
    std::ifstream in(std::string(CODELIST_SOURCE_DIR "/") + guide, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(text.empty());
    for (const std::string& message :
         {failures[0], failures[1], failures[2], shown(separator_rule), shown(completion_message)}) {
      EXPECT_NE(text.find(message), std::string::npos) << message;
    }
    for (auto at = text.find(first_word); at != std::string::npos;
         at = text.find(first_word, at + 1)) {
      const auto end = text.find(last_word, at);
      if (end == std::string::npos) break;
      const std::string quoted = text.substr(at, end + last_word.size() - at);
      // Japanese characters only: no ASCII and no punctuation (U+3000-U+303F).
      const bool is_one_phrase =
          quoted.size() <= 3 * 12 && quoted.find("\xE3\x80") == std::string::npos &&
          std::all_of(quoted.begin(), quoted.end(), [](char c) { return (c & 0x80) != 0; });
      if (is_one_phrase) {
        EXPECT_TRUE(std::find(std::begin(failures), std::end(failures), quoted) !=
                    std::end(failures))
            << quoted;
      }
    }
  }
}

}  // namespace
}  // namespace codelist
