#include "bridge/bridge.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "applog/applog.h"
#include "base/sentences.h"
#include "base/thread.h"
#include "base/utf.h"
#include "bridge/ranges.h"
#include "bridge/tcpowner.h"
#include "net/lines.h"
#include "net/socket.h"

namespace orvalin {

using nlohmann::json;

namespace {

// Reply fields are read leniently: a missing or ill-typed field is never an
// error, each caller picks its default. Only JSON integers count as integers
// (5.0 is a float).
const json* field(const json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::optional<double> double_field(const json& object, const char* key) {
  const json* value = field(object, key);
  if (value == nullptr || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

std::optional<uint64_t> unsigned_value(const json& value) {
  if (value.is_number_unsigned()) return value.get<uint64_t>();
  if (value.is_number_integer()) {
    const int64_t number = value.get<int64_t>();
    if (number >= 0) return static_cast<uint64_t>(number);
  }
  return std::nullopt;
}

std::optional<uint64_t> unsigned_field(const json& object, const char* key) {
  const json* value = field(object, key);
  return value ? unsigned_value(*value) : std::nullopt;
}

std::optional<int64_t> signed_field(const json& object, const char* key) {
  const json* value = field(object, key);
  if (value == nullptr) return std::nullopt;
  if (value->is_number_unsigned()) {
    const uint64_t number = value->get<uint64_t>();
    if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
      return std::nullopt;
    }
    return static_cast<int64_t>(number);
  }
  if (value->is_number_integer()) return value->get<int64_t>();
  return std::nullopt;
}

const std::string* string_field(const json& object, const char* key) {
  const json* value = field(object, key);
  if (value == nullptr || !value->is_string()) return nullptr;
  return &value->get_ref<const std::string&>();
}

// nlohmann writes exponents the way printf does ("1e+20", "5e-05"); the
// wire carries the shortest form ("1e20", "5e-5"). Outside strings an 'e'
// followed by a sign only occurs in a number.
std::string shorten_exponents(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool in_string = false;
  bool escaped = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    out.push_back(c);
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == 'e' && i + 1 < text.size() &&
               (text[i + 1] == '+' || text[i + 1] == '-')) {
      size_t next = i + 1;
      if (text[next] == '-') out.push_back('-');
      ++next;
      while (next + 1 < text.size() && text[next] == '0' &&
             text[next + 1] >= '0' && text[next + 1] <= '9') {
        ++next;
      }
      i = next - 1;
    }
  }
  return out;
}

void raise_to(std::atomic<uint64_t>& latest, uint64_t id) {
  uint64_t seen = latest.load();
  while (seen < id && !latest.compare_exchange_weak(seen, id)) {
  }
}

std::string control_error(const std::string& group, const std::string& key,
                          const std::string& reason) {
  return fill(kControlFailed, {group, key, reason});
}

// A reply as its request gives it: the object when "ok" is true, else its
// error.
Result<json> reply_outcome(json answer) {
  const json* ok = field(answer, "ok");
  if (ok != nullptr && ok->is_boolean() && ok->get<bool>()) {
    return answer;
  }
  if (const std::string* error = string_field(answer, "error")) {
    return fail(*error);
  }
  return fail(std::string(kRequestFailed));
}

// How long a requester waits for its reply without sleeping. The plugin
// answers a local request in tens of microseconds; a thread that slept
// through them takes the scheduler about as long again to wake. Requests
// are few (key presses, polls), so the spinning costs next to nothing. Only
// a request sent while no other waits spins: beside others, its reply
// queues behind theirs, and spinning would take the processor from the
// reader.
constexpr auto kReplySpin = std::chrono::microseconds(100);

}  // namespace

// One request's reply: filled once by the reader thread (with nothing when
// no reply can come any more), waited for by the requester.
class ReplySlot {
 public:
  void fill(std::optional<json> reply) {
    {
      std::lock_guard lock(mutex_);
      reply_ = std::move(reply);
      filled_.store(true, std::memory_order_release);
    }
    ready_.notify_one();
  }

