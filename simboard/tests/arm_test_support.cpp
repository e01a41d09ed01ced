#include "simboard/tests/arm_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace simboard::testing {

bool RamBus::Read(std::uint32_t address, AccessSize size, AccessKind kind, std::uint32_t& value) {
  const auto bytes = static_cast<std::uint32_t>(size);
  if (!Inside(address, bytes)) return false;
  if (kind == AccessKind::InstructionFetch) {
    ++fetches;
  } else {
    ++data_reads;
  }
  value = Peek(address, size);
  return true;
}

bool RamBus::Write(std::uint32_t address, AccessSize size, std::uint32_t value) {
  const auto bytes = static_cast<std::uint32_t>(size);
  if (!Inside(address, bytes)) return false;
  ++data_writes;
  Poke(address, size, value);
  return true;
}

void RamBus::Load(std::uint32_t address, const std::vector<std::uint8_t>& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) memory_.at(address - base_ + i) = bytes[i];
}

std::uint32_t RamBus::Peek(std::uint32_t address, AccessSize size) const {
  const auto bytes = static_cast<unsigned>(size);
  std::uint32_t value = 0;
  for (unsigned i = 0; i < bytes; ++i) {
    const std::uint32_t byte = memory_.at(address - base_ + i);
    const unsigned lane = order_ == ByteOrder::Little ? i : bytes - 1 - i;
    value |= byte << (8 * lane);
  }
  return value;
}

void RamBus::Poke(std::uint32_t address, AccessSize size, std::uint32_t value) {
  const auto bytes = static_cast<unsigned>(size);
  for (unsigned i = 0; i < bytes; ++i) {
    const unsigned lane = order_ == ByteOrder::Little ? i : bytes - 1 - i;
    memory_.at(address - base_ + i) = static_cast<std::uint8_t>(value >> (8 * lane));
  }
}

namespace {

std::string Run(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return "cannot run: " + command;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = pclose(pipe);
  if (status != 0) output += "\n[exit status " + std::to_string(status) + "]";
  return status == 0 ? std::string() : output;
}

}  // namespace

bool AssemblerAvailable() {
  return std::system("arm-none-eabi-as --version >/dev/null 2>&1") == 0;
}

std::vector<std::uint8_t> Assemble(const std::string& source, ByteOrder order,
                                   std::uint32_t origin) {
  static int serial = 0;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("romsmith-asm-" + std::to_string(getpid()) + "-" +
                                     std::to_string(serial++));
  std::filesystem::create_directories(dir);
  const std::string endian = order == ByteOrder::Big ? "-EB" : "-EL";
  {
    std::ofstream out(dir / "t.s");
    out << "\t.syntax unified\n\t.text\n" << source << "\n";
  }
  std::ostringstream origin_text;
  origin_text << "0x" << std::hex << origin;
  const std::string d = dir.string();
  std::string error = Run("arm-none-eabi-as -march=armv4t " + endian + " -o " + d + "/t.o " + d +
                          "/t.s");
  if (error.empty()) {
    error = Run("arm-none-eabi-ld " + endian + " -Ttext=" + origin_text.str() + " -e 0 -o " + d +
                "/t.elf " + d + "/t.o");
  }
  if (error.empty()) {
    error = Run("arm-none-eabi-objcopy -O binary -j .text " + d + "/t.elf " + d + "/t.bin");
  }
  std::vector<std::uint8_t> bytes;
  if (error.empty()) {
    std::ifstream in(dir / "t.bin", std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else {
    ADD_FAILURE() << "assembling failed:\n" << source << "\n" << error;
  }
  std::filesystem::remove_all(dir);
  return bytes;
}

}  // namespace simboard::testing
