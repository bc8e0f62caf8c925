// A piece that pieces_in_place() leaves where it lies, given by its start:
// the bytes that read_text_line() would deliver for it.
#pragma once

#include <string>

inline std::string piece_at(const char* start) {
  std::string piece;
  while (piece.size() < 199) {
    if (*start == '\r') ++start;  // only ever the CR before a line feed
    piece += *start;
    if (*start++ == '\n') break;
  }
  return piece;
}
