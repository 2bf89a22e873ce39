// Test-only helpers: a running Kelvo simulator (tools/kelvosim) for one test,
// a fake Kelvo process, temporary folders, whole-file reads and map lookups.
// Never part of the program.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/os.h"
#include "base/process.h"
#include "base/result.h"

namespace orvalin {

// A running kelvosim for one test; killed on destruction. Its temporary
// folder (port file, trace) is removed then too. Any thread may read it.
class KelvoSim {
 public:
  // Starts the program named by ORVALIN_KELVOSIM with --force-plugin,
  // --port 0, --port-file, --trace, a fresh token and `options`, and waits
  // (up to about 10 seconds) until it listens. nullptr, with the reason
  // printed to standard error, when it cannot start.
  static std::unique_ptr<KelvoSim> start(std::vector<std::string> options = {});

  uint16_t port() const { return port_; }
  const std::string& token() const { return token_; }
  std::shared_ptr<Process> process() const { return process_; }
  // The request lines received so far, one compact JSON object each.
  std::vector<std::string> trace() const;

  KelvoSim(const KelvoSim&) = delete;
  KelvoSim& operator=(const KelvoSim&) = delete;
  ~KelvoSim();

 private:
  KelvoSim() = default;

  std::filesystem::path dir_;
  std::filesystem::path trace_path_;
  std::shared_ptr<Process> process_;
  std::string token_;
  uint16_t port_ = 0;
};

// A Kelvo that runs for `running_polls` checks (-1: for ever), then is in
// state `then`. By default this test program stands in for it: its
// listeners are Kelvo's.
class FakeProcess final : public Process {
 public:
  explicit FakeProcess(
      int running_polls, ProcessState::Kind then = ProcessState::Kind::exited,
      uint32_t id = static_cast<uint32_t>(current_process_id()))
      : id_(id), running_polls_(running_polls), then_(then) {}
  uint32_t id() const override { return id_; }
  ProcessState poll() override {
    ProcessState state;
    const int before = polls_.fetch_add(1);
    if (running_polls_ >= 0 && before >= running_polls_) {
      state.kind = then_;
      state.error = "no such process";
    }
    return state;
  }
  void kill() override {}
  std::optional<uint32_t> wait() override { return 0; }
  int polls() const { return polls_.load(); }

 private:
  const uint32_t id_;
  const int running_polls_;
  const ProcessState::Kind then_;
  std::atomic<int> polls_{0};
};

// A new, empty folder with a unique name beginning with `prefix`, under
// temp_dir(). Stops the test program when it cannot be made.
std::filesystem::path make_temp_dir(std::string_view prefix);

// The whole file; empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// 32 lowercase hexadecimal digits from the random device.
std::string make_test_token();

// A result's error text, or "(no error)" when it holds a value: a failure's
// text compared in one step.
template <class T>
std::string error_text(const Result<T>& result) {
  return result ? "(no error)" : result.error();
}

// A lookup in `map` (an environment, a table of sessions).
template <class Map>
auto lookup_in(const Map& map) {
  return [&map](const auto& key) -> std::optional<typename Map::mapped_type> {
    const auto at = map.find(typename Map::key_type(key));
    if (at == map.end()) return std::nullopt;
    return at->second;
  };
}

}  // namespace orvalin
