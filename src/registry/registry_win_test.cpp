#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "base/winstr.h"
#include "registry/registry.h"

namespace orvalin {
namespace {

// A key of its own under HKEY_CURRENT_USER, deleted at the end.
struct TestKey {
  const std::string path =
      "Software\\OrvalinRegistryTest-" + std::to_string(GetCurrentProcessId());

  ~TestKey() { RegDeleteTreeW(HKEY_CURRENT_USER, to_wide(path).c_str()); }

  void set(const std::string& subkey, const std::string& name,
           const std::wstring& data, DWORD type = REG_SZ) {
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, to_wide(path + subkey).c_str(), 0,
                        nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, to_wide(name).c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
};

TEST(WindowsRegistry, ReadsStringsAndSubkeys) {
  TestKey key;
  RegistryReader& registry = system_registry();
  const auto hkcu = RegistryRoot::current_user;

  EXPECT_EQ(registry.subkeys(hkcu, key.path), std::nullopt);
  EXPECT_EQ(registry.read_string(hkcu, key.path, "KelvoPath"), std::nullopt);

  key.set("", "KelvoPath", std::wstring(L"C:\\K\u00e9lvo\\kelvo.exe", 19));
  EXPECT_EQ(registry.read_string(hkcu, key.path, "KelvoPath"),
            "C:\\K\xc3\xa9lvo\\kelvo.exe");
  // Text after an embedded NUL is cut off; a value without its terminating
  // NUL still reads whole.
  key.set("", "Cut", std::wstring(L"abc\0def", 7));
  EXPECT_EQ(registry.read_string(hkcu, key.path, "Cut"), "abc");
  key.set("", "Odd", std::wstring(L"xyz", 3));
  EXPECT_EQ(registry.read_string(hkcu, key.path, "Odd"), "xyz");
  // Only string values count.
  key.set("", "Binary", std::wstring(L"ab", 2), REG_BINARY);
  EXPECT_EQ(registry.read_string(hkcu, key.path, "Binary"), std::nullopt);

  key.set("\\Uninstall\\first", "DisplayName", std::wstring(L"Kelvo", 6));
  key.set("\\Uninstall\\second", "DisplayName", std::wstring(L"Other", 6));
  const auto names = registry.subkeys(hkcu, key.path + "\\Uninstall");
  ASSERT_TRUE(names.has_value());
  EXPECT_EQ(*names, (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(registry.read_string(hkcu, key.path + "\\Uninstall\\first",
                                 "DisplayName"),
            "Kelvo");
}

}  // namespace
}  // namespace orvalin
