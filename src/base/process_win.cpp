#include <windows.h>

#include <map>
#include <mutex>

#include "base/os.h"
#include "base/process.h"
#include "base/winstr.h"

namespace orvalin {

namespace {

// Appends `arg` quoted so that the MSVC runtime's command-line parser (and
// CommandLineToArgvW) gives it back unchanged: backslashes are literal
// except before a quote, where they and the quote are escaped.
void append_quoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line += c;
  }
  // Backslashes before the closing quote are doubled.
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// Upper-case form of a variable name: Windows compares names without case.
std::wstring fold_name(std::wstring name) {
  if (!name.empty()) {
    CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
  }
  return name;
}

// The current environment with the overrides applied, as a
// CREATE_UNICODE_ENVIRONMENT block sorted by name as Windows expects.
std::wstring environment_block(const std::map<std::string, std::string>& env) {
  std::map<std::wstring, std::wstring> entries;  // folded name -> "NAME=value"
  if (wchar_t* strings = GetEnvironmentStringsW()) {
    for (const wchar_t* p = strings; *p != L'\0'; p += wcslen(p) + 1) {
      const std::wstring item(p);
      // Names of the per-drive folders start with '='; the name ends at the
      // first '=' after the first character.
      const auto equals = item.find(L'=', 1);
      const std::wstring name = item.substr(0, equals);
      entries[fold_name(name)] = item;
    }
    FreeEnvironmentStringsW(strings);
  }
  for (const auto& [name, value] : env) {
    const std::wstring wide_name = to_wide(name);
    entries[fold_name(wide_name)] = wide_name + L"=" + to_wide(value);
  }
  std::wstring block;
  for (const auto& [folded, item] : entries) {
    block += item;
    block += L'\0';
  }
  if (entries.empty()) block += L'\0';
  block += L'\0';
  return block;
}

class WinProcess : public Process {
 public:
  WinProcess(HANDLE handle, DWORD id) : handle_(handle), id_(id) {}
  ~WinProcess() override { CloseHandle(handle_); }

  uint32_t id() const override { return id_; }

  ProcessState poll() override {
    std::lock_guard lock(mutex_);
    return exit_state();
  }

  void kill() override {
    std::lock_guard lock(mutex_);
    if (WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(handle_, 1);
    }
  }

  std::optional<uint32_t> wait() override {
    // Waiting on the handle needs no lock: the handle lives as long as this
    // object and the wait changes nothing.
    if (WaitForSingleObject(handle_, INFINITE) != WAIT_OBJECT_0) {
      return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    const ProcessState state = exit_state();
    if (state.kind == ProcessState::Kind::exited) return state.exit_code;
    return std::nullopt;
  }

 private:
  ProcessState exit_state() {
    ProcessState state;
    const DWORD waited = WaitForSingleObject(handle_, 0);
    if (waited == WAIT_TIMEOUT) return state;
    DWORD code = 0;
    if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(handle_, &code)) {
      state.kind = ProcessState::Kind::failed;
      state.error = last_os_error_text();
      return state;
    }
    state.kind = ProcessState::Kind::exited;
    state.exit_code = code;
    return state;
  }

  const HANDLE handle_;
  const DWORD id_;
  std::mutex mutex_;  // guards the non-waiting exit checks of handle_
};

}  // namespace

Result<std::shared_ptr<Process>> spawn_process(const SpawnOptions& options) {
  const std::wstring program = to_wide(options.program);
  std::wstring line;
  append_quoted(line, program);
  for (const auto& arg : options.args) {
    line += L' ';
    append_quoted(line, to_wide(arg));
  }
  std::wstring block = environment_block(options.env);
  std::wstring cwd;
  if (options.cwd) cwd = to_wide(*options.cwd);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                      CREATE_UNICODE_ENVIRONMENT, block.data(),
                      options.cwd ? cwd.c_str() : nullptr, &startup, &info)) {
    return fail(last_os_error_text());
  }
  CloseHandle(info.hThread);
  return std::make_shared<WinProcess>(info.hProcess, info.dwProcessId);
}

// A started program's windows and sockets are its own here: the Windows
// releases of Kelvo start no helper that owns them.
bool is_same_or_descendant(uint32_t pid, uint32_t ancestor) {
  return pid == ancestor;
}

}  // namespace orvalin
