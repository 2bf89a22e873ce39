#include "server.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "base/channel.h"
#include "base/thread.h"
#include "base/utf.h"
#include "net/lines.h"

namespace kelvosim {

using nlohmann::json;

namespace {

std::optional<std::string> text_field(const json& request, const char* name) {
  const auto found = request.find(name);
  if (found == request.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

json failure(json reply, std::string error) {
  reply["ok"] = false;
  reply["error"] = std::move(error);
  return reply;
}

// The group, key and prop of a get or set; an error text when one is
// missing or wrong.
struct Address {
  std::string group;
  std::string key;
  Prop prop = Prop::value;
};

orvalin::Result<Address> address_of(const json& request) {
  Address address;
  auto group = text_field(request, "group");
  auto key = text_field(request, "key");
  if (!group) return orvalin::fail("missing group");
  if (!key) return orvalin::fail("missing key");
  address.group = *group;
  address.key = *key;
  if (request.contains("prop")) {
    auto prop = text_field(request, "prop");
    if (prop == "parameter") {
      address.prop = Prop::parameter;
    } else if (prop != "value") {
      return orvalin::fail("unknown prop");
    }
  }
  return address;
}

json answer(Model& model, const std::string& token, bool refuse_hello,
            Session& session, std::mutex& watch_mutex, const json& request) {
  json reply = json::object();
  if (request.contains("id")) reply["id"] = request["id"];
  const auto cmd = text_field(request, "cmd");
  if (!cmd) return failure(reply, "missing cmd");

  if (*cmd == "hello") {
    if (refuse_hello) return failure(reply, "hello refused");
    if (text_field(request, "token") != token) {
      return failure(reply, "wrong token");
    }
    session.greeted = true;
    reply["ok"] = true;
    return reply;
  }
  if (!session.greeted) return failure(reply, "say hello first");

  if (*cmd == "get" || *cmd == "set") {
    auto address = address_of(request);
    if (!address) return failure(reply, address.error());
    orvalin::Result<double> value;
    if (*cmd == "get") {
      value = model.get(address->group, address->key, address->prop);
    } else {
      const auto found = request.find("value");
      if (found == request.end() || !found->is_number()) {
        return failure(reply, "value is not a number");
      }
      value = model.set(address->group, address->key, address->prop,
                        found->get<double>());
    }
    if (!value) return failure(reply, value.error());
    reply["ok"] = true;
    reply["value"] = *value;
    return reply;
  }
  if (*cmd == "watch") {
    auto group = text_field(request, "group");
    auto key = text_field(request, "key");
    if (!group || !key) return failure(reply, "missing group or key");
    if (!model.exists(*group, *key)) return failure(reply, "unknown control");
    {
      std::lock_guard lock(watch_mutex);
      session.watched[{Model::canonical_group(*group), *key}].insert(*group);
    }
    reply["ok"] = true;
    return reply;
  }
  if (*cmd == "deckinfo") {
    const auto deck = request.find("deck");
    if (deck == request.end() || !deck->is_number_integer()) {
      return failure(reply, "missing deck");
    }
    auto labels = model.deck_info(deck->get<int64_t>());
    if (!labels) return failure(reply, labels.error());
    json list = json::array();
    for (const auto& label : *labels) {
      list.push_back({{"label", label.label}, {"text", label.text}});
    }
    reply["ok"] = true;
    reply["labels"] = std::move(list);
    return reply;
  }
  if (*cmd == "effectname") {
    const auto index = request.find("index");
    if (index == request.end() || !index->is_number_integer()) {
      return failure(reply, "missing index");
    }
    auto name = model.effect_name(index->get<int64_t>());
    if (!name) return failure(reply, name.error());
    reply["ok"] = true;
    reply["name"] = *name;
    return reply;
  }
  if (*cmd == "effectindex") {
    auto effect = text_field(request, "effect");
    if (!effect) return failure(reply, "missing effect");
    reply["ok"] = true;
    reply["index"] = model.effect_index(*effect);
    return reply;
  }
  if (*cmd == "dumpwidgets") {
    reply["ok"] = true;
    reply["count"] = model.dump_widgets();
    return reply;
  }
  if (*cmd == "selectedtrack") {
    auto selected = model.selected_track();
    if (!selected) return failure(reply, selected.error());
    reply["ok"] = true;
    reply["fields"] = selected->fields;
    reply["row"] = selected->row;
    reply["rows"] = selected->rows;
    return reply;
  }
  return failure(reply, "unknown command '" + *cmd + "'");
}

}  // namespace

std::optional<std::string> answer_request(Model& model,
                                          const std::string& token,
                                          bool refuse_hello, Session& session,
                                          std::mutex& watch_mutex,
                                          const std::string& line) {
  json request = json::parse(line, nullptr, false);
  if (request.is_discarded() || !request.is_object()) return std::nullopt;
  return answer(model, token, refuse_hello, session, watch_mutex, request)
      .dump(-1, ' ', false, json::error_handler_t::replace);
}

namespace {

// Lines of the faults that a test sets off when it chooses, by setting a
// control of the group "[Kelvosim]" (see --help). Nothing for other requests.
std::optional<std::vector<std::string>> fault_lines(
    const json& request, std::chrono::steady_clock::time_point& stall_until) {
  if (!request.is_object() || text_field(request, "cmd") != "set" ||
      text_field(request, "group") != "[Kelvosim]") {
    return std::nullopt;
  }
  const std::string key = text_field(request, "key").value_or("");
  const auto found = request.find("value");
  const double value =
      found != request.end() && found->is_number() ? found->get<double>() : 0.0;
  const size_t count = value > 0 ? static_cast<size_t>(value) : 0;
  auto event = [](const char* group, const char* key, int value) {
    return json({{"event", "changed"},
                 {"group", group},
                 {"key", key},
                 {"value", value}})
               .dump() +
           "\n";
  };
  std::vector<std::string> lines;
  if (key == "stall") {
    stall_until = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(static_cast<int64_t>(value * 1000));
  } else if (key == "burst" || key == "flap") {
    // One write for all of them, so that they come as fast as the link
    // carries them and not one system call (under Wine, one wineserver
    // round trip) apart. A burst flips play on and off, and an even count
    // ends where it began; a flap ejects the track and loads it again.
    const std::string on = key == "burst"
                               ? event("[Channel1]", "play", 1)
                               : event("[Channel1]", "track_loaded", 1);
    const std::string off = key == "burst"
                                ? event("[Channel1]", "play", 0)
                                : event("[Channel1]", "track_loaded", 0);
    const size_t total = key == "burst" ? count : 2 * count;
    std::string all;
    for (size_t i = 0; i < total; ++i) {
      all += (i % 2 == 0) == (key == "burst") ? on : off;
    }
    lines.push_back(std::move(all));
  } else if (key == "long_line") {
    std::string line = event("[Channel1]", "play", 1);
    line.pop_back();
    if (line.size() < count) line.resize(count, ' ');
    lines.push_back(line + "\n");
  } else if (key == "nested_line") {
    lines.push_back(std::string(count, '[') + std::string(count, ']') + "\n");
  }
  return lines;
}

}  // namespace

// ---- Trace ----

Trace::Trace(const std::string& path) {
  if (path.empty()) return;
#ifdef _WIN32
  file_ = _wfopen(
      reinterpret_cast<const wchar_t*>(orvalin::utf8_to_utf16(path).c_str()),
      L"ab");
#else
  file_ = std::fopen(path.c_str(), "ab");
#endif
  if (!file_)
    std::fprintf(stderr, "kelvosim: cannot open trace %s\n", path.c_str());
}

Trace::~Trace() {
  if (file_) std::fclose(file_);
}

void Trace::record(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (!file_) return;
  std::string text;
  const json request = json::parse(line, nullptr, false);
  if (!request.is_discarded()) {
    text = request.dump(-1, ' ', false, json::error_handler_t::replace);
  } else {
    // Lines that are no JSON are kept too, as a string.
    text = json({{"unparsed", line}})
               .dump(-1, ' ', false, json::error_handler_t::replace);
  }
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), file_);
  std::fflush(file_);
}

// ---- Server ----

// One accepted connection. Its reader runs on the accepting thread; a
// writer thread sends queued lines in order, so that replies and events are
// always whole lines and a slow peer never blocks the model.
struct Server::Connection {
  Session session;
  orvalin::Sender<std::string> out;  // whole lines, in sending order

