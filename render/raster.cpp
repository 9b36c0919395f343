#include "render/raster.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define ZQ_RASTER_AVX2 1
#endif

#include "render/colour_raster.h"
#include "render/hpgl_colour.h"
#include "render/hpgl_mode.h"
#include "render/output.h"

// The coders' inner loops are built twice, for processors of the x86-64-v3
// level (bit scans and shifts of BMI, three-operand VEX forms) and for the
// baseline; the loader picks one once.
#if defined(__x86_64__) && defined(__GNUC__) && defined(__ELF__)
#define ZQ_CODER_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define ZQ_CODER_CLONES
#endif

namespace pclrend {

namespace {

uint64_t Word(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;  // little-endian: the first byte is the lowest
}

#if defined(__SSE2__)
__m128i Load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
// Bit k set where byte k of the two loads is equal.
unsigned Equal16(__m128i a, __m128i b) { return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, b))); }
#endif

// One past the last byte of p[0, n) that is not kFill (0 or 0xFF), 0 when
// there is none. A row with ink is read back from its end, only as far as
// its last ink; a blank row is read whole, 128 bytes a step folded into one
// compare (AND for 0xFF, OR for 0).
#if defined(ZQ_RASTER_AVX2)
// LastNotFill for n >= 32 with 32-byte registers, on processors that have
// them (chosen once at run time).
#define ZQ_AVX2 __attribute__((target("avx2"), always_inline)) inline
ZQ_AVX2 __m256i Load32(const uint8_t* q) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)); }
template <uint8_t kFill>
ZQ_AVX2 __m256i Fold32(__m256i a, __m256i b) {
    return kFill ? _mm256_and_si256(a, b) : _mm256_or_si256(a, b);
}
// Bit k set where byte k of x is kFill.
template <uint8_t kFill>
ZQ_AVX2 uint32_t Fill32(__m256i x) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, _mm256_set1_epi8(static_cast<char>(kFill)))));
}

template <uint8_t kFill>
__attribute__((target("avx2"))) size_t LastNotFillAvx2(const uint8_t* p, size_t n) {
    // One past the last byte that is not kFill in the 32 bytes ending at e.
    const auto last = [](size_t e, uint32_t m) { return e - static_cast<size_t>(std::countl_one(m)); };
    size_t end = n;
    for (; end >= 128; end -= 128) {
        const __m256i a = Load32(p + end - 32), b = Load32(p + end - 64), c = Load32(p + end - 96), d = Load32(p + end - 128);
        if (Fill32<kFill>(Fold32<kFill>(Fold32<kFill>(a, b), Fold32<kFill>(c, d))) == 0xFFFFFFFFu) continue;
        if (const uint32_t m = Fill32<kFill>(a); m != 0xFFFFFFFFu) return last(end, m);
        if (const uint32_t m = Fill32<kFill>(b); m != 0xFFFFFFFFu) return last(end - 32, m);
        if (const uint32_t m = Fill32<kFill>(c); m != 0xFFFFFFFFu) return last(end - 64, m);
        return last(end - 96, Fill32<kFill>(d));
    }
    // Fewer than 128 bytes left: a blank row's in one compare, from
    // registers that may overlap.
    if (end >= 32) {
        const __m256i a = Fold32<kFill>(Load32(p), Load32(p + end - 32)),
                      b = Fold32<kFill>(Load32(p + std::min<size_t>(32, end - 32)), Load32(p + std::min<size_t>(64, end - 32)));
        if (Fill32<kFill>(Fold32<kFill>(a, b)) == 0xFFFFFFFFu) return 0;
    }
    for (; end >= 32; end -= 32)
        if (const uint32_t m = Fill32<kFill>(Load32(p + end - 32)); m != 0xFFFFFFFFu) return last(end, m);
    // The first bytes, in the register at the row's start (the bytes past
    // them were read already: taken as fill).
    if (end == 0) return 0;
    const uint32_t m = Fill32<kFill>(Load32(p)) | (0xFFFFFFFFu << end);
    return m == 0xFFFFFFFFu ? 0 : last(32, m);
}

// How many of `most` rows of n >= 32 bytes, `stride` apart from `row` on,
// are blank, the bits past the width (those outside `lastMask` in the last
// byte) made kFill on the way. A run of blank rows is read forwards, each
// folded into one compare.
template <uint8_t kFill>
__attribute__((target("avx2"))) uint32_t BlankRowsAvx2(uint8_t* row, uint32_t most, size_t stride, size_t n, uint8_t lastMask) {
    uint32_t k = 0;
    for (; k < most; ++k, row += stride) {
        if (uint8_t& last = row[n - 1]; static_cast<uint8_t>((last ^ kFill) & ~lastMask) != 0)
            last = static_cast<uint8_t>(kFill ? last | ~lastMask : last & lastMask);
        size_t i = 0;
        bool ink = false;
        for (; i + 128 <= n; i += 128) {
            const __m256i x = Fold32<kFill>(Fold32<kFill>(Load32(row + i), Load32(row + i + 32)),
                                            Fold32<kFill>(Load32(row + i + 64), Load32(row + i + 96)));
            if (Fill32<kFill>(x) != 0xFFFFFFFFu) {
                ink = true;
                break;
            }
        }
        if (ink) break;
        __m256i x = Load32(row + n - 32);  // the last bytes, which the steps may overlap
        for (; i + 32 <= n; i += 32) x = Fold32<kFill>(x, Load32(row + i));
        if (Fill32<kFill>(x) != 0xFFFFFFFFu) break;
    }
    return k;
}

