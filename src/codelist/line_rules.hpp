// What the tool recognises in code.txt, what it writes to code_new.txt, and
// the exact bytes of its console messages. Lines are taken by their length,
// so a NUL byte in a line counts like any other byte.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "textio/console.hpp"
#include "textio/scan.hpp"

namespace codelist {

// One line as the reader delivers it: at most 199 bytes and a NUL. A longer
// line arrives as several pieces, and each piece is judged as a line.
inline constexpr std::size_t line_buffer_size = 200;

// A code: eight code digits, a space, eight code digits; whatever follows is
// a comment and is not copied.
inline constexpr std::size_t code_length = 17;

// The first line that qualifies starts the header block: seven bytes or more,
// the seventh a line feed (six bytes and a line end) or an "l".
bool is_header_line(std::string_view line);

// A line that starts with a code. Code digits are 0-9 and upper-case A-F.
bool is_code_line(std::string_view line);

bool is_code_digit(char c);

// Whether the 17 bytes at `bytes` are a code. All 17 must be readable; bytes
// past a line's end never make a line a code, since its line end (or the NUL
// after it) is neither a code digit nor the space.
bool starts_with_code(const char* bytes);

// The same test a byte at a time: the reference that starts_with_code(),
// which looks at 16 bytes at once where it can, is tested against.
bool starts_with_code_bytewise(const char* bytes);

// A code in its normal form as the file and the console get it: its 17
// bytes and a CR LF line end.
inline constexpr std::size_t written_code_size = code_length + 2;

// Writes, one after another from `out`, the normal form of every piece that
// starts with a code, and returns where they end. Each piece is given by its
// start, and code_reach bytes must be readable there. `out` needs room for
// written_code_size bytes for each piece and write_codes_slack more.
char* write_codes(std::span<const char* const> pieces, char* out);
char* write_codes_bytewise(std::span<const char* const> pieces, char* out);
inline constexpr std::size_t code_reach = 32;
inline constexpr std::size_t write_codes_slack = code_reach - written_code_size;

using write_codes_function = char*(std::span<const char* const> pieces, char* out);
const textio::loop_variants<write_codes_function>& write_codes_variants();

// Cuts a code line to its code and a line feed, in place, and returns it.
// `line` is the line buffer holding a line that passed is_code_line().
std::string_view normalize_code_line(std::span<char> line);

// Written between the header block and the codes: an empty line, then "Code".
inline constexpr std::string_view code_heading = "\nCode\n";

// The console texts. Their Shift-JIS (code page 932) bytes are what the tool
// writes, unchanged, wherever it is not talking to a console that shows
// other characters; beside them the same text as characters, for such a
// console. A test holds the two forms of each to each other.

// "ファイルオープンエラー" (file open error)
inline constexpr textio::message open_failure_message{
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x83\x49\x81\x5B\x83\x76\x83\x93"
    "\x83\x47\x83\x89\x81\x5B\n",
    u"\u30D5\u30A1\u30A4\u30EB\u30AA\u30FC\u30D7\u30F3\u30A8\u30E9\u30FC\n"};

// "ファイル読み込みエラー" (file read error)
inline constexpr textio::message read_failure_message{
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x93\xC7\x82\xDD\x8D\x9E\x82\xDD"
    "\x83\x47\x83\x89\x81\x5B\n",
    u"\u30D5\u30A1\u30A4\u30EB\u8AAD\u307F\u8FBC\u307F\u30A8\u30E9\u30FC\n"};

// "ファイル書き込みエラー" (file write error)
inline constexpr textio::message write_failure_message{
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x8F\x91\x82\xAB\x8D\x9E\x82\xDD"
    "\x83\x47\x83\x89\x81\x5B\n",
    u"\u30D5\u30A1\u30A4\u30EB\u66F8\u304D\u8FBC\u307F\u30A8\u30E9\u30FC\n"};

// A rule of 22 heavy box-drawing lines (U+2501), set off by empty lines.
inline constexpr textio::message separator_rule{
    "\n"
    "\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA"
    "\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA"
    "\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA\x84\xAA"
    "\n\n",
    u"\n"
    u"\u2501\u2501\u2501\u2501\u2501\u2501\u2501\u2501\u2501\u2501\u2501"
    u"\u2501\u2501\u2501\u2501\u2501\u2501\u2501\u2501\u2501\u2501\u2501"
    u"\n\n"};

// "上記のcode_new.txt を作成しました" (created the code_new.txt above)
inline constexpr textio::message completion_message{
    "\x8F\xE3\x8B\x4C\x82\xCC"
    "code_new.txt "
    "\x82\xF0\x8D\xEC\x90\xAC\x82\xB5\x82\xDC\x82\xB5\x82\xBD\n\n",
    u"\u4E0A\u8A18\u306E"
    u"code_new.txt "
    u"\u3092\u4F5C\u6210\u3057\u307E\u3057\u305F\n\n"};

}  // namespace codelist
