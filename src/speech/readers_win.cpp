#include "speech/readers_win.h"

#include <windows.h>

#include <string>
#include <utility>

#include "base/os.h"
#include "base/winstr.h"

namespace orvalin {

namespace {

// A library loaded from one full path; unloaded with the last reader using
// it.
class Library {
 public:
  explicit Library(HMODULE module) : module_(module) {}
  ~Library() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Null when the library does not export `name`.
  template <class Fn>
  Fn find(const char* name) const {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
};

// Null when the file is missing or does not load.
std::unique_ptr<Library> load_library(const std::filesystem::path& path) {
  if (!path_exists(path)) return nullptr;
  // No "cannot load" dialog for a broken file: nobody could see it.
  DWORD previous_mode = 0;
  const bool mode_set =
      SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_mode) != FALSE;
  // By its full path; its own dependencies from its folder and System32
  // only, never from the current folder or PATH.
  std::error_code ignored;
  const std::filesystem::path full = std::filesystem::absolute(path, ignored);
  const HMODULE module = LoadLibraryExW(
      full.c_str(), nullptr,
      LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (mode_set) SetThreadErrorMode(previous_mode, nullptr);
  if (module == nullptr) return nullptr;
  return std::make_unique<Library>(module);
}

// Every entry point of the three libraries is stdcall (WINAPI), as their
// kits declare them; on x64 that is the only convention, elsewhere a wrong
// one would corrupt the stack.
namespace nvda {
using TestIfRunning = unsigned long(WINAPI*)();
using SpeakText = unsigned long(WINAPI*)(const wchar_t*);
using CancelSpeech = unsigned long(WINAPI*)();
using BrailleMessage = unsigned long(WINAPI*)(const wchar_t*);
}  // namespace nvda

class NvdaReader : public Reader {
 public:
  NvdaReader(std::unique_ptr<Library> library, nvda::TestIfRunning running,
             nvda::SpeakText speak, nvda::CancelSpeech cancel,
             nvda::BrailleMessage braille)
      : library_(std::move(library)),
        running_(running),
        speak_(speak),
        cancel_(cancel),
        braille_(braille) {}

  bool is_running() override { return running_() == 0; }
  void speak(std::string_view text, bool interrupt) override {
    // speakText queues after what NVDA is saying: cutting off is ours.
    if (interrupt) cancel_();
    speak_(to_wide(text).c_str());
  }
  void stop() override { cancel_(); }
  void braille(std::string_view text) override {
    braille_(to_wide(text).c_str());
  }

 private:
  std::unique_ptr<Library> library_;
  nvda::TestIfRunning running_;
  nvda::SpeakText speak_;
  nvda::CancelSpeech cancel_;
  nvda::BrailleMessage braille_;
};

namespace zdsr {
using InitTts = int(WINAPI*)(int, const wchar_t*, BOOL);
using Speak = int(WINAPI*)(const wchar_t*, BOOL);
using GetSpeakState = int(WINAPI*)();
using StopSpeak = void(WINAPI*)();
using Braille = int(WINAPI*)(const wchar_t*, BOOL);
// GetSpeakState's answers while ZDSR runs (1: version mismatch, 2: not
// running).
constexpr int kSpeaking = 3;
constexpr int kIdle = 4;
}  // namespace zdsr

class ZdsrReader : public Reader {
 public:
  ZdsrReader(std::unique_ptr<Library> library, zdsr::Speak speak,
             zdsr::GetSpeakState state, zdsr::StopSpeak stop,
             zdsr::Braille braille)
      : library_(std::move(library)),
        speak_(speak),
        state_(state),
        stop_(stop),
        braille_(braille) {}

  bool is_running() override {
    const int state = state_();
    return state == zdsr::kSpeaking || state == zdsr::kIdle;
  }
  void speak(std::string_view text, bool interrupt) override {
    speak_(to_wide(text).c_str(), interrupt ? TRUE : FALSE);
  }
  void stop() override { stop_(); }
  void braille(std::string_view text) override {
    // Older versions have no braille. Shown as a flash message, as the
    // other readers show theirs.
    if (braille_ != nullptr) braille_(to_wide(text).c_str(), TRUE);
  }

