#include "codelist/extract_codes.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "codelist/line_rules.hpp"
#include "fault_injection.hpp"
#include "scratch_folder.hpp"
#include "text_forms.hpp"

namespace codelist {
namespace {

namespace fs = std::filesystem;

// Runs the tool in a scratch folder, its console caught in a file.
class extract_codes_test : public scratch_folder_test {
 protected:
  void SetUp() override {
    scratch_folder_test::SetUp();
    home_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(home_);
    scratch_folder_test::TearDown();
  }

  run_outcome run(const std::string& code_txt) {
    put_file("code.txt", code_txt);
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int console = open("console", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(console, STDOUT_FILENO);
    close(console);
    const run_outcome outcome = extract_codes();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return outcome;
  }

  std::string console() const { return file_bytes("console"); }
  std::string code_new() const { return file_bytes("code_new.txt"); }

  fs::path home_;
};

// A read that fails part-way is never taken for the end of the file, and the
// line it cut short is neither shown nor written.
TEST_F(extract_codes_test, a_read_error_keeps_only_whole_lines) {
  const std::string input =
      "junk\nSCJP01\nGame name\n0123ABCD 89ABCDEF ; first\n0123ABCD 89ABCDE0 ; second\n";
  const std::string block = "SCJP01\nGame name\n\nCode\n";
  struct row {
    const char* name;
    std::size_t readable;  // bytes that arrive before the failure
    std::string file;      // as text, before CR LF
  };
  const row rows[] = {
      {"before the first byte", 0, ""},
      {"in the header line", 8, ""},
      {"in the line after the header", 19, "SCJP01\n"},
      {"right after the header block", 22, block},
      {"in a code, past its 17th byte", 44, block},
      {"before the last line feed", input.size() - 1, block + "0123ABCD 89ABCDEF\n"},
      {"instead of the end of the file", input.size(),
       block + "0123ABCD 89ABCDEF\n0123ABCD 89ABCDE0\n"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    fault_injection::armed fault;
    fault_injection::fail_reads_after(r.readable);
    EXPECT_EQ(run(input), run_outcome::read_failed);
    const std::string file = with_cr_lf(r.file);
    EXPECT_EQ(code_new(), file);
    EXPECT_EQ(console(), file + with_cr_lf(r.file.empty() ? "" : separator_rule.bytes) +
                             with_cr_lf(read_failure_message.bytes));
  }
}

// After the first failed write nothing more reaches code_new.txt: it holds
// the start of the result, never a hole and a later piece. The console still
// shows the whole run.
TEST_F(extract_codes_test, a_write_error_leaves_the_start_of_the_file) {
  std::string input = "SCJP01\nGame\n";
  std::string expected = "SCJP01\r\nGame\r\n\r\nCode\r\n";
  for (int i = 0; i < 100000; ++i) {
    char code[19];
    std::snprintf(code, sizeof code, "%08X 89ABCDEF", i);
    input += std::string(code) + " ; comment\n";
    expected += std::string(code) + "\r\n";
  }
  const std::string console_text = expected + with_cr_lf(separator_rule.bytes) +
                                   with_cr_lf(write_failure_message.bytes);
  for (const int failing : {1, 2, 5}) {
    SCOPED_TRACE("write " + std::to_string(failing) + " fails");
    fault_injection::armed fault;
    fault_injection::fail_write(failing);
    EXPECT_EQ(run(input), run_outcome::write_failed);
    const std::string file = code_new();
    EXPECT_LT(file.size(), expected.size());
    EXPECT_TRUE(file == expected.substr(0, file.size())) << "not the start of the result";
    EXPECT_EQ(fault_injection::writes_after_failure(), 0);
    EXPECT_TRUE(console() == console_text) << "the console differs";
  }
  {
    SCOPED_TRACE("closing fails");
    fault_injection::armed fault;
    fault_injection::fail_close();
    EXPECT_EQ(run(input), run_outcome::write_failed);
    EXPECT_TRUE(code_new() == expected) << "code_new.txt differs";
    EXPECT_TRUE(console() == console_text) << "the console differs";
  }
}

}  // namespace
}  // namespace codelist
