#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "base/error.h"
#include "common/escape_records.h"
#include "render/escapes.h"
#include "render/output.h"
#include "render/spool_stream.h"
#include "render/tests/capture_sink.h"
#include "render/tests/stream_devmode.h"
#include "vemfread/vemfread.h"

namespace pclrend {
namespace {

namespace esc = zq::esc;
namespace vemf = zq::vemf;
constexpr ULONG kMinus1 = 0xFFFFFFFF;

zq::PrivateDevmode Devmode(uint8_t language, bool stream) { return StreamTestDevmode(language, stream); }

struct Fixture {
    Fixture(uint8_t language, bool stream) {
        auto dm = Devmode(language, stream);
        EXPECT_TRUE(RecordFromDevmode(r, dm));
        DecideOutputMode(r, dm);
        EXPECT_EQ(r.outputMode == 4, stream);
        EXPECT_TRUE(AllocateBuffers(r, false));
        EXPECT_TRUE(StreamEnable(r, 1));
        r.sink = &sink;
    }
    ULONG Call(ULONG code, std::vector<uint8_t> in, std::vector<uint8_t>* out) {
        return Escape(r, code, static_cast<ULONG>(in.size()), in.empty() ? nullptr : in.data(),
                      out ? static_cast<ULONG>(out->size()) : 0, out && !out->empty() ? out->data() : nullptr);
    }
    DeviceRecord r;
    CaptureSink sink;
};

std::vector<uint8_t> U32(uint32_t v) {
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}
std::vector<uint8_t> I16(int16_t v) {
    std::vector<uint8_t> b(2);
    std::memcpy(b.data(), &v, 2);
    return b;
}
uint32_t Word(const std::vector<uint8_t>& b, size_t at = 0) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

const ULONG kCodes[] = {8,     17,    19,    20,    5000,  5001,  5002,       5003,       5004,      5005,
                        5006,  5007,  5008,  5009,  5010,  5011,  5012,       5013,       5014,      5015,
                        5016,  5017,  5018,  5019,  5020,  5021,  16376,      16377,      16378,     16379,
                        16380, 16381, 16382, 16383, 12345, 0x7FFFFFF8, 0x7FFFFFF7, 0x7FFFFFF6};

// Every code with inputs and outputs of no, short, exact and long sizes, in
// both bodies, before a document and on an open page: nothing is read or
// written outside the buffers (the sanitizer watches the reads, guard bytes
// the writes).
TEST(Escapes, EveryCodeWithEverySizeStaysInItsBuffers) {
    const size_t sizes[] = {0, 1, 3, 4, 16, 36, 1256, 1260, 2516, 3000};
    for (bool stream : {false, true}) {
        for (uint8_t language : {0, 4}) {
            if (!stream && language == 4) continue;
            for (bool onPage : {false, true}) {
                Fixture f(language, stream);
                if (onPage) {
                    if (stream) {
                        ASSERT_TRUE(StreamStartDoc(f.r, u"x"));
                        ASSERT_TRUE(StreamStartPage(f.r));
                    } else {
                        f.r.jobState = kJobOpen | kJobPageOpen;
                        f.r.pageCount = 1;
                    }
                }
                for (ULONG code : kCodes) {
                    if (code == 5014) continue;  // it suppresses the pages that follow
                    for (size_t in : sizes) {
                        for (size_t out : sizes) {
                            std::vector<uint8_t> input(in, 0x41);
                            std::vector<uint8_t> output(out + 8, 0xEE);
                            Escape(f.r, code, static_cast<ULONG>(in), in ? input.data() : nullptr, static_cast<ULONG>(out),
                                   out ? output.data() : nullptr);
                            for (size_t i = out; i < out + 8; ++i)
                                ASSERT_EQ(output[i], 0xEE) << "code " << code << " in " << in << " out " << out;
                        }
                    }
                }
                if (stream && onPage) {
                    f.r.pageSuppressed = 0;
                    StreamSendPage(f.r);
                    StreamEndDoc(f.r);
                    const auto s = vemfread::Walk(f.sink.bytes);
                    EXPECT_TRUE(s.ok) << s.error;
                }
            }
        }
    }
}

TEST(Escapes, QueryEscSupportLists) {
    struct Case {
        bool stream;
        uint8_t language;
        ULONG code;
        ULONG supported;
    } const cases[] = {
        {true, 4, 16376, 1},  {true, 4, 16377, 1},   {true, 0, 16377, 0},      {true, 0, 16376, 1},
        {false, 0, 16376, 1}, {false, 0, 16377, 0},  {false, 0, 5015, 0},      {true, 0, 5015, 1},
        {false, 0, 8, 1},     {false, 0, 5021, 1},   {false, 0, 0x7FFFFFF8, 0}, {true, 4, 0x7FFFFFF6, 1},
        {false, 0, 18, 0},    {true, 4, 16378, 1},   {false, 0, 5016, 0},
    };
    for (const auto& c : cases) {
        Fixture f(c.language, c.stream);
        EXPECT_EQ(f.Call(esc::kQueryEscSupport, U32(c.code), nullptr), c.supported) << c.code;
    }
    // 16376 is claimed in language 4 while the escape itself answers 0.
    Fixture f(4, true);
    std::vector<uint8_t> out(32);
    EXPECT_EQ(f.Call(16376, std::vector<uint8_t>(1256), &out), 0u);
}

TEST(Escapes, SetCopyCountClampsPerBody) {
    {
        Fixture f(0, true);
        std::vector<uint8_t> out(4);
        EXPECT_EQ(f.Call(esc::kSetCopyCount, I16(12000), &out), 1u);
        EXPECT_EQ(Word(out), 9999u);
        EXPECT_EQ(f.r.devmode->dm.dmCopies, 9999);
        EXPECT_EQ(f.Call(esc::kSetCopyCount, I16(-5), &out), 1u);
        EXPECT_EQ(Word(out), 1u);
        EXPECT_EQ(f.Call(esc::kSetCopyCount, {}, &out), kMinus1);
    }
    {
        Fixture f(0, false);
        f.r.jobState = kJobOpen;
        std::vector<uint8_t> out(4);
        EXPECT_EQ(f.Call(esc::kSetCopyCount, I16(12000), &out), 1u);
        EXPECT_EQ(Word(out), 12000u);
        SpoolFlush(f.r);
        EXPECT_EQ(f.sink.Text(), "\x1b&l12000X");
        EXPECT_EQ(f.Call(esc::kSetCopyCount, I16(0), &out), 1u);
        EXPECT_EQ(Word(out), 1u);
    }
}

TEST(Escapes, CopiesGoBeforeTheNextPage) {
    Fixture f(0, true);
    f.Call(esc::kControlRecords, {8, 0, 3, 0, 0, 0, 1, 0, 0, 0}, nullptr);
    ASSERT_TRUE(StreamStartDoc(f.r, u"x"));
    ASSERT_TRUE(StreamStartPage(f.r));
    ASSERT_TRUE(StreamSendPage(f.r));
    // Between pages the copies belong to page 2.
    std::vector<uint8_t> out(4);
    f.Call(esc::kSetCopyCount, I16(3), &out);
    ASSERT_TRUE(StreamStartPage(f.r));
    ASSERT_TRUE(StreamSendPage(f.r));
    ASSERT_TRUE(StreamEndDoc(f.r));
    const auto s = vemfread::Walk(f.sink.bytes);
    ASSERT_TRUE(s.ok) << s.error;
    ASSERT_EQ(s.pages.size(), 2u);
    ASSERT_EQ(s.pages[1].records.front().type, vemf::kPrivateBlock);
    EXPECT_EQ(s.pages[1].records.front().bytes[8 + 6], 3);
}

TEST(Escapes, AttachedBlockAfterPage1sRecordGoesToPage2) {
    Fixture f(0, true);
    f.Call(esc::kControlRecords, {8, 0, 1, 0, 0, 0, 7, 0, 0, 0}, nullptr);
    ASSERT_TRUE(StreamStartDoc(f.r, u"x"));
    ASSERT_TRUE(StreamStartPage(f.r));
    EXPECT_EQ(f.Call(esc::kAttachControlRecords, {}, nullptr), 1u);
    ASSERT_TRUE(StreamSendPage(f.r));
    ASSERT_TRUE(StreamStartPage(f.r));
    ASSERT_TRUE(StreamSendPage(f.r));
    ASSERT_TRUE(StreamEndDoc(f.r));
    const auto s = vemfread::Walk(f.sink.bytes);
    ASSERT_TRUE(s.ok) << s.error;
    ASSERT_EQ(s.pages.size(), 2u);
    EXPECT_EQ(s.pages[1].records.front().type, vemf::kPrivateBlock);
    EXPECT_EQ(s.pages[0].records.back().type, vemf::kPageTrailer);
}

TEST(Escapes, DrawingRequests) {
    Fixture f(0, true);
    std::vector<uint8_t> out(36);
    // A frame on paper code 672 is outside the frame papers: kind 0 and the scale.
    f.r.geometry.paperCodeAsked = 672;
    f.r.stream->f.frameEnableA = 1;
    f.r.stream->f.frameCodeA = 9;
    EXPECT_EQ(f.Call(esc::kFrameAtStart, {}, &out), 1u);
    esc::DrawRequest d;
    std::memcpy(&d, out.data(), 36);
    EXPECT_EQ(d.kind, 0);
    EXPECT_FLOAT_EQ(d.scale, 2.56f);
    // On a frame paper: no document yet gives -1, then the code, and the
    // request stays open until its closing escape.
    f.r.geometry.paperCodeAsked = 650;
    EXPECT_EQ(f.Call(esc::kFrameAtStart, {}, &out), kMinus1);
    ASSERT_TRUE(StreamStartDoc(f.r, u"x"));
    EXPECT_EQ(f.Call(esc::kFrameAtStart, {}, &out), 1u);
    std::memcpy(&d, out.data(), 36);
    EXPECT_EQ(d.kind, 9);
    EXPECT_EQ(d.width, 2450u);
    EXPECT_EQ(d.halfHeight, 1600u);
    EXPECT_EQ(d.resolution, 300);
    EXPECT_EQ(f.r.stream->drawRequestOpen, 1u);
    EXPECT_EQ(f.Call(esc::kFrameAtStartDone, {}, nullptr), 1u);
    EXPECT_EQ(f.r.stream->drawRequestOpen, 0u);
    // Overlays by page parity.
    f.r.stream->f.overlayEnabled = 2;
    f.r.stream->f.overlayParityMode = 1;
    f.r.stream->f.overlayCodeFirst = 4;
    f.r.stream->f.overlayCodeOther = 5;
    EXPECT_EQ(f.Call(esc::kOverlayAtStart, {}, &out), 1u);
    EXPECT_EQ(out[0], 4);  // the page to come is page 1
}

// The watermarks the record chose answer the overlay requests of both
// bodies: the flag puts the watermark under the page (5000) or over it
// (5002); the placement switch picks by odd and even pages instead of the
// first and the other pages.
TEST(Escapes, OverlayRequestsAnswerTheRecordsWatermarks) {
    struct Case {
        uint8_t placement, flag;
        uint32_t page;  // the page the request comes on
        uint16_t atStart, atEnd;
    } const cases[] = {
        {0, 1, 1, 3, 0}, {0, 1, 2, 7, 0}, {0, 1, 3, 7, 0}, {0, 0, 1, 0, 3},
        {0, 0, 2, 0, 7}, {1, 1, 3, 3, 0}, {1, 1, 4, 7, 0}, {1, 0, 3, 0, 3},
    };
    for (const bool stream : {true, false})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(stream) + " placement " + std::to_string(c.placement) + " flag " +
                         std::to_string(c.flag) + " page " + std::to_string(c.page));
            auto dm = Devmode(0, stream);
            dm.watermarkPlacement = c.placement;
            dm.watermarkFlag = c.flag;
            dm.watermarkId1 = 3;
            dm.watermarkId2 = 7;
            DeviceRecord r;
            ASSERT_TRUE(RecordFromDevmode(r, dm));
            DecideOutputMode(r, dm);
            ASSERT_TRUE(AllocateBuffers(r, false));
            ASSERT_TRUE(StreamEnable(r, 1));
            CaptureSink sink;
            r.sink = &sink;
            // The request's page is open.
            if (stream) {
                ASSERT_TRUE(StreamStartDoc(r, u"x"));
                for (uint32_t p = 1; p <= c.page; ++p) {
                    if (p > 1) {
                        ASSERT_TRUE(StreamSendPage(r));
                    }
                    ASSERT_TRUE(StreamStartPage(r));
                }
            } else {
                r.jobState = kJobOpen | kJobPageOpen;
                r.pageCount = c.page;
            }
            std::vector<uint8_t> out(36);
            for (const auto& [query, close, kind] : {std::tuple{esc::kOverlayAtStart, esc::kOverlayAtStartDone, c.atStart},
                                                     std::tuple{esc::kOverlayAtEnd, esc::kOverlayAtEndDone, c.atEnd}}) {
                std::fill(out.begin(), out.end(), 0xEE);
                ASSERT_EQ(Escape(r, query, 0, nullptr, 36, out.data()), 1u) << query;
                esc::DrawRequest d;
                std::memcpy(&d, out.data(), 36);
                EXPECT_EQ(d.kind, kind) << query;
                EXPECT_EQ(r.stream->drawRequestOpen, kind ? 1u : 0u) << query;
                if (kind) {
                    EXPECT_EQ(Escape(r, close, 0, nullptr, 0, nullptr), 1u);
                }
            }
        }
}

