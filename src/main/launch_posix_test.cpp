#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <thread>

#include "base/os.h"
#include "base/process.h"
#include "main/launch.h"
#include "main/platform.h"
#include "testing/kelvosim.h"

namespace orvalin {
namespace {

int bind_abstract(const std::string& name, int type) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const int fd = ::socket(AF_UNIX, type, 0);
  const auto length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(LoadedSignalPosix, SeenWhileTheAbstractNameIsBound) {
  const std::string name = loaded_signal_name(make_test_token());
  EXPECT_FALSE(loaded_signal_exists(name));
  for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
    const int fd = bind_abstract(name, type);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(loaded_signal_exists(name)) << type;
    // The probe itself must leave the name free for the plugin.
    ::close(fd);
    EXPECT_FALSE(loaded_signal_exists(name)) << type;
  }
  const int fd = bind_abstract(name, SOCK_STREAM);
  EXPECT_GE(fd, 0);
  ::close(fd);
}

TEST(KelvoRunningPosix, SeesAProcessNamedKelvoInAnyLetterCase) {
  const char* sim = std::getenv("ORVALIN_KELVOSIM");
  ASSERT_NE(sim, nullptr);
  const auto dir = make_temp_dir("orvalin-running-");
  const auto copy = dir / "KELVO";
  std::filesystem::copy_file(sim, copy);
  SpawnOptions options;
  options.program = copy.string();
  options.args = {"--port", "0", "--exit-after", "60"};
  auto child = spawn_process(options);
  ASSERT_TRUE(child.has_value()) << child.error();
  bool seen = false;
  for (int i = 0; i < 100 && !seen; ++i) {
    seen = is_kelvo_running();
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(seen);
  // Killed but not yet reaped (a zombie): no longer running.
  (*child)->kill();
  for (int i = 0; i < 100 && seen; ++i) {
    seen = is_kelvo_running();
    if (seen) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(seen);
  (*child)->wait();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

TEST(SingleInstancePosix, SecondLockIsRefused) {
  // The first may fail too when a real instance runs on this machine.
  (void)take_single_instance_lock();
  EXPECT_FALSE(take_single_instance_lock());
}

}  // namespace
}  // namespace orvalin
