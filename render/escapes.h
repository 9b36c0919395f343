// The private escapes: what the interface driver and the finishing library
// ask the renderer during a job (records in common/escape_records.h).
#pragma once

#include "base/types.h"
#include "render/device_record.h"

namespace pclrend {

// DrvEscape's body for a valid record: the stream body in output mode 4,
// the PCL body otherwise. -1 comes back as 0xFFFFFFFF.
ULONG Escape(DeviceRecord& r, ULONG code, ULONG inSize, const void* in, ULONG outSize, void* out);

}  // namespace pclrend