  // Random reply delays: each reply waits here until it is due, and the
  // "delayer" thread sends it, so that the reader goes on with the next
  // requests meanwhile.
  std::mutex delayed_mutex;  // guards delayed and delays_ending
  std::condition_variable delayed_changed;
  std::multimap<std::chrono::steady_clock::time_point, std::string> delayed;
  bool delays_ending = false;

  // Threads of faults that go on by themselves (clip); they end early once
  // `ending` is set.
  std::vector<std::thread> faults;
  std::atomic<bool> ending{false};

  // The next junk kind: the reader thread's, or with random delays the
  // delayer's.
  int junk = 0;
};

Server::Server(Model& model, std::string token, FaultOptions faults,
               Trace& trace)
    : model_(model),
      token_(std::move(token)),
      faults_(std::move(faults)),
      trace_(trace) {
  model_.set_listener([this](const Change& change) { report_change(change); });
}

Server::~Server() { model_.set_listener(nullptr); }

void Server::report_change(const Change& change) {
  std::lock_guard lock(mutex_);
  if (!current_) return;
  const auto found = current_->session.watched.find({change.group, change.key});
  if (found == current_->session.watched.end()) return;
  if (faults_.no_events.contains(change.group)) return;
  for (const auto& group : found->second) {
    const auto renamed = faults_.events_as.find(group);
    json event = {
        {"event", "changed"},
        {"group", renamed == faults_.events_as.end() ? group : renamed->second},
        {"key", change.key},
        {"value", change.value}};
    current_->out.send(event.dump() + "\n");
  }
}

void Server::serve(Listener& listener) {
  for (;;) {
    auto socket = listener.accept();
    if (!socket) {
      std::fprintf(stderr, "kelvosim: accept failed: %s\n",
                   socket.error().c_str());
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    serve_connection(std::move(*socket));
  }
}

void Server::serve_connection(std::unique_ptr<Stream> socket) {
  Connection connection;
  auto [out, lines] = orvalin::make_channel<std::string>();
  connection.out = out;
  out.reset();

  std::thread writer([&socket, lines = std::move(lines)]() mutable {
    orvalin::set_thread_name("writer");
    bool broken = false;
    while (auto line = lines.recv()) {
      if (line->empty()) {
        // The end of a fault's lines: benchmarks time what follows from here.
        std::fprintf(stderr, "kelvosim: fault sent\n");
        std::fflush(stderr);
        continue;
      }
      if (!broken && !orvalin::send_all(*socket, *line)) broken = true;
    }
  });

  // Sends a finished reply line with the line-level faults applied.
  auto queue_reply = [&](const std::string& reply) {
    std::string ending = "\n";
    if (faults_.junk) {
      switch (connection.junk++ % 5) {
        case 0:
          connection.out.send("this is not JSON\n");
          break;
        case 1:
          connection.out.send("[1,2,3]\n");
          break;
        case 2:
          connection.out.send("{\"id\":0,\"ok\":true} and then some text\n");
          break;
        case 3:
          connection.out.send("\n");
          break;
        default:
          ending = "\r\n";
          break;
      }
    }
    connection.out.send(reply + ending);
  };

  std::thread delayer;
  std::mt19937 random(std::random_device{}());
  if (faults_.reply_delay_max_ms || !faults_.late_set.empty()) {
    // With random delays every reply goes out from here, so queue_reply's
    // junk counter stays on one thread (--late-set sends only its late
    // replies from here, and is not meant to go with --junk). At the end,
    // what still waits goes out at once.
    delayer = std::thread([&connection, &queue_reply] {
      orvalin::set_thread_name("delayer");
      std::unique_lock lock(connection.delayed_mutex);
      for (;;) {
        auto& delayed = connection.delayed;
        if (delayed.empty() && connection.delays_ending) break;
        if (delayed.empty()) {
          connection.delayed_changed.wait(lock);
          continue;
        }
        if (!connection.delays_ending &&
            std::chrono::steady_clock::now() < delayed.begin()->first) {
          connection.delayed_changed.wait_until(lock, delayed.begin()->first);
          continue;
        }
        std::string reply = std::move(delayed.begin()->second);
        delayed.erase(delayed.begin());
        lock.unlock();
        queue_reply(reply);
        lock.lock();
      }
    });
  }

  // A reply due at `due` goes out from the delayer, which then exists.
  auto send_later = [&](const std::string& reply,
                        std::chrono::steady_clock::time_point due) {
    {
      std::lock_guard lock(connection.delayed_mutex);
      connection.delayed.emplace(due, reply);
    }
    connection.delayed_changed.notify_all();
  };
  auto send_reply = [&](const std::string& reply) {
    if (faults_.reply_delay_max_ms) {
      std::uniform_int_distribution<int> pick(faults_.reply_delay_ms,
                                              *faults_.reply_delay_max_ms);
      const auto due = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(pick(random));
      {
        std::lock_guard lock(connection.delayed_mutex);
        connection.delayed.emplace(due, reply);
      }
      connection.delayed_changed.notify_all();
      return;
    }
    if (faults_.reply_delay_ms > 0) {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(faults_.reply_delay_ms));
    }
    queue_reply(reply);
  };

  {
    std::lock_guard lock(mutex_);
    current_ = &connection;
  }

  int requests = 0;
  std::chrono::steady_clock::time_point stall_until;
  std::optional<std::chrono::steady_clock::time_point> greeted_at;
  orvalin::LineReader reader(*socket);
  bool open = true;
  while (open) {
    const auto read = reader.next();
    if (!read) break;
    const std::string line(*read);
    trace_.record(line);
    // A stalled Kelvo holds every request, then answers them in order.
    std::this_thread::sleep_until(stall_until);
    const json parsed = json::parse(line, nullptr, false);
    if (auto faulty = fault_lines(parsed, stall_until)) {
      json reply = {{"ok", true}};
      if (parsed.contains("id")) reply["id"] = parsed["id"];
      send_reply(reply.dump());
      for (std::string& fault : *faulty) connection.out.send(std::move(fault));
      if (!faulty->empty()) connection.out.send(std::string());
      const std::string key = text_field(parsed, "key").value_or("");
      if (key == "close") open = false;
      if (key == "clip") {
        const double seconds = parsed.value("value", 0.0);
        const auto renamed = faults_.events_as.find("[Main]");
        connection.faults.emplace_back(
            [&connection, out = connection.out,
             group = renamed == faults_.events_as.end() ? "[Main]"
                                                        : renamed->second,
             flips = 2 * static_cast<int>(std::ceil(seconds * 5))]() mutable {
              for (int i = 0; i < flips && !connection.ending; ++i) {
                out.send(json({{"event", "changed"},
                               {"group", group},
                               {"key", "peak_indicator"},
                               {"value", i % 2 == 0 ? 1 : 0}})
                             .dump() +
                         "\n");
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
              }
            });
      }
      continue;
    }
    const auto cmd = parsed.is_object() && parsed.contains("cmd") &&
                             parsed["cmd"].is_string()
                         ? parsed["cmd"].get<std::string>()
                         : std::string();
    const std::string key = text_field(parsed, "key").value_or("");
    if (cmd == "watch" && greeted_at &&
        std::chrono::steady_clock::now() <
            *greeted_at + std::chrono::milliseconds(faults_.watch_fails_ms)) {
      ++requests;
      json refused = {{"ok", false}, {"error", "not ready"}};
      if (parsed.contains("id")) refused["id"] = parsed["id"];
      send_reply(refused.dump());
      continue;
    }
    // An ignored set is answered as a get of the control: its value, as
    // it stays.
    json ignored;
    if (cmd == "set" && faults_.ignore_set.contains(key)) {
      ignored = parsed;
      ignored["cmd"] = "get";
      ignored.erase("value");
    }
    auto reply =
        answer_request(model_, token_, faults_.refuse_hello, connection.session,
                       mutex_, ignored.is_null() ? line : ignored.dump());
    if (!reply) continue;
    ++requests;
    if (cmd == "hello" && connection.session.greeted && !greeted_at) {
      greeted_at = std::chrono::steady_clock::now();
    }
    const auto late = faults_.late_set.find(key);
    const bool late_set = cmd == "set" && late != faults_.late_set.end();
    if (cmd == "get" && faults_.wrong_scale &&
        text_field(parsed, "prop") == "parameter") {
      json swapped = json::parse(*reply);
      auto value = model_.get(text_field(parsed, "group").value_or(""), key,
                              Prop::value);
      if (swapped.value("ok", false) && value) swapped["value"] = *value;
      reply = swapped.dump();
    }
    if (cmd == "get" && faults_.one_channel_positions &&
        key.ends_with("_position")) {
      json halved = json::parse(*reply);
      const auto value = halved.find("value");
      if (value != halved.end() && value->is_number() &&
          value->get<double>() > 0) {
        *value = value->get<double>() / 2;
      }
      reply = halved.dump();
    }
    if (cmd == "get" && faults_.no_value.contains(key)) {
      json without = json::parse(*reply);
      without.erase("value");
      reply = without.dump();
    }
    if (late_set) {
      send_later(*reply, std::chrono::steady_clock::now() +
                             std::chrono::milliseconds(late->second));
    } else if (!faults_.drop_reply.contains(cmd)) {
      send_reply(*reply);
    }
    if (const auto stall = faults_.stall_after.find(key);
        cmd == "set" && stall != faults_.stall_after.end() &&
        parsed.value("value", json()) == 0) {
      stall_until = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(stall->second);
    }
    if (faults_.close_after && requests >= *faults_.close_after) open = false;
  }

  {
    std::lock_guard lock(mutex_);
    current_ = nullptr;
  }
  connection.ending = true;
  for (std::thread& fault : connection.faults) fault.join();
  if (delayer.joinable()) {
    {
      std::lock_guard lock(connection.delayed_mutex);
      connection.delays_ending = true;
    }
    connection.delayed_changed.notify_all();
    delayer.join();
  }
  connection.out.reset();
  writer.join();
  socket->shutdown();
}

}  // namespace kelvosim
