#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "pclread/pclread.h"
#include "render/halftone.h"
#include "render/output.h"
#include "render/raster.h"
#include "render/tests/capture_sink.h"

namespace pclrend {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Delta(const Bytes& row, const Bytes& seed) {
    Bytes out(row.size() * 2 + 16);
    const int32_t n = DeltaRow(row, seed, out);
    EXPECT_GE(n, 0);
    out.resize(static_cast<size_t>(std::max(n, 0)));
    return out;
}

TEST(DeltaRow, CodesOffsetsAndRunsAsTheFormatSays) {
    struct Case {
        const char* what;
        size_t length;
        std::vector<std::pair<size_t, uint8_t>> changes;  // position, new value
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"equal rows", 10, {}, {}},
        {"one byte at the start", 10, {{0, 7}}, {0x00, 7}},
        {"offset 30 fits the command byte", 40, {{30, 1}}, {30, 1}},
        {"offset 31 takes a zero extra byte", 40, {{31, 1}}, {31, 0, 1}},
        {"offset 286 takes 255 and 0", 300, {{286, 1}}, {31, 255, 0, 1}},
        {"offset 541 takes 255 255 0", 600, {{541, 9}}, {31, 255, 255, 0, 9}},
        {"offset 300 takes 255 14", 400, {{300, 2}}, {31, 255, 14, 2}},
        {"nine changed bytes make two commands",
         12,
         {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9}},
         {(7 << 5) | 1, 1, 2, 3, 4, 5, 6, 7, 8, 0x00, 9}},
        {"runs separated by unchanged bytes", 10, {{2, 1}, {3, 1}, {6, 5}}, {(1 << 5) | 2, 1, 1, 2, 5}},
    };
    for (const auto& c : cases) {
        Bytes seed(c.length, 0), row(c.length, 0);
        for (auto [pos, v] : c.changes) row[pos] = v;
        EXPECT_EQ(Delta(row, seed), c.expected) << c.what;
        // And the reader's decoder brings the seed back to the row.
        Bytes decoded = seed;
        ASSERT_TRUE(pclread::DecodeDelta(c.expected, decoded)) << c.what;
        EXPECT_EQ(decoded, row) << c.what;
    }
}

// The format's rules one byte at a time, beside the coder that steps over
// words: both must give the same bytes for rows of every length and density.
Bytes PlainDelta(const Bytes& row, const Bytes& seed) {
    Bytes out;
    size_t last = 0;
    for (size_t i = 0; i < row.size();) {
        if (row[i] == seed[i]) {
            ++i;
            continue;
        }
        size_t run = 0;
        while (run < 8 && i + run < row.size() && row[i + run] != seed[i + run]) ++run;
        size_t offset = i - last;
        out.push_back(static_cast<uint8_t>(((run - 1) << 5) | std::min<size_t>(offset, 31)));
        if (offset >= 31) {
            for (offset -= 31; offset >= 255; offset -= 255) out.push_back(255);
            out.push_back(static_cast<uint8_t>(offset));
        }
        out.insert(out.end(), row.begin() + static_cast<ptrdiff_t>(i), row.begin() + static_cast<ptrdiff_t>(i + run));
        i += run;
        last = i;
    }
    return out;
}

TEST(DeltaRow, RandomRowsMatchTheFormatByteByByte) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 2000; ++trial) {
        // One byte in `density` changes; every fourth row sparsely, with
        // offsets that take several bytes.
        const bool sparse = trial % 4 == 3;
        const size_t length = rng() % (sparse ? 2000 : 700);
        const unsigned density = sparse ? 150 + rng() % 600 : 1 + rng() % 40;
        Bytes seed(length), row(length);
        for (size_t i = 0; i < length; ++i) {
            seed[i] = static_cast<uint8_t>(rng() % 3 ? 0 : rng());
            row[i] = rng() % density ? seed[i] : static_cast<uint8_t>(seed[i] ^ (1 + rng() % 255));
        }
        const Bytes plain = PlainDelta(row, seed);
        ASSERT_EQ(Delta(row, seed), plain) << "trial " << trial << ", length " << length;
        // Into a room of any size: the same bytes when they fit, else -1.
        Bytes room(rng() % (plain.size() + 2));
        const int32_t n = DeltaRow(row, seed, room);
        if (plain.size() > room.size()) {
            ASSERT_EQ(n, -1) << "trial " << trial;
        } else {
            ASSERT_EQ(n, static_cast<int32_t>(plain.size())) << "trial " << trial;
            ASSERT_TRUE(std::equal(plain.begin(), plain.end(), room.begin())) << "trial " << trial;
        }
    }
}

