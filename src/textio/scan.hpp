// The loops that touch every byte of a long list, as pure functions on byte
// ranges. Each has a plain byte loop beside it that states the rule and is
// the reference the fast ones are tested against; on x86-64 the fast ones
// look at 16 bytes at a time with SSE2, or at 32 or 64 with AVX2 where the
// processor has it.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace textio {

inline constexpr char carriage_return = '\r';
inline constexpr char line_feed = '\n';
inline constexpr char ctrl_z = '\x1A';

struct line_part {
  std::size_t stored;    // bytes stored, carriage returns left out
  std::size_t consumed;  // bytes of input used up
  bool ended;            // a line feed was stored
};

// Copies bytes from `from` to `to` until a line feed has been copied, `room`
// bytes have been stored or the input runs out, leaving out every carriage
// return. Bytes past the ones stored may be overwritten up to `to_end`, but
// only when at least one byte is stored.
line_part copy_line_part(std::string_view from, char* to, std::size_t room,
                         const char* to_end);
line_part copy_line_part_bytewise(std::string_view from, char* to, std::size_t room);

// Copies `from` to `to` with every line feed as CR LF and returns the end of
// the copy. `to` needs room for twice the input and 16 bytes more.
char* expand_line_feeds(std::string_view from, char* to);
char* expand_line_feeds_bytewise(std::string_view from, char* to);

// Removes every carriage return from [begin, end), in place, and returns the
// new end. The bytes that stay keep their order.
char* remove_carriage_returns(char* begin, char* end);
char* remove_carriage_returns_bytewise(char* begin, char* end);

// Why find_pieces() stopped.
enum class pieces_stop {
  end_of_bytes,     // at the unfinished line at the end
  carriage_return,  // at a line that holds a CR other than the one before its line feed
  no_room,          // at a line whose pieces no longer fit in `starts`
};

struct pieces_found {
  std::size_t count;     // piece starts stored
  std::size_t consumed;  // bytes of the pieces they belong to
  pieces_stop stop;
};

// Finds, from the start of `bytes`, the pieces that need no cleaning, and
// stores where each starts, as a reader taking at most `piece_size` bytes at
// a time would cut them: a line of n bytes before its line end gives a piece
// at every multiple of piece_size up to n. The lines hold no CR but the one
// right before their line feed. A line that is not finished yet gives the
// pieces that are whole and that more of the line follows, so that a line of
// any length, even one without an end, is taken where it lies. It stops
// before the first line that holds another CR, and before a piece that no
// longer fits in `starts`; the fast one may stop a few pieces earlier when
// `starts` is nearly full, and say no_room, but always takes at least one
// piece when the byte loop would, and it may write to all of `starts`.
pieces_found find_pieces(std::string_view bytes, std::size_t piece_size,
                         std::span<const char*> starts);
pieces_found find_pieces_bytewise(std::string_view bytes, std::size_t piece_size,
                                  std::span<const char*> starts);

// Whether the processor, and the system, let AVX2 run.
bool has_avx2();

// One way to run a loop: the plain byte loop, or one that looks at 16 or 32
// bytes at a time.
template <class Function>
struct loop_variant {
  const char* name;
  Function* run;
};

// The ways that a loop can run here, the byte loop first and the fastest
// last. A way that this build has not is given as nullptr, and AVX2 counts
// only where the processor has it. The loop takes the fastest, chosen once;
// tests hold each to the byte loop.
template <class Function>
class loop_variants {
 public:
  loop_variants(Function* bytewise, Function* sse2, Function* avx2) {
    add("byte loop", bytewise);
    add("SSE2", sse2);
    if (has_avx2()) add("AVX2", avx2);
  }
  std::span<const loop_variant<Function>> all() const { return {list_.data(), count_}; }
  Function* fastest() const { return list_[count_ - 1].run; }

 private:
  void add(const char* name, Function* run) {
    if (run != nullptr) list_[count_++] = {name, run};
  }

  std::array<loop_variant<Function>, 3> list_{};
  std::size_t count_ = 0;
};

using find_pieces_function = pieces_found(std::string_view bytes, std::size_t piece_size,
                                          std::span<const char*> starts);
const loop_variants<find_pieces_function>& find_pieces_variants();

using remove_carriage_returns_function = char*(char* begin, char* end);
const loop_variants<remove_carriage_returns_function>& remove_carriage_returns_variants();

}  // namespace textio
