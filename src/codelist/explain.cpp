#include "codelist/explain.hpp"

#include <charconv>
#include <cstring>

#include "codelist/line_rules.hpp"

namespace codelist {
namespace {

// Each word of a code has this many digits.
constexpr std::size_t word_length = (code_length - 1) / 2;

// A near miss is at most this far from a code: two digits more or fewer in a
// word, two letters that are not code digits. Further off, it is text.
constexpr std::size_t word_slack = 2;
constexpr std::size_t most_non_hex_letters = 2;

constexpr std::string_view utf8_byte_order_mark = "\xEF\xBB\xBF";

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_word_char(char c) { return is_code_digit(c) || is_letter(c); }

enum class written_as : unsigned char { ascii, shift_jis, utf8 };

// The character at the start of `bytes` as the ASCII one it stands for: a
// full-width letter, digit or space in Shift-JIS or UTF-8 becomes the
// half-width one. Anything else is its first byte.
struct character {
  char ascii;
  std::size_t length;
  written_as form;
};

character character_at(std::string_view bytes) {
  const auto byte = [bytes](std::size_t i) {
    return static_cast<unsigned char>(bytes[i]);
  };
  if (bytes.size() >= 3 && byte(0) == 0xEF && (byte(1) == 0xBC || byte(1) == 0xBD) &&
      byte(2) >= 0x80 && byte(2) <= 0xBF) {
    // U+FF01 to U+FF5E stand for "!" to "~".
    const unsigned offset = (byte(1) - 0xBCu) * 64 + (byte(2) - 0x80u);
    if (offset >= 0x01 && offset <= 0x5E) {
      return {static_cast<char>(0x20 + offset), 3, written_as::utf8};
    }
  }
  // U+3000, the ideographic space.
  if (bytes.starts_with("\xE3\x80\x80")) return {' ', 3, written_as::utf8};
  // The full-width space in Shift-JIS, then its digits, capitals and small
  // letters.
  if (bytes.starts_with("\x81\x40")) return {' ', 2, written_as::shift_jis};
  if (bytes.size() >= 2 && byte(0) == 0x82) {
    const unsigned b = byte(1);
    if (b >= 0x4F && b <= 0x58)
      return {static_cast<char>('0' + (b - 0x4F)), 2, written_as::shift_jis};
    if (b >= 0x60 && b <= 0x79)
      return {static_cast<char>('A' + (b - 0x60)), 2, written_as::shift_jis};
    if (b >= 0x81 && b <= 0x9A)
      return {static_cast<char>('a' + (b - 0x81)), 2, written_as::shift_jis};
  }
  return {bytes.empty() ? '\0' : bytes[0], 1, written_as::ascii};
}

// The reason a dropped piece is nearly a code, found by writing it the way a
// code is written and asking the code rule of that copy. Its head, the part
// where a code would stand, is read as ASCII: full-width characters and
// lower-case a-f as what they stand for. The fixes that the copy needed give
// the reason, the first of them in the order of `fate`.
std::optional<fate> near_miss(std::string_view piece) {
  struct head_char {
    char c;
    written_as form;
    bool lower;
  };
  constexpr std::size_t head_size = 48;
  std::array<head_char, head_size> head;
  std::size_t size = 0;
  // The character at `i`, read when first asked for, so that most text is
  // given up after its first word; past the head's end a NUL, which is
  // neither a word character nor a blank.
  const auto at = [&](std::size_t i) {
    while (size <= i && !piece.empty() && size < head_size) {
      const character ch = character_at(piece);
      const bool lower = ch.ascii >= 'a' && ch.ascii <= 'f';
      const char c = lower ? static_cast<char>(ch.ascii - 'a' + 'A') : ch.ascii;
      if (!is_word_char(c) && !is_blank(c)) {
        piece = {};
        break;
      }
      head[size++] = {c, ch.form, lower};
      piece.remove_prefix(ch.length);
    }
    return i < size ? head[i].c : '\0';
  };
  // The end of a run from `from`, looking at no more than `most` + 1
  // characters.
  const auto skip = [&](std::size_t from, bool (*is)(char), std::size_t most) {
    std::size_t end = from;
    while (end - from <= most && is(at(end))) ++end;
    return end;
  };
  const std::size_t first = skip(0, is_blank, head_size);
  const std::size_t first_end = skip(first, is_word_char, word_length + word_slack);
  const std::size_t first_length = first_end - first;
  if (first_length + word_slack < word_length ||
      first_length > word_length + word_slack) {
    return std::nullopt;
  }
  const std::size_t second = skip(first_end, is_blank, head_size);
  const std::size_t second_length = skip(second, is_word_char, word_length - 1) - second;
  if (second_length + word_slack < word_length || second == first_end)
    return std::nullopt;

  // The copy: each word cut or filled to its length, any other letter as a
  // 0, one space between.
  std::array<char, code_length + 1> copy;
  std::size_t non_hex = 0;
  const auto put_word = [&](std::size_t from, std::size_t length, char* to) {
    const std::size_t used = std::min(length, word_length);
    std::memset(to, '0', word_length - used);
    for (std::size_t i = 0; i < used; ++i) {
      const char c = head[from + i].c;
      non_hex += !is_code_digit(c);
      to[word_length - used + i] = is_code_digit(c) ? c : '0';
    }
  };
  put_word(first, first_length, copy.data());
  copy[word_length] = ' ';
  put_word(second, second_length, copy.data() + word_length + 1);
  copy[code_length] = '\n';
  if (non_hex > most_non_hex_letters || !is_code_line({copy.data(), copy.size()})) {
    return std::nullopt;
  }

  const std::size_t end = second + second_length;
  bool shift_jis = false;
  bool utf8 = false;
  bool lower = false;
  for (std::size_t i = 0; i < end; ++i) {
    shift_jis |= head[i].form == written_as::shift_jis;
    utf8 |= head[i].form == written_as::utf8;
    lower |= head[i].lower;
  }
  if (shift_jis) return fate::full_width_shift_jis;
  if (utf8) return fate::full_width_utf8;
  if (lower) return fate::lower_case;
  if (first > 0 || second - first_end > 1 || head[first_end].c == '\t')
    return fate::spacing;
  if (first_length < word_length || second_length < word_length) return fate::short_word;
  if (first_length > word_length) return fate::long_word;
  if (non_hex > 0) return fate::non_hex_letter;
  return std::nullopt;
}

// What a piece after the header block is.
fate code_pass_fate(std::string_view piece, bool continues_line) {
  if (is_code_line(piece)) {
    if (piece.size() == code_length || piece[code_length] == '\n') return fate::code;
    return is_code_digit(piece[code_length]) ? fate::code_cut : fate::code_with_more;
  }
  if (continues_line) return fate::long_line_piece;
  return near_miss(piece).value_or(fate::text);
}

// Why a piece that starts a line above the header block is not the header
// line when it nearly is: the first fix, in this order, of those that make
// the header rule pass on a copy. `none` when nothing does.
no_header_reason nearly_header(std::string_view piece, bool first_piece) {
  std::array<char, line_buffer_size + 1> copy;
  std::size_t size = 0;
  no_header_reason reason = no_header_reason::none;
  const auto fixed = [&](no_header_reason fix) {
    if (reason == no_header_reason::none) reason = fix;
    return is_header_line({copy.data(), size});
  };
  if (first_piece && piece.starts_with(utf8_byte_order_mark)) {
    piece.remove_prefix(utf8_byte_order_mark.size());
    reason = no_header_reason::byte_order_mark;
  }
  bool full_width = false;
  while (!piece.empty()) {
    const character ch = character_at(piece);
    copy[size++] = ch.ascii;
    full_width |= ch.form != written_as::ascii;
    piece.remove_prefix(ch.length);
  }
  if ((full_width || reason != no_header_reason::none) &&
      fixed(no_header_reason::full_width)) {
    return reason;
  }
  const bool line_feed = size > 0 && copy[size - 1] == '\n';
  const std::size_t end = size - line_feed;
  std::size_t kept = end;
  while (kept > 0 && is_blank(copy[kept - 1])) --kept;
  if (kept < end) {
    if (line_feed) copy[kept] = '\n';
    size = kept + line_feed;
    if (fixed(no_header_reason::trailing_space)) return reason;
  }
  if (!line_feed) {
    copy[size++] = '\n';
    if (fixed(no_header_reason::no_line_end)) return reason;
  }
  return no_header_reason::none;
}

// What the first bytes of the file say about it as a whole.
struct file_signs {
  bool utf16 = false;
  bool cr_only = false;
};

file_signs look_at_start(std::string_view bytes) {
  file_signs found;
  const auto is_ascii_word = [](char c) {
    return is_letter(c) || (c >= '0' && c <= '9');
  };
  // Three letters with a NUL after the first two, as UTF-16 has them.
  for (std::size_t i = 0; !found.utf16 && i + 4 < bytes.size(); ++i) {
    found.utf16 = bytes[i + 1] == '\0' && bytes[i + 3] == '\0' &&
                  is_ascii_word(bytes[i]) && is_ascii_word(bytes[i + 2]) &&
                  is_ascii_word(bytes[i + 4]);
  }
  found.utf16 |= bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
  found.cr_only = bytes.find('\r') != bytes.npos && bytes.find('\n') == bytes.npos;
  return found;
}

}  // namespace

fate_group group_of(fate f) {
  if (f <= fate::code_cut) return fate_group::kept;
  if (f == fate::before_header || f == fate::long_line_piece || f == fate::text) {
    return fate_group::other;
  }
  return fate_group::near_miss;
}

std::string_view name_of(fate f) {
  constexpr std::array<std::string_view, fate_count> names = {"header",
                                                              "after_header",
                                                              "code",
                                                              "code_with_more",
                                                              "code_cut",
                                                              "before_header",
                                                              "code_before_header",
                                                              "lower_case",
                                                              "full_width_shift_jis",
                                                              "full_width_utf8",
                                                              "spacing",
                                                              "short_word",
                                                              "long_word",
                                                              "non_hex_letter",
                                                              "long_line_piece",
                                                              "text"};
  return names[static_cast<std::size_t>(f)];
}

std::string_view name_of(fate_group g) {
  constexpr std::array<std::string_view, 3> names = {"kept", "near_miss", "other"};
  return names[static_cast<std::size_t>(g)];
}

std::string_view name_of(no_header_reason r) {
  constexpr std::array<std::string_view, 8> names = {
      "none",       "unknown",        "utf16",      "cr_only", "byte_order_mark",
      "full_width", "trailing_space", "no_line_end"};
  return names[static_cast<std::size_t>(r)];
}

explanation explain_code_list(textio::input_stream& input,
                              const std::function<void(const judged_piece&)>& each) {
  explanation result;
  // The read-ahead, before a line is taken from it, still holds the CRs
  // and the NULs that tell how the file was saved.
  const file_signs start = look_at_start(input.unread());
  enum class pass { header, after_header, codes } at = pass::header;
  no_header_reason nearly = no_header_reason::none;
  std::uint64_t nearly_line = 0;
  std::uint64_t line = 1;
  bool first_piece = true;
  bool continues_line = false;
  std::array<char, line_buffer_size> buffer;
  while (const auto piece = textio::read_text_line(buffer, input)) {
    fate what = fate::text;
    switch (at) {
      case pass::header:
        if (is_header_line(*piece)) {
          what = fate::header;
          at = pass::after_header;
          result.header_line = line;
          break;
        }
        what = is_code_line(*piece) ? fate::code_before_header : fate::before_header;
        if (nearly == no_header_reason::none && !continues_line) {
          nearly = nearly_header(*piece, first_piece);
          nearly_line = line;
        }
        break;
      case pass::after_header:
        what = fate::after_header;
        at = pass::codes;
        break;
      case pass::codes:
        what = code_pass_fate(*piece, continues_line);
        break;
    }
    ++result.counts[static_cast<std::size_t>(what)];
    each({line, what, *piece});
    first_piece = false;
    continues_line = piece->back() != '\n';
    line += !continues_line;
  }
  result.read_failed = input.failed();
  if (input.ended_at_ctrl_z()) {
    result.ctrl_z_line = line;
    result.bytes_after_ctrl_z = input.count_past_ctrl_z();
  }
  if (at != pass::header) {
    result.no_header = no_header_reason::none;
  } else if (start.utf16) {
    result.no_header = no_header_reason::utf16;
  } else if (start.cr_only) {
    result.no_header = no_header_reason::cr_only;
  } else if (nearly != no_header_reason::none) {
    result.no_header = nearly;
    result.header_line = nearly_line;
  }
  return result;
}

namespace {

// One record of the report, built in place: no piece costs an allocation.
class record {
 public:
  record& word(std::string_view text) {
    separate();
    std::memcpy(end_, text.data(), text.size());
    end_ += text.size();
    return *this;
  }
  record& number(std::uint64_t n) {
    separate();
    end_ = std::to_chars(end_, bytes_.end(), n).ptr;
    return *this;
  }
  record& hex(std::string_view data) {
    separate();
    constexpr std::string_view digits = "0123456789abcdef";
    for (const char c : data) {
      const auto b = static_cast<unsigned char>(c);
      *end_++ = digits[b >> 4];
      *end_++ = digits[b & 15];
    }
    return *this;
  }
  std::string_view line() {
    *end_++ = '\n';
    return {bytes_.data(), static_cast<std::size_t>(end_ - bytes_.data())};
  }