  // The reply, or nothing when none came by `deadline`.
  std::optional<json> wait(std::chrono::steady_clock::time_point deadline,
                           bool spin) {
    const auto filled = [&] { return filled_.load(std::memory_order_acquire); };
    const auto start = std::chrono::steady_clock::now();
    while (spin && !filled() &&
           std::chrono::steady_clock::now() - start < kReplySpin) {
      std::this_thread::yield();
    }
    std::unique_lock lock(mutex_);
    ready_.wait_until(lock, deadline, filled);
    return std::move(reply_);
  }

 private:
  std::mutex mutex_;  // guards reply_; filled_ is set under it
  std::condition_variable ready_;
  std::optional<json> reply_;
  // Set once reply_ is final; read without the lock while spinning.
  std::atomic<bool> filled_{false};
};

// The pending-reply table: one slot per request waiting for its reply, and
// the controls watched so far. Shared by the requesters and the reader
// thread.
struct Bridge::PendingReplies {
  std::mutex mutex;  // guards slots, late, closed and watched
  std::unordered_map<uint64_t, std::shared_ptr<ReplySlot>> slots;
  // Requests that timed out and whose reply is still wanted, should it
  // come; dropped with everything else when the connection ends.
  std::unordered_map<uint64_t, LateReply> late;
  // Set when the reader has ended: nothing can deliver a reply any more.
  std::optional<std::chrono::steady_clock::time_point> closed;
  // Events of other controls are dropped at once: nothing would speak them,
  // and a plugin that floods them must not fill the event queue.
  std::set<std::pair<std::string, std::string>> watched;
  // Ids of the latest request answered in time and of the latest that timed
  // out; only ever raised. Kelvo is busy while the second is the greater.
  std::atomic<uint64_t> last_answered{0};
  std::atomic<uint64_t> last_timed_out{0};

  void remove(uint64_t id) {
    std::lock_guard lock(mutex);
    slots.erase(id);
  }

  bool is_watched(const std::string& group, const std::string& key) {
    std::lock_guard lock(mutex);
    return watched.contains({group, key});
  }

  void set_watched(const std::string& group, const std::string& key, bool on) {
    std::lock_guard lock(mutex);
    if (on) {
      watched.emplace(group, key);
    } else {
      watched.erase({group, key});
    }
  }
};

namespace {

// The "bridge-reader" thread: splits the byte stream into lines and each
// line into a reply hand-over or a change event.
class Reader {
 public:
  Reader(std::unique_ptr<Stream> stream,
         std::shared_ptr<Bridge::PendingReplies> pending,
         Sender<BridgeEvent> events)
      : stream_(std::move(stream)),
        pending_(std::move(pending)),
        events_(std::move(events)) {}

  void run() {
    // Whatever ends the reading (end of stream, a read error, a line that is
    // not UTF-8, an exception such as bad_alloc) ends the connection.
    // not spoken: the end's reason is logged
    std::string reason = "an internal error";
    run_guarded("bridge-reader", [&] { reason = read_lines(); });
    // The plugin sees the end at once, not only when the Bridge is dropped.
    stream_->shutdown();
    stream_->close();
    stream_.reset();
    // Every waiting requester learns at once that no reply will come.
    std::unordered_map<uint64_t, std::shared_ptr<ReplySlot>> orphans;
    {
      std::lock_guard lock(pending_->mutex);
      orphans.swap(pending_->slots);
      pending_->late.clear();
      pending_->closed = std::chrono::steady_clock::now();
    }
    for (auto& [id, slot] : orphans) slot->fill(std::nullopt);
    events_.send(Disconnected{std::move(reason)});
    events_.reset();
  }

 private:
  // Why the reading ended.
  std::string read_lines() {
    LineReader lines(*stream_, [] {
      log("bridge: discarded a line longer than " +
          std::to_string(kMaxLineBytes) + " bytes");
    });
    while (auto line = lines.next()) {
      // not spoken: the end's reason is logged
      if (!handle_line(*line)) return "a line that is not UTF-8";
    }
    // not spoken: the end's reason is logged
    return lines.read_error().empty() ? "end of stream" : lines.read_error();
  }

