#include "kelvocheck/kelvocheck.h"

#include <algorithm>
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
  return version ? fill(kKelvoVersion, {version_text(*version)})
                 : std::string(kKelvoUnknownVersion);
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
  return refusal(version_line, version ? fill(kUsesQt, {version_text(*version)})
                                       : std::string(kUsesQtUnknown));
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
    return refusal(version_line, std::string(kUsesOtherQt));
  }
  return qt_refusal(version_line, version);
}

std::optional<std::string> script_library_path(
    std::string_view script, const std::optional<std::string>& inherited) {
  constexpr std::string_view kName = "LD_LIBRARY_PATH=";
  for (std::string_view rest = script; !rest.empty();) {
    const size_t end = std::min(rest.find('\n'), rest.size());
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
    if (line.starts_with("export ")) {
      line.remove_prefix(7);
      line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
    }
    if (!line.starts_with(kName)) continue;
    line.remove_prefix(kName.size());
    std::string value;
    if (!line.empty() && (line[0] == '"' || line[0] == '\'')) {
      const size_t close = line.find(line[0], 1);
      if (close == std::string_view::npos) return std::nullopt;
      // Inside single quotes nothing is expanded: a '$' is no variable.
      if (line[0] == '\'' &&
          line.substr(1, close - 1).find('$') != std::string_view::npos) {
        return std::nullopt;
      }
      value = line.substr(1, close - 1);
    } else {
      value =
          line.substr(0, std::min(line.find_first_of(" \t;&|\r"), line.size()));
    }
    // The one expansion that is known: the inherited value.
    for (std::string_view self : {"${LD_LIBRARY_PATH}", "$LD_LIBRARY_PATH"}) {
      for (size_t at = value.find(self); at != std::string::npos;
           at = value.find(self, at)) {
        value.replace(at, self.size(), inherited.value_or(""));
        at += inherited.value_or("").size();
      }
    }
    if (value.find_first_of("$`\\\"'") != std::string::npos) {
      return std::nullopt;
    }
    for (size_t start = 0; start < value.size();) {
      const size_t colon = std::min(value.find(':', start), value.size());
      if (colon > start && value[start] != '/') return std::nullopt;
      start = colon + 1;
    }
    return value;
  }
  return std::nullopt;
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
