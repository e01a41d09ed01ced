// The test driver module: a driver table whose slots keep a whole target in
// the process (see README.md beside this file for the switches).
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver_api/gdi.h"
#include "tests/test_driver/test_target.h"

namespace testdriver {
namespace {

struct ModuleState {
  Switches switches;
  std::vector<std::string> switch_errors;
  std::unique_ptr<TestTarget> target;  // from open to close
  MessageCallback callback = nullptr;
  bool connected = false;
  std::vector<std::pair<std::string, std::uint32_t>> registers;  // name, key
  int calls[GDI_SLOT_COUNT] = {};
  std::vector<std::unique_ptr<char[]>> speed_texts;
  std::vector<char*> speed_pointers;
};

ModuleState& State() {
  static ModuleState state;
  return state;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// The journal is written even before open, when a target is not there yet.
void Journal(const std::string& line) {
  ModuleState& s = State();
  if (s.target) {
    s.target->Journal(line);
  } else if (!s.switches.journal.empty()) {
    if (std::FILE* f = std::fopen(s.switches.journal.c_str(), "a")) {
      std::fprintf(f, "%s\n", line.c_str());
      std::fclose(f);
    }
  }
}

void Say(const std::string& text) {
  if (State().callback) State().callback(GDI_MESSAGE_KIND, text.c_str());
}

// Counts the call, sends the slot's scripted messages, and gives the
// injected failure code (0 when the call should go ahead).
int Enter(int slot) {
  ModuleState& s = State();
  int call = s.calls[slot]++;
  auto said = s.switches.messages.find(slot);
  if (said != s.switches.messages.end()) {
    for (const std::string& text : said->second) Say(text);
  }
  for (const Switches::Failure& f : s.switches.failures) {
    if (f.slot == slot && call >= f.after) {
      if (f.result) return f.result;
      return slot == GDI_SLOT_OPEN || slot == GDI_SLOT_CONNECT ? GDI_OPEN_FAILED : GDI_FAILED;
    }
  }
  return GDI_OK;
}

int32_t Leave(const std::string& line, int32_t result) {
  Journal(line + " => " + std::to_string(result));
  return result;
}

// Slots that need a connected target.
TestTarget* Connected() {
  ModuleState& s = State();
  return s.connected && s.target ? s.target.get() : nullptr;
}

int RegisterIndexForKey(int32_t key) {
  for (const auto& [name, registered] : State().registers) {
    if (registered == static_cast<std::uint32_t>(key)) return TestTarget::RegisterIndex(name);
  }
  return -1;
}

std::string ModuleTitle() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&State), &info) && info.dli_fname) {
    std::string name = info.dli_fname;
    auto slash = name.find_last_of('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    auto dot = name.rfind(".so");
    if (dot != std::string::npos) name.resize(dot);
    return name;
  }
  return "test_driver";
}

char* AllocateText(const std::string& text, std::size_t size) {
  char* buffer = static_cast<char*>(std::calloc(size, 1));
  if (buffer) std::snprintf(buffer, size, "%s", text.c_str());
  return buffer;
}

// ---- Slots ----

int32_t GDI_CALL SetBreakpoint(BreakpointEntry* out, BreakpointRequest request) {
  std::string line = "set_breakpoint address=" + Hex(request.address) +
                     " flags=" + std::to_string(request.flags) +
                     " cond=" + std::to_string(request.cond) + " kind=" + std::to_string(request.kind);
  if (int failed = Enter(GDI_SLOT_SET_BREAKPOINT)) return Leave(line, failed);
  TestTarget* t = Connected();
  if (!t || !out) return Leave(line, GDI_FAILED);
  if ((request.flags & GDI_BP_REJECTED_FLAGS) || request.cond != 0 || request.kind > 2)
    return Leave(line, GDI_NOT_SUPPORTED);
  if ((request.flags & GDI_BP_EXECUTE) && (request.address & 1u))
    return Leave(line, GDI_BAD_ARGUMENT);
  std::uint32_t kind = request.kind;
  if (kind == GDI_BP_AUTOMATIC) kind = t->IsFlash(request.address) ? GDI_BP_HARDWARE : GDI_BP_SOFTWARE;
  std::uint32_t number = t->AddBreakpoint(request.address, request.flags, request.arg2, kind);
  if (number == 0) return Leave(line, GDI_NOT_SUPPORTED);
  out->number = number;
  out->request = request;
  out->request.kind = kind;
  return Leave(line + " number=" + std::to_string(number) + " resolved=" + std::to_string(kind),
               GDI_OK);
}

