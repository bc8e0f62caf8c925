#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fault_injection.hpp"
#include "scratch_folder.hpp"
#include "textio/platform.hpp"
#include "textio/same_file.hpp"

namespace textio::platform {
namespace {

// What a file shows of itself that tells it from another.
struct facts {
  mode_t kind;
  dev_t device;
  ino_t inode;
  nlink_t links;
  off_t size;
  time_t second;
  long nanosecond;
};

struct stat stat_of(const facts& f) {
  struct stat st {};
  st.st_mode = f.kind | 0644;
  st.st_dev = f.device;
  st.st_ino = f.inode;
  st.st_nlink = f.links;
  st.st_size = f.size;
  st.st_mtim.tv_sec = f.second;
  st.st_mtim.tv_nsec = f.nanosecond;
  return st;
}

TEST(same_file, two_names_are_one_file_only_where_nothing_tells_them_apart) {
  const facts code_txt{S_IFREG, 1, 10, 1, 33, 1000, 5};
  struct row {
    const char* name;
    facts other;
    view on;
    bool fresh;
    bool different;
  };
  const row rows[] = {
      {"the same facts", code_txt, view::none, false, false},
      {"a pipe with the same numbers",
       {S_IFIFO, 1, 10, 1, 33, 1000, 5},
       view::fuse,
       true,
       true},
      {"another inode number on one device",
       {S_IFREG, 1, 11, 1, 33, 1000, 5},
       view::none,
       false,
       true},
      {"another device, the same number, size and second",
       {S_IFREG, 2, 10, 1, 33, 1000, 9},
       view::none,
       false,
       false},
      {"another device and size",
       {S_IFREG, 2, 10, 1, 34, 1000, 5},
       view::none,
       false,
       true},
      {"another device and number",
       {S_IFREG, 2, 11, 1, 33, 1000, 5},
       view::none,
       false,
       true},
      {"another device and second",
       {S_IFREG, 2, 10, 1, 33, 1001, 5},
       view::none,
       false,
       true},
      // An overlay's layers, or FUSE beside the folder under it.
      {"a view: another device, the same number, another size",
       {S_IFREG, 2, 10, 1, 0, 1000, 5},
       view::overlay,
       true,
       true},
      {"a view: another device and number, the same size and time",
       {S_IFREG, 2, 99, 1, 33, 1000, 5},
       view::fuse,
       true,
       false},
      {"a view: another nanosecond",
       {S_IFREG, 2, 10, 1, 33, 1000, 6},
       view::fuse,
       true,
       true},
      {"a view not asked afresh",
       {S_IFREG, 2, 11, 1, 0, 1000, 5},
       view::fuse,
       false,
       false},
      {"a view: one number on one device",
       {S_IFREG, 1, 10, 1, 0, 0, 0},
       view::fuse,
       true,
       false},
      // Two files in one folder of a view, or two links of one file.
      {"an overlay: one link each, two numbers",
       {S_IFREG, 1, 11, 1, 33, 1000, 5},
       view::overlay,
       true,
       true},
      {"FUSE: one link shown for each, two numbers",
       {S_IFREG, 1, 11, 1, 33, 1000, 5},
       view::fuse,
       true,
       false},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(are_different(stat_of(code_txt), stat_of(r.other), r.on, r.fresh),
              r.different);
    EXPECT_EQ(are_different(stat_of(r.other), stat_of(code_txt), r.on, r.fresh),
              r.different);
  }
  // Two links of one file on an overlay, the same size and time.
  const facts link{S_IFREG, 1, 10, 2, 33, 1000, 5};
  EXPECT_FALSE(are_different(stat_of(link), stat_of({S_IFREG, 1, 11, 2, 33, 1000, 5}),
                             view::overlay, true));
}

class platform_test : public scratch_folder_test {};

// A run that created code_new.txt and is then refused takes it back, but
// only the very file it created, and only while nothing is in it.
TEST_F(platform_test, a_refused_run_removes_only_the_empty_file_it_created) {
  struct row {
    const char* name;
    void (*meanwhile)(const std::string& name);
    const char* left;  // what the name then holds; nullptr for nothing
  };
  const row rows[] = {
      {"nothing happened meanwhile", [](const std::string&) {}, nullptr},
      {"another program wrote into it",
       [](const std::string& name) {
         const int other = open(name.c_str(), O_WRONLY);
         ASSERT_EQ(write(other, "x", 1), 1);
         close(other);
       },
       "x"},
      {"another empty file took its name",
       [](const std::string& name) {
         std::ofstream(name + ".other").close();
         std::filesystem::rename(name + ".other", name);
       },
       ""},
  };
  const std::string name = path("code_new.txt");
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    std::filesystem::remove(name);
    bool created = false;
    const file f = open_for_writing(name.c_str(), created);
    ASSERT_NE(f, no_file);
    ASSERT_TRUE(created);
    r.meanwhile(name);
    close_and_remove(f, name.c_str());
    EXPECT_EQ(std::filesystem::exists(name), r.left != nullptr);
    if (r.left != nullptr) {
      EXPECT_EQ(file_bytes("code_new.txt"), r.left);
    }
  }
}

// A plain name is created exclusively: a file that another run made in the
// moment since the name was found missing is that run's, never this one's
// to take back.
TEST_F(platform_test, a_file_another_run_made_meanwhile_is_not_this_runs) {
  const std::string name = path("code_new.txt");
  fault_injection::armed armed;
  fault_injection::another_run_creates_before_lstat(name.c_str());
  bool created = true;
  const file f = open_for_writing(name.c_str(), created);
  ASSERT_NE(f, no_file);
  EXPECT_FALSE(created);
  close_file(f);
}

// On a view, size and time tell two files apart only once the view has
// been asked afresh; where it cannot be, two names there count as one.
TEST_F(platform_test, a_view_is_asked_afresh_before_size_and_time_count) {
  const std::string code_txt = put_file("code.txt", "0123ABCD 89ABCDEF\n");
  const std::string other = put_file("other.txt", "");
  const int a = open(code_txt.c_str(), O_RDONLY);
  const int b = open(other.c_str(), O_RDONLY);
  for (const bool refresh_fails : {false, true}) {
    SCOPED_TRACE(refresh_fails ? "the view cannot be asked afresh" : "asked afresh");
    fault_injection::armed armed;
    fault_injection::on_a_view(refresh_fails);
    EXPECT_EQ(are_different_files(a, b), !refresh_fails);
    EXPECT_EQ(are_different_files(a, other.c_str()), !refresh_fails);
    if (!refresh_fails) {
      EXPECT_EQ(fault_injection::refreshes(), 4);
    }
  }
  close(a);
  close(b);
}

}  // namespace
}  // namespace textio::platform
