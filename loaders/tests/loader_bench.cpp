#include "loaders/tests/loader_bench.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "formats/ini_document.h"

namespace romsmith::loader_testing {

namespace {

// Where a THUMB-state start is staged, well behind any data: a word-aligned
// ARM stub that branches to the image with the state bit set.
constexpr std::uint32_t kThumbStub = 0xF0000;

void PutWord(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, bool big) {
  for (int i = 0; i < 4; ++i) out[at + (big ? 3 - i : i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> Pack(const Params& p, bool big) {
  std::vector<std::uint8_t> block(100, 0);
  block[0] = p.operation;
  block[1] = p.cycle_count;
  block[2] = p.width_bytes;
  block[3] = p.chips;
  block[4] = p.mode;
  block[5] = p.auto_verify;
  PutWord(block, 8, p.flash_start, big);
  PutWord(block, 12, p.address, big);
  PutWord(block, 16, p.length, big);
  for (std::size_t i = 0; i < 10; ++i) {
    PutWord(block, 20 + 4 * i, p.cycle_address[i], big);
    PutWord(block, 60 + 4 * i, p.cycle_data[i], big);
  }
  return block;
}

std::filesystem::path FreshDirectory() {
  static int serial = 0;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "run";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  auto dir = std::filesystem::temp_directory_path() /
             ("loader-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + "-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

}  // namespace

void SetCycles(Params& params, const CommandSequence& sequence, std::uint32_t sector) {
  const std::uint32_t w = params.width_bytes;
  const std::uint32_t c = params.chips;
  params.cycle_address.fill(0);
  params.cycle_data.fill(0);
  params.cycle_count = static_cast<std::uint8_t>(std::min<std::uint32_t>(sequence.count, 10));
  for (std::uint32_t i = 0; i < params.cycle_count; ++i) {
    const std::uint32_t table = sequence.addresses[w - 1][i];
    const std::uint32_t d = sequence.data[w - 1][i];
    std::uint32_t data = d;
    for (std::uint32_t chip = 1; chip < c; ++chip) data |= d << (8 * w * chip);
    params.cycle_address[i] = table == 0 && sector != 0 ? sector : params.flash_start + table * w * c;
    params.cycle_data[i] = data;
  }
}

CommandSet ShippedCommandSet(const std::string& type) {
  IniDocument document;
  EXPECT_TRUE(document.Load(std::string(ROMSMITH_SOURCE_DIR) + "/data/flash.ini"));
  CommandSet set;
  ReadCommandSet(document, type, set);
  return set;
}

LoaderBench::LoaderBench(const std::string& board_text, const std::string& loader, std::uint32_t ram,
                         std::uint32_t area)
    : dir_(FreshDirectory()), ram_(ram), area_(area) {
  {
    std::ofstream out(dir_ / "board.ini");
    out << board_text;
  }
  std::string error;
  board_ = simboard::Board::Open(dir_ / "board.ini", error);
  if (!board_) {
    ADD_FAILURE() << error;
    return;
  }
  std::ifstream in(std::string(ROMSMITH_SOURCE_DIR) + "/loaders/prebuilt/" + loader + ".bin",
                   std::ios::binary);
  std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(image.empty()) << loader;
  EXPECT_LE(image.size(), area_);
  image.resize(area_, 0xFF);
  // The host's breakpoint at R + 0x7F8: an SWI the hook turns into a halt.
  const std::uint32_t swi = 0xEF000000;
  for (int i = 0; i < 4; ++i)
    image[done() + (big_endian() ? 3 - i : i)] = static_cast<std::uint8_t>(swi >> (8 * i));
  EXPECT_TRUE(board_->Poke(ram_, area_, image.data()));
  board_->Reset();
  board_->core().SetSwiHook([](std::uint32_t, bool) { return simboard::SwiAction::Halt; });
}

RunEnd LoaderBench::Run(const Params& params, const std::vector<std::uint8_t>& data,
                        std::uint64_t budget, bool thumb_entry) {
  std::vector<std::uint8_t> block = Pack(params, big_endian());
  EXPECT_TRUE(board_->Poke(ram_ + params_at(), 100, block.data()));
  if (!data.empty()) {
    EXPECT_TRUE(board_->Poke(ram_ + params_at() + 100, static_cast<std::uint32_t>(data.size()), data.data()));
  }
  std::uint32_t start = ram_;
  if (thumb_entry) {
    // ldr r0, [pc, #0]; bx r0; .word R + 1
    const std::uint32_t stub[3] = {0xE59F0000, 0xE12FFF10, ram_ + 1};
    std::vector<std::uint8_t> bytes(12);
    for (int w = 0; w < 3; ++w) PutWord(bytes, 4 * w, stub[w], big_endian());
    EXPECT_TRUE(board_->Poke(ram_ + kThumbStub, 12, bytes.data()));
    start = ram_ + kThumbStub;
  }
  board_->core().SetPc(start);
  using simboard::Exception;
  const unsigned stop_on = 1u << static_cast<unsigned>(Exception::Undefined) |
                           1u << static_cast<unsigned>(Exception::PrefetchAbort) |
                           1u << static_cast<unsigned>(Exception::DataAbort);
  const simboard::RunResult run = board_->Run(budget, stop_on);
  board_->Settle();
  if (run.last.halt == simboard::HaltReason::SwiHook && run.last.address == ram_ + done())
    return RunEnd::Finished;
  if (run.limit_reached) return RunEnd::Parked;
  ADD_FAILURE() << "the loader stopped at 0x" << std::hex << run.last.address;
  return RunEnd::Crashed;
}

std::uint8_t LoaderBench::ResultByte() {
  std::uint8_t value = 0xEE;
  EXPECT_TRUE(board_->Peek(ram_ + params_at() + 7, 1, &value));
  return value;
}

std::uint32_t LoaderBench::DeviceCode() { return ParamsWord(4); }

std::uint32_t LoaderBench::ParamsWord(std::uint32_t offset) {
  std::uint32_t value = 0;
  EXPECT_TRUE(board_->PeekValue(ram_ + params_at() + offset, simboard::AccessSize::Word, value));
  return value;
}

std::vector<std::uint8_t> LoaderBench::Flash(std::uint32_t address, std::uint32_t count) {
  std::vector<std::uint8_t> bytes(count);
  EXPECT_TRUE(board_->Peek(address, count, bytes.data()));
  return bytes;
}

}  // namespace romsmith::loader_testing
