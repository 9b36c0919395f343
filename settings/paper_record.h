// The 104-byte paper record that the dialogs show for one paper code, and
// the printable area inside it. A user-defined form is stored in the same
// shape.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq {

// In 1/1200 inch.
struct PaperArea {
    uint16_t printableWidth;
    uint16_t printableLength;
    uint16_t horizontalOffset;
    uint16_t verticalOffset;
};
static_assert(sizeof(PaperArea) == 8);

struct PaperRecord {
    char name[64];
    uint16_t paperCode;
    uint16_t printerCode;  // bit 12: a form measured in metric units
    uint16_t width;
    uint16_t length;
    PaperArea areas[4];
};
static_assert(sizeof(PaperRecord) == 104);
static_assert(offsetof(PaperRecord, paperCode) == 64);
static_assert(offsetof(PaperRecord, printerCode) == 66);
static_assert(offsetof(PaperRecord, width) == 68);
static_assert(offsetof(PaperRecord, length) == 70);
static_assert(offsetof(PaperRecord, areas) == 72);

}  // namespace zq
