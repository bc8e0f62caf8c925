#include "textio/text_stream.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace textio {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class text_stream_test : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("text_stream_test_" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }

  std::string put_file(const char* name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

  std::string file_bytes(const char* name) const {
    std::ifstream in(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  // Every piece the reader delivers with the tool's 200-byte line buffer.
  std::vector<std::string> read_pieces(const std::string& bytes, std::size_t read_ahead) {
    auto in = open_input(put_file("in.txt", bytes).c_str(), read_ahead);
    EXPECT_TRUE(in.has_value());
    std::vector<std::string> pieces;
    std::array<char, 200> buffer;
    while (auto line = read_text_line(buffer, *in)) {
      EXPECT_EQ(buffer[line->size()], '\0');
      pieces.emplace_back(*line);
    }
    EXPECT_FALSE(in->failed());
    EXPECT_TRUE(close_stream(*in));
    return pieces;
  }

  fs::path dir_;
};

const std::size_t read_ahead_sizes[] = {1, 2, 3, 7, 200, 512, default_buffer_size};

TEST_F(text_stream_test, reads_lines_with_windows_conventions) {
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
      SCOPED_TRACE(std::string(r.name) + ", read-ahead " + std::to_string(read_ahead));
      EXPECT_EQ(read_pieces(r.input, read_ahead), r.pieces);
    }
  }
}

// The reader looks at many bytes at a time; this holds it to the plain rule,
// a byte at a time, on input full of CRs, line feeds and long lines, wherever
// the edges of its read-ahead fall.
TEST_F(text_stream_test, agrees_with_a_byte_at_a_time_reader) {
  std::string input;
  std::uint32_t seed = 7;
  const char alphabet[] = {'a', 'b', '0', '\r', '\n', ' ', '\0'};
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245 + 12345;
    const unsigned pick = (seed >> 16) % 64;
    if (pick < 7) {
      input += alphabet[pick];
    } else if (pick < 9) {
      input += "\r\n";
    } else {
      input += static_cast<char>('c' + pick % 20);
    }
    if (pick == 63) input += std::string(180 + seed % 60, 'L');
  }
  std::vector<std::string> expected(1);
  for (const char c : input) {
    if (c == '\r') continue;
    if (expected.back().size() == 199 ||
        (!expected.back().empty() && expected.back().back() == '\n')) {
      expected.emplace_back();
    }
    expected.back() += c;
  }
  for (const std::size_t read_ahead : {1, 5, 15, 16, 17, 31, 64, 199, 4096}) {
    SCOPED_TRACE("read-ahead " + std::to_string(read_ahead));
    EXPECT_EQ(read_pieces(input, read_ahead), expected);
  }
}

