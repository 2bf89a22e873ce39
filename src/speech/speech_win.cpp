#include <windows.h>
// windows.h first: sapi.h needs its types.
#include <objbase.h>
#include <sapi.h>

#include "base/os.h"
#include "base/winstr.h"
#include "speech/engines.h"
#include "speech/sapi_win.h"

namespace orvalin {

namespace {

// Defined here rather than taken from uuid.lib so that no further library
// is linked; the values are SAPI 5's own.
constexpr GUID kSpVoiceClass = {
    0x96749377,
    0x3391,
    0x11d2,
    {0x9e, 0xe3, 0x00, 0xc0, 0x4f, 0x79, 0x73, 0x96}};
constexpr GUID kSpVoiceInterface = {
    0x6c44df74,
    0x72b9,
    0x4992,
    {0xa1, 0xec, 0xef, 0x99, 0x6e, 0x04, 0x22, 0xd4}};

// The controller client's calling convention is stdcall (the only one on
// x64).
using TestIfRunningFn = unsigned long(__stdcall*)();
using SpeakTextFn = unsigned long(__stdcall*)(const wchar_t*);
using CancelSpeechFn = unsigned long(__stdcall*)();

template <class Fn>
Fn find_function(HMODULE library, const char* name) {
  return reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(library, name)));
}

class WinNvdaClient : public NvdaClient {
 public:
  WinNvdaClient(HMODULE library, TestIfRunningFn test_if_running,
                SpeakTextFn speak_text, CancelSpeechFn cancel_speech)
      : library_(library),
        test_if_running_(test_if_running),
        speak_text_(speak_text),
        cancel_speech_(cancel_speech) {}
  ~WinNvdaClient() override { FreeLibrary(library_); }
  WinNvdaClient(const WinNvdaClient&) = delete;
  WinNvdaClient& operator=(const WinNvdaClient&) = delete;

  bool is_running() override { return test_if_running_() == 0; }
  void speak_text(std::string_view text) override {
    const std::wstring wide = to_wide(text);
    speak_text_(wide.c_str());
  }
  void cancel_speech() override { cancel_speech_(); }

 private:
  HMODULE library_;
  TestIfRunningFn test_if_running_;
  SpeakTextFn speak_text_;
  CancelSpeechFn cancel_speech_;
};

HMODULE load_library_quietly(const std::filesystem::path& path) {
  // No "cannot load" dialog for a broken file: nobody could see it.
  DWORD previous_mode = 0;
  const bool mode_set =
      SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_mode) != FALSE;
  // By its full path; its own dependencies from its folder and System32
  // only, never from the current folder or PATH.
  std::error_code ignored;
  const std::filesystem::path full = std::filesystem::absolute(path, ignored);
  const HMODULE library = LoadLibraryExW(
      full.c_str(), nullptr,
      LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (mode_set) SetThreadErrorMode(previous_mode, nullptr);
  return library;
}

std::unique_ptr<NvdaClient> load_nvda_client(
    const std::vector<std::filesystem::path>& candidates) {
  for (const std::filesystem::path& candidate : candidates) {
    if (!path_exists(candidate)) continue;
    const HMODULE library = load_library_quietly(candidate);
    if (library == nullptr) continue;
    const auto test_if_running =
        find_function<TestIfRunningFn>(library, "nvdaController_testIfRunning");
    const auto speak_text =
        find_function<SpeakTextFn>(library, "nvdaController_speakText");
    const auto cancel_speech =
        find_function<CancelSpeechFn>(library, "nvdaController_cancelSpeech");
    if (test_if_running == nullptr || speak_text == nullptr ||
        cancel_speech == nullptr) {
      // A library that loads but is not the client ends the search.
      FreeLibrary(library);
      return nullptr;
    }
    return std::make_unique<WinNvdaClient>(library, test_if_running, speak_text,
                                           cancel_speech);
  }
  return nullptr;
}

// Owns one COM reference.
struct ComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};
using VoicePtr = std::unique_ptr<ISpVoice, ComRelease>;

class WinSapiVoice : public SapiVoice {
 public:
  explicit WinSapiVoice(VoicePtr voice) : voice_(std::move(voice)) {}

  void speak(std::string_view text, bool purge) override {
    const std::wstring wide = to_wide(text);
    voice_->Speak(wide.c_str(), sapi_speak_flags(purge), nullptr);
  }
  void purge() override {
    voice_->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
  }

 private:
  VoicePtr voice_;
};

class WinSpeechEngines : public SpeechEngines {
 public:
  explicit WinSpeechEngines(
      const std::vector<std::filesystem::path>& nvda_candidates)
      : com_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)),
        nvda_(load_nvda_client(nvda_candidates)) {}
  ~WinSpeechEngines() override {
    nvda_.reset();
    if (SUCCEEDED(com_)) CoUninitialize();
  }
  WinSpeechEngines(const WinSpeechEngines&) = delete;
  WinSpeechEngines& operator=(const WinSpeechEngines&) = delete;

  NvdaClient* nvda() override { return nvda_.get(); }

  Result<std::unique_ptr<SapiVoice>> create_voice() override {
    ISpVoice* raw = nullptr;
    const HRESULT result =
        CoCreateInstance(kSpVoiceClass, nullptr, CLSCTX_ALL, kSpVoiceInterface,
                         reinterpret_cast<void**>(&raw));
    VoicePtr voice(raw);
    if (FAILED(result)) {
      return fail(os_error_text(static_cast<unsigned long>(result)));
    }
    if (!voice) return fail("no voice object");
    return std::make_unique<WinSapiVoice>(std::move(voice));
  }

 private:
  // The result of the thread's COM set-up; only a successful one is undone.
  HRESULT com_;
  std::unique_ptr<NvdaClient> nvda_;
};

}  // namespace

unsigned long sapi_speak_flags(bool purge) {
  // SPF_IS_NOT_XML: titles like "<3 Remix" are text; without it SAPI reads
  // them as markup and says nothing, or changes voice.
  DWORD flags = SPF_ASYNC | SPF_IS_NOT_XML;
  if (purge) flags |= SPF_PURGEBEFORESPEAK;
  return flags;
}

std::unique_ptr<SpeechEngines> open_speech_engines(
    const std::vector<std::filesystem::path>& nvda_candidates) {
  return std::make_unique<WinSpeechEngines>(nvda_candidates);
}

std::unique_ptr<SpeechEngines> open_speech_engines() {
  std::vector<std::filesystem::path> candidates;
  if (auto executable = executable_path()) {
    candidates = nvda_client_candidates(*executable);
  }
  return open_speech_engines(candidates);
}

}  // namespace orvalin