// A run far from the one before (its offset takes 153 extra bytes), then
// a window of one-byte runs, into rooms of every size about its coding: the
// same bytes where they fit, else -1 without a byte written past the room.
TEST(DeltaRow, AFarRunThenManyNearOnesFitTheRoomOrAreRefused) {
    Bytes seed(40000, 0), row(40000, 0);
    row[10] = 1;
    for (size_t i = 39000; i < 39040; i += 2) row[i] = static_cast<uint8_t>(i);
    const Bytes plain = PlainDelta(row, seed);
    for (size_t size = 0; size <= plain.size() + 160; ++size) {
        Bytes room(size);
        const int32_t n = DeltaRow(row, seed, room);
        if (size < plain.size()) {
            ASSERT_EQ(n, -1) << "room " << size;
        } else {
            ASSERT_EQ(n, static_cast<int32_t>(plain.size())) << "room " << size;
            ASSERT_TRUE(std::equal(plain.begin(), plain.end(), room.begin())) << "room " << size;
        }
    }
}

TEST(DeltaRow, RefusesAnOutputThatIsTooSmall) {
    Bytes seed(16, 0), row(16, 0xFF), out(4);
    EXPECT_EQ(DeltaRow(row, seed, out), -1);
}

TEST(PackBits, RoundTripsAndStaysWithinTheWorstCase) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        const size_t n = 1 + rng() % 700;
        Bytes row(n);
        const int kind = round % 3;  // random, runs, mixed
        for (size_t i = 0; i < n; ++i) {
            if (kind == 0) row[i] = static_cast<uint8_t>(rng());
            else if (kind == 1) row[i] = static_cast<uint8_t>((i / (1 + rng() % 200)) & 1 ? 0xFF : 0);
            else row[i] = (rng() % 4) ? 0 : static_cast<uint8_t>(rng());
        }
        Bytes out(static_cast<size_t>(WorstCaseRow(static_cast<int32_t>(n))));
        const int32_t len = PackBits(row, out);
        ASSERT_GE(len, 0);
        Bytes decoded;
        ASSERT_TRUE(pclread::DecodePackBits({out.data(), static_cast<size_t>(len)}, decoded));
        EXPECT_EQ(decoded, row);
        if (n % 2 == 0) {
            const int32_t len16 = PackBits16(row, out);
            ASSERT_GE(len16, 0);
            Bytes decoded16;
            ASSERT_TRUE(pclread::DecodePackBits16({out.data(), static_cast<size_t>(len16)}, decoded16));
            EXPECT_EQ(decoded16, row);
        }
    }
}

TEST(PackBits, CodesRunsAsRepeats) {
    Bytes row(300, 0xAA), out(400);
    const int32_t n = PackBits(row, out);
    // 128 + 128 + 44: three repeat runs of two bytes each.
    ASSERT_EQ(n, 6);
    EXPECT_EQ(out[0], 0x81);
    EXPECT_EQ(out[2], 0x81);
    EXPECT_EQ(out[4], static_cast<uint8_t>(1 - 44));
}

// A band of the engine's one-bit surface: 1 = white.
struct TestBand {
    TestBand(int32_t w, int32_t h) : width(w), height(h), stride(((w + 31) / 32) * 4), bits(static_cast<size_t>(stride) * h, 0xFF) {}
    void Black(int32_t x, int32_t y) { bits[static_cast<size_t>(y) * stride + x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8))); }
    bool IsBlack(int32_t x, int32_t y) const { return !((bits[static_cast<size_t>(y) * stride + x / 8] >> (7 - x % 8)) & 1); }
    MonoBand View() { return {bits.data(), stride, width, height}; }
    int32_t width, height, stride;
    Bytes bits;
};

class BandTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(AllocateBuffers(record, false));
        record.sink = &sink;
        record.jobState = kJobOpen;
    }

    // Sends the band as the job's raster at (x, y) and decodes it again.
    pclread::Page RoundTrip(TestBand band, int32_t x, int32_t y, MonoBandOptions options = {}) {
        SpoolWrite(record, "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n\x1b" "E\x1b&u600D\x1b*t600R");
        MoveToX(record, x);
        MoveToY(record, y);
        auto view = band.View();
        SendMonoBand(record, view, options);
        SpoolWrite(record, "\f\x1b%-12345X");
        SpoolFlush(record);
        pclread::Options o;
        o.pageWidth = x + band.width + 5;
        o.pageHeight = y + band.height + 5;
        auto job = pclread::Read(sink.bytes, o);
        EXPECT_TRUE(job.Ok()) << (job.errors.empty() ? "" : job.errors.front());
        EXPECT_EQ(job.pages.size(), 1u);
        return job.pages.empty() ? pclread::Page{} : job.pages.front();
    }

    static void ExpectSame(const TestBand& band, const pclread::Page& page, int32_t x0, int32_t y0) {
        ASSERT_EQ(page.height, y0 + band.height + 5);
        int64_t wrong = 0;
        for (int32_t y = 0; y < page.height; ++y)
            for (int32_t x = 0; x < page.width; ++x) {
                const bool inBand = x >= x0 && y >= y0 && x < x0 + band.width && y < y0 + band.height;
                const bool want = inBand && band.IsBlack(x - x0, y - y0);
                wrong += want != page.Black(x, y);
            }
        EXPECT_EQ(wrong, 0);
    }

    std::vector<std::string> Records() const {
        // The commands the band was sent with, without the job frame.
        std::vector<std::string> out;
        auto job = pclread::Read(sink.bytes);
        for (const auto& c : job.commands)
            if (c.prefix == "*b" || c.prefix == "*r") out.push_back(c.prefix + c.value + c.terminator);
        return out;
    }

    DeviceRecord record;
    CaptureSink sink;
};

TEST_F(BandTest, WhiteRowsAfterTheFirstBecomeOneDuplicateRecord) {
    TestBand band(64, 50);
    band.Black(3, 0);
    auto page = RoundTrip(band, 0, 0);
    ExpectSame(band, page, 0, 0);
    // First row: PackBits of its full width; row 2 clears the seed with an
    // empty run-length row (shorter than its delta); the 48 rows left
    // repeat it.
    const std::string text = sink.Text();
    const std::string block = text.substr(text.find("\x1b*b5M") + 5);
    ASSERT_EQ(block.substr(0, 9), "\x1b*b00013W");
    const uint8_t* rec = reinterpret_cast<const uint8_t*>(block.data()) + 9;
    EXPECT_EQ(rec[0], 2);        // PackBits row of 8 bytes: literal 0x10, repeat 7 x 0
    EXPECT_EQ(rec[1] << 8 | rec[2], 4);
    EXPECT_EQ(rec[7], 2);        // run-length row without bytes: all white
    EXPECT_EQ(rec[8] << 8 | rec[9], 0);
    EXPECT_EQ(rec[10], 5);       // duplicates
    EXPECT_EQ(rec[11] << 8 | rec[12], 48);
}

// Each row goes in the shortest of its codings: noise as it stands
// (command 0), a dither row after noise run-length coded (2), a row that
// differs from the one above in one byte as a delta (3), a blank row after
// ink as an empty run-length row, and the pixels survive.
TEST_F(BandTest, EachRowTakesItsShortestCoding) {
    std::mt19937 rng(9);
    TestBand band(800, 5);  // 100 bytes a row
    const int32_t rowBytes = 100;
    for (int32_t x = 0; x < band.width; ++x)
        if (rng() % 2) band.Black(x, 0), band.Black(x, 1);
    band.Black(799, 0), band.Black(799, 1);  // the noise rows reach the row's end
    for (int32_t x = 0; x < band.width; x += 2) band.Black(x, 2), band.Black(x, 3);  // 50% dither
    band.Black(401, 3);                                                               // one byte changed
    // Row 4 stays white.
    auto page = RoundTrip(band, 0, 0);
    ExpectSame(band, page, 0, 0);
    const std::string text = sink.Text();
    const std::string block = text.substr(text.find("\x1b*b5M") + 14);  // past the block's header
    std::vector<std::pair<int, int>> records;  // command, count
    for (size_t at = 0; at + 3 <= block.size() && records.size() < 5;) {
        const int command = static_cast<uint8_t>(block[at]);
        const int count = static_cast<uint8_t>(block[at + 1]) << 8 | static_cast<uint8_t>(block[at + 2]);
        records.push_back({command, count});
        at += 3 + (command == 5 ? 0 : static_cast<size_t>(count));
    }
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].first, 0);  // the first row: noise does not run-length code
    EXPECT_EQ(records[0].second, rowBytes);
    EXPECT_EQ(records[1].first, 5);  // the same row again
    EXPECT_EQ(records[1].second, 1);
    EXPECT_EQ(records[2].first, 2);  // the dither: two repeats of 0xAA
    EXPECT_LE(records[2].second, 4);
    EXPECT_EQ(records[3].first, 3);  // one byte: command byte with offset 31 + 19, then the byte
    EXPECT_EQ(records[3].second, 3);
    EXPECT_EQ(records[4].first, 2);  // white after ink
    EXPECT_EQ(records[4].second, 0);
}