bool HaveAvx2() {
    static const bool have = [] {
        __builtin_cpu_init();  // may run before the library's own constructors
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return have;
}
#endif

template <uint8_t kFill>
size_t LastNotFill(const uint8_t* p, size_t n) {
#if defined(ZQ_RASTER_AVX2)
    if (n >= 32 && HaveAvx2()) return LastNotFillAvx2<kFill>(p, n);
#endif
#if defined(__SSE2__)
    if (n >= 128) {
        const __m128i f = _mm_set1_epi8(static_cast<char>(kFill));
        auto fold = [](__m128i a, __m128i b) { return kFill ? _mm_and_si128(a, b) : _mm_or_si128(a, b); };
        size_t i = 0, after = 0;  // one past the last step that held another byte
        for (; i + 128 <= n; i += 128) {
            const __m128i x = fold(fold(fold(Load16(p + i), Load16(p + i + 16)), fold(Load16(p + i + 32), Load16(p + i + 48))),
                                   fold(fold(Load16(p + i + 64), Load16(p + i + 80)), fold(Load16(p + i + 96), Load16(p + i + 112))));
            after = Equal16(x, f) != 0xFFFF ? i + 128 : after;
        }
        if (i + 64 <= n) {
            const __m128i x = fold(fold(Load16(p + i), Load16(p + i + 16)), fold(Load16(p + i + 32), Load16(p + i + 48)));
            after = Equal16(x, f) != 0xFFFF ? i + 64 : after;
            i += 64;
        }
        // The bytes past the last whole step, sixteen at a time from the
        // end (the last sixteen may reach back into the steps: those are
        // only read once all after them are known to be fill), then the
        // last step that held another byte.
        for (size_t end = n; end > i; end -= 16)
            if (const unsigned m = Equal16(Load16(p + end - 16), f); m != 0xFFFF)
                return end - static_cast<size_t>(std::countl_one(m << 16));
        for (n = after; n >= 16; n -= 16)
            if (const unsigned m = Equal16(Load16(p + n - 16), f); m != 0xFFFF)
                return n - static_cast<size_t>(std::countl_one(m << 16));
        return 0;  // no step held another byte
    }
#endif
    const uint64_t fills = 0x0101010101010101ull * kFill;
    for (; n >= 8; n -= 8)
        if (const uint64_t x = Word(p + n - 8) ^ fills) return n - static_cast<size_t>(std::countl_zero(x)) / 8;
    while (n > 0 && p[n - 1] == kFill) --n;
    return n;
}

}  // namespace

namespace {

// Bit k set where r[k] != s[k], for the first w <= 64 bytes.
uint64_t ChangedBits(const uint8_t* r, const uint8_t* s, size_t w) {
#if defined(__SSE2__)
    if (w == 64)
        return ~(static_cast<uint64_t>(Equal16(Load16(r), Load16(s))) | static_cast<uint64_t>(Equal16(Load16(r + 16), Load16(s + 16))) << 16 |
                 static_cast<uint64_t>(Equal16(Load16(r + 32), Load16(s + 32))) << 32 |
                 static_cast<uint64_t>(Equal16(Load16(r + 48), Load16(s + 48))) << 48);
#endif
    uint64_t m = 0;
    size_t k = 0;
#if defined(__SSE2__)
    for (; k + 16 <= w; k += 16) m |= static_cast<uint64_t>(~Equal16(Load16(r + k), Load16(s + k)) & 0xFFFFu) << k;
#endif
    for (; k < w; ++k) m |= static_cast<uint64_t>(r[k] != s[k]) << k;
    return m;
}

// True when the delta coding of r against s over n bytes surely takes more
// than `limit` bytes: each run of up to eight changed bytes takes one more.
ZQ_CODER_CLONES bool DeltaSurelyOver(const uint8_t* r, const uint8_t* s, size_t n, size_t limit) {
    size_t changed = 0, i = 0;
    auto over = [&] { return changed + (changed + 7) / 8 > limit; };
#if defined(__SSE2__)
    for (; i + 64 <= n; i += 64) {
        // Equal bytes compare to -1: the four compares summed and negated
        // count them per byte, and the sums of absolute differences add
        // those up in each half.
        const __m128i sum = _mm_add_epi8(_mm_add_epi8(_mm_cmpeq_epi8(Load16(r + i), Load16(s + i)),
                                                      _mm_cmpeq_epi8(Load16(r + i + 16), Load16(s + i + 16))),
                                         _mm_add_epi8(_mm_cmpeq_epi8(Load16(r + i + 32), Load16(s + i + 32)),
                                                      _mm_cmpeq_epi8(Load16(r + i + 48), Load16(s + i + 48))));
        const __m128i counts = _mm_sad_epu8(_mm_sub_epi8(_mm_setzero_si128(), sum), _mm_setzero_si128());
        const size_t equal = static_cast<size_t>(_mm_cvtsi128_si32(counts)) + static_cast<size_t>(_mm_extract_epi16(counts, 4));
        changed += 64 - equal;
        if (over()) return true;
    }
#endif
    for (; i < n; ++i) changed += r[i] != s[i];
    return over();
}

}  // namespace