  // False when the line ends the connection (it is not UTF-8).
  bool handle_line(std::string_view line) {
    if (!is_valid_utf8(line)) return false;
    const auto arrived = std::chrono::steady_clock::now();
    json message = json::parse(line.begin(), line.end(), nullptr, false);
    if (message.is_discarded() || !message.is_object()) return true;

    const std::string* event = string_field(message, "event");
    if (event != nullptr && *event == "changed") {
      Changed changed;
      if (auto group = string_field(message, "group")) changed.group = *group;
      if (auto key = string_field(message, "key")) changed.key = *key;
      if (!pending_->is_watched(changed.group, changed.key)) return true;
      changed.value = double_field(message, "value").value_or(0.0);
      changed.arrived = arrived;
      // A consumer that has gone is no reason to stop reading replies.
      events_.send(std::move(changed));
      return true;
    }

    const std::optional<uint64_t> id = unsigned_field(message, "id");
    if (!id) return true;
    std::shared_ptr<ReplySlot> slot;
    LateReply late;
    {
      std::lock_guard lock(pending_->mutex);
      auto it = pending_->slots.find(*id);
      if (it == pending_->slots.end()) {
        // Late, or unknown: only a late reply that is still wanted goes on.
        auto wanted = pending_->late.find(*id);
        if (wanted == pending_->late.end()) return true;
        late = std::move(wanted->second);
        pending_->late.erase(wanted);
      } else {
        slot = std::move(it->second);
        pending_->slots.erase(it);
      }
    }
    if (late) {
      late(reply_outcome(std::move(message)));
      return true;
    }
    slot->fill(std::move(message));
    return true;
  }

