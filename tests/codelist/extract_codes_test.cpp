#include "codelist/extract_codes.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "codelist/line_rules.hpp"
#include "fault_injection.hpp"
#include "scratch_folder.hpp"
#include "text_forms.hpp"

namespace codelist {
namespace {

namespace fs = std::filesystem;

// Runs the tool in a scratch folder, its console caught in a file.
class extract_codes_test : public in_scratch_folder_test {
 protected:
  // The console is a file, or `console` when one is given.
  run_outcome run(const std::string& code_txt, int console = -1) {
    put_file("code.txt", code_txt);
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    if (console < 0) console = open("console", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(console, STDOUT_FILENO);
    close(console);
    const run_outcome outcome = extract_codes();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return outcome;
  }

  std::string console() const { return file_bytes("console"); }
  std::string code_new() const { return file_bytes("code_new.txt"); }
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
    // Linked statically, the test's own reads pass the seam as well.
    fault_injection::disarm();
    const std::string file = with_cr_lf(r.file);
    EXPECT_EQ(code_new(), file);
    EXPECT_EQ(console(), file + with_cr_lf(r.file.empty() ? "" : separator_rule.bytes) +
                             with_cr_lf(read_failure_message.bytes));
  }
}

// A list long enough to fill every buffer several times, and what it gives.
struct long_list {
  long_list() {
    for (int i = 0; i < 100000; ++i) {
      char code[19];
      std::snprintf(code, sizeof code, "%08X 89ABCDEF", i);
      input += std::string(code) + " ; comment\n";
      file += std::string(code) + "\r\n";
    }
  }
  std::string input = "SCJP01\nGame\n";
  std::string file = "SCJP01\r\nGame\r\n\r\nCode\r\n";
};

// After the first failed write nothing more reaches code_new.txt: it holds
// the start of the result, never a hole and a later piece. The console still
// shows the whole run, in large pieces.
TEST_F(extract_codes_test, a_write_error_leaves_the_start_of_the_file) {
  const long_list list;
  const std::string& input = list.input;
  const std::string& expected = list.file;
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
    EXPECT_LE(fault_injection::console_writes(), 2 + console_text.size() / (64 * 1024));
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

// What the run must have before it empties code_new.txt (memory, the lock,
// the knowledge that it was emptied) is had first: without it, the old
// result stays as it was, and a missing one stays missing, also behind a link
// that leads nowhere. A result that another run made of a file this run
// created stays too. A file whose kind cannot be told is still emptied.
TEST_F(extract_codes_test, the_old_result_stays_until_the_run_has_what_it_needs) {
  const std::string input = "SCJP01\nGame\n0123ABCD 89ABCDEF\n";
  const std::string result = "SCJP01\r\nGame\r\n\r\nCode\r\n0123ABCD 89ABCDEF\r\n";
  const std::string old(900000, 'o');
  const std::string refused = with_cr_lf(open_failure_message.bytes);
  const std::string done =
      result + with_cr_lf(separator_rule.bytes) + with_cr_lf(completion_message.bytes);
  const std::string missing = "(missing)";
  enum class setup {
    old_file,
    empty_file,
    no_file,
    link_to_nothing,
    output_locked,
    input_locked,
    device
  };
  struct row {
    const char* name;
    setup what;
    void (*arm)();
    run_outcome outcome;
    std::string file;  // afterwards; for the device, code_new.txt is not read
    const std::string& console;
  };
  const row rows[] = {
      {"no memory for the read-ahead", setup::old_file,
       [] { fault_injection::fail_allocations_from(64 * 1024); },
       run_outcome::open_failed, old, refused},
      {"no memory for the write buffer", setup::old_file,
       [] { fault_injection::fail_allocations_from(128 * 1024); },
       run_outcome::open_failed, old, refused},
      {"another run writes code_new.txt", setup::output_locked, [] {},
       run_outcome::open_failed, old, refused},
      {"another run writes code.txt", setup::input_locked, [] {},
       run_outcome::open_failed, old, refused},
      // The second flock is code_new.txt's, after code.txt's.
      {"no locks for code_new.txt", setup::old_file,
       [] { fault_injection::fail_locks_from(2); }, run_outcome::open_failed, old,
       refused},
      {"no locks for a missing code_new.txt", setup::no_file,
       [] { fault_injection::fail_locks_from(2); }, run_outcome::open_failed, missing,
       refused},
      {"no locks for an empty code_new.txt", setup::empty_file,
       [] { fault_injection::fail_locks_from(2); }, run_outcome::open_failed, "",
       refused},
      {"no locks, and another program writes the code_new.txt created meanwhile",
       setup::no_file, [] { fault_injection::fail_locks_from(2, "theirs"); },
       run_outcome::open_failed, "theirs", refused},
      {"no locks for a code_new.txt that links to nothing", setup::link_to_nothing,
       [] { fault_injection::fail_locks_from(2); }, run_outcome::open_failed, missing,
       refused},
      {"another run takes up the code_new.txt created meanwhile", setup::no_file,
       [] { fault_injection::another_run_at_lock(2); }, run_outcome::open_failed, "",
       refused},

      // The fifth asks whether code_new.txt, once locked, still has its name:
      // another run that created it and refused may have removed it.
      {"whether code_new.txt still has its name cannot be told", setup::old_file,
       [] { fault_injection::fail_stats_from(5); }, run_outcome::open_failed, old,
       refused},
      // The sixth fstat of a file is the first after the checks that tell
      // code.txt, code_new.txt and the console apart and that code_new.txt
      // still has its name: make_empty()'s, where it asks.
      {"the kind of code_new.txt cannot be told", setup::old_file,
       [] { fault_injection::fail_stats_from(6); }, run_outcome::done, result, done},
      {"neither the kind of a device nor its length", setup::device,
       [] { fault_injection::fail_stats_from(6); }, run_outcome::open_failed, "",
       refused},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    fs::remove("code_new.txt");
    if (r.what == setup::device) {
      fs::create_symlink("/dev/null", "code_new.txt");
    } else if (r.what == setup::link_to_nothing) {
      fs::create_symlink("nowhere.txt", "code_new.txt");
    } else if (r.what != setup::no_file) {
      put_file("code_new.txt", r.what == setup::empty_file ? "" : old);
    }
    put_file("code.txt", input);
    const int other_run =
        open(r.what == setup::input_locked ? "code.txt" : "code_new.txt", O_RDONLY);
    if (r.what == setup::output_locked || r.what == setup::input_locked) {
      ASSERT_EQ(flock(other_run, LOCK_EX), 0);
    }
    fault_injection::armed fault;
    r.arm();
    EXPECT_EQ(run(input), r.outcome);
    fault_injection::disarm();
    close(other_run);
    if (r.what != setup::device) {
      EXPECT_TRUE((fs::exists("code_new.txt") ? code_new() : missing) == r.file)
          << "code_new.txt differs";
    }
    if (r.what == setup::link_to_nothing) {
      EXPECT_TRUE(fs::is_symlink("code_new.txt"));
    }
    EXPECT_EQ(console(), r.console);
  }
}

// A console that cannot be told from code.txt may be code.txt: it stays
// silent, and the refusal with it. Silence lasts for the process, so the run
// has one of its own; the second fstat of a file is the console's check.
TEST_F(extract_codes_test, a_console_that_may_be_the_input_stays_silent) {
  const std::string old = "old result\r\n";
  put_file("code_new.txt", old);
  EXPECT_EXIT(
      {
        fault_injection::fail_stats_from(2);
        std::exit(static_cast<int>(run("SCJP01\nGame\n")));
      },
      ::testing::ExitedWithCode(static_cast<int>(run_outcome::open_failed)), "");
  EXPECT_EQ(console(), "");
  EXPECT_EQ(code_new(), old);
}

// A console that its reader made non-blocking is waited for, not taken for
// one that is gone.
TEST_F(extract_codes_test, a_non_blocking_console_gets_every_byte) {
  const long_list list;
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK);
  std::string shown;
  std::thread reader([&] {
    // Late, so that the pipe is full before anything is taken from it.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    char bytes[4096];
    for (ssize_t n; (n = read(pipe_ends[0], bytes, sizeof bytes)) > 0;)
      shown.append(bytes, n);
  });
  EXPECT_EQ(run(list.input, pipe_ends[1]), run_outcome::done);
  reader.join();
  close(pipe_ends[0]);
  EXPECT_TRUE(shown == list.file + with_cr_lf(separator_rule.bytes) +
                           with_cr_lf(completion_message.bytes))
      << shown.size() << " bytes shown";
}

}  // namespace
}  // namespace codelist
