#include "drivers/core/driver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "drivers/core/arm9_core.h"
#include "platform/ticks.h"

namespace drivers {
namespace {

// The port before connect and after close: every status reads all ones, so
// TDO reads 0 and every IR capture fails.
class NoPort final : public Port {
 public:
  std::uint8_t Read(std::uint16_t) override { return 0xFF; }
  void Write(std::uint16_t, std::uint8_t) override {}
};

NoPort no_port;

const char* const kStepRunning = "Debug: Can not execute step command while CPU is running!\n";
const char* const kRunningLoad = "Debug: Can not execute READ_MEMORY command while CPU is running!\n";
const char* const kRunningStore =
    "Debug: Can not execute write memory command while CPU is running!\n";
const char* const kRunningBlockLoad =
    "Debug: Can not execute dump memblock command while CPU is running!\n";
const char* const kRunningBlockStore =
    "Debug: Can not execute fill memblock command while CPU is running!\n";

// Writes the low byte of a 32-bit field only, as the host expects.
void SetLowByte(std::uint32_t* field, std::uint8_t value) {
  std::memcpy(reinterpret_cast<unsigned char*>(field), &value, 1);
}

constexpr std::uint32_t kMaxSpeedNames = 8;

char* AllocateText(std::uint32_t size, const char* text) {
  char* buffer = static_cast<char*>(std::calloc(size, 1));
  if (buffer && text) std::strncpy(buffer, text, size - 1);
  return buffer;
}

// The named-register table: name -> register-file index. Names that depend on
// the mode (R8-R12 in FIQ mode) are handled by the caller.
struct NamedIndex {
  const char* name;
  int index;
};

constexpr NamedIndex kNames[] = {
    {"PC", 15}, {"pc", 15}, {"R15", 15}, {"CPSR", 16},
    {"R0_usr", 0}, {"R1_usr", 1}, {"R2_usr", 2}, {"R3_usr", 3}, {"R4_usr", 4},
    {"R5_usr", 5}, {"R6_usr", 6}, {"R7_usr", 7}, {"R8_usr", 8}, {"R9_usr", 9},
    {"R10_usr", 10}, {"R11_usr", 11}, {"R12_usr", 12},
    {"R13_usr", 13}, {"SP_usr", 13}, {"R14_usr", 14}, {"LR_usr", 14},
    {"PC_usr", 15}, {"CPSR_usr", 16},
    {"R8_fiq", 17}, {"R9_fiq", 18}, {"R10_fiq", 19}, {"R11_fiq", 20}, {"R12_fiq", 21},
    {"R13_fiq", 22}, {"SP_fiq", 22}, {"R14_fiq", 23}, {"LR_fiq", 23}, {"SPSR_fiq", 24},
    {"R13_svc", 25}, {"SP_svc", 25}, {"R14_svc", 26}, {"LR_svc", 26}, {"SPSR_svc", 27},
    {"R13_abt", 28}, {"SP_abt", 28}, {"R14_abt", 29}, {"LR_abt", 29}, {"SPSR_abt", 30},
    {"R13_irq", 31}, {"SP_irq", 31}, {"R14_irq", 32}, {"LR_irq", 32}, {"SPSR_irq", 33},
    {"R13_und", 34}, {"SP_und", 34}, {"R14_und", 35}, {"LR_und", 35}, {"SPSR_und", 36},
};

const char* ModeSuffix(std::uint32_t cpsr) {
  switch (cpsr & 0x1F) {
    case kModeUser:
    case kModeSystem: return "_usr";
    case kModeFiq: return "_fiq";
    case kModeIrq: return "_irq";
    case kModeSupervisor: return "_svc";
    case kModeAbort: return "_abt";
    case kModeUndefined: return "_und";
  }
  return nullptr;
}

const char* const kMemorySpaceNames[] = {"MotRsv0", "UserData", "UserProg", "UserRsv", "MotRsv1",
                                         "SuprData", "SuprProg", "SuprCpu",  "DMA"};

// Stores a u32 at a DriverInfo offset in the 24..115 constant area.
void PutConstant(DriverInfo* info, int offset, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) info->constants[offset - 24 + k] = static_cast<std::uint8_t>(value >> (8 * k));
}

std::unique_ptr<CoreAccess> MakeCoreAccess(const ModuleProfile& profile, Jtag* jtag,
                                           DriverState* state) {
  if (profile.core == CoreFamily::Arm9) {
    return std::make_unique<Arm9Core>(jtag, state, TimingOf(profile));
  }
  return std::make_unique<Arm7Core>(jtag, state, TimingOf(profile));
}

}  // namespace

