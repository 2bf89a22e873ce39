#include "kelvocheck/kelvocheck.h"

#include <filesystem>

#include "base/sentences.h"
#include "base/utf.h"

namespace orvalin {

namespace {

constexpr uint16_t kQtMajor = 6;
constexpr uint16_t kQtMinor = 5;

std::string version_text(const FileVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) +
         "." + std::to_string(version.build);
}

bool qt_fits(const FileVersion& version) {
  return version.major == kQtMajor && version.minor >= kQtMinor;
}

}  // namespace

std::string kelvo_version_line_with(const std::string& kelvo_path,
                                    const QtCheckInputs& inputs) {
  const auto version = inputs.read_version(kelvo_path);
  return "Kelvo " + (version ? version_text(*version) : "unknown version");
}

namespace {

std::string refusal(const std::string& version_line, const std::string& uses) {
  const std::string major = std::to_string(kQtMajor);
  return fill(kQtNotSupported,
              {version_line, uses, major, std::to_string(kQtMinor), major});
}

}  // namespace

std::optional<std::string> qt_refusal(
    const std::string& version_line,
    const std::optional<FileVersion>& version) {
  if (version && qt_fits(*version)) return std::nullopt;
  return refusal(version_line, version ? "Qt " + version_text(*version)
                                       : "Qt unknown version");
}

std::optional<std::string> check_qt_with(const std::string& kelvo_path,
                                         const QtCheckInputs& inputs) {
  const std::filesystem::path dir = utf8_to_path(kelvo_path).parent_path();
  if (dir.empty()) return std::nullopt;
  const std::string library =
      path_to_utf8(dir / ("Qt" + std::to_string(kQtMajor) + "Core.dll"));
  const auto version = inputs.read_version(library);
  if (version && qt_fits(*version)) return std::nullopt;
  const std::string version_line = kelvo_version_line_with(kelvo_path, inputs);
  if (!inputs.exists(library)) {
    return refusal(version_line, "a different Qt version");
  }
  return qt_refusal(version_line, version);
}

std::optional<FileVersion> version_from_library_name(std::string_view name) {
  // The name's part after ".so.": three numbers, as the soname's major
  // version alone says nothing of the minor one.
  const size_t so = name.rfind(".so.");
  if (so == std::string_view::npos) return std::nullopt;
  std::string_view rest = name.substr(so + 4);
  uint16_t parts[3] = {};
  for (int i = 0; i < 3; ++i) {
    size_t digits = 0;
    unsigned value = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9' &&
           value <= 0xFFFF) {
      value = value * 10 + static_cast<unsigned>(rest[digits] - '0');
      ++digits;
    }
    if (digits == 0 || value > 0xFFFF) return std::nullopt;
    parts[i] = static_cast<uint16_t>(value);
    rest.remove_prefix(digits);
    if (i < 2) {
      if (rest.empty() || rest.front() != '.') return std::nullopt;
      rest.remove_prefix(1);
    }
  }
  if (!rest.empty()) return std::nullopt;
  return FileVersion{parts[0], parts[1], parts[2]};
}

std::string kelvo_version_line(const std::string& kelvo_path) {
  return kelvo_version_line_with(kelvo_path, {read_file_version, nullptr});
}

}  // namespace orvalin
