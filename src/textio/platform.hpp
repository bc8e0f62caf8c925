// The file layer: what the text streams need from the operating system, one
// implementation per platform (platform_posix.cpp, platform_windows.cpp).
// Files are binary everywhere, so the only line-end rules are the streams'.
#pragma once

#include <cstddef>
#include <string_view>

namespace textio::platform {

// A file descriptor: the system's on POSIX, the C runtime's on Windows.
using file = int;
inline constexpr file no_file = -1;
inline constexpr file standard_output = 1;

// An existing file for reading; no_file when it is missing, may not be read
// or is a folder. Never descriptor 0, 1 or 2: started with standard output
// closed, the tool would otherwise write its console into its own files.
file open_for_reading(const char* name);

// A file for writing, created when missing and otherwise left as it is until
// make_empty(); `created` says whether this run created it, through a link
// that led nowhere too. Never descriptor 0, 1 or 2.
file open_for_writing(const char* name, bool& created);

// Closes a file that this run created and that no other run can have taken
// up (this run holds its lock, or the file system gives none), and removes
// it again while `name`, through any links, still leads to it and it is
// still empty, so that a run that refuses leaves no file behind.
void close_and_remove(file f, const char* name);

// False when the file has lost its last name since it was opened: another
// run that created it and refused has removed it again, and what is written
// to it would be lost.
bool has_name(file f);

// Locks a file until it is closed, so that no run empties a file that
// another is writing or reading: `exclusive` for the file written, shared for
// the file read. It does not wait.
enum class lock_kind { shared, exclusive };
enum class lock_result {
  locked,
  held_elsewhere,  // another run holds a lock that stands in the way
  failed,          // the file system gives no locks
};
lock_result lock_file(file f, lock_kind kind);

// Cuts a file opened for writing to length 0. Devices such as /dev/null and
// pipes have no length and are left as they are. False when the file could
// not be cut and is not known to be such a device: it may still hold old
// bytes that would follow the new ones.
bool make_empty(file f);

// Bytes read, 0 at the end of the file, -1 on a failure.
long read_some(file f, char* bytes, std::size_t count);

// Writes all of `bytes`, or reports false. A file that takes no more for the
// moment (a non-blocking pipe) is waited for.
bool write_all(file f, const char* bytes, std::size_t count);

bool close_file(file f);

// True only when `a` and `b` are known to be two different files. When the
// answer cannot be known, a caller that might destroy data must assume one.
bool are_different_files(file a, file b);

// The same for the file that `name` leads to, looked up without opening it
// for reading: true when there is no such file.
bool are_different_files(file a, const char* name);

// What `f` is as a console, and so how it shows the tool's own messages.
enum class console_kind {
  none,   // a file, a pipe or a device: every byte as it is
  bytes,  // a terminal whose character set is not UTF-8: the bytes as well
  utf8,   // a terminal under a UTF-8 locale: UTF-8
  utf16,  // a Windows console: its characters, through write_console()
};
console_kind console_kind_of(file f);

// Writes characters to a Windows console; false where that failed or where
// the platform has no such console.
bool write_console(file f, std::u16string_view text);

// Makes every write safe to try: a console reader that goes away, or a file
// that reaches the size limit, must cost a failed write, never the process.
// Standard output is binary on every platform.
void prepare_writes();

}  // namespace textio::platform
