// The log file itself, opened so that other programs may read, write or
// delete it while Orvalin runs. Used only by applog, under its lock.
#pragma once

#include <filesystem>
#include <memory>
#include <string_view>

namespace orvalin {

class LogFile {
 public:
  virtual ~LogFile() = default;
  // One write call; errors are ignored.
  virtual void write(std::string_view bytes) = 0;
};

// Creates or empties the file and opens it for appending: every write lands
// at the file's end as it is then, even after another program emptied it.
// nullptr on failure.
std::unique_ptr<LogFile> create_log_file(const std::filesystem::path& path);

}  // namespace orvalin
