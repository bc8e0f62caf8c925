#include "codelist/line_rules.hpp"

namespace codelist {
namespace {

bool is_code_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool is_code_word(std::string_view word) {
  for (const char c : word) {
    if (!is_code_digit(c)) return false;
  }
  return true;
}

}  // namespace

bool is_header_line(std::string_view line) {
  return line.size() >= 7 && (line[6] == '\n' || line[6] == 'l');
}

bool is_code_line(std::string_view line) {
  return line.size() >= code_length && is_code_word(line.substr(0, 8)) &&
         line[8] == ' ' && is_code_word(line.substr(9, 8));
}

std::string_view normalize_code_line(std::span<char> line) {
  line[code_length] = '\n';
  line[code_length + 1] = '\0';
  return {line.data(), code_length + 1};
}

}  // namespace codelist
