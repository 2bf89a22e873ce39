// Details of the Windows sockets that tests check. Included only by
// *_win.cpp files; any thread.
#pragma once

#include <winsock2.h>
// After winsock2.h: needs its types.
#include <mstcpip.h>

namespace orvalin {

// The SIO_TCP_INITIAL_RTO input that each loopback connect sets: no SYN
// retransmissions, so that a refused connect fails at once.
TCP_INITIAL_RTO_PARAMETERS no_syn_retransmissions();

}  // namespace orvalin
