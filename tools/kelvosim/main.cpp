// kelvosim: plays Kelvo with the Orvalin plugin loaded, for tests.
//
// Like Kelvo, it "loads the plugin" only when QT_QPA_GENERIC_PLUGINS is
// "orvalin" and the first entry of QT_PLUGIN_PATH (";"-separated on Windows,
// ":" on Linux) holds generic/orvalin.dll (Linux: generic/liborvalin.so), or
// when told so with --force-plugin. With the plugin it reads ORVALIN_TOKEN and
// ORVALIN_PORT, raises the loaded signal (Windows: the named event
// "Local\OrvalinPluginLoaded-" + the token's first 16 bytes; Linux: an
// abstract Unix socket "OrvalinPluginLoaded-" + the same 16 bytes) and serves
// the JSON-lines protocol on 127.0.0.1, one connection at a time. Without
// the plugin it just runs and never signals. On Windows it shows a window
// titled "Kelvo" and brings it to the front.
//
// Its options, and the faults it injects, are listed once: `kelvosim --help`
// (usage_text() in options.cpp).

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "base/os.h"
#include "base/plugin.h"
#include "base/thread.h"
#include "base/utf.h"
#include "host.h"
#include "model.h"
#include "net/socket.h"
#include "options.h"
#include "server.h"

namespace {

using namespace kelvosim;

constexpr uint16_t kDefaultPort = 52764;

[[noreturn]] void sleep_forever() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// One line on standard error, for whoever reads the host's output.
void note(const std::string& text) {
  std::fprintf(stderr, "kelvosim: %s\n", text.c_str());
  std::fflush(stderr);
}

int complain(const std::string& text) {
  note(text);
  return 1;
}

// Writes the port next to `path` and renames it into place, so that a
// reader sees either no file or the whole number.
orvalin::Status write_port_file(const std::string& path, uint16_t port) {
  const auto target = orvalin::utf8_to_path(path);
  auto temporary = target;
  temporary += ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << port << '\n';
    if (!out.flush()) return orvalin::fail("cannot write " + path);
  }
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    return orvalin::fail("cannot write " + path + ": " +
                         orvalin::error_code_text(error));
  }
  return {};
}

int run(const Options& options) {
  // Shared with the window's thread, which outlives this function.
  const auto trace = std::make_shared<Trace>(options.trace);
  show_main_window([trace](const std::string& key) {
    // Key names are digits or X keysym names: nothing to escape.
    trace->record("{\"window_key\": \"" + key + "\"}");
  });

  if (options.exit_after_seconds) {
    const double seconds = *options.exit_after_seconds;
    orvalin::spawn_detached(
        "exit-timer",
        [seconds] {
          std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
          std::fflush(nullptr);
          std::_Exit(0);
        },
        "failed to spawn thread");
  }

  const bool loaded =
      options.force_plugin ||
      plugin_would_load(orvalin::get_env(orvalin::kQtGenericPluginsVariable),
                        orvalin::get_env(orvalin::kQtPluginPathVariable));
  if (!loaded) {
    note(
        "running without the plugin (QT_QPA_GENERIC_PLUGINS and "
        "QT_PLUGIN_PATH do not name it)");
    sleep_forever();
  }

  const auto token =
      options.token ? options.token : orvalin::get_env(orvalin::kTokenVariable);
  if (!token || token->empty()) {
    return complain("no token: ORVALIN_TOKEN is not set and --token is absent");
  }
  int port = kDefaultPort;
  if (options.port) {
    port = *options.port;
  } else if (const auto text = orvalin::get_env(orvalin::kPortVariable)) {
    port = std::atoi(text->c_str());
    if (port <= 0 || port > 65535) {
      return complain("ORVALIN_PORT is not a port: " + *text);
    }
  }

  Model model(options.model);
  Server server(model, *token, options.faults, *trace);
  const auto raise_signal = [&] {
    if (options.no_signal) return;
    if (auto raised =
            orvalin::raise_loaded_signal(orvalin::loaded_signal_name(*token));
        !raised) {
      note(raised.error());
    }
  };
  if (options.listen_when_free) raise_signal();
  auto listener = orvalin::listen_loopback(static_cast<uint16_t>(port));
  // A plugin that finds its port held by another program at first.
  while (options.listen_when_free && !listener) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    listener = orvalin::listen_loopback(static_cast<uint16_t>(port));
  }
  if (!listener) {
    return complain("cannot listen on 127.0.0.1:" + std::to_string(port) +
                    ": " + listener.error());
  }
  if (!options.port_file.empty()) {
    if (auto written = write_port_file(options.port_file, (*listener)->port());
        !written) {
      return complain(written.error());
    }
  }
  if (!options.listen_when_free) raise_signal();

  note("listening on 127.0.0.1:" + std::to_string((*listener)->port()));
  model.start_clock();
  server.serve(**listener);
}

}  // namespace

int main(int argc, char** argv) {
  auto options = parse_options(program_args(argc, argv));
  if (!options) {
    complain(options.error());
    return 1;
  }
  if (options->help) {
    std::fputs(usage_text(), stdout);
    return 0;
  }
  if (auto checked = check_model_options(options->model); !checked) {
    return complain(checked.error());
  }
  return run(*options);
}
