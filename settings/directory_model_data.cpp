#include "settings/directory_model_data.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "base/resource_directory.h"

namespace zq {

namespace {

template <typename T>
T Read(const std::vector<uint8_t>& b, size_t at) {
    T v;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}

}  // namespace

std::optional<DirectoryModelData> DirectoryModelData::FromBytes(std::vector<uint8_t> bytes) {
    if (bytes.size() < sizeof(ResourceDirectoryHeader) ||
        std::memcmp(bytes.data(), kResourceMagic, sizeof kResourceMagic) != 0) {
        return std::nullopt;
    }
    const auto header = Read<ResourceDirectoryHeader>(bytes, 0);
    const size_t total = std::min<size_t>(header.totalSize, bytes.size());
    const size_t tableEnd = sizeof(ResourceDirectoryHeader) +
                            static_cast<size_t>(header.entryCount) * sizeof(ResourceDirectoryEntry);
    if (tableEnd > total) {
        return std::nullopt;
    }
    DirectoryModelData d(std::move(bytes));
    for (uint32_t i = 0; i < header.entryCount; ++i) {
        const auto e = Read<ResourceDirectoryEntry>(
            d.bytes_, sizeof(ResourceDirectoryHeader) + i * sizeof(ResourceDirectoryEntry));
        if ((e.type | e.name) & kResourceNameIsString) {
            continue;  // named resources are not model data
        }
        if (e.dataOffset > total || e.dataSize > total - e.dataOffset || e.type > 0xFFFF || e.name > 0xFFFF) {
            return std::nullopt;
        }
        d.entries_.push_back({static_cast<uint16_t>(e.type), static_cast<uint16_t>(e.name), e.dataOffset, e.dataSize});
    }
    return d;
}

std::optional<DirectoryModelData> DirectoryModelData::FromFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return FromBytes(std::move(bytes));
}

const DirectoryModelData::Entry* DirectoryModelData::Find(uint16_t type, uint16_t id) const {
    // The first entry of that type and name: the neutral language sorts first.
    for (const auto& e : entries_) {
        if (e.type == type && e.id == id) {
            return &e;
        }
    }
    return nullptr;
}

size_t DirectoryModelData::Resource(uint16_t type, uint16_t id, std::span<uint8_t> out) const {
    const Entry* e = Find(type, id);
    if (e == nullptr) {
        return 0;
    }
    const size_t n = std::min<size_t>(out.size(), e->size);
    if (n > 0) {
        std::memcpy(out.data(), bytes_.data() + e->offset, n);
    }
    return e->size;
}

std::optional<std::string> DirectoryModelData::String(uint16_t id) const {
    const Entry* e = Find(kRtString, static_cast<uint16_t>(id / 16 + 1));
    if (e == nullptr) {
        return std::nullopt;
    }
    size_t at = e->offset;
    const size_t end = e->offset + e->size;
    for (unsigned i = 0; i < 16; ++i) {
        if (at + 2 > end) {
            return std::nullopt;
        }
        const uint16_t length = Read<uint16_t>(bytes_, at);
        at += 2;
        if (at + length * 2u > end) {
            return std::nullopt;
        }
        if (i == id % 16) {
            if (length == 0) {
                return std::nullopt;  // an empty slot is no string
            }
            std::string s;
            for (uint16_t k = 0; k < length; ++k) {
                const uint16_t c = Read<uint16_t>(bytes_, at + k * 2u);
                s.push_back(c < 0x100 ? static_cast<char>(c) : '?');
            }
            return s;
        }
        at += length * 2u;
    }
    return std::nullopt;
}

}  // namespace zq
