#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/output.h"
#include "render/tests/capture_sink.h"

namespace pclrend {
namespace {

std::string Format(std::string_view format, std::initializer_list<FmtArg> args) {
    char buffer[64];
    const size_t n = FormatCommand(buffer, format, args);
    EXPECT_EQ(n, std::string(buffer).size());
    return std::string(buffer, n);
}

TEST(FormatCommand, Conversions) {
    struct Case {
        const char* format;
        FmtArg arg;
        const char* expected;
    } const cases[] = {
        {"%d", -42, "-42"},
        {"%l", static_cast<int32_t>(0x80000000u), "-2147483648"},
        {"%u", 0xFFFFFFFFu, "4294967295"},
        {"%X", 0, "0"},
        {"%X", 0x1A0, "1A0"},
        {"%x", 0xBEEFu, "BEEF"},
        {"%f", 0xFFFFFF80u, "-0.5"},
        {"%f", 0x180, "1.5"},
        {"%f", 0x100, "1"},
        {"%f", 0x101, "1.004"},
        {"%f", 0x1C0, "1.75"},
        {"%b", 7, "true"},
        {"%b", 0, "false"},
        {"%c", 'Q', "Q"},
        {"%s", "PCL", "PCL"},
        {"100%%", 0, "100%"},
        {"%q", 0, "q"},
        {"end%", 0, "end"},
        {"\x1b*p%dX", 120, "\x1b*p120X"},
    };
    for (const auto& c : cases) EXPECT_EQ(Format(c.format, {c.arg}), c.expected) << c.format;
}

TEST(FormatCommand, CutsToTheBufferAndTerminates) {
    char small[5];
    const size_t n = FormatCommand(small, "@PJL %s", {"LONGER"});
    EXPECT_EQ(n, 4u);
    EXPECT_STREQ(small, "@PJL");
}

TEST(PclEscape, BuildsSignedAndUnsigned) {
    char b[32];
    ASSERT_EQ(PclEscape(b, '*', 'p', 'X', 120), 7u);
    EXPECT_STREQ(b, "\x1b*p120X");
    PclEscape(b, '&', 'l', 'H', -3);
    EXPECT_STREQ(b, "\x1b&l-3H");
    PclEscapeUnsigned(b, '*', 'c', 'A', 0xFFFFFFFFu);
    EXPECT_STREQ(b, "\x1b*c4294967295A");
    SizeText(b, 1205);
    EXPECT_STREQ(b, "12.05");
    SizeText(b, 900);
    EXPECT_STREQ(b, "9.00");
}

class OutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(AllocateBuffers(record, true));
        record.sink = &sink;
        record.jobState = kJobOpen;
    }
    DeviceRecord record;
    CaptureSink sink;
};

TEST_F(OutputTest, FullBufferIsWrittenInPiecesBeforeTheAppend) {
    std::vector<uint8_t> big(65500, 'a');
    for (size_t done = 0; done < big.size(); done += 32750) SpoolWrite(record, big.data() + done, 32750);
    EXPECT_EQ(record.mainFill, 65500u);
    EXPECT_TRUE(sink.pieces.empty());
    std::vector<uint8_t> more(100, 'b');
    SpoolWrite(record, more.data(), 100);
    ASSERT_EQ(sink.pieces.size(), 32u);
    for (size_t i = 0; i < 31; ++i) EXPECT_EQ(sink.pieces[i], 2048u);
    EXPECT_EQ(sink.pieces[31], 2012u);
    EXPECT_EQ(record.mainFill, 100u);
    EXPECT_EQ(SpoolFlush(record), 100u);
    EXPECT_EQ(sink.bytes.size(), 65600u);
    EXPECT_EQ(sink.bytes.back(), 'b');
}

// An append longer than one append may be goes as several, whole and in
// order.
TEST_F(OutputTest, LongAppendsArriveWhole) {
    for (int32_t size : {32767, 32768, 40000, 65534, 100000}) {
        sink.bytes.clear();
        std::vector<uint8_t> data(static_cast<size_t>(size));
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 251);
        SpoolWrite(record, data.data(), size);
        SpoolFlush(record);
        EXPECT_EQ(sink.bytes, data) << size;
    }
}

TEST_F(OutputTest, NothingIsKeptWithoutADocument) {
    record.jobState = kJobIdle;
    SpoolWrite(record, "abc");
    EXPECT_EQ(record.mainFill, 0u);
}

TEST_F(OutputTest, FailedOrShortWriteLosesTheDocument) {
    struct Case {
        uint32_t failAfter;  // pieces written in full before the bad one
        uint32_t badPieceWrites;
    } const cases[] = {{0, 0}, {1, 0}, {2, 100}, {0, 2047}};
    for (const auto& c : cases) {
        DeviceRecord r;
        ASSERT_TRUE(AllocateBuffers(r, false));
        CaptureSink s;
        s.goodPieces = c.failAfter;
        s.badPieceWrites = c.badPieceWrites;
        r.sink = &s;
        r.jobState = kJobOpen;
        std::vector<uint8_t> data(5000, 'x');
        SpoolWrite(r, data.data(), 5000);
        EXPECT_EQ(SpoolFlush(r), 0u);
        EXPECT_EQ(r.jobState, kJobIdle);
        EXPECT_TRUE(r.documentLost);
        // Later output of the document is dropped, not written after a hole.
        const size_t before = s.bytes.size();
        SpoolWrite(r, "more");
        SpoolFlush(r);
        EXPECT_EQ(s.bytes.size(), before);
        EXPECT_EQ(s.pieces.size(), c.failAfter + 1) << "no write after the failed piece";
    }
}

TEST_F(OutputTest, DeferredBufferFollowsTheMainOne) {
    SpoolWrite(record, "main");
    record.deferredActive = true;
    SpoolWrite(record, "deferred");
    record.deferredActive = false;
    SpoolWrite(record, "+");
    DeferredFlush(record);
    EXPECT_EQ(sink.Text(), "main+deferred");
}

TEST_F(OutputTest, CursorMovesAreSentOnlyWhenTheyChange) {
    MoveToX(record, 300);
    MoveToX(record, 300);
    MoveToY(record, 20);
    MoveToX(record, -12);
    SpoolFlush(record);
    // A signed value is a relative move in PCL: a negative target goes
    // through 0.
    EXPECT_EQ(sink.Text(), "\x1b*p300X\x1b*p20Y\x1b*p0X\x1b*p-12X");
}

TEST_F(OutputTest, MappedMovesPlaceThePageInItsCell) {
    record.pagesPerSheet = 2;
    record.geometry.printableWidth = 1000;
    record.geometry.printableLength = 2000;
    record.drawnWidth = 500;
    record.drawnHeight = 1000;
    Cell cell{40, 1100, 540, 2100};
    record.currentCell = &cell;
    EXPECT_EQ(MapX(record, 200), 140);
    EXPECT_EQ(MapY(record, 1000), 1600);
    MoveToYMapped(record, 0);
    SpoolFlush(record);
    EXPECT_EQ(sink.Text(), "\x1b*p1100Y");
}

}  // namespace
}  // namespace pclrend