PortFactory LibraryPortFactory() {
  return [](const std::string& directory, std::string* error,
            bool* exports_missing) -> std::unique_ptr<Port> {
    return PortLibrary::Load(directory, error, exports_missing);
  };
}

Driver::Driver(const ModuleProfile& profile, PortFactory factory)
    : profile_(profile),
      factory_(std::move(factory)),
      transport_(profile.probe.wiring, &no_port),
      core_(MakeCoreAccess(profile, &transport_, &state_)),
      breakpoints_(&state_, core_.get()) {
  state_.byte_order = 0;
  transport_.set_cancel_flag(&state_.waits_cancelled);
}

Driver::Driver(const ModuleProfile& profile, PortFactory factory, std::unique_ptr<CoreAccess> core)
    : profile_(profile),
      factory_(std::move(factory)),
      transport_(profile.probe.wiring, &no_port),
      core_(std::move(core)),
      breakpoints_(&state_, core_.get()) {
  state_.byte_order = 0;
  transport_.set_cancel_flag(&state_.waits_cancelled);
}

// ---- Open, connect, close --------------------------------------------------

int Driver::Open(const OpenOptions* options) {
  DriverState& s = state_;
  if (!options) return GDI_OPEN_FAILED;
  s.waits_cancelled = false;
  s.wide_block_loads = false;  // options hold from one open to its close
  s.byte_order = options->byte_order ? *options->byte_order : 2;
  const SpeedTable& speeds = *profile_.probe.speeds;
  if (speeds.setting != SpeedSetting::NotRead) {
    const int index = options->speed ? *options->speed : 0;
    int value = 0;
    if (index >= 0 && static_cast<std::uint32_t>(index) < speeds.name_count) {
      value = speeds.values[index];
    } else if (profile_.probe.speed_warning) {
      s.messenger.Report("%s", profile_.probe.speed_warning);
    }
    s.delay_factor = speeds.setting == SpeedSetting::DelayFactor ? value : 0;
    s.speed_code = speeds.setting == SpeedSetting::HarrierCode ? value : 0;
  }
  transport_.set_delay_factor(s.delay_factor);
  transport_.set_speed_code(s.speed_code);

  // The port library in the port-driver directory grants the port access.
  std::string error;
  bool exports_missing = false;
  port_ = factory_(options->parameter ? options->parameter : "", &error, &exports_missing);
  if (!port_) {
    // A library without its two exports fails open without a line.
    if (!exports_missing && profile_.probe.port_library_failed) {
      s.messenger.Report("%s", profile_.probe.port_library_failed);
    }
    return GDI_OPEN_FAILED;
  }
  try {
    s.breakpoints.assign(kBreakpointTableSize, BreakpointSlot{});
  } catch (const std::bad_alloc&) {
    port_.reset();
    return GDI_OPEN_FAILED;
  }
  return GDI_OK;
}