int32_t GDI_CALL ClearBreakpoint(uint32_t number) {
  std::string line = "clear_breakpoint " + std::to_string(number);
  if (int failed = Enter(GDI_SLOT_CLEAR_BREAKPOINT)) return Leave(line, failed);
  TestTarget* t = Connected();
  if (!t) return Leave(line, GDI_FAILED);
  return Leave(line, t->RemoveBreakpoint(number) ? GDI_OK : GDI_BAD_ARGUMENT);
}

int32_t GDI_CALL ClearAllBreakpoints(void) {
  if (int failed = Enter(GDI_SLOT_CLEAR_ALL_BREAKPOINTS)) return Leave("clear_all_breakpoints", failed);
  TestTarget* t = Connected();
  if (!t) return Leave("clear_all_breakpoints", GDI_FAILED);
  t->RemoveAllBreakpoints();
  return Leave("clear_all_breakpoints", GDI_OK);
}

int32_t GDI_CALL Reset(void) {
  if (int failed = Enter(GDI_SLOT_RESET)) return Leave("reset", failed);
  TestTarget* t = Connected();
  if (!t) return Leave("reset", GDI_FAILED);
  t->Reset();
  return Leave("reset", GDI_OK);
}

int32_t GDI_CALL Step(uint32_t ignored) {
  std::string line = "step " + std::to_string(ignored);
  if (int failed = Enter(GDI_SLOT_STEP)) return Leave(line, failed);
  TestTarget* t = Connected();
  if (!t) return Leave(line, GDI_FAILED);
  t->Step();
  return Leave(line, GDI_OK);
}

int32_t GDI_CALL Run(void) {
  if (int failed = Enter(GDI_SLOT_RUN)) return Leave("run", failed);
  TestTarget* t = Connected();
  if (!t) return Leave("run", GDI_FAILED);
  return Leave("run", t->Run() ? GDI_OK : GDI_ALREADY_RUNNING);
}

int32_t GDI_CALL GetStatus(TargetStatus* out) {
  if (int failed = Enter(GDI_SLOT_GET_STATUS)) return Leave("get_status", failed);
  TestTarget* t = Connected();
  if (!t || !out) return Leave("get_status", GDI_FAILED);
  std::uint32_t breakpoint = 0;
  out->state = t->Poll(breakpoint);
  out->breakpoint = breakpoint;
  // Polls of a running target are not journalled one by one.
  if (out->state == GDI_STATE_RUNNING) return GDI_OK;
  return Leave("get_status state=" + std::to_string(out->state) +
                   " breakpoint=" + std::to_string(breakpoint), GDI_OK);
}

int32_t GDI_CALL StopTarget(void) {
  if (int failed = Enter(GDI_SLOT_STOP)) return Leave("stop", failed);
  TestTarget* t = Connected();
  if (!t) return Leave("stop", GDI_FAILED);
  t->Stop();
  return Leave("stop", GDI_OK);
}

int32_t GDI_CALL Reserved(void) { return GDI_NOT_SUPPORTED; }
int32_t GDI_CALL NoOperation(void) { return GDI_OK; }

int32_t GDI_CALL Open(int32_t a, int32_t b, int32_t c, OpenOptions* options, int32_t d) {
  ModuleState& s = State();
  std::string line = "open " + std::to_string(a) + " " + std::to_string(b) + " " +
                     std::to_string(c) + " " + std::to_string(d);
  if (options && options->byte_order && options->parameter && options->speed) {
    line += " order=" + std::to_string(*options->byte_order) + " parameter=\"" +
            options->parameter + "\" speed=" + std::to_string(*options->speed);
  }
  for (const std::string& error : s.switch_errors) Say(error);
  if (int failed = Enter(GDI_SLOT_OPEN)) return Leave(line, failed);
  if (!options || !options->byte_order || !options->parameter || !options->speed)
    return Leave(line, GDI_OPEN_FAILED);
  s.target = std::make_unique<TestTarget>(s.switches);
  s.target->SetByteOrder(*options->byte_order == GDI_LITTLE_ENDIAN);
  std::string error;
  if (!s.target->OpenStorage(error)) {
    Say(error);
    Leave(line, GDI_OPEN_FAILED);
    s.target.reset();
    return GDI_OPEN_FAILED;
  }
  return Leave(line, GDI_OK);
}

