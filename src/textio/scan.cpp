#include "textio/scan.hpp"

#include <bit>
#include <cstdint>

#include "textio/simd.hpp"

namespace textio {
namespace {

#ifdef TEXTIO_SSE2
// One bit for each of the 16 bytes of `block` that equals `c`.
unsigned bytes_equal(__m128i block, char c) {
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(c))));
}

__m128i load(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

// Stores where the pieces of the line that ends at `lf` start, when they all
// fit; a line of n bytes before its line end has n / piece_size + 1 pieces.
bool add_line(const char* line, const char* lf, std::size_t piece_size,
              std::span<const char*> starts, std::size_t& count) {
  const auto raw = static_cast<std::size_t>(lf - line);
  if (raw < piece_size) [[likely]] {
    if (count == starts.size()) return false;
    starts[count++] = line;
    return true;
  }
  const std::size_t length = raw - (lf[-1] == carriage_return ? 1 : 0);
  const std::size_t pieces = length / piece_size + 1;
  if (starts.size() - count < pieces) return false;
  for (std::size_t k = 0; k < pieces; ++k) starts[count++] = line + k * piece_size;
  return true;
}

// The byte loop of find_pieces, from `p` on, with the line that began at
// `line` still open.
pieces_found find_pieces_from(const char* begin, const char* line, const char* p,
                              const char* end, std::size_t piece_size,
                              std::span<const char*> starts, std::size_t count) {
  for (; p < end; ++p) {
    if (*p == carriage_return && !(end - p > 1 && p[1] == line_feed)) break;
    if (*p == line_feed) {
      if (!add_line(line, p, piece_size, starts, count)) break;
      line = p + 1;
    }
  }
  return {count, static_cast<std::size_t>(line - begin)};
}

}  // namespace

line_part copy_line_part_bytewise(std::string_view from, char* to, std::size_t room) {
  std::size_t stored = 0;
  std::size_t consumed = 0;
  while (consumed < from.size() && stored < room) {
    const char c = from[consumed++];
    if (c == carriage_return) continue;
    to[stored++] = c;
    if (c == line_feed) return {stored, consumed, true};
  }
  return {stored, consumed, false};
}

line_part copy_line_part(std::string_view from, char* to, std::size_t room,
                         const char* to_end) {
  const char* p = from.data();
  const char* const end = p + from.size();
  char* q = to;
  char* const q_limit = to + room;
#ifdef TEXTIO_SSE2
  while (end - p >= 16 && to_end - q >= 16 && q < q_limit) {
    const __m128i block = load(p);
    const unsigned special =
        bytes_equal(block, line_feed) | bytes_equal(block, carriage_return);
    const auto plain = static_cast<std::size_t>(std::countr_zero(special | 0x10000u));
    // Only a block that stores something may write: at the end of the input
    // the caller's buffer stays as it was.
    if (plain != 0) _mm_storeu_si128(reinterpret_cast<__m128i*>(q), block);
    const auto left = static_cast<std::size_t>(q_limit - q);
    if (plain >= left) {
      p += left;
      q += left;
      break;
    }
    p += plain;
    q += plain;
    if (plain == 16) continue;
    // A CR LF line end, the usual case, ends the line at once.
    if (*p == carriage_return && (end - p < 2 || p[1] != line_feed)) {
      ++p;
      continue;
    }
    p += *p == carriage_return ? 2 : 1;
    *q++ = line_feed;
    return {static_cast<std::size_t>(q - to), static_cast<std::size_t>(p - from.data()),
            true};
  }
#else
  (void)to_end;
#endif
  const line_part rest = copy_line_part_bytewise(
      {p, static_cast<std::size_t>(end - p)}, q, static_cast<std::size_t>(q_limit - q));
  return {static_cast<std::size_t>(q - to) + rest.stored,
          static_cast<std::size_t>(p - from.data()) + rest.consumed, rest.ended};
}

char* expand_line_feeds_bytewise(std::string_view from, char* to) {
  for (const char c : from) {
    if (c == line_feed) *to++ = carriage_return;
    *to++ = c;
  }
  return to;
}

char* expand_line_feeds(std::string_view from, char* to) {
  const char* p = from.data();
  const char* const end = p + from.size();
#ifdef TEXTIO_SSE2
  while (end - p >= 16) {
    const __m128i block = load(p);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
    const unsigned lfs = bytes_equal(block, line_feed);
    if (lfs == 0) {
      p += 16;
      to += 16;
      continue;
    }
    const int plain = std::countr_zero(lfs);
    p += plain + 1;
    to += plain;
    *to++ = carriage_return;
    *to++ = line_feed;
  }
#endif
  return expand_line_feeds_bytewise({p, static_cast<std::size_t>(end - p)}, to);
}

pieces_found find_pieces_bytewise(std::string_view bytes, std::size_t piece_size,
                                  std::span<const char*> starts) {
  const char* const begin = bytes.data();
  return find_pieces_from(begin, begin, begin, begin + bytes.size(), piece_size, starts,
                          0);
}

pieces_found find_pieces(std::string_view bytes, std::size_t piece_size,
                         std::span<const char*> starts) {
  const char* const begin = bytes.data();
  const char* const end = begin + bytes.size();
  const char* line = begin;
  const char* p = begin;
  std::size_t count = 0;
#ifdef TEXTIO_SSE2
  // 64 bytes at a time, while there is room for a block's worth of lines and
  // the byte after the block can be read. A line that ends inside a block
  // without starting in it is shorter than 64 bytes, so only the first line
  // feed of a block can end a line of more than one piece.
  const __m128i lf = _mm_set1_epi8(line_feed);
  const __m128i cr = _mm_set1_epi8(carriage_return);
  for (; piece_size >= 64 && end - p > 64 && starts.size() - count >= 64; p += 64) {
    std::uint64_t lfs = 0;
    __m128i lone_crs = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
      const __m128i block = load(p + 16 * i);
      const __m128i next = load(p + 16 * i + 1);
      lfs |= std::uint64_t{bytes_equal(block, line_feed)} << (16 * i);
      lone_crs = _mm_or_si128(lone_crs, _mm_andnot_si128(_mm_cmpeq_epi8(next, lf),
                                                         _mm_cmpeq_epi8(block, cr)));
    }
    // A CR that is not part of a line end: the byte loop takes the lines
    // before it and stops there.
    if (_mm_movemask_epi8(lone_crs) != 0) break;
    const char* const first = p + std::countr_zero(lfs);
    if (lfs != 0 && first - line >= static_cast<std::ptrdiff_t>(piece_size)) {
      if (!add_line(line, first, piece_size, starts, count)) {
        return {count, static_cast<std::size_t>(line - begin)};
      }
      line = first + 1;
      lfs &= lfs - 1;
      if (starts.size() - count < 64)
        return {count, static_cast<std::size_t>(line - begin)};
    }
    for (; lfs != 0; lfs &= lfs - 1) {
      starts[count++] = line;
      line = p + std::countr_zero(lfs) + 1;
    }
  }
  // Out of room for another block: the caller comes back for the rest.
  if (count > 0 && starts.size() - count < 64) {
    return {count, static_cast<std::size_t>(line - begin)};
  }
#endif
  return find_pieces_from(begin, line, p, end, piece_size, starts, count);
}

}  // namespace textio