namespace {

// DeltaRow over rows whose bytes are sent XORed with `flip` (0xFF: the band's
// 1 = white turned over as it is coded). Which bytes changed does not depend
// on the flip, so only the bytes written take it.
ZQ_CODER_CLONES int32_t FlippedDeltaRow(std::span<const uint8_t> row, std::span<const uint8_t> seed, std::span<uint8_t> out, uint8_t flip) {
    const uint64_t flips = 0x0101010101010101ull * flip;
    const size_t n = std::min(row.size(), seed.size());
    const uint8_t* r = row.data();
    const uint8_t* s = seed.data();
    uint8_t* const o0 = out.data();
    const size_t capacity = out.size();
    size_t o = 0;
    size_t last = 0;  // first byte after the previous run
    // One run of `run` (1 to 8) changed bytes from byte i; false when `out`
    // is too small.
    // The common case in one go, for an offset below 286 where `out` has
    // ten bytes left and the row eight: the command byte, the one extra
    // offset byte where it takes one (else written over), then the word the
    // run starts (the bytes past the run are written over next, or lie past
    // the end), without a branch on the offset.
    auto emitNear = [&](size_t i, size_t run, size_t offset) {
        last = i + run;
        const size_t extra = offset >= 31;
        o0[o] = static_cast<uint8_t>(((run - 1) << 5) | (extra ? 31 : offset));
        o0[o + 1] = static_cast<uint8_t>(offset - 31);
        const uint64_t bytes = Word(r + i) ^ flips;
        std::memcpy(o0 + o + 1 + extra, &bytes, 8);
        o += 1 + extra + run;
    };
    auto emit = [&](size_t i, size_t run) {
        size_t offset = i - last;
        if (offset < 286 && o + 10 <= capacity && i + 8 <= n) {
            emitNear(i, run, offset);
            return true;
        }
        last = i + run;
        const size_t extra = offset >= 31 ? (offset - 31) / 255 + 1 : 0;
        if (o + 1 + extra + run > capacity) return false;
        o0[o++] = static_cast<uint8_t>(((run - 1) << 5) | std::min<size_t>(offset, 31));
        if (offset >= 31) {
            for (offset -= 31; offset >= 255; offset -= 255) o0[o++] = 255;
            o0[o++] = static_cast<uint8_t>(offset);
        }
        for (size_t k = 0; k < run; ++k) o0[o + k] = static_cast<uint8_t>(r[i + k] ^ flip);
        o += run;
        return true;
    };
    // The row is taken sixty-four bytes at a time as a mask of changed
    // bytes. Where no run in the mask is longer than eight (text: short
    // runs), every run's first and last byte are read off two masks of
    // their own, one run after another without waiting on the one before;
    // a run that might go on past the window starts the next window.
    size_t base = 0;
    while (base < n) {
        const size_t w = std::min<size_t>(64, n - base);
        // A short last window as the sixty-four bytes that end the row,
        // shifted down to it.
        uint64_t changed = w == 64 || n < 64 ? ChangedBits(r + base, s + base, w)
                                             : ChangedBits(r + n - 64, s + n - 64, 64) >> (64 - w);
        if (!changed) {  // most of a text row is the row above again
            base += w;
            continue;
        }
        uint64_t nine = changed & (changed >> 1);
        nine &= nine >> 2;
        nine &= nine >> 4;
        nine &= changed >> 8;  // bit j: bytes j to j + 8 all changed
        if (!nine) {
            size_t next = base + w;
            if (w == 64 && changed >> 63) {
                const size_t k = 64 - static_cast<size_t>(std::countl_one(changed));  // 56 or more
                changed &= ~uint64_t{0} >> (64 - k);
                next = base + k;
            }
            uint64_t starts = changed & ~(changed << 1), ends = changed & ~(changed >> 1);
            // Runs with near offsets take at most 128 bytes of a window:
            // where `out` and the row have room for them all, only the
            // offset is asked (a far one goes the long way, and may end
            // the short cut).
            if (o + 138 <= capacity && base + 72 <= n) {
                while (starts) {
                    const size_t k = static_cast<size_t>(std::countr_zero(starts)), e = static_cast<size_t>(std::countr_zero(ends));
                    starts &= starts - 1;
                    ends &= ends - 1;
                    if (const size_t offset = base + k - last; offset < 286) {
                        emitNear(base + k, e - k + 1, offset);
                    } else {
                        if (!emit(base + k, e - k + 1)) return -1;
                        if (o + 138 > capacity) break;
                    }
                }
            }
            while (starts) {
                const size_t k = static_cast<size_t>(std::countr_zero(starts)), e = static_cast<size_t>(std::countr_zero(ends));
                if (!emit(base + k, e - k + 1)) return -1;
                starts &= starts - 1;
                ends &= ends - 1;
            }
            base = next;
            continue;
        }
        // Long runs, cut into runs of eight from their start.
        while (changed) {
            const size_t k = static_cast<size_t>(std::countr_zero(changed));
            if (k > 56 && w == 64) break;  // its eight bytes may leave the window
            const size_t run = std::min<size_t>(8, static_cast<size_t>(std::countr_one(changed >> k)));
            if (!emit(base + k, run)) return -1;
            changed &= run + k >= 64 ? 0 : ~uint64_t{0} << (k + run);
        }
        base += changed ? static_cast<size_t>(std::countr_zero(changed)) : w;
    }
    return static_cast<int32_t>(o);
}

}  // namespace