int Driver::Connect(ConnectRecord* record) {
  DriverState& s = state_;
  const std::uint32_t start = platform::TickCount();
  if (!record || record->comm_type != GDI_COMM_PARALLEL || !record->port) return GDI_OPEN_FAILED;
  std::uint16_t base = 0;
  if (std::strcmp(record->port, "LPT1") == 0) {
    base = 0x378;
  } else if (std::strcmp(record->port, "LPT2") == 0) {
    base = 0x278;
  } else {
    return GDI_OPEN_FAILED;
  }
  SetLowByte(&record->connected, 1);
  if (!port_) return GDI_OPEN_FAILED;  // not opened

  transport_.set_port(port_.get());
  s.port_base = base;
  s.ir_length = 4;
  s.debug_request_counter = 0;
  s.cycle_counter = 0;
  if (!transport_.StartUp(base, start)) {
    if (profile_.probe.probe_not_found) s.messenger.Report("%s", profile_.probe.probe_not_found);
    return GDI_OPEN_FAILED;
  }
  // A cancelled start-up settle or ready wait leaves nothing to identify.
  if (s.WaitsCancelled()) return GDI_OPEN_FAILED;
  const std::uint32_t id = core_->ReadIdcode();
  if ((id & 1) == 0) {
    if (profile_.cpu_not_found) s.messenger.Report("%s", profile_.cpu_not_found);
    return GDI_OPEN_FAILED;
  }
  s.messenger.Report("Info: target device ID is: 0x%lx.\n", static_cast<unsigned long>(id));

  std::uint32_t status = 0;
  if (!core_->ReadDebugStatus(&status)) {
    if (profile_.status_unreadable) s.messenger.Report("%s", profile_.status_unreadable);
    return GDI_OPEN_FAILED;
  }
  if (status & kDebugAck) {
    s.messenger.Report(
        "Info: CPU was in debug state before connect, register values may be incorrect.\n");
    // How the core entered debug state is unknown; its state is not.
    s.thumb = (status & kDebugThumb) ? GDI_ALREADY_RUNNING : GDI_OK;
    s.entered_by_debug_request = 0;
    if (!core_->ReadRegisters()) {
      if (profile_.registers_failed) s.messenger.Report("%s", profile_.registers_failed);
      return GDI_FAILED;
    }
  }
  if (!transport_.PresenceTest(base)) {
    if (profile_.final_presence_failed) s.messenger.Report("%s", profile_.final_presence_failed);
    return GDI_OPEN_FAILED;
  }
  return GDI_OK;
}

int Driver::CancelWaits() {
  state_.waits_cancelled = true;
  return GDI_OK;
}

int Driver::Close() {
  DriverState& s = state_;
  if (port_) {
    transport_.Release();
    transport_.set_port(&no_port);
    port_.reset();
  }
  s.registers.clear();
  for (RegisterGroup& group : s.groups) group = RegisterGroup{};
  s.breakpoints.clear();
  s.memory_spaces.clear();
  return GDI_OK;
}

// Options a user may switch on; each leaves the prescribed behaviour the
// default.
int Driver::SetOption(const char* name, std::int32_t value) {
  if (!name || (value != 0 && value != 1)) return GDI_BAD_ARGUMENT;
  if (std::strcmp(name, "FastRead") == 0) {
    state_.wide_block_loads = value == 1;
    return GDI_OK;
  }
  return GDI_BAD_ARGUMENT;
}

// ---- Debug comms channel ---------------------------------------------------

int Driver::WriteComms(const std::uint32_t* words, std::uint32_t count, std::uint32_t check_every,
                       CommsResult* out) {
  if (!out || (!words && count != 0)) return GDI_BAD_ARGUMENT;
  *out = {};
  if (!Connected()) return GDI_FAILED;
  CommsProgress progress;
  const bool selected = core_->WriteComms(words, count, check_every, &progress);
  out->written = progress.written;
  out->status = progress.status;
  out->status_read = progress.status_read ? 1 : 0;
  out->control = progress.control;
  return selected ? GDI_OK : GDI_FAILED;
}

// ---- Describe --------------------------------------------------------------

int Driver::GetVersion(std::uint32_t* out) {
  if (out) *out = profile_.version;
  return GDI_OK;
}

