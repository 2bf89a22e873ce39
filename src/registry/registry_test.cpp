#include "registry/registry.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

#include "testing/kelvosim.h"

namespace orvalin {
namespace {

const std::string kOwn = "Software\\Orvalin";
const std::string kList64 =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string kList32 =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A registry held in maps; records the order in which lists were opened.
class FakeRegistry : public RegistryReader {
 public:
  std::map<std::tuple<RegistryRoot, std::string, std::string>, std::string>
      values;
  std::map<std::pair<RegistryRoot, std::string>, std::vector<std::string>>
      lists;
  std::vector<std::string> opened;

  void add_entry(RegistryRoot root, const std::string& list,
                 const std::string& name, std::optional<std::string> display,
                 std::optional<std::string> location) {
    lists[{root, list}].push_back(name);
    if (display) values[{root, list + "\\" + name, "DisplayName"}] = *display;
    if (location) {
      values[{root, list + "\\" + name, "InstallLocation"}] = *location;
    }
  }

  std::optional<std::string> read_string(RegistryRoot root,
                                         const std::string& subkey,
                                         const std::string& value) override {
    auto it = values.find({root, subkey, value});
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::vector<std::string>> subkeys(
      RegistryRoot root, const std::string& key) override {
    opened.push_back(
        (root == RegistryRoot::local_machine ? "HKLM\\" : "HKCU\\") + key);
    auto it = lists.find({root, key});
    if (it == lists.end()) return std::nullopt;
    return it->second;
  }
};

struct Fixture {
  FakeRegistry registry;
  std::map<std::string, std::string> env;
  std::set<std::string> files;