TEST_F(BandTest, RandomBandsSurviveTheRoundTrip) {
    std::mt19937 rng(11);
    for (int round = 0; round < 12; ++round) {
        sink.bytes.clear();
        record.cursorX = record.cursorY = -1;
        const int32_t w = 8 + static_cast<int32_t>(rng() % 2600);
        const int32_t h = 1 + static_cast<int32_t>(rng() % 120);
        TestBand band(w, h);
        const int kind = round % 4;
        for (int32_t y = 0; y < h; ++y) {
            if (kind == 1 && y % 7 != 0 && y > 0) {  // repeated rows
                std::copy_n(band.bits.begin() + (y - 1) * band.stride, band.stride, band.bits.begin() + y * band.stride);
                continue;
            }
            for (int32_t x = 0; x < w; ++x) {
                const bool black = kind == 0   ? rng() % 2
                                   : kind == 2 ? (x > 300 && x < 310) || rng() % 97 == 0  // far-apart changes
                                               : rng() % 5 == 0;
                if (black) band.Black(x, y);
            }
        }
        const int32_t x0 = static_cast<int32_t>(rng() % 40), y0 = static_cast<int32_t>(rng() % 40);
        MonoBandOptions options;
        options.sixteenBit = round % 3 == 2;
        options.alwaysPackBits = round == 5;
        auto page = RoundTrip(band, x0, y0, options);
        ExpectSame(band, page, x0, y0);
    }
}

TEST_F(BandTest, BlocksStayBelow32768BytesAndAnnounceTheirSize) {
    std::mt19937 rng(3);
    TestBand band(4800, 200);  // 600 bytes a row of noise: many blocks
    for (int32_t y = 0; y < band.height; ++y)
        for (int32_t x = 0; x < band.width; ++x)
            if (rng() % 2) band.Black(x, y);
    auto page = RoundTrip(band, 0, 0);
    ExpectSame(band, page, 0, 0);
    auto job = pclread::Read(sink.bytes);
    int blocks = 0;
    for (const auto& c : job.commands) {
        if (c.prefix == "*b" && c.terminator == 'W') {
            ++blocks;
            EXPECT_EQ(c.value.size(), 5u) << "five digits, leading zeros kept";
            EXPECT_LE(c.payload, 32767u - 9u);
        }
    }
    EXPECT_GT(blocks, 3);
}