int Driver::GetInfo(DriverInfo* info) {
  if (!info) return GDI_OK;
  info->description = AllocateText(profile_.description_buffer, profile_.description);
  char version[32];
  std::snprintf(version, sizeof version, "%d", static_cast<int>(profile_.version));
  info->version_text = AllocateText(64, version);
  info->version = profile_.version;
  // The speed-name array stays with the module for its lifetime: static
  // buffers, so nothing is left allocated when the module unloads.
  static char name_texts[kMaxSpeedNames][64];
  static char* names[kMaxSpeedNames];
  const SpeedTable& speeds = *profile_.probe.speeds;
  const std::uint32_t name_count = std::min<std::uint32_t>(speeds.name_count, kMaxSpeedNames);
  for (std::uint32_t i = 0; speeds.names && i < name_count; ++i) {
    std::strncpy(name_texts[i], speeds.names[i], sizeof name_texts[i] - 1);
    names[i] = name_texts[i];
  }
  info->speed_names = speeds.names ? names : nullptr;
  info->speed_count = speeds.reported_count;
  info->comm_types = GDI_COMM_PARALLEL;
  info->constants[0] = 0;  // 24
  info->constants[1] = 0;  // 25
  for (int offset = 28; offset <= 37; ++offset) info->constants[offset - 24] = 0;
  PutConstant(info, 40, 0);
  PutConstant(info, 44, 0);
  PutConstant(info, 48, 0);
  PutConstant(info, 64, 0);
  info->constants[80 - 24] = 0;
  PutConstant(info, 84, 2048);
  info->constants[88 - 24] = 1;
  info->constants[89 - 24] = 1;
  info->constants[90 - 24] = 0;
  info->constants[91 - 24] = 1;
  PutConstant(info, 92, 1);
  PutConstant(info, 96, 1);
  info->constants[100 - 24] = 1;
  info->constants[101 - 24] = 1;
  info->constants[102 - 24] = 1;
  for (int offset = 103; offset <= 109; ++offset) info->constants[offset - 24] = 0;
  PutConstant(info, 112, 0);
  info->extra_text = AllocateText(8, "");
  std::memset(info->constants_120, 0, sizeof info->constants_120);
  info->constant_128 = 1;
  info->byte_order = static_cast<std::uint32_t>(state_.byte_order);
  info->constant_136 = 2;
  info->constant_140 = 0;
  info->constant_144 = 0;
  return GDI_OK;
}

int Driver::Free(void* pointer) {
  std::free(pointer);
  return GDI_OK;
}

int Driver::SetCallback(std::int32_t kind, MessageCallback callback) {
  if (kind == GDI_MESSAGE_KIND) state_.messenger.set_sink(callback);
  return GDI_OK;
}

int Driver::GetCpuState(char* buffer) {
  if (buffer) std::strcpy(buffer, state_.thumb ? "THUMB" : "ARM");
  return GDI_OK;
}

// ---- Run control -----------------------------------------------------------

bool Driver::StepOverBreakpoint(bool always) {
  DriverState& s = state_;
  const std::uint32_t pc = s.regs[kPcIndex];
  std::uint32_t instruction = 0;
  bool pattern = false;
  if (s.thumb) {
    if (!core_->Load(pc, 2, &instruction)) return false;
    pattern = instruction == kHalfwordPattern;
  } else {
    if (!core_->Load(pc & ~3u, 4, &instruction)) return false;
    pattern = instruction == kWordPattern;
  }
  if (pattern) {
    BreakpointSlot* own = breakpoints_.SoftwareAt(pc);
    BreakpointSlot* other = own ? nullptr : breakpoints_.SoftwareAt(pc ^ 2u);
    if (!own && !other) return false;
    if (s.thumb && !own) {
      // The pattern at the PC is the other half of a whole-word entry:
      // splitting it puts this halfword's instruction back.
      if (other->width != 0) return false;
      if (!breakpoints_.Split(*other)) return false;
      return always ? core_->SingleStep() : true;
    }
    BreakpointSlot& entry = own ? *own : *other;
    if (s.thumb && entry.width == 0 && !breakpoints_.Split(entry)) return false;
    if (!breakpoints_.WriteSaved(entry)) return false;
    if (!core_->SingleStep()) return false;
    return breakpoints_.WritePattern(entry);
  }
  BreakpointSlot* hardware = breakpoints_.ExecutionAt(pc);
  if ((hardware && hardware->kind == kKindHardware) || always) return core_->SingleStep();
  return true;
}

int Driver::Run() {
  DriverState& s = state_;
  std::uint32_t status = 0;
  if (!core_->ReadDebugStatus(&status)) return GDI_FAILED;
  if (!(status & kDebugAck)) {
    s.messenger.Report("Debug: CPU is already in running state!\n");
    return GDI_ALREADY_RUNNING;
  }
  if (!StepOverBreakpoint(false)) return GDI_FAILED;
  if (!core_->WriteIce(kIceDebugControl, kDebugRun)) return GDI_FAILED;
  if (!core_->Resume()) return GDI_FAILED;
  s.stop_cause = kRunIssued;
  return GDI_OK;
}