TEST(Escapes, ManualDuplexQuery) {
    Fixture f(4, true);
    f.r.featureWords[2] = 0x0800;
    f.r.duplex = 2;
    f.r.devmode->dm.dmDuplex = 2;
    std::vector<uint8_t> out(16);
    ASSERT_TRUE(StreamStartDoc(f.r, u"x"));
    ASSERT_TRUE(StreamStartPage(f.r));
    EXPECT_EQ(f.Call(esc::kManualDuplexQuery, {}, &out), 0u);  // one page
    ASSERT_TRUE(StreamSendPage(f.r));
    ASSERT_TRUE(StreamStartPage(f.r));
    EXPECT_EQ(f.Call(esc::kManualDuplexQuery, {}, &out), 2u);
    esc::ManualDuplexAnswer a;
    std::memcpy(&a, out.data(), 16);
    EXPECT_EQ(a.resolution, 300u);
    EXPECT_EQ(a.width, 2450u);
    EXPECT_EQ(a.height, 3200u);
}

// A packed one-bit DIB of w x h with its two colours.
std::vector<uint8_t> Dib(int32_t w, int32_t h) {
    std::vector<uint8_t> b(40 + 8 + ((w + 31) / 32 * 4) * h, 0);
    const uint32_t size = 40;
    const uint16_t planes = 1, bpp = 1;
    std::memcpy(b.data(), &size, 4);
    std::memcpy(b.data() + 4, &w, 4);
    std::memcpy(b.data() + 8, &h, 4);
    std::memcpy(b.data() + 12, &planes, 2);
    std::memcpy(b.data() + 14, &bpp, 2);
    return b;
}

