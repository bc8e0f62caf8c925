#include "textio/reader.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>
#endif

#include "scratch_folder.hpp"
#include "text_forms.hpp"

namespace textio {
namespace {

using namespace std::string_literals;

class reader_test : public scratch_folder_test {
 protected:
  // Every piece the reader delivers with the tool's 200-byte line buffer;
  // with `in_place` set, taking pieces where they lie whenever it can, as the
  // code pass does, with room for `batch` of them at a time.
  std::vector<std::string> read_pieces(const std::string& bytes, std::size_t read_ahead,
                                       bool in_place = false, std::size_t batch = 512) {
    auto in = open_input(put_file("in.txt", bytes).c_str(), read_ahead);
    EXPECT_TRUE(in.has_value());
    std::vector<std::string> pieces;
    std::array<char, 200> buffer;
    std::vector<const char*> starts(batch);
    for (;;) {
      if (in_place) {
        const auto found = pieces_in_place(*in, 199, starts);
        for (const char* start : found) pieces.push_back(piece_at(start));
        if (!found.empty()) continue;
      }
      const auto line = read_text_line(buffer, *in);
      if (!line) break;
      EXPECT_EQ(buffer[line->size()], '\0');
      pieces.emplace_back(*line);
    }
    EXPECT_FALSE(in->failed());
    EXPECT_TRUE(close_stream(*in));
    return pieces;
  }
};

const std::size_t read_ahead_sizes[] = {1, 2, 3, 7, 200, 512, default_read_ahead};

TEST_F(reader_test, reads_lines_with_windows_conventions) {
  const std::string x199(199, 'x');
  std::string cr_ended;  // lines of "abc" that end in a CR alone
  std::string many_lines;
  std::vector<std::string> many_lines_read;
  std::string cr_ended_read;
  for (int i = 0; i < 300; ++i) {
    cr_ended += "abc\r";
    cr_ended_read += "abc";
    many_lines += "line " + std::to_string(i) + "\r\n";
    many_lines_read.push_back("line " + std::to_string(i) + "\n");
  }
  many_lines_read.push_back("tail\n");
  struct row {
    const char* name;
    std::string input;
    std::vector<std::string> pieces;
  };
  const row rows[] = {
      {"CR LF becomes LF", "A\r\nB\r\n", {"A\n", "B\n"}},
      {"a lone CR vanishes", "A\rB\n", {"AB\n"}},
      {"CR at the very end", "A\r", {"A"}},
      {"only CRs", "\r\r\r", {}},
      {"empty file", "", {}},
      {"last line without a line feed", "A\nB", {"A\n", "B"}},
      {"Ctrl-Z ends the input",
       "AB\x1A"
       "CD\n",
       {"AB"}},
      {"Ctrl-Z first",
       "\x1A"
       "AB\n",
       {}},
      {"Ctrl-Z after a CR", "AB\r\x1A\r\n", {"AB"}},
      {"NUL is kept", "a\0b\n"s, {"a\0b\n"s}},
      {"199 bytes and a line feed", x199 + "\n", {x199, "\n"}},
      {"199 bytes and CR LF", x199 + "\r\n", {x199, "\n"}},
      {"198 bytes and a line feed", x199.substr(1) + "\n", {x199.substr(1) + "\n"}},
      {"long line in pieces",
       std::string(250, 'z') + "\n",
       {std::string(199, 'z'), std::string(51, 'z') + "\n"}},
      {"CR-only line ends make one long line",
       cr_ended,
       {cr_ended_read.substr(0, 199), cr_ended_read.substr(199, 199),
        cr_ended_read.substr(398, 199), cr_ended_read.substr(597, 199),
        cr_ended_read.substr(796)}},
      {"piece boundary inside a run of CRs",
       x199.substr(1) + "\r\r\ryz\r\n",
       {x199.substr(1) + "y", "z\n"}},
      {"Ctrl-Z after several buffers",
       many_lines + "tail\r\n\x1A"
                    "gone\r\n",
       many_lines_read},
  };
  for (const row& r : rows) {
    for (const std::size_t read_ahead : read_ahead_sizes) {
      for (const bool in_place : {false, true}) {
        SCOPED_TRACE(std::string(r.name) + ", read-ahead " + std::to_string(read_ahead) +
                     (in_place ? ", in place" : ""));
        EXPECT_EQ(read_pieces(r.input, read_ahead, in_place), r.pieces);
      }
    }
  }
}

// The pieces that the plain rule gives, a byte at a time: CRs dropped, the
// input cut at its first Ctrl-Z, lines taken 199 bytes at a time.
std::vector<std::string> pieces_by_the_rule(const std::string& input) {
  std::vector<std::string> pieces;
  for (const char c : input.substr(0, input.find('\x1A'))) {
    if (c == '\r') continue;
    if (pieces.empty() || pieces.back().size() == 199 || pieces.back().back() == '\n') {
      pieces.emplace_back();
    }
    pieces.back() += c;
  }
  return pieces;
}

// The reader looks at many bytes at a time, and the code pass takes pieces
// where they lie and cleans stretches with lone CRs; this holds both to the
// plain rule, on a random mix and on every shape of input that once cost
// more than a normal list, wherever the edges of the read-ahead fall.
TEST_F(reader_test, agrees_with_a_byte_at_a_time_reader) {
  std::string mix;
  std::uint32_t seed = 7;
  const char alphabet[] = {'a', 'b', '0', '\r', '\n', ' ', '\0'};
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245 + 12345;
    const unsigned pick = (seed >> 16) % 64;
    if (pick < 7) {
      mix += alphabet[pick];
    } else if (pick < 9) {
      mix += "\r\n";
    } else {
      mix += static_cast<char>('c' + pick % 20);
    }
    if (pick == 63) mix += std::string(180 + seed % 60, 'L');
    if (pick == 62) mix += std::string(380 + seed % 60, 'M') + "\r\n";
  }
  std::string binary;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245 + 12345;
    binary += static_cast<char>(seed >> 24);
  }
  const auto lines_of = [](std::size_t length, const std::string& end, int count) {
    std::string lines;
    const std::string line = "0123ABCD 89ABCDEF " + std::string(length, 'x');
    for (int i = 0; i < count; ++i) lines += line.substr(0, length) + end;
    return lines;
  };
  const std::string header = "GAME01\r\nName\r\n";
  struct row {
    const char* name;
    std::string input;
  };
  const row rows[] = {
      {"a random mix", mix},
      {"no line feed at all", header + std::string(70000, '\0')},
      {"CR-only line ends", header + lines_of(30, "\r", 2000)},
      {"lone CRs everywhere",
       header + lines_of(30, "\r", 1) + lines_of(30, "\r\r\n", 1000)},
      {"lines of 199 bytes", header + lines_of(199, "\r\n", 200)},
      {"lines of 200 bytes", header + lines_of(200, "\r\n", 200)},
      {"lines of 398 bytes without CRs", header + lines_of(398, "\n", 100)},
      {"lines of 400 bytes", header + lines_of(400, "\r\n", 100)},
      {"lines longer than the read-ahead", header + lines_of(70000, "\r\n", 3)},
      {"a late Ctrl-Z",
       header + lines_of(20, "\r\n", 3000) + "\x1A" + lines_of(20, "\n", 9)},
      {"binary", header + binary},
  };
  for (const row& r : rows) {
    const std::vector<std::string> expected = pieces_by_the_rule(r.input);
    for (const std::size_t read_ahead :
         {1, 5, 15, 16, 17, 31, 64, 65, 199, 4096, 65536}) {
      SCOPED_TRACE(std::string(r.name) + ", read-ahead " + std::to_string(read_ahead));
      EXPECT_EQ(read_pieces(r.input, read_ahead), expected);
      for (const std::size_t batch : {1, 2, 3, 512}) {
        SCOPED_TRACE("in place, " + std::to_string(batch) + " at a time");
        EXPECT_EQ(read_pieces(r.input, read_ahead, true, batch), expected);
      }
    }
  }
}

