#include <windows.h>

#include "base/os.h"
#include "config/fileio.h"

namespace orvalin::cfgfile {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

Result<std::string> read_file(const std::filesystem::path& path) {
  // Share everything: an editor may hold the file open while Orvalin starts.
  Handle file(
      CreateFileW(path.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return fail(last_os_error_text());
  std::string bytes;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      return fail(last_os_error_text());
    }
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return bytes;
}

Status write_file(const std::filesystem::path& path, std::string_view bytes) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return fail(last_os_error_text());
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 30)
                            ? DWORD{1u << 30}
                            : static_cast<DWORD>(bytes.size());
    DWORD put = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &put, nullptr)) {
      return fail(last_os_error_text());
    }
    bytes.remove_prefix(put);
  }
  return {};
}

}  // namespace orvalin::cfgfile