TEST(Escapes, InstructionPagePlacement) {
    struct Case {
        bool landscape;
        int32_t x, y;
    } const cases[] = {
        // Portrait: 300 x 150 pixels on a 2450 x 3200 page; x centred, y a
        // quarter of the free height (not of the width).
        {false, (2450 - 300) / 2, (3200 - 150) / 4},
        // Landscape pages are turned upright first: the same place.
        {true, (2450 - 300) / 2, (3200 - 150) / 4},
    };
    for (const auto& c : cases) {
        Fixture f(0, true);
        f.r.featureWords[2] = 0x0800;
        f.r.devmode->dm.dmDuplex = 2;
        f.r.devmode->separatePages = 1;
        if (c.landscape) {
            f.r.stamp = kStampLandscape;
            std::swap(f.r.geometry.printableWidth, f.r.geometry.printableLength);
            std::swap(f.r.geometry.width, f.r.geometry.length);
        }
        f.Call(esc::kControlRecords, {8, 0, 1, 0, 0, 0, 0, 0, 8, 0, 3, 0, 0, 0, 2, 0, 0, 0}, nullptr);
        ASSERT_TRUE(StreamStartDoc(f.r, u"x"));
        for (int p = 0; p < 2; ++p) ASSERT_TRUE(StreamStartPage(f.r) && StreamSendPage(f.r));
        EXPECT_EQ(f.Call(esc::kInstructionPage, Dib(200, 100), nullptr), 1u);
        ASSERT_TRUE(StreamEndDoc(f.r));
        const auto s = vemfread::Walk(f.sink.bytes);
        ASSERT_TRUE(s.ok) << s.error;
        ASSERT_EQ(s.pages.size(), 3u);
        const auto& page = s.pages[2];
        EXPECT_EQ(page.FindTag(vemf::kTagOrientation)->Value(), 1u);
        EXPECT_EQ(page.FindTag(vemf::kTagCopies)->Value(), 1u);
        // Its own private block, with controls 1 and 3 at 1; the kept block is unchanged.
        ASSERT_EQ(page.records.front().type, vemf::kPrivateBlock);
        EXPECT_EQ(page.records.front().bytes[8 + 6], 1);
        EXPECT_EQ(page.records.front().bytes[8 + 8 + 6], 1);
        EXPECT_EQ(f.r.stream->privateBlock[8 + 6], 2);
        const vemfread::Record* image = nullptr;
        for (const auto& r : page.records)
            if (r.type == vemf::kStretchDIBits) image = &r;
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(static_cast<int32_t>(image->U32(24)), c.x);
        EXPECT_EQ(static_cast<int32_t>(image->U32(28)), c.y);
        EXPECT_EQ(image->U32(76), 300u);
        EXPECT_EQ(image->U32(80), 150u);
        EXPECT_EQ(image->bytes.size(), 84u + Dib(200, 100).size());
    }
    // A DIB whose sizes promise more than it holds.
    Fixture f(0, true);
    ASSERT_TRUE(StreamStartDoc(f.r, u"x"));
    auto bad = Dib(200, 100);
    bad.resize(bad.size() - 1);
    EXPECT_EQ(f.Call(esc::kInstructionPage, bad, nullptr), kMinus1);
}

