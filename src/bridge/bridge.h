// The TCP link to the in-host plugin: one JSON object per line, requests
// matched to replies by id, and "changed" events for watched controls.
//
// A Bridge is shared (std::shared_ptr) by every thread that talks to Kelvo;
// all its operations are thread-safe and may run concurrently. Replies and
// results are nlohmann::json values: include <nlohmann/json.hpp> to use them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/channel.h"
#include "base/process.h"
#include "base/result.h"
#include "base/timing.h"

namespace orvalin {

// A watched control changed.
struct Changed {
  std::string group;
  std::string key;
  double value = 0;
  // When the reader took the line off the wire; unset in changes that were
  // not read from the wire.
  std::chrono::steady_clock::time_point arrived{};
};

// The connection has ended; always the last event. `reason`: why ("end of
// stream", a read error's text, "a line that is not UTF-8").
struct Disconnected {
  std::string reason;
};

using BridgeEvent = std::variant<Changed, Disconnected>;

// The library's selected track.
struct SelectedTrack {
  std::map<std::string, std::string> fields;
  uint64_t row = 0;
  uint64_t rows = 0;
};

// One visible label of a deck in Kelvo's window and the text it shows.
struct DeckLabel {
  std::string label;
  std::string text;
};

// Last known control values, keyed by (group, key).
using LastValues = std::map<std::pair<std::string, std::string>, double>;

class Stream;     // a connected socket handle, see net/socket.h
class ReplySlot;  // one request's reply, handed over by the reader thread

// Given the reply of a request that timed out, should it come after all: what
// the request would have given had it come in time. Runs on the reader
// thread: it must neither wait nor make requests. Never called once the
// connection has ended.
using LateReply = std::function<void(Result<nlohmann::json> reply)>;
template <typename T>
using Late = std::function<void(Result<T> answer)>;
using LateValue = Late<double>;

// The bridge's waits, taken from the run's Timing: between connection
// attempts while the plugin does not listen yet, and for the reply to one
// request. Tests pass short ones; one that shortens the reply wait for what
// it checks gives the hello, its own set-up, a wait of its own.
struct BridgeTiming {
  std::chrono::milliseconds connect_poll = Timing{}.connect_poll;
  std::chrono::milliseconds reply_wait = Timing{}.reply_wait;
  std::optional<std::chrono::milliseconds> hello_wait;  // none: reply_wait

  static BridgeTiming of(const Timing& timing) {
    return {timing.connect_poll, timing.reply_wait, std::nullopt};
  }
};

class Bridge {
 public:
  struct PendingReplies;  // one-shot reply slots, shared with the reader thread

  // A request that has gone out and whose reply has not been taken yet.
  // wait() gives what request() would have given; its `reply_wait` counts
  // from the sending. Dropped without wait(), the request is forgotten and
  // its reply dropped. Used by the thread that sent it.
  class Sent {
   public:
    Result<nlohmann::json> wait();
    Sent(Sent&&) noexcept = default;
    Sent& operator=(Sent&&) = delete;
    ~Sent();

   private:
    friend class Bridge;
    Sent() = default;
    std::shared_ptr<PendingReplies> pending_;
    std::shared_ptr<ReplySlot> slot_;  // null once waited for, or unsent
    uint64_t id_ = 0;
    std::chrono::steady_clock::time_point deadline_{};
    bool alone_ = false;   // nothing else waited when it was sent
    std::string failure_;  // why it could not be sent
    LateReply late_;       // told a reply that comes after the time-out
  };

  // A command sent whose result is read from its reply when waited for.
  template <typename T>
  class Pending {
   public:
    Result<T> wait();

   private:
    friend class Bridge;
    using Reading = Result<T> (*)(const std::string& group,
                                  const std::string& key,
                                  const std::string& prop,
                                  Result<nlohmann::json> reply);
    Pending(Sent sent, Reading read, std::string group = {},
            std::string key = {}, std::string prop = {})
        : sent_(std::move(sent)),
          read_(read),
          group_(std::move(group)),
          key_(std::move(key)),
          prop_(std::move(prop)) {}
    Sent sent_;
    Reading read_;
    std::string group_;
    std::string key_;
    std::string prop_;
  };

  // A watch and the get of its control's value, both sent.
  struct SentWatch {
    std::string group;
    std::string key;
    Sent watch;
    Pending<double> read;
  };

  // Connects to 127.0.0.1:port, retrying every `connect_poll` until `deadline`
  // or until `kelvo` has exited (a null `kelvo` is never asked); starts the
  // "bridge-reader" thread, which sends every event to `events` and
  // Disconnected last, and sends the hello with `token`.
  static Result<std::shared_ptr<Bridge>> connect(
      uint16_t port, const std::string& token,
      std::chrono::steady_clock::time_point deadline,
      std::shared_ptr<Process> kelvo, Sender<BridgeEvent> events,
      BridgeTiming timing = {});