// 24-bit bands: noise, flat colour beside white margins with repeated rows
// (delta and duplicate records), and a row wider than one strip (1200 dpi
// across a letter page) that goes as rasters side by side.
TEST_F(BandTest, RgbBandsDecodeToTheirColours) {
    struct Case {
        int32_t width, height, kind;
    };
    std::mt19937 rng(5);
    for (const Case c : {Case{37, 20, 0}, Case{700, 60, 1}, Case{10200, 3, 2}}) {
        sink.bytes.clear();
        record.cursorX = record.cursorY = -1;
        record.gl = {};
        record.ropCache = 256;
        const int32_t stride = (c.width * 24 + 31) / 32 * 4;
        std::vector<uint8_t> bits(static_cast<size_t>(stride) * c.height, 0xFF);
        auto at = [&](int32_t x, int32_t y) { return &bits[static_cast<size_t>(y) * stride + 3 * static_cast<size_t>(x)]; };
        for (int32_t y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x) {
                uint8_t* p = at(x, y);
                if (c.kind == 0) {
                    for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>(rng());
                } else if (c.kind == 1 && x > 100 && x < 500 && (y / 8) % 2) {
                    p[0] = static_cast<uint8_t>(x), p[1] = 40, p[2] = static_cast<uint8_t>(y * 4);
                } else if (c.kind == 2 && (x % 97 == 0 || x > 9000)) {
                    p[0] = 200, p[1] = static_cast<uint8_t>(x), p[2] = 0;
                }
            }
        const int32_t x0 = 3, y0 = 2;
        SpoolWrite(record, "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n\x1b" "E\x1b&u600D\x1b*t600R");
        SendRgbBand(record, MonoBand{bits.data(), stride, c.width, c.height}, x0, y0);
        SpoolWrite(record, "\f\x1b%-12345X");
        SpoolFlush(record);
        pclread::Options o;
        o.pageWidth = x0 + c.width + 2;
        o.pageHeight = y0 + c.height + 2;
        auto job = pclread::Read(sink.bytes, o);
        ASSERT_TRUE(job.Ok()) << job.errors.front();
        ASSERT_EQ(job.pages.size(), 1u);
        const auto& page = job.pages.front();
        int64_t wrong = 0;
        for (int32_t y = 0; y < page.height; ++y)
            for (int32_t x = 0; x < page.width; ++x) {
                uint32_t want = 0xFFFFFF;
                if (x >= x0 && y >= y0 && x < x0 + c.width && y < y0 + c.height) {
                    const uint8_t* p = at(x - x0, y - y0);
                    want = static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
                }
                wrong += page.Colour(x, y) != want;
            }
        EXPECT_EQ(wrong, 0) << c.width << " x " << c.height;
        size_t strips = 0;
        for (const auto& cmd : job.commands) {
            if (cmd.prefix == "*b" && cmd.terminator == 'W') {
                EXPECT_LE(cmd.payload, 32767u - 9u);
            }
            if (cmd.prefix == "*r" && cmd.terminator == 'S') {
                ++strips;
                EXPECT_LE(std::stol(cmd.value), kRgbStripPixels);
            }
        }
        EXPECT_EQ(strips, static_cast<size_t>((c.width + kRgbStripPixels - 1) / kRgbStripPixels));
        // Direct colour, ANDed onto the page.
        EXPECT_NE(sink.Text().find("\x1b*v6W"), std::string::npos);
        EXPECT_NE(sink.Text().find("\x1b*l136O"), std::string::npos);
    }
}

// The band coder's rules written plainly, a byte at a time: each row is
// delta coded against the row above, a repeat of it, or run-length coded,
// whichever is shortest, and sent as it stands when that is shorter still.
// The coder that works a word or sixteen bytes at a time and codes only the
// winner must give the same bytes.
Bytes PlainPackUnits(const Bytes& row, size_t unit) {
    const size_t n = row.size() / unit;
    auto same = [&](size_t a, size_t b) { return std::equal(row.begin() + a * unit, row.begin() + (a + 1) * unit, row.begin() + b * unit); };
    Bytes out;
    for (size_t i = 0; i < n;) {
        size_t run = 1;
        while (run < 128 && i + run < n && same(i, i + run)) ++run;
        if (run >= 2) {
            out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
            out.insert(out.end(), row.begin() + i * unit, row.begin() + (i + 1) * unit);
            i += run;
            continue;
        }
        // A literal ends where three equal units start, or where two end the row.
        size_t end = std::min(i + 128, n);
        for (size_t j = i + 1; j < end; ++j)
            if ((j + 2 < n && same(j, j + 1) && same(j, j + 2)) || (j + 2 == n && same(j, j + 1))) {
                end = j;
                break;
            }
        out.push_back(static_cast<uint8_t>(end - i - 1));
        out.insert(out.end(), row.begin() + i * unit, row.begin() + end * unit);
        i = end;
    }
    return out;
}

