// The NAND flash controllers of the S3C2410 and the S3C2440 at 0x4E000000,
// after the NAND flash controller chapters of their user manuals, with one
// NAND chip behind them.
//
// S3C2410: NFCONF (enable bit 15, InitECC bit 12 which reads back as
// written, nFCE bit 11), NFCMD, NFADDR, NFDATA (one byte per access), NFSTAT
// (R/nB bit 0) and NFECC.
// S3C2440: NFCONF (timings, and the boot-pin bits AdvFlash, PageSize and
// AddrCycle that describe the chip), NFCONT (mode, nCE, InitECC which is
// write-only and reads 0, ECC locks, soft lock), NFCMMD, NFADDR, NFDATA (8-,
// 16- or 32-bit accesses move 1, 2 or 4 bytes), the ECC data, status and
// result registers, NFSTAT (R/nB, RnB_TransDetect, IllegalAccess) and the
// unlocked-block range NFSBLK/NFEBLK.
//
// The ECC modules compute a Hamming code over the bytes that pass NFDATA
// since InitECC: line parity pairs in the low bits (two per address bit of
// the byte within the area), then the six column parities, all inverted so
// that erased data gives all ones.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "simboard/description/board_file.h"
#include "simboard/memory/memory.h"
#include "simboard/nand/nand_chip.h"

namespace simboard {

// A running Hamming ECC over a byte stream.
class NandEcc {
 public:
  void Clear() { *this = NandEcc(); }
  void Add(std::uint8_t byte);
  // Line parities for `address_bits` (the first 2 x address_bits bits),
  // then column parities; inverted.
  std::uint32_t Code(unsigned address_bits) const;
  // Compares a stored code with this one: 0 no error, 1 one bit correctable
  // (byte and bit set), 2 uncorrectable, 3 an error in the code itself.
  static unsigned Check(std::uint32_t stored, std::uint32_t computed, unsigned address_bits,
                        std::uint32_t& byte, unsigned& bit);

 private:
  std::uint32_t count_ = 0;
  std::uint32_t line_odd_[2][11] = {};  // parity of bytes whose address bit k is 0 / 1
  std::uint8_t column_xor_ = 0;          // xor of every byte
};

class NandControllerRegion : public Region {
 public:
  static std::unique_ptr<NandControllerRegion> Create(const RegionDescription& description,
                                                      const Clock& clock, std::uint32_t clock_khz,
                                                      Counters& counters, std::string& error);

  bool Read(std::uint32_t offset, unsigned count, AccessKind kind, std::uint8_t* bytes) override;
  bool Write(std::uint32_t offset, unsigned count, const std::uint8_t* bytes) override;
  void Peek(std::uint32_t offset, std::uint32_t count, std::uint8_t* bytes) const override;
  void Poke(std::uint32_t, std::uint32_t, const std::uint8_t*) override {}
  // The status register, while the chip is busy or once its ready edge has
  // been seen; every other register read may move the chip on.
  std::uint64_t SteadyReadsFor(std::uint32_t offset, unsigned count) override;
  void Reset() override;

  NandChip& chip() { return *chip_; }
  NandControllerKind kind() const { return kind_; }

 private:
  NandControllerRegion(const RegionDescription& description, NandControllerKind kind);
  std::uint32_t ReadRegister(std::uint32_t offset, unsigned count);
  void WriteRegister(std::uint32_t offset, std::uint32_t value, unsigned count);
  bool ChipSelected() const;
  std::uint8_t DataIn();
  void DataOut(std::uint8_t byte);
  // S3C2440 soft lock: may the chip's current program or erase go ahead?
  bool Unlocked(std::uint32_t page) const;
  std::uint32_t Status();

  NandControllerKind kind_;
  std::unique_ptr<NandChip> chip_;
  std::uint32_t nfconf_ = 0;
  std::uint32_t nfcont_ = 0;
  std::uint32_t mecc_data_[2] = {};
  std::uint32_t secc_data_ = 0;
  std::uint32_t sblk_ = 0, eblk_ = 0;
  bool illegal_access_ = false;
  bool was_ready_ = true;
  bool ready_edge_ = false;
  NandEcc main_ecc_;
  NandEcc spare_ecc_;
  // Rows the chip was given, for the soft lock: collected from the address
  // cycles of a program or erase.
  std::uint8_t last_command_ = 0;
  std::uint32_t address_count_ = 0;
  std::uint32_t row_ = 0;
};

}  // namespace simboard