int Driver::Step() {
  DriverState& s = state_;
  std::uint32_t status = 0;
  if (!core_->ReadDebugStatus(&status)) return GDI_FAILED;
  if (!(status & kDebugAck)) {
    s.messenger.Report("%s", kStepRunning);
    return GDI_FAILED;
  }
  if (!StepOverBreakpoint(true)) return GDI_FAILED;
  s.stop_cause = kHaltedStep;
  return GDI_OK;
}

int Driver::Stop() {
  const int result = core_->Halt();
  if (result == kHaltFailed) return GDI_FAILED;
  if (result == kHalted) state_.stop_cause = kHaltedStop;
  return GDI_OK;
}

int Driver::Reset() { return core_->ResetAndCatch() ? GDI_OK : GDI_FAILED; }

int Driver::GetStatus(TargetStatus* out) {
  DriverState& s = state_;
  TargetStatus result{0, 0};
  std::uint32_t status = 0;
  // A failed read: reset the TAP, switch the units back on, try once more.
  auto read_status = [&]() {
    if (core_->ReadDebugStatus(&status)) return true;
    s.messenger.Report("Debug: JTAG communication error.\n");
    transport_.TapReset();
    breakpoints_.ReenableUnits();
    return core_->ReadDebugStatus(&status);
  };
  auto finish = [&](std::uint32_t state, std::uint32_t number) {
    result.state = state;
    result.breakpoint = number;
    if (out) *out = result;
    return GDI_OK;
  };

  if (!read_status()) return GDI_FAILED;
  if (!(status & kDebugAck)) return finish(kRunning, 0);
  if (!read_status()) return GDI_FAILED;
  if (!(status & kDebugAck)) {
    s.messenger.Report("Debug: Pseudo debug state been found!\n");
    return finish(kRunning, 0);
  }
  const int cause = s.stop_cause;
  if (cause == kHaltedStep || cause == kHaltedStop || cause == kNeverRun) {
    return finish(static_cast<std::uint32_t>(cause), 0);
  }
  if (cause == kRunIssued) {
    // A failed write shows in the register read that follows, which fails
    // the status.
    (void)core_->WriteIce(kIceDebugControl, kDebugInterruptsOff);
    s.thumb = (status & kDebugThumb) ? GDI_ALREADY_RUNNING : GDI_OK;
    if (!core_->ReadRegisters()) return GDI_FAILED;
  }
  if (s.watchpoint_hit) {
    s.stop_cause = kHaltedWatchpoint;
    return finish(kHaltedWatchpoint, 0);
  }
  const std::uint32_t pc = s.regs[kPcIndex];
  if (BreakpointSlot* entry = breakpoints_.ExecutionAt(pc)) {
    s.stop_cause = kHaltedBreakpoint;
    if (s.thumb && Breakpoints::IsSoftware(*entry) && entry->width == 0) {
      // The halt is reported whatever the split gave: a split that failed
      // leaves the whole-word entry, which the next halt splits again.
      (void)breakpoints_.Split(*entry);
    }
    return finish(kHaltedBreakpoint, entry->number);
  }
  if (BreakpointSlot* other = breakpoints_.SoftwareAt(pc ^ 2u)) {
    if (!s.thumb) {
      s.stop_cause = kHaltedBreakpoint;
      return finish(kHaltedBreakpoint, other->number);
    }
    if (other->width == 0) {
      // The core fetched the pattern of the other halfword's breakpoint:
      // give this halfword its instruction back and let it run on.
      if (!breakpoints_.Split(*other)) return GDI_FAILED;
      if (!core_->WriteIce(kIceDebugControl, kDebugRun) || !core_->Resume()) return GDI_FAILED;
      return finish(kRunning, 0);
    }
  }
  return finish(static_cast<std::uint32_t>(s.stop_cause), 0);
}

// ---- Breakpoints -----------------------------------------------------------

