#include "testing/kelvosim.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "base/os.h"
#include "base/thread.h"
#include "base/utf.h"

namespace orvalin {

namespace {

// Says why the simulator did not start; no simulator.
std::unique_ptr<KelvoSim> complain(const std::string& text) {
  std::fprintf(stderr, "kelvosim: %s\n", text.c_str());
  std::fflush(stderr);
  return nullptr;
}

}  // namespace

std::string make_test_token() {
  std::random_device device;
  static constexpr char digits[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 32; ++i) token += digits[device() % 16];
  return token;
}

std::filesystem::path make_temp_dir(std::string_view prefix) {
  static std::atomic<uint64_t> counter{0};
  std::random_device device;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto path =
        temp_dir() / (std::string(prefix) + "-" + std::to_string(device()) +
                      "-" + std::to_string(counter.fetch_add(1)));
    std::error_code error;
    if (std::filesystem::create_directories(path, error)) return path;
  }
  fatal_stop("cannot make a temporary folder under " +
             path_to_utf8(temp_dir()));
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::unique_ptr<KelvoSim> KelvoSim::start(std::vector<std::string> options) {
  const auto program = get_env("ORVALIN_KELVOSIM");
  if (!program || program->empty()) {
    return complain("ORVALIN_KELVOSIM is not set");
  }
  std::unique_ptr<KelvoSim> sim(new KelvoSim);
  sim->dir_ = make_temp_dir("kelvosim");
  sim->trace_path_ = sim->dir_ / "trace.jsonl";
  sim->token_ = make_test_token();
  const auto port_file = sim->dir_ / "port";

  SpawnOptions spawn;
  spawn.program = *program;
  const std::string port_path = path_to_utf8(port_file);
  const std::string trace = path_to_utf8(sim->trace_path_);
  spawn.args = {"--force-plugin", "--port", "0",       "--port-file", port_path,
                "--trace",        trace,    "--token", sim->token_};
  spawn.args.insert(spawn.args.end(), options.begin(), options.end());
  auto started = spawn_process(spawn);
  if (!started) {
    return complain("cannot start " + *program + ": " + started.error());
  }
  sim->process_ = *started;

  // The port file appears (renamed into place, so whole) once it listens.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::string text = read_file(port_file);
    if (!text.empty()) {
      const unsigned long port = std::strtoul(text.c_str(), nullptr, 10);
      if (port == 0 || port > 65535) return complain("bad port file: " + text);
      sim->port_ = static_cast<uint16_t>(port);
      return sim;
    }
    const ProcessState state = sim->process_->poll();
    if (state.kind != ProcessState::Kind::running) {
      return complain(state.kind == ProcessState::Kind::exited
                          ? "exited with code " +
                                std::to_string(state.exit_code) +
                                " before listening"
                          : "cannot watch the process: " + state.error);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return complain("did not listen within 10 seconds");
}

std::vector<std::string> KelvoSim::trace() const {
  std::vector<std::string> lines;
  std::istringstream in(read_file(trace_path_));
  std::string line;
  // A line still being written has no terminator yet; leave it out.
  while (std::getline(in, line)) {
    if (in.eof()) break;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

KelvoSim::~KelvoSim() {
  if (process_) {
    process_->kill();
    process_->wait();
  }
  if (!dir_.empty()) {
    std::error_code error;
    std::filesystem::remove_all(dir_, error);
  }
}

}  // namespace orvalin
