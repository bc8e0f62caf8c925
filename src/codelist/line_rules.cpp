#include "codelist/line_rules.hpp"

#include <array>

#include "textio/simd.hpp"

namespace codelist {
namespace {

// A digit is one table look-up rather than a chain of comparisons.
constexpr auto code_digits = [] {
  std::array<bool, 256> table{};
  for (const char c : std::string_view("0123456789ABCDEF")) {
    table[static_cast<unsigned char>(c)] = true;
  }
  return table;
}();

}  // namespace

bool is_header_line(std::string_view line) {
  return line.size() >= 7 && (line[6] == '\n' || line[6] == 'l');
}

bool starts_with_code_bytewise(const char* bytes) {
  for (std::size_t i = 0; i < code_length; ++i) {
    if (i == 8 ? bytes[i] != ' ' : !code_digits[static_cast<unsigned char>(bytes[i])]) {
      return false;
    }
  }
  return true;
}

bool starts_with_code(const char* bytes) {
#ifdef TEXTIO_SSE2
  // Bytes 0-15 at once: a code digit is 0-9 (b - '0' <= 9) or A-F
  // (b - 'A' <= 5), compared without sign; byte 8 is the space.
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  const __m128i digit = _mm_sub_epi8(block, _mm_set1_epi8('0'));
  const __m128i letter = _mm_sub_epi8(block, _mm_set1_epi8('A'));
  const __m128i is_digit =
      _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit),
                   _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter));
  const __m128i is_space = _mm_cmpeq_epi8(block, _mm_set1_epi8(' '));
  const auto pattern = static_cast<unsigned>((_mm_movemask_epi8(is_digit) & 0xFEFF) |
                                             (_mm_movemask_epi8(is_space) & 0x0100));
  return (static_cast<unsigned>(pattern == 0xFFFF) &
          static_cast<unsigned>(code_digits[static_cast<unsigned char>(bytes[16])])) != 0;
#else
  return starts_with_code_bytewise(bytes);
#endif
}

bool is_code_line(std::string_view line) {
  return line.size() >= code_length && starts_with_code(line.data());
}

std::string_view normalize_code_line(std::span<char> line) {
  line[code_length] = '\n';
  line[code_length + 1] = '\0';
  return {line.data(), code_length + 1};
}

}  // namespace codelist
