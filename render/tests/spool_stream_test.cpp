#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/error.h"
#include "render/output.h"
#include "render/spool_stream.h"
#include "render/tests/capture_sink.h"
#include "render/tests/stream_devmode.h"
#include "vemfread/vemfread.h"

namespace pclrend {
namespace {

namespace vemf = zq::vemf;

zq::PrivateDevmode StreamDevmode(uint8_t language) {
    auto dm = StreamTestDevmode(language);
    std::strcpy(dm.userName, "ann");
    std::strcpy(dm.computerName, "desk");
    return dm;
}

class StreamTest : public ::testing::Test {
protected:
    void Make(uint8_t language, void (*tweak)(zq::PrivateDevmode&) = nullptr, DeviceRecord* into = nullptr) {
        DeviceRecord& r = into ? *into : rec;
        auto dm = StreamDevmode(language);
        if (tweak) tweak(dm);
        ASSERT_TRUE(RecordFromDevmode(r, dm));
        DecideOutputMode(r, dm);
        ASSERT_EQ(r.outputMode, 4);
        ASSERT_TRUE(AllocateBuffers(r, false));
        ASSERT_TRUE(StreamEnable(r, 1));
        r.sink = &sink;
    }
    vemfread::Stream Print(int pages, const char16_t* name = u"doc") {
        EXPECT_TRUE(StreamStartDoc(rec, name));
        for (int p = 0; p < pages; ++p) {
            EXPECT_TRUE(StreamStartPage(rec));
            EXPECT_TRUE(StreamSendPage(rec));
        }
        EXPECT_TRUE(StreamEndDoc(rec));
        return vemfread::Walk(sink.bytes);
    }
    uint32_t LastWord() const {
        uint32_t v = 0;
        std::memcpy(&v, sink.bytes.data() + sink.bytes.size() - 4, 4);
        return v;
    }
    DeviceRecord rec;
    CaptureSink sink;
};

TEST_F(StreamTest, EmptyPagesHaveTheirRecordsAndIndexInEveryLanguage) {
    for (uint8_t language : {0, 4}) {
        SCOPED_TRACE(language);
        rec = DeviceRecord{};
        sink = CaptureSink{};
        Make(language);
        const auto s = Print(3);
        ASSERT_TRUE(s.ok) << s.error;
        EXPECT_EQ(s.streamLanguage, language == 4);
        EXPECT_EQ(LastWord(), 36u * 3 + 16);
        ASSERT_EQ(s.pages.size(), 3u);
        for (const auto& page : s.pages) {
            ASSERT_NE(page.PageRecord(), nullptr);
            EXPECT_EQ(page.PageRecord()->bytes.size(), language == 4 ? vemf::kPageRecordSizeStream : vemf::kPageRecordSizeOther);
            // The nine state records and the trailer.
            EXPECT_EQ(page.entry.summary[6], 10u);
            EXPECT_EQ(page.entry.summary[2], 1u);  // black and white
            EXPECT_EQ(page.entry.summary[3], 2450u * 3200);
        }
        // The private block belongs to page 1 in other languages; language 4 has none.
        size_t blocks = 0;
        for (const auto& r : s.records) blocks += r.type == vemf::kPrivateBlock;
        EXPECT_EQ(blocks, language == 4 ? 0u : 1u);
        EXPECT_EQ(s.pages[0].records.front().type, language == 4 ? vemf::kPageRecord : vemf::kPrivateBlock);
        // In pieces of at most 65535 bytes.
        for (uint32_t piece : sink.pieces) EXPECT_LE(piece, kStreamPiece);
    }
}

TEST_F(StreamTest, SendPageWithoutStartPageStillWritesThePage) {
    Make(4);
    ASSERT_TRUE(StreamStartDoc(rec, nullptr));
    ASSERT_TRUE(StreamSendPage(rec));
    ASSERT_TRUE(StreamSendPage(rec));
    ASSERT_TRUE(StreamEndDoc(rec));
    const auto s = vemfread::Walk(sink.bytes);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(s.pages.size(), 2u);
    EXPECT_EQ(s.FindDocumentTag(vemf::kTagDocumentName), nullptr);
}

TEST_F(StreamTest, HooksOutsideADocument) {
    Make(4);
    EXPECT_FALSE(StreamStartPage(rec));
    EXPECT_FALSE(StreamSendPage(rec));
    EXPECT_TRUE(StreamEndDoc(rec));
    EXPECT_TRUE(sink.bytes.empty());
    ASSERT_TRUE(StreamStartDoc(rec, nullptr));
    SetLastError(0);
    EXPECT_FALSE(StreamStartDoc(rec, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NO_SPOOL_SPACE);
}

TEST_F(StreamTest, DocumentNameIsTheLastComponentWithin27Bytes) {
    struct Case {
        const char16_t* name;
        uint32_t codePage;
        std::string expected;
    } const cases[] = {
        {u"C:\\letters\\to ann.txt", 1252, "to ann.txt"},
        {u"plain name", 1252, "plain name"},
        {u"a name that is much longer than the field allows", 1252, "a name that is much longer "},
        {u"ends in a slash\\", 1252, ""},
        {u"quote \"and\ttab", 1252, "quote *and\ttab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.expected));
        EXPECT_EQ(StreamDocumentName(c.name, c.codePage), c.expected);
    }
    // A double-byte name is cut before a character that would not fit whole,
    // then re-coded to UTF-8 (three bytes a character here).
    std::u16string wide(14, u'\u3042');
    const std::string cut = StreamDocumentName(wide, 932);
    EXPECT_EQ(cut.size() % 3, 0u);
    EXPECT_EQ(cut.size(), 13u * 3);
}

TEST_F(StreamTest, DocumentTagCarriesTheNameAndItsZero) {
    Make(0);
    const auto s = Print(1, u"C:\\dir\\report.txt");
    ASSERT_TRUE(s.ok) << s.error;
    const auto* tag = s.FindDocumentTag(vemf::kTagDocumentName);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(std::string(tag->payload.begin(), tag->payload.end()), std::string("report.txt\0", 11));
    const auto* strings = s.FindDocumentTag(vemf::kTagUserStrings);
    ASSERT_NE(strings, nullptr);
    EXPECT_EQ(std::string(strings->payload.begin(), strings->payload.end()), std::string("\0ann\0desk\0", 10));
}

TEST_F(StreamTest, NupTagsFollowThePagesPerSheet) {
    struct Case {
        uint8_t perSheet;
        bool written;
        uint32_t cols, rows;
    } const cases[] = {{1, false, 0, 0}, {2, true, 1, 2}, {4, true, 2, 2}, {5, true, 1, 5}, {6, true, 3, 2},
                       {9, true, 3, 3}, {12, true, 4, 3}, {16, true, 4, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.perSheet));
        rec = DeviceRecord{};
        sink = CaptureSink{};
        Make(0);
        rec.pagesPerSheet = c.perSheet;
        const auto s = Print(1);
        ASSERT_TRUE(s.ok) << s.error;
        const auto* nup = s.FindDocumentTag(vemf::kTagNup);
        EXPECT_EQ(nup != nullptr, c.written);
        EXPECT_EQ(s.FindDocumentTag(vemf::kTagNupFrame) != nullptr, c.written);
        EXPECT_EQ(s.FindDocumentTag(vemf::kTagLayoutClass) != nullptr, c.written);
        if (!nup) continue;
        ASSERT_EQ(nup->payload.size(), 20u);
        uint32_t w[5];
        std::memcpy(w, nup->payload.data(), 20);
        EXPECT_EQ(w[0], c.perSheet);
        EXPECT_EQ(w[1], c.cols);
        EXPECT_EQ(w[2], c.rows);
    }
}

TEST_F(StreamTest, ManualDuplexCodeOfTag9) {
    struct Case {
        uint8_t language;
        uint8_t duplex;
        uint8_t binding;
        uint16_t paperCode;
        uint8_t byte397;
        uint32_t code;
    } const cases[] = {
        {0, 2, 0, 0, 0, 0x150000},    {0, 2, 2, 0, 0, 0x110000},    {0, 2, 0, 28, 0x08, 0x180000},
        {0, 3, 0, 0, 0, 0x50000},     {0, 3, 2, 0, 0, 0x10000},     {0, 3, 0, 29, 0x10, 0x80000},
        {0, 3, 0, 29, 0x01, 0x50000}, {0, 1, 2, 0, 0, 1},           {4, 2, 2, 0, 0, 2},
        {4, 3, 0, 28, 0x08, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.language) << "/" << int(c.duplex) << "/" << int(c.binding));
        rec = DeviceRecord{};
        sink = CaptureSink{};
        Make(c.language);
        rec.featureWords[2] = 0x1800;  // byte 573: the host turns the sheets
        rec.duplexFlags = 0;
        rec.duplex = c.duplex;
        rec.stream->f.bindingEdge = c.binding;
        rec.devmode->model.modelCode = c.paperCode;
        rec.devmode->model.flags396 = static_cast<uint16_t>(c.byte397 << 8);
        const auto s = Print(1);
        ASSERT_TRUE(s.ok) << s.error;
        const auto* tag = s.FindDocumentTag(vemf::kTagDuplex);
        ASSERT_NE(tag, nullptr);
        EXPECT_EQ(tag->Value(), c.code);
        EXPECT_NE(s.FindDocumentTag(vemf::kTagManualDuplex), nullptr);
    }
}

TEST_F(StreamTest, AFailedWriteLosesTheDocument) {
    Make(4);
    ASSERT_TRUE(StreamStartDoc(rec, u"doc"));
    ASSERT_TRUE(StreamStartPage(rec));
    // Enough page records to pass one piece, with the sink failing from the
    // second piece on.
    sink.goodPieces = 1;
    int sent = 0;
    bool failed = false;
    for (int p = 0; p < 400 && !failed; ++p, ++sent) {
        failed = !StreamSendPage(rec);
        if (!failed) failed = !StreamStartPage(rec);
    }
    ASSERT_TRUE(failed);
    const size_t written = sink.bytes.size();
    SetLastError(0);
    EXPECT_FALSE(StreamSendPage(rec));
    EXPECT_EQ(GetLastError(), ERROR_PRINT_CANCELLED);
    SetLastError(0);
    EXPECT_FALSE(StreamEndDoc(rec));
    EXPECT_EQ(GetLastError(), ERROR_PRINT_CANCELLED);
    EXPECT_EQ(sink.bytes.size(), written);
}

TEST_F(StreamTest, EndDocAfterAFailedFlushAnswersFalse) {
    Make(0);
    ASSERT_TRUE(StreamStartDoc(rec, u"doc"));
    ASSERT_TRUE(StreamStartPage(rec));
    sink.goodPieces = 0;
    SetLastError(0);
    EXPECT_FALSE(StreamEndDoc(rec));
    EXPECT_EQ(GetLastError(), ERROR_PRINT_CANCELLED);
    EXPECT_EQ(rec.jobState, kJobIdle);
}

TEST_F(StreamTest, ResetOnPage2KeepsOneStreamAndOneIndex) {
    Make(4);
    ASSERT_TRUE(StreamStartDoc(rec, u"doc"));
    ASSERT_TRUE(StreamStartPage(rec));
    ASSERT_TRUE(StreamSendPage(rec));
    DeviceRecord next;
    Make(4, [](zq::PrivateDevmode& d) { d.dm.dmPaperSize = DMPAPER_A4; }, &next);
    StreamReset(rec, next);
    EXPECT_NE(next.changeFlags & 0x40, 0);
    ASSERT_TRUE(StreamStartPage(next));
    ASSERT_TRUE(StreamSendPage(next));
    ASSERT_TRUE(StreamEndDoc(next));
    const auto s = vemfread::Walk(sink.bytes);
    ASSERT_TRUE(s.ok) << s.error;
    ASSERT_EQ(s.pages.size(), 2u);
    size_t headers = 0;
    for (const auto& r : s.records) headers += r.type == vemf::kDocumentHeader;
    EXPECT_EQ(headers, 1u);
    EXPECT_EQ(s.pages[0].FindTag(vemf::kTagPaperSize)->Value(), uint32_t(DMPAPER_LETTER));
    EXPECT_EQ(s.pages[1].FindTag(vemf::kTagPaperSize)->Value(), uint32_t(DMPAPER_A4));
}

TEST_F(StreamTest, The65536thPageIsRefusedWithAValidIndex) {
    Make(4);
    ASSERT_TRUE(StreamStartDoc(rec, u"doc"));
    ASSERT_TRUE(StreamStartPage(rec));
    ASSERT_TRUE(StreamSendPage(rec));
    // The pages in between are alike: take the counter to the last one.
    rec.stream->index.resize(kMaxStreamPages, rec.stream->index[0]);
    rec.pageCount = kMaxStreamPages - 1;
    rec.stream->index.back() = {};
    ASSERT_TRUE(StreamStartPage(rec));
    ASSERT_TRUE(StreamSendPage(rec));
    SetLastError(0);
    EXPECT_FALSE(StreamStartPage(rec));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_TRUE(StreamEndDoc(rec));
    EXPECT_EQ(LastWord(), 36u * kMaxStreamPages + 16);
}

TEST(StreamWalker, RefusesBrokenStreams) {
    // A good two-page stream, then one fault at a time.
    DeviceRecord r;
    CaptureSink sink;
    auto dm = StreamDevmode(4);
    ASSERT_TRUE(RecordFromDevmode(r, dm));
    DecideOutputMode(r, dm);
    ASSERT_TRUE(StreamEnable(r, 1));
    r.sink = &sink;
    StreamStartDoc(r, u"x");
    for (int p = 0; p < 2; ++p) StreamStartPage(r), StreamSendPage(r);
    StreamEndDoc(r);
    ASSERT_TRUE(vemfread::Walk(sink.bytes).ok);
    struct Case {
        const char* name;
        void (*hurt)(std::vector<uint8_t>&);
    } const cases[] = {
        {"magic", [](std::vector<uint8_t>& b) { b[0] = 'X'; }},
        {"cut", [](std::vector<uint8_t>& b) { b.pop_back(); }},
        {"index size", [](std::vector<uint8_t>& b) { b[b.size() - 4] ^= 1; }},
        {"record size", [](std::vector<uint8_t>& b) { b[8] = 0xFF; }},
        {"page position", [](std::vector<uint8_t>& b) { b[b.size() - 4 - 36 - 36 + 0] ^= 4; }},
        {"summary", [](std::vector<uint8_t>& b) { b[b.size() - 4 - 36 + 4] ^= 1; }},
    };
    for (const auto& c : cases) {
        auto bytes = sink.bytes;
        c.hurt(bytes);
        EXPECT_FALSE(vemfread::Walk(bytes).ok) << c.name;
    }
}

}  // namespace
}  // namespace pclrend
