// The Windows readers' libraries against the test double (tools/nvdastub),
// which the build puts next to this program; the readers' calls themselves
// are checked by the whole runs under Wine.
#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: sapi.h needs its types.
#include <objbase.h>
#include <sapi.h>

#include <fstream>
#include <string>

#include "base/os.h"
#include "speech/readers_win.h"
#include "speech/sapi_win.h"

namespace orvalin {
namespace {

namespace fs = std::filesystem;

TEST(SapiFlagsTest, TextIsNeverReadAsMarkup) {
  // Wine's voice does not speak, so the flags themselves are checked.
  EXPECT_EQ(sapi_speak_flags(false), unsigned(SPF_ASYNC | SPF_IS_NOT_XML));
  EXPECT_EQ(sapi_speak_flags(true),
            unsigned(SPF_ASYNC | SPF_IS_NOT_XML | SPF_PURGEBEFORESPEAK));
}

TEST(ReaderLibrariesTest, LoadedOnlyWhereTheyLoadWithTheirEntryPoints) {
  const fs::path here = executable_path().value().parent_path();
  const fs::path stub = here / "nvdaControllerClient.dll";
  ASSERT_TRUE(path_exists(stub)) << "the build puts the stub there";
  const fs::path folder =
      temp_dir() / ("orvalin-readers-" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(folder);
  // Not a library, then missing: both skipped.
  const fs::path junk = folder / "nvdaControllerClient.dll";
  std::ofstream(junk) << "not a library";
  const fs::path missing = folder / "missing" / "nvdaControllerClient.dll";
  EXPECT_NE(load_nvda({junk, missing, stub}), nullptr);
  EXPECT_EQ(load_nvda({}), nullptr);
  EXPECT_EQ(load_zdsr(junk), nullptr);
  EXPECT_EQ(load_system_access(missing), nullptr);
  // A library without the reader's entry points leaves the reader out (and
  // ends NVDA's search).
  const fs::path kernel32 =
      fs::path(get_env("SystemRoot").value()) / "System32" / "kernel32.dll";
  EXPECT_EQ(load_nvda({kernel32, stub}), nullptr);
  EXPECT_EQ(load_zdsr(kernel32), nullptr);
  EXPECT_EQ(load_system_access(kernel32), nullptr);
  EXPECT_NE(load_zdsr(here / "readerstubs" / "ZDSRAPI_x64.dll"), nullptr);
  EXPECT_NE(load_system_access(here / "readerstubs" / "SAAPI64.dll"), nullptr);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

}  // namespace
}  // namespace orvalin
