// The CPU database: the target processors by vendor, each with its loader
// program files and the peripheral registers to set before the flash can be
// reached. It ships scrambled as "proc.xdl" in the program directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace romsmith {

inline constexpr std::size_t kMaxCpuRegisters = 1024;
// Register names and labels are single words of at most this many characters.
inline constexpr std::size_t kMaxRegisterNameLength = 63;

struct CpuRegister {
  std::string name;
  std::uint32_t address = 0;
  std::uint32_t size = 0;  // bits: 8, 16 or 32
  std::uint32_t default_value = 0;
  std::uint32_t value = 0;
  std::string label;

  bool operator==(const CpuRegister&) const = default;
};

struct CpuRecord {
  std::string name;
  std::string vendor;
  std::int32_t cpu_type = 0;
  std::string endian;
  std::string default_endian;
  std::string loader_file_le;
  std::string loader_file_be;
  std::int32_t download_size = 0;
  std::int32_t start_register_mask = 0;
  std::string label;
  // register_count() rows; at most kMaxCpuRegisters.
  std::vector<CpuRegister> registers;

  std::int32_t register_count() const { return static_cast<std::int32_t>(registers.size()); }
  // True when the name contains "(Nand)" (ignoring case): every flash command
  // then uses the NAND command family.
  bool IsNand() const;

  bool operator==(const CpuRecord&) const = default;
};

struct CpuDatabase {
  std::vector<std::string> vendors;  // file order
  std::vector<CpuRecord> cpus;       // vendor order, file order within a vendor

  // The first record of that name, or nullptr.
  const CpuRecord* Find(const std::string& name) const;
};

// Reads a plain database text. False when the file cannot be opened (the
// database is then empty); vendor, CPU and register lists end silently at
// their first missing key.
bool ReadCpuDatabase(const std::filesystem::path& plain_file, CpuDatabase& database);

// Decodes "proc.xdl" of the program directory into a private temporary copy,
// reads it and deletes the copy. When the copy cannot be read: message box
// "Can't open CPU data file!" (caption "Error", error icon) and an empty
// database.
CpuDatabase LoadCpuDatabase(const std::filesystem::path& program_directory);

// Scans one register row of the database, "name $address size $default
// label", where colons may stand for the blanks. Fields that do not scan are
// left empty or 0.
CpuRegister ParseCpuRegisterRow(const std::string& text);

// The loader program file for the configured byte order: "LoadFileLE" when
// it equals "Little" ignoring case, else "LoadFileBE"; an absolute name (or
// one holding ':') as it stands, any other taken from the program directory
// text (which ends in the separator).
std::string LoaderFilePath(const CpuRecord& cpu, const std::string& cpu_endian,
                           const std::string& program_directory_text);

}  // namespace romsmith
