// The shell link (.LNK) file's fixed records, little-endian: the 76-byte
// header, the link-information head and its volume record. The strings and
// the paths that follow them are written by the shell-link class.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq::com {

#pragma pack(push, 1)
struct ShellLinkHeader {
    uint32_t headerSize;  // 0x4C
    uint8_t linkClsid[16];
    uint32_t linkFlags;
    uint32_t fileAttributes;
    uint64_t creationTime;
    uint64_t accessTime;
    uint64_t writeTime;
    uint32_t fileSize;
    int32_t iconIndex;
    uint32_t showCommand;
    uint16_t hotKey;
    uint16_t reserved1;
    uint32_t reserved2;
    uint32_t reserved3;
};

// Link information with a volume and a local base path.
struct LinkInfoHeader {
    uint32_t linkInfoSize;
    uint32_t linkInfoHeaderSize;  // 0x1C
    uint32_t linkInfoFlags;       // 1: volume id and local base path
    uint32_t volumeIdOffset;
    uint32_t localBasePathOffset;
    uint32_t commonNetworkRelativeLinkOffset;
    uint32_t commonPathSuffixOffset;
};

struct VolumeIdHeader {
    uint32_t volumeIdSize;
    uint32_t driveType;  // 3: fixed
    uint32_t driveSerialNumber;
    uint32_t volumeLabelOffset;  // 0x10: the label follows
};
#pragma pack(pop)

static_assert(sizeof(ShellLinkHeader) == 76);
static_assert(offsetof(ShellLinkHeader, linkClsid) == 4);
static_assert(offsetof(ShellLinkHeader, linkFlags) == 20);
static_assert(offsetof(ShellLinkHeader, fileAttributes) == 24);
static_assert(offsetof(ShellLinkHeader, creationTime) == 28);
static_assert(offsetof(ShellLinkHeader, fileSize) == 52);
static_assert(offsetof(ShellLinkHeader, iconIndex) == 56);
static_assert(offsetof(ShellLinkHeader, showCommand) == 60);
static_assert(offsetof(ShellLinkHeader, hotKey) == 64);
static_assert(offsetof(ShellLinkHeader, reserved3) == 72);
static_assert(sizeof(LinkInfoHeader) == 28);
static_assert(offsetof(LinkInfoHeader, localBasePathOffset) == 16);
static_assert(offsetof(LinkInfoHeader, commonPathSuffixOffset) == 24);
static_assert(sizeof(VolumeIdHeader) == 16);

// Link flags.
constexpr uint32_t kHasLinkInfo = 0x2;
constexpr uint32_t kHasName = 0x4;
constexpr uint32_t kHasWorkingDir = 0x10;
constexpr uint32_t kHasArguments = 0x20;
constexpr uint32_t kHasIconLocation = 0x40;
constexpr uint32_t kIsUnicode = 0x80;

}  // namespace zq::com
