// Model data read from a compiled resource directory: the interface
// driver's resource file (or the bytes of its module's directory). Used by
// the model checker and by tools that look at a driver without loading it.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "settings/model_data.h"

namespace zq {

class DirectoryModelData : public ModelData {
public:
    // nullopt when the bytes are not a well-formed directory.
    static std::optional<DirectoryModelData> FromBytes(std::vector<uint8_t> bytes);
    static std::optional<DirectoryModelData> FromFile(const std::filesystem::path& path);

    size_t Resource(uint16_t type, uint16_t id, std::span<uint8_t> out) const override;
    std::optional<std::string> String(uint16_t id) const override;

private:
    struct Entry {
        uint16_t type;
        uint16_t id;
        uint32_t offset;
        uint32_t size;
    };
    explicit DirectoryModelData(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    const Entry* Find(uint16_t type, uint16_t id) const;

    std::vector<uint8_t> bytes_;
    std::vector<Entry> entries_;  // numbered types and names only
};

}  // namespace zq
