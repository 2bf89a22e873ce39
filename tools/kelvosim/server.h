// The plugin's side of the JSON-lines protocol: one connection at a time,
// hello with the token, the eight other commands, change events for watched
// controls, a request trace, and the faults asked for on the command line.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "model.h"
#include "net/socket.h"
#include "options.h"

namespace kelvosim {

using orvalin::Listener;
using orvalin::Stream;

// Appends request lines to the trace file, one JSON object per line, each
// flushed at once so that tests can read it while the simulator runs. Any
// thread.
class Trace {
 public:
  explicit Trace(const std::string& path);  // "" records nothing
  ~Trace();
  void record(const std::string& line);

 private:
  std::mutex mutex_;  // guards file_
  std::FILE* file_ = nullptr;
};

// What one connection has asked for so far. Used by the connection's reader
// thread; the watch set is also read by the thread that reports changes,
// under Server's mutex.
struct Session {
  bool greeted = false;
  // Watched controls: (storage group, key) -> the group names the client
  // used for them ("[Main]" and "[Master]" are one group).
  std::map<std::pair<std::string, std::string>, std::set<std::string>> watched;
};

// Answers one request object. nullopt for a line that is no request at all
// (not an object). Runs on the reader thread; locks `watch_mutex` while it
// changes the session's watch set.
std::optional<std::string> answer_request(Model& model,
                                          const std::string& token,
                                          bool refuse_hello, Session& session,
                                          std::mutex& watch_mutex,
                                          const std::string& line);

class Server {
 public:
  Server(Model& model, std::string token, FaultOptions faults, Trace& trace);
  ~Server();

  // Accepts and serves connections one after another; never returns.
  [[noreturn]] void serve(Listener& listener);

  // Serves one connection until the peer closes it or a fault ends it.
  void serve_connection(std::unique_ptr<Stream> socket);

 private:
  struct Connection;
  void report_change(const Change& change);

  Model& model_;
  const std::string token_;
  const FaultOptions faults_;
  Trace& trace_;
  std::mutex mutex_;  // guards current_ and the current session's watch set
  Connection* current_ = nullptr;
};

}  // namespace kelvosim