TEST(Escapes, InconsistentSizesAnswerMinus1) {
    Fixture s4(4, true), s0(0, true);
    std::vector<uint8_t> out4(4), out1260(1260);
    // 16379: the first record's size reaches past the input.
    std::vector<uint8_t> in = U32(0);
    auto rec = U32(106);
    in.insert(in.end(), rec.begin(), rec.end());
    auto big = U32(5000);
    in.insert(in.end(), big.begin(), big.end());
    in.resize(40);
    EXPECT_EQ(s4.Call(esc::kSamePageSetup, in, &out4), kMinus1);
    EXPECT_EQ(s4.Call(esc::kSamePageSetup, std::vector<uint8_t>(6), &out4), kMinus1);
    // 16381 and 16382: the leading size must be the input's.
    std::vector<uint8_t> dms(4 + 1256);
    auto wrong = U32(4 + 2 * 1256);
    std::memcpy(dms.data(), wrong.data(), 4);
    EXPECT_EQ(s0.Call(esc::kFirstDevmode, dms, &out1260), kMinus1);
    auto right = U32(4 + 1256);
    std::memcpy(dms.data(), right.data(), 4);
    EXPECT_EQ(s0.Call(esc::kFirstDevmode, dms, &out1260), 1u);
    EXPECT_EQ(s0.Call(esc::kSameDevmodeSetup, dms, &out4), kMinus1);
    // The other language family answers 0.
    EXPECT_EQ(s4.Call(esc::kFirstDevmode, dms, &out1260), 0u);
    EXPECT_EQ(s0.Call(esc::kSamePageSetup, in, &out4), 0u);
}

