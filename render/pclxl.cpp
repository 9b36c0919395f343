#include "render/pclxl.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "render/halftone.h"
#include "render/output.h"

namespace pclrend::xl {

namespace {

// One element assembled on the stack, written with one SpoolWrite.
class Element {
public:
    Element& Byte(uint8_t b) {
        if (n_ < bytes_.size()) bytes_[n_++] = b;
        return *this;
    }
    Element& Tagged(Tag t) { return Byte(static_cast<uint8_t>(t)); }
    Element& U16(uint16_t v) { return Byte(static_cast<uint8_t>(v)).Byte(static_cast<uint8_t>(v >> 8)); }
    Element& U32(uint32_t v) { return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16)); }
    Element& F32(float v) { return U32(std::bit_cast<uint32_t>(v)); }
    Element& Attribute(Attr a) { return Tagged(Tag::AttrUByte).Byte(static_cast<uint8_t>(a)); }
    bool Send(DeviceRecord& r) {
        SpoolWrite(r, bytes_.data(), static_cast<int32_t>(n_));
        n_ = 0;
        return r.jobState >= kJobOpen;
    }
    bool Full() const { return n_ + 8 > bytes_.size(); }
    size_t Size() const { return n_; }

private:
    std::array<uint8_t, 256> bytes_{};
    size_t n_ = 0;
};

// Counts are 16 bits wide; a caller with more elements splits its data.
constexpr size_t kMaxCount = 0xFFFF;

// The array tag and its length: a ubyte up to 255, else a uint16.
void ArrayHead(Element& e, Tag t, size_t count) {
    e.Tagged(t);
    if (count <= 0xFF) e.Tagged(Tag::UByte).Byte(static_cast<uint8_t>(count));
    else e.Tagged(Tag::UInt16).U16(static_cast<uint16_t>(count));
}

// Writes an array whose elements each give `width` bytes, batched.
template <typename Put>
bool WriteArray(DeviceRecord& r, Tag t, Attr a, size_t count, Put put) {
    count = std::min(count, kMaxCount);
    Element e;
    ArrayHead(e, t, count);
    for (size_t i = 0; i < count; ++i) {
        if (e.Full() && !e.Send(r)) return false;
        put(e, i);
    }
    e.Attribute(a);
    return e.Send(r);
}

}  // namespace

uint8_t XlGrey(const DeviceRecord& r, uint32_t rgb) { return ToneCurve(r.darknessLevel)[GreyOf(rgb)]; }

bool XlOperator(DeviceRecord& r, Op op) { return Element().Byte(static_cast<uint8_t>(op)).Send(r); }

bool XlAttrUByte(DeviceRecord& r, Attr a, uint8_t v) { return Element().Tagged(Tag::UByte).Byte(v).Attribute(a).Send(r); }

bool XlAttrUInt16(DeviceRecord& r, Attr a, uint16_t v) {
    return Element().Tagged(Tag::UInt16).U16(v).Attribute(a).Send(r);
}

bool XlAttrSInt16(DeviceRecord& r, Attr a, int16_t v) {
    return Element().Tagged(Tag::SInt16).U16(static_cast<uint16_t>(v)).Attribute(a).Send(r);
}

bool XlAttrReal32(DeviceRecord& r, Attr a, float v) { return Element().Tagged(Tag::Real32).F32(v).Attribute(a).Send(r); }

bool XlAttrUInt16XY(DeviceRecord& r, Attr a, uint16_t x, uint16_t y) {
    return Element().Tagged(Tag::UInt16XY).U16(x).U16(y).Attribute(a).Send(r);
}

bool XlAttrSInt16XY(DeviceRecord& r, Attr a, int16_t x, int16_t y) {
    return Element()
        .Tagged(Tag::SInt16XY)
        .U16(static_cast<uint16_t>(x))
        .U16(static_cast<uint16_t>(y))
        .Attribute(a)
        .Send(r);
}

bool XlAttrReal32XY(DeviceRecord& r, Attr a, float x, float y) {
    return Element().Tagged(Tag::Real32XY).F32(x).F32(y).Attribute(a).Send(r);
}

bool XlAttrUInt16Box(DeviceRecord& r, Attr a, uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2) {
    return Element().Tagged(Tag::UInt16Box).U16(x1).U16(y1).U16(x2).U16(y2).Attribute(a).Send(r);
}

bool XlAttrSInt16Box(DeviceRecord& r, Attr a, int16_t x1, int16_t y1, int16_t x2, int16_t y2) {
    auto u = [](int16_t v) { return static_cast<uint16_t>(v); };
    return Element().Tagged(Tag::SInt16Box).U16(u(x1)).U16(u(y1)).U16(u(x2)).U16(u(y2)).Attribute(a).Send(r);
}

bool XlAttrUByteArray(DeviceRecord& r, Attr a, std::span<const uint8_t> v) {
    return WriteArray(r, Tag::UByteArray, a, v.size(), [&](Element& e, size_t i) { e.Byte(v[i]); });
}

bool XlAttrUInt16Array(DeviceRecord& r, Attr a, std::span<const uint16_t> v) {
    return WriteArray(r, Tag::UInt16Array, a, v.size(), [&](Element& e, size_t i) { e.U16(v[i]); });
}

bool XlAttrUInt16ArrayOf32(DeviceRecord& r, Attr a, std::span<const uint32_t> v) {
    return WriteArray(r, Tag::UInt16Array, a, v.size(),
                      [&](Element& e, size_t i) { e.U16(static_cast<uint16_t>(v[i])); });
}

bool XlAttrSInt16Array(DeviceRecord& r, Attr a, std::span<const int16_t> v) {
    return WriteArray(r, Tag::SInt16Array, a, v.size(),
                      [&](Element& e, size_t i) { e.U16(static_cast<uint16_t>(v[i])); });
}

bool XlAttrRgbArray(DeviceRecord& r, Attr a, std::span<const uint32_t> entries) {
    // The length counts bytes, three per entry: whole entries only.
    const size_t count = std::min(entries.size(), kMaxCount / 3);
    Element e;
    ArrayHead(e, Tag::UByteArray, count * 3);
    for (size_t i = 0; i < count; ++i) {
        if (e.Full() && !e.Send(r)) return false;
        e.Byte(static_cast<uint8_t>(entries[i])).Byte(static_cast<uint8_t>(entries[i] >> 8)).Byte(static_cast<uint8_t>(entries[i] >> 16));
    }
    e.Attribute(a);
    return e.Send(r);
}

bool XlAttrGreyArray(DeviceRecord& r, Attr a, std::span<const uint32_t> entries) {
    const uint8_t* curve = ToneCurve(r.darknessLevel);
    return WriteArray(r, Tag::UByteArray, a, entries.size(),
                      [&](Element& e, size_t i) { e.Byte(curve[GreyOf(entries[i])]); });
}

bool XlDataLength(DeviceRecord& r, uint32_t length) { return Element().Tagged(Tag::DataLength).U32(length).Send(r); }

bool XlDataLengthByte(DeviceRecord& r, uint8_t length) { return Element().Tagged(Tag::DataLengthByte).Byte(length).Send(r); }

bool XlRawPoint(DeviceRecord& r, int16_t x, int16_t y) {
    return Element().U16(static_cast<uint16_t>(x)).U16(static_cast<uint16_t>(y)).Send(r);
}

}  // namespace pclrend::xl
