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
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<WinLogFile>(file);
}

}  // namespace orvalin