int32_t DeltaRow(std::span<const uint8_t> row, std::span<const uint8_t> seed, std::span<uint8_t> out) {
    return FlippedDeltaRow(row, seed, out, 0);
}

namespace {

// n bytes copied, each XORed with `flip`.
void CopyFlipped(uint8_t* to, const uint8_t* from, size_t n, uint8_t flip) {
    if (!flip) {
        std::memcpy(to, from, n);
        return;
    }
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i f = _mm_set1_epi8(static_cast<char>(flip));
    for (; i + 16 <= n; i += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), _mm_xor_si128(Load16(from + i), f));
#endif
    for (; i + 8 <= n; i += 8) {
        const uint64_t w = Word(from + i) ^ (0x0101010101010101ull * flip);
        std::memcpy(to + i, &w, 8);
    }
    for (; i < n; ++i) to[i] = static_cast<uint8_t>(from[i] ^ flip);
}

// PackBits over units of `unit` bytes (1 or 2), each byte sent XORed with
// `flip`.
int32_t PackUnits(std::span<const uint8_t> row, std::span<uint8_t> out, size_t unit, uint8_t flip = 0) {
    const size_t count = row.size() / unit;
    auto same = [&](size_t a, size_t b) { return std::memcmp(row.data() + a * unit, row.data() + b * unit, unit) == 0; };
    size_t o = 0;
    size_t i = 0;
    while (i < count) {
        size_t run = 1;
        while (run < 128 && i + run < count && same(i, i + run)) ++run;
        if (run >= 2) {
            if (o + 1 + unit > out.size()) return -1;
            out[o++] = static_cast<uint8_t>(static_cast<int8_t>(1 - static_cast<int>(run)));
            CopyFlipped(out.data() + o, row.data() + i * unit, unit, flip);
            o += unit;
            i += run;
            continue;
        }
        // Literal: up to the start of the next run of three (a run of two
        // inside a literal costs as much as carrying it).
        size_t lit = 1;
        while (lit < 128 && i + lit < count) {
            const size_t j = i + lit;
            if (j + 2 < count && same(j, j + 1) && same(j, j + 2)) break;
            if (j + 1 == count - 1 && same(j, j + 1)) break;
            ++lit;
        }
        if (o + 1 + lit * unit > out.size()) return -1;
        out[o++] = static_cast<uint8_t>(lit - 1);
        CopyFlipped(out.data() + o, row.data() + i * unit, lit * unit, flip);
        o += lit * unit;
        i += lit;
    }
    return static_cast<int32_t>(o);
}

constexpr int32_t kBlockLimit = 32767;
constexpr size_t kBlockHeader = 9;  // ESC * b 0 0 0 0 0 W
constexpr uint8_t kUncodedRecord = 0;
constexpr uint8_t kRunLengthRecord = 2;
constexpr uint8_t kDeltaRecord = 3;
constexpr uint8_t kDuplicateRecord = 5;

// One "ESC*b#####W" block of adaptive compression being filled in the
// scratch buffer.
class Block {
public:
    explicit Block(DeviceRecord& r) : r_(r), buf_(r.scratchBuffer.get()) { Open(); }

    uint8_t* Data() { return buf_; }
    size_t Fill() const { return fill_; }
    bool Empty() const { return fill_ == kBlockHeader; }
    bool Fits(size_t bytes) const { return fill_ + bytes <= static_cast<size_t>(kBlockLimit); }
    std::span<uint8_t> Room() { return {buf_ + fill_ + 3, kBufferSize - fill_ - 3}; }

    void Record(uint8_t command, int32_t length) {
        CloseDuplicate();
        buf_[fill_] = command;
        buf_[fill_ + 1] = static_cast<uint8_t>(length >> 8);
        buf_[fill_ + 2] = static_cast<uint8_t>(length);
        fill_ += 3 + static_cast<size_t>(length);
    }

    bool DuplicateOpen() const { return dupAt_ != 0; }
    // Rows the open duplicate record can still count (0 when none is open).
    uint32_t DuplicateRoom() const { return dupAt_ ? 0xFFFF - dupCount_ : 0; }
    // `k` more rows, within that room.
    void MoreDuplicates(uint32_t k) { dupCount_ += k; }
    void Duplicate() {
        if (dupAt_ && dupCount_ == 0xFFFF) CloseDuplicate();
        if (!dupAt_) {
            dupAt_ = fill_;
            buf_[fill_] = kDuplicateRecord;
            fill_ += 3;
            dupCount_ = 0;
        }
        ++dupCount_;
    }

    void Close() {
        CloseDuplicate();
        uint32_t count = static_cast<uint32_t>(fill_ - kBlockHeader);
        for (int k = 7; k >= 3; --k) {
            buf_[k] = static_cast<uint8_t>('0' + count % 10);
            count /= 10;
        }
        SpoolWrite(r_, buf_, static_cast<int32_t>(fill_));
    }

    void Reopen() {
        Close();
        Open();
    }

private:
    void Open() {
        std::memcpy(buf_, "\x1b*b00000W", kBlockHeader);
        fill_ = kBlockHeader;
        dupAt_ = 0;
        dupCount_ = 0;
    }
    void CloseDuplicate() {
        if (!dupAt_) return;
        buf_[dupAt_ + 1] = static_cast<uint8_t>(dupCount_ >> 8);
        buf_[dupAt_ + 2] = static_cast<uint8_t>(dupCount_);
        dupAt_ = 0;
    }

