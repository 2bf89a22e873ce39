#include "reload/filewatch_win.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "base/os.h"
#include "reload/filewatch.h"

namespace orvalin {

namespace {

// Renames, creations and deletions come as name changes; saving in place as
// a write or size change.
constexpr DWORD kFilter = FILE_NOTIFY_CHANGE_FILE_NAME |
                          FILE_NOTIFY_CHANGE_LAST_WRITE |
                          FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_CREATION;

// File names compare without regard to case, as the file system does.
bool same_name(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The short (8.3) name of the file at `path`; empty when it has none or
// does not exist.
std::wstring short_name_of(const std::filesystem::path& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::filesystem::path(buffer).filename().wstring();
}

class DirectoryWatch final : public FileWatch {
 public:
  DirectoryWatch(HANDLE dir, HANDLE event, std::filesystem::path file)
      : dir_(dir),
        event_(event),
        file_(std::move(file)),
        name_(file_.filename().wstring()),
        short_name_(short_name_of(file_)) {}
  ~DirectoryWatch() override {
    if (pending_) {
      // The system writes into buffer_ until the read is cancelled.
      CancelIoEx(dir_, &overlapped_);
      DWORD bytes = 0;
      GetOverlappedResult(dir_, &overlapped_, &bytes, TRUE);
    }
    CloseHandle(event_);
    CloseHandle(dir_);
  }
  DirectoryWatch(const DirectoryWatch&) = delete;
  DirectoryWatch& operator=(const DirectoryWatch&) = delete;

  // Asks for the next batch of changes; they are gathered by the system
  // between two waits, so none are missed.
  Status arm() {
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_;
    ResetEvent(event_);
    if (!ReadDirectoryChangesW(dir_, buffer_, sizeof buffer_, FALSE, kFilter,
                               nullptr, &overlapped_, nullptr)) {
      return fail(last_os_error_text());
    }
    pending_ = true;
    return {};
  }

  Result<bool> wait(std::optional<std::chrono::milliseconds> timeout) override {
    const DWORD waited = WaitForSingleObject(
        event_, timeout ? static_cast<DWORD>(timeout->count()) : INFINITE);
    if (waited == WAIT_TIMEOUT) return false;
    if (waited != WAIT_OBJECT_0) return fail(last_os_error_text());
    DWORD bytes = 0;
    const BOOL done = GetOverlappedResult(dir_, &overlapped_, &bytes, FALSE);
    pending_ = false;
    bool changed = false;
    if (!done) {
      // Too many changes for the buffer: the file may be among them.
      if (GetLastError() != ERROR_NOTIFY_ENUM_DIR) {
        return fail(last_os_error_text());
      }
      changed = true;
    } else if (bytes == 0) {
      changed = true;  // the same, reported as an empty batch
    } else {
      changed = batch_names_file(bytes);
    }
    if (Status armed = arm(); !armed) return fail(armed.error());
    return changed;
  }

 private:
  // The short name the file had before the batch (it may be gone now) and
  // the one it has after it (a file saved anew may get another).
  bool batch_names_file(DWORD bytes) {
    std::wstring now = short_name_of(file_);
    const std::wstring names[] = {name_, short_name_, now};
    if (!now.empty()) short_name_ = std::move(now);
    return orvalin::batch_names_file(buffer_, bytes, names);
  }

  const HANDLE dir_;
  const HANDLE event_;
  const std::filesystem::path file_;
  const std::wstring name_;
  std::wstring short_name_;
  OVERLAPPED overlapped_{};
  bool pending_ = false;
  // Entries are DWORD-aligned within the buffer, which must be too.
  alignas(DWORD) unsigned char buffer_[32 * 1024];
};

}  // namespace

bool batch_names_file(const void* buffer, unsigned long bytes,
                      std::span<const std::wstring> names) {
  const auto* base = static_cast<const unsigned char*>(buffer);
  for (DWORD at = 0; at < bytes;) {
    FILE_NOTIFY_INFORMATION info;
    const DWORD header = offsetof(FILE_NOTIFY_INFORMATION, FileName);
    if (at + header > bytes) break;
    std::memcpy(&info, base + at, header);
    const DWORD length = info.FileNameLength / sizeof(wchar_t);
    if (at + header + info.FileNameLength > bytes) break;
    std::wstring name(length, L'\0');
    std::memcpy(name.data(), base + at + header, info.FileNameLength);
    for (const std::wstring& wanted : names) {
      if (!wanted.empty() && same_name(name, wanted)) return true;
    }
    if (info.NextEntryOffset == 0) break;
    at += info.NextEntryOffset;
  }
  return false;
}

Result<std::unique_ptr<FileWatch>> watch_file(
    const std::filesystem::path& file) {
  std::filesystem::path dir = file.parent_path();
  if (dir.empty()) dir = L".";
  const HANDLE handle =
      CreateFileW(dir.c_str(), FILE_LIST_DIRECTORY,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(last_os_error_text());
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!event) {
    std::string error = last_os_error_text();
    CloseHandle(handle);
    return fail(std::move(error));
  }
  auto watch = std::make_unique<DirectoryWatch>(handle, event, file);
  if (Status armed = watch->arm(); !armed) return fail(armed.error());
  return std::unique_ptr<FileWatch>(std::move(watch));
}

}  // namespace orvalin
