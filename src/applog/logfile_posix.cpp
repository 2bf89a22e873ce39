#include <fcntl.h>
#include <unistd.h>

#include "applog/logfile.h"

namespace orvalin {

namespace {

class PosixLogFile : public LogFile {
 public:
  explicit PosixLogFile(int fd) : fd_(fd) {}
  ~PosixLogFile() override { ::close(fd_); }
  void write(std::string_view bytes) override {
    [[maybe_unused]] ssize_t ignored = ::write(fd_, bytes.data(), bytes.size());
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<LogFile> create_log_file(const std::filesystem::path& path) {
  // O_APPEND: if someone empties the file while we run, our next line goes
  // to its new end instead of leaving a hole of NUL bytes before it.
  const int fd = ::open(
      path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixLogFile>(fd);
}

}  // namespace orvalin