TEST(Escapes, PageGeometry) {
    Fixture f(0, true);
    auto dm = Devmode(0, true);
    dm.dm.dmPrintQuality = -2;  // low
    dm.resolutions[2] = 0;      // no low entry: the next higher quality
    dm.resolutions[1] = 600;
    dm.dm.dmDefaultSource = 7;
    std::vector<uint8_t> in(1256);
    std::memcpy(in.data(), &dm, 1256);
    const uint16_t words[6] = {100, 200, 300, 400, 10, 20};  // sizes, extents, left, top
    std::memcpy(in.data() + 1020, words, 12);
    std::vector<uint8_t> out(32);
    ASSERT_EQ(f.Call(esc::kPageGeometry, in, &out), 1u);
    esc::PageGeometry g;
    std::memcpy(&g, out.data(), 32);
    EXPECT_EQ(g.value[0], 100u);
    EXPECT_EQ(g.value[2], 10u);
    EXPECT_EQ(g.value[3], 20u);
    EXPECT_EQ(g.value[4], 300u + 10 - 1);
    EXPECT_EQ(g.value[5], 400u + 20 - 1);
    EXPECT_EQ(g.defaultSource, 7);
    EXPECT_EQ(g.resolution, 600u);
    std::vector<uint8_t> shortOut(31);
    EXPECT_EQ(f.Call(esc::kPageGeometry, in, &shortOut), kMinus1);
}

