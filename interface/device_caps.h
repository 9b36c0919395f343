// DeviceCapabilities of the interface driver: what a printer of a model can
// do, from its private DEVMODE, the model data and, for the media loaded in
// its trays, the device itself.
#pragma once

#include <cstdint>
#include <vector>

#include "base/types.h"
#include "common/devcaps.h"

extern "C" {
// The answer to one capability query (GDI_ERROR, 0xFFFFFFFF, for a printer
// whose DEVMODE cannot be produced or an unknown capability). A null output
// asks for the count only.
DWORD DrvDeviceCapabilities(HANDLE printer, LPWSTR deviceName, WORD capability, PVOID output, DEVMODEW* devmode);
}

namespace zq {

inline constexpr DWORD kCapabilityError = 0xFFFFFFFF;

// The paper code a device media code stands for; 0 when none.
uint16_t MediaCodeToPaper(uint16_t mediaCode);

}  // namespace zq
