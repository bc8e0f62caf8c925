// Forms of text that tests compare the tool's output with, computed the
// plain way.
#pragma once

#include <string>
#include <string_view>

// `text` as the tool writes it: every line feed as CR LF.
inline std::string with_cr_lf(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// A piece that pieces_in_place() leaves where it lies, given by its start:
// the bytes that read_text_line() would deliver for it.
inline std::string piece_at(const char* start) {
  std::string piece;
  while (piece.size() < 199) {
    // The CR before a line feed is dropped; any other would be a fault of
    // the reader's, and stays in the piece for the comparison to catch.
    if (start[0] == '\r' && start[1] == '\n') ++start;
    piece += *start;
    if (*start++ == '\n') break;
  }
  return piece;
}
