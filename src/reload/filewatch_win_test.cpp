#include "reload/filewatch_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace orvalin {
namespace {

// A change batch as ReadDirectoryChangesW writes it: DWORD-aligned entries.
std::vector<DWORD> batch(const std::vector<std::wstring>& names) {
  std::vector<DWORD> words;
  const size_t header = offsetof(FILE_NOTIFY_INFORMATION, FileName);
  for (size_t i = 0; i < names.size(); ++i) {
    const size_t bytes = header + names[i].size() * sizeof(wchar_t);
    const size_t start = words.size();
    words.resize(start + (bytes + 3) / 4);
    auto* info = reinterpret_cast<FILE_NOTIFY_INFORMATION*>(&words[start]);
    info->NextEntryOffset =
        i + 1 < names.size() ? static_cast<DWORD>((bytes + 3) / 4 * 4) : 0;
    info->Action = FILE_ACTION_MODIFIED;
    info->FileNameLength = static_cast<DWORD>(names[i].size() * 2);
    std::memcpy(info->FileName, names[i].data(), info->FileNameLength);
  }
  return words;
}

TEST(FileWatchWin, TheFileIsKnownByItsLongOrItsShortName) {
  const auto saved = batch({L"notes.txt", L"CONFIG~1.TOM"});
  const auto size = static_cast<unsigned long>(saved.size() * 4);
  const std::wstring both[] = {L"config.toml", L"CONFIG~1.TOM"};
  const std::wstring long_only[] = {L"config.toml"};
  EXPECT_TRUE(batch_names_file(saved.data(), size, both));
  EXPECT_FALSE(batch_names_file(saved.data(), size, long_only));
  const auto other = batch({L"Config.Toml.tmp", L"CONFIG.TOML"});
  EXPECT_TRUE(batch_names_file(
      other.data(), static_cast<unsigned long>(other.size() * 4), long_only));
}

}  // namespace
}  // namespace orvalin
