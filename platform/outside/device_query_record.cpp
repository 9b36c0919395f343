#include "outside/device_query_record.h"

#include <charconv>
#include <cstring>
#include <string>

namespace zq {

namespace {

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

std::optional<uint32_t> Number(std::string_view w, uint32_t max) {
    uint32_t v = 0;
    const auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
    if (ec != std::errc() || end != w.data() + w.size() || v > max) return std::nullopt;
    return v;
}

}  // namespace

std::optional<std::vector<uint8_t>> DeviceQueryFromFixture(std::string_view text) {
    DeviceQueryRecord head{};
    std::vector<DeviceQueryInput> inputs;
    std::vector<DeviceQueryOutput> outputs;
    std::vector<DeviceQueryMedia> media;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (const size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
        const auto w = Words(line);
        if (w.empty()) continue;
        auto n = [&](size_t i, uint32_t max) { return i < w.size() ? Number(w[i], max) : std::nullopt; };
        if (w[0] == "duplex" && w.size() == 2 && n(1, 255)) {
            head.duplexUnit = static_cast<uint8_t>(*n(1, 255));
        } else if (w[0] == "memory" && w.size() == 2 && n(1, 0xFFFF)) {
            head.memoryMegabytes = static_cast<uint16_t>(*n(1, 0xFFFF));
        } else if (w[0] == "storage" && w.size() == 3 && n(1, 1) && n(2, 1)) {
            head.storage64 = *n(1, 1);
            head.storage72 = *n(2, 1);
        } else if (w[0] == "input" && w.size() == 4 && n(1, 0xFFFF) && n(2, 3) && n(3, 0xFFFF) && inputs.size() < 64) {
            DeviceQueryInput e{};
            e.trayId = static_cast<uint16_t>(*n(1, 0xFFFF));
            e.kind = static_cast<uint16_t>(*n(2, 3));
            e.mediaCode = static_cast<uint16_t>(*n(3, 0xFFFF));
            inputs.push_back(e);
        } else if (w[0] == "output" && w.size() == 3 && n(1, 0xFFFF) && n(2, 0xFFFF) && outputs.size() < 64) {
            DeviceQueryOutput e{};
            e.binId = static_cast<uint16_t>(*n(1, 0xFFFF));
            e.unitCode = static_cast<uint16_t>(*n(2, 0xFFFF));
            outputs.push_back(e);
        } else if (w[0] == "media" && w.size() == 2 && n(1, 0xFFFF) && media.size() < 64) {
            DeviceQueryMedia e{};
            e.mediaCode = static_cast<uint16_t>(*n(1, 0xFFFF));
            media.push_back(e);
        } else {
            return std::nullopt;
        }
    }
    size_t at = sizeof head;
    head.inputCount = static_cast<uint32_t>(inputs.size());
    head.inputOffset = static_cast<uint32_t>(at);
    at += inputs.size() * sizeof(DeviceQueryInput);
    head.outputCount = static_cast<uint32_t>(outputs.size());
    head.outputOffset = static_cast<uint32_t>(at);
    at += outputs.size() * sizeof(DeviceQueryOutput);
    head.mediaCount = static_cast<uint32_t>(media.size());
    head.mediaOffset = static_cast<uint32_t>(at);
    at += media.size() * sizeof(DeviceQueryMedia);
    head.size = static_cast<uint32_t>(at);
    std::vector<uint8_t> bytes(at);
    std::memcpy(bytes.data(), &head, sizeof head);
    if (!inputs.empty()) std::memcpy(bytes.data() + head.inputOffset, inputs.data(), inputs.size() * sizeof inputs[0]);
    if (!outputs.empty()) {
        std::memcpy(bytes.data() + head.outputOffset, outputs.data(), outputs.size() * sizeof outputs[0]);
    }
    if (!media.empty()) std::memcpy(bytes.data() + head.mediaOffset, media.data(), media.size() * sizeof media[0]);
    return bytes;
}

std::vector<uint16_t> DeviceQueryInputMedia(const uint8_t* record, size_t available) {
    std::vector<uint16_t> out;
    if (record == nullptr || available < sizeof(DeviceQueryRecord)) return out;
    DeviceQueryRecord head;
    std::memcpy(&head, record, sizeof head);
    const size_t size = std::min<size_t>(head.size, available);
    const uint64_t first = head.inputOffset;
    for (uint64_t i = 0; i < head.inputCount; ++i) {
        const uint64_t at = first + i * sizeof(DeviceQueryInput);
        if (at + sizeof(DeviceQueryInput) > size) break;
        uint16_t code = 0;
        std::memcpy(&code, record + at + offsetof(DeviceQueryInput, mediaCode), 2);
        out.push_back(code);
    }
    return out;
}

}  // namespace zq