  std::unique_ptr<Stream> stream_;
  std::shared_ptr<Bridge::PendingReplies> pending_;
  Sender<BridgeEvent> events_;
};

// Why the token must not go over `stream` (a connection to 127.0.0.1:port):
// the system's TCP tables name another holder of the far end than `kelvo`,
// the Kelvo that Orvalin started, or list the far end nowhere (nor can be
// read), so that nobody can say who holds it. Any program may listen at the
// port first, another user's Kelvo among them, on 127.0.0.1 or on [::].
// Windows' tables always name the owner; a table that lists the far end
// without one (Wine's) cannot tell, and the connection is used as before.
std::optional<std::string> foreign_holder(const Stream& stream, uint16_t port,
                                          const Process& kelvo) {
  auto local = stream.local_port();
  if (!local) return std::nullopt;
  auto holder = loopback_port_holder(port, *local, kelvo.id());
  if (holder && (!holder->known || holder->is_expected)) return std::nullopt;
  const std::optional<uint64_t> process =
      holder ? holder->process : std::nullopt;
  return fill(kPortHeld,
              {std::to_string(port), process ? std::to_string(*process)
                                             : std::string(kUnknownProcess)});
}

}  // namespace

Bridge::Bridge(std::unique_ptr<Stream> writer,
               std::shared_ptr<PendingReplies> pending, BridgeTiming timing)
    : timing_(timing),
      pending_(std::move(pending)),
      writer_(std::move(writer)) {}

Bridge::~Bridge() {
  // Closing only this handle would leave the reader blocked on its own
  // handle for as long as the plugin keeps the connection open (Winsock
  // wakes a blocked recv only when every handle is closed). Ending the
  // connection makes the reader finish on its own.
  writer_->shutdown();
  writer_->close();
}

Result<std::shared_ptr<Bridge>> Bridge::connect(
    uint16_t port, const std::string& token,
    std::chrono::steady_clock::time_point deadline,
    std::shared_ptr<Process> kelvo, Sender<BridgeEvent> events,
    BridgeTiming timing) {
  std::unique_ptr<Stream> stream;
  std::string last_refusal;
  for (;;) {
    // Each attempt ends by the deadline, or one poll after it.
    const auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
    auto attempt =
        connect_loopback(port, std::max(remaining, timing.connect_poll));
    if (attempt && kelvo) {
      // Closed unused, like a refused connection; said once per holder.
      if (auto refusal = foreign_holder(**attempt, port, *kelvo)) {
        (*attempt)->close();
        if (*refusal != last_refusal) log(*refusal);
        last_refusal = std::move(*refusal);
        attempt = fail(last_refusal);
      }
    }
    if (attempt) {
      stream = std::move(*attempt);
      break;
    }
    std::string failure = fill(kCannotConnect, {attempt.error()});
    if (std::chrono::steady_clock::now() >= deadline) return fail(failure);
    if (kelvo && kelvo->poll().kind != ProcessState::Kind::running) {
      return fail(failure);
    }
    std::this_thread::sleep_for(timing.connect_poll);
  }

  auto attached = attach(std::move(stream), std::move(events), {}, timing);
  if (!attached) return fail(std::move(attached.error()));
  std::shared_ptr<Bridge> bridge = std::move(*attached);
  json hello = json::object();
  hello["cmd"] = "hello";
  hello["token"] = token;
  Sent sent = bridge->send(std::move(hello));
  if (timing.hello_wait) {
    sent.deadline_ = std::chrono::steady_clock::now() + *timing.hello_wait;
  }
  auto answer = sent.wait();
  if (!answer) return fail(std::move(answer.error()));
  return bridge;
}

Result<std::shared_ptr<Bridge>> Bridge::attach(
    std::unique_ptr<Stream> stream, Sender<BridgeEvent> events,
    std::set<std::pair<std::string, std::string>> watched, BridgeTiming timing,
    ReaderStart start_reader) {
  auto reader_stream = stream->clone();
  if (!reader_stream) {
    stream->close();
    return fail(fill(kSocketCloneFailed, {reader_stream.error()}));
  }

  auto pending = std::make_shared<PendingReplies>();
  pending->watched = std::move(watched);
  std::shared_ptr<Bridge> bridge(
      new Bridge(std::move(stream), pending, timing));
  auto reader = std::make_shared<Reader>(std::move(*reader_stream), pending,
                                         std::move(events));
  // Dropped inside the body: once it returns, the reader's table, stream and
  // sender are gone, on whichever thread it ran.
  std::function<void()> body = [reader = std::move(reader)]() mutable {
    reader->run();
    reader.reset();
  };
  if (start_reader) {
    start_reader(std::move(body));
  } else {
    spawn_detached("bridge-reader", std::move(body), "spawn reader thread");
  }
  return bridge;
}

Result<json> Bridge::request(json object, LateReply late) {
  return send(std::move(object), std::move(late)).wait();
}

Bridge::Sent Bridge::send(json object, LateReply late) {
  Sent sent;
  sent.late_ = std::move(late);
  if (!object.is_object()) {
    sent.failure_ = kNotJsonObject;
    return sent;
  }
  const uint64_t id = next_id_.fetch_add(1);
  object["id"] = id;

  // The slot exists before the line goes out, so no reply can beat it.
  auto slot = std::make_shared<ReplySlot>();
  {
    std::lock_guard lock(pending_->mutex);
    if (pending_->closed) {
      sent.failure_ = kNotConnected;
      return sent;
    }
    sent.alone_ = pending_->slots.empty();
    pending_->slots.emplace(id, slot);
  }

  // Invalid UTF-8 in a string becomes U+FFFD instead of an exception.
  std::string line = shorten_exponents(
      object.dump(-1, ' ', false, json::error_handler_t::replace));
  line.push_back('\n');
  Status written;
  {
    std::lock_guard lock(writer_mutex_);
    written = send_all(*writer_, line);
  }
  if (!written) {
    pending_->remove(id);
    sent.failure_ = fill(kSendFailed, {written.error()});
    return sent;
  }
  sent.pending_ = pending_;
  sent.slot_ = std::move(slot);
  sent.id_ = id;
  sent.deadline_ = std::chrono::steady_clock::now() + timing_.reply_wait;
  return sent;
}

Bridge::Sent::~Sent() {
  if (slot_) pending_->remove(id_);
}

Result<json> Bridge::Sent::wait() {
  if (!slot_) {
    if (failure_.empty()) return fail(std::string(kNoAnswer));
    return fail(failure_);
  }
  std::shared_ptr<ReplySlot> slot = std::move(slot_);
  std::optional<json> answer = slot->wait(deadline_, alone_);
  if (!answer) {
    // No reply because the connection ended is no sign of a busy Kelvo.
    bool timed_out = false;
    bool taken = false;
    {
      std::lock_guard lock(pending_->mutex);
      taken = pending_->slots.erase(id_) == 0;
      timed_out = !pending_->closed;
      if (timed_out && !taken && late_) pending_->late.emplace(id_, late_);
    }
    // The reader took the slot just as the wait ended: it fills the slot at
    // once, with the reply (or with nothing, at the connection's end), so
    // this wait is never long.
    if (taken) {
      answer = slot->wait(
          std::chrono::steady_clock::now() + std::chrono::hours(1), false);
    }
    if (!answer) {
      if (!timed_out) return fail(std::string(kNotConnected));
      raise_to(pending_->last_timed_out, id_);
      return fail(std::string(kNoAnswer));
    }
  }
  raise_to(pending_->last_answered, id_);
  return reply_outcome(std::move(*answer));
}

template <typename T>
Result<T> Bridge::Pending<T>::wait() {
  return read_(group_, key_, prop_, sent_.wait());
}

template class Bridge::Pending<double>;
template class Bridge::Pending<int64_t>;
template class Bridge::Pending<std::vector<DeckLabel>>;

namespace {

// An action must never go on from a value Kelvo did not give, nor from one
// the control cannot have.
Result<double> read_get(const std::string& group, const std::string& key,
                        const std::string& prop, Result<json> reply) {
  if (!reply) return fail(control_error(group, key, reply.error()));
  auto value = double_field(*reply, "value");
  if (!value) return fail(fill(kNoValue, {group, key}));
  if (auto outside = outside_range(group, key, prop, *value)) {
    return fail(std::move(*outside));
  }
  return *value;
}

Result<double> read_set(const std::string& group, const std::string& key,
                        const std::string& prop, double sent,
                        Result<json> reply) {
  if (!reply) return fail(control_error(group, key, reply.error()));
  auto value = double_field(*reply, "value");
  if (!value) return sent;
  if (auto outside = outside_range(group, key, prop, *value)) {
    return fail(std::move(*outside));
  }
  return *value;
}

}  // namespace

Result<double> Bridge::get(const std::string& group, const std::string& key,
                           const std::string& prop, LateValue late) {
  return send_get(group, key, prop, std::move(late)).wait();
}

Bridge::Pending<double> Bridge::send_get(const std::string& group,
                                         const std::string& key,
                                         const std::string& prop,
                                         LateValue late) {
  json message = json::object();
  message["cmd"] = "get";
  message["group"] = group;
  message["key"] = key;
  message["prop"] = prop;
  LateReply late_reply;
  if (late) {
    late_reply = [group, key, prop,
                  late = std::move(late)](Result<json> reply) {
      late(read_get(group, key, prop, std::move(reply)));
    };
  }
  return {send(std::move(message), std::move(late_reply)), read_get, group, key,
          prop};
}

Result<double> Bridge::set(const std::string& group, const std::string& key,
                           const std::string& prop, double value,
                           LateValue late) {
  json message = json::object();
  message["cmd"] = "set";
  message["group"] = group;
  message["key"] = key;
  message["prop"] = prop;
  if (std::isfinite(value)) {
    message["value"] = value;
  } else {
    message["value"] = nullptr;
  }
  LateReply late_reply;
  if (late) {
    late_reply = [group, key, prop, value,
                  late = std::move(late)](Result<json> reply) {
      late(read_set(group, key, prop, value, std::move(reply)));
    };
  }
  return read_set(group, key, prop, value,
                  request(std::move(message), std::move(late_reply)));
}

void Bridge::watch(const std::string& group, const std::string& key,
                   LastValues& last_values) {
  finish_watch(send_watch(group, key), last_values);
}

Bridge::SentWatch Bridge::send_watch(const std::string& group,
                                     const std::string& key) {
  json message = json::object();
  message["cmd"] = "watch";
  message["group"] = group;
  message["key"] = key;
  // Counted as watched before the plugin can send a change of it.
  pending_->set_watched(group, key, true);
  Sent watch = send(std::move(message));
  return {group, key, std::move(watch), send_get(group, key)};
}

bool Bridge::finish_watch(SentWatch sent, LastValues& last_values,
                          bool log_failure) {
  if (auto reply = sent.watch.wait(); !reply) {
    pending_->set_watched(sent.group, sent.key, false);
    // Once the connection has ended, every watch fails alike: the end is
    // logged once, by whoever learns of it.
    if (log_failure && !ended()) {
      log("watch failed: " +
          control_error(sent.group, sent.key, reply.error()));
    }
    return false;
  }
  if (auto value = sent.read.wait()) {
    last_values[{sent.group, sent.key}] = *value;
  }
  return true;
}

namespace {

Result<std::vector<DeckLabel>> read_labels(const std::string&,
                                           const std::string&,
                                           const std::string&,
                                           Result<json> reply) {
  if (!reply) return fail(std::move(reply.error()));
  std::vector<DeckLabel> labels;
  const json* list = field(*reply, "labels");
  if (list == nullptr || !list->is_array()) return labels;
  for (const json& element : *list) {
    const std::string* label = string_field(element, "label");
    const std::string* text = string_field(element, "text");
    if (label == nullptr || text == nullptr) continue;
    labels.push_back({*label, *text});
  }
  return labels;
}

}  // namespace

Result<std::vector<DeckLabel>> Bridge::deck_info(uint32_t deck) {
  return send_deck_info(deck).wait();
}

Bridge::Pending<std::vector<DeckLabel>> Bridge::send_deck_info(
    uint32_t deck, Late<std::vector<DeckLabel>> late) {
  json message = json::object();
  message["cmd"] = "deckinfo";
  message["deck"] = deck;
  LateReply late_reply;
  if (late) {
    late_reply = [late = std::move(late)](Result<json> reply) {
      late(read_labels({}, {}, {}, std::move(reply)));
    };
  }
  return {send(std::move(message), std::move(late_reply)), read_labels};
}

Result<std::string> Bridge::effect_name(int64_t index) {
  json message = json::object();
  message["cmd"] = "effectname";
  message["index"] = index;
  auto reply = request(std::move(message));
  if (!reply) return fail(std::move(reply.error()));
  if (const std::string* name = string_field(*reply, "name")) return *name;
  return std::string(kUnknownEffect);
}

Result<int64_t> Bridge::effect_index(const std::string& effect) {
  return send_effect_index(effect).wait();
}

Bridge::Pending<int64_t> Bridge::send_effect_index(const std::string& effect) {
  json message = json::object();
  message["cmd"] = "effectindex";
  message["effect"] = effect;
  auto read = [](const std::string&, const std::string&, const std::string&,
                 Result<json> reply) -> Result<int64_t> {
    if (!reply) return fail(std::move(reply.error()));
    return signed_field(*reply, "index").value_or(0);
  };
  return {send(std::move(message)), read};
}

Result<uint64_t> Bridge::dump_widgets() {
  json message = json::object();
  message["cmd"] = "dumpwidgets";
  auto reply = request(std::move(message));
  if (!reply) return fail(std::move(reply.error()));
  return unsigned_field(*reply, "count").value_or(0);
}

bool Bridge::busy() const {
  return pending_->last_timed_out.load() > pending_->last_answered.load();
}

std::optional<std::chrono::steady_clock::time_point> Bridge::ended() const {
  std::lock_guard lock(pending_->mutex);
  return pending_->closed;
}

Result<SelectedTrack> Bridge::selected_track() {
  json message = json::object();
  message["cmd"] = "selectedtrack";
  auto reply = request(std::move(message));
  if (!reply) return fail(std::string(kNoTrackSelected));
  SelectedTrack track;
  if (const json* fields = field(*reply, "fields");
      fields != nullptr && fields->is_object()) {
    for (const auto& [name, value] : fields->items()) {
      if (value.is_string()) track.fields[name] = value.get<std::string>();
    }
  }
  track.row = unsigned_field(*reply, "row").value_or(0);
  track.rows = unsigned_field(*reply, "rows").value_or(0);
  return track;
}

}  // namespace orvalin
