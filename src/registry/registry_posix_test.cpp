#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "registry/registry.h"

namespace orvalin {
namespace {

namespace fs = std::filesystem;

// Sets PATH for one test and puts the old value back.
class PathGuard {
 public:
  explicit PathGuard(const std::string& value) {
    if (const char* old = getenv("PATH")) old_ = old;
    setenv("PATH", value.c_str(), 1);
  }
  ~PathGuard() {
    if (old_) {
      setenv("PATH", old_->c_str(), 1);
    } else {
      unsetenv("PATH");
    }
  }

 private:
  std::optional<std::string> old_;
};

TEST(FindKelvoPosix, SearchesPathForAnExecutableFile) {
  char pattern[] = "/tmp/orvalin-registry-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const fs::path root = pattern;
  for (const char* dir : {"plain", "folder", "exec"}) {
    fs::create_directories(root / dir);
  }
  std::ofstream(root / "plain" / "kelvo") << "not executable";
  fs::create_directories(root / "folder" / "kelvo");
  std::ofstream(root / "exec" / "kelvo") << "#!/bin/sh\n";
  fs::permissions(root / "exec" / "kelvo", fs::perms::owner_all);

  EXPECT_EQ(system_registry().read_string(RegistryRoot::current_user,
                                          "Software\\Orvalin", "KelvoPath"),
            std::nullopt);
  {
    // A non-executable file and a folder of that name are passed over.
    PathGuard path((root / "plain").string() + ":" +
                   (root / "folder").string() + ":" + (root / "exec").string());
    EXPECT_EQ(find_kelvo(), (root / "exec" / "kelvo").string());
  }
  {
    PathGuard path((root / "plain").string());
    EXPECT_EQ(find_kelvo(), std::nullopt);
  }
  {
    // A relative entry gives an absolute path.
    const fs::path old = fs::current_path();
    fs::current_path(root);
    PathGuard path("exec");
    const auto found = find_kelvo();
    fs::current_path(old);
    EXPECT_EQ(found, (root / "exec" / "kelvo").string());
  }
  fs::remove_all(root);
}

}  // namespace
}  // namespace orvalin
