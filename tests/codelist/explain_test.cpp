#include "codelist/explain.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "codelist/extract_codes.hpp"
#include "codelist/line_rules.hpp"
#include "scratch_folder.hpp"
#include "text_forms.hpp"
#include "textio/console.hpp"

extern "C" int codelist_explain(int most_listed);

namespace codelist {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct judged {
  std::vector<std::string_view> fates;  // by name, so that a failure reads
  std::vector<std::uint64_t> lines;
  std::vector<std::pair<fate, std::string>> kept;
  explanation found;
};

// Works in a scratch folder, as the tool and the page's entry do.
class explain_test : public in_scratch_folder_test {
 protected:
  judged judge(const std::string& bytes,
               std::size_t read_ahead = textio::default_read_ahead) {
    judged j;
    auto in = textio::open_input(put_file("code.txt", bytes).c_str(), read_ahead);
    if (!in) {
      ADD_FAILURE() << "code.txt cannot be opened";
      return j;
    }
    j.found = explain_code_list(*in, [&j](const judged_piece& piece) {
      j.fates.push_back(name_of(piece.what));
      j.lines.push_back(piece.line);
      if (group_of(piece.what) == fate_group::kept) {
        j.kept.emplace_back(piece.what, piece.bytes);
      }
    });
    textio::close_stream(*in);
    return j;
  }
};

const std::string block = "SCJP01\nGame\n";
const std::string code = "0123ABCD 89ABCDEF\n";
constexpr std::string_view h = "header";
constexpr std::string_view a = "after_header";
constexpr std::string_view c = "code";

// Each reason with the smallest input that shows it, and beside it a code
// that is kept, so that the near-miss rules are seen not to reach too far.
TEST_F(explain_test, says_why_each_piece_was_kept_or_dropped) {
  struct row {
    const char* name;
    std::string input;
    std::vector<std::string_view> fates;
    std::vector<std::uint64_t> lines = {};  // checked where given
  };
  const row rows[] = {
      {"a code, last in the file without a line end",
       block + "0123ABCD 89ABCDEF",
       {h, a, c}},
      {"a code with a comment",
       block + "0123ABCD 89ABCDEF ; x\n" + code,
       {h, a, "code_with_more", c}},
      {"a nine-digit word, cut",
       block + "0123ABCD 89ABCDEF0\n0123ABCD 89ABCDEFG\n",
       {h, a, "code_cut", "code_with_more"}},
      {"a line above the header", "Codes\n" + block + code, {"before_header", h, a, c}},
      {"a code above the header", code + block + code, {"code_before_header", h, a, c}},
      {"the line after the header, whatever it holds",
       "SCJP01\n" + code + code,
       {h, a, c}},
      {"lower case", block + "0123abcd 89ABCDEF\n" + code, {h, a, "lower_case", c}},
      {"a full-width digit in Shift-JIS",
       block + "\x82\x4F" + "123ABCD 89ABCDEF\n" + code,
       {h, a, "full_width_shift_jis", c}},
      {"a full-width space in Shift-JIS",
       block + "0123ABCD\x81\x40" + "89ABCDEF\n" + code,
       {h, a, "full_width_shift_jis", c}},
      {"a full-width digit in UTF-8",
       block + "\xEF\xBC\x90" + "123ABCD 89ABCDEF\n" + code,
       {h, a, "full_width_utf8", c}},
      {"a full-width space in UTF-8",
       block + "0123ABCD\xE3\x80\x80" + "89ABCDEF\n" + code,
       {h, a, "full_width_utf8", c}},
      {"a tab, two spaces, a blank in front",
       block + "0123ABCD\t89ABCDEF\n0123ABCD  89ABCDEF\n 0123ABCD 89ABCDEF\n" + code,
       {h, a, "spacing", "spacing", "spacing", c}},
      {"seven digits in either word",
       block + "0123ABC 89ABCDEF\n0123ABCD 89ABCDE\n" + code,
       {h, a, "short_word", "short_word", c}},
      {"nine digits in the first word",
       block + "0123ABCD0 89ABCDEF\n" + code,
       {h, a, "long_word", c}},
      {"the letter O for a zero",
       block + "O123ABCD 89ABCDEF\n" + code,
       {h, a, "non_hex_letter", c}},
      {"the rest of a long line",
       block + "0123ABCD 89ABCDEF" + std::string(182, ' ') + "tail\n" + code,
       {h, a, "code_with_more", "long_line_piece", c},
       {1, 2, 3, 3, 4}},
      {"a code at the start of a later piece is kept",
       block + std::string(199, 'x') + code,
       {h, a, "text", c}},
      {"ordinary text, however close to hex",
       block +
           "Infinite lives\n\nDEAD BEEF\nInfinite Strength\n0123ABCD\nOI23ABCG "
           "89ABCDEF\n" +
           code,
       {h, a, "text", "text", "text", "text", "text", "text", c}},
  };
  for (const row& r : rows) {
    for (const std::size_t read_ahead : {textio::default_read_ahead, std::size_t{3}}) {
      SCOPED_TRACE(std::string(r.name) + ", read-ahead " + std::to_string(read_ahead));
      const judged j = judge(r.input, read_ahead);
      EXPECT_EQ(j.fates, r.fates);
      if (!r.lines.empty()) {
        EXPECT_EQ(j.lines, r.lines);
      }
      EXPECT_EQ(j.found.no_header, no_header_reason::none);
    }
  }
}

// Why no header line was found; beside each, the file as it should have been
// saved, where the header line is found.
TEST_F(explain_test, says_why_no_header_line_was_found) {
  struct row {
    const char* name;
    std::string input;
    std::string fixed;  // empty: none given
    no_header_reason reason;
    std::uint64_t line;
  };
  const row rows[] = {
      {"a UTF-8 byte order mark", "\xEF\xBB\xBFSCJP01\nGame\n", block,
       no_header_reason::byte_order_mark, 1},
      {"UTF-16", "S\0C\0J\0P\0000\0001\0\n\0"s, block, no_header_reason::utf16, 0},
      {"UTF-16 by its byte order mark", "\xFF\xFE\n\0"s, "", no_header_reason::utf16, 0},
      {"CR-only line ends", "SCJP01\rGame\r0123ABCD 89ABCDEF\r",
       "SCJP01\r\nGame\r\n0123ABCD 89ABCDEF\r\n", no_header_reason::cr_only, 0},
      {"a trailing space", "Codes\nSCJP01 \nGame\n", "Codes\nSCJP01\nGame\n",
       no_header_reason::trailing_space, 2},
      {"full-width letters in Shift-JIS",
       "\x82\x72\x82\x62\x82\x69\x82\x6F\x82\x4F\x82\x50\nGame\n", block,
       no_header_reason::full_width, 1},
      {"full-width letters in UTF-8",
       "\xEF\xBC\xB3\xEF\xBC\xA3\xEF\xBC\xAA\xEF\xBC\xB0\xEF\xBC\x90\xEF\xBC\x91\n",
       block, no_header_reason::full_width, 1},
      {"no line end at the end of the file", "Codes\nSCJP01", "Codes\nSCJP01\n",
       no_header_reason::no_line_end, 2},
      {"no line nearly one", "Codes\n" + code, "", no_header_reason::unknown, 0},
      {"an empty file", "", "", no_header_reason::unknown, 0},
      {"a header line after a near one", "SCJP01 \nCODES1\nGame\n", "",
       no_header_reason::none, 2},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    const judged j = judge(r.input);
    EXPECT_EQ(name_of(j.found.no_header), name_of(r.reason));
    EXPECT_EQ(j.found.header_line, r.line);
    if (!r.fixed.empty()) {
      EXPECT_EQ(judge(r.fixed).found.no_header, no_header_reason::none) << "when fixed";
    }
  }
}

std::string hex(std::string_view bytes) {
  std::string out;
  for (const unsigned char b : bytes) {
    out += "0123456789abcdef"[b >> 4];
    out += "0123456789abcdef"[b & 15];
  }
  return out;
}

// The report, as the page reads it, and the page's entry that writes it.
TEST_F(explain_test, writes_the_report_that_the_page_reads) {
  const std::string lower = "0123abcd 89ABCDEF\n";
  const std::string cut = "0123ABCD 89ABCDEF0\n";
  const std::string input =
      "Title\n" + block + lower + lower + "Infinite\n" + cut + code + "\x1A" + "gone\r\n";
  const std::string report =
      "explanation 1\n"
      "other 1 before_header " +
      hex("Title\n") +
      "\n"
      "near_miss 4 lower_case " +
      hex(lower) +
      "\n"
      "kept 7 code_cut " +
      hex(cut) +
      "\n"
      "count kept header 1\n"
      "count kept after_header 1\n"
      "count kept code 1\n"
      "count kept code_with_more 0\n"
      "count kept code_cut 1\n"
      "count other before_header 1\n"
      "count near_miss code_before_header 0\n"
      "count near_miss lower_case 2\n"
      "count near_miss full_width_shift_jis 0\n"
      "count near_miss full_width_utf8 0\n"
      "count near_miss spacing 0\n"
      "count near_miss short_word 0\n"
      "count near_miss long_word 0\n"
      "count near_miss non_hex_letter 0\n"
      "count other long_line_piece 0\n"
      "count other text 1\n"
      "header none 2\n"
      "ctrl_z 9 6\n"
      "read ok\n"
      "end\n";
  put_file("code.txt", input);
  std::string written;
  {
    auto in = textio::open_input("code.txt");
    ASSERT_TRUE(in);
    write_explanation(*in, {1, false}, [&](std::string_view r) { written += r; });
  }
  EXPECT_EQ(written, report);

  EXPECT_EQ(codelist_explain(1), 0);
  EXPECT_EQ(file_bytes("explanation.txt"), with_cr_lf(report));
  EXPECT_EQ(codelist_explain(-1), 0);
  const std::string all = file_bytes("explanation.txt");
  EXPECT_NE(all.find("\r\nkept 8 code " + hex(code) + "\r\n"), all.npos);
  EXPECT_NE(all.find("\r\nnear_miss 5 lower_case "), all.npos);

  fs::remove("explanation.txt");
  fs::create_directory("explanation.txt");
  EXPECT_EQ(codelist_explain(1), 2);
  fs::remove("code.txt");
  EXPECT_EQ(codelist_explain(1), 1);
}

#ifndef _WIN32
struct sample {
  std::string name;
  std::string input;
  std::size_t read_ahead;
};

// The judge and the tool agree: the pieces called kept are the lines of
// code_new.txt, in order, in the form the tool writes them, wherever the
// edges of the read-ahead fall.
TEST_F(explain_test, keeps_what_the_tool_keeps) {
  const fs::path source(CODELIST_SOURCE_DIR);
  const auto read = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::vector<sample> samples = {{"examples/code.txt", read(source / "examples/code.txt"),
                                  textio::default_read_ahead}};
  // A fuzz input starts with two bytes that give its read-ahead.
  for (const auto& entry : fs::directory_iterator(source / "tests/fuzz/corpus")) {
    const std::string bytes = read(entry.path());
    const auto seed =
        static_cast<unsigned char>(bytes[0]) << 8 | static_cast<unsigned char>(bytes[1]);
    samples.push_back(
        {entry.path().filename().string(), bytes.substr(2), 1 + seed % 1024u});
  }
  for (const sample& s : samples) {
    for (const std::size_t read_ahead : {textio::default_read_ahead, s.read_ahead}) {
      SCOPED_TRACE(s.name + ", read-ahead " + std::to_string(read_ahead));
      const judged j = judge(s.input, read_ahead);
      std::string expected;
      bool heading = false;
      for (const auto& [what, bytes] : j.kept) {
        if (what == fate::header || what == fate::after_header) {
          expected += bytes;
          continue;
        }
        if (!heading) expected += code_heading;
        heading = true;
        expected += bytes.substr(0, code_length) + "\n";
      }
      if (j.found.no_header == no_header_reason::none && !heading)
        expected += code_heading;

      auto in = textio::open_input("code.txt", read_ahead);
      ASSERT_TRUE(in);
      auto out = textio::open_output("code_new.txt", *in);
      ASSERT_TRUE(out);
      std::fflush(stdout);
      const int saved = dup(STDOUT_FILENO);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      close(null);
      copy_code_list(*in, *out);
      textio::flush_console();
      dup2(saved, STDOUT_FILENO);
      close(saved);
      textio::close_stream(*in);
      ASSERT_TRUE(textio::close_stream(*out));
      EXPECT_EQ(file_bytes("code_new.txt"), with_cr_lf(expected));
    }
  }
}
#endif

}  // namespace
}  // namespace codelist