 private:
  std::unique_ptr<Library> library_;
  zdsr::Speak speak_;
  zdsr::GetSpeakState state_;
  zdsr::StopSpeak stop_;
  zdsr::Braille braille_;
};

namespace sa {
using SayW = BOOL(WINAPI*)(const wchar_t*);
using BrlShowTextW = BOOL(WINAPI*)(const wchar_t*);
using StopAudio = BOOL(WINAPI*)();
using IsRunning = BOOL(WINAPI*)();
}  // namespace sa

class SystemAccessReader : public Reader {
 public:
  SystemAccessReader(std::unique_ptr<Library> library, sa::SayW say,
                     sa::BrlShowTextW braille, sa::StopAudio stop,
                     sa::IsRunning running)
      : library_(std::move(library)),
        say_(say),
        braille_(braille),
        stop_(stop),
        running_(running) {}

  bool is_running() override { return running_() != FALSE; }
  void speak(std::string_view text, bool interrupt) override {
    // SA_SayW queues like NVDA's speakText.
    if (interrupt) stop_();
    say_(to_wide(text).c_str());
  }
  void stop() override { stop_(); }
  void braille(std::string_view text) override {
    braille_(to_wide(text).c_str());
  }

 private:
  std::unique_ptr<Library> library_;
  sa::SayW say_;
  sa::BrlShowTextW braille_;
  sa::StopAudio stop_;
  sa::IsRunning running_;
};

}  // namespace

std::unique_ptr<Reader> load_nvda(
    const std::vector<std::filesystem::path>& candidates) {
  for (const std::filesystem::path& candidate : candidates) {
    std::unique_ptr<Library> library = load_library(candidate);
    if (!library) continue;
    const auto running =
        library->find<nvda::TestIfRunning>("nvdaController_testIfRunning");
    const auto speak =
        library->find<nvda::SpeakText>("nvdaController_speakText");
    const auto cancel =
        library->find<nvda::CancelSpeech>("nvdaController_cancelSpeech");
    const auto braille =
        library->find<nvda::BrailleMessage>("nvdaController_brailleMessage");
    if (running == nullptr || speak == nullptr || cancel == nullptr ||
        braille == nullptr) {
      return nullptr;
    }
    return std::make_unique<NvdaReader>(std::move(library), running, speak,
                                        cancel, braille);
  }
  return nullptr;
}

std::unique_ptr<Reader> load_zdsr(const std::filesystem::path& path) {
  std::unique_ptr<Library> library = load_library(path);
  if (!library) return nullptr;
  const auto init = library->find<zdsr::InitTts>("InitTTS");
  const auto speak = library->find<zdsr::Speak>("Speak");
  const auto state = library->find<zdsr::GetSpeakState>("GetSpeakState");
  const auto stop = library->find<zdsr::StopSpeak>("StopSpeak");
  if (init == nullptr || speak == nullptr || state == nullptr ||
      stop == nullptr) {
    return nullptr;
  }
  // Called once, as ZDSR's kit says: type 0, no channel name, and key
  // presses do not cut Orvalin's speech off (Orvalin decides what
  // interrupts).
  if (init(0, nullptr, FALSE) != 0) return nullptr;
  const auto braille = library->find<zdsr::Braille>("Braille");
  return std::make_unique<ZdsrReader>(std::move(library), speak, state, stop,
                                      braille);
}

std::unique_ptr<Reader> load_system_access(const std::filesystem::path& path) {
  std::unique_ptr<Library> library = load_library(path);
  if (!library) return nullptr;
  const auto say = library->find<sa::SayW>("SA_SayW");
  const auto braille = library->find<sa::BrlShowTextW>("SA_BrlShowTextW");
  const auto stop = library->find<sa::StopAudio>("SA_StopAudio");
  const auto running = library->find<sa::IsRunning>("SA_IsRunning");
  if (say == nullptr || braille == nullptr || stop == nullptr ||
      running == nullptr) {
    return nullptr;
  }
  return std::make_unique<SystemAccessReader>(std::move(library), say, braille,
                                              stop, running);
}

}  // namespace orvalin