Bytes PlainMonoBand(TestBand band, const MonoBandOptions& options) {
    const size_t rowBytes = static_cast<size_t>(band.width + 7) / 8;
    const bool sixteen = options.sixteenBit && rowBytes % 2 == 0 && rowBytes >= 4;
    const uint8_t mode = sixteen ? 254 : 2;
    const size_t reserve = static_cast<size_t>(WorstCaseRow(static_cast<int32_t>(rowBytes))) + 3;
    const uint8_t lastMask = band.width % 8 ? static_cast<uint8_t>(0xFF00 >> (band.width % 8)) : 0xFF;
    const std::string start = std::string(options.continuing ? "" : "\x1b*r0F") + "\x1b*r1A" + (sixteen ? "\x1b*b1008M" : "\x1b*b5M");
    Bytes out(start.begin(), start.end());
    Bytes block;
    size_t dupAt = 0, dupCount = 0;  // dupAt: 1 + the open duplicate record's place
    auto closeDup = [&] {
        if (dupAt) {
            block[dupAt] = static_cast<uint8_t>(dupCount >> 8);
            block[dupAt + 1] = static_cast<uint8_t>(dupCount);
        }
        dupAt = 0;
    };
    auto record = [&](uint8_t command, const Bytes& data) {
        closeDup();
        block.push_back(command);
        block.push_back(static_cast<uint8_t>(data.size() >> 8));
        block.push_back(static_cast<uint8_t>(data.size()));
        block.insert(block.end(), data.begin(), data.end());
    };
    auto closeBlock = [&] {
        closeDup();
        char head[16];
        std::snprintf(head, sizeof head, "\x1b*b%05zuW", block.size());
        out.insert(out.end(), head, head + 9);
        out.insert(out.end(), block.begin(), block.end());
        block.clear();
    };
    Bytes previous;
    for (int32_t y = 0; y < band.height; ++y) {
        Bytes row(band.bits.begin() + static_cast<ptrdiff_t>(y) * band.stride,
                  band.bits.begin() + static_cast<ptrdiff_t>(y) * band.stride + static_cast<ptrdiff_t>(rowBytes));
        if (!options.uninverted)
            for (auto& b : row) b = static_cast<uint8_t>(~b);
        row.back() &= lastMask;
        size_t length = rowBytes;
        if (y > 0)
            while (length > 0 && row[length - 1] == 0) --length;
        if (sixteen) length += length & 1;
        const Bytes significant(row.begin(), row.begin() + static_cast<ptrdiff_t>(length));
        if (!block.empty() && 9 + block.size() + reserve > 32767) closeBlock();
        auto shortest = [&](uint8_t command, const Bytes& coded) {
            if (options.alwaysPackBits || sixteen || coded.size() <= length) record(command, coded);
            else record(0, significant);
        };
        if (y == 0 || block.empty()) {
            const bool wide = sixteen && !options.alwaysPackBits;
            shortest(options.alwaysPackBits ? 2 : mode, PlainPackUnits(significant, wide ? 2 : 1));
        } else if (options.alwaysPackBits) {
            record(2, PlainPackUnits(significant, 1));
        } else if (sixteen && length > 0) {
            record(mode, PlainPackUnits(significant, 2));
        } else {
            // Past their lengths both rows are 0.
            const size_t span = std::max(length, previous.size());
            Bytes a = significant, b = previous;
            a.resize(span, 0);
            b.resize(span, 0);
            const Bytes delta = PlainDelta(a, b);
            const Bytes packed = PlainPackUnits(significant, 1);
            if (delta.empty()) {
                if (dupAt && dupCount == 0xFFFF) closeDup();
                if (!dupAt) {
                    block.push_back(5);
                    dupAt = block.size();
                    block.push_back(0);
                    block.push_back(0);
                    dupCount = 0;
                }
                ++dupCount;
            } else if (length == 0) {
                record(2, {});
            } else if (delta.size() <= 2 || delta.size() * 4 < length) {
                record(3, delta);  // a short delta is taken as it is
            } else if (packed.size() >= delta.size()) {
                shortest(3, delta);
            } else {
                shortest(2, packed);
            }
        }
        previous = significant;
    }
    closeBlock();
    out.insert(out.end(), {0x1b, '*', 'r', 'B'});
    return out;
}