TEST_F(text_stream_test, end_of_input_leaves_the_buffer_untouched) {
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

TEST_F(text_stream_test, pieces_follow_the_size_of_the_callers_buffer) {
  auto in = open_input(put_file("in.txt", "abcdefg\r\nh").c_str(), 2);
  ASSERT_TRUE(in);
  std::array<char, 4> buffer;
  std::vector<std::string> pieces;
  while (auto line = read_text_line(buffer, *in)) pieces.emplace_back(*line);
  EXPECT_EQ(pieces, (std::vector<std::string>{"abc", "def", "g\n", "h"}));
}

TEST_F(text_stream_test, refuses_what_cannot_be_read) {
  EXPECT_FALSE(open_input(path("missing.txt").c_str()));
  fs::create_directory(path("folder"));
  EXPECT_FALSE(open_input(path("folder").c_str()));
}

#ifdef __linux__
TEST_F(text_stream_test, a_read_error_is_not_the_end_of_the_input) {
  // Reading the first page of a process's own memory fails with EIO.
  auto in = open_input("/proc/self/mem");
  ASSERT_TRUE(in);
  std::array<char, 200> buffer;
  EXPECT_FALSE(read_text_line(buffer, *in));
  EXPECT_TRUE(in->failed());
  EXPECT_FALSE(read_text_line(buffer, *in));
}
#endif

TEST_F(text_stream_test, writes_every_line_feed_as_cr_lf) {
  struct row {
    const char* name;
    std::vector<std::string> writes;
    std::string file;
  };
  const row rows[] = {
      {"between words", {"X\nY"}, "X\r\nY"},
      {"at the end", {"Code\n"}, "Code\r\n"},
      {"a CR stays", {"\r\n"}, "\r\r\n"},
      {"NUL is written", {"a\0b\n"s}, "a\0b\r\n"s},
      {"nothing", {""}, ""},
      {"only line feeds", {"\n\n", "\n"}, "\r\n\r\n\r\n"},
      {"several writes",
       {"TITLE1\n", "Game\n", "\nCode\n"},
       "TITLE1\r\nGame\r\n\r\nCode\r\n"},
  };
  for (const row& r : rows) {
    for (const std::size_t buffer_size : {1, 2, 3, 512}) {
      SCOPED_TRACE(std::string(r.name) + ", buffer " + std::to_string(buffer_size));
      auto in = open_input(put_file("in.txt", "").c_str());
      auto out = open_output(path("out.txt").c_str(), *in, buffer_size);
      ASSERT_TRUE(out);
      for (const std::string& text : r.writes) EXPECT_TRUE(write_text(text, *out));
      EXPECT_TRUE(close_stream(*out));
      EXPECT_EQ(file_bytes("out.txt"), r.file);
    }
  }
}

TEST_F(text_stream_test, opening_the_output_empties_it) {
  put_file("out.txt", std::string(100000, 'o'));
  auto in = open_input(put_file("in.txt", "").c_str());
  auto out = open_output(path("out.txt").c_str(), *in);
  ASSERT_TRUE(out);
  EXPECT_EQ(fs::file_size(path("out.txt")), 0u);
  EXPECT_TRUE(close_stream(*out));
}

TEST_F(text_stream_test, never_empties_the_file_being_read) {
  auto in = open_input(put_file("in.txt", "keep me\n").c_str());
  ASSERT_TRUE(in);
  fs::create_hard_link(path("in.txt"), path("hard.txt"));
  fs::create_symlink(path("in.txt"), path("soft.txt"));
  EXPECT_FALSE(open_output(path("in.txt").c_str(), *in));
  EXPECT_FALSE(open_output(path("hard.txt").c_str(), *in));
  EXPECT_FALSE(open_output(path("soft.txt").c_str(), *in));
  EXPECT_EQ(file_bytes("in.txt"), "keep me\n");
}

#ifndef _WIN32
TEST_F(text_stream_test, files_keep_off_the_standard_descriptors) {
  // Started with standard input and output closed, the tool must not take
  // their numbers for its files: the console would then write into a file.
  const std::string in_path = put_file("in.txt", "x\n");
  std::fflush(stdout);
  const int saved_input = dup(0);
  const int saved_output = dup(1);
  close(0);
  close(1);
  auto in = open_input(in_path.c_str());
  auto out = in ? open_output(path("out.txt").c_str(), *in) : std::nullopt;
  const bool input_free = fcntl(0, F_GETFD) == -1;
  const bool output_free = fcntl(1, F_GETFD) == -1;
  dup2(saved_input, 0);
  dup2(saved_output, 1);
  close(saved_input);
  close(saved_output);
  ASSERT_TRUE(out);
  EXPECT_TRUE(input_free);
  EXPECT_TRUE(output_free);
}
#endif

TEST_F(text_stream_test, refuses_a_folder_as_output) {
  auto in = open_input(put_file("in.txt", "").c_str());
  fs::create_directory(path("folder"));
  EXPECT_FALSE(open_output(path("folder").c_str(), *in));
}

#ifdef __linux__
TEST_F(text_stream_test, a_failed_write_is_reported_and_stops_the_file) {
  auto in = open_input(put_file("in.txt", "").c_str());
  {
    // Collected bytes fail only when they are written out at the close.
    auto out = open_output("/dev/full", *in);
    ASSERT_TRUE(out);
    EXPECT_TRUE(write_text("collected\n", *out));
    EXPECT_FALSE(close_stream(*out));
  }
  {
    auto out = open_output("/dev/full", *in, 4);
    ASSERT_TRUE(out);
    EXPECT_FALSE(write_text("more than four bytes\n", *out));
    EXPECT_TRUE(out->failed());
    EXPECT_FALSE(write_text("x", *out));
    EXPECT_FALSE(close_stream(*out));
  }
}
#endif

}  // namespace
}  // namespace textio
