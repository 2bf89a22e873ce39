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

std::optional<std::string> check_qt_with(const std::string& kelvo_path,
                                         const QtCheckInputs& inputs) {
  const std::filesystem::path dir = utf8_to_path(kelvo_path).parent_path();
  if (dir.empty()) return std::nullopt;
  const std::string library =
      path_to_utf8(dir / ("Qt" + std::to_string(kQtMajor) + "Core.dll"));
  const auto version = inputs.read_version(library);
  if (version && qt_fits(*version)) return std::nullopt;

  std::string uses;
  if (!inputs.exists(library)) {
    uses = "a different Qt version";
  } else if (version) {
    uses = "Qt " + version_text(*version);
  } else {
    uses = "Qt unknown version";
  }
  const std::string major = std::to_string(kQtMajor);
  return fill(kQtNotSupported, {kelvo_version_line_with(kelvo_path, inputs),
                                uses, major, std::to_string(kQtMinor), major});
}

std::string kelvo_version_line(const std::string& kelvo_path) {
  return kelvo_version_line_with(kelvo_path, {read_file_version, nullptr});
}

}  // namespace orvalin