TEST_F(reader_test, end_of_input_leaves_the_buffer_untouched) {
  // CRs that end the input are bytes the reader looks at but never stores.
  for (const std::string& tail : {""s, "\r"s, std::string(40, '\r'), "\r\x1A\r\r"s}) {
    SCOPED_TRACE(std::to_string(tail.size()) + " bytes after the last line");
    auto in = open_input(put_file("in.txt", "AB\n" + tail).c_str());
    ASSERT_TRUE(in);
    std::array<char, 200> buffer;
    buffer.fill('#');
    ASSERT_TRUE(read_text_line(buffer, *in));
    EXPECT_EQ(std::string(buffer.data(), 4), "AB\n"s + '\0');
    const auto last_line = buffer;
    EXPECT_FALSE(read_text_line(buffer, *in));
    EXPECT_FALSE(read_text_line(buffer, *in));
    EXPECT_TRUE(buffer == last_line);
    EXPECT_FALSE(in->failed());
  }
}

// read_more() says whether bytes came: the code pass stops on its word.
TEST_F(reader_test, reading_more_says_whether_bytes_came) {
  const std::pair<std::string, std::vector<bool>> rows[] = {
      {"A", {true, false, false}},
      {"\x1A", {false, false}},
      {"A\x1A\n", {true, false}},
      {"", {false, false}},
  };
  for (const auto& [input, expected] : rows) {
    SCOPED_TRACE(::testing::PrintToString(input));
    auto in = open_input(put_file("in.txt", input).c_str());
    ASSERT_TRUE(in);
    std::vector<bool> answers;
    while (answers.size() < expected.size()) answers.push_back(in->read_more());
    EXPECT_EQ(answers, expected);
  }
}

