// Files found beside the interface driver.
#pragma once

#include <cstdint>

#include "base/files.h"
#include "base/types.h"

namespace zq {

// Opens a file with the 16-bit call (style OF_READ, OF_READWRITE or
// OF_CREATE | OF_READWRITE); when that fails, once more with the name's last
// component in the interface driver's own directory, provided the two
// together have at most 128 characters. A handle above 0 on success.
HFILE OpenFileBesideModule(const char* fileName, UINT style);

}  // namespace zq
