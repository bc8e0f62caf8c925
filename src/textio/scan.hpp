// The loops that touch every byte of a long list, as pure functions on byte
// ranges. Each has a plain byte loop beside it that states the rule and is
// the reference the fast one is tested against; the fast one looks at 16
// bytes at a time where SSE2 is there (every x86-64, Windows included).
#pragma once

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

struct pieces_found {
  std::size_t count;     // piece starts stored
  std::size_t consumed;  // bytes of the lines they belong to
};

// Finds, from the start of `bytes`, the whole lines that need no cleaning:
// each ends in a line feed and holds no CR but the one right before it. It
// stores where each of their pieces starts, as a reader taking at most
// `piece_size` bytes at a time would cut them: a line of n bytes before its
// line end gives a piece at every multiple of piece_size up to n. It stops
// before the first line that holds another CR, before the unfinished line at
// the end, and before a line whose pieces no longer fit in `starts`; the
// fast one may stop a few lines earlier when `starts` is nearly full, but
// always takes at least one line when the byte loop would.
pieces_found find_pieces(std::string_view bytes, std::size_t piece_size,
                         std::span<const char*> starts);
pieces_found find_pieces_bytewise(std::string_view bytes, std::size_t piece_size,
                                  std::span<const char*> starts);

}  // namespace textio
