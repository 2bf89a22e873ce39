#include "net/lines.h"

namespace orvalin {

namespace {

constexpr size_t kReadBuffer = 8 * 1024;

}  // namespace

LineReader::LineReader(Stream& stream, std::function<void()> on_too_long)
    : stream_(stream),
      on_too_long_(std::move(on_too_long)),
      buffer_(kReadBuffer) {}

std::optional<std::string_view> LineReader::next() {
  auto without_cr = [this](std::string_view line) {
    if (!keep_cr_ && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    return line;
  };
  for (;;) {
    while (start_ < end_) {
      const std::string_view bytes(buffer_.data() + start_, end_ - start_);
      const size_t lf = bytes.find('\n');
      const std::string_view piece = bytes.substr(0, lf);
      // The usual case: a whole line within one read, handed out in place.
      if (lf != std::string_view::npos && !discarding_ && line_.empty() &&
          piece.size() <= kMaxLineBytes) {
        start_ += lf + 1;
        return without_cr(piece);
      }
      if (!discarding_) {
        if (line_.size() + piece.size() > kMaxLineBytes) {
          discarding_ = true;
          line_.clear();
          line_.shrink_to_fit();
          if (on_too_long_) on_too_long_();
        } else {
          line_.append(piece);
        }
      }
      if (lf == std::string_view::npos) {
        start_ = end_;
        break;
      }
      start_ += lf + 1;
      if (discarding_) {
        discarding_ = false;
        continue;
      }
      done_.swap(line_);
      line_.clear();
      return without_cr(done_);
    }
    if (ended_) return std::nullopt;
    start_ = end_ = 0;
    auto got = stream_.recv(buffer_.data(), buffer_.size());
    if (got && *got > 0) {
      end_ = *got;
      continue;
    }
    ended_ = true;
    if (!got) read_error_ = got.error();
    if (discarding_ || line_.empty()) return std::nullopt;
    done_.swap(line_);
    line_.clear();
    return done_;
  }
}

}  // namespace orvalin
