// The record the device-query library answers with: what the printer says
// it has installed, as its port reports it. The library owns the record; its
// callers read it and hand it back.
//
// Byte-exact at the offsets the callers read. Where the record names its
// entry arrays it holds their offsets from the record's start (the entries
// stand in the same block), never an address. Little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace zq {

#pragma pack(push, 1)

struct DeviceQueryRecord {
    uint32_t size;              // 0: bytes of the record and its entries
    uint8_t duplexUnit;         // 4: non-zero when a duplex unit is present
    uint8_t reserved5[23];
    uint16_t memoryMegabytes;   // 28
    uint8_t reserved30[34];
    uint32_t storage64;         // 64: non-zero when a disk is present
    uint32_t reserved68;
    uint32_t storage72;         // 72: non-zero when flash storage is present
    uint8_t reserved76[52];
    uint32_t inputCount;        // 128
    uint32_t inputOffset;       // 132
    uint32_t outputCount;       // 136
    uint32_t outputOffset;      // 140
    uint32_t mediaCount;        // 144
    uint32_t mediaOffset;       // 148
    uint8_t reserved152[8];
};
static_assert(sizeof(DeviceQueryRecord) == 160);
static_assert(offsetof(DeviceQueryRecord, duplexUnit) == 4);
static_assert(offsetof(DeviceQueryRecord, memoryMegabytes) == 28);
static_assert(offsetof(DeviceQueryRecord, storage64) == 64 && offsetof(DeviceQueryRecord, storage72) == 72);
static_assert(offsetof(DeviceQueryRecord, inputCount) == 128 && offsetof(DeviceQueryRecord, inputOffset) == 132);
static_assert(offsetof(DeviceQueryRecord, outputCount) == 136 && offsetof(DeviceQueryRecord, mediaOffset) == 148);

// An input position (tray) and the media loaded in it.
struct DeviceQueryInput {
    uint16_t trayId;
    uint16_t kind;              // capacity kind 1-3
    uint8_t reserved4[34];
    uint16_t mediaCode;         // 38: the device's code of the loaded media
    uint8_t reserved40[24];
};
static_assert(sizeof(DeviceQueryInput) == 64);
static_assert(offsetof(DeviceQueryInput, mediaCode) == 38);

struct DeviceQueryOutput {
    uint16_t binId;
    uint16_t unitCode;
    uint8_t reserved4[96];
};
static_assert(sizeof(DeviceQueryOutput) == 100);

struct DeviceQueryMedia {
    uint16_t mediaCode;
    uint8_t reserved2[30];
};
static_assert(sizeof(DeviceQueryMedia) == 32);

#pragma pack(pop)

// Request masks of the callers.
inline constexpr uint32_t kQueryTest = 1;
inline constexpr uint32_t kQueryMediaReady = 8;
inline constexpr uint32_t kQueryDevicePage = 510;
inline constexpr uint32_t kQueryScriptDefault = 1022;

// The record a fixture describes, one line each: "duplex N", "memory N",
// "storage DISK FLASH", "input TRAY KIND MEDIA", "output BIN UNIT",
// "media CODE"; '#' starts a comment. nullopt for a line it does not know
// or a number that does not fit its field.
std::optional<std::vector<uint8_t>> DeviceQueryFromFixture(std::string_view text);

// The media codes of the input positions of a record given as bytes: only
// entries that lie wholly within the record's own size and the bytes.
std::vector<uint16_t> DeviceQueryInputMedia(const uint8_t* record, size_t available);

}  // namespace zq
