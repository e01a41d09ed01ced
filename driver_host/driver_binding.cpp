#include "driver_host/driver_binding.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "driver_host/driver_tables.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace romsmith {
namespace {

// What the failures that follow a stop become: lines for the log file.
constexpr char kAfterStop[] = "Debug: after the user's stop: ";

// The receiver of driver messages: the callback has no context of its own.
std::atomic<DriverBinding*> g_message_target{nullptr};
std::atomic<MessageLog*> g_message_log{nullptr};

// Copies a text into a fixed buffer, cut to fit and terminated.
template <std::size_t N>
void CopyText(std::array<char, N>& buffer, std::string_view text) {
  std::size_t length = std::min(text.size(), N - 1);
  std::memcpy(buffer.data(), text.data(), length);
  buffer[length] = '\0';
}

std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

bool ValidSize(std::uint32_t size) { return size == 1 || size == 2 || size == 4; }

}  // namespace

std::string DeviceFileName(std::string_view title) {
  return std::string(title) + std::string(platform::kSharedLibrarySuffix);
}

std::vector<DriverEntry> DiscoverDrivers(const std::string& directory) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    std::string name = path.filename().string();
    if (name == "." || name == "..") continue;
    std::error_code kind_error;
    if (!it->is_regular_file(kind_error)) continue;  // sub-directories and the like
    if (name.size() <= platform::kSharedLibrarySuffix.size() ||
        !name.ends_with(platform::kSharedLibrarySuffix))
      continue;
    files.push_back(path);
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });

  std::vector<DriverEntry> entries;
  for (const fs::path& path : files) {
    platform::SharedLibrary module;
    if (!module.Open(path)) continue;
    auto get = module.Get<GdiGetFunction>(GDI_GET_EXPORT_NAME);
    if (!get) continue;
    const DriverTable* table = get();
    if (!table || !table->gdi_get_info) continue;
    DriverInfo info;
    std::memset(&info, 0, sizeof info);
    table->gdi_get_info(&info);

    DriverEntry entry;
    entry.path = path.string();
    entry.file_name = path.filename().string();
    entry.title = platform::StripSharedLibrarySuffix(entry.file_name);
    entry.description = TextOrEmpty(info.description);
    entry.version = TextOrEmpty(info.version_text);
    entry.comm_types = info.comm_types;
    if (info.speed_names && info.speed_count) {
      entry.speed_count = info.speed_count;
      for (std::uint32_t i = 0; i < info.speed_count; ++i) {
        std::array<char, GDI_INFO_TEXT_SIZE> name{};
        CopyText(name, TextOrEmpty(info.speed_names[i]));
        entry.speed_names.emplace_back(name.data());
      }
    }
    // The texts go back to the driver that allocated them; the speed-name
    // array stays with it.
    if (table->gdi_free) {
      if (info.description) table->gdi_free(info.description);
      if (info.version_text) table->gdi_free(info.version_text);
      if (info.extra_text) table->gdi_free(info.extra_text);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

DriverBinding::DriverBinding(MessageLog& log, const ProgramSettings& settings,
                             const TargetConfig& target)
    : log_(log), settings_(settings), target_(target) {
  g_message_log.store(&log_);
  g_message_target.store(this);
}

DriverBinding::~DriverBinding() {
  UnbindDriver();
  DriverBinding* self = this;
  if (g_message_target.compare_exchange_strong(self, nullptr)) g_message_log.store(nullptr);
}

void DriverBinding::RecomputeConnection() {
  // Only the parallel port is a connection this program opens itself.
  const std::uint32_t stored = CommTypeFromSetting(settings_.remote.comm_type);
  comm_code_ = stored == kCommParallel ? stored : kCommNone;
  if (comm_code_ == kCommParallel) {
    std::array<char, GDI_PORT_TEXT_SIZE> port{};
    CopyText(port, settings_.remote.parallel);
    port_copy_ = port.data();
  } else {
    port_copy_.clear();
  }
}

// The faster block loads are the driver's to give: one that has none reads
// the standard way, which costs time but loses nothing.
void DriverBinding::AskForFastReads(const DriverTable& table) {
  const std::int32_t result =
      table.gdi_set_option ? table.gdi_set_option("FastRead", 1) : GDI_NOT_SUPPORTED;
  if (result != GDI_OK) {
    log_.Info("Info: the driver module " + settings_.remote.device +
              " has no fast read; reading the standard way.\n");
  }
}

bool DriverBinding::BindDriver() {
  UnbindDriver();
  g_message_log.store(&log_);
  g_message_target.store(this);

  std::filesystem::path path = settings_.driver_module_directory + settings_.remote.device;
  if (settings_.remote.device.empty() || !module_.Open(path)) {
    log_.Error("Error: unable to load emulator module.\n");
    module_.Close();
    return false;
  }
  auto get = module_.Get<GdiGetFunction>(GDI_GET_EXPORT_NAME);
  const DriverTable* table = get ? get() : nullptr;
  // A module without the export, or whose table lacks a slot the program
  // calls, is no driver module: calling through it would crash.
  if (!table || !HasEverySlotTheProgramCalls(*table)) {
    log_.Error("Error: unable to load emulator module.\n");
    module_.Close();
    return false;
  }
  SetCancelTarget(table);
  table->gdi_set_callback(GDI_MESSAGE_KIND, &DriverBinding::OnDriverMessage);

  const std::string& comm_type = settings_.remote.comm_type;
  std::uint8_t byte_order = little_endian() ? GDI_LITTLE_ENDIAN : GDI_BIG_ENDIAN;
  std::array<char, GDI_OPTION_TEXT_SIZE> parameter{};
  if (EqualsIgnoringCase(comm_type, "PARALLEL")) {
    CopyText(parameter, settings_.port_driver_directory);
  } else if (EqualsIgnoringCase(comm_type, "TCPIP")) {
    CopyText(parameter, settings_.remote.ip_addr);
  }
  std::uint8_t speed = static_cast<std::uint8_t>(settings_.remote.speed & 0xFF);
  OpenOptions options{&byte_order, parameter.data(), &speed};
  if (const std::int32_t result = table->gdi_open(-1, 0, 3, &options, 0); result != GDI_OK) {
    // The driver may have said why; this line says which step failed.
    return FailBind("Error: the driver module " + settings_.remote.device +
                    " did not open (result " + std::to_string(result) + ").\n");
  }
  // Open starts the driver afresh, so a stop that came before it ends the
  // bind here.
  if (cancelled_) {
    table->gdi_close(1);
    return FailBind("Info: stopped before the probe was connected.\n");
  }

  if (ReadsFast(settings_)) AskForFastReads(*table);

  std::array<char, GDI_PORT_TEXT_SIZE> port{};
  CopyText(port, port_copy_);
  ConnectRecord record{comm_code_, 1, comm_code_ == kCommParallel ? port.data() : nullptr};
  if (const std::int32_t result = table->gdi_connect(&record); result != GDI_OK || cancelled_) {
    table->gdi_close(1);
    return FailBind("Error: no connection to the probe on " +
                    (port_copy_.empty() ? settings_.remote.comm_type : port_copy_) + " (result " +
                    std::to_string(result) + ").\n");
  }

  std::array<std::array<char, GDI_REGISTER_NAME_SIZE>, kRegisterNameTable.size()> names{};
  std::array<RegisterListItem, kRegisterNameTable.size()> items{};
  for (std::size_t i = 0; i < kRegisterNameTable.size(); ++i) {
    CopyText(names[i], kRegisterNameTable[i].name);
    items[i] = {names[i].data(), kRegisterNameTable[i].key, 0};
  }
  // Drivers that cannot reach a register say so in its flag; the wrappers
  // find out when they use it.
  table->gdi_set_register_list(static_cast<std::uint32_t>(items.size()), items.data(), 0);
  table_ = table;
  return true;
}

void DriverBinding::UnbindDriver() {
  const DriverTable* table = table_;
  table_ = nullptr;
  SetCancelTarget(nullptr);
  if (table && module_.IsOpen()) {
    table->gdi_close(1);
    module_.Close();
    cancelled_ = false;  // the stopped command has ended
  }
}

bool DriverBinding::FailBind(const std::string& line) {
  SetCancelTarget(nullptr);
  module_.Close();  // a driver that did not open is not closed
  Fail(line, true);
  cancelled_ = false;
  return false;
}

void DriverBinding::SetCancelTarget(const DriverTable* table) {
  std::lock_guard lock(cancel_mutex_);
  cancel_target_ = table;
}

void DriverBinding::CancelWaits() {
  cancelled_ = true;
  // The module stays loaded while the lock is held: unbinding takes it
  // before unloading.
  std::lock_guard lock(cancel_mutex_);
  if (cancel_target_ && cancel_target_->gdi_cancel_waits) cancel_target_->gdi_cancel_waits();
}

void GDI_CALL DriverBinding::OnDriverMessage(int32_t kind, const char* text) {
  (void)kind;
  if (!text) return;
  std::string_view line(text);
  constexpr std::string_view kIdLine = "Info: target device ID is: 0x";
  if (line.substr(0, kIdLine.size()) == kIdLine) {
    if (DriverBinding* target = g_message_target.load())
      target->reported_id_code_ = static_cast<std::uint32_t>(
          std::strtoul(std::string(line.substr(kIdLine.size())).c_str(), nullptr, 16));
  }
  MessageLog* log = g_message_log.load();
  if (!log) {
    platform::ShowMessage(std::string(line));
    return;
  }
  if (line.size() >= 5 && EqualsIgnoringCase(line.substr(0, 5), "Error")) {
    DriverBinding* target = g_message_target.load();
    if (target && target->cancelled())
      log->Info(std::string(kAfterStop) + std::string(line));
    else
      log->Error(line);
  } else {
    log->Info(line);
  }
}

namespace {

// ARM cores by their JTAG ID code (the version nibble, bits 31-28, left
// out), and the module family that drives each.
struct CoreId {
  std::uint32_t id;  // bits 27-0
  const char* name;
  char family;       // the digit the module names end in
};
constexpr CoreId kCoreIds[] = {
    {0x0F0F0F0F, "ARM7TDMI", '7'},
    {0x0F1F0F0F, "ARM7TDMI-S", '7'},
    {0x0032409D, "ARM920T", '9'},
    {0x0032609D, "ARM922T", '9'},
};

}  // namespace

std::string DriverBinding::CoreMismatchLine() const {
  const std::uint32_t id = reported_id_code_.load();
  const CoreId* core = nullptr;
  for (const CoreId& row : kCoreIds)
    if ((id & 0x0FFFFFFF) == row.id) core = &row;
  const std::string module = platform::StripSharedLibrarySuffix(settings_.remote.device);
  if (!core || module.empty()) return {};
  const char module_family = module.back();
  if ((module_family != '7' && module_family != '9') || module_family == core->family) return {};
  // The same probe's module for the other core when there is one, else the
  // emulator's.
  std::string fits = module.substr(0, module.size() - 1) + core->family +
                     std::string(platform::kSharedLibrarySuffix);
  std::error_code error;
  if (!std::filesystem::is_regular_file(settings_.driver_module_directory + fits, error))
    fits = std::string("osprey") + core->family + std::string(platform::kSharedLibrarySuffix);
  return FormatText("Error: the target's ID code 0x%08X is an %s, but %s drives ARM%c cores: "
                    "choose an ARM%c module such as %s.\n",
                    id, core->name, settings_.remote.device.c_str(), module_family, core->family,
                    fits.c_str());
}

bool DriverBinding::Fail(std::string_view line, bool as_error) {
  if (cancelled_) log_.Info(std::string(kAfterStop) + std::string(line));
  else if (as_error) log_.Error(line);
  else log_.Info(line);
  return false;
}

bool DriverBinding::WriteMemory(std::uint32_t address, std::uint32_t value, std::uint32_t size) {
  static constexpr char kLine[] = "Error: write memory failed.\n";
  if (!table_ || !ValidSize(size)) return Fail(kLine, false);
  MemoryCell cells[4] = {};
  if (size == 1) {
    cells[0].value = value;  // the driver takes the low byte
  } else {
    bool little = little_endian();
    for (std::uint32_t k = 0; k < size; ++k) {
      std::uint32_t shift = 8 * (little ? k : size - 1 - k);
      cells[k].value = (value >> shift) & 0xFF;
    }
  }
  if (table_->gdi_write_memory(0, address, cells, size, static_cast<int32_t>(size)) != GDI_OK)
    return Fail(kLine, false);
  return true;
}

bool DriverBinding::ReadMemory(std::uint32_t address, std::uint32_t* value, std::uint32_t size) {
  static constexpr char kLine[] = "Error: read memory failed.";
  if (!table_ || !ValidSize(size) || !value) return Fail(kLine, true);
  MemoryCell cells[4] = {};
  if (table_->gdi_read_memory(0, address, cells, size, static_cast<int32_t>(size)) != GDI_OK)
    return Fail(kLine, true);
  bool little = little_endian();
  std::uint32_t result = 0;
  for (std::uint32_t k = 0; k < size; ++k) {
    std::uint32_t shift = 8 * (little ? k : size - 1 - k);
    result |= (cells[k].value & 0xFF) << shift;
  }
  *value = result;
  return true;
}

int DriverBinding::WriteComms(const std::uint32_t* words, std::uint32_t count,
                              std::uint32_t check_every, CommsResult* out) {
  *out = {};
  if (!table_ || !table_->gdi_write_comms) return GDI_NOT_SUPPORTED;
  const int answer = table_->gdi_write_comms(words, count, check_every, out);
  if (answer != GDI_OK && answer != GDI_NOT_SUPPORTED)
    Fail("Error: write comms channel failed.\n", true);
  return answer;
}

bool DriverBinding::FillMemory(std::uint32_t address, const std::uint8_t* bytes,
                               std::uint32_t count, std::uint32_t width) {
  static constexpr char kLine[] = "Error: fill memory failed.\n";
  if (!table_ || !ValidSize(width) || (!bytes && count)) return Fail(kLine, true);
  std::vector<MemoryCell> cells(count);
  for (std::uint32_t i = 0; i < count; ++i) cells[i] = {bytes[i], 0};
  if (table_->gdi_write_memory(0, address, cells.data(), count, static_cast<int32_t>(width)) !=
      GDI_OK)
    return Fail(kLine, true);
  return true;
}

bool DriverBinding::DumpMemory(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count,
                               std::uint32_t width) {
  static constexpr char kLine[] = "Error: dump memory failed.";
  if (!table_ || !ValidSize(width) || (!bytes && count)) return Fail(kLine, true);
  std::vector<MemoryCell> cells(count);
  if (table_->gdi_read_memory(0, address, cells.data(), count, static_cast<int32_t>(width)) !=
      GDI_OK)
    return Fail(kLine, true);
  for (std::uint32_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(cells[i].value);
  return true;
}

bool DriverBinding::WriteRegister(std::string_view name, std::uint32_t value) {
  static constexpr char kLine[] = "Error: write register failed.\n";
  int key = RegisterKey(name);
  if (!table_ || key < 0) return Fail(kLine, false);
  if (table_->gdi_write_register(key, value, 0) != GDI_OK) return Fail(kLine, false);
  return true;
}

bool DriverBinding::ReadRegister(std::string_view name, std::uint32_t* value) {
  static constexpr char kLine[] = "Error: read register failed.\n";
  int key = RegisterKey(name);
  if (!table_ || key < 0 || !value) return Fail(kLine, false);
  RegisterValue result{0, 0};
  if (table_->gdi_read_register(key, &result) != GDI_OK) return Fail(kLine, false);
  *value = result.value;
  return true;
}

bool DriverBinding::SetPC(std::uint32_t value) { return WriteRegister("pc", value); }

bool DriverBinding::RunTarget() {
  static constexpr char kLine[] = "Error: run target failed.\n";
  if (!table_) return Fail(kLine, false);
  int32_t result = table_->gdi_run();
  if (result != GDI_OK && result != GDI_ALREADY_RUNNING) return Fail(kLine, false);
  return true;
}

bool DriverBinding::StopTarget() {
  static constexpr char kLine[] = "Error: stop target failed.\n";
  if (!table_ || table_->gdi_stop() != GDI_OK) return Fail(kLine, false);
  return true;
}

bool DriverBinding::StepTarget() {
  static constexpr char kLine[] = "Error: step target failed.\n";
  if (!table_) return Fail(kLine, false);
  int32_t result = table_->gdi_step(0);
  if (result != GDI_OK && result != GDI_ALREADY_RUNNING) return Fail(kLine, false);
  return true;
}

bool DriverBinding::ResetTarget() {
  static constexpr char kLine[] = "Error: reset target failed.\n";
  if (!table_ || table_->gdi_reset() != GDI_OK) return Fail(kLine, false);
  return true;
}

bool DriverBinding::GetTargetStatus(bool* running) {
  static constexpr char kLine[] = "Error: get target status failed.\n";
  TargetStatus status{0, 0};
  if (!table_ || !running || table_->gdi_get_status(&status) != GDI_OK) return Fail(kLine, true);
  *running = status.state == GDI_STATE_RUNNING;
  return true;
}

bool DriverBinding::SetBreakpoint(std::uint32_t address, std::uint32_t* number) {
  static constexpr char kLine[] = "Error: breakpoint set failed.\n";
  if (!table_) return Fail(kLine, true);
  BreakpointRequest request{GDI_BP_EXECUTE, 0, address, 0, GDI_BP_AUTOMATIC};
  BreakpointEntry entry{};
  if (table_->gdi_set_breakpoint(&entry, request) != GDI_OK) return Fail(kLine, true);
  if (number) *number = entry.number;
  return true;
}

bool DriverBinding::ClearBreakpoint(std::uint32_t number) {
  static constexpr char kLine[] = "Error: clear breakpoint failed.\n";
  if (!table_ || table_->gdi_clear_breakpoint(number) != GDI_OK) return Fail(kLine, true);
  return true;
}

bool DriverBinding::ClearAllBreakpoints() {
  static constexpr char kLine[] = "Error: clear all breakpoints failed.\n";
  if (!table_ || table_->gdi_clear_all_breakpoints() != GDI_OK) return Fail(kLine, true);
  return true;
}

bool DriverBinding::DumpRegisters() {
  char text[64];
  for (int n = 0; n <= 14; ++n) {
    char name[16];  // "R" and any int, as the compiler counts
    std::snprintf(name, sizeof name, "R%d", n);
    std::uint32_t value = 0;
    if (!ReadRegister(name, &value)) return false;
    std::snprintf(text, sizeof text, "%s=0x%X ", name, value);
    log_.Info(text);
  }
  log_.Info("\n");
  for (const char* name : {"sp", "lr", "pc", "cpsr", "spsr"}) {
    std::uint32_t value = 0;
    if (!ReadRegister(name, &value)) return false;
    std::snprintf(text, sizeof text, "%s=0x%X ", name, value);
    log_.Info(text);
  }
  log_.Info("\n");
  return true;
}

bool DriverBinding::DisableInterrupts() {
  std::uint32_t cpsr = 0;
  if (!ReadRegister("CPSR", &cpsr)) return false;
  return WriteRegister("CPSR", cpsr | 0xC0);
}

}  // namespace romsmith
