#include "codelist/line_rules.hpp"

#include <array>
#include <cstdint>
#include <cstring>

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

bool is_code_digit(char c) { return code_digits[static_cast<unsigned char>(c)]; }

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

namespace {

// The normal form of the code at `piece`, stored at `out`.
void store_code(const char* piece, char* out) {
  std::memcpy(out, piece, code_length);
  out[code_length] = '\r';
  out[code_length + 1] = '\n';
}

#ifdef TEXTIO_SSE2
// Each code is stored whatever it holds, and only a code moves the end on, so
// that nothing branches on the data.
char* write_codes_sse2(std::span<const char* const> pieces, char* out) {
  for (const char* piece : pieces) {
    const bool code = starts_with_code(piece);
    store_code(piece, out);
    out += written_code_size * static_cast<std::size_t>(code);
  }
  return out;
}
#endif

#ifdef TEXTIO_AVX2
// All 17 bytes judged in one register, and the code with its line end
// stored in one write.
TEXTIO_TARGET_AVX2 char* write_codes_avx2(std::span<const char* const> pieces,
                                          char* out) {
  // A byte b is a digit when b + (0x80 - '0') is below -128 + 10 as a signed
  // byte, and a letter A-F likewise. In the middle of a code the first test
  // asks for the space alone, and the second for nothing, so that one mask
  // says whether all 17 bytes are what they should be.
  constexpr char d = static_cast<char>(0x80 - '0');
  constexpr char s = static_cast<char>(0x80 - ' ');
  constexpr char ten = -128 + 10;
  constexpr char one = -128 + 1;
  constexpr char six = -128 + 6;
  constexpr char none = -128;
  const __m256i digit_shift =
      _mm256_setr_epi8(d, d, d, d, d, d, d, d, s, d, d, d, d, d, d, d, d, d, d, d, d, d,
                       d, d, d, d, d, d, d, d, d, d);
  const __m256i digit_limit = _mm256_setr_epi8(
      ten, ten, ten, ten, ten, ten, ten, ten, one, ten, ten, ten, ten, ten, ten, ten, ten,
      ten, ten, ten, ten, ten, ten, ten, ten, ten, ten, ten, ten, ten, ten, ten);
  const __m256i letter_shift = _mm256_set1_epi8(static_cast<char>(0x80 - 'A'));
  const __m256i letter_limit = _mm256_setr_epi8(
      six, six, six, six, six, six, six, six, none, six, six, six, six, six, six, six,
      six, six, six, six, six, six, six, six, six, six, six, six, six, six, six, six);
  const __m256i line_end =
      _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '\r', '\n', 0,
                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i line_end_place =
      _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, 0, 0, 0,
                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
  constexpr std::uint32_t code_bytes = (1u << code_length) - 1;
  for (const char* piece : pieces) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(piece));
    const __m256i fits = _mm256_or_si256(
        _mm256_cmpgt_epi8(digit_limit, _mm256_add_epi8(bytes, digit_shift)),
        _mm256_cmpgt_epi8(letter_limit, _mm256_add_epi8(bytes, letter_shift)));
    const auto fitting = static_cast<std::uint32_t>(_mm256_movemask_epi8(fits));
    const bool code = (fitting & code_bytes) == code_bytes;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_blendv_epi8(bytes, line_end, line_end_place));
    out += written_code_size * static_cast<std::size_t>(code);
  }
  return out;
}
#endif

}  // namespace

char* write_codes_bytewise(std::span<const char* const> pieces, char* out) {
  for (const char* piece : pieces) {
    if (!starts_with_code_bytewise(piece)) continue;
    store_code(piece, out);
    out += written_code_size;
  }
  return out;
}

const textio::loop_variants<write_codes_function>& write_codes_variants() {
  static const textio::loop_variants<write_codes_function> variants(
      write_codes_bytewise, TEXTIO_SSE2_LOOP(write_codes_sse2),
      TEXTIO_AVX2_LOOP(write_codes_avx2));
  return variants;
}

char* write_codes(std::span<const char* const> pieces, char* out) {
  static const auto fastest = write_codes_variants().fastest();
  return fastest(pieces, out);
}

std::string_view normalize_code_line(std::span<char> line) {
  line[code_length] = '\n';
  line[code_length + 1] = '\0';
  return {line.data(), code_length + 1};
}

}  // namespace codelist
