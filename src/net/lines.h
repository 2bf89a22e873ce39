// Reading LF-framed lines from a Stream: the framing of the plugin link,
// for both of its ends. A line is the bytes before an LF, without one CR
// right before it; a last line without an LF still counts. A line longer
// than the limit (not counting its LF) is skipped up to its LF as its bytes
// arrive, so that reading never holds more than the limit and one read
// buffer; `on_too_long` hears of each skipped line once.
//
// A LineReader is used by one thread.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/socket.h"

namespace orvalin {

// The longest line the link carries, not counting its LF.
constexpr size_t kMaxLineBytes = 1024 * 1024;

class LineReader {
 public:
  explicit LineReader(Stream& stream,
                      std::function<void()> on_too_long = nullptr);

  // Hands out lines with their CR, for a client that checks the plugin's
  // line ends themselves.
  void keep_carriage_returns() { keep_cr_ = true; }

  // The next line, valid until the next call; nothing at the end of the
  // stream or on a read error.
  std::optional<std::string_view> next();

  // Why reading ended: the read error's text; empty at the end of the
  // stream.
  const std::string& read_error() const { return read_error_; }

 private:
  Stream& stream_;
  std::function<void()> on_too_long_;
  std::vector<char> buffer_;  // bytes read, taken from `start_` to `end_`
  size_t start_ = 0;
  size_t end_ = 0;
  std::string line_;         // the line being collected across reads
  std::string done_;         // the line handed out last, when collected
  bool discarding_ = false;  // skipping the rest of an over-long line
  bool ended_ = false;
  bool keep_cr_ = false;
  std::string read_error_;
};

}  // namespace orvalin
