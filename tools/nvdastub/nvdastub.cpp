// A test double of the screen readers' programming interfaces, in one
// library that tests put where the program looks for each: as
// nvdaControllerClient.dll (NVDA's controller client), ZDSRAPI_x64.dll
// (ZDSR), SAAPI64.dll (System Access), and registered as the in-process
// server of JAWS's COM class "FreedomSci.JawsApi" (late bound only). Every
// call is recorded as one line of the file named by ORVALIN_<READER>_STUB_LOG
// (NVDA, JAWS, ZDSR, SA): "speak TEXT" ("speak interrupt TEXT" where the call
// has an interrupt flag), "cancel" or "stop", "braille TEXT", and for JAWS
// "run ARGUMENT" of RunFunction. Every reader claims to run. With
// ORVALIN_JAWS_STUB_FAIL_ONCE set, the first JAWS call of the process fails
// as one on the object of a JAWS that has since restarted does, and is not
// recorded. Never shipped.
#include <windows.h>
// windows.h first: objbase.h needs its types.
#include <objbase.h>
#include <oleauto.h>

#include <string>

namespace {

// Empty when the variable is not set. Read at every call, so that a test can
// change it while the library is loaded.
std::wstring env(const wchar_t* name) {
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD got = GetEnvironmentVariableW(name, value.data(),
                                              static_cast<DWORD>(value.size()));
    if (got == 0) return std::wstring();
    if (got < value.size()) {
      value.resize(got);
      return value;
    }
    value.resize(got);
  }
}

std::string utf8(const wchar_t* text, int wide_length = -1) {
  if (text == nullptr) return "(null)";
  if (wide_length < 0) wide_length = lstrlenW(text);
  if (wide_length == 0) return std::string();
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, wide_length, nullptr,
                                         0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, wide_length, bytes.data(), length,
                      nullptr, nullptr);
  return bytes;
}

// Without the reader's variable nothing is recorded: programs that find the
// stub but are not testing speech just talk to a silent reader.
void record(const wchar_t* reader_variable, const std::string& line) {
  const std::wstring path = env(reader_variable);
  if (path.empty()) return;
  const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string bytes = line + "\n";
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
            nullptr);
  CloseHandle(file);
}

constexpr const wchar_t* kNvda = L"ORVALIN_NVDA_STUB_LOG";
constexpr const wchar_t* kJaws = L"ORVALIN_JAWS_STUB_LOG";
constexpr const wchar_t* kZdsr = L"ORVALIN_ZDSR_STUB_LOG";
constexpr const wchar_t* kSa = L"ORVALIN_SA_STUB_LOG";

// JAWS's API object: IDispatch with the three methods the program uses.
// The tests register it with ThreadingModel "Apartment", so that COM makes
// it in an apartment of its own and the program's calls from its
// multithreaded apartment cross over through IDispatch's marshalling.
constexpr GUID kJawsClass = {0xcce5b1e5,
                             0xb2ed,
                             0x45d5,
                             {0xb0, 0x9f, 0x8e, 0xc5, 0x4b, 0x75, 0xab, 0xf4}};
enum : DISPID { kSayString = 1, kStopSpeech, kRunFunction };

std::string bstr_text(const VARIANT& variant) {
  if (variant.vt != VT_BSTR) return "(not a BSTR)";
  // The length prefix, not the terminator: a real BSTR has both.
  const UINT length =
      variant.bstrVal == nullptr
          ? 0
          : reinterpret_cast<const UINT*>(variant.bstrVal)[-1] / 2;
  return utf8(variant.bstrVal, static_cast<int>(length));
}

