#include <windows.h>
// windows.h first: the C runtime headers below rely on its types.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "textio/platform.hpp"

namespace textio::platform {
namespace {

HANDLE os_handle(file f) { return reinterpret_cast<HANDLE>(_get_osfhandle(f)); }

bool is_folder(file f) {
  struct _stat64 st;
  return _fstat64(f, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFDIR;
}

// The 128-bit file id where the file system keeps one (ReFS does not keep
// the older 64-bit index unique); some network shares report an all-zero id,
// which says nothing.
bool file_id(HANDLE h, FILE_ID_INFO& id) {
  static constexpr FILE_ID_128 unknown{};
  return GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id) &&
         std::memcmp(&id.FileId, &unknown, sizeof unknown) != 0;
}

// Empty where it cannot be known, also when there is no memory for it.
std::wstring final_path(HANDLE h) try {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), 0);
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    path.resize(n);
  }
} catch (const std::bad_alloc&) {
  return {};
}

bool are_different(HANDLE x, HANDLE y) {
  // A console, a pipe or a device is never a file on a disk.
  if (GetFileType(x) != FILE_TYPE_DISK || GetFileType(y) != FILE_TYPE_DISK) return true;
  FILE_ID_INFO x_id;
  FILE_ID_INFO y_id;
  if (file_id(x, x_id) && file_id(y, y_id)) {
    // A handle that was not opened by name, such as a standard handle that
    // wine takes over from its host, may report volume 0; its id still counts.
    const bool volume_may_match = x_id.VolumeSerialNumber == y_id.VolumeSerialNumber ||
                                  x_id.VolumeSerialNumber == 0 ||
                                  y_id.VolumeSerialNumber == 0;
    return !volume_may_match ||
           std::memcmp(&x_id.FileId, &y_id.FileId, sizeof x_id.FileId) != 0;
  }
  const std::wstring x_path = final_path(x);
  const std::wstring y_path = final_path(y);
  return !x_path.empty() && !y_path.empty() &&
         CompareStringOrdinal(x_path.c_str(), -1, y_path.c_str(), -1, TRUE) != CSTR_EQUAL;
}

// The byte that a run locks to keep a second run off the same output. It
// lies far past any end of file, so that the lock, which Windows enforces,
// never stands in the way of a write.
OVERLAPPED lock_place() {
  OVERLAPPED place{};
  place.Offset = 0xFFFFFFFE;
  place.OffsetHigh = 0x7FFFFFFF;
  return place;
}

}  // namespace

file open_for_reading(const char* name) {
  const file f = _open(name, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (f >= 0 && is_folder(f)) {
    _close(f);
    return no_file;
  }
  return f;
}

file open_for_writing(const char* name, bool& created) {
  created = false;
  // Created only where it was missing, so that the run knows the file is
  // its own to take back. Another run may create or remove it in between;
  // the name is then tried again, and a name that keeps changing is given
  // up. _O_EXCL never creates through a link: a name that is there but
  // leads nowhere (a link, or what wine shows of a POSIX one) gets its file
  // without it, and that file, missing a moment ago, is this run's as well.
  for (int tries = 0; tries < 3; ++tries) {
    const file f = _open(name, _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (f >= 0 || errno != ENOENT) return f;
    const file made =
        _open(name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
              _S_IREAD | _S_IWRITE);
    if (made >= 0) {
      created = true;
      return made;
    }
    if (errno != EEXIST) return no_file;
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      const file through = _open(name, _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                                 _S_IREAD | _S_IWRITE);
      created = through >= 0;
      return through;
    }
  }
  return no_file;
}

// Windows removes no file that is open, so it is removed by name once
// closed, through any links: a link stays, and leads nowhere again. A run
// that has opened it meanwhile shares no deletion with it, and keeps it; a
// name that leads to another file by then is left alone.
void close_and_remove(file f, const char* name) {
  FILE_ID_INFO id;
  const bool known = file_id(os_handle(f), id);
  close_file(f);
  if (!known) return;
  const HANDLE named = CreateFileA(name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
  if (named == INVALID_HANDLE_VALUE) return;
  FILE_ID_INFO named_id;
  LARGE_INTEGER size;
  if (file_id(named, named_id) && named_id.VolumeSerialNumber == id.VolumeSerialNumber &&
      std::memcmp(&named_id.FileId, &id.FileId, sizeof id.FileId) == 0 &&
      GetFileSizeEx(named, &size) && size.QuadPart == 0) {
    FILE_DISPOSITION_INFO remove{TRUE};
    SetFileInformationByHandle(named, FileDispositionInfo, &remove, sizeof remove);
  }
  CloseHandle(named);
}

// A file open here shares no deletion, so nobody removes it meanwhile.
bool has_name(file) { return true; }

lock_result lock_file(file f, lock_kind kind) {
  OVERLAPPED place = lock_place();
  const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY |
                      (kind == lock_kind::exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (LockFileEx(os_handle(f), flags, 0, 1, 0, &place)) return lock_result::locked;
  return GetLastError() == ERROR_LOCK_VIOLATION ? lock_result::held_elsewhere
                                                : lock_result::failed;
}

// Cutting an empty file to length 0 can still fail on a full disk; there is
// nothing to cut, and the write that follows reports the full disk.
bool make_empty(file f) {
  if (_filelengthi64(f) == 0 || _chsize_s(f, 0) == 0) return true;
  const DWORD type = GetFileType(os_handle(f));
  return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

long read_some(file f, char* bytes, std::size_t count) {
  return _read(f, bytes, static_cast<unsigned>(std::min<std::size_t>(count, INT_MAX)));
}

bool write_all(file f, const char* bytes, std::size_t count) {
  while (count > 0) {
    const int n =
        _write(f, bytes, static_cast<unsigned>(std::min<std::size_t>(count, INT_MAX)));
    if (n <= 0) return false;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

// Windows may keep a lock for a while after its file is closed; it is let go
// first, so that the next run finds the output free.
bool close_file(file f) {
  OVERLAPPED place = lock_place();
  UnlockFileEx(os_handle(f), 0, 1, 0, &place);
  return _close(f) == 0;
}

bool are_different_files(file a, file b) {
  return are_different(os_handle(a), os_handle(b));
}

// A handle with no access rights needs no permission to read the file, and
// shares it with everyone.
bool are_different_files(file a, const char* name) {
  const HANDLE named =
      CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  // A name that cannot be looked up (a loop of links, a folder that may not
  // be entered) cannot be opened either: the run refuses, and its console
  // must be there to say so.
  if (named == INVALID_HANDLE_VALUE) return true;
  const bool different = are_different(os_handle(a), named);
  CloseHandle(named);
  return different;
}

// _isatty() is true for NUL as well; a console is what takes a console mode.
// Its code page is left alone: it belongs to the shell too, and would stay
// changed if the tool were stopped.
console_kind console_kind_of(file f) {
  DWORD mode;
  return GetConsoleMode(os_handle(f), &mode) != 0 ? console_kind::utf16
                                                  : console_kind::none;
}

bool write_console(file f, std::u16string_view text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  while (!text.empty()) {
    DWORD written = 0;
    const auto count = static_cast<DWORD>(std::min<std::size_t>(text.size(), 16 * 1024));
    if (!WriteConsoleW(os_handle(f), text.data(), count, &written, nullptr) ||
        written == 0) {
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

void prepare_writes() { _setmode(standard_output, _O_BINARY); }

}  // namespace textio::platform
