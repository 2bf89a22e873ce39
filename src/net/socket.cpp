#include "net/socket.h"

namespace orvalin {

Status send_all(Stream& stream, std::string_view bytes) {
  while (!bytes.empty()) {
    auto sent = stream.send(bytes);
    if (!sent) return fail(std::move(sent.error()));
    bytes.remove_prefix(*sent);
  }
  return {};
}

}  // namespace orvalin
