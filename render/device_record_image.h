// The byte image of the device record that escape 5012 hands to the
// interface library: 2076 bytes, little-endian, with the fields that library
// reads at their offsets (and a few more that identify the record). Every
// other byte is zero. Made from the C++ record in one place, here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "render/device_record.h"

namespace pclrend {

#pragma pack(push, 1)
struct DeviceRecordImage {
    uint8_t head[196];
    uint16_t stamp;               // 196
    uint8_t gap198[10];
    uint16_t jobState;            // 208
    uint8_t gap210[70];
    uint8_t duplexBlock[3];       // 280: the interface reads byte 280 (instruction set 2)
    uint8_t gap283[279];
    uint16_t resolution;          // 562
    uint8_t gap564[118];
    uint16_t pageCount;           // 682: 0 = no page printed yet
    uint8_t gap684[20];
    uint8_t outputMode;           // 704
    uint8_t manualDuplexPrompt;   // 705
    uint8_t gap706[793];
    uint8_t language;             // 1499
    uint8_t gap1500[556];
    uint32_t manualDuplexFlags;   // 2056: read at the end of the document
    uint8_t tail[16];
};
#pragma pack(pop)

static_assert(sizeof(DeviceRecordImage) == 2076);
static_assert(offsetof(DeviceRecordImage, stamp) == 196);
static_assert(offsetof(DeviceRecordImage, jobState) == 208);
static_assert(offsetof(DeviceRecordImage, duplexBlock) == 280);
static_assert(offsetof(DeviceRecordImage, resolution) == 562);
static_assert(offsetof(DeviceRecordImage, pageCount) == 682);
static_assert(offsetof(DeviceRecordImage, outputMode) == 704);
static_assert(offsetof(DeviceRecordImage, manualDuplexPrompt) == 705);
static_assert(offsetof(DeviceRecordImage, language) == 1499);
static_assert(offsetof(DeviceRecordImage, manualDuplexFlags) == 2056);

inline DeviceRecordImage MakeImage(const DeviceRecord& r) {
    DeviceRecordImage image;
    std::memset(&image, 0, sizeof image);
    image.stamp = r.stamp;
    image.jobState = r.jobState;
    if (r.devmode) {
        image.duplexBlock[0] = r.devmode->option448;
        image.duplexBlock[1] = r.devmode->option449;
        image.duplexBlock[2] = r.devmode->option450;
    }
    image.resolution = r.resolution;
    image.pageCount = r.pageCount;
    image.outputMode = r.outputMode;
    image.manualDuplexPrompt = r.manualDuplexPrompt;
    image.language = static_cast<uint8_t>(r.language);
    image.manualDuplexFlags = r.manualDuplexFlags;
    return image;
}

}  // namespace pclrend
