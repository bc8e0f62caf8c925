#include <windows.h>
// windows.h first: the C runtime headers below rely on its types.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

#include "textio/platform.hpp"

namespace textio::platform {
namespace {

HANDLE os_handle(file f) { return reinterpret_cast<HANDLE>(_get_osfhandle(f)); }

bool is_type(file f, unsigned short type) {
  struct _stat64 st;
  return _fstat64(f, &st) == 0 && (st.st_mode & _S_IFMT) == type;
}

// The 128-bit file id where the file system keeps one (ReFS does not keep
// the older 64-bit index unique); some network shares report an all-zero id,
// which says nothing.
bool file_id(HANDLE h, FILE_ID_INFO& id) {
  static constexpr FILE_ID_128 unknown{};
  return GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id) &&
         std::memcmp(&id.FileId, &unknown, sizeof unknown) != 0;
}

std::wstring final_path(HANDLE h) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()), 0);
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    path.resize(n);
  }
}

}  // namespace

file open_for_reading(const char* name) {
  const file f = _open(name, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (f >= 0 && is_type(f, _S_IFDIR)) {
    _close(f);
    return no_file;
  }
  return f;
}

file open_for_writing(const char* name) {
  return _open(name, _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
}

// Cutting an empty file to length 0 can still fail on a full disk; there is
// nothing to cut, and the write that follows reports the full disk.
bool make_empty(file f) {
  return !is_type(f, _S_IFREG) || _filelengthi64(f) == 0 || _chsize_s(f, 0) == 0;
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

bool close_file(file f) { return _close(f) == 0; }

bool are_different_files(file a, file b) {
  const HANDLE x = os_handle(a);
  const HANDLE y = os_handle(b);
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

void prepare_standard_output() { _setmode(standard_output, _O_BINARY); }

}  // namespace textio::platform
