#include <windows.h>
// windows.h first: objbase.h needs its types.
#include <objbase.h>
#include <oleauto.h>

#include <array>
#include <string>

#include "base/winlib.h"
#include "base/winstr.h"
#include "speech/readers_win.h"

namespace orvalin {

namespace {

// Defined here rather than taken from uuid.lib so that no further library
// is linked; the value is COM's own.
constexpr GUID kDispatchInterface = {
    0x00020400,
    0x0000,
    0x0000,
    {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kNoInterface = {};

// oleaut32 is not a load-time import (see base/winlib.h).
using SysAllocStringLenFn = BSTR(WINAPI*)(const OLECHAR*, UINT);
using SysFreeStringFn = void(WINAPI*)(BSTR);

// One BSTR argument; empty when oleaut32 is missing or memory is short.
class BstrArgument {
 public:
  explicit BstrArgument(std::string_view text) {
    static const auto alloc = system_function<SysAllocStringLenFn>(
        L"oleaut32.dll", "SysAllocStringLen");
    const std::wstring wide = to_wide(text);
    if (alloc != nullptr) {
      value_ = alloc(wide.c_str(), static_cast<UINT>(wide.size()));
    }
  }
  ~BstrArgument() {
    static const auto free_string =
        system_function<SysFreeStringFn>(L"oleaut32.dll", "SysFreeString");
    if (value_ != nullptr && free_string != nullptr) free_string(value_);
  }
  BstrArgument(const BstrArgument&) = delete;
  BstrArgument& operator=(const BstrArgument&) = delete;

  BSTR get() const { return value_; }

 private:
  BSTR value_ = nullptr;
};

// Filled by hand: VariantInit would be another oleaut32 import.
VARIANT bstr_variant(BSTR value) {
  VARIANT variant{};
  variant.vt = VT_BSTR;
  variant.bstrVal = value;
  return variant;
}

// JAWS's IJawsApi is a dual interface: bound late, through IDispatch, it
// needs no type library and works across apartments. The object is made
// once JAWS runs (its window is there) and made again after a call fails,
// since a JAWS that was restarted leaves the old object dead.
class JawsReader : public Reader {
 public:
  explicit JawsReader(const CLSID& api) : api_(api) {}
  ~JawsReader() override { release(); }
  JawsReader(const JawsReader&) = delete;
  JawsReader& operator=(const JawsReader&) = delete;

  bool is_running() override { return object_ != nullptr || create(); }

  void speak(std::string_view text, bool interrupt) override {
    BstrArgument said(text);
    if (said.get() == nullptr) return;
    // Arguments go last first: SayString(text, flush).
    std::array<VARIANT, 2> arguments = {VARIANT{}, bstr_variant(said.get())};
    arguments[0].vt = VT_BOOL;
    arguments[0].boolVal = interrupt ? VARIANT_TRUE : VARIANT_FALSE;
    call(kSayString, arguments.data(), 2);
  }

  void stop() override { call(kStopSpeech, nullptr, 0); }

  void braille(std::string_view text) override {
    BstrArgument script(jaws_braille_call(text));
    if (script.get() == nullptr) return;
    VARIANT argument = bstr_variant(script.get());
    call(kRunFunction, &argument, 1);
  }

 private:
  enum Method { kSayString, kStopSpeech, kRunFunction };

  bool create() {
    IDispatch* object = nullptr;
    if (FAILED(CoCreateInstance(
            api_, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
            kDispatchInterface, reinterpret_cast<void**>(&object))) ||
        object == nullptr) {
      return false;
    }
    object_ = object;
    static constexpr std::array<const wchar_t*, 3> kNames = {
        L"SayString", L"StopSpeech", L"RunFunction"};
    for (size_t i = 0; i < kNames.size(); ++i) {
      LPOLESTR name = const_cast<LPOLESTR>(kNames[i]);
      if (FAILED(object_->GetIDsOfNames(kNoInterface, &name, 1,
                                        LOCALE_USER_DEFAULT, &ids_[i]))) {
        release();
        return false;
      }
    }
    return true;
  }

  void release() {
    if (object_ != nullptr) object_->Release();
    object_ = nullptr;
  }

  // A failed call is made once more on a new object: the first call after
  // JAWS restarted fails on the dead one, and its sentence would be lost.
  void call(Method method, VARIANT* arguments, UINT count) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (object_ == nullptr && !create()) return;
      DISPPARAMS parameters = {arguments, nullptr, count, 0};
      const HRESULT result = object_->Invoke(
          ids_[method], kNoInterface, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
          &parameters, nullptr, nullptr, nullptr);
      if (SUCCEEDED(result)) return;
      release();
    }
  }

  CLSID api_;
  IDispatch* object_ = nullptr;
  std::array<DISPID, 3> ids_ = {};
};

}  // namespace

std::unique_ptr<Reader> open_jaws() {
  CLSID api;
  if (FAILED(CLSIDFromProgID(L"FreedomSci.JawsApi", &api))) return nullptr;
  return std::make_unique<JawsReader>(api);
}

}  // namespace orvalin
