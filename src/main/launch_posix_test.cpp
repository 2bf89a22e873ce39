#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "main/launch.h"
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
}

// Whether a process named "kelvo" runs, and the single-instance lock, are
// machine-wide: the end-to-end runs test them, one run at a time.

}  // namespace
}  // namespace orvalin
