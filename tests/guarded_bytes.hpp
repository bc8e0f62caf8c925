// Memory for kernels that must stay within their bounds.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

// Memory whose last byte lies right before a page that may not be touched:
// a kernel that reads or writes one byte past its range crashes the test.
class guarded_bytes {
 public:
  explicit guarded_bytes(std::size_t size) : size_(size) {
    const std::size_t page = page_size();
    length_ = (size + page - 1) / page * page + page;
#ifdef _WIN32
    base_ = static_cast<char*>(
        VirtualAlloc(nullptr, length_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base_ + length_ - page, page, PAGE_NOACCESS, &old);
#else
    base_ = static_cast<char*>(mmap(nullptr, length_, PROT_READ | PROT_WRITE,
                                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base_ + length_ - page, page, PROT_NONE);
#endif
  }
  guarded_bytes(const std::string& bytes) : guarded_bytes(bytes.size()) {
    std::memcpy(data(), bytes.data(), bytes.size());
  }
  guarded_bytes(const guarded_bytes&) = delete;
  guarded_bytes& operator=(const guarded_bytes&) = delete;
  ~guarded_bytes() {
#ifdef _WIN32
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, length_);
#endif
  }

  char* data() { return base_ + length_ - page_size() - size_; }
  std::string_view view() { return {data(), size_}; }

 private:
  static std::size_t page_size() {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
  }

  std::size_t size_;
  std::size_t length_;
  char* base_;
};
