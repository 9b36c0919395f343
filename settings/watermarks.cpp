// The watermark list.
#include "settings/watermarks.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace zq {

namespace {

constexpr uint16_t kTextKey = 3, kFontKey = 4, kColourKey = 5, kLightenKey = 6;

bool IdMatches(const PdList* list, int id) {
    if (id == 0 || id == -1) return true;
    const auto stored = PdFieldWord(list, kPdIdKey);
    return stored && *stored == static_cast<uint16_t>(id);
}

bool CopyWord(const PdList* list, uint16_t key, uint16_t* out) {
    if (out == nullptr) return true;
    const auto v = PdFieldWord(list, key);
    if (!v) return false;
    *out = *v;
    return true;
}

}  // namespace

PdList* WatermarkListOpen(const char* printerName) { return PdListOpen(printerName, kWatermarkListValue); }

BOOL WatermarkListClose(PdList* list) { return PdListClose(list); }

int WatermarkGetFields(PdList* list, std::span<const uint8_t** const, 9> out) { return PdListGetFields(list, out); }

uint16_t WatermarkFindFreeId(const char* printerName) {
    PdListHolder list(WatermarkListOpen(printerName));
    if (!list) return 0;
    return PdFindFreeId(list.get(), 1, 0x8000);
}

BOOL WatermarkAdd(const char* printerName, uint16_t id, std::string_view name, const WatermarkContent& content) {
    if (id >= 0x8000) return FALSE;
    if (id == 0) id = WatermarkFindFreeId(printerName);
    if (id == 0 || name.empty() || content.text.empty()) return FALSE;
    PdListHolder list(WatermarkListOpen(printerName));
    if (!list) return FALSE;
    PdDeleteFirst(list.get(), [&](const PdList* l) { return PdFieldWord(l, kPdIdKey) == id; });
    PdDeleteFirst(list.get(), [&](const PdList* l) { return PdNameIs(l, name); });
    const std::string nameZ(name), textZ(content.text);
    uint16_t words[4] = {content.lighten, content.placement[0], content.placement[1], content.placement[2]};
    const PdField fields[] = {
        {kPdIdKey, 2, &id},
        {kPdNameKey, static_cast<uint16_t>(nameZ.size() + 1), nameZ.c_str()},
        {kTextKey, static_cast<uint16_t>(textZ.size() + 1), textZ.c_str()},
        {kFontKey, kLogFontSize, content.font.data()},
        {kColourKey, 4, &content.colour},
        {kLightenKey, 2, &words[0]},
        {7, 2, &words[1]},
        {8, 2, &words[2]},
        {9, 2, &words[3]},
    };
    if (nameZ.size() > 0x7FFF || textZ.size() > 0x7FFF) return FALSE;
    if (!PdListAppend(list.get(), 9, fields)) return FALSE;
    return list.Close();
}

BOOL WatermarkDelete(const char* printerName, uint16_t id, const char* name) {
    PdListHolder list(WatermarkListOpen(printerName));
    if (!list) return FALSE;
    const bool named = name != nullptr && *name != '\0';
    const bool found = PdDeleteFirst(list.get(), [&](const PdList* l) {
        return (id == 0 || PdFieldWord(l, kPdIdKey) == id) && (!named || PdNameIs(l, name));
    });
    if (!found) return FALSE;
    return list.Close();
}

int WatermarkSet(const char* printerName, uint16_t id, const char* name, const char* text, const uint8_t* font,
                 const uint32_t* colour, const uint16_t* lighten, const uint16_t* placement1,
                 const uint16_t* placement2, const uint16_t* placement3) {
    const bool named = name != nullptr && *name != '\0';
    if (text != nullptr && *text != '\0') {
        if (!named || font == nullptr || colour == nullptr || lighten == nullptr) return 0;
        WatermarkContent c{text, std::span<const uint8_t, kLogFontSize>(font, kLogFontSize)};
        c.colour = *colour;
        c.lighten = *lighten;
        c.placement[0] = placement1 != nullptr ? *placement1 : 0;
        c.placement[1] = placement2 != nullptr ? *placement2 : 0;
        c.placement[2] = placement3 != nullptr ? *placement3 : 0;
        return WatermarkAdd(printerName, id, name, c) ? 1 : 0;
    }
    if (id == 0 && !named) return 0;
    return WatermarkDelete(printerName, id, name) ? 1 : 0;
}

int WatermarkGet(const char* printerName, int id, const char* name, const WatermarkGetRequest& r) {
    PdListHolder list(WatermarkListOpen(printerName));
    if (!list) return 0;
    const bool named = name != nullptr && *name != '\0';
    PdList* l = list.get();
    if (!PdFindFirst(l, [&](const PdList* c) { return IdMatches(c, id) && (!named || PdNameIs(c, name)); })) {
        return 0;
    }
    if (r.text != nullptr) {
        const auto text = PdFieldText(l, kTextKey);
        if (!text) return 0;
        CopyBounded(*text, r.text, r.textCapacity);
    }
    if (r.font != nullptr) {
        const auto font = PdFieldData(l, kFontKey);
        if (!font) return 0;
        std::memset(r.font, 0, kLogFontSize);
        std::memcpy(r.font, font->data(), std::min(font->size(), kLogFontSize));
    }
    if (r.colour != nullptr) {
        const auto colour = PdFieldData(l, kColourKey);
        if (!colour || colour->size() < 4) return 0;
        std::memcpy(r.colour, colour->data(), 4);
    }
    if (!CopyWord(l, kLightenKey, r.lighten)) return 0;
    for (int i = 0; i < 3; ++i) {
        if (!CopyWord(l, static_cast<uint16_t>(7 + i), r.placement[i])) return 0;
    }
    return 1;
}

uint16_t WatermarkIdFromName(const char* printerName, std::string_view name) {
    PdListHolder list(WatermarkListOpen(printerName));
    if (!list) return 0;
    if (!PdFindFirst(list.get(), [&](const PdList* l) { return PdNameIs(l, name) && PdRecordId(l); })) return 0;
    return *PdRecordId(list.get());
}

size_t WatermarkNameFromId(const char* printerName, uint16_t id, char* buffer, size_t length) {
    PdListHolder list(WatermarkListOpen(printerName));
    if (!list) return 0;
    if (!PdFindFirst(list.get(), [&](const PdList* l) {
            return PdFieldWord(l, kPdIdKey) == id && PdFieldText(l, kPdNameKey);
        })) {
        return 0;
    }
    return CopyBounded(*PdFieldText(list.get(), kPdNameKey), buffer, length);
}

int WatermarkEnumerate(const char* printerName, void** ids, void** names) {
    if (ids != nullptr) *ids = nullptr;
    if (names != nullptr) *names = nullptr;
    if (ids == nullptr && names == nullptr) return 0;
    PdListHolder list(WatermarkListOpen(printerName));
    if (!list) return 0;
    std::vector<uint8_t> idBytes, nameBytes;
    int count = 0;
    if (PdListFirst(list.get())) {
        do {
            AppendWord(idBytes, PdFieldWord(list.get(), kPdIdKey).value_or(0));
            AppendText(nameBytes, PdFieldText(list.get(), kPdNameKey).value_or(""));
            ++count;
        } while (PdListNext(list.get()));
    }
    if (count == 0) return 0;
    AppendWord(idBytes, 0);
    nameBytes.push_back(0);
    return PublishEnumeration(count, {{ids, &idBytes, 1024}, {names, &nameBytes, 4096}});
}

}  // namespace zq
