// A small font summary made by hand for the font tests: each font with its
// face, masks, character set, style, widths, character map and kerning
// pairs, laid out as the settings library stores it.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "render/device_record.h"
#include "settings/font_summary_format.h"

namespace pclrend::testing {

struct TestFont {
    std::string face = "Zel Test";
    uint32_t mask1 = 0;
    uint8_t charSet = 1;
    uint16_t weight = 400;
    uint8_t italic = 0;
    bool scalable = true;
    bool variablePitch = true;
    uint16_t avgWidth = 500, maxWidth = 1000;
    uint16_t em = 1000;
    // Segments: start, end, delta (a closing 0xFFFF segment is added).
    std::vector<std::array<uint16_t, 3>> segments = {{32, 126, static_cast<uint16_t>(1 - 32)}};
    std::vector<int16_t> widths = std::vector<int16_t>(96, 500);  // glyph 0 first
    std::vector<std::array<int16_t, 3>> kerning;
    std::string selection = "\x1b(#SYMSET\x1b(s1p0s0b4099T\x1b(s#HEIGHTV";
    uint32_t memory = 0;
    uint16_t resourceId = 1;
    uint8_t panose[10] = {2, 11, 6, 4, 2, 2, 2, 2, 2, 4};
};

inline std::vector<uint8_t> MakeSummary(const std::vector<TestFont>& fonts) {
    std::vector<uint8_t> names, data, kerning;
    std::vector<zq::FontSummaryEntry> entries;
    auto addName = [&](const std::string& s) {
        const uint32_t at = static_cast<uint32_t>(names.size());
        names.insert(names.end(), s.begin(), s.end());
        names.push_back(0);
        return at;
    };
    auto addData = [&](const void* p, size_t n) {
        const uint32_t at = static_cast<uint32_t>(data.size());
        data.insert(data.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
        return at;
    };
    for (const TestFont& f : fonts) {
        zq::FontSummaryEntry e{};
        e.resourceId = f.resourceId;
        e.listId = 0xFFFF;
        for (auto& s : e.strings) s = zq::kEmptySlot;
        e.strings[0] = addName(f.face);
        e.strings[2] = addName(f.selection);
        e.panose = addData(f.panose, 10);
        uint8_t sets[24] = {};
        std::memcpy(sets + 16, &f.mask1, 4);
        e.symbolSets = addData(sets, 24);
        e.widths = addData(f.widths.data(), 2 * f.widths.size());
        auto segs = f.segments;
        segs.push_back({0xFFFF, 0xFFFF, 1});
        std::vector<uint16_t> map(13 + 4 * segs.size() + 1, 0);
        map[9] = static_cast<uint16_t>(2 * segs.size());  // byte 18
        for (size_t i = 0; i < segs.size(); ++i) {
            map[13 + i] = segs[i][1];
            map[14 + segs.size() + i] = segs[i][0];
            map[14 + 2 * segs.size() + i] = segs[i][2];
        }
        e.charMap = addData(map.data(), 2 * map.size());
        e.kerning = static_cast<uint32_t>(kerning.size());
        for (const auto& k : f.kerning) {
            const int16_t pair[4] = {k[0], k[1], k[2], 0};
            kerning.insert(kerning.end(), reinterpret_cast<const uint8_t*>(pair), reinterpret_cast<const uint8_t*>(pair) + 8);
        }
        e.scalable = f.scalable ? 1 : 0;
        e.memory = f.memory;
        e.useAge = 0xFFFF;
        e.weight = f.weight;
        e.italic = f.italic;
        e.charSet = f.charSet;
        e.pitchAndFamily = f.variablePitch ? 0x21 : 0x30;
        e.avgWidth = f.avgWidth;
        e.maxWidth = f.maxWidth;
        e.word32 = static_cast<uint16_t>(f.widths.size());
        e.pixHeight = f.em;
        e.metrics[4] = static_cast<uint16_t>(f.em * 8 / 10);
        e.vertical[0] = static_cast<int16_t>(f.em * 8 / 10);
        e.vertical[1] = static_cast<int16_t>(-(f.em * 2 / 10));
        e.extMetrics.masterUnits = static_cast<int16_t>(f.em);
        e.extMetrics.minScale = 4;
        e.extMetrics.maxScale = f.scalable ? 999 : 4;
        e.extMetrics.kernPairs = static_cast<int16_t>(f.kerning.size());
        e.extMetrics.underlineOffset = -100;
        e.extMetrics.underlineWidth = 50;
        entries.push_back(e);
    }
    zq::FontSummaryHeader h{};
    h.one = 1;
    h.count = static_cast<uint16_t>(entries.size());
    h.pool1Size = static_cast<uint32_t>(names.size());
    h.pool2Size = static_cast<uint32_t>(data.size());
    h.mark16 = 0xFFFF;
    h.one20 = 1;
    std::vector<uint8_t> block(sizeof h);
    std::memcpy(block.data(), &h, sizeof h);
    for (const auto& e : entries) {
        const auto* p = reinterpret_cast<const uint8_t*>(&e);
        block.insert(block.end(), p, p + sizeof e);
    }
    block.insert(block.end(), names.begin(), names.end());
    block.insert(block.end(), data.begin(), data.end());
    block.insert(block.end(), kerning.begin(), kerning.end());
    return block;
}

// A record with `fonts` as its summary under the job masks.
inline void GiveFonts(DeviceRecord& r, const std::vector<TestFont>& fonts, uint32_t jobMask1) {
    r.stamp = kStampPortrait;
    r.fonts.summary = MakeSummary(fonts);
    r.fonts.masks[0] = jobMask1;
    r.fonts.deviceFontsOn = true;
    CountVariants(r);
}

}  // namespace pclrend::testing
