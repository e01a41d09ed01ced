// libFuzzer target: the command line of romsmith-cli (arguments separated
// by NUL bytes), and the --set values applied to the settings as a run
// applies them.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/options.h"
#include "formats/fuzz/fuzz_files.h"
#include "target_data/program_settings.h"

namespace {

// A program directory of this process holding the shipped romsmith.ini.
std::filesystem::path ProgramDirectory() {
  const std::filesystem::path dir = romsmith::fuzz::ScratchPath(".program");
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(ROMSMITH_SOURCE_DIR "/data/romsmith.ini", dir / "romsmith.ini",
                             std::filesystem::copy_options::overwrite_existing);
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace romsmith;
  fuzz::QuietMessages();
  static const std::filesystem::path program = ProgramDirectory();
  static const std::filesystem::path profile = fuzz::ScratchPath(".profile.ini");

  const CliParseResult parsed = ParseCommandLine(fuzz::Split(fuzz::AsText(data, size), '\0'));
  if (!parsed.ok) {
    // A refused command line says why.
    if (parsed.error.empty()) std::abort();
    return 0;
  }
  SettingsStore store(program, profile);
  for (const SettingOverride& setting : parsed.options.settings) {
    if (!IsKnownSetting(setting.section, setting.key)) std::abort();  // the parser let it through
    store.SetOverride(setting.section, setting.key, setting.value);
  }
  store.Load();
  return 0;
}
