// Watching one file for changes, by the folder that holds it: inotify on
// Linux, ReadDirectoryChangesW on Windows. Editors save in several ways
// (rewrite in place, write a new file and rename it over, delete and
// create), so every kind of change to the file's name counts, and changes to
// other files in the folder do not. One thread uses a watch.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

#include "base/result.h"

namespace orvalin {

class FileWatch {
 public:
  virtual ~FileWatch() = default;
  // Waits for changes, at most `timeout` (none: without limit). True when
  // the file changed; false when the time ran out or only other files
  // changed (possibly before the time ran out); an error when the watch
  // cannot go on.
  virtual Result<bool> wait(
      std::optional<std::chrono::milliseconds> timeout) = 0;
};

// Starts watching `file` (which need not exist) through its folder.
Result<std::unique_ptr<FileWatch>> watch_file(
    const std::filesystem::path& file);

}  // namespace orvalin
