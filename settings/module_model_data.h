// Model data read from a loaded module's resources (the interface driver's
// own, in the driver).
#pragma once

#include "base/types.h"
#include "settings/model_data.h"

namespace zq {

class ModuleModelData : public ModelData {
public:
    explicit ModuleModelData(HMODULE module) : module_(module) {}
    size_t Resource(uint16_t type, uint16_t id, std::span<uint8_t> out) const override;
    std::optional<std::string> String(uint16_t id) const override;

private:
    HMODULE module_;
};

}  // namespace zq
