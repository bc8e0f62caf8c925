// Standard output. On a console every print is written at once; otherwise
// prints are collected and written in large pieces. Console trouble (closed,
// full, a reader gone) is ignored: every print is tried, and none ends the
// process or costs the files.
#pragma once

#include <cstddef>
#include <string_view>

#include "textio/text_stream.hpp"

namespace textio {

// Prints `text`, every line feed as CR LF.
void print_text(std::string_view text);

// One of the tool's own texts: its bytes, which a file, a pipe or a device
// gets unchanged, and the characters they stand for, which a console that
// cannot show those bytes gets instead.
struct message {
  // A short text of ASCII and of characters from U+0800 up, outside the
  // surrogates: one or three bytes each in UTF-8. A text that is not fails
  // to compile.
  consteval message(std::string_view bytes_, std::u16string_view characters_)
      : bytes(bytes_), characters(characters_) {
    if (characters.size() > max_characters) throw "a message this long needs more room";
    for (const char16_t c : characters) {
      if ((c >= 0x80 && c < 0x800) || (c >= 0xD800 && c < 0xE000)) {
        throw "a character that the console's UTF-8 cannot take";
      }
    }
  }

  static constexpr std::size_t max_characters = 64;
  std::string_view bytes;
  std::u16string_view characters;
};

// Prints a message, every line feed as CR LF: as its characters on a Windows
// console or a UTF-8 terminal, as its bytes everywhere else. Only the tool's
// own texts take this way; data is always printed as bytes.
void print_message(const message& text);

// Prints bytes as they are; their line feeds are CR LF already.
void print_bytes(std::string_view bytes);

// Silences standard output for the rest of the process when it may be the
// file called `name` (`codelist >> code.txt`, `codelist > code_new.txt`):
// the console would otherwise write into the very files the tool reads and
// writes. Asked before anything is printed, and without reading the file.
void keep_console_off(const char* name);

// The same for a file once it is open, should its name have led elsewhere
// by then.
void keep_console_off(const text_stream& file);

// Writes out what has been collected.
void flush_console();

}  // namespace textio
