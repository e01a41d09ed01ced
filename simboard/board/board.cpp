#include "simboard/board/board.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>
#include <sstream>

#include "simboard/onchip/onchip_regions.h"

namespace simboard {

namespace {

std::uint64_t HostMicroseconds() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string Hex8(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "$%08llX", static_cast<unsigned long long>(value));
  return text;
}

std::string HexDigits(std::uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "$%0*X", digits, value);
  return text;
}

std::string SizeText(std::uint64_t bytes) {
  if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0) return std::to_string(bytes >> 20) + "M";
  if (bytes >= 1024 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + "K";
  return std::to_string(bytes);
}

// "16K,2*8K,32K,31*64K": a sector table written back in the board file's form.
std::string SectorText(const std::vector<std::uint32_t>& sectors) {
  std::string text;
  for (std::size_t i = 0; i < sectors.size();) {
    std::size_t run = 1;
    while (i + run < sectors.size() && sectors[i + run] == sectors[i]) ++run;
    if (!text.empty()) text += ",";
    if (run > 1) text += std::to_string(run) + "*";
    text += SizeText(sectors[i]);
    i += run;
  }
  return text;
}

}  // namespace

Board::Board(BoardDescription description)
    : description_(std::move(description)), bus_(description_.big_endian, clock_) {}

Board::~Board() { Settle(); }

std::unique_ptr<Board> Board::Open(const std::filesystem::path& board_file, std::string& error) {
  auto description = LoadBoardFile(board_file, error);
  if (!description) return nullptr;
  return Create(std::move(*description), error);
}

std::unique_ptr<Board> Board::Create(BoardDescription description, std::string& error) {
  std::unique_ptr<Board> board(new Board(std::move(description)));
  const BoardDescription& d = board->description_;
  for (const auto& region : d.regions) {
    switch (region.kind) {
      case RegionKind::RAM:
        try {
          board->bus_.Add(std::make_unique<RamRegion>(region.section, region.base, region.size));
        } catch (const std::bad_alloc&) {
          error = d.file.filename().string() + ": [" + region.section + "] Size: cannot allocate " +
                  SizeText(region.size) + " of RAM";
          return nullptr;
        }
        break;
      case RegionKind::IO:
        board->bus_.Add(std::make_unique<IoRegion>(region.section, region.base, region.size));
        break;
      case RegionKind::NOR: {
        auto nor = NorRegion::Create(region, d.big_endian, d.clock_khz, d.faults, board->clock_,
                                     board->counters_, error);
        if (!nor) {
          error = d.file.filename().string() + ": " + error;
          return nullptr;
        }
        board->bus_.Add(std::move(nor));
        break;
      }
      default:
        if (!AddOnChipRegions(region, d, board->bus_, board->clock_, board->counters_, error)) {
          error = d.file.filename().string() + ": " + error;
          return nullptr;
        }
        break;
    }
  }
  board->core_ = std::make_unique<ArmCore>(
      board->bus_, d.core == CoreKind::ARM7TDMI ? CoreModel::ARM7TDMI : CoreModel::ARM9TDMI,
      d.big_endian ? ByteOrder::Big : ByteOrder::Little);
  AttachCoreToRegions(board->bus_, *board->core_);
  // RAM is plain host memory: the core reads and writes it directly, and
  // hears of every change that does not come from its own stores.
  for (const auto& region : d.regions) {
    if (region.kind != RegionKind::RAM) continue;
    auto* ram = static_cast<RamRegion*>(board->bus_.Find(region.base));
    board->core_->MapFastMemory(region.base, static_cast<std::uint32_t>(region.size), ram->Direct());
    ArmCore* core = board->core_.get();
    ram->SetChangeHook([core](std::uint32_t address, std::uint32_t count) {
      core->InvalidateCode(address, count);
    });
  }
  board->Reset();
  return board;
}

NorRegion* Board::FlashAt(std::uint32_t address) {
  return dynamic_cast<NorRegion*>(bus_.Find(address));
}

Counters Board::counters() const {
  Counters counters = counters_;
  counters.instructions = core_->InstructionCount();
  return counters;
}

void Board::ResetCounters() {
  counters_ = Counters{};
  core_->ResetCounters();
}

void Board::Reset() {
  ResetMemories();
  core_->Reset();
}

void Board::ResetMemories() {
  for (const auto& region : bus_.regions()) region->Reset();
}

RunResult Board::Run(std::uint64_t max_instructions, unsigned stop_on_exceptions) {
  if (max_instructions == 0) max_instructions = description_.run_budget;
  return core_->Run(max_instructions, stop_on_exceptions);
}

void Board::SetRunning(bool running) {
  CatchUp();  // time up to now belongs to the old state
  running_ = running;
  if (!running) Settle();  // a halted core: the flash images catch up
}