// What a Ctrl-Z hides is counted, bytes that the read which met it brought
// along and those still in the file alike, CRs and later Ctrl-Zs included.
TEST_F(reader_test, counts_the_bytes_after_a_ctrl_z) {
  const std::string tail = "CD\r\n\x1A" + std::string(300, 'e');
  struct row {
    std::string input;
    bool ended_at_ctrl_z;
    std::uint64_t after;
  };
  const row rows[] = {
      {"AB\n", false, 0},
      {"AB\x1A", true, 0},
      {"\x1A" + tail, true, tail.size()},
      {"AB\n\x1A" + tail, true, tail.size()},
  };
  for (const row& r : rows) {
    for (const std::size_t read_ahead : read_ahead_sizes) {
      SCOPED_TRACE(::testing::PrintToString(r.input.substr(0, 8)) + ", read-ahead " +
                   std::to_string(read_ahead));
      auto in = open_input(put_file("in.txt", r.input).c_str(), read_ahead);
      ASSERT_TRUE(in);
      std::array<char, 200> buffer;
      while (read_text_line(buffer, *in)) {
      }
      EXPECT_EQ(in->ended_at_ctrl_z(), r.ended_at_ctrl_z);
      EXPECT_EQ(in->count_past_ctrl_z(), r.after);
      EXPECT_EQ(in->count_past_ctrl_z(), r.after) << "asked again";
    }
  }
}

TEST_F(reader_test, pieces_follow_the_size_of_the_callers_buffer) {
  auto in = open_input(put_file("in.txt", "abcdefg\r\nh").c_str(), 2);
  ASSERT_TRUE(in);
  std::array<char, 4> buffer;
  std::vector<std::string> pieces;
  while (auto line = read_text_line(buffer, *in)) pieces.emplace_back(*line);
  EXPECT_EQ(pieces, (std::vector<std::string>{"abc", "def", "g\n", "h"}));
}

TEST_F(reader_test, refuses_what_cannot_be_read) {
  EXPECT_FALSE(open_input(path("missing.txt").c_str()));
  std::filesystem::create_directory(path("folder"));
  EXPECT_FALSE(open_input(path("folder").c_str()));
}

#ifndef _WIN32
// A FIFO, like a terminal, can give more after an end; the first end must
// be the end.
TEST_F(reader_test, the_first_end_of_the_input_is_its_end) {
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  std::thread first_writer([this] {
    const int f = open(path("fifo").c_str(), O_WRONLY);
    EXPECT_EQ(write(f, "A\n", 2), 2);
    close(f);
  });
  auto in = open_input(path("fifo").c_str());
  ASSERT_TRUE(in);
  std::array<char, 200> buffer;
  EXPECT_EQ(read_text_line(buffer, *in), "A\n");
  first_writer.join();
  EXPECT_FALSE(read_text_line(buffer, *in));
  const int second_writer = open(path("fifo").c_str(), O_WRONLY | O_NONBLOCK);
  EXPECT_EQ(write(second_writer, "B\n", 2), 2);
  EXPECT_FALSE(read_text_line(buffer, *in));
  close(second_writer);
  EXPECT_TRUE(close_stream(*in));
}
#endif

#ifdef __linux__
TEST_F(reader_test, a_read_error_is_not_the_end_of_the_input) {
  // Reading the first page of a process's own memory fails with EIO.
  auto in = open_input("/proc/self/mem");
  ASSERT_TRUE(in);
  std::array<char, 200> buffer;
  EXPECT_FALSE(read_text_line(buffer, *in));
  EXPECT_TRUE(in->failed());
  EXPECT_FALSE(read_text_line(buffer, *in));
}
#endif

}  // namespace
}  // namespace textio
