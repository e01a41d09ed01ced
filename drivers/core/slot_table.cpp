// The C side of the module: the static driver table whose slots forward to
// the one module-wide Driver.
#include <memory>

#include "drivers/core/driver.h"

namespace drivers {
namespace {

Driver* module_driver = nullptr;

Driver& D() { return *module_driver; }

int32_t GDI_CALL SlotSetBreakpoint(BreakpointEntry* out, BreakpointRequest request) {
  return D().SetBreakpoint(out, request);
}
int32_t GDI_CALL SlotClearBreakpoint(uint32_t number) { return D().ClearBreakpoint(number); }
int32_t GDI_CALL SlotClearAll() { return D().ClearAllBreakpoints(); }
int32_t GDI_CALL SlotReset() { return D().Reset(); }
int32_t GDI_CALL SlotStep(uint32_t) { return D().Step(); }
int32_t GDI_CALL SlotRun() { return D().Run(); }
int32_t GDI_CALL SlotGetStatus(TargetStatus* out) { return D().GetStatus(out); }
int32_t GDI_CALL SlotStop() { return D().Stop(); }
int32_t GDI_CALL SlotOpen(int32_t, int32_t, int32_t, OpenOptions* options, int32_t) {
  return D().Open(options);
}
int32_t GDI_CALL SlotClose(int32_t) { return D().Close(); }
int32_t GDI_CALL SlotGetVersion(uint32_t* out) { return D().GetVersion(out); }
int32_t GDI_CALL SlotGetInfo(DriverInfo* out) { return D().GetInfo(out); }
int32_t GDI_CALL SlotConnect(ConnectRecord* record) { return D().Connect(record); }
int32_t GDI_CALL SlotSetRegisterList(uint32_t count, RegisterListItem* items, int32_t) {
  return D().SetRegisterList(count, items);
}
int32_t GDI_CALL SlotSetMemorySpaceList(uint32_t count, MemorySpaceItem* items) {
  return D().SetMemorySpaceList(count, items);
}
int32_t GDI_CALL SlotSetCallback(int32_t kind, MessageCallback callback) {
  return D().SetCallback(kind, callback);
}
int32_t GDI_CALL SlotWriteMemory(int32_t, uint32_t address, MemoryCell* cells, uint32_t count,
                                 int32_t width) {
  return D().WriteMemory(address, cells, count, width);
}
int32_t GDI_CALL SlotReadMemory(int32_t, uint32_t address, MemoryCell* cells, uint32_t count,
                                int32_t width) {
  return D().ReadMemory(address, cells, count, width);
}
int32_t GDI_CALL SlotWriteRegister(int32_t key, uint32_t value, int32_t flag) {
  return D().WriteRegister(key, value, flag);
}
int32_t GDI_CALL SlotReadRegister(int32_t key, RegisterValue* out) {
  return D().ReadRegister(key, out);
}
int32_t GDI_CALL SlotCreateGroup(int32_t* id, int32_t* keys, uint32_t count) {
  return D().CreateRegisterGroup(id, keys, count);
}
int32_t GDI_CALL SlotDeleteGroup(int32_t id) { return D().DeleteRegisterGroup(id); }
int32_t GDI_CALL SlotWriteGroup(int32_t id, RegisterWriteItem* items) {
  return D().WriteRegisterGroup(id, items);
}
int32_t GDI_CALL SlotReadGroup(int32_t id, RegisterValue* out) {
  return D().ReadRegisterGroup(id, out);
}
int32_t GDI_CALL SlotGetCpuState(char* buffer) { return D().GetCpuState(buffer); }
int32_t GDI_CALL SlotFree(void* pointer) { return D().Free(pointer); }
// Called from another thread while a slot may run: it only sets a flag.
int32_t GDI_CALL SlotCancelWaits() { return D().CancelWaits(); }
int32_t GDI_CALL SlotSetOption(const char* name, int32_t value) {
  return D().SetOption(name, value);
}
int32_t GDI_CALL SlotWriteComms(const uint32_t* words, uint32_t count, uint32_t check_every,
                                CommsResult* out) {
  return D().WriteComms(words, count, check_every, out);
}

// Slots this module does not support, and those that do nothing.
int32_t GDI_CALL NotSupported() { return GDI_NOT_SUPPORTED; }
int32_t GDI_CALL NoOperation() { return GDI_OK; }

DriverTable MakeTable() {
  DriverTable table{};
  table.gdi_set_breakpoint = SlotSetBreakpoint;
  table.gdi_clear_breakpoint = SlotClearBreakpoint;
  table.gdi_clear_all_breakpoints = SlotClearAll;
  table.gdi_reset = SlotReset;
  table.gdi_step = SlotStep;
  table.reserved_5 = NotSupported;
  table.gdi_run = SlotRun;
  table.reserved_7 = NotSupported;
  table.gdi_get_status = SlotGetStatus;
  table.gdi_stop = SlotStop;
  table.reserved_10 = NotSupported;
  table.reserved_11 = NotSupported;
  table.gdi_open = SlotOpen;
  table.gdi_close = SlotClose;
  table.gdi_get_version = SlotGetVersion;
  table.gdi_get_info = SlotGetInfo;
  table.gdi_cancel_waits = SlotCancelWaits;
  table.gdi_connect = SlotConnect;
  table.gdi_set_register_list = SlotSetRegisterList;
  table.gdi_set_memory_space_list = SlotSetMemorySpaceList;
  table.gdi_set_callback = SlotSetCallback;
  table.no_operation_21 = NoOperation;
  table.no_operation_22 = NoOperation;
  table.gdi_set_option = SlotSetOption;
  table.gdi_write_comms = SlotWriteComms;
  for (GdiNoArgumentSlot& slot : table.reserved_25) slot = NotSupported;
  table.gdi_write_memory = SlotWriteMemory;
  table.gdi_read_memory = SlotReadMemory;
  for (GdiNoArgumentSlot& slot : table.reserved_38) slot = NotSupported;
  table.no_operation_41 = NoOperation;
  for (GdiNoArgumentSlot& slot : table.reserved_42) slot = NotSupported;
  table.gdi_write_register = SlotWriteRegister;
  table.gdi_read_register = SlotReadRegister;
  table.gdi_create_register_group = SlotCreateGroup;
  table.gdi_delete_register_group = SlotDeleteGroup;
  table.gdi_write_register_group = SlotWriteGroup;
  table.gdi_read_register_group = SlotReadGroup;
  for (GdiNoArgumentSlot& slot : table.reserved_52) slot = NotSupported;
  table.gdi_get_cpu_state = SlotGetCpuState;
  table.gdi_free = SlotFree;
  return table;
}

}  // namespace

const DriverTable* ModuleDriverTable(const ModuleProfile& profile) {
  // Made on first use and kept until the module is unloaded.
  static std::unique_ptr<Driver> driver = std::make_unique<Driver>(profile);
  static const DriverTable table = MakeTable();
  module_driver = driver.get();
  return &table;
}

Driver* ModuleDriver() { return module_driver; }

}  // namespace drivers