class JawsApi : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IDispatch)) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&references_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count,
                                          LCID, DISPID* ids) override {
    static const wchar_t* const kNames[] = {L"SayString", L"StopSpeech",
                                            L"RunFunction"};
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (DISPID k = 0; k < 3; ++k) {
        if (lstrcmpiW(names[i], kNames[k]) == 0) ids[i] = k + 1;
      }
      if (ids[i] == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD,
                                   DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    static LONG failed_once = 0;
    if (!env(L"ORVALIN_JAWS_STUB_FAIL_ONCE").empty() &&
        InterlockedExchange(&failed_once, 1) == 0) {
      return RPC_E_DISCONNECTED;
    }
    const VARIANT* args = parameters->rgvarg;  // last argument first
    const UINT count = parameters->cArgs;
    if (id == kSayString && count == 2) {
      const VARIANT& flush = args[0];
      std::string line = "speak ";
      if (flush.vt != VT_BOOL) {
        line += "(flush not a VARIANT_BOOL) ";
      } else if (flush.boolVal == VARIANT_TRUE) {
        line += "interrupt ";
      } else if (flush.boolVal != VARIANT_FALSE) {
        line += "(flush " + std::to_string(flush.boolVal) + ") ";
      }
      record(kJaws, line + bstr_text(args[1]));
    } else if (id == kStopSpeech && count == 0) {
      record(kJaws, "stop");
    } else if (id == kRunFunction && count == 1) {
      record(kJaws, "run " + bstr_text(args[0]));
    } else {
      return DISP_E_BADPARAMCOUNT;
    }
    return S_OK;
  }

 private:
  LONG references_ = 1;
};

class JawsFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Static: never deleted.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID id,
                                           void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    JawsApi* api = new JawsApi;
    const HRESULT result = api->QueryInterface(id, out);
    api->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

JawsFactory jaws_factory;

}  // namespace

extern "C" {

// NVDA's controller client.
__declspec(dllexport) unsigned long WINAPI nvdaController_testIfRunning() {
  return 0;
}
__declspec(dllexport) unsigned long WINAPI
    nvdaController_speakText(const wchar_t* text) {
  record(kNvda, "speak " + utf8(text));
  return 0;
}
__declspec(dllexport) unsigned long WINAPI nvdaController_cancelSpeech() {
  record(kNvda, "cancel");
  return 0;
}
__declspec(dllexport) unsigned long WINAPI
    nvdaController_brailleMessage(const wchar_t* text) {
  record(kNvda, "braille " + utf8(text));
  return 0;
}

// ZDSR.
__declspec(dllexport) int WINAPI
    InitTTS(int type, const wchar_t* channel, BOOL key_down_interrupt) {
  return type == 0 && channel == nullptr && !key_down_interrupt ? 0 : 1;
}
__declspec(dllexport) int WINAPI Speak(const wchar_t* text, BOOL interrupt) {
  record(kZdsr, (interrupt ? "speak interrupt " : "speak ") + utf8(text));
  return 0;
}
__declspec(dllexport) int WINAPI GetSpeakState() { return 4; }  // idle
__declspec(dllexport) void WINAPI StopSpeak() { record(kZdsr, "stop"); }
__declspec(dllexport) int WINAPI Braille(const wchar_t* text, BOOL) {
  record(kZdsr, "braille " + utf8(text));
  return 0;
}

// System Access.
__declspec(dllexport) BOOL WINAPI SA_SayW(const wchar_t* text) {
  record(kSa, "speak " + utf8(text));
  return TRUE;
}
__declspec(dllexport) BOOL WINAPI SA_BrlShowTextW(const wchar_t* text) {
  record(kSa, "braille " + utf8(text));
  return TRUE;
}
__declspec(dllexport) BOOL WINAPI SA_StopAudio() {
  record(kSa, "stop");
  return TRUE;
}
__declspec(dllexport) BOOL WINAPI SA_IsRunning() { return TRUE; }

// JAWS's COM server.
__declspec(dllexport) HRESULT WINAPI
    DllGetClassObject(REFCLSID id, REFIID interface_id, void** out) {
  if (!IsEqualCLSID(id, kJawsClass)) {
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return jaws_factory.QueryInterface(interface_id, out);
}
__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

}  // extern "C"