 private:
  void separate() {
    if (end_ != bytes_.data()) *end_++ = ' ';
  }

  // The longest record: a group, a line number, a fate, a whole piece.
  std::array<char, 32 + 24 + 32 + 2 * line_buffer_size> bytes_;
  char* end_ = bytes_.data();
};

}  // namespace

void write_explanation(textio::input_stream& input, const report_options& options,
                       const std::function<void(std::string_view)>& out) {
  out(record().word("explanation").number(1).line());
  std::array<std::size_t, 3> listed{};
  const explanation found = explain_code_list(input, [&](const judged_piece& piece) {
    const fate_group group = group_of(piece.what);
    std::size_t& count = listed[static_cast<std::size_t>(group)];
    // A code cut from a longer word is kept, but listed as a likely mistake.
    const bool wanted = group == fate_group::kept && piece.what != fate::code_cut
                            ? options.list_kept
                            : count < options.most_listed || options.list_kept;
    if (!wanted) return;
    ++count;
    out(record()
            .word(name_of(group))
            .number(piece.line)
            .word(name_of(piece.what))
            .hex(piece.bytes)
            .line());
  });
  for (std::size_t i = 0; i < fate_count; ++i) {
    const auto f = static_cast<fate>(i);
    out(record()
            .word("count")
            .word(name_of(group_of(f)))
            .word(name_of(f))
            .number(found.counts[i])
            .line());
  }
  out(record()
          .word("header")
          .word(name_of(found.no_header))
          .number(found.header_line)
          .line());
  record ctrl_z;
  ctrl_z.word("ctrl_z").number(found.ctrl_z_line);
  if (found.bytes_after_ctrl_z) {
    ctrl_z.number(*found.bytes_after_ctrl_z);
  } else {
    ctrl_z.word("-1");
  }
  out(ctrl_z.line());
  out(record().word("read").word(found.read_failed ? "failed" : "ok").line());
  out(record().word("end").line());
}

}  // namespace codelist
