#include <windows.h>

#include <vector>

#include "base/os.h"
#include "base/winlib.h"
#include "base/winstr.h"
#include "kelvocheck/kelvocheck.h"

namespace orvalin {

namespace {

using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

}  // namespace

std::optional<FileVersion> read_file_version(const std::string& path) {
  // version.dll from System32, not imported at load time (see winlib.h).
  static const auto info_size =
      system_function<SizeFn>(L"version.dll", "GetFileVersionInfoSizeW");
  static const auto read_info =
      system_function<InfoFn>(L"version.dll", "GetFileVersionInfoW");
  static const auto query =
      system_function<QueryFn>(L"version.dll", "VerQueryValueW");
  if (info_size == nullptr || read_info == nullptr || query == nullptr) {
    return std::nullopt;
  }
  const std::wstring wide = to_wide(path);
  DWORD ignored = 0;
  const DWORD size = info_size(wide.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> data(size);
  if (!read_info(wide.c_str(), 0, size, data.data())) {
    return std::nullopt;
  }
  void* fixed = nullptr;
  UINT length = 0;
  if (!query(data.data(), L"\\", &fixed, &length) || fixed == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
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