int Driver::SetBreakpoint(BreakpointEntry* out, const BreakpointRequest& request) {
  if (state_.breakpoints.empty()) return GDI_FAILED;  // not opened
  BreakpointSpec wanted{request.flags, request.arg2, request.address, request.cond, request.kind};
  BreakpointSlot made;
  const int result = breakpoints_.Set(wanted, &made);
  if (result == 0 && out) {
    out->number = made.number;
    out->request.flags = made.flags;
    out->request.arg2 = made.spare;
    out->request.address = made.address;
    out->request.cond = made.condition;
    out->request.kind = made.kind;
  }
  return result;
}

int Driver::ClearBreakpoint(std::uint32_t number) {
  if (state_.breakpoints.empty()) return GDI_BAD_ARGUMENT;
  return breakpoints_.Clear(number);
}

int Driver::ClearAllBreakpoints() { return breakpoints_.ClearAll(); }

// ---- Memory ----------------------------------------------------------------

std::uint32_t Driver::ValueOf(const std::uint8_t* bytes, int width) const {
  std::uint32_t value = 0;
  for (int k = 0; k < width; ++k) {
    const int lane = state_.big_endian() ? width - 1 - k : k;
    value |= static_cast<std::uint32_t>(bytes[k]) << (8 * lane);
  }
  return value;
}

void Driver::BytesOf(std::uint32_t value, int width, std::uint8_t* bytes) const {
  for (int k = 0; k < width; ++k) {
    const int lane = state_.big_endian() ? width - 1 - k : k;
    bytes[k] = static_cast<std::uint8_t>(value >> (8 * lane));
  }
}

bool Driver::MemoryHalted(const char* refusal) {
  std::uint32_t status = 0;
  if (!core_->ReadDebugStatus(&status)) return false;
  if (!(status & kDebugAck)) {
    state_.messenger.Report("%s", refusal);
    return false;
  }
  return true;
}

// A range that runs past the top of the address space is refused rather
// than wrapped to address 0.
static bool RangeWraps(std::uint32_t address, std::uint32_t count) {
  return count > 0 && address + (count - 1) < address;
}

int Driver::WriteMemory(std::uint32_t address, MemoryCell* cells, std::uint32_t count,
                        std::int32_t width) {
  if (width != 1 && width != 2 && width != 4) return GDI_BAD_ARGUMENT;
  if (count == 0) return GDI_OK;
  if (!cells || RangeWraps(address, count)) return GDI_BAD_ARGUMENT;
  try {
    return WriteMemoryCells(address, cells, count, width);
  } catch (const std::bad_alloc&) {
    return GDI_FAILED;
  }
}

int Driver::ReadMemory(std::uint32_t address, MemoryCell* cells, std::uint32_t count,
                       std::int32_t width) {
  if (width != 1 && width != 2 && width != 4) return GDI_BAD_ARGUMENT;
  if (count == 0) return GDI_OK;
  if (!cells || RangeWraps(address, count)) return GDI_BAD_ARGUMENT;
  try {
    return ReadMemoryCells(address, cells, count, width);
  } catch (const std::bad_alloc&) {
    return GDI_FAILED;
  }
}

int Driver::WriteMemoryCells(std::uint32_t address, MemoryCell* cells, std::uint32_t count,
                             std::int32_t width) {
  const auto w = static_cast<std::uint32_t>(width);
  const std::uint32_t start = address & ~(w - 1);
  const std::uint32_t end = address + count;  // exclusive
  const std::uint32_t last = (end - 1) & ~(w - 1);
  const std::uint32_t units = (last - start) / w + 1;
  const bool head_edge = address != start;
  const bool tail_edge = (end & (w - 1)) != 0 && !(head_edge && last == start);

  // The first access decides which refusal a running core gets.
  const char* refusal = kRunningStore;
  if (head_edge || tail_edge) {
    refusal = kRunningLoad;
  } else if (w == 4 && units >= 12) {
    refusal = kRunningBlockStore;
  }
  if (!MemoryHalted(refusal)) return GDI_FAILED;

  std::vector<std::uint8_t> image(static_cast<std::size_t>(units) * w);
  if (head_edge) {
    std::uint32_t value = 0;
    if (!core_->Load(start, width, &value, false)) return GDI_FAILED;
    BytesOf(value, width, image.data());
  }
  if (tail_edge) {
    std::uint32_t value = 0;
    if (!core_->Load(last, width, &value, false)) return GDI_FAILED;
    BytesOf(value, width, image.data() + (last - start));
  }
  std::vector<std::uint8_t> data(count);
  for (std::uint32_t i = 0; i < count; ++i) data[i] = static_cast<std::uint8_t>(cells[i].value);
  breakpoints_.ShadowWrite(address, data.data(), count);
  std::memcpy(image.data() + (address - start), data.data(), count);

  std::uint32_t unit = 0;
  if (w == 4 && units >= 12) {
    const std::uint32_t block = units - units % 12;
    std::vector<std::uint32_t> words(block);
    for (std::uint32_t k = 0; k < block; ++k) words[k] = ValueOf(&image[k * 4], 4);
    if (!core_->BlockStore(start, words.data(), static_cast<int>(block), false)) return GDI_FAILED;
    unit = block;
  }
  for (; unit < units; ++unit) {
    const std::uint32_t value = ValueOf(&image[unit * w], width);
    if (!core_->Store(start + unit * w, width, value, false)) return GDI_FAILED;
  }
  return GDI_OK;
}

