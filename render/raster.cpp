#include "render/raster.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "render/colour_raster.h"
#include "render/hpgl_colour.h"
#include "render/hpgl_mode.h"
#include "render/output.h"

namespace pclrend {

namespace {

uint64_t Word(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;  // little-endian: the first byte is the lowest
}

// Index of the first zero byte of `x`, 8 when none (the borrow of the
// classic test only marks bytes above a true zero, never below it).
size_t FirstZeroByte(uint64_t x) {
    const uint64_t zeros = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
    return zeros ? static_cast<size_t>(__builtin_ctzll(zeros)) / 8 : 8;
}

}  // namespace

int32_t DeltaRow(std::span<const uint8_t> row, std::span<const uint8_t> seed, std::span<uint8_t> out) {
    const size_t n = std::min(row.size(), seed.size());
    const uint8_t* r = row.data();
    const uint8_t* s = seed.data();
    size_t o = 0;
    size_t last = 0;  // first byte after the previous run
    size_t i = 0;
    while (i < n) {
        // The next changed byte: unchanged stretches are stepped over four
        // words, then a word at a time.
        while (i + 32 <= n && ((Word(r + i) ^ Word(s + i)) | (Word(r + i + 8) ^ Word(s + i + 8)) |
                               (Word(r + i + 16) ^ Word(s + i + 16)) | (Word(r + i + 24) ^ Word(s + i + 24))) == 0)
            i += 32;
        while (i + 8 <= n) {
            const uint64_t x = Word(r + i) ^ Word(s + i);
            if (x) {
                i += static_cast<size_t>(__builtin_ctzll(x)) / 8;
                break;
            }
            i += 8;
        }
        while (i < n && r[i] == s[i]) ++i;
        if (i >= n) break;
        // Its run: up to 8 changed bytes.
        size_t run = 1;
        const bool wholeWord = i + 8 <= n;
        if (wholeWord) {
            run = std::max<size_t>(1, FirstZeroByte(Word(r + i) ^ Word(s + i)));
        } else {
            while (run < 8 && i + run < n && r[i + run] != s[i + run]) ++run;
        }
        size_t offset = i - last;
        const size_t extra = offset >= 31 ? (offset - 31) / 255 + 1 : 0;
        if (o + 1 + extra + run > out.size()) return -1;
        if (wholeWord && offset < 31 && o + 9 <= out.size()) {
            // The common case in one go: the command byte, then the word the
            // run starts (the bytes past the run are written over next, or
            // lie past the end).
            out[o] = static_cast<uint8_t>(((run - 1) << 5) | offset);
            const uint64_t bytes = Word(r + i);
            std::memcpy(out.data() + o + 1, &bytes, 8);
            o += 1 + run;
            i += run;
            last = i;
            continue;
        }
        out[o++] = static_cast<uint8_t>(((run - 1) << 5) | std::min<size_t>(offset, 31));
        if (offset >= 31) {
            offset -= 31;
            while (offset >= 255) {
                out[o++] = 255;
                offset -= 255;
            }
            out[o++] = static_cast<uint8_t>(offset);
        }
        std::memcpy(out.data() + o, r + i, run);
        o += run;
        i += run;
        last = i;
    }
    return static_cast<int32_t>(o);
}

namespace {

// PackBits over units of `unit` bytes (1 or 2).
int32_t PackUnits(std::span<const uint8_t> row, std::span<uint8_t> out, size_t unit) {
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
            std::memcpy(out.data() + o, row.data() + i * unit, unit);
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
        std::memcpy(out.data() + o, row.data() + i * unit, lit * unit);
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

// Every bit of the first `bytes` of the row turned over, a word at a time.
void InvertRow(uint8_t* row, int32_t bytes) {
    int32_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        uint64_t w;
        std::memcpy(&w, row + i, 8);
        w = ~w;
        std::memcpy(row + i, &w, 8);
    }
    for (; i < bytes; ++i) row[i] = static_cast<uint8_t>(~row[i]);
}

// The bytes of a row not yet turned over (0 for ink) up to its last ink;
// in the last byte only the bits of `lastMask` count.
int32_t InkLength(const uint8_t* row, int32_t bytes, uint8_t lastMask) {
    if (bytes <= 0 || (static_cast<uint8_t>(~row[bytes - 1]) & lastMask) != 0) return bytes;
    --bytes;
    while (bytes >= 32 && (Word(row + bytes - 32) & Word(row + bytes - 24) & Word(row + bytes - 16) &
                           Word(row + bytes - 8)) == ~uint64_t{0})
        bytes -= 32;
    while (bytes >= 8 && Word(row + bytes - 8) == ~uint64_t{0}) bytes -= 8;
    while (bytes > 0 && row[bytes - 1] == 0xFF) --bytes;
    return bytes;
}

int32_t SignificantLength(const uint8_t* row, int32_t bytes) {
    uint64_t word = 0;
    while (bytes >= 8 && (std::memcpy(&word, row + bytes - 8, 8), word == 0)) bytes -= 8;
    while (bytes > 0 && row[bytes - 1] == 0) --bytes;
    return bytes;
}

}  // namespace

namespace {

// The first j in [from, to) where three equal bytes start (j + 2 < n), or
// `to`; eight places a word.
size_t RunOfThreeFrom(const uint8_t* p, size_t n, size_t from, size_t to) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
    size_t j = from;
#if defined(__SSE2__)
    // Sixteen places a step where the processor compares sixteen bytes at once.
    for (; j < to && j + 18 <= n; j += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j + 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j + 2));
        if (const int m = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, b), _mm_cmpeq_epi8(b, c))))
            return std::min(to, j + static_cast<size_t>(std::countr_zero(static_cast<unsigned>(m))));
    }