    DeviceRecord& r_;
    uint8_t* buf_;
    size_t fill_ = 0;
    size_t dupAt_ = 0;
    uint32_t dupCount_ = 0;
};

}  // namespace

namespace {

// Bit j of a row's mask: byte j equals byte j + 1. The parse of the row
// into repeats and literals reads runs of those bits, sixty-four at a time.
class EqualMask {
public:
    EqualMask(const uint8_t* p, size_t n) {
        thread_local std::vector<uint64_t> words;
        words.assign(n / 64 + 3, 0);  // zeros past the row: no byte equals one past the end
        bits_ = words.data();
        size_t j = 0;
#if defined(__SSE2__)
        // Whole words in registers, each stored once.
        for (; j + 65 <= n; j += 64)
            bits_[j / 64] = static_cast<uint64_t>(Equal16(Load16(p + j), Load16(p + j + 1))) |
                            static_cast<uint64_t>(Equal16(Load16(p + j + 16), Load16(p + j + 17))) << 16 |
                            static_cast<uint64_t>(Equal16(Load16(p + j + 32), Load16(p + j + 33))) << 32 |
                            static_cast<uint64_t>(Equal16(Load16(p + j + 48), Load16(p + j + 49))) << 48;
#endif
        uint64_t last = 0;
        size_t k = j;
#if defined(__SSE2__)
        for (; k + 17 <= n; k += 16) last |= static_cast<uint64_t>(Equal16(Load16(p + k), Load16(p + k + 1))) << (k - j);
        // The last few neighbours off a compare that ends with the row.
        if (k + 1 < n && n >= 17) {
            last |= static_cast<uint64_t>(Equal16(Load16(p + n - 17), Load16(p + n - 16)) >> (k + 17 - n)) << (k - j);
            k = n;
        }
#endif
        for (; k + 1 < n; ++k) last |= static_cast<uint64_t>(p[k] == p[k + 1]) << (k - j);
        bits_[j / 64] = last;
    }
    // Bits j to j + 56 (those above are 0 or right): the words read as
    // bytes, one load without a second word to shift in.
    uint64_t Near(size_t j) const {
        uint64_t w;
        std::memcpy(&w, reinterpret_cast<const uint8_t*>(bits_) + j / 8, 8);
        if constexpr (std::endian::native == std::endian::little) return w >> (j % 8);
        else return At(j);
    }
    // Bits j to j + 63.
    uint64_t At(size_t j) const {
        const size_t w = j / 64, b = j % 64;
        return (bits_[w] >> b) | ((bits_[w + 1] << (63 - b)) << 1);
    }

private:
    uint64_t* bits_;
};

// PackBits over bytes: the same code as PackUnits(row, out, 1, flip), the
// runs and literals read off the row's mask of equal neighbours. Returns the
// coded length, or -1 once it would pass `capacity`.
//
// Where no run reaches 58 bytes nor a literal 56, a token is read off one
// look at the mask; a literal ends where a run of three starts, so that run
// follows it at once, without asking. `slack` bytes past `capacity` may be
// written there.
ZQ_CODER_CLONES int32_t PackRow(const uint8_t* p, size_t count, uint8_t* out, size_t capacity, uint8_t flip = 0, size_t slack = 0) {
    const EqualMask equal(p, count);
    size_t o = 0, i = 0;
#if defined(__SSE2__)
    const __m128i flips = _mm_set1_epi8(static_cast<char>(flip));
#endif
    while (i < count) {
#if defined(__SSE2__)
        if (i + 64 <= count && o + 132 <= capacity + slack) {
            uint64_t near = equal.Near(i);
            bool repeat = near & 1;
            if (!repeat) {
                if (const size_t lit = static_cast<size_t>(std::countr_zero(near & (near >> 1))); lit <= 55) {
                    out[o] = static_cast<uint8_t>(lit - 1);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 1), _mm_xor_si128(Load16(p + i), flips));
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 17), _mm_xor_si128(Load16(p + i + 16), flips));
                    if (lit > 32) {
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 33), _mm_xor_si128(Load16(p + i + 32), flips));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 49), _mm_xor_si128(Load16(p + i + 48), flips));
                    }
                    o += 1 + lit;
                    i += lit;
                    if (o > capacity) return -1;
                    near = equal.Near(i);
                    repeat = true;
                }
            }
            if (repeat) {
                if (const size_t run = 1 + static_cast<size_t>(std::countr_one(near)); run <= 57) {
                    out[o] = static_cast<uint8_t>(1 - run);
                    out[o + 1] = static_cast<uint8_t>(p[i] ^ flip);
                    o += 2;
                    i += run;
                    if (o > capacity) return -1;
                    continue;
                }
            }
        }