// Rows as a page gives them: blank, text strokes near either end or far
// apart, the row above again or changed in a few bytes, dither of a grey
// level (periodic bytes, long repeats), noise of any density.
TestBand RandomBand(std::mt19937& rng, int32_t width, int32_t height) {
    TestBand band(width, height);
    const size_t rowBytes = static_cast<size_t>(width + 7) / 8;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = band.bits.data() + static_cast<size_t>(y) * band.stride;
        const uint8_t* above = row - band.stride;
        switch (rng() % 9) {
            case 0:
                break;  // white
            case 8:  // a row two, three, four or eight above again
                if (const int32_t k = std::array{2, 3, 4, 8}[rng() % 4]; y >= k) {
                    std::copy_n(row - k * band.stride, band.stride, row);
                    if (rng() % 3 == 0) row[rng() % rowBytes] ^= 0x10;
                }
                break;
            case 1:
            case 2:
                if (y > 0) {
                    std::copy_n(above, band.stride, row);
                    for (unsigned k = rng() % 4; k > 0; --k) row[rng() % rowBytes] ^= static_cast<uint8_t>(1 + rng() % 255);
                    break;
                }
                [[fallthrough]];
            case 3: {  // strokes
                const size_t at = rng() % 3 == 0 ? rowBytes - 1 - rng() % std::min<size_t>(rowBytes, 40) : rng() % rowBytes;
                for (size_t i = at; i < rowBytes && i < at + 1 + rng() % 12; ++i) row[i] = static_cast<uint8_t>(rng());
                if (rng() % 2) row[rng() % rowBytes] = 0x7F;
                break;
            }
            case 4:
            case 5: {  // a dither: a pattern of a few bytes, changing along the row
                const size_t period = 1 + rng() % 4;
                uint8_t pattern[4] = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                      static_cast<uint8_t>(rng())};
                const size_t from = rng() % 2 ? 0 : rng() % rowBytes, to = rng() % 2 ? rowBytes : from + rng() % (rowBytes - from + 1);
                for (size_t i = from; i < to; ++i) {
                    if (rng() % 97 == 0) pattern[rng() % 4] = static_cast<uint8_t>(rng());
                    row[i] = pattern[i % period];
                }
                break;
            }
            default: {  // noise
                const unsigned density = 1 + rng() % 8;
                for (size_t i = 0; i < rowBytes; ++i)
                    if (rng() % density == 0) row[i] = static_cast<uint8_t>(rng() % 3 ? rng() : rng() % 2 ? 0 : 0xFF);
            }
        }
    }
    return band;
}

// A picture through the driver's halftone: a flat grey beside a ramp, their
// border moving down the band like a hillside, over white margins. Flat
// dither repeats its rows every few rows.
TestBand HalftoneBand(std::mt19937& rng, int32_t width, int32_t height) {
    TestBand band(width, height);
    const size_t rowBytes = static_cast<size_t>(width + 7) / 8;
    const uint8_t* cell = ThresholdCell(static_cast<int>(rng() % kScreens), static_cast<int>(rng() % 3), static_cast<int>(rng() % 3));
    std::array<Pattern, 256> patterns;
    for (int level = 0; level < 256; ++level) DitherLevel(static_cast<uint8_t>(level), cell, patterns[static_cast<size_t>(level)]);
    const uint8_t flat = static_cast<uint8_t>(rng());
    const size_t margin = rng() % (rowBytes / 4 + 1);
    double border = static_cast<double>(rowBytes) / 2, slope = 0;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = band.bits.data() + static_cast<size_t>(y) * band.stride;
        if (rng() % 40 == 0) slope = (static_cast<double>(rng() % 200) - 100) / 50;
        border = std::clamp(border + slope, 0.0, static_cast<double>(rowBytes));
        for (size_t x = margin; x + margin < rowBytes; ++x) {
            const uint8_t level = static_cast<double>(x) < border ? flat : static_cast<uint8_t>(x * 255 / rowBytes);
            row[x] = patterns[level][static_cast<size_t>(y % 32) * 4 + x % 4];
        }
    }
    return band;
}

TEST_F(BandTest, RandomBandsCodeAsThePlainRulesSay) {
    std::mt19937 rng(23);
    for (int round = 0; round < 400; ++round) {
        const int32_t width = round % 50 == 0 ? 4000 + static_cast<int32_t>(rng() % 2000) : 1 + static_cast<int32_t>(rng() % 1200);
        const int32_t height = round % 50 == 0 ? 200 : 1 + static_cast<int32_t>(rng() % 60);
        TestBand band = round % 3 == 1 ? HalftoneBand(rng, width, height) : RandomBand(rng, width, height);
        MonoBandOptions options;
        options.continuing = rng() % 2;
        options.uninverted = rng() % 4 == 0;
        options.sixteenBit = rng() % 6 == 0;
        options.alwaysPackBits = rng() % 10 == 0;
        sink.bytes.clear();
        const Bytes expected = PlainMonoBand(band, options);
        SendMonoBand(record, band.View(), options);
        SpoolFlush(record);
        const auto differ = std::mismatch(sink.bytes.begin(), sink.bytes.end(), expected.begin(), expected.end());
        ASSERT_EQ(sink.bytes, expected) << "round " << round << ": " << width << " x " << height << ", first difference at byte "
                                        << (differ.first - sink.bytes.begin());
    }
}

