#include "settings/model_data.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/res_ids.h"

namespace zq {

void MemoryModelData::SetResource(uint16_t type, uint16_t id, std::vector<uint8_t> bytes) {
    resources_[{type, id}] = std::move(bytes);
}

void MemoryModelData::RemoveResource(uint16_t type, uint16_t id) {
    resources_.erase({type, id});
}

void MemoryModelData::SetString(uint16_t id, std::string text) {
    strings_[id] = std::move(text);
}

size_t MemoryModelData::Resource(uint16_t type, uint16_t id, std::span<uint8_t> out) const {
    const auto it = resources_.find({type, id});
    if (it == resources_.end()) {
        return 0;
    }
    const size_t n = std::min(out.size(), it->second.size());
    if (n > 0) {
        std::memcpy(out.data(), it->second.data(), n);
    }
    return it->second.size();
}

std::optional<std::string> MemoryModelData::String(uint16_t id) const {
    const auto it = strings_.find(id);
    if (it == strings_.end()) {
        return std::nullopt;
    }
    return it->second;
}

namespace {

// The rows of a table that gives their count in its first word: as many as
// the count says, the bytes hold and `limit` allows, `rowSize` bytes each
// from byte `first`; `row` reads the row at the byte offset it is given.
template <size_t N, class F>
void ForEachCountedRow(const ResourceBytes<N>& r, size_t first, size_t rowSize, F&& row,
                       size_t limit = SIZE_MAX) {
    const size_t fits = (r.size > first ? r.size - first : 0) / rowSize;
    const size_t count = std::min({static_cast<size_t>(r.u16(0)), fits, limit});
    for (size_t i = 0; i < count; ++i) {
        row(first + i * rowSize);
    }
}

}  // namespace

SourceTable ReadSourceTable(const ModelData& model, uint16_t id) {
    const auto r = ReadModelResource<kSourceTableSize>(model, res::kSourceTable, id);
    SourceTable t;
    t.present = r.present();
    if (!t.present) {
        return t;
    }
    t.defaultIndex = r.u16(2);
    ForEachCountedRow(r, 8, kSourceEntrySize, [&](size_t at) {
        t.entries.push_back({r.u16(at), r.u16(at + 2), r.u16(at + 4), r.u8(at + 10), r.u8(at + 16), r.u16(at + 6),
                             r.u8(at + 12), r.u8(at + 13)});
    });
    return t;
}

ResolutionTable ReadResolutionTable(const ModelData& model, uint16_t id) {
    const auto r = ReadModelResource<kResolutionTableSize>(model, res::kResolutionTable, id);
    ResolutionTable t;
    t.present = r.present();
    if (!t.present) {
        return t;
    }
    t.defaultIndex = r.u16(0);
    for (size_t i = 0; i < 5; ++i) {
        const size_t at = 8 + i * 8;
        if (at + 8 > r.size || r.u16(at) == 0) {
            break;
        }
        t.entries.push_back({r.u16(at), r.u16(at + 2), r.u8(at + 4)});
    }
    return t;
}

PairTable ReadPairTable(const ModelData& model, uint16_t id) {
    const auto r = ReadModelResource<kPairTableSize>(model, res::kPairTable, id);
    PairTable t;
    t.present = r.present();
    if (!t.present) {
        return t;
    }
    t.defaultFirst = r.u8(2);
    t.defaultSecond = r.u8(4);
    ForEachCountedRow(r, 8, 16, [&](size_t at) { t.entries.push_back({r.u16(at), r.u16(at + 2), r.u16(at + 6)}); });
    return t;
}

std::vector<SlotRow> ReadSlotTable(const ModelData& model, uint16_t id) {
    const auto r = ReadModelResource<kSlotTableSize>(model, res::kSlotTable, id);
    std::vector<SlotRow> rows;
    ForEachCountedRow(r, 8, 8, [&](size_t at) { rows.push_back({r.u16(at), r.u16(at + 2), r.u16(at + 4)}); });
    return rows;
}

SlotValues ReadSlotValues(const ModelData& model, uint16_t id) {
    const auto r = ReadModelResource<kSlotValuesSize>(model, res::kSlotValues, id);
    SlotValues v;
    v.present = r.present();
    if (!v.present) {
        return v;
    }
    v.defaultValue = r.u8(2);
    ForEachCountedRow(r, 8, 6, [&](size_t at) { v.values.push_back({r.u16(at), r.u16(at + 2), r.u16(at + 4)}); });
    return v;
}

std::vector<InstallableOption> ReadInstallables(const ModelData& model, uint16_t id) {
    const auto r = ReadModelResource<kInstallablesSize>(model, res::kInstallables, id);
    std::vector<InstallableOption> options;
    ForEachCountedRow(r, 8, 8, [&](size_t at) { options.push_back({r.u16(at), r.u16(at + 4)}); });
    return options;
}

std::vector<SourceCapacity> ReadCapacityList(const ModelData& model, uint16_t id) {
    std::vector<SourceCapacity> list;
    if (id == 0) return list;
    const auto r = ReadModelResource<kCapacityListSize>(model, res::kCapacityList, id);
    ForEachCountedRow(r, 8, 8, [&](size_t at) {
        list.push_back({r.u16(at), static_cast<int16_t>(r.u16(at + 2))});
    });
    return list;
}

std::vector<CodePageEntry> ReadCodePageList(const ModelData& model, uint16_t id) {
    const auto r = ReadModelResource<kCodePageListSize>(model, res::kCodePageList, id);
    std::vector<CodePageEntry> list;
    ForEachCountedRow(r, 8, 8, [&](size_t at) { list.push_back({r.u16(at), r.u16(at + 4)}); });
    return list;
}

namespace {

// A table resource holding many fixed-size rows: the bytes of row `index`.
std::optional<std::vector<uint8_t>> ReadTableRow(const ModelData& model, uint16_t type, uint16_t id,
                                                 size_t rowSize, size_t index) {
    const size_t full = model.Resource(type, id, {});
    if (full == 0 || (index + 1) * rowSize > full) {
        return std::nullopt;
    }
    std::vector<uint8_t> all(full);
    if (model.Resource(type, id, all) != full) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(all.begin() + static_cast<ptrdiff_t>(index * rowSize),
                                all.begin() + static_cast<ptrdiff_t>((index + 1) * rowSize));
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

std::optional<FontSetMasks> ReadCodePageRow(const ModelData& model, uint16_t index) {
    const auto row = ReadTableRow(model, res::kCodePageTable, 1, kCodePageRowSize, index);
    if (!row) {
        return std::nullopt;
    }
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(Le16(*row, at)) | (static_cast<uint32_t>(Le16(*row, at + 2)) << 16);
    };
    return FontSetMasks{u32(8), u32(12)};
}

CustomPaperLimits ReadCustomPaperLimits(const ModelData& model, uint16_t id) {
    const auto r = ReadModelResource<8>(model, res::kPaperLimits, id);
    CustomPaperLimits l;
    l.present = r.present();
    if (l.present) {
        l.maxWidth = r.u16(0);
        l.minWidth = r.u16(2);
        l.maxLength = r.u16(4);
        l.minLength = r.u16(6);
    }
    return l;
}

ModelValue ReadModelValue(const ModelData& model, uint16_t type, uint16_t id) {
    const auto r = ReadModelResource<8>(model, type, id);
    return {r.present(), r.u16(2), r.u16(4)};
}

std::vector<PaperTableEntry> ReadPaperTableRow(const ModelData& model, uint16_t row) {
    const auto r = ReadModelResource<kPaperTableRowSize>(model, res::kModelPaperTable,
                                                          static_cast<uint16_t>(row + 1));
    std::vector<PaperTableEntry> entries;
    ForEachCountedRow(
        r, 4, 12,
        [&](size_t at) {
            entries.push_back({r.u32(at), {r.u16(at + 4), r.u16(at + 6), r.u16(at + 8), r.u16(at + 10)}});
        },
        kPaperTableMaxEntries);
    return entries;
}

std::optional<PaperGeometryRow> ReadPaperGeometryRow(const ModelData& model, uint16_t index) {
    const auto row = ReadTableRow(model, res::kPaperGeometry, 1, kPaperGeometryRowSize, index);
    if (!row) {
        return std::nullopt;
    }
    PaperGeometryRow g{};
    for (size_t w = 0; w < g.size(); ++w) {
        g[w] = Le16(*row, w * 2);
    }
    return g;
}

}  // namespace zq
