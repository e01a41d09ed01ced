// The target that the test driver module keeps: memory, a NOR flash array, a
// NAND array, the core registers, breakpoints and run control, and the work
// a correct flash loader does when the core runs from the loader's entry.
//
// Plain C++ with no driver table: test_driver.cpp puts the slots on top.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/mapped_file.h"

namespace testdriver {

// Everything the switches (environment variables) choose; read at each bind.
struct Switches {
  struct Failure {
    int slot = 0;
    int after = 0;   // calls that still succeed before the failures begin
    int result = 0;  // 0: the slot's natural failure code (7 for open/connect, else 5)
  };

  std::filesystem::path state_dir;  // TESTDRIVER_STATE_DIR: flash arrays backed by files
  std::filesystem::path journal;    // TESTDRIVER_JOURNAL: one line per call appended
  std::vector<Failure> failures;    // TESTDRIVER_FAIL
  std::map<int, std::vector<std::string>> messages;  // TESTDRIVER_SAY
  bool run_never_ends = false;      // TESTDRIVER_RUN_NEVER_ENDS
  int run_polls = 0;                // TESTDRIVER_RUN_POLLS
  bool verify_fails = false;        // TESTDRIVER_VERIFY_FAIL
  std::optional<bool> little_endian;  // TESTDRIVER_ENDIAN (else the order given to open)
  bool lpc = false;                 // TESTDRIVER_LPC: bytes 1 and 2 are sector indexes

  std::uint32_t nor_base = 0;                                   // TESTDRIVER_NOR
  std::vector<std::uint32_t> nor_sectors;                       // address-space bytes each
  std::uint32_t device_code = 0x2249;                           // TESTDRIVER_DEVICE_CODE
  std::uint32_t nand_blocks = 64, nand_pages = 32, nand_page_size = 512;  // TESTDRIVER_NAND
  std::set<std::uint32_t> nand_bad;                             // TESTDRIVER_NAND_BAD
  std::uint32_t nand_code = 0xEC76;                             // TESTDRIVER_NAND_ID
  std::optional<std::uint32_t> ram_fault;                       // TESTDRIVER_RAM_FAULT

  std::string description;                  // TESTDRIVER_DESCRIPTION
  std::uint32_t version = 1;                // TESTDRIVER_VERSION
  bool null_speed_names = false;            // TESTDRIVER_SPEEDS=null
  std::vector<std::string> speed_names = {"High Speed", "Medium Speed", "Low Speed"};
  std::uint32_t speed_count = 3;            // TESTDRIVER_SPEED_COUNT (with null names)
  std::uint32_t comm_types = 0x8000;        // TESTDRIVER_COMM_TYPES

  // Reads the environment. Malformed values leave the default and are
  // listed in `errors` (the driver reports them as "Error:" messages).
  static Switches FromEnvironment(std::vector<std::string>& errors);
};

// One flash array: in memory, or a file mapped shared so that its contents
// outlive the module and the process.
class FlashArray {
 public:
  // A file of the wrong length (or a new one) starts erased (0xFF).
  bool Open(const std::filesystem::path& file, std::size_t length, std::uint8_t erased);
  void Close();
  std::uint8_t* data() { return data_; }
  std::size_t size() const { return size_; }

 private:
  platform::MappedFile file_;
  std::vector<std::uint8_t> memory_;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

class TestTarget {
 public:
  // Core register indexes.
  enum : int { kPc = 15, kCpsr = 16, kSpsr = 17, kRegisterCount = 18 };

  explicit TestTarget(Switches switches);
  ~TestTarget();

  const Switches& switches() const { return switches_; }
  bool little_endian() const { return little_endian_; }
  void SetByteOrder(bool little) { little_endian_ = switches_.little_endian.value_or(little); }

  // Opens the flash arrays (files when a state directory is set).
  bool OpenStorage(std::string& error);
  void CloseStorage();

  // One byte of the address space: NOR flash at its base, everything else
  // reads and writes like RAM (never-written bytes read 0).
  std::uint8_t ReadByte(std::uint32_t address);
  void WriteByte(std::uint32_t address, std::uint8_t value);
  std::uint32_t ReadWord(std::uint32_t address);  // in the target's byte order
  void WriteWord(std::uint32_t address, std::uint32_t value);
  bool IsFlash(std::uint32_t address) const;

  // Registers by index (0-15, kCpsr, kSpsr); -1 for a name that is none.
  static int RegisterIndex(const std::string& name);
  std::uint32_t& reg(int index) { return registers_[static_cast<std::size_t>(index)]; }

  // Breakpoints: the 1-based number, or 0 when the table is full.
  struct Breakpoint {
    std::uint32_t address = 0;
    std::uint32_t flags = 0;
    std::uint32_t arg2 = 0;
    std::uint32_t kind = 0;
    bool used = false;
  };
  static constexpr std::size_t kBreakpoints = 8;
  std::uint32_t AddBreakpoint(std::uint32_t address, std::uint32_t flags, std::uint32_t arg2,
                              std::uint32_t kind);
  bool RemoveBreakpoint(std::uint32_t number);
  void RemoveAllBreakpoints();

  // Run control. Run returns false when the core was already running.
  bool Run();
  void Stop();
  void Step();
  void Reset();
  // The state word of a status poll and the breakpoint number beside it;
  // finishing a loader run happens here, when the poll finds it done.
  std::uint32_t Poll(std::uint32_t& breakpoint);
  bool running() const { return state_ == 0; }

  void Journal(const std::string& line);

 private:
  enum class RunKind { None, Free, Loader, LoaderFamily2 };

  void FinishLoaderRun(bool second_family, std::uint32_t entry);
  void RunFirstFamily(std::uint32_t params);
  void RunSecondFamily(std::uint32_t params);
  // Sector of the NOR array holding an address; -1 outside.
  int SectorAt(std::uint32_t address) const;
  std::uint32_t SectorStart(int sector) const;
  void EraseSector(int sector);
  void ProtectSector(int sector);
  // Programs like flash (bits only go from 1 to 0); false where a byte falls
  // outside the array or into a protected sector.
  bool ProgramNor(std::uint32_t address, const std::vector<std::uint8_t>& data);
  std::vector<std::uint8_t> ReadBlock(std::uint32_t address, std::uint32_t length);

  Switches switches_;
  bool little_endian_ = true;
  FlashArray nor_;
  FlashArray nor_protect_;
  FlashArray nand_;
  std::vector<std::uint32_t> sector_starts_;  // offsets in the NOR array
  std::map<std::uint32_t, std::unique_ptr<std::array<std::uint8_t, 4096>>> pages_;
  std::filesystem::path ram_file_;  // where the RAM pages are kept between binds
  std::array<std::uint32_t, kRegisterCount> registers_{};
  std::array<Breakpoint, kBreakpoints> breakpoints_{};
  std::uint32_t state_ = 1024;  // the stop cause, 0 while running
  std::uint32_t halted_at_ = 0;
  RunKind run_kind_ = RunKind::None;
  std::uint32_t run_entry_ = 0;
  int polls_left_ = 0;
  std::FILE* journal_ = nullptr;
};

}  // namespace testdriver
