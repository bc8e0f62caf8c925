#include "textio/scan.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "guarded_bytes.hpp"
#include "textio/simd.hpp"

#if defined(TEXTIO_AVX2) && defined(__x86_64__)
#include <cpuid.h>
#endif

namespace textio {
namespace {

// Inputs of every length up to a few hundred bytes, thick with line feeds,
// CR LF pairs and long lines; once with CRs only before line feeds, once with
// lone CRs among them as well.
std::vector<std::string> random_inputs() {
  std::vector<std::string> inputs;
  std::uint32_t seed = 11;
  const auto next = [&seed] { return (seed = seed * 1103515245 + 12345) >> 16; };
  for (const bool lone_crs : {false, true}) {
    for (std::size_t length = 0; length < 700; ++length) {
      std::string input;
      while (input.size() < length) {
        const unsigned pick = next() % 16;
        if (pick < 2) input += '\r';
        if (pick < 4) input += '\n';
        if (pick == 4) input += std::string(next() % 300, 'L');
        if (pick == 5 && lone_crs) input += '\r';
        if (pick > 4) input += static_cast<char>('a' + pick);
      }
      inputs.push_back(input.substr(0, length));
    }
  }
  // The most pieces one block can give: a line of 64 pieces of 199 bytes
  // whose end opens a block, which gives its last two pieces, and 63 more
  // line feeds.
  inputs.push_back(std::string(64 * 199, 'L') + std::string(64, '\n') + "tail");
  return inputs;
}

#if defined(TEXTIO_AVX2) && defined(__x86_64__)
// The AVX2 loops are listed exactly where the processor and the system let
// AVX2 run, asked here without the compiler's help.
TEST(scan, avx2_is_listed_where_the_processor_has_it) {
  unsigned a, b, c, d;
  __get_cpuid(1, &a, &b, &c, &d);
  const bool popcnt = (c & bit_POPCNT) != 0;
  unsigned saved_by_system = 0;
  if ((c & bit_OSXSAVE) != 0) {
    __asm__("xgetbv" : "=a"(saved_by_system) : "c"(0) : "edx");
  }
  __get_cpuid_count(7, 0, &a, &b, &c, &d);
  const bool avx2 =
      (saved_by_system & 6) == 6 && (b & bit_AVX2) != 0 && (b & bit_BMI) != 0 && popcnt;
  const auto lists_avx2 = [](const auto& variants) {
    const auto all = variants.all();
    return std::string_view(all.back().name) == "AVX2";
  };
  EXPECT_EQ(lists_avx2(find_pieces_variants()), avx2);
  EXPECT_EQ(lists_avx2(remove_carriage_returns_variants()), avx2);
}
#endif

TEST(scan, finding_pieces_agrees_with_the_byte_loop) {
  for (const auto& loop : find_pieces_variants().all()) {
    for (const std::string& input : random_inputs()) {
      guarded_bytes bytes(input);
      for (const std::size_t piece_size : {1, 3, 64, 199}) {
        // Room for a block's pieces and the slots past them is 70; for the
        // block that gives the most pieces, every room around it.
        std::vector<std::size_t> rooms = {1, 2, 7, 69, 70, 71, 100, 512};
        if (input.size() > 1000) {
          for (std::size_t room = 60; room < 200; ++room) rooms.push_back(room);
        }
        for (const std::size_t room : rooms) {
          SCOPED_TRACE(std::string(loop.name) + ", " + std::to_string(input.size()) +
                       " bytes, pieces of " + std::to_string(piece_size) + ", room for " +
                       std::to_string(room));
          // `starts` ends right before a guard page too.
          guarded_bytes starts(room * sizeof(const char*));
          const std::span<const char*> fast(reinterpret_cast<const char**>(starts.data()),
                                            room);
          std::vector<const char*> plain(room);
          const pieces_found a = loop.run(bytes.view(), piece_size, fast);
          const pieces_found b = find_pieces_bytewise(bytes.view(), piece_size, plain);
          // The fast loop may stop early when `starts` is nearly full, at a
          // piece start and saying so, but never before the first piece.
          ASSERT_LE(a.count, b.count);
          ASSERT_EQ(a.count == 0, b.count == 0);
          if (a.count == b.count) {
            ASSERT_EQ(a.consumed, b.consumed);
            ASSERT_TRUE(a.stop == b.stop || a.stop == pieces_stop::no_room);
          } else {
            ASSERT_EQ(a.consumed,
                      static_cast<std::size_t>(plain[a.count] - bytes.data()));
            ASSERT_EQ(a.stop, pieces_stop::no_room);
          }
          plain.resize(a.count);
          ASSERT_EQ(std::vector<const char*>(fast.begin(), fast.begin() + a.count),
                    plain);
        }
      }
    }
  }
}

TEST(scan, removing_carriage_returns_agrees_with_the_byte_loop) {
  for (const auto& variant : remove_carriage_returns_variants().all()) {
    for (const std::string& input : random_inputs()) {
      SCOPED_TRACE(std::string(variant.name) + ", " + std::to_string(input.size()) +
                   " bytes");
      guarded_bytes fast(input);
      std::string plain = input;
      const char* const fast_end = variant.run(fast.data(), fast.data() + input.size());
      const char* const plain_end =
          remove_carriage_returns_bytewise(plain.data(), plain.data() + plain.size());
      ASSERT_EQ(
          std::string_view(fast.data(), static_cast<std::size_t>(fast_end - fast.data())),
          std::string_view(plain.data(),
                           static_cast<std::size_t>(plain_end - plain.data())));
    }
  }
}

TEST(scan, copying_line_parts_agrees_with_the_byte_loop) {
  for (const std::string& input : random_inputs()) {
    guarded_bytes bytes(input);
    for (const std::size_t room : {1, 15, 16, 17, 199}) {
      SCOPED_TRACE(std::to_string(input.size()) + " bytes, room for " +
                   std::to_string(room));
      // The caller's buffer: the room and the NUL after it.
      guarded_bytes fast(room + 1);
      std::string plain(room + 1, '\0');
      std::string_view rest = bytes.view();
      while (!rest.empty()) {
        const line_part a =
            copy_line_part(rest, fast.data(), room, fast.data() + room + 1);
        const line_part b = copy_line_part_bytewise(rest, plain.data(), room);
        ASSERT_EQ(a.stored, b.stored);
        ASSERT_EQ(a.consumed, b.consumed);
        ASSERT_EQ(a.ended, b.ended);
        ASSERT_EQ(std::string_view(fast.data(), a.stored), plain.substr(0, b.stored));
        rest.remove_prefix(a.consumed);
      }
    }
  }
}

TEST(scan, expanding_line_feeds_agrees_with_the_byte_loop) {
  for (const std::string& input : random_inputs()) {
    SCOPED_TRACE(std::to_string(input.size()) + " bytes");
    guarded_bytes bytes(input);
    guarded_bytes fast(2 * input.size() + 16);
    std::string plain(2 * input.size(), '\0');
    const char* const fast_end = expand_line_feeds(bytes.view(), fast.data());
    const char* const plain_end = expand_line_feeds_bytewise(bytes.view(), plain.data());
    ASSERT_EQ(
        std::string_view(fast.data(), static_cast<std::size_t>(fast_end - fast.data())),
        std::string_view(plain.data(),
                         static_cast<std::size_t>(plain_end - plain.data())));
  }
}

}  // namespace
}  // namespace textio
