// A small model built in memory, so that each test states the model data
// its case depends on.
#pragma once

#include <cstring>
#include <initializer_list>
#include <vector>

#include "common/res_ids.h"
#include "settings/devmode.h"
#include "settings/devmode_ops.h"
#include "settings/model_data.h"

namespace zq::testing {

// Little-endian bytes of a resource, written field by field.
class Bytes {
public:
    explicit Bytes(size_t size) : b_(size, 0) {}
    Bytes& u8(size_t at, uint8_t v) { b_.at(at) = v; return *this; }
    Bytes& u16(size_t at, uint16_t v) { u8(at, v & 0xFF); return u8(at + 1, v >> 8); }
    Bytes& u32(size_t at, uint32_t v) { u16(at, v & 0xFFFF); return u16(at + 2, v >> 16); }
    std::vector<uint8_t> get() const { return b_; }

private:
    std::vector<uint8_t> b_;
};

struct Source { uint16_t mask, code; };
struct Resolution { uint16_t dpi; uint8_t flag; };

// One model, index 0, with every table its record names.
class TestModel {
public:
    TestModel() {
        record.paperTableRow = 0;
        record.sourceTableId = 0;
        record.resolutionTableId = 0;
        record.languageId = 0;
        record.optionId = 0;
        record.pairTableId = 0;
        record.slotTableId = 0;
        record.codePageId = 0;
        record.trayTableId = 0;
        record.binTableId = 0;
        record.paperLimitsId = 2;  // custom limits 3: 4-8.5 in by 6-14 in
        record.memoryMegabytes = 16;
        name = "Zelquor Test 1";
        SetSources(0, {{0x1, 7}, {0x2, 1}, {0x4, 2}, {0x8, 3}});
        SetResolutions(0, {{600, 1}, {600, 1}, {300, 0}, {1200, 0}});
        SetPaperRow(0, {0x1, 0x8, 0x2, 0x40000, 0x80000000});
        SetLimits(3, 10200, 4800, 16800, 7200);
        data.SetResource(res::kLanguage, 1, Bytes(8).u16(2, 1).u16(4, 7).get());
        data.SetResource(res::kOption231, 1, Bytes(8).u8(2, 3).get());
        data.SetResource(res::kPairTable, 1, Bytes(24).u16(0, 1).u8(2, 2).u8(4, 1).u16(8, 2).get());
        data.SetResource(res::kTrayTable, 1, Bytes(8).u16(0, 0).u16(2, 0x000F).get());
        data.SetResource(res::kBinTable, 1, Bytes(8).u16(2, 0x21).get());
        // Slot rows for sources 7 and 2; values records 1 and 2.
        data.SetResource(res::kSlotTable, 1,
                         Bytes(24).u16(0, 2).u16(8, 7).u16(10, 1).u16(12, 1).u16(16, 2).u16(18, 4).u16(20, 2).get());
        data.SetResource(res::kSlotValues, 1, Bytes(14).u16(0, 1).u8(2, 5).u16(8, 5).get());
        data.SetResource(res::kSlotValues, 2, Bytes(14).u16(0, 1).u8(2, 9).u16(8, 9).get());
        Commit();
    }

    void SetSources(uint16_t defaultIndex, std::initializer_list<Source> sources) {
        Bytes b(272);
        b.u16(0, static_cast<uint16_t>(sources.size())).u16(2, defaultIndex);
        size_t at = 8;
        for (const auto& s : sources) {
            b.u16(at, s.mask).u16(at + 2, s.code);
            at += 24;
        }
        data.SetResource(res::kSourceTable, 1, b.get());
    }
    void SetResolutions(uint16_t defaultIndex, std::initializer_list<Resolution> list) {
        Bytes b(48);
        b.u16(0, defaultIndex);
        size_t at = 8;
        for (const auto& r : list) {
            b.u16(at, r.dpi).u16(at + 2, r.dpi).u8(at + 4, r.flag);
            at += 8;
        }
        data.SetResource(res::kResolutionTable, 1, b.get());
    }
    void SetPaperRow(uint16_t row, std::initializer_list<uint32_t> masks) {
        Bytes b(292);
        b.u16(0, static_cast<uint16_t>(masks.size()));
        size_t at = 4;
        for (const uint32_t m : masks) {
            b.u32(at, m);
            at += 12;
        }
        data.SetResource(res::kModelPaperTable, static_cast<uint16_t>(row + 1), b.get());
    }
    void SetLimits(uint16_t id, uint16_t maxW, uint16_t minW, uint16_t maxL, uint16_t minL) {
        data.SetResource(res::kPaperLimits, id, Bytes(8).u16(0, maxW).u16(2, minW).u16(4, maxL).u16(6, minL).get());
    }
    // Writes the model record and string after the test changed them.
    void Commit() {
        std::vector<uint8_t> bytes(sizeof(ModelRecord));
        std::memcpy(bytes.data(), &record, sizeof(record));
        data.SetResource(res::kModelRecord, res::kModelRecordBase, bytes);
        data.SetString(res::kModelStringBase, name);
    }

    // The model's default record, in the US on code page 1252.
    PrivateDevmode Default() const {
        PrivateDevmode r{};
        BuildDefaultDevmode(r, data, {true, 1252, 0});
        return r;
    }

    ModelRecord record{};
    std::string name;
    MemoryModelData data;
};

}  // namespace zq::testing