#endif
        const uint64_t e = equal.At(i);
        size_t run = 1 + static_cast<size_t>(std::countr_one(e));
        if (run == 65) run = std::min<size_t>(128, 65 + static_cast<size_t>(std::countr_one(equal.At(i + 64))));
        if (run >= 2) {
            if (o + 2 > capacity) return -1;
            out[o] = static_cast<uint8_t>(static_cast<int8_t>(1 - static_cast<int>(run)));
            out[o + 1] = static_cast<uint8_t>(p[i] ^ flip);
            o += 2;
            i += run;
            continue;
        }
        // Literal: up to the start of the next run of three (two equal
        // neighbour bits in a row), or of a run of two that ends the row.
        const size_t limit = std::min(i + 128, count);
        size_t end = limit;
        for (size_t j = i + 1; j < limit; j += 63) {
            const uint64_t a = equal.At(j);
            if (const uint64_t three = a & (a >> 1) & ~(uint64_t{1} << 63)) {
                end = std::min(limit, j + static_cast<size_t>(std::countr_zero(three)));
                break;
            }
        }
        if (count >= 2 && count - 2 >= i + 1 && count - 2 < end && p[count - 2] == p[count - 1]) end = count - 2;
        const size_t lit = end - i;
        if (o + 1 + lit > capacity) return -1;
        out[o] = static_cast<uint8_t>(lit - 1);
        CopyFlipped(out + o + 1, p + i, lit, flip);
        o += 1 + lit;
        i = end;
    }
    return static_cast<int32_t>(o);
}

}  // namespace

int32_t PackBits(std::span<const uint8_t> row, std::span<uint8_t> out) {
    return PackRow(row.data(), row.size(), out.data(), out.size());
}

int32_t PackBits16(std::span<const uint8_t> row, std::span<uint8_t> out) {
    if (row.size() % 2) return -1;
    return PackUnits(row, out, 2);
}

std::vector<BandChoice> BandChoices(int32_t pageHeight, uint32_t rowBytes, uint64_t budget) {
    std::vector<BandChoice> out;
    for (int32_t n = 1; n <= pageHeight / 128 + 1; ++n) {
        const int32_t rows = pageHeight / n;
        if (rows <= 0) break;
        if (static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(rows) > budget) continue;
        out.push_back({rows, (pageHeight + rows - 1) / rows});
    }
    return out;
}

namespace {

// The last few rows run-length coded into the open block. Dither of a flat
// grey repeats its rows every two, four or eight rows, and a repeated row's
// coding is copied rather than worked out again.
class PackedRows {
public:
    // The coded length of a kept row equal to row[0, length), its bytes
    // copied to `to`; -1 when none is.
    int32_t Find(const uint8_t* row, size_t length, const uint8_t* block, uint8_t* to) const {
        // The latest first: dither repeats every two rows most often.
        for (size_t k = 1; k <= entries_.size(); ++k)
            if (const Entry& e = entries_[(next_ + entries_.size() - k) % entries_.size()];
                e.row && e.length == length && SameMiddle(e.row, row, length) && std::memcmp(e.row, row, length) == 0) {
                std::memcpy(to, block + e.at, static_cast<size_t>(e.coded));
                return e.coded;
            }
        return -1;
    }
    // The row's coding sits at `at` in the block; the row itself stays as
    // it is in the band.
    void Keep(const uint8_t* row, size_t length, size_t at, int32_t coded) {
        entries_[next_] = {row, length, at, coded};
        next_ = (next_ + 1) % entries_.size();
    }
    void Forget() { entries_ = {}; }

private:
    // Rows of dither in another phase differ almost everywhere: a word from
    // the middle turns most of them away before the whole rows are compared.
    static bool SameMiddle(const uint8_t* a, const uint8_t* b, size_t length) {
        return length < 8 || Word(a + length / 2 - 4) == Word(b + length / 2 - 4);
    }
    struct Entry {
        const uint8_t* row = nullptr;
        size_t length = 0;
        size_t at = 0;
        int32_t coded = 0;
    };
    std::array<Entry, 8> entries_{};
    size_t next_ = 0;
};

}  // namespace

