#include "textio/scan.hpp"

#include <array>
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
TEXTIO_ALWAYS_INLINE bool add_line(const char* line, const char* lf,
                                   std::size_t piece_size, std::span<const char*> starts,
                                   std::size_t& count) {
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
  const auto found = [&](pieces_stop stop) {
    return pieces_found{count, static_cast<std::size_t>(line - begin), stop};
  };
  for (; p < end; ++p) {
    if (*p == carriage_return && end - p > 1 && p[1] != line_feed) {
      return found(pieces_stop::carriage_return);
    }
    if (*p == line_feed) {
      if (!add_line(line, p, piece_size, starts, count))
        return found(pieces_stop::no_room);
      line = p + 1;
    } else if (static_cast<std::size_t>(p - line) == piece_size) {
      // A whole piece of a long line, and more of the line after it.
      if (count == starts.size()) return found(pieces_stop::no_room);
      starts[count++] = line;
      line = p;
    }
  }
  return found(pieces_stop::end_of_bytes);
}

// The pieces of 64 bytes at a time, given which of them are line feeds and
// which are CRs. Blocks are taken while the byte after a block can be read
// and there is room for every piece a block can give (a line feed each, and
// two more for a long line) and for the four that the last step may write
// past them.
class block_walk {
 public:
  static constexpr std::size_t block = 64;
  static constexpr std::size_t room = block + 2 + 4;

  TEXTIO_ALWAYS_INLINE block_walk(std::string_view bytes, std::size_t piece_size,
                                  std::span<const char*> starts)
      : begin_(bytes.data()),
        end_(begin_ + bytes.size()),
        line_(begin_),
        p_(begin_),
        // Blocks start before this, so that the byte after each is there.
        blocks_end_(bytes.size() > block && piece_size >= block ? end_ - block : begin_),
        piece_size_(static_cast<std::ptrdiff_t>(piece_size)),
        starts_(starts),
        most_before_block_(static_cast<std::ptrdiff_t>(starts.size()) -
                           static_cast<std::ptrdiff_t>(room)) {}

  TEXTIO_ALWAYS_INLINE bool has_block() const {
    return p_ < blocks_end_ && static_cast<std::ptrdiff_t>(count_) <= most_before_block_;
  }

  TEXTIO_ALWAYS_INLINE const char* at() const { return p_; }

  // Takes the block; false when it holds a CR that is not part of a line end,
  // which the byte loop then finds.
  TEXTIO_ALWAYS_INLINE bool take(std::uint64_t lfs, std::uint64_t crs) {
    const std::uint64_t lone_crs = crs & ~(lfs >> 1);
    if (lone_crs != 0) [[unlikely]] {
      // A CR in the last place may still begin a line end that the next
      // block ends.
      if (lone_crs != std::uint64_t{1} << 63 || p_[block] != line_feed) return false;
    }
    // Only the line that was open when the block began can be long: one that
    // starts and ends inside the block is shorter than a block.
    const char* const first = p_ + std::countr_zero(lfs);  // the block's end without one
    if (first - line_ >= piece_size_) [[unlikely]] {
      if (first - line_ > piece_size_) {
        // A whole piece, and more of the line after it.
        starts_[count_++] = line_;
        line_ += piece_size_;
      }
      if (lfs != 0) {
        add_line(line_, first, static_cast<std::size_t>(piece_size_), starts_, count_);
        line_ = first + 1;
        lfs &= lfs - 1;
      }
    }
    if (lfs != 0) {
      // Each line feed ends the open line and opens the next. Their places
      // are taken four at a time, whatever their number, without a branch
      // for each: the first goes to the open line's slot, the others each
      // one further, and the last begins the line left open.
      starts_[count_] = line_;
      const auto lines = static_cast<std::size_t>(std::popcount(lfs));
      const char** next = starts_.data() + count_ + 1;
      const char** const last = next + lines;
      const char* const after = p_ + 1;
      std::uint64_t rest = lfs;
      do {
        for (std::size_t k = 0; k < 4; ++k) {
          const char* start = after + std::countr_zero(rest);
          // Four plain stores beat what a compiler makes of them in vectors,
          // or of a branch after each.
          TEXTIO_OPAQUE(start);
          next[k] = start;
          rest &= rest - 1;
          TEXTIO_OPAQUE(rest);
        }
        next += 4;
      } while (next < last);
      count_ += lines;
      // Not read back from `starts`, where it may just have been stored in a
      // wider write.
      line_ = p_ + (block - static_cast<std::size_t>(std::countl_zero(lfs)));
    }
    p_ += block;
    return true;
  }

  // The rest, a byte at a time; when the room ran out, the caller comes back
  // for it.
  TEXTIO_ALWAYS_INLINE pieces_found finish() const {
    if (count_ > 0 && static_cast<std::ptrdiff_t>(count_) > most_before_block_) {
      return {count_, static_cast<std::size_t>(line_ - begin_), pieces_stop::no_room};
    }
    return find_pieces_from(begin_, line_, p_, end_,
                            static_cast<std::size_t>(piece_size_), starts_, count_);
  }

 private:
  const char* begin_;
  const char* end_;
  const char* line_;
  const char* p_;
  const char* blocks_end_;
  std::ptrdiff_t piece_size_;
  std::span<const char*> starts_;
  std::ptrdiff_t most_before_block_;
  std::size_t count_ = 0;
};

