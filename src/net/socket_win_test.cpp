#include "net/socket_win.h"

#include <gtest/gtest.h>

namespace orvalin {
namespace {

TEST(SocketWin, LoopbackConnectsDoNotRetransmitTheSyn) {
  // Only real Windows retransmits after a reset (Wine refuses at once), so
  // the control's input is what can be checked here.
  const TCP_INITIAL_RTO_PARAMETERS rto = no_syn_retransmissions();
  EXPECT_EQ(rto.Rtt, TCP_INITIAL_RTO_UNSPECIFIED_RTT);
  EXPECT_EQ(rto.MaxSynRetransmissions, TCP_INITIAL_RTO_NO_SYN_RETRANSMISSIONS);
}

}  // namespace
}  // namespace orvalin