int32_t GDI_CALL Close(int32_t ignored) {
  ModuleState& s = State();
  Enter(GDI_SLOT_CLOSE);
  Leave("close " + std::to_string(ignored), GDI_OK);
  s.connected = false;
  s.target.reset();
  return GDI_OK;
}

int32_t GDI_CALL GetVersion(uint32_t* out) {
  if (int failed = Enter(GDI_SLOT_GET_VERSION)) return Leave("get_version", failed);
  if (out) *out = State().switches.version;
  return Leave("get_version", GDI_OK);
}

int32_t GDI_CALL GetInfo(DriverInfo* out) {
  ModuleState& s = State();
  if (int failed = Enter(GDI_SLOT_GET_INFO)) return Leave("get_info", failed);
  if (!out) return Leave("get_info", GDI_FAILED);
  const Switches& sw = s.switches;
  std::string description = sw.description.empty() ? "Test driver " + ModuleTitle() : sw.description;
  out->description = AllocateText(description, GDI_INFO_TEXT_SIZE);
  out->version_text = AllocateText(std::to_string(sw.version), GDI_INFO_TEXT_SIZE);
  out->version = sw.version;
  s.speed_texts.clear();
  s.speed_pointers.clear();
  if (sw.null_speed_names) {
    out->speed_names = nullptr;
    out->speed_count = sw.speed_count;
  } else {
    for (const std::string& name : sw.speed_names) {
      s.speed_texts.emplace_back(new char[GDI_INFO_TEXT_SIZE]);
      std::snprintf(s.speed_texts.back().get(), GDI_INFO_TEXT_SIZE, "%s", name.c_str());
      s.speed_pointers.push_back(s.speed_texts.back().get());
    }
    s.speed_pointers.push_back(nullptr);
    out->speed_names = s.speed_pointers.data();
    out->speed_count = static_cast<std::uint32_t>(sw.speed_names.size());
  }
  out->comm_types = sw.comm_types;
  out->extra_text = AllocateText("", 8);
  return Leave("get_info", GDI_OK);
}

int32_t GDI_CALL Connect(ConnectRecord* record) {
  ModuleState& s = State();
  std::string line = "connect";
  if (record) {
    char comm[16];
    std::snprintf(comm, sizeof comm, "0x%X", record->comm_type);
    line += std::string(" comm=") + comm + " connected=" + std::to_string(record->connected & 0xFF) +
            " port=" + (record->port ? "\"" + std::string(record->port) + "\"" : "null");
  }
  if (int failed = Enter(GDI_SLOT_CONNECT)) return Leave(line, failed);
  if (!record || !s.target) return Leave(line, GDI_OPEN_FAILED);
  // One communication type the driver offers; a parallel port by name.
  std::uint32_t comm = record->comm_type;
  if (comm == 0 || (comm & (comm - 1)) != 0 || (comm & s.switches.comm_types) == 0)
    return Leave(line, GDI_OPEN_FAILED);
  if (comm == GDI_COMM_PARALLEL &&
      (!record->port || (std::strcmp(record->port, "LPT1") != 0 && std::strcmp(record->port, "LPT2") != 0)))
    return Leave(line, GDI_OPEN_FAILED);
  record->connected = (record->connected & ~0xFFu) | 1u;
  s.connected = true;
  return Leave(line, GDI_OK);
}

int32_t GDI_CALL SetRegisterList(uint32_t count, RegisterListItem* items, int32_t zero) {
  ModuleState& s = State();
  std::string line = "set_register_list " + std::to_string(count) + " " + std::to_string(zero);
  if (int failed = Enter(GDI_SLOT_SET_REGISTER_LIST)) return Leave(line, failed);
  if (!items && count) return Leave(line, GDI_FAILED);
  s.registers.clear();
  for (uint32_t i = 0; i < count; ++i) {
    std::string name = items[i].name ? std::string(items[i].name).substr(0, 15) : std::string();
    bool known = TestTarget::RegisterIndex(name) >= 0;
    items[i].supported = (items[i].supported & ~0xFFu) | (known ? 1u : 0u);
    if (known) s.registers.emplace_back(name, items[i].key);
    line += " " + name + "=" + std::to_string(items[i].key);
  }
  return Leave(line, GDI_OK);
}

