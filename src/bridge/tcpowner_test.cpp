#include "bridge/tcpowner.h"

#include <gtest/gtest.h>

namespace orvalin {
namespace {

constexpr uint32_t kLo = 0x7F000001;

TEST(TcpOwner, FarEndIsTheAcceptedEndElseTheListener) {
  const TcpRow ours{kLo, 50000, kLo, 7000, false, 11};
  const TcpRow accepted{kLo, 7000, kLo, 50000, false, 22};
  const TcpRow pending{kLo, 7000, kLo, 50000, false, 0};  // Linux: no inode yet
  const TcpRow other_client{kLo, 7000, kLo, 50001, false, 33};
  const TcpRow listener{kLo, 7000, 0, 0, true, 44};
  const TcpRow any_listener{0, 7000, 0, 0, true, 55};
  const TcpRow lan_listener{0xC0A80002, 7000, 0, 0, true, 66};
  const TcpRow elsewhere{kLo, 7001, 0, 0, true, 77};
  const TcpRow unnamed{kLo, 7000, 0, 0, true, 0};  // Wine names no owner
  const TcpRow dual_stack{0, 7000, 0, 0, true, 88, true};  // [::]
  const TcpRow pending6{kLo, 7000, kLo, 50000, false, 0, true};
  struct Case {
    std::vector<TcpRow> table;
    std::optional<uint64_t> owner;
  };
  const Case cases[] = {
      {{ours, other_client, listener, accepted}, 22},
      {{ours, pending, other_client, listener}, 44},
      {{ours, pending, any_listener}, 55},
      {{ours, pending, unnamed}, 0},
      {{ours, pending}, 0},
      // The most specific listener takes the connection.
      {{ours, pending6, dual_stack}, 88},
      {{ours, pending, dual_stack, any_listener}, 55},
      {{ours, pending, dual_stack, any_listener, listener}, 44},
      // Found nowhere: nobody can say who holds it.
      {{ours, lan_listener, elsewhere}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(far_end_owner(c.table, 7000, 50000), c.owner);
  }
  // In the system's own tables: nothing ever listens at port 0, so that far
  // end is found nowhere, which is no sign of Kelvo (the token is withheld).
  const auto nowhere = loopback_port_holder(0, 0, 1);
  ASSERT_TRUE(nowhere) << nowhere.error();
  EXPECT_TRUE(nowhere->known);
  EXPECT_FALSE(nowhere->is_expected);
}

TEST(TcpOwner, ReadsLinuxTcpTable) {
  // Addresses are the kernel's words as this (little-endian) machine prints
  // them; ports are plain hexadecimal.
  const std::string text =
      R"(  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode
   0: 0100007F:1B58 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4711 1 0000000000000000 100 0 0 10 0
   1: 0100007F:C350 0100007F:1B58 01 00000000:00000000 00:00000000 00000000  1000        0 4712 1 0000000000000000 20 4 30 10 -1
   2: garbage
)";
  const auto rows = parse_proc_net_tcp(text);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].local_ip, kLo);
  EXPECT_EQ(rows[1].remote_port, 7000);
  EXPECT_EQ(rows[1].local_port, 50000);
  EXPECT_FALSE(rows[1].listening);
  // Only the listener of row 0 (port 7000, inode 4711) takes the connection.
  EXPECT_EQ(far_end_owner(rows, 7000, 50000), 4711u);

  // /proc/net/tcp6: a listener on [::], the end it accepted from us
  // (IPv4-mapped, no inode yet) and a listener on ::1, which takes no IPv4
  // connection.
  const std::string text6 =
      R"(  sl  local_address                         remote_address                        st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode
   0: 00000000000000000000000000000000:1B58 00000000000000000000000000000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4800 1 0000000000000000 100 0 0 10 0
   1: 0000000000000000FFFF00000100007F:1B58 0000000000000000FFFF00000100007F:C350 01 00000000:00000000 00:00000000 00000000  1000        0 0 1 0000000000000000 20 4 30 10 -1
   2: 00000000000000000000000001000000:1B59 00000000000000000000000000000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 4801 1 0000000000000000 100 0 0 10 0
)";
  const auto rows6 = parse_proc_net_tcp(text6);
  ASSERT_EQ(rows6.size(), 2u);
  EXPECT_TRUE(rows6[0].ipv6 && rows6[0].listening);
  EXPECT_EQ(rows6[0].local_ip, 0u);
  EXPECT_EQ(rows6[1].local_ip, kLo);
  EXPECT_EQ(rows6[1].remote_port, 50000);
  EXPECT_EQ(far_end_owner(rows6, 7000, 50000), 4800u);
  EXPECT_EQ(far_end_owner(rows6, 7001, 50000), std::nullopt);
}

}  // namespace
}  // namespace orvalin
