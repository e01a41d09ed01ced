#include "target_data/cpu_database.h"

#include <algorithm>
#include <cstdio>

#include "platform/paths.h"
#include "platform/text.h"

namespace romsmith {

bool CpuRecord::IsNand() const { return ContainsIgnoringCase(name, "(Nand)"); }

const CpuRecord* CpuDatabase::Find(const std::string& name) const {
  auto it = std::find_if(cpus.begin(), cpus.end(),
                         [&](const CpuRecord& record) { return record.name == name; });
  return it == cpus.end() ? nullptr : &*it;
}

CpuRegister ParseCpuRegisterRow(const std::string& text) {
  const std::string row = ColonsToBlanks(text);
  char name[kMaxRegisterNameLength + 1] = {};
  char label[kMaxRegisterNameLength + 1] = {};
  unsigned int address = 0;
  int size = 0;
  unsigned int default_value = 0;
  std::sscanf(row.c_str(), "%63s $%X %d $%X %63s", name, &address, &size, &default_value, label);
  CpuRegister reg;
  reg.name = name;
  reg.address = address;
  reg.size = static_cast<std::uint32_t>(size);
  reg.default_value = default_value;
  reg.label = label;
  return reg;
}

std::string LoaderFilePath(const CpuRecord& cpu, const std::string& cpu_endian,
                           const std::string& program_directory_text) {
  const std::string& name =
      EqualsIgnoringCase(cpu_endian, "Little") ? cpu.loader_file_le : cpu.loader_file_be;
  if (platform::IsAbsoluteName(name)) return name;
  return program_directory_text + name;
}

}  // namespace romsmith