int Driver::ReadMemoryCells(std::uint32_t address, MemoryCell* cells, std::uint32_t count,
                            std::int32_t width) {
  const auto w = static_cast<std::uint32_t>(width);
  const std::uint32_t start = address & ~(w - 1);
  const std::uint32_t end = address + count;
  const std::uint32_t last = (end - 1) & ~(w - 1);
  std::uint32_t units = (last - start) / w + 1;
  if (!MemoryHalted(w == 4 ? kRunningBlockLoad : kRunningLoad)) return GDI_FAILED;

  std::vector<std::uint8_t> image;
  if (w == 4) {
    units = (units + 7) / 8 * 8;  // whole 32-byte blocks
    std::vector<std::uint32_t> words(units);
    if (!core_->BlockLoad(start, words.data(), static_cast<int>(units), false)) return GDI_FAILED;
    image.resize(static_cast<std::size_t>(units) * 4);
    for (std::uint32_t k = 0; k < units; ++k) BytesOf(words[k], 4, &image[k * 4]);
  } else {
    image.resize(static_cast<std::size_t>(units) * w);
    for (std::uint32_t k = 0; k < units; ++k) {
      std::uint32_t value = 0;
      if (!core_->Load(start + k * w, width, &value, false)) return GDI_FAILED;
      BytesOf(value, width, &image[k * w]);
    }
  }
  std::uint8_t* bytes = image.data() + (address - start);
  breakpoints_.ShadowRead(address, bytes, count);
  for (std::uint32_t i = 0; i < count; ++i) cells[i].value = bytes[i];
  return GDI_OK;
}

// ---- Registers -------------------------------------------------------------

int Driver::ResolveRegister(const char* name) {
  DriverState& s = state_;
  if (!name) return -1;
  // A suffix names a bank that may not be loaded yet.
  if (const char* underscore = std::strchr(name, '_')) {
    for (std::size_t m = 0; m < s.modes.size(); ++m) {
      if (std::strcmp(underscore, s.modes[m].suffix) == 0 && !s.modes[m].loaded) {
        if (!core_->LoadBank(static_cast<int>(m))) return -1;
      }
    }
  }
  const bool fiq = (s.regs[kCpsrIndex] & 0x1F) == kModeFiq;
  for (int number = 0; number <= 12; ++number) {
    char plain[16];  // "R" and any int, as the compiler counts
    std::snprintf(plain, sizeof plain, "R%d", number);
    if (std::strcmp(plain, name) != 0) continue;
    return (number >= 8 && fiq) ? number + 9 : number;
  }
  for (const NamedIndex& entry : kNames) {
    if (std::strcmp(entry.name, name) == 0) return entry.index;
  }
  if (std::strchr(name, '_')) return -1;
  const char* suffix = ModeSuffix(s.regs[kCpsrIndex]);
  if (!suffix) return -1;
  char qualified[32];
  if (std::snprintf(qualified, sizeof qualified, "%s%s", name, suffix) >= int(sizeof qualified)) {
    return -1;
  }
  return ResolveRegister(qualified);
}

