// The per-user program directory of an installed program.
//
// The program directory holds what the program reads (programs, driver
// modules, port libraries, data files, examples, help) beside what it writes
// (romsmith.ini, Info.log, the temporary copies of a command, the lock, the
// virtual board's files and flash images). An installed tree is shared and
// may not be written, so each user gets a program directory of their own,
// laid out like the installed one: what the program only reads is linked to
// the installed file (so an upgrade reaches every user), everything else is
// copied once and then belongs to the user.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

// The file whose presence marks an installed program directory; the
// install step puts it there.
inline constexpr char kInstalledMarker[] = ".installed";

// Whether the program started from `directory` must work in a per-user copy:
// the directory is marked as installed or cannot be written.
bool NeedsUserProgramDirectory(const std::filesystem::path& directory);

// $XDG_DATA_HOME/romsmith, else ~/.local/share/romsmith.
std::filesystem::path UserProgramDirectoryPath();

// Whether a file of the installed tree (by its path relative to the tree) is
// linked rather than copied: programs, shared libraries, data files, loader
// images, examples and help.
bool IsLinkedFromInstall(const std::filesystem::path& relative, bool executable);

// Brings `user` up to date with `installed`: creates missing directories,
// links or copies missing files, re-links links whose installed file moved
// and removes links to files the installed tree no longer has. Files the
// user already has are never touched. False with `error` set when the
// directory cannot be made.
[[nodiscard]] bool SeedUserProgramDirectory(const std::filesystem::path& installed,
                                            const std::filesystem::path& user, std::string& error);

}  // namespace platform
