// A sink that keeps what it is given, and can fail or write short on cue.
#pragma once

#include <string>
#include <vector>

#include "render/device_record.h"

namespace pclrend {

class CaptureSink : public Sink {
public:
    uint32_t Write(const uint8_t* data, uint32_t size) override {
        pieces.push_back(size);
        uint32_t n = size;
        if (goodPieces != kNever) {
            if (goodPieces == 0) n = std::min(size, badPieceWrites);
            else --goodPieces;
        }
        bytes.insert(bytes.end(), data, data + n);
        return n;
    }
    std::string Text() const { return std::string(bytes.begin(), bytes.end()); }

    static constexpr uint32_t kNever = 0xFFFFFFFF;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> pieces;
    uint32_t goodPieces = kNever;   // full pieces before a bad one
    uint32_t badPieceWrites = 0;    // what the bad piece writes
};

}  // namespace pclrend