int32_t GDI_CALL SetMemorySpaceList(uint32_t count, MemorySpaceItem* items) {
  (void)items;
  std::string line = "set_memory_space_list " + std::to_string(count);
  if (int failed = Enter(GDI_SLOT_SET_MEMORY_SPACE_LIST)) return Leave(line, failed);
  return Leave(line, GDI_OK);
}

int32_t GDI_CALL SetCallback(int32_t kind, MessageCallback callback) {
  std::string line = "set_callback " + std::to_string(kind);
  if (int failed = Enter(GDI_SLOT_SET_CALLBACK)) return Leave(line, failed);
  if (kind == GDI_MESSAGE_KIND) State().callback = callback;
  return Leave(line, GDI_OK);
}

std::string MemoryLine(const char* name, uint32_t address, const MemoryCell* cells,
                       uint32_t count, int32_t width, bool with_bytes) {
  std::string line = std::string(name) + " address=" + Hex(address) +
                     " count=" + std::to_string(count) + " width=" + std::to_string(width);
  if (with_bytes && cells && count <= 16) {
    line += " bytes=";
    for (uint32_t i = 0; i < count; ++i) {
      char byte[8];
      std::snprintf(byte, sizeof byte, "%s%02X", i ? " " : "", cells[i].value & 0xFF);
      line += byte;
    }
  }
  return line;
}

int32_t GDI_CALL WriteMemory(int32_t space, uint32_t address, MemoryCell* cells, uint32_t count,
                             int32_t width) {
  (void)space;
  std::string line = MemoryLine("write_memory", address, cells, count, width, true);
  if (int failed = Enter(GDI_SLOT_WRITE_MEMORY)) return Leave(line, failed);
  TestTarget* t = Connected();
  if (!t || (!cells && count)) return Leave(line, GDI_FAILED);
  if (width != 1 && width != 2 && width != 4) return Leave(line, GDI_BAD_ARGUMENT);
  for (uint32_t i = 0; i < count; ++i) t->WriteByte(address + i, static_cast<std::uint8_t>(cells[i].value));
  return Leave(line, GDI_OK);
}

int32_t GDI_CALL ReadMemory(int32_t space, uint32_t address, MemoryCell* cells, uint32_t count,
                            int32_t width) {
  (void)space;
  std::string line = MemoryLine("read_memory", address, cells, count, width, false);
  if (int failed = Enter(GDI_SLOT_READ_MEMORY)) return Leave(line, failed);
  TestTarget* t = Connected();
  if (!t || (!cells && count)) return Leave(line, GDI_FAILED);
  if (width != 1 && width != 2 && width != 4) return Leave(line, GDI_BAD_ARGUMENT);
  for (uint32_t i = 0; i < count; ++i) cells[i].value = t->ReadByte(address + i);
  return Leave(MemoryLine("read_memory", address, cells, count, width, true), GDI_OK);
}

int32_t GDI_CALL WriteRegister(int32_t key, uint32_t value, int32_t flag) {
  std::string line = "write_register " + std::to_string(key) + " " + Hex(value) + " " +
                     std::to_string(flag);
  if (int failed = Enter(GDI_SLOT_WRITE_REGISTER)) return Leave(line, failed);
  TestTarget* t = Connected();
  if (!t) return Leave(line, GDI_FAILED);
  int index = RegisterIndexForKey(key);
  if (index < 0 || flag != 0) return Leave(line, GDI_NOT_SUPPORTED);
  t->reg(index) = value;
  return Leave(line, GDI_OK);
}

int32_t GDI_CALL ReadRegister(int32_t key, RegisterValue* out) {
  std::string line = "read_register " + std::to_string(key);
  if (int failed = Enter(GDI_SLOT_READ_REGISTER)) {
    if (out) *out = {0, GDI_REGISTER_FAILED};
    return Leave(line, failed);
  }
  TestTarget* t = Connected();
  if (!t || !out) return Leave(line, GDI_FAILED);
  int index = RegisterIndexForKey(key);
  if (index < 0) return Leave(line, GDI_NOT_SUPPORTED);
  *out = {t->reg(index), GDI_REGISTER_READ};
  return Leave(line + " " + Hex(out->value), GDI_OK);
}

