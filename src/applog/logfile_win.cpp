#include <windows.h>

#include "applog/logfile.h"

namespace orvalin {

namespace {

class WinLogFile : public LogFile {
 public:
  explicit WinLogFile(HANDLE file) : file_(file) {}
  ~WinLogFile() override { CloseHandle(file_); }
  void write(std::string_view bytes) override {
    DWORD written = 0;
    WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
              nullptr);
  }

 private:
  HANDLE file_;
};

}  // namespace

std::unique_ptr<LogFile> create_log_file(const std::filesystem::path& path) {
  constexpr DWORD share =
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // Empty (or create) the file with a short-lived handle first: emptying
  // needs write access, and a handle with write access writes at its own
  // offset, which leaves NUL bytes if someone else empties the file later.
  const HANDLE emptied =
      CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (emptied == INVALID_HANDLE_VALUE) return nullptr;
  CloseHandle(emptied);
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of
  // the file as it is at that moment.
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, share, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WinLogFile>(file);
}

}  // namespace orvalin
