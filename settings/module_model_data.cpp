#include "settings/module_model_data.h"

#include <algorithm>
#include <cstring>

#include "base/resources.h"

namespace zq {

size_t ModuleModelData::Resource(uint16_t type, uint16_t id, std::span<uint8_t> out) const {
    HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    if (found == nullptr) {
        return 0;
    }
    const DWORD size = SizeofResource(module_, found);
    const void* bytes = LockResource(LoadResource(module_, found));
    if (bytes == nullptr) {
        return 0;
    }
    const size_t n = std::min<size_t>(out.size(), size);
    if (n > 0) {
        std::memcpy(out.data(), bytes, n);
    }
    return size;
}

std::optional<std::string> ModuleModelData::String(uint16_t id) const {
    char buffer[256];
    const int n = LoadStringA(module_, id, buffer, sizeof buffer);
    if (n <= 0) {
        return std::nullopt;
    }
    return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace zq
