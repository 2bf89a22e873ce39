#include <windows.h>
// windows.h first: sapi.h needs its types.
#include <objbase.h>
#include <sapi.h>

#include "base/os.h"
#include "base/winstr.h"
#include "speech/engines.h"
#include "speech/readers_win.h"
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
  WinSpeechEngines(const std::vector<std::filesystem::path>& nvda_candidates,
                   const std::filesystem::path& folder)
      : com_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {
    // Only by a full path beside the program: with no folder known, a bare
    // name would be looked for in the current folder.
    const bool beside = !folder.empty();
    for (ScreenReader kind : kWindowsReaders) {
      std::unique_ptr<Reader> reader;
      if (kind == ScreenReader::nvda) reader = load_nvda(nvda_candidates);
      if (kind == ScreenReader::jaws) reader = open_jaws();
      if (kind == ScreenReader::zdsr && beside) {
        reader = load_zdsr(folder / "ZDSRAPI_x64.dll");
      }
      if (kind == ScreenReader::system_access && beside) {
        reader = load_system_access(folder / "SAAPI64.dll");
      }
      readers_.push_back({kind, std::move(reader)});
    }
  }
  ~WinSpeechEngines() override {
    // JAWS's object belongs to this thread's COM set-up.
    readers_.clear();
    if (SUCCEEDED(com_)) CoUninitialize();
  }
  WinSpeechEngines(const WinSpeechEngines&) = delete;
  WinSpeechEngines& operator=(const WinSpeechEngines&) = delete;

  std::span<ReaderSlot> readers() override { return readers_; }

  bool window_exists(std::string_view class_name,
                     std::string_view title) override {
    // FindWindowW reads other programs' window titles without sending them
    // a message, so a hung reader cannot hang speech here.
    const std::wstring wide_class = to_wide(class_name);
    const std::wstring wide_title = to_wide(title);
    return FindWindowW(wide_class.c_str(),
                       title.empty() ? nullptr : wide_title.c_str()) != nullptr;
  }

  std::string_view voice_name() const override { return "SAPI"; }

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
  std::vector<ReaderSlot> readers_;
};

}  // namespace

unsigned long sapi_speak_flags(bool purge) {
  // SPF_IS_NOT_XML: titles like "<3 Remix" are text; without it SAPI reads
  // them as markup and says nothing, or changes voice.
  DWORD flags = SPF_ASYNC | SPF_IS_NOT_XML;
  if (purge) flags |= SPF_PURGEBEFORESPEAK;
  return flags;
}

std::unique_ptr<SpeechEngines> open_speech_engines(const Timing&) {
  std::vector<std::filesystem::path> candidates;
  std::filesystem::path folder;
  if (auto executable = executable_path()) {
    candidates = nvda_client_candidates(*executable);
    folder = executable->parent_path();
  }
  return std::make_unique<WinSpeechEngines>(candidates, folder);
}

}  // namespace orvalin
