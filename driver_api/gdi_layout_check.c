/*
 * Compiled as C (and, by the tests, as 32-bit C and C++): every slot
 * signature must accept a function written the way a module writes it, and
 * the layout checks in gdi.h must hold for the build's pointer size.
 */
#include "driver_api/gdi.h"

static int32_t GDI_CALL NoArgument(void) { return GDI_NOT_SUPPORTED; }
static int32_t GDI_CALL SetBreakpoint(BreakpointEntry* out, BreakpointRequest request) {
  out->number = 1;
  out->request = request;
  return GDI_OK;
}
static int32_t GDI_CALL ClearBreakpoint(uint32_t number) { return number ? GDI_OK : GDI_BAD_ARGUMENT; }
static int32_t GDI_CALL Step(uint32_t ignored) { return (int32_t)(ignored & 0u); }
static int32_t GDI_CALL GetStatus(TargetStatus* out) {
  out->state = GDI_STATE_HALTED_NOT_RUN;
  out->breakpoint = 0;
  return GDI_OK;
}
static int32_t GDI_CALL Open(int32_t a, int32_t b, int32_t c, OpenOptions* options, int32_t d) {
  (void)a; (void)b; (void)c; (void)d;
  return *options->byte_order == GDI_LITTLE_ENDIAN ? GDI_OK : GDI_OPEN_FAILED;
}
static int32_t GDI_CALL Close(int32_t ignored) { (void)ignored; return GDI_OK; }
static int32_t GDI_CALL GetVersion(uint32_t* out) { *out = 1; return GDI_OK; }
static int32_t GDI_CALL GetInfo(DriverInfo* out) { out->comm_types = GDI_COMM_PARALLEL; return GDI_OK; }
static int32_t GDI_CALL Connect(ConnectRecord* record) {
  record->connected = 1;
  return record->comm_type == GDI_COMM_PARALLEL ? GDI_OK : GDI_OPEN_FAILED;
}
static int32_t GDI_CALL SetRegisterList(uint32_t count, RegisterListItem* items, int32_t zero) {
  (void)zero;
  if (count) items[0].supported = 1;
  return GDI_OK;
}
static int32_t GDI_CALL SetMemorySpaceList(uint32_t count, MemorySpaceItem* items) {
  (void)count; (void)items;
  return GDI_OK;
}
static MessageCallback installed_callback;
static int32_t GDI_CALL SetCallback(int32_t kind, MessageCallback callback) {
  if (kind == GDI_MESSAGE_KIND) installed_callback = callback;
  return GDI_OK;
}
static int32_t GDI_CALL Memory(int32_t space, uint32_t address, MemoryCell* cells, uint32_t count,
                               int32_t width) {
  (void)space; (void)address; (void)cells; (void)count;
  return width == 1 || width == 2 || width == 4 ? GDI_OK : GDI_BAD_ARGUMENT;
}
static int32_t GDI_CALL WriteRegister(int32_t key, uint32_t value, int32_t flag) {
  (void)key; (void)value;
  return flag ? GDI_NOT_SUPPORTED : GDI_OK;
}
static int32_t GDI_CALL ReadRegister(int32_t key, RegisterValue* out) {
  out->value = (uint32_t)key;
  out->status = GDI_REGISTER_READ;
  return GDI_OK;
}
static int32_t GDI_CALL CreateGroup(int32_t* id, int32_t* keys, uint32_t count) {
  (void)keys; (void)count;
  *id = 1;
  return GDI_OK;
}
static int32_t GDI_CALL DeleteGroup(int32_t id) { return id == 1 ? GDI_OK : GDI_FAILED; }
static int32_t GDI_CALL WriteGroup(int32_t id, RegisterWriteItem* items) { (void)items; return id == 1 ? GDI_OK : GDI_FAILED; }
static int32_t GDI_CALL ReadGroup(int32_t id, RegisterValue* out) { (void)out; return id == 1 ? GDI_OK : GDI_FAILED; }
static int32_t GDI_CALL GetCpuState(char* buffer) { buffer[0] = 'A'; buffer[1] = 'R'; buffer[2] = 'M'; buffer[3] = 0; return GDI_OK; }
static int32_t GDI_CALL Free(void* p) { (void)p; return GDI_OK; }
static int32_t GDI_CALL SetOption(const char* name, int32_t value) {
  return name && value == 1 ? GDI_OK : GDI_BAD_ARGUMENT;
}

static int32_t GDI_CALL WriteComms(const uint32_t* words, uint32_t count, uint32_t check_every,
                                   CommsResult* out) {
  (void)check_every;
  if (!out || (!words && count)) return GDI_BAD_ARGUMENT;
  out->written = count;
  out->status_read = 0;
  return GDI_OK;
}

#define R NoArgument
// clang-format off
static const DriverTable kCheckTable = {
    SetBreakpoint, ClearBreakpoint, NoArgument, NoArgument, Step, R, NoArgument, R, GetStatus,
    NoArgument, R, R, Open, Close, GetVersion, GetInfo, NoArgument, Connect, SetRegisterList,
    SetMemorySpaceList, SetCallback, NoArgument, NoArgument,
    SetOption, WriteComms, {R, R, R, R, R, R, R, R, R, R, R},
    Memory, Memory, {R, R, R}, NoArgument, {R, R, R, R}, WriteRegister, ReadRegister,
    CreateGroup, DeleteGroup, WriteGroup, ReadGroup, {R, R, R, R}, GetCpuState, Free};
// clang-format on
#undef R

const DriverTable* GdiLayoutCheckTable(void);
const DriverTable* GdiLayoutCheckTable(void) { return &kCheckTable; }
