#include <windows.h>

#include "base/os.h"
#include "base/winstr.h"
#include "registry/registry.h"

namespace orvalin {

namespace {

HKEY root_key(RegistryRoot root) {
  return root == RegistryRoot::current_user ? HKEY_CURRENT_USER
                                            : HKEY_LOCAL_MACHINE;
}

class WindowsRegistry : public RegistryReader {
 public:
  std::optional<std::string> read_string(RegistryRoot root,
                                         const std::string& subkey,
                                         const std::string& value) override {
    const std::wstring key = to_wide(subkey);
    const std::wstring name = to_wide(value);
    DWORD size = 0;
    if (RegGetValueW(root_key(root), key.c_str(), name.c_str(), RRF_RT_REG_SZ,
                     nullptr, nullptr, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::wstring text((size + 1) / 2, L'\0');
    if (text.empty()) return std::nullopt;
    DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(root_key(root), key.c_str(), name.c_str(), RRF_RT_REG_SZ,
                     nullptr, text.data(), &got) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    if (const size_t nul = text.find(L'\0'); nul != std::wstring::npos) {
      text.resize(nul);
    }
    return from_wide(text);
  }

  std::optional<std::vector<std::string>> subkeys(
      RegistryRoot root, const std::string& key) override {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root_key(root), to_wide(key).c_str(), 0, KEY_READ,
                      &handle) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::vector<std::string> names;
    // Key names are at most 255 characters.
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
      DWORD length = 256;
      if (RegEnumKeyExW(handle, index, name, &length, nullptr, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS) {
        break;
      }
      names.push_back(from_wide(std::wstring_view(name, length)));
    }
    RegCloseKey(handle);
    return names;
  }
};

}  // namespace

RegistryReader& system_registry() {
  static WindowsRegistry registry;
  return registry;
}

std::optional<std::string> find_kelvo() {
  KelvoSearch search;
  search.registry = &system_registry();
  search.env = [](const std::string& name) { return get_env(name); };
  search.exists = [](const std::string& path) {
    return path_exists(utf8_to_path(path));
  };
  return find_kelvo_with(search);
}

}  // namespace orvalin
