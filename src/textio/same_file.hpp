// Whether two names that a POSIX system shows are one file: the rule that
// keeps the tool from emptying code.txt through another name of it, and its
// console out of the two files. Apart from the calls that ask the system,
// so that every case a mount can show is tested.
#pragma once

#include <sys/stat.h>

namespace textio::platform {

// What shows a file kept elsewhere, from the least that can be told to the
// most: nothing, an overlay, FUSE.
enum class view {
  none,
  overlay,  // shows each layer's own inode numbers and link counts
  fuse,     // may number each name on its own and show one link for every
            // file; also where what a file lies on cannot be told
};

// Whether `x` and `y` are known to be two files. `on` is the view that
// either lies on; `fresh` says whether a view was asked afresh for them.
bool are_different(const struct stat& x, const struct stat& y, view on, bool fresh);

}  // namespace textio::platform
