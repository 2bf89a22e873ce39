#include <windows.h>

#include <atomic>

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

HANDLE open_for_reading(const std::filesystem::path& path) {
  // Share everything: an editor may hold the file open while Orvalin starts.
  return CreateFileW(path.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

Result<std::string> read_all(HANDLE file) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      return fail(last_os_error_text());
    }
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return bytes;
}

Status write_all(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 30)
                            ? DWORD{1u << 30}
                            : static_cast<DWORD>(bytes.size());
    DWORD put = 0;
    if (!WriteFile(file, bytes.data(), chunk, &put, nullptr)) {
      return fail(last_os_error_text());
    }
    bytes.remove_prefix(put);
  }
  return {};
}

}  // namespace

Result<std::optional<std::string>> read_file_if_exists(
    const std::filesystem::path& path) {
  Handle file(open_for_reading(path));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return std::nullopt;
    }
    return fail(os_error_text(error));
  }
  auto bytes = read_all(file.get());
  if (!bytes) return fail(std::move(bytes.error()));
  return std::move(*bytes);
}

Result<bool> create_new_file(const std::filesystem::path& path,
                             std::string_view bytes) {
  static std::atomic<unsigned> counter{0};
  std::filesystem::path temp;
  HANDLE handle = INVALID_HANDLE_VALUE;
  while (handle == INVALID_HANDLE_VALUE) {
    temp = path;
    temp += L".new-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(counter++);
    handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
      return fail(last_os_error_text());
    }
  }
  Status written = write_all(handle, bytes);
  CloseHandle(handle);
  if (!written) {
    DeleteFileW(temp.c_str());
    return fail(std::move(written.error()));
  }
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken:
  // the exclusive step.
  const BOOL moved = MoveFileExW(temp.c_str(), path.c_str(), 0);
  const DWORD error = GetLastError();
  if (moved) return true;
  DeleteFileW(temp.c_str());
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
  return fail(os_error_text(error));
}

Status write_file(const std::filesystem::path& path, std::string_view bytes) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return fail(last_os_error_text());
  return write_all(file.get(), bytes);
}

}  // namespace orvalin::cfgfile