// Register groups are a driver feature the program never uses; this driver
// answers them as not supported, which the contract allows for any slot.
int32_t GDI_CALL CreateRegisterGroup(int32_t* id, int32_t* keys, uint32_t count) {
  (void)id; (void)keys; (void)count;
  if (int failed = Enter(GDI_SLOT_CREATE_REGISTER_GROUP)) return Leave("create_register_group", failed);
  return Leave("create_register_group", GDI_NOT_SUPPORTED);
}
int32_t GDI_CALL DeleteRegisterGroup(int32_t id) {
  (void)id;
  if (int failed = Enter(GDI_SLOT_DELETE_REGISTER_GROUP)) return Leave("delete_register_group", failed);
  return Leave("delete_register_group", GDI_NOT_SUPPORTED);
}
int32_t GDI_CALL WriteRegisterGroup(int32_t id, RegisterWriteItem* items) {
  (void)id; (void)items;
  if (int failed = Enter(GDI_SLOT_WRITE_REGISTER_GROUP)) return Leave("write_register_group", failed);
  return Leave("write_register_group", GDI_NOT_SUPPORTED);
}
int32_t GDI_CALL ReadRegisterGroup(int32_t id, RegisterValue* out) {
  (void)id; (void)out;
  if (int failed = Enter(GDI_SLOT_READ_REGISTER_GROUP)) return Leave("read_register_group", failed);
  return Leave("read_register_group", GDI_NOT_SUPPORTED);
}

int32_t GDI_CALL GetCpuState(char* buffer) {
  if (int failed = Enter(GDI_SLOT_GET_CPU_STATE)) return Leave("get_cpu_state", failed);
  TestTarget* t = Connected();
  if (buffer) std::strcpy(buffer, t && (t->reg(TestTarget::kCpsr) & 0x20u) ? "THUMB" : "ARM");
  return Leave("get_cpu_state", GDI_OK);
}

int32_t GDI_CALL Free(void* p) {
  Enter(GDI_SLOT_FREE);
  std::free(p);
  return Leave(std::string("free ") + (p ? "text" : "null"), GDI_OK);
}

// A driver without options: the slot that names them answers as the reserved
// slot before it did.
int32_t GDI_CALL SetOption(const char* name, int32_t value) {
  Enter(GDI_SLOT_SET_OPTION);
  return Leave(std::string("set_option ") + (name ? name : "null") + " " + std::to_string(value),
               GDI_NOT_SUPPORTED);
}

// No comms channel either.
int32_t GDI_CALL WriteComms(const uint32_t* words, uint32_t count, uint32_t check_every,
                            CommsResult* out) {
  Enter(GDI_SLOT_WRITE_COMMS);
  static_cast<void>(words), static_cast<void>(check_every), static_cast<void>(out);
  return Leave("write_comms " + std::to_string(count), GDI_NOT_SUPPORTED);
}

#define R Reserved
// clang-format off
const DriverTable kTable = {
    SetBreakpoint, ClearBreakpoint, ClearAllBreakpoints, Reset, Step, R, Run, R, GetStatus,
    StopTarget, R, R, Open, Close, GetVersion, GetInfo, NoOperation, Connect, SetRegisterList,
    SetMemorySpaceList, SetCallback, NoOperation, NoOperation,
    SetOption, WriteComms, {R, R, R, R, R, R, R, R, R, R, R},
    WriteMemory, ReadMemory, {R, R, R}, NoOperation, {R, R, R, R}, WriteRegister, ReadRegister,
    CreateRegisterGroup, DeleteRegisterGroup, WriteRegisterGroup, ReadRegisterGroup,
    {R, R, R, R}, GetCpuState, Free};
// clang-format on
#undef R

}  // namespace
}  // namespace testdriver

extern "C" GDI_EXPORT const DriverTable* GDI_CALL gdi_get(void) {
  using namespace testdriver;
  ModuleState& s = State();
  // Every bind starts afresh: switches read now, call counts from zero.
  s.switch_errors.clear();
  s.switches = Switches::FromEnvironment(s.switch_errors);
  std::memset(s.calls, 0, sizeof s.calls);
  s.callback = nullptr;
  s.connected = false;
  s.target.reset();
  Journal("get");
  // TESTDRIVER_NULL_SLOT=N hands out the table with slot N missing, as a
  // half-built module would.
  if (const char* text = std::getenv("TESTDRIVER_NULL_SLOT"); text && *text) {
    static DriverTable broken;
    broken = kTable;
    const long slot = std::strtol(text, nullptr, 10);
    if (slot >= 0 && slot < GDI_SLOT_COUNT) reinterpret_cast<GdiNoArgumentSlot*>(&broken)[slot] = nullptr;
    return &broken;
  }
  return &kTable;
}
