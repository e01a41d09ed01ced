// The probes the modules are built for, each shared by its ARM7 and ARM9
// module.
#include "drivers/core/module_profile.h"

namespace drivers {
namespace {

const char* const kDelaySpeedNames[] = {"High Speed", "Medium Speed", "Low Speed"};
const int kDelayFactors[] = {0, 1, 4};

const char* const kHarrierSpeedNames[] = {"Full Speed", "High Speed", "Medium Speed",
                                          "Low Speed"};
const int kHarrierCodes[] = {0, 4, 8, 12};

const char* const kDeviceDriverError = "Error: device driver error!\n";

}  // namespace

const SpeedTable kDelaySpeeds = {kDelaySpeedNames, 3, 3, kDelayFactors,
                                 SpeedSetting::DelayFactor};
const SpeedTable kHarrierSpeeds = {kHarrierSpeedNames, 4, 4, kHarrierCodes,
                                   SpeedSetting::HarrierCode};
// The Kestrel names no speeds but reports a count of two.
const SpeedTable kKestrelSpeeds = {nullptr, 0, 2, nullptr, SpeedSetting::NotRead};

const ProbeFamily kTevrinEmulator = {
    Wiring::Emulator, &kDelaySpeeds,
    "Warning: JTAG speed config error, Tevrin Emulator running at full speed.\n",
    kDeviceDriverError,
    "Error: emulator not found, please check power and hardware connection.\n"};

// The cable has no loop-back: its presence test always passes.
const ProbeFamily kJtagCable = {
    Wiring::Cable, &kDelaySpeeds,
    "Warning: JTAG speed config error, JTAG Cable running at full speed.\n", kDeviceDriverError,
    nullptr};

const ProbeFamily kHarrierProbe = {
    Wiring::Harrier, &kHarrierSpeeds,
    "Warning: JTAG speed config error, Harrier running at full speed.\n", kDeviceDriverError,
    "Error: Harrier not found, please check power and hardware connection.\n"};

const ProbeFamily kKestrelProbe = {Wiring::Kestrel, &kKestrelSpeeds, nullptr,
                                   "Error: Device driver error!\n",
                                   "Error: Kestrel-I not found, please check hardware connection.\n"};

}  // namespace drivers
