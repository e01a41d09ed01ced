// Scrambled data files (the databases "*.xdl" and the loader images "*.mdl").
//
// A scrambled file holds two bytes for every plain byte: the byte through the
// forward substitution, then one filler byte that decoding ignores. The
// substitution rotates letters within their case and exchanges two pairs of
// punctuation characters; digits, blanks, line breaks, bytes above 127 and
// everything else pass unchanged. There is no header and no checksum.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace romsmith {

std::uint8_t ScrambleByte(std::uint8_t plain);
std::uint8_t UnscrambleByte(std::uint8_t scrambled);

// Plain file to scrambled file ("e file"). Failures show a message box with
// the exclamation icon and return false: "Error: can't open input file<path> !",
// "Error: can't create output file!", "Error: file exception, e file failed!".
// The input and the output must be different files.
[[nodiscard]] bool EncodeDataFile(const std::string& input_path, const std::string& output_path);

// Scrambled file to plain file ("d file"). A missing last filler byte is no
// error. Failure texts as EncodeDataFile, with "d file" in the last one.
[[nodiscard]] bool DecodeDataFile(const std::string& input_path, const std::string& output_path);

// The data files of the program folder, in maintenance order.
struct DataFilePair {
  const char* scrambled;    // shipped form
  const char* plain;        // source of the maintenance scramble
  const char* unscrambled;  // written by the maintenance unscramble
};
inline constexpr std::array<DataFilePair, 12> kDataFilePairs{{
    {"proc.xdl", "cpu.ini", "cpu.ini.bak"},
    {"rom.xdl", "flash.ini", "flash.ini.bak"},
    {"parb.mdl", "armb.bin", "armb.bin"},
    {"parl.mdl", "arml.bin", "arml.bin"},
    {"a40b.mdl", "at40b.bin", "at40b.bin"},
    {"a40l.mdl", "at40l.bin", "at40l.bin"},
    {"hwl.mdl", "hwl.bin", "hwl.bin"},
    {"lpcl.mdl", "lpcl.bin", "lpcl.bin"},
    {"saml.mdl", "saml.bin", "saml.bin"},
    {"str71x.mdl", "str71x.bin", "str71x.bin"},
    {"nan24l.mdl", "nan24l.bin", "nan24l.bin"},
    {"nan65l.mdl", "nan65l.bin", "nan65l.bin"},
}};

// The password that unlocks the data-file maintenance (exact, case-sensitive).
inline constexpr std::string_view kMaintenancePassword = "Qorin7";

enum class MaintenanceAction {
  Scramble,    // the dialog's "Encrypt" button (OK result)
  Unscramble,  // "Decrypt", Escape or the close box (Cancel result)
};

// What one maintenance run did.
struct MaintenanceResult {
  bool password_accepted = false;
  int pairs_done = 0;    // transforms that succeeded
  int pairs_failed = 0;  // transforms that showed their failure box
};

// The work behind the maintenance dialog, for the GUI and tools: with the
// right password, transforms all twelve pairs in `program_directory` (a
// directory text; a separator is added when missing) in table order. Each
// pair stands alone: a failing pair shows its own box and the next follows.
// A wrong password does nothing at all.
MaintenanceResult RunDataFileMaintenance(std::string_view password, MaintenanceAction action,
                                         const std::string& program_directory);

}  // namespace romsmith