void SendMonoBand(DeviceRecord& r, const MonoBand& band, const MonoBandOptions& options) {
    if (r.jobState < kJobOpen || !r.scratchBuffer || band.height <= 0 || band.width <= 0) return;
    const int32_t rowBytes = (band.width + 7) / 8;
    if (rowBytes > band.stride) return;
    const bool sixteen = options.sixteenBit && rowBytes % 2 == 0 && rowBytes >= 4;
    const uint8_t mode = sixteen ? 254 : 2;
    const int32_t reserve = WorstCaseRow(rowBytes) + 3;

    if (!options.continuing) SpoolWrite(r, "\x1b*r0F");
    SpoolWrite(r, "\x1b*r1A");
    SpoolWrite(r, sixteen ? "\x1b*b1008M" : "\x1b*b5M");

    Block block(r);
    uint8_t* previous = nullptr;
    int32_t previousLength = 0;
    bool denseBefore = false;  // the row above changed in over a quarter of its coding
    PackedRows packed;
    // A row's losing coding is made here, aside from the block.
    std::vector<uint8_t> spare(static_cast<size_t>(rowBytes) + 64);
    const uint8_t lastMask = band.width % 8 ? static_cast<uint8_t>(0xFF00 >> (band.width % 8)) : 0xFF;
    // The band's bytes are read as they stand and turned over only where
    // they are written out: `flip` is the band's white byte, XORed into every
    // byte sent (the printer's 1 is black). Rows then compare as they are,
    // and past its last ink every row is white in the band already.
    const uint8_t flip = options.uninverted ? 0 : 0xFF;
    // The white scan for rows this wide, chosen once for the band.
    size_t (*scan)(const uint8_t*, size_t) = flip ? &LastNotFill<0xFF> : &LastNotFill<0>;
#if defined(ZQ_RASTER_AVX2)
    uint32_t (*blankRows)(uint8_t*, uint32_t, size_t, size_t, uint8_t) = nullptr;
    if (rowBytes >= 32 && HaveAvx2()) {
        scan = flip ? &LastNotFillAvx2<0xFF> : &LastNotFillAvx2<0>;
        blankRows = flip ? &BlankRowsAvx2<0xFF> : &BlankRowsAvx2<0>;
    }
#endif
    const auto whiteAfter = [&](const uint8_t* p, size_t n) {
        if (n == static_cast<size_t>(rowBytes)) return static_cast<int32_t>(scan(p, n));
        return static_cast<int32_t>(flip ? LastNotFill<0xFF>(p, n) : LastNotFill<0>(p, n));
    };
    // The bits past the band's width are made white (written only where
    // they are not, so that a blank row stays untouched).
    const auto whitenPastWidth = [&](uint8_t* row) {
        if (uint8_t& last = row[rowBytes - 1]; static_cast<uint8_t>((last ^ flip) & ~lastMask) != 0)
            last = static_cast<uint8_t>(flip ? last | ~lastMask : last & lastMask);
    };
    for (int32_t y = 0; y < band.height; ++y) {
        uint8_t* row = band.bits + static_cast<ptrdiff_t>(y) * band.stride;
        whitenPastWidth(row);
        int32_t length = y == 0 ? rowBytes : whiteAfter(row, static_cast<size_t>(rowBytes));
        if (sixteen) length += length & 1;

        const bool blockFull = !block.Empty() && !block.Fits(static_cast<size_t>(reserve));
        if (blockFull) {
            block.Reopen();
            packed.Forget();
        }
        // Most rows of a page: blank after a blank row, the row above again.
        if (length == 0 && previousLength == 0 && previous && !block.Empty() && !options.alwaysPackBits) {
            block.Duplicate();
            // The blank rows after it, while the open record can count
            // them and the block has room: each only read.
            if (block.Fits(static_cast<size_t>(reserve))) {
                const uint32_t most = std::min(static_cast<uint32_t>(band.height - 1 - y), block.DuplicateRoom());
                uint32_t k = 0;
#if defined(ZQ_RASTER_AVX2)
                if (blankRows) {
                    k = blankRows(row + band.stride, most, static_cast<size_t>(band.stride), static_cast<size_t>(rowBytes), lastMask);
                } else
#endif
                    for (uint8_t* next = row + band.stride; k < most; ++k, next += band.stride) {
                        whitenPastWidth(next);
                        if (whiteAfter(next, static_cast<size_t>(rowBytes)) != 0) break;
                    }
                block.MoreDuplicates(k);
                y += static_cast<int32_t>(k);
                row += static_cast<ptrdiff_t>(k) * band.stride;
            }
            previous = row;
            continue;
        }

        // The models that ask for run-length rows get them whatever their size.
        auto runLength = [&](uint8_t command, bool wide) {
            const std::span<const uint8_t> src(row, static_cast<size_t>(length));
            const int32_t n = wide ? PackUnits(src, block.Room(), 2, flip) : PackRow(row, src.size(), block.Room().data(), block.Room().size(), flip);
            block.Record(command, n < 0 ? 0 : n);
        };
        // The row run-length coded when that is no longer than the row,
        // else the row as it stands (dense dither codes larger than it is).
        auto packedOrUncoded = [&](uint8_t command) {
            const auto room = block.Room();
            const size_t len = static_cast<size_t>(length);
            const int32_t m = PackRow(row, len, room.data(), std::min(room.size(), len), flip, room.size() - std::min(room.size(), len));
            if (m >= 0) return block.Record(command, m);
            if (len > room.size()) return block.Record(command, 0);  // a row wider than any block
            CopyFlipped(room.data(), row, len, flip);
            block.Record(kUncodedRecord, length);
        };

        if (!previous || block.Empty()) {
            // First row of the band, or first record of a new block: the
            // block's own coder, so that no block leans on an earlier one.
            if (options.alwaysPackBits || sixteen) runLength(options.alwaysPackBits ? 2 : mode, sixteen && !options.alwaysPackBits);
            else packedOrUncoded(mode);
        } else if (options.alwaysPackBits) {
            runLength(2, false);
        } else if (sixteen && length > 0) {
            runLength(mode, true);
        } else {
            const int32_t span = std::max(length, previousLength);
            const std::span<const uint8_t> now(row, static_cast<size_t>(span)), above(previous, static_cast<size_t>(span));
            const auto room = block.Room();
            // Each row takes the shortest of: the delta against the row
            // above, taken as it is while under a quarter of the row (or
            // two bytes); else the row run-length coded when shorter than
            // the delta; else the row as it stands when shorter than the one
            // chosen. Sizes are found with limits, so that a coding that
            // can't win stops early, and only the winner is written.
            if (length == 0) {
                // Blank: the row above again when it was blank too, else an
                // empty run-length row (a blank row after ink costs nothing).
                if (previousLength == 0 || whiteAfter(previous, static_cast<size_t>(span)) == 0) block.Duplicate();
                else block.Record(kRunLengthRecord, 0);
            } else {
                const int32_t quarter = std::max(2, (length - 1) / 4);
                const size_t len = static_cast<size_t>(length);
                const auto limited = [&](int32_t bytes) { return room.first(std::min<size_t>(room.size(), static_cast<size_t>(bytes))); };
                auto runLengthRecord = [&](int32_t m) {
                    packed.Keep(row, len, static_cast<size_t>(room.data() - block.Data()), m);
                    block.Record(kRunLengthRecord, m);
                };
                auto uncoded = [&] {
                    CopyFlipped(room.data(), row, len, flip);
                    block.Record(kUncodedRecord, length);
                };
                // The delta is coded into the room up to the row's length
                // (or a quarter, for rows of a few bytes);
                // after a row that changed throughout, a count of the
                // changed bytes first tells cheaply whether it can stay
                // under a quarter of the row.
                constexpr int32_t kSurelyOver = -2;
                const int32_t d = denseBefore && DeltaSurelyOver(now.data(), above.data(), now.size(), static_cast<size_t>(quarter))
                                      ? kSurelyOver
                                      : FlippedDeltaRow(now, above, limited(std::max(length, quarter)), flip);
                denseBefore = !(d >= 0 && d <= quarter);
                if (d == 0) {
                    block.Duplicate();
                } else if (d > 0 && d <= quarter) {
                    block.Record(kDeltaRecord, d);
                } else if (d != kSurelyOver) {
                    // The delta (in the room when no longer than the row)
                    // is over a quarter: the run-length coding, made aside,
                    // wins where it is shorter.
                    const size_t limit = d > 0 ? static_cast<size_t>(d - 1) : len;
                    int32_t m = packed.Find(row, len, block.Data(), spare.data());
                    if (m < 0) m = PackRow(row, len, spare.data(), limit, flip, spare.size() - limit);
                    if (m >= 0 && static_cast<size_t>(m) <= limit) {
                        std::memcpy(room.data(), spare.data(), static_cast<size_t>(m));
                        runLengthRecord(m);
                    } else if (d > 0) {
                        block.Record(kDeltaRecord, d);
                    } else {
                        uncoded();
                    }
                } else {
                    // The row run-length coded where it is no longer than
                    // the row; the delta, made aside, where it is shorter
                    // still.
                    int32_t m = packed.Find(row, len, block.Data(), room.data());
                    if (m < 0) m = PackRow(row, len, room.data(), std::min(room.size(), len), flip, room.size() - std::min(room.size(), len));
                    if (m >= 0 && m <= quarter) {
                        runLengthRecord(m);
                    } else if (const int32_t e = FlippedDeltaRow(now, above, std::span(spare).first(m >= 0 ? static_cast<size_t>(m) : len), flip);
                               e > 0) {
                        std::memcpy(room.data(), spare.data(), static_cast<size_t>(e));
                        block.Record(kDeltaRecord, e);  // no longer than the run-length coding nor the row
                    } else if (m >= 0) {
                        runLengthRecord(m);
                    } else {
                        uncoded();
                    }
                }
            }
        }
        previous = row;
        previousLength = length;
    }
    block.Close();
    SpoolWrite(r, "\x1b*rB");
}

