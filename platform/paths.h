// Where the program finds its files: the program directory, the temporary
// directory, the per-user profile, and the path rules the data files rely on.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// The separator that directory texts end in.
inline constexpr char kPathSeparator = '/';

// The directory of the running executable, or the one set with
// SetProgramDirectory (the command line's --program-dir, tests).
std::filesystem::path ProgramDirectory();
void SetProgramDirectory(const std::filesystem::path& directory);

// ProgramDirectory() as a text that ends in the separator.
std::string ProgramDirectoryText();

std::filesystem::path TempDirectory();

// The per-user profile file: $ROMSMITH_PROFILE when set, else
// $XDG_CONFIG_HOME/Romsmith/Romsmith.ini (default ~/.config/Romsmith/...).
std::filesystem::path ProfilePath();

// Appends the separator unless the text already ends in it (or is empty).
std::string WithTrailingSeparator(std::string directory);

// A loader or database name is taken as it stands when it is absolute or
// holds ":" (a drive-style name); otherwise it is relative to a directory.
bool IsAbsoluteName(std::string_view name);

// The platform's suffix of loadable modules (".so"), and a name with it
// removed when present.
inline constexpr std::string_view kSharedLibrarySuffix = ".so";
std::string StripSharedLibrarySuffix(std::string_view name);

}  // namespace platform
