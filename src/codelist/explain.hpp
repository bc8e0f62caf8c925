// Why each line of a code list was kept or dropped. The tool drops every line
// that is not a code without a word; the page asks this afterwards, so that a
// user who misses a code can be told why. The judge reads code.txt as the run
// does, piece by piece, asks the line rules the run's own questions, and only
// where a dropped piece nearly passed does it look further, at what stood in
// the way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>

#include "textio/reader.hpp"

namespace codelist {

// What became of one piece. The first five are kept, the rest dropped.
enum class fate : unsigned char {
  header,                // the header line
  after_header,          // the line after it, kept whatever it holds
  code,                  // a code and nothing more
  code_with_more,        // a code, and more on the line, which is not copied
  code_cut,              // a code whose next byte is a code digit too: a longer word, cut
  before_header,         // a line above the header line
  code_before_header,    // a code above the header line
  lower_case,            // a code but for lower-case digits a-f
  full_width_shift_jis,  // a code but for full-width digits or spaces in Shift-JIS
  full_width_utf8,       // the same in UTF-8
  spacing,               // a code but for a tab, more than one space, or blanks in front
  short_word,            // a code but for a word of six or seven digits
  long_word,             // a code but for a first word of nine or ten digits
  non_hex_letter,        // a code but for one or two letters other than A-F
  long_line_piece,       // a later piece of a line longer than 199 bytes
  text,                  // anything else: a title, a comment, an empty line
};
inline constexpr std::size_t fate_count = static_cast<std::size_t>(fate::text) + 1;

// How the page shows a fate: kept; a near miss, shown as a likely mistake;
// or other dropped text, counted and folded away.
enum class fate_group : unsigned char { kept, near_miss, other };
fate_group group_of(fate f);

// Why no header line was found, from the file as a whole.
enum class no_header_reason : unsigned char {
  none,             // a header line was found
  unknown,          // no line nearly is one (an empty file too)
  utf16,            // the file is UTF-16: NUL bytes between ASCII letters
  cr_only,          // lines end in CR alone, so the file is one long line
  byte_order_mark,  // a UTF-8 byte order mark in front of a would-be header line
  full_width,       // a would-be header line in full-width letters or digits
  trailing_space,   // a would-be header line but for blanks at its end
  no_line_end,      // a would-be header line, last in the file, without a line end
};

// The word that the report uses for each value.
std::string_view name_of(fate f);
std::string_view name_of(fate_group g);
std::string_view name_of(no_header_reason r);

struct judged_piece {
  // Counted by line feeds from 1; every piece of a long line has its line's.
  std::uint64_t line;
  fate what;
  // As delivered, line feed included; valid during the call only.
  std::string_view bytes;
};

struct explanation {
  std::array<std::uint64_t, fate_count> counts{};  // pieces of each fate
  no_header_reason no_header = no_header_reason::unknown;
  // The header line, or the would-be one; 0 for none.
  std::uint64_t header_line = 0;
  // Where a Ctrl-Z ended the input, 0 for none, and how many bytes after it
  // were ignored; nothing when they could not be read.
  std::uint64_t ctrl_z_line = 0;
  std::optional<std::uint64_t> bytes_after_ctrl_z = 0;
  bool read_failed = false;
};

// Judges every piece of `input` from where it stands to its end, in order,
// handing each to `each`, and returns what was found. Memory stays the same
// whatever the input holds.
explanation explain_code_list(textio::input_stream& input,
                              const std::function<void(const judged_piece&)>& each);

inline constexpr std::size_t all_listed = std::numeric_limits<std::size_t>::max();

struct report_options {
  std::size_t most_listed = 1000;  // near misses, and other dropped pieces, each
  bool list_kept = false;          // every kept piece too
};

// Writes the report on `input`, one record at a time, each a line of ASCII
// with its line feed, to `out`. The page reads it from explanation.txt,
// where, as in every file the tool writes, each line ends in CR LF. Fields
// are separated by one space; <hex> is a piece's bytes, line feed included,
// two lower-case hex digits a byte. In this order:
//
//   explanation 1                      the format's version
//   <group> <line> <fate> <hex>        a listed piece, in input order: kept
//                                      (when asked), near_miss or other; the
//                                      first most_listed of each dropped group
//                                      and of the codes cut from a longer word
//   count <group> <fate> <pieces>      one for every fate, all pieces counted
//   header <reason> <line>             no_header_reason; the line of the
//                                      header or would-be header, or 0
//   ctrl_z <line> <bytes>              where a Ctrl-Z ended the input and how
//                                      many bytes after it were ignored (-1:
//                                      unreadable); 0 0 when none did
//   read <ok|failed>                   whether code.txt was read to its end
//   end                                the report is whole
//
// Group, fate and reason are the words of name_of().
void write_explanation(textio::input_stream& input, const report_options& options,
                       const std::function<void(std::string_view)>& out);

}  // namespace codelist
