#include <gtest/gtest.h>

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

}  // namespace
}  // namespace textio::platform