#endif
    for (; j < to && j + 10 <= n; j += 8) {
        uint64_t a, b, c;
        std::memcpy(&a, p + j, 8);
        std::memcpy(&b, p + j + 1, 8);
        std::memcpy(&c, p + j + 2, 8);
        const uint64_t d = (a ^ b) | (b ^ c);
        // The lowest flagged byte is always a zero byte of d (a borrow
        // only runs upwards), and the word was loaded low byte first.
        if (const uint64_t m = (d - kOnes) & ~d & kHighs) return std::min(to, j + static_cast<size_t>(std::countr_zero(m)) / 8);
    }
    for (; j < to && j + 2 < n; ++j)
        if (p[j] == p[j + 1] && p[j + 1] == p[j + 2]) return j;
    return to;
}

}  // namespace

// PackBits over bytes: the same code as PackUnits(row, out, 1), the
// literals found a word at a time.
int32_t PackBits(std::span<const uint8_t> row, std::span<uint8_t> out) {
    const uint8_t* p = row.data();
    const size_t count = row.size();
    size_t o = 0, i = 0;
    while (i < count) {
        size_t run = 1;
        while (run < 128 && i + run < count && p[i] == p[i + run]) ++run;
        if (run >= 2) {
            if (o + 2 > out.size()) return -1;
            out[o++] = static_cast<uint8_t>(static_cast<int8_t>(1 - static_cast<int>(run)));
            out[o++] = p[i];
            i += run;
            continue;
        }
        // Literal: up to the start of the next run of three, or of a run of
        // two that ends the row.
        const size_t limit = std::min(i + 128, count);
        size_t end = RunOfThreeFrom(p, count, i + 1, limit);
        if (count >= 2 && count - 2 >= i + 1 && count - 2 < end && p[count - 2] == p[count - 1]) end = count - 2;
        const size_t lit = end - i;
        if (o + 1 + lit > out.size()) return -1;
        out[o++] = static_cast<uint8_t>(lit - 1);
        std::memcpy(out.data() + o, p + i, lit);
        o += lit;
        i += lit;
    }
    return static_cast<int32_t>(o);
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
    const uint8_t lastMask = band.width % 8 ? static_cast<uint8_t>(0xFF00 >> (band.width % 8)) : 0xFF;
    for (int32_t y = 0; y < band.height; ++y) {
        uint8_t* row = band.bits + static_cast<ptrdiff_t>(y) * band.stride;
        int32_t length;
        if (options.uninverted) {
            row[rowBytes - 1] &= lastMask;
            length = y == 0 ? rowBytes : SignificantLength(row, rowBytes);
            if (sixteen) length += length & 1;
        } else {
            // Only the bytes up to the row's last ink are turned over (most
            // of a page is white): the white after them is made 0 where a
            // coder reads it, below.
            length = y == 0 ? rowBytes : InkLength(row, rowBytes, lastMask);
            if (sixteen) length += length & 1;
            InvertRow(row, length);
            if (length == rowBytes) row[rowBytes - 1] &= lastMask;
        }

        const bool blockFull = !block.Empty() && !block.Fits(static_cast<size_t>(reserve));
        if (blockFull) block.Reopen();

        // A row the coder made (command, n bytes at the block's room) is
        // replaced by its bytes as they stand when those are fewer: dense
        // dither codes larger than it is.
        auto smallest = [&](uint8_t command, int32_t n) {
            if (options.alwaysPackBits || sixteen || n <= length) return block.Record(command, n);
            std::memcpy(block.Room().data(), row, static_cast<size_t>(length));
            block.Record(kUncodedRecord, length);
        };
        auto runLength = [&](uint8_t command, bool wide) {
            const std::span<const uint8_t> src(row, static_cast<size_t>(length));
            const int32_t n = wide ? PackBits16(src, block.Room()) : PackBits(src, block.Room());
            smallest(command, n < 0 ? 0 : n);
        };

        if (!previous || block.Empty()) {
            // First row of the band, or first record of a new block: the
            // block's own coder, so that no block leans on an earlier one.
            runLength(options.alwaysPackBits ? 2 : mode, sixteen && !options.alwaysPackBits);
        } else if (options.alwaysPackBits) {
            runLength(2, false);
        } else if (sixteen && length > 0) {
            runLength(mode, true);
        } else {
            const int32_t span = std::max(length, previousLength);
            if (!options.uninverted) {
                // Past its length a row is white, still to be made 0.
                if (span > length) std::memset(row + length, 0, static_cast<size_t>(span - length));
                if (span > previousLength)
                    std::memset(previous + previousLength, 0, static_cast<size_t>(span - previousLength));
            }
            const auto room = block.Room();
            const int32_t n = DeltaRow({row, static_cast<size_t>(span)}, {previous, static_cast<size_t>(span)}, room);
            if (n == 0) {
                block.Duplicate();
            } else if (length == 0) {
                block.Record(kRunLengthRecord, 0);  // a blank row after ink: no bytes at all
            } else if (n <= 2 || n < 0 || static_cast<int64_t>(n) * 4 < length) {
                // Run-length coding wins only where most of the row changed:
                // elsewhere it is not tried (it would cost as much again).
                block.Record(kDeltaRecord, n < 0 ? 0 : n);
            } else {
                // The delta against the row above, or the row run-length
                // coded on its own, whichever is shorter (a blank row after
                // ink costs nothing run-length coded). The second coding goes
                // behind the first.
                // It may take fewer bytes than the delta or give up.
                const size_t behind = static_cast<size_t>(n);
                const int32_t m = PackBits({row, static_cast<size_t>(length)},
                                           room.subspan(behind, std::min(room.size() - behind, behind - 1)));
                if (m >= 0 && m < n) {
                    std::memmove(room.data(), room.data() + behind, static_cast<size_t>(m));
                    smallest(kRunLengthRecord, m);
                } else {
                    smallest(kDeltaRecord, n);
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