TEST(Escapes, PassthroughIsCutToItsInput) {
    Fixture f(4, true);
    ASSERT_TRUE(StreamStartDoc(f.r, u"x"));
    ASSERT_TRUE(StreamStartPage(f.r));
    std::vector<uint8_t> in = {200, 0, 'a', 'b', 'c'};  // claims 200 bytes, holds 3
    EXPECT_EQ(f.Call(esc::kPassthrough, in, nullptr), 3u);
    EXPECT_EQ(f.Call(esc::kPassthrough, {0, 0}, nullptr), kMinus1);
    ASSERT_TRUE(StreamSendPage(f.r));
    ASSERT_TRUE(StreamEndDoc(f.r));
    const auto s = vemfread::Walk(f.sink.bytes);
    ASSERT_TRUE(s.ok) << s.error;
    bool found = false;
    for (const auto& r : s.pages[0].records)
        if (r.type == vemf::kPassthrough) {
            found = true;
            EXPECT_EQ(r.bytes.size(), 23u);
            EXPECT_EQ(std::string(r.bytes.end() - 3, r.bytes.end()), "abc");
        }
    EXPECT_TRUE(found);
}

TEST(Escapes, NetConvertRecordIsAToken) {
    Fixture f(0, false);
    EXPECT_EQ(f.Call(esc::kSetNetConvert, U32(0x1234), nullptr), 1u);
    std::vector<uint8_t> out(4);
    EXPECT_EQ(f.Call(esc::kGetNetConvert, {}, &out), 1u);
    EXPECT_EQ(Word(out), 0x1234u);
    EXPECT_EQ(f.Call(esc::kDriverLevel, {}, &out), 1u);
    EXPECT_EQ(Word(out), 566u);
    std::vector<uint8_t> tech(3);
    SetLastError(0);
    EXPECT_EQ(f.Call(esc::kGetTechnology, {}, &tech), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}


// The finishing library's senders on page records of a walked stream.
class PageRecordSenders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(StreamStartDoc(f.r, u"x"));
        for (int p = 0; p < 3; ++p) ASSERT_TRUE(StreamStartPage(f.r) && StreamSendPage(f.r));
        ASSERT_TRUE(StreamEndDoc(f.r));
        walked = vemfread::Walk(f.sink.bytes);
        ASSERT_TRUE(walked.ok) << walked.error;
        for (const auto& page : walked.pages) records.push_back(page.PageRecord()->bytes);
    }
    // Sets the first uint32 of `tag` in a page record's bytes.
    static void SetTag(std::vector<uint8_t>& rec, uint32_t tag, uint32_t value, size_t index = 0) {
        for (size_t at = Word(rec, 16); at + 8 <= rec.size(); at += Word(rec, at + 4))
            if (Word(rec, at) == tag) {
                std::memcpy(rec.data() + at + 8 + 4 * index, &value, 4);
                return;
            }
        FAIL() << "no tag " << tag;
    }
    static uint32_t TagOf(const std::vector<uint8_t>& rec, uint32_t tag, size_t index = 0) {
        for (size_t at = Word(rec, 16); at + 8 <= rec.size(); at += Word(rec, at + 4))
            if (Word(rec, at) == tag) return Word(rec, at + 8 + 4 * index);
        return 0xDEADu;
    }
    // {uint32 total; records...}
    static std::vector<uint8_t> Pack(const std::vector<std::vector<uint8_t>>& recs) {
        std::vector<uint8_t> in(4);
        for (const auto& r : recs) in.insert(in.end(), r.begin(), r.end());
        const uint32_t total = static_cast<uint32_t>(in.size());
        std::memcpy(in.data(), &total, 4);
        return in;
    }
    Fixture f{4, true};
    vemfread::Stream walked;
    std::vector<std::vector<uint8_t>> records;
};