// A row's last ink at every place of rows 300 bytes wide, 300 bytes and
// three pixels wide (whose last byte has bits past the edge) and 601 bytes
// wide (wider than two of the white scan's steps), over a row of
// ink, a white row and a row with ink at the start.
TEST_F(BandTest, LastInkAnywhereCodesAsThePlainRulesSay) {
    for (const int32_t width : {2400, 2403, 4805})
        for (int32_t at = 0; at < width; at += (at % 8 == 7 || at + 9 > width) ? 1 : 7)
            for (const bool uninverted : {false, true}) {
                TestBand band(width, 4);
                for (int32_t x = 0; x < width; x += 3) band.Black(x, 0);
                band.Black(0, 2);
                band.Black(at, 2);
                band.Black(at, 3);
                if (uninverted)
                    for (auto& b : band.bits) b = static_cast<uint8_t>(~b);
                MonoBandOptions options;
                options.uninverted = uninverted;
                sink.bytes.clear();
                const Bytes expected = PlainMonoBand(band, options);
                SendMonoBand(record, band.View(), options);
                SpoolFlush(record);
                ASSERT_EQ(sink.bytes, expected) << "width " << width << ", ink at " << at << (uninverted ? ", uninverted" : "");
            }
}

// More rows of one kind than a duplicate record can count, in rows narrow
// and wide (blank rows of 32 bytes and more are counted a run at a time).
TEST_F(BandTest, LongRunsOfEqualRowsTakeSeveralDuplicateRecords) {
    for (const int32_t width : {16, 2403}) {
        TestBand band(width, 70000);
        band.Black(5, 0);
        band.Black(width - 1, 65540);  // ink in the middle of the second record's rows
        sink.bytes.clear();
        const Bytes expected = PlainMonoBand(band, {});
        SendMonoBand(record, band.View(), {});
        SpoolFlush(record);
        EXPECT_EQ(sink.bytes, expected) << "width " << width;
    }
}

TEST_F(BandTest, NothingIsSentWithoutADocument) {
    record.jobState = kJobIdle;
    TestBand band(64, 4);
    auto view = band.View();
    SendMonoBand(record, view, {});
    SpoolFlush(record);
    EXPECT_TRUE(sink.bytes.empty());
}

}  // namespace
}  // namespace pclrend

namespace pclrend {
namespace {

// The reader holds the renderer to raster blocks below 32,768 bytes.
TEST(PclRead, RefusesRasterBlocksOf32768BytesOrMore) {
    for (size_t size : {size_t{100}, size_t{32767}, size_t{32768}, size_t{40000}}) {
        std::string job = "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n\x1b" "E\x1b*r1A\x1b*b0M\x1b*b" + std::to_string(size) + "W";
        job.append(size, '\0');
        job += "\x1b*rB";
        auto read = pclread::Read({reinterpret_cast<const uint8_t*>(job.data()), job.size()});
        EXPECT_EQ(read.Ok(), size < 32768) << size;
    }
}

TEST(BandChoices, ShrinkAsTheBudgetShrinks) {
    // A 6600-row page of 1275-byte rows (1200 dpi letter width in bytes is
    // about that): the whole page needs 8.4 MB.
    struct Case {
        uint64_t budget;
        int32_t firstRows;
        int32_t firstCount;
    } const cases[] = {
        {UINT64_MAX, 6600, 1},
        {6600ull * 1275, 6600, 1},
        {6600ull * 1275 - 1, 3300, 2},
        {3300ull * 1275 - 1, 2200, 3},
        {1000000, 733, 10},  // the minimum budget
        {127ull * 1275, 126, 53},
        {126ull * 1275, 126, 53},
    };
    for (const auto& c : cases) {
        auto choices = BandChoices(6600, 1275, c.budget);
        ASSERT_FALSE(choices.empty()) << c.budget;
        EXPECT_EQ(choices.front().rows, c.firstRows) << c.budget;
        EXPECT_EQ(choices.front().count, c.firstCount) << c.budget;
        for (const auto& ch : choices) EXPECT_GE(ch.rows * ch.count, 6600);
    }
    // The last height tried is page height / 52: smaller budgets find none.
    auto all = BandChoices(6600, 1275, UINT64_MAX);
    EXPECT_EQ(all.size(), 52u);
    EXPECT_EQ(all.back().rows, 6600 / 52);
    EXPECT_TRUE(BandChoices(6600, 1275, 100ull * 1275).empty());
}

}  // namespace
}  // namespace pclrend