  std::optional<std::string> find() {
    KelvoSearch search;
    search.registry = &registry;
    search.env = lookup_in(env);
    search.exists = [this](const std::string& path) {
      return files.contains(path);
    };
    return find_kelvo_with(search);
  }
};

TEST(FindKelvo, OwnValueUserBeforeMachine) {
  Fixture f;
  f.registry.values[{RegistryRoot::local_machine, kOwn, "KelvoPath"}] =
      "C:\\Machine\\kelvo.exe";
  f.files.insert("C:\\Machine\\kelvo.exe");
  // Only the machine value: it is used.
  EXPECT_EQ(f.find(), "C:\\Machine\\kelvo.exe");

  // A user value naming an existing file wins, returned unchanged.
  f.registry.values[{RegistryRoot::current_user, kOwn, "KelvoPath"}] =
      "D:\\odd place\\K.EXE";
  f.files.insert("D:\\odd place\\K.EXE");
  EXPECT_EQ(f.find(), "D:\\odd place\\K.EXE");

  // A user value naming a missing file does not fall back to the machine
  // value; the search goes on to the uninstall lists and folders.
  f.files.erase("D:\\odd place\\K.EXE");
  EXPECT_EQ(f.find(), std::nullopt);
  f.env["ProgramFiles"] = "C:\\Program Files";
  f.files.insert("C:\\Program Files\\Kelvo\\kelvo.exe");
  EXPECT_EQ(f.find(), "C:\\Program Files\\Kelvo\\kelvo.exe");

  // An empty user value is no hint either.
  f.registry.values[{RegistryRoot::current_user, kOwn, "KelvoPath"}] = "";
  f.files.insert("");
  EXPECT_EQ(f.find(), "C:\\Program Files\\Kelvo\\kelvo.exe");
}

TEST(FindKelvo, UninstallEntriesMatchExactNameNeedTheExecutableInListOrder) {
  Fixture f;
  const auto hklm = RegistryRoot::local_machine;
  const auto hkcu = RegistryRoot::current_user;
  f.registry.add_entry(hkcu, kList64, "a", "Kelvo 2.5", "C:\\A");
  f.registry.add_entry(hkcu, kList64, "b", "kelvo", "C:\\B");
  f.registry.add_entry(hkcu, kList64, "c", " Kelvo", "C:\\C");
  f.registry.add_entry(hkcu, kList64, "d", "Kelvo", std::nullopt);
  f.registry.add_entry(hkcu, kList64, "e", "Kelvo", "C:\\Empty");
  f.registry.add_entry(hkcu, kList64, "f", std::nullopt, "C:\\F");
  for (const char* dir : {"C:\\A", "C:\\B", "C:\\C", "C:\\F"}) {
    f.files.insert(std::string(dir) + "\\kelvo.exe");
  }
  EXPECT_EQ(f.find(), std::nullopt);

  // A later entry is still examined; a trailing backslash is not doubled.
  f.registry.add_entry(hkcu, kList64, "g", "Kelvo", "C:\\Good\\");
  f.files.insert("C:\\Good\\kelvo.exe");
  EXPECT_EQ(f.find(), "C:\\Good\\kelvo.exe");

  // Both machine lists come before any user list.
  f.registry.add_entry(hklm, kList32, "x", "Kelvo", "C:\\Machine32");
  f.registry.add_entry(hklm, kList64, "x", "Kelvo", "C:\\Machine64");
  f.files.insert("C:\\Machine32\\kelvo.exe");
  f.files.insert("C:\\Machine64\\kelvo.exe");
  EXPECT_EQ(f.find(), "C:\\Machine64\\kelvo.exe");
  f.files.erase("C:\\Machine64\\kelvo.exe");
  EXPECT_EQ(f.find(), "C:\\Machine32\\kelvo.exe");
  f.files.erase("C:\\Machine32\\kelvo.exe");
  EXPECT_EQ(f.find(), "C:\\Good\\kelvo.exe");

  f.files.clear();
  f.registry.opened.clear();
  EXPECT_EQ(f.find(), std::nullopt);
  EXPECT_EQ(f.registry.opened,
            (std::vector<std::string>{"HKLM\\" + kList64, "HKLM\\" + kList32,
                                      "HKCU\\" + kList64, "HKCU\\" + kList32}));
}

TEST(FindKelvo, StandardFoldersInOrder) {
  Fixture f;
  f.env = {{"ProgramW6432", "C:\\P64"},
           {"ProgramFiles", "C:\\PF"},
           {"ProgramFiles(x86)", "C:\\P86"},
           {"LOCALAPPDATA", "C:\\Users\\dj\\AppData\\Local"}};
  // Each folder where Kelvo is added comes before those added so far.
  for (const std::string folder : {"C:\\Users\\dj\\AppData\\Local\\Programs",
                                   "C:\\P86", "C:\\PF", "C:\\P64"}) {
    f.files.insert(folder + "\\Kelvo\\kelvo.exe");
    EXPECT_EQ(f.find(), folder + "\\Kelvo\\kelvo.exe");
  }

  // Unset variables are skipped.
  f.env = {{"LOCALAPPDATA", "C:\\Users\\dj\\AppData\\Local"}};
  EXPECT_EQ(f.find(),
            "C:\\Users\\dj\\AppData\\Local\\Programs\\Kelvo\\kelvo.exe");
  f.env.clear();
  EXPECT_EQ(f.find(), std::nullopt);
}

TEST(FindKelvoOnPath, FirstExecutableInOrder) {
  std::vector<std::string> asked;
  std::set<std::string> executables;
  auto is_executable = [&](const std::string& path) {
    asked.push_back(path);
    return executables.contains(path);
  };
  EXPECT_EQ(find_kelvo_on_path("", is_executable), std::nullopt);
  EXPECT_TRUE(asked.empty());

  // Empty entries are not the working directory.
  EXPECT_EQ(find_kelvo_on_path("/a::/b/:", is_executable), std::nullopt);
  EXPECT_EQ(asked, (std::vector<std::string>{"/a/kelvo", "/b/kelvo"}));

  // Linux: PATH first, then the fixed places in order.
  using Case = std::pair<std::set<std::string>, std::optional<std::string>>;
  for (const auto& [present, found] : std::vector<Case>{
           {{"/opt/kelvo/bin/kelvo", "/b/kelvo"}, "/b/kelvo"},
           {{"/opt/kelvo/bin/kelvo", "/usr/local/bin/kelvo"},
            "/usr/local/bin/kelvo"},
           {{"/opt/kelvo/bin/kelvo", "/usr/bin/kelvo"}, "/usr/bin/kelvo"},
           {{"/opt/kelvo/bin/kelvo"}, "/opt/kelvo/bin/kelvo"},
           {{"/opt/kelvo/kelvo"}, std::nullopt}}) {
    executables = present;
    EXPECT_EQ(find_kelvo_on_linux("/a:/b", is_executable), found);
  }
}

}  // namespace
}  // namespace orvalin