void SendRgbBand(DeviceRecord& r, const MonoBand& band, int32_t x, int32_t y) {
    if (r.jobState < kJobOpen || !r.scratchBuffer || band.height <= 0 || band.width <= 0) return;
    if (static_cast<int64_t>(band.width) * 3 > band.stride) return;
    // 24-bit direct colour: the page's colour set-up palette.
    SelectPalette(r, 6, {}, false, true, 0);
    SpoolWrite(r, "\x1b*r0F\x1b*v0S\x1b*v0T");
    SetPclRop(r, 136);
    // Rows wider than a block can carry go as strips side by side, each its
    // own raster: every row record then fits one block.
    for (int32_t left = 0; left < band.width; left += kRgbStripPixels) {
        const int32_t pixels = std::min(kRgbStripPixels, band.width - left);
        const int32_t rowBytes = 3 * pixels;
        const int32_t reserve = WorstCaseRow(rowBytes) + 3;
        MoveToX(r, x + left);
        MoveToY(r, y);
        SpoolFormat(r, "\x1b*r%dt%dS", {band.height, pixels});
        SpoolWrite(r, "\x1b*r1A\x1b*b5M");
        Block block(r);
        const uint8_t* previous = nullptr;
        int32_t previousLength = 0;
        for (int32_t k = 0; k < band.height; ++k) {
            const uint8_t* row = band.bits + static_cast<ptrdiff_t>(k) * band.stride + 3 * static_cast<ptrdiff_t>(left);
            const int32_t length = 3 * TrimWhite(row, pixels);  // up to the last pixel that is not white
            if (!block.Empty() && !block.Fits(static_cast<size_t>(reserve))) block.Reopen();
            if (!previous || block.Empty()) {
                // Run-length rows are whole: the printer fills a short row
                // with zeros, which are black here.
                const int32_t n = PackBits({row, static_cast<size_t>(rowBytes)}, block.Room());
                block.Record(2, n < 0 ? 0 : n);
            } else {
                const size_t span = static_cast<size_t>(std::max(length, previousLength));
                const int32_t n = DeltaRow({row, span}, {previous, span}, block.Room());
                if (n == 0) block.Duplicate();
                else block.Record(kDeltaRecord, n < 0 ? 0 : n);
            }
            previous = row;
            previousLength = length;
        }
        block.Close();
        SpoolWrite(r, "\x1b*rB");
        r.cursorX = r.cursorY = -1;
    }
}

}  // namespace pclrend
