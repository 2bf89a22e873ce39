#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string>

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

class DirectoryWatch final : public FileWatch {
 public:
  DirectoryWatch(HANDLE dir, HANDLE event, std::wstring name)
      : dir_(dir), event_(event), name_(std::move(name)) {}
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
  bool batch_names_file(DWORD bytes) const {
    bool named = false;
    for (DWORD at = 0; at < bytes;) {
      FILE_NOTIFY_INFORMATION info;
      const DWORD header = offsetof(FILE_NOTIFY_INFORMATION, FileName);
      if (at + header > bytes) break;
      std::memcpy(&info, buffer_ + at, header);
      const DWORD length = info.FileNameLength / sizeof(wchar_t);
      if (at + header + info.FileNameLength > bytes) break;
      std::wstring name(length, L'\0');
      std::memcpy(name.data(), buffer_ + at + header, info.FileNameLength);
      if (same_name(name, name_)) named = true;
      if (info.NextEntryOffset == 0) break;
      at += info.NextEntryOffset;
    }
    return named;
  }

  const HANDLE dir_;
  const HANDLE event_;
  const std::wstring name_;
  OVERLAPPED overlapped_{};
  bool pending_ = false;
  // Entries are DWORD-aligned within the buffer, which must be too.
  alignas(DWORD) unsigned char buffer_[32 * 1024];
};

}  // namespace

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
  auto watch = std::make_unique<DirectoryWatch>(handle, event,
                                                file.filename().wstring());
  if (Status armed = watch->arm(); !armed) return fail(armed.error());
  return std::unique_ptr<FileWatch>(std::move(watch));
}

}  // namespace orvalin
