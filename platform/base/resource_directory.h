// The compiled resource directory: the bytes that the resource compiler
// (tools/rc, `zqrc`) writes and the resource API reads.
//
// One layout serves both places where resources live:
//   - inside a module, as the C-linkage array `zq_resource_directory` that
//     the generated source defines (found with dlsym on the module);
//   - as a standalone resource file that EngLoadModule can open.
//
// Layout (little-endian, offsets from the start of the directory):
//   ResourceDirectoryHeader
//   ResourceDirectoryEntry[entryCount]
//   names: each a uint16 length followed by that many UTF-16 units
//          (string type and resource names, stored upper-case)
//   data:  each resource's bytes, starting on a multiple of 8
//
// An entry's type and name are either a number (0-65535) or, with the high
// bit set, the offset of a name in the names area.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq {

inline constexpr char kResourceMagic[8] = {'Z', 'Q', 'R', 'S', 'R', 'C', '0', '1'};
inline constexpr const char* kResourceDirectorySymbol = "zq_resource_directory";
inline constexpr uint32_t kResourceNameIsString = 0x80000000u;
inline constexpr uint32_t kResourceDataAlignment = 8;

struct ResourceDirectoryHeader {
    char magic[8];
    uint32_t entryCount;
    uint32_t totalSize;  // bytes of the whole directory, header included
};
static_assert(sizeof(ResourceDirectoryHeader) == 16);
static_assert(offsetof(ResourceDirectoryHeader, entryCount) == 8);
static_assert(offsetof(ResourceDirectoryHeader, totalSize) == 12);

struct ResourceDirectoryEntry {
    uint32_t type;        // id, or kResourceNameIsString | offset of the name
    uint32_t name;        // id, or kResourceNameIsString | offset of the name
    uint16_t language;    // LANGID; 0 = neutral
    uint16_t reserved;
    uint32_t dataOffset;  // from the start of the directory
    uint32_t dataSize;
};
static_assert(sizeof(ResourceDirectoryEntry) == 20);
static_assert(offsetof(ResourceDirectoryEntry, language) == 8);
static_assert(offsetof(ResourceDirectoryEntry, dataOffset) == 12);
static_assert(offsetof(ResourceDirectoryEntry, dataSize) == 16);

// Standard resource type numbers.
inline constexpr uint16_t kRtCursor = 1;
inline constexpr uint16_t kRtBitmap = 2;
inline constexpr uint16_t kRtIcon = 3;
inline constexpr uint16_t kRtMenu = 4;
inline constexpr uint16_t kRtDialog = 5;
inline constexpr uint16_t kRtString = 6;
inline constexpr uint16_t kRtRcdata = 10;
inline constexpr uint16_t kRtGroupIcon = 14;
inline constexpr uint16_t kRtVersion = 16;

}  // namespace zq