  // Starts the reader's body on its own thread. Empty: a detached thread
  // named "bridge-reader", as the program runs it.
  using ReaderStart = std::function<void(std::function<void()> body)>;

  // Takes a stream that is already connected to the plugin and starts the
  // "bridge-reader" thread on a second handle of it, as connect() does once
  // it has a connection; no hello is sent. Tests and fuzzing hand in a fake
  // Stream here, with the controls counted as watched from the start (their
  // stand-in plugin sends changes without a watch request), and may start
  // the reader on a thread they join: the body returns only once the reader
  // has let go of everything it held.
  static Result<std::shared_ptr<Bridge>> attach(
      std::unique_ptr<Stream> stream, Sender<BridgeEvent> events,
      std::set<std::pair<std::string, std::string>> watched = {},
      BridgeTiming timing = {}, ReaderStart start_reader = {});

  // Ends the connection; the reader thread then sends Disconnected and ends
  // on its own. Never waits for it.
  ~Bridge();
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Sends one request ("cmd" and fields; "id" is filled in) and waits up to
  // `reply_wait` for its reply. The reply object when its "ok" is true, else
  // the reply's "error" text, "request failed", "send failed: ...", "Kelvo
  // did not answer in time" (kNoAnswer), or "Not connected to Kelvo"
  // (kNotConnected) once the connection has ended.
  // With `late`, a reply that comes after the time-out is handed to it.
  Result<nlohmann::json> request(nlohmann::json object, LateReply late = {});
  // The same without waiting for the reply: many requests sent one after
  // another this way cost one reply time rather than one each.
  Sent send(nlohmann::json object, LateReply late = {});

  // The commands (hello is part of connect). Failures of get and set read
  // "group,key: " and the request's error text; a value outside the range
  // the contract gives the control (bridge/ranges.h) fails them too, with
  // "Kelvo sent V for group,key, outside R".
  // With `late`, a reply that comes after the time-out is handed to it
  // as get or set would have given it.
  Result<double> get(const std::string& group, const std::string& key,
                     const std::string& prop = "value", LateValue late = {});
  Pending<double> send_get(const std::string& group, const std::string& key,
                           const std::string& prop = "value",
                           LateValue late = {});
  Result<double> set(const std::string& group, const std::string& key,
                     const std::string& prop, double value,
                     LateValue late = {});
  // Subscribes to a control and reads its value into `last_values`; a
  // failure is only logged. The reader drops change events of controls that
  // were never watched.
  void watch(const std::string& group, const std::string& key,
             LastValues& last_values);
  // The same in two halves: send_watch sends the watch and the get without
  // waiting, and the control's changes count from then on (none is lost
  // while the reply is on its way); finish_watch waits for both replies, and
  // after a failed watch logs it (when `log_failure`, and while connected)
  // and no longer takes the control's changes. Whether the watch is in
  // place.
  SentWatch send_watch(const std::string& group, const std::string& key);
  bool finish_watch(SentWatch sent, LastValues& last_values,
                    bool log_failure = true);
  // The request's error when it fails.
  Result<std::vector<DeckLabel>> deck_info(uint32_t deck);
  Pending<std::vector<DeckLabel>> send_deck_info(
      uint32_t deck, Late<std::vector<DeckLabel>> late = {});
  Result<std::string> effect_name(int64_t index);
  Result<int64_t> effect_index(const std::string& effect);
  Pending<int64_t> send_effect_index(const std::string& effect);
  Result<uint64_t> dump_widgets();
  // Every failure reads "no track selected in the library".
  Result<SelectedTrack> selected_track();

  // Whether Kelvo counts as busy: the latest request that Kelvo either
  // answered in time or did not (by the order the requests were sent) timed
  // out. A request answered in time ends it, so asking anything ends it once
  // Kelvo answers again.
  bool busy() const;
  // When the connection ended; nothing while it is up.
  std::optional<std::chrono::steady_clock::time_point> ended() const;

 private:
  Bridge(std::unique_ptr<Stream> writer,
         std::shared_ptr<PendingReplies> pending, BridgeTiming timing);

  const BridgeTiming timing_;
  std::shared_ptr<PendingReplies> pending_;
  std::mutex writer_mutex_;  // guards writer_: whole lines only
  std::unique_ptr<Stream> writer_;
  std::atomic<uint64_t> next_id_{1};
};

}  // namespace orvalin