RunResult Board::CatchUp() {
  RunResult result;
  if (description_.timing != TimingMode::RealTime) return result;
  const std::uint64_t started = HostMicroseconds();
  if (realtime_start_us_ == 0) realtime_start_us_ = started;
  // Ticks of ClockKHz since the start, of which `realtime_ticks_` are spent.
  const std::uint64_t due = (started - realtime_start_us_) * description_.clock_khz / 1000;
  std::uint64_t owed = due - realtime_ticks_;
  realtime_ticks_ = due;
  if (owed == 0) return result;
  if (!running_) {
    clock_.cycles += owed;
    return result;
  }
  // The core owes one instruction a tick; its own cycle counts move the
  // board clock as it runs. It pays in small slices; a host that cannot pay
  // in time lets the rest go, and the board runs slower than real time
  // instead of falling further behind with every call. The core may take as
  // much host time as passed outside it since the last call (at most
  // kLongestCatchUpUs), so the port keeps answering at about half speed.
  const std::uint64_t budget = std::clamp<std::uint64_t>(
      started - std::min(started, caught_up_us_), kShortestCatchUpUs, kLongestCatchUpUs);
  const std::uint64_t slice = std::max<std::uint64_t>(1, description_.clock_khz / 64);
  while (owed > 0) {
    const RunResult part = core_->Run(std::min(owed, slice));
    result.instructions += part.instructions;
    result.last = part.last;
    result.limit_reached = part.limit_reached;
    owed -= std::min(owed, std::max<std::uint64_t>(part.instructions, 1));
    if (part.last.outcome == StepOutcome::Halted) {
      running_ = false;
      break;
    }
    if (owed > 0 && HostMicroseconds() - started > budget) {
      ++behind_real_time_;
      break;
    }
  }
  caught_up_us_ = HostMicroseconds();
  return result;
}

bool Board::Peek(std::uint32_t address, std::uint32_t count, std::uint8_t* bytes) const {
  return bus_.Peek(address, count, bytes);
}

bool Board::Poke(std::uint32_t address, std::uint32_t count, const std::uint8_t* bytes) {
  return bus_.Poke(address, count, bytes);
}

bool Board::PeekValue(std::uint32_t address, AccessSize size, std::uint32_t& value) const {
  std::uint8_t bytes[4];
  unsigned count = static_cast<unsigned>(size);
  if (!bus_.Peek(address, count, bytes)) return false;
  value = ComposeValue(bytes, count, description_.big_endian);
  return true;
}

void Board::Settle() {
  for (const auto& region : bus_.regions()) {
    if (auto* nor = dynamic_cast<NorRegion*>(region.get())) nor->Settle();
  }
}

std::string Board::Info() const {
  const BoardDescription& d = description_;
  std::ostringstream out;
  out << "Board " << d.file.string() << "\n";
  out << "  Core=" << CoreKindName(d.core) << " Endian=" << (d.big_endian ? "Big" : "Little")
      << " IdCode=" << Hex8(d.id_code) << " Probe=" << d.probe << " PortBase=$"
      << std::hex << std::uppercase << d.port_base << std::dec << "\n";
  out << "  Timing=" << (d.timing == TimingMode::RealTime ? "RealTime" : "Deterministic")
      << " ClockKHz=" << d.clock_khz << " RunBudget=" << d.run_budget << "\n";
  for (const auto& region : d.regions) {
    out << region.section << ": " << RegionKindName(region.kind) << " " << Hex8(region.base) << "-"
        << Hex8(region.base + region.size - 1) << " (" << SizeText(region.size) << ")\n";
    if (region.kind != RegionKind::NOR) {
      if (region.kind != RegionKind::RAM && region.kind != RegionKind::IO) {
        out << "  " << OnChipInfo(region) << "\n";
      }
      continue;
    }
    const NorDescription& nor = region.nor;
    out << "  " << nor.chips << " x " << CommandSetName(nor.command_set) << " chip"
        << (nor.chips > 1 ? "s" : "") << ", " << nor.width_bits << " bits"
        << (nor.byte_mode ? " (byte mode)" : "") << ", " << SizeText(nor.ChipSize())
        << " each, ManufacturerId=" << HexDigits(nor.manufacturer_id, 2)
        << " DeviceId=" << HexDigits(nor.device_id, nor.width_bits == 32 ? 8 : 4) << "\n";
    out << "  Sectors=" << SectorText(nor.sectors) << " (" << nor.sectors.size() << " per chip)\n";
    out << "  ProgramTimeUs=" << nor.program_time_us << " SectorEraseTimeMs="
        << nor.sector_erase_time_ms << " ChipEraseTimeMs=" << nor.chip_erase_time_ms << "\n";
    if (nor.write_buffer_bytes) out << "  WriteBufferBytes=" << nor.write_buffer_bytes << "\n";
    if (nor.block_bytes) out << "  BlockSize=" << SizeText(nor.block_bytes) << "\n";
    if (nor.persistent_protection) {
      out << "  PersistentProtection=1 ProtectionImage="
          << (nor.protection_image.empty() ? std::string("(none, kept in memory)")
                                           : nor.protection_image.string())
          << "\n";
    }
    out << "  Image=" << (nor.image.empty() ? std::string("(none, kept in memory)") : nor.image.string())
        << "\n";
  }
  if (!d.faults.stuck_bits.empty() || d.faults.no_erase || d.faults.erase_never_ends) {
    out << "Faults:";
    for (const auto& stuck : d.faults.stuck_bits) {
      out << " StuckBits " << Hex8(stuck.address) << ":" << Hex8(stuck.mask);
    }
    if (d.faults.no_erase) out << " NoErase";
    if (d.faults.erase_never_ends) out << " EraseNeverEnds";
    out << "\n";
  }
  return out.str();
}

}  // namespace simboard
