#include "textio/writer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scratch_folder.hpp"
#include "textio/reader.hpp"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace textio {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

class writer_test : public scratch_folder_test {};

TEST_F(writer_test, writes_every_line_feed_as_cr_lf) {
  struct row {
    const char* name;
    std::vector<std::string> writes;
    std::string file;
  };
  const std::string long_text(3 * output_stream::max_reserve, '\n');
  std::string long_file;
  for (std::size_t i = 0; i < long_text.size(); ++i) long_file += "\r\n";
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
      {"more than one reserve at a time", {long_text}, long_file},
  };
  for (const row& r : rows) {
    for (const std::size_t buffer_size : {1, 2, 3, 512}) {
      SCOPED_TRACE(std::string(r.name) + ", buffer " + std::to_string(buffer_size));
      auto in = open_input(put_file("in.txt", "").c_str());
      auto out = open_output(path("out.txt").c_str(), *in, buffer_size);
      ASSERT_TRUE(out);
      for (const std::string& text : r.writes) EXPECT_TRUE(write_text(text, *out));
      EXPECT_TRUE(close_stream(*out));
      EXPECT_TRUE(file_bytes("out.txt") == r.file);
    }
  }
}

TEST_F(writer_test, opening_the_output_empties_it) {
  put_file("out.txt", std::string(100000, 'o'));
  auto in = open_input(put_file("in.txt", "").c_str());
  auto out = open_output(path("out.txt").c_str(), *in);
  ASSERT_TRUE(out);
  EXPECT_EQ(fs::file_size(path("out.txt")), 0u);
  EXPECT_TRUE(close_stream(*out));
}

TEST_F(writer_test, never_empties_the_file_being_read) {
  auto in = open_input(put_file("in.txt", "keep me\n").c_str());
  ASSERT_TRUE(in);
  fs::create_hard_link(path("in.txt"), path("hard.txt"));
  EXPECT_FALSE(open_output(path("in.txt").c_str(), *in));
  EXPECT_FALSE(open_output(path("hard.txt").c_str(), *in));
  // Windows lets only some users make a symbolic link.
  std::error_code no_symlinks;
  fs::create_symlink(path("in.txt"), path("soft.txt"), no_symlinks);
  if (!no_symlinks) {
    EXPECT_FALSE(open_output(path("soft.txt").c_str(), *in));
  }
  EXPECT_EQ(file_bytes("in.txt"), "keep me\n");
}

TEST_F(writer_test, refuses_a_folder_as_output) {
  auto in = open_input(put_file("in.txt", "").c_str());
  fs::create_directory(path("folder"));
  EXPECT_FALSE(open_output(path("folder").c_str(), *in));
}

#ifndef _WIN32
// A stream that goes away open, as on an early return, lets go of its file.
TEST_F(writer_test, a_stream_destroyed_open_closes_its_file) {
  int input_file = -1;
  int output_file = -1;
  {
    auto in = open_input(put_file("in.txt", "").c_str());
    auto out = open_output(path("out.txt").c_str(), *in);
    ASSERT_TRUE(out);
    input_file = in->file();
    output_file = out->file();
  }
  EXPECT_EQ(fcntl(input_file, F_GETFD), -1);
  EXPECT_EQ(fcntl(output_file, F_GETFD), -1);
}

TEST_F(writer_test, files_keep_off_the_standard_descriptors) {
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

}  // namespace
}  // namespace textio
