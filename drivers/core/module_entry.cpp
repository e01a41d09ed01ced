// The one export of every driver module: its driver table over the profile
// that the module's directory defines.
#include "driver_api/gdi.h"
#include "drivers/core/driver.h"

extern "C" GDI_EXPORT const DriverTable* GDI_CALL gdi_get(void) {
  return drivers::ModuleDriverTable(drivers::kModuleProfile);
}
