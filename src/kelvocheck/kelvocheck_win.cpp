#include <windows.h>

#include <vector>

#include "base/os.h"
#include "base/winstr.h"
#include "kelvocheck/kelvocheck.h"

namespace orvalin {

std::optional<FileVersion> read_file_version(const std::string& path) {
  const std::wstring wide = to_wide(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(wide.c_str(), 0, size, data.data())) {
    return std::nullopt;
  }
  void* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", &fixed, &length) ||
      fixed == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  FileVersion version;
  version.major = HIWORD(info->dwFileVersionMS);
  version.minor = LOWORD(info->dwFileVersionMS);
  version.build = HIWORD(info->dwFileVersionLS);
  return version;
}

std::optional<std::string> check_qt(const std::string& kelvo_path) {
  return check_qt_with(kelvo_path,
                       {read_file_version, [](const std::string& p) {
                          return path_exists(utf8_to_path(p));
                        }});
}

}  // namespace orvalin