#ifdef TEXTIO_SSE2
pieces_found find_pieces_sse2(std::string_view bytes, std::size_t piece_size,
                              std::span<const char*> starts) {
  block_walk walk(bytes, piece_size, starts);
  while (walk.has_block()) {
    std::uint64_t lfs = 0;
    std::uint64_t crs = 0;
    for (int i = 0; i < 4; ++i) {
      const __m128i part = load(walk.at() + 16 * i);
      lfs |= std::uint64_t{bytes_equal(part, line_feed)} << (16 * i);
      crs |= std::uint64_t{bytes_equal(part, carriage_return)} << (16 * i);
    }
    if (!walk.take(lfs, crs)) break;
  }
  return walk.finish();
}
#endif

#ifdef TEXTIO_AVX2
TEXTIO_TARGET_AVX2 TEXTIO_ALWAYS_INLINE std::uint64_t bytes_equal_64(__m256i low,
                                                                     __m256i high,
                                                                     __m256i wanted) {
  const auto low_bits =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted)));
  const auto high_bits =
      static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)));
  return std::uint64_t{high_bits} << 32 | low_bits;
}

TEXTIO_TARGET_AVX2 pieces_found find_pieces_avx2(std::string_view bytes,
                                                 std::size_t piece_size,
                                                 std::span<const char*> starts) {
  __m256i lf = _mm256_set1_epi8(line_feed);
  __m256i cr = _mm256_set1_epi8(carriage_return);
  // Kept in registers, rather than made anew for every block.
  TEXTIO_OPAQUE_VECTOR(lf);
  TEXTIO_OPAQUE_VECTOR(cr);
  block_walk walk(bytes, piece_size, starts);
  while (walk.has_block()) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(walk.at()));
    const __m256i high =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(walk.at() + 32));
    if (!walk.take(bytes_equal_64(low, high, lf), bytes_equal_64(low, high, cr))) break;
  }
  return walk.finish();
}
#endif

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

bool has_avx2() {
#ifdef TEXTIO_AVX2
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("popcnt");
#else
  return false;
#endif
}

const loop_variants<find_pieces_function>& find_pieces_variants() {
  static const loop_variants<find_pieces_function> variants(
      find_pieces_bytewise, TEXTIO_SSE2_LOOP(find_pieces_sse2),
      TEXTIO_AVX2_LOOP(find_pieces_avx2));
  return variants;
}

pieces_found find_pieces(std::string_view bytes, std::size_t piece_size,
                         std::span<const char*> starts) {
  static const auto fastest = find_pieces_variants().fastest();
  return fastest(bytes, piece_size, starts);
}

namespace {

// The byte loop of remove_carriage_returns, from `p` on, with the bytes kept
// so far ending at `to`.
char* remove_carriage_returns_from(char* to, const char* p, const char* end) {
  for (; p < end; ++p) {
    if (*p != carriage_return) *to++ = *p;
  }
  return to;
}

// Each block is loaded before anything is stored over it: `to` never passes
// the block being read.
#ifdef TEXTIO_SSE2
char* remove_carriage_returns_sse2(char* begin, char* end) {
  char* to = begin;
  const char* p = begin;
  for (; end - p >= 16; p += 16) {
    const __m128i block = load(p);
    if (bytes_equal(block, carriage_return) == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to), block);
      to += 16;
      continue;
    }
    for (int i = 0; i < 16; ++i) {
      const char c = p[i];
      *to = c;
      to += c != carriage_return ? 1 : 0;
    }
  }
  return remove_carriage_returns_from(to, p, end);
}
#endif

#ifdef TEXTIO_AVX2
// For each set of CRs among 8 bytes, the shuffle that moves the other bytes
// to the front.
constexpr auto keep_shuffles = [] {
  std::array<std::array<std::uint8_t, 8>, 256> shuffles{};
  for (unsigned crs = 0; crs < 256; ++crs) {
    std::size_t kept = 0;
    for (std::uint8_t i = 0; i < 8; ++i) {
      if ((crs >> i & 1) == 0) shuffles[crs][kept++] = i;
    }
    while (kept < 8) shuffles[crs][kept++] = 0x80;
  }
  return shuffles;
}();

// Eight bytes at a time, without a branch on where the CRs are.
TEXTIO_TARGET_AVX2 char* keep_eight(__m128i bytes, unsigned crs, char* to) {
  const __m128i shuffle =
      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(keep_shuffles[crs].data()));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_shuffle_epi8(bytes, shuffle));
  return to + 8 - std::popcount(crs);
}

TEXTIO_TARGET_AVX2 char* remove_carriage_returns_avx2(char* begin, char* end) {
  const __m128i cr = _mm_set1_epi8(carriage_return);
  char* to = begin;
  const char* p = begin;
  for (; end - p >= 16; p += 16) {
    const __m128i block = load(p);
    const auto crs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, cr)));
    to = keep_eight(block, crs & 0xFF, to);
    to = keep_eight(_mm_srli_si128(block, 8), crs >> 8, to);
  }
  return remove_carriage_returns_from(to, p, end);
}
#endif

}  // namespace

char* remove_carriage_returns_bytewise(char* begin, char* end) {
  return remove_carriage_returns_from(begin, begin, end);
}

const loop_variants<remove_carriage_returns_function>&
remove_carriage_returns_variants() {
  static const loop_variants<remove_carriage_returns_function> variants(
      remove_carriage_returns_bytewise, TEXTIO_SSE2_LOOP(remove_carriage_returns_sse2),
      TEXTIO_AVX2_LOOP(remove_carriage_returns_avx2));
  return variants;
}

char* remove_carriage_returns(char* begin, char* end) {
  static const auto fastest = remove_carriage_returns_variants().fastest();
  return fastest(begin, end);
}

}  // namespace textio
