// Tag lists written by hand for tests, and a context freed at the end of a
// test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "settings/tag_list.h"

namespace zq::testing {

struct TagListFixture {
    TagListContext* c = nullptr;
    TagListFixture() { EXPECT_TRUE(TagListCreate(&c)); }
    ~TagListFixture() { TagListDestroy(&c); }
    TagListFixture(const TagListFixture&) = delete;
    TagListFixture& operator=(const TagListFixture&) = delete;
    std::vector<uint8_t> Bytes() const {
        const auto b = TagListBytes(c);
        return {b.begin(), b.end()};
    }
};

inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// An element {tag, length, data}; `length` 0 means the true length.
inline std::vector<uint8_t> El(uint32_t tag, const std::vector<uint8_t>& data, uint32_t length = 0) {
    std::vector<uint8_t> out;
    Put32(out, tag);
    Put32(out, length != 0 ? length : static_cast<uint32_t>(8 + data.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

inline std::vector<uint8_t> V(uint32_t v) {
    std::vector<uint8_t> out;
    Put32(out, v);
    return out;
}

inline std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace zq::testing