TEST_F(PageRecordSenders, NormaliseTurnsALandscapePage) {
    auto rec = records[0];
    ASSERT_EQ(rec.size(), vemf::kPageRecordSizeStream);
    SetTag(rec, vemf::kTagOrientation, 2);
    SetTag(rec, vemf::kTagCopies, 7);
    const uint32_t left = TagOf(rec, vemf::kTagPrintable, 0), top = TagOf(rec, vemf::kTagPrintable, 1);
    const uint32_t width = TagOf(rec, vemf::kTagPaperExtent, 2), height = TagOf(rec, vemf::kTagPaperExtent, 3);
    const auto in = Pack({rec});
    std::vector<uint8_t> out(in.size());
    ASSERT_EQ(f.Call(esc::kNormalisePage, in, &out), 1u);
    const std::vector<uint8_t> page(out.begin() + 4, out.end());
    EXPECT_EQ(TagOf(page, vemf::kTagOrientation), 1u);
    EXPECT_EQ(TagOf(page, vemf::kTagCopies), 1u);
    EXPECT_EQ(TagOf(page, vemf::kTagPrintable, 0), top);
    EXPECT_EQ(TagOf(page, vemf::kTagPrintable, 1), left);
    EXPECT_EQ(TagOf(page, vemf::kTagPaperExtent, 2), height);
    EXPECT_EQ(TagOf(page, vemf::kTagPaperExtent, 3), width);
    // An output smaller than the input: 0; a record of another size: -1.
    std::vector<uint8_t> small(in.size() - 1);
    EXPECT_EQ(f.Call(esc::kNormalisePage, in, &small), 0u);
    auto bad = in;
    bad[4 + 4] ^= 1;
    EXPECT_EQ(f.Call(esc::kNormalisePage, bad, &out), kMinus1);
}

TEST_F(PageRecordSenders, MergeKeepsTheFirstRecordWithTheOthersValues) {
    SetTag(records[1], 28, 1);
    SetTag(records[0], 21, 5);
    SetTag(records[1], 21, 9);
    SetTag(records[2], 21, 3);
    const auto in = Pack(records);
    std::vector<uint8_t> out(4 + records[0].size());
    ASSERT_EQ(f.Call(esc::kMergePages, in, &out), 1u);
    EXPECT_EQ(Word(out), 4u + records[0].size());
    const std::vector<uint8_t> page(out.begin() + 4, out.end());
    EXPECT_EQ(TagOf(page, 28), 1u);
    EXPECT_EQ(TagOf(page, 21), 3u);
    EXPECT_EQ(Word(page, 8), 1u) << "the first page's number";
    // The leading size, a record cut short, no room for the first record.
    auto wrong = in;
    wrong[0] ^= 4;
    EXPECT_EQ(f.Call(esc::kMergePages, wrong, &out), kMinus1);
    auto cut = in;
    cut.resize(cut.size() - 4);
    const uint32_t total = static_cast<uint32_t>(cut.size());
    std::memcpy(cut.data(), &total, 4);
    EXPECT_EQ(f.Call(esc::kMergePages, cut, &out), kMinus1);
    std::vector<uint8_t> small(4 + records[0].size() - 1);
    EXPECT_EQ(f.Call(esc::kMergePages, in, &small), kMinus1);
    EXPECT_EQ(f.Call(esc::kMergePages, std::vector<uint8_t>(4), &out), kMinus1);
    // Other languages do not merge.
    Fixture f0(0, true);
    EXPECT_EQ(f0.Call(esc::kMergePages, in, &out), 0u);
}

}  // namespace
}  // namespace pclrend
