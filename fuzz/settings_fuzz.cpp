// libFuzzer target: one settings.xml's bytes through the settings rules - the key look-up, the key
// write and LoadSettings with its save - against the headless DOM (libxml2) and POSIX files. Errors the rules raise for
// bad files are expected; anything else is a finding, and so is a write that does not read back or that changes another
// key.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "base/exception.h"
#include "platform/error.h"
#include "platform/headless/libxml2_document.h"
#include "platform/headless/posix_files.h"
#include "settings/settings_file.h"
#include "settings/strip_settings.h"

namespace {

const char* const kKeys[] = {"datahost", "disphtml",         "lsxml",      "lsxsl", "lscss",
                             "port",     "refresh_interval", "scrollspeed"};

struct World {
  World() {
    directory = std::filesystem::temp_directory_path() / ("lsv-settings-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
  }
  ~World() {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
  }
  std::string File(const char* name) const { return (directory / name).string(); }

  std::filesystem::path directory;
  platform::headless::PosixFiles files;
};

World& TheWorld() {
  static World world;
  return world;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// The value of every key, or nullopt where the look-up refuses the element.
std::optional<std::string> Look(platform::IXmlDocument& document, platform::IXmlDocument::Node root, const char* key,
                                bool& refused) {
  try {
    refused = false;
    return lsv::settings::LookUpKey(document, root, key);
  } catch (const platform::Error&) {
    refused = true;
    return std::nullopt;
  }
}

void CheckKeyRules(const std::string& path) {
  auto document = platform::headless::CreateLibxml2Document();
  try {
    lsv::settings::LoadDocument(*document, path);
  } catch (const platform::Error&) {
    return;
  }
  const auto root = document->DocumentElement();
  for (const char* key : kKeys) {
    bool refused = false;
    Look(*document, root, key, refused);
    if (refused) continue;
    std::optional<std::string> others[std::size(kKeys)];
    bool othersRefused[std::size(kKeys)] = {};
    for (std::size_t i = 0; i < std::size(kKeys); ++i) others[i] = Look(*document, root, kKeys[i], othersRefused[i]);

    const std::string value = std::string("fuzz <&> \"") + key + "\" 設定";
    try {
      lsv::settings::WriteKey(*document, root, key, value);
    } catch (const platform::Error&) {
      // An element whose only child is no text (a comment, say) reads as empty but is refused.
      continue;
    }
    bool after = false;
    if (Look(*document, root, key, after) != value || after) __builtin_trap();
    for (std::size_t i = 0; i < std::size(kKeys); ++i) {
      if (std::string(kKeys[i]) == key) continue;
      bool refusedNow = false;
      if (Look(*document, root, kKeys[i], refusedNow) != others[i] || refusedNow != othersRefused[i]) __builtin_trap();
    }
  }
}

void CheckLoadSettings(World& world, const std::string& path) {
  const lsv::settings::LoadContext context{world.directory.string() + "/", ".", world.files,
                                           [] { return platform::headless::CreateLibxml2Document(); }};
  auto document = platform::headless::CreateLibxml2Document();
  lsv::settings::StripSettings settings;
  try {
    lsv::settings::LoadSettings(*document, path, context, settings);
  } catch (const platform::Error&) {
    return;
  } catch (const lsv::CException&) {
    return;
  }
  // A document LoadSettings took has a display page, and the file names it (written back when it
  // was missing), so a second load reads the same.
  const std::string* page = std::get_if<std::string>(&settings.displayPage);
  if (page == nullptr) __builtin_trap();
  lsv::settings::StripSettings again;
  try {
    lsv::settings::LoadSettings(*document, path, context, again);
  } catch (...) {
    __builtin_trap();
  }
  if (again.displayPage != settings.displayPage) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  World& world = TheWorld();
  const std::string path = world.File("settings.xml");
  WriteFile(path, data, size);
  CheckKeyRules(path);
  WriteFile(path, data, size);
  CheckLoadSettings(world, path);
  return 0;
}
