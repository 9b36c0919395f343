// The printer's watermarks: a record list in the printer-data value
// "Watermark". Fields: 1 id (uint16, 1-32767), 2 name, 3 text, 4 the font
// (a 60-byte LOGFONTA), 5 colour (COLORREF), 6 lightening percentage, 7-9
// placement values (uint16 each).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/types.h"
#include "settings/pd_list.h"

namespace zq {

inline constexpr char kWatermarkListValue[] = "Watermark";
constexpr size_t kLogFontSize = 60;

// What an add stores besides id and name.
struct WatermarkContent {
    std::string_view text;
    std::span<const uint8_t, kLogFontSize> font;
    uint32_t colour = 0;
    uint16_t lighten = 0;
    uint16_t placement[3] = {};
};

PdList* WatermarkListOpen(const char* printerName);
BOOL WatermarkListClose(PdList* list);
// out[i], when given, receives the data address of field i + 1.
int WatermarkGetFields(PdList* list, std::span<const uint8_t** const, 9> out);

// Replaces the record with that id and the one with that name; id 0 takes
// the lowest free id. TRUE when stored.
BOOL WatermarkAdd(const char* printerName, uint16_t id, std::string_view name, const WatermarkContent& content);
// Deletes the first record whose id (unless 0) and name (when given) match.
BOOL WatermarkDelete(const char* printerName, uint16_t id, const char* name);
// Add or replace with a text, delete without one. 1 when the list was
// changed and written, 0 when nothing was asked or it failed.
int WatermarkSet(const char* printerName, uint16_t id, const char* name, const char* text, const uint8_t* font,
                 const uint32_t* colour, const uint16_t* lighten, const uint16_t* placement1,
                 const uint16_t* placement2, const uint16_t* placement3);

// Optional outputs of WatermarkGet; the text is cut to its buffer.
struct WatermarkGetRequest {
    char* text = nullptr;
    size_t textCapacity = 0;
    uint8_t* font = nullptr;  // 60 bytes
    uint32_t* colour = nullptr;
    uint16_t* lighten = nullptr;
    uint16_t* placement[3] = {};
};
// The first record with that id (any for 0 or -1) and name (when given):
// 1 when found and every requested field was copied.
int WatermarkGet(const char* printerName, int id, const char* name, const WatermarkGetRequest& request);

uint16_t WatermarkIdFromName(const char* printerName, std::string_view name);
// The name's length, 0 when no record has that id; the buffer receives at
// most length - 1 characters and a NUL.
size_t WatermarkNameFromId(const char* printerName, uint16_t id, char* buffer, size_t length);
uint16_t WatermarkFindFreeId(const char* printerName);
// Locked global blocks of the ids (0-ended words) and names (NUL-ended
// texts, then an empty one); the number of records, 0 with no blocks.
int WatermarkEnumerate(const char* printerName, void** ids, void** names);

}  // namespace zq