const RegisterName* Driver::FindKey(std::int32_t key) const {
  for (const RegisterName& item : state_.registers) {
    if (item.key == static_cast<std::uint32_t>(key)) return &item;
  }
  return nullptr;
}

int Driver::WriteRegister(std::int32_t key, std::uint32_t value, std::int32_t flag) {
  const RegisterName* item = FindKey(key);
  if (!item || !item->supported || flag != 0) return GDI_NOT_SUPPORTED;
  const int index = ResolveRegister(item->name);
  if (index < 0) return GDI_FAILED;
  state_.regs[index] = value;
  return GDI_OK;
}

int Driver::ReadRegister(std::int32_t key, RegisterValue* out) {
  const RegisterName* item = FindKey(key);
  if (!item || !item->supported) return GDI_NOT_SUPPORTED;
  const int index = ResolveRegister(item->name);
  if (index < 0) {
    if (out) *out = RegisterValue{0, GDI_REGISTER_FAILED};
    return GDI_FAILED;
  }
  if (out) *out = RegisterValue{state_.regs[index], GDI_REGISTER_READ};
  return GDI_OK;
}

int Driver::SetRegisterList(std::uint32_t count, RegisterListItem* items) {
  try {
    std::vector<RegisterName> copy(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      if (items[i].name) std::strncpy(copy[i].name, items[i].name, sizeof copy[i].name - 1);
      copy[i].key = items[i].key;
      copy[i].supported = true;
      SetLowByte(&items[i].supported, 1);
    }
    state_.registers = std::move(copy);
  } catch (const std::bad_alloc&) {
    return GDI_FAILED;
  }
  return GDI_OK;
}

int Driver::SetMemorySpaceList(std::uint32_t count, MemorySpaceItem* items) {
  try {
    std::vector<MemorySpace> copy(count);
    for (std::uint32_t i = 0; i < count; ++i) {
      copy[i].name = items[i].name ? items[i].name : "";
      copy[i].id = items[i].id;
      for (const char* known : kMemorySpaceNames) {
        if (copy[i].name == known) copy[i].supported = true;
      }
      if (copy[i].supported) SetLowByte(&items[i].supported, 1);
    }
    state_.memory_spaces = std::move(copy);
  } catch (const std::bad_alloc&) {
    return GDI_FAILED;
  }
  return GDI_OK;
}

int Driver::CreateRegisterGroup(std::int32_t* id, const std::int32_t* keys, std::uint32_t count) {
  for (int g = 1; g < kRegisterGroupCount; ++g) {
    RegisterGroup& group = state_.groups[static_cast<std::size_t>(g)];
    if (group.used) continue;
    try {
      group.keys.assign(keys, keys + count);
    } catch (const std::bad_alloc&) {
      return GDI_FAILED;
    }
    group.used = true;
    if (id) *id = g;
    return GDI_OK;
  }
  return GDI_FAILED;
}

int Driver::DeleteRegisterGroup(std::int32_t id) {
  if (id < 1 || id >= kRegisterGroupCount || !state_.groups[static_cast<std::size_t>(id)].used) {
    return GDI_FAILED;
  }
  state_.groups[static_cast<std::size_t>(id)] = RegisterGroup{};
  return GDI_OK;
}

int Driver::WriteRegisterGroup(std::int32_t id, const RegisterWriteItem* items) {
  if (id < 1 || id >= kRegisterGroupCount || !state_.groups[static_cast<std::size_t>(id)].used) {
    return GDI_FAILED;
  }
  int result = 0;
  const std::vector<std::int32_t>& keys = state_.groups[static_cast<std::size_t>(id)].keys;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    result = WriteRegister(keys[i], items[i].value, items[i].flag);
  }
  return result;
}

int Driver::ReadRegisterGroup(std::int32_t id, RegisterValue* out) {
  if (id < 1 || id >= kRegisterGroupCount || !state_.groups[static_cast<std::size_t>(id)].used) {
    return GDI_FAILED;
  }
  const std::vector<std::int32_t>& keys = state_.groups[static_cast<std::size_t>(id)].keys;
  for (std::size_t i = 0; i < keys.size(); ++i) ReadRegister(keys[i], &out[i]);
  return GDI_OK;
}

}  // namespace drivers
