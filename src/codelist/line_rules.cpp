#include "codelist/line_rules.hpp"

#include <array>

namespace codelist {
namespace {

// Every line of a long list passes through is_code_line, so a digit is one
// table look-up rather than a chain of comparisons.
constexpr auto code_digits = [] {
  std::array<bool, 256> table{};
  for (const char c : std::string_view("0123456789ABCDEF")) {
    table[static_cast<unsigned char>(c)] = true;
  }
  return table;
}();

bool is_code_word(const char* word) {
  bool all = true;
  for (int i = 0; i < 8; ++i) all &= code_digits[static_cast<unsigned char>(word[i])];
  return all;
}

}  // namespace

bool is_header_line(std::string_view line) {
  return line.size() >= 7 && (line[6] == '\n' || line[6] == 'l');
}

bool is_code_line(std::string_view line) {
  return line.size() >= code_length && line[8] == ' ' && is_code_word(line.data()) &&
         is_code_word(line.data() + 9);
}

std::string_view normalize_code_line(std::span<char> line) {
  line[code_length] = '\n';
  line[code_length + 1] = '\0';
  return {line.data(), code_length + 1};
}

}  // namespace codelist
