// The test-side PCL XL reader: faults of form it must report, and pages it
// must render, on streams written by hand from the public format.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pclread/pclread.h"

namespace pclread {
namespace {

using Bytes = std::vector<uint8_t>;

// A small writer of hand-made streams.
struct S {
    Bytes b;
    S& raw(std::initializer_list<uint8_t> v) {
        b.insert(b.end(), v);
        return *this;
    }
    S& text(std::string_view t) {
        b.insert(b.end(), t.begin(), t.end());
        return *this;
    }
    S& ub(uint8_t v, uint8_t a) { return raw({0xC0, v, 0xF8, a}); }
    S& u16(uint16_t v, uint8_t a) { return raw({0xC1, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), 0xF8, a}); }
    S& xy(int16_t x, int16_t y, uint8_t a, uint8_t tag = 0xD3) {
        return raw({tag, static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(y),
                    static_cast<uint8_t>(y >> 8), 0xF8, a});
    }
    S& rxy(float x, float y, uint8_t a) {
        uint8_t fx[4], fy[4];
        std::memcpy(fx, &x, 4);
        std::memcpy(fy, &y, 4);
        return raw({0xD5, fx[0], fx[1], fx[2], fx[3], fy[0], fy[1], fy[2], fy[3], 0xF8, a});
    }
    S& box(uint16_t x1, uint16_t y1, uint16_t x2, uint16_t y2, uint8_t a = 0x42) {
        raw({0xE1});
        for (uint16_t v : {x1, y1, x2, y2}) raw({static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
        return raw({0xF8, a});
    }
    S& arr(std::string_view t, uint8_t a) {
        raw({0xC8, 0xC0, static_cast<uint8_t>(t.size())});
        text(t);
        return raw({0xF8, a});
    }
    S& op(uint8_t o) { return raw({o}); }
    S& data(const Bytes& d) {
        const uint32_t n = static_cast<uint32_t>(d.size());
        raw({0xFA, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
             static_cast<uint8_t>(n >> 24)});
        b.insert(b.end(), d.begin(), d.end());
        return *this;
    }
};

// PJL entry, stream header, a 100-unit session, and one letter page in grey.
S Start() {
    S s;
    s.text("\x1b%-12345X@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL XL;2;0;Comment test\n");
    s.xy(100, 100, 0x89, 0xD1).ub(0, 0x86).ub(0, 0x8F).op(0x41).ub(0, 0x88).ub(1, 0x82).op(0x48);
    return s;
}
S& Page(S& s) { return s.ub(0, 0x28).ub(0, 0x25).ub(0, 0x34).op(0x43).ub(1, 0x03).op(0x6A); }
S& End(S& s) { return s.u16(1, 0x31).op(0x44).op(0x49).op(0x42).text("\x1b%-12345X"); }

Job ReadJob(const Bytes& b) { return Read(b); }

std::string AllErrors(const Job& j) {
    std::string all;
    for (const auto& e : j.errors) all += e + "\n";
    return all;
}

TEST(XlReader, AWellFormedPageReadsWithoutFaults) {
    S s = Start();
    Page(s).ub(0, 0x09).op(0x63).ub(0, 0x05).op(0x79).box(10, 20, 30, 40).op(0xA0);
    End(s);
    const Job j = ReadJob(s.b);
    EXPECT_TRUE(j.Ok()) << AllErrors(j);
    ASSERT_EQ(j.xl.pages.size(), 1u);
    const GreyPage& p = j.xl.pages[0];
    EXPECT_EQ(p.width, 850);
    EXPECT_EQ(p.height, 1100);
    EXPECT_EQ(p.At(20, 30), 0);
    EXPECT_EQ(p.At(9, 30), 255);
    EXPECT_EQ(p.At(31, 30), 255);
    EXPECT_EQ(p.At(20, 41), 255);
    EXPECT_EQ(j.xl.protocol, "2;0");
    EXPECT_EQ(j.uelCount, 2u);
}

TEST(XlReader, FaultsOfFormAreReported) {
    struct Case {
        const char* name;
        std::function<void(S&)> body;  // inside a page
        const char* error;
    };
    const std::vector<Case> cases = {
        {"value without attribute", [](S& s) { s.raw({0xC0, 0x01}).op(0x6E); }, "a value without its attribute"},
        {"attribute without value", [](S& s) { s.raw({0xF8, 0x46}).op(0x6E); }, "attribute without a value"},
        {"unknown attribute", [](S& s) { s.ub(1, 0x7E).op(0x6E); }, "unknown attribute"},
        {"attribute the operator does not take", [](S& s) { s.ub(1, 0x46).u16(3, 0x4B).op(0x6E); },
         "SetFillMode does not take PenWidth"},
        {"missing attribute", [](S& s) { s.op(0x7B); }, "SetROP lacks ROP3"},
        {"unknown data type", [](S& s) { s.raw({0xC7, 0x00}); }, "unknown data type tag"},
        {"unknown operator", [](S& s) { s.op(0xBF); }, "unknown operator"},
        {"wrong data type", [](S& s) { s.u16(2, 0x8C).op(0x5C).data({1, 2}); }, "attribute StreamDataLength with data type 193"},
        {"embedded data without an operator", [](S& s) { s.data({1, 2}); }, "embedded data without an operator"},
        {"points data of the wrong length",
         [](S& s) { s.xy(0, 0, 0x4C).op(0x6B).u16(2, 0x4D).ub(3, 0x50).op(0x9B).data({1, 0, 2, 0}); },
         "is not 2 points"},
        {"image rows out of order",
         [](S& s) {
             s.xy(0, 0, 0x4C).op(0x6B);
             s.ub(0, 0x64).ub(2, 0x62).u16(4, 0x6C).u16(2, 0x6B).xy(4, 2, 0x67, 0xD1).op(0xB0);
             s.u16(1, 0x6D).u16(1, 0x63).ub(0, 0x65).op(0xB1).data({0, 0, 0, 0}).op(0xB2);
         },
         "StartLine 1 where line 0 follows"},
        {"image block with the wrong byte count",
         [](S& s) {
             s.xy(0, 0, 0x4C).op(0x6B);
             s.ub(0, 0x64).ub(2, 0x62).u16(3, 0x6C).u16(1, 0x6B).xy(3, 1, 0x67, 0xD1).op(0xB0);
             s.u16(0, 0x6D).u16(1, 0x63).ub(0, 0x65).op(0xB1).data({0, 0, 0}).op(0xB2);
         },
         "holds 3 bytes, not 4"},
        {"image ended early",
         [](S& s) {
             s.xy(0, 0, 0x4C).op(0x6B);
             s.ub(0, 0x64).ub(2, 0x62).u16(4, 0x6C).u16(2, 0x6B).xy(4, 2, 0x67, 0xD1).op(0xB0);
             s.u16(0, 0x6D).u16(1, 0x63).ub(0, 0x65).op(0xB1).data({0, 0, 0, 0}).op(0xB2);
         },
         "image ends after 1 of 2 rows"},
        {"malformed run length",
         [](S& s) {
             s.xy(0, 0, 0x4C).op(0x6B);
             s.ub(0, 0x64).ub(2, 0x62).u16(4, 0x6C).u16(1, 0x6B).xy(4, 1, 0x67, 0xD1).op(0xB0);
             s.u16(0, 0x6D).u16(1, 0x63).ub(1, 0x65).op(0xB1).data({5, 1}).op(0xB2);
         },
         "run-length data malformed"},
        {"indexed image without a palette",
         [](S& s) { s.ub(1, 0x64).ub(0, 0x62).u16(8, 0x6C).u16(1, 0x6B).xy(8, 1, 0x67, 0xD1).op(0xB0); },
         "palette of 0 entries for 2"},
        {"pattern selected before its definition", [](S& s) { s.raw({0xC3, 0x05, 0x00, 0xF8, 0x08}).op(0x63); },
         "pattern 5 selected before it was defined"},
        {"grey in an RGB space", [](S& s) { s.ub(2, 0x03).op(0x6A).ub(0, 0x09).op(0x63); },
         "GrayLevel outside a grey colour space"},
        {"PopGS without PushGS", [](S& s) { s.op(0x60); }, "PopGS without a PushGS"},
        {"data length past the end", [](S& s) { s.raw({0xC2, 1, 0, 0, 0, 0xF8, 0x8C}).op(0x5C).raw({0xFA, 0xFF, 0xFF, 0, 0}); },
         "runs past the end"},
    };
    for (const auto& c : cases) {
        S s = Start();
        Page(s);
        c.body(s);
        End(s);
        const Job j = ReadJob(s.b);
        EXPECT_NE(AllErrors(j).find(c.error), std::string::npos) << c.name << ":\n" << AllErrors(j);
    }
}

TEST(XlReader, StreamHeaderAndSessionFaults) {
    struct Case {
        const char* name;
        std::string job;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"big-endian binding", "@PJL ENTER LANGUAGE=PCLXL\n( HP-PCL XL;2;0;x\n", "big-endian"},
        {"not an XL header", "@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL 5;2;0\n", "is not \" HP-PCL XL;\""},
        {"no line feed", "@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL XL;2;0", "without its line feed"},
        {"unknown class", "@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL XL;9;9;x\n", "unknown protocol class 9;9"},
        {"page operator outside a page", "@PJL ENTER LANGUAGE=PCLXL\n) HP-PCL XL;2;0;x\n\x85", "NewPath outside a page"},
    };
    for (const auto& c : cases) {
        const Job j = ReadJob(Bytes(c.job.begin(), c.job.end()));
        EXPECT_NE(AllErrors(j).find(c.error), std::string::npos) << c.name << ":\n" << AllErrors(j);
    }
}

TEST(XlReader, FillRulesOfADoublyWoundSquare) {
    // An outer square and an inner one drawn the same way round: the inner
    // one is filled by non-zero winding and left empty by even-odd.
    for (uint8_t rule : {0, 1}) {
        S s = Start();
        Page(s).ub(0, 0x05).op(0x79).ub(0, 0x09).op(0x63).ub(rule, 0x46).op(0x6E).op(0x85);
        auto square = [&](int16_t a, int16_t z) {
            s.xy(a, a, 0x4C).op(0x6B);
            const Bytes pts = {static_cast<uint8_t>(z), 0, static_cast<uint8_t>(a), 0, static_cast<uint8_t>(z), 0,
                               static_cast<uint8_t>(z), 0, static_cast<uint8_t>(a), 0, static_cast<uint8_t>(z), 0};
            s.u16(3, 0x4D).ub(3, 0x50).op(0x9B).data(pts).op(0x84);
        };
        square(10, 90);
        square(30, 70);
        s.op(0x86);
        End(s);
        const Job j = ReadJob(s.b);
        ASSERT_TRUE(j.Ok()) << AllErrors(j);
        ASSERT_EQ(j.xl.pages.size(), 1u);
        EXPECT_EQ(j.xl.pages[0].At(20, 50), 0) << "rule " << int(rule);
        EXPECT_EQ(j.xl.pages[0].At(50, 50), rule == 0 ? 0 : 255) << "rule " << int(rule);
        EXPECT_EQ(j.xl.pages[0].At(95, 50), 255);
    }
}

TEST(XlReader, ImagesScaleToTheirDestinationThroughThePalette) {
    // A 1-bit, 2-entry grey palette image of 8 x 2, drawn 16 x 4 at (100, 200)
    // after a page origin of (10, 10); its rows come RLE-coded in two blocks.
    S s = Start();
    Page(s).xy(10, 10, 0x2A).op(0x75);
    s.ub(1, 0x03).ub(2, 0x02).raw({0xC8, 0xC0, 0x02, 0xFF, 0x40, 0xF8, 0x06}).op(0x6A);
    s.xy(100, 200, 0x4C).op(0x6B);
    s.ub(1, 0x64).ub(0, 0x62).u16(8, 0x6C).u16(2, 0x6B).xy(16, 4, 0x67, 0xD1).op(0xB0);
    s.u16(0, 0x6D).u16(1, 0x63).ub(1, 0x65).op(0xB1).data({0x00, 0xF0, 0xFE, 0x00});  // 11110000 then 3 zero bytes
    s.u16(1, 0x6D).u16(1, 0x63).ub(0, 0x65).op(0xB1).data({0x0F, 0, 0, 0});
    s.op(0xB2);
    End(s);
    const Job j = ReadJob(s.b);
    ASSERT_TRUE(j.Ok()) << AllErrors(j);
    const GreyPage& p = j.xl.pages.at(0);
    EXPECT_EQ(p.At(110, 210), 0x40) << "index 1, first row, left half";
    EXPECT_EQ(p.At(118, 211), 0xFF) << "index 0";
    EXPECT_EQ(p.At(110, 212), 0xFF) << "second row, left half";
    EXPECT_EQ(p.At(125, 213), 0x40);
    EXPECT_EQ(p.At(126, 213), 255) << "ends at 16 pixels";
    EXPECT_EQ(p.At(110, 214), 255) << "ends at 4 rows";
}

TEST(XlReader, PatternsClipsAndStreams) {
    S s = Start();
    // A session stream that paints a black 10 x 10 square at the origin.
    s.arr("OVL", 0x8B).op(0x5B);
    S inner;
    inner.text(") HP-PCL XL;2;0;\n").ub(0, 0x09).op(0x63).ub(0, 0x05).op(0x79).box(0, 0, 10, 10).op(0xA0);
    s.raw({0xC2, static_cast<uint8_t>(inner.b.size()), 0, 0, 0, 0xF8, 0x8C}).op(0x5C).data(inner.b).op(0x5D);
    Page(s);
    // A 2 x 2 checker pattern, 1 pixel per cell, as the brush of a rectangle.
    s.ub(0, 0x64).ub(2, 0x62).u16(2, 0x6C).u16(2, 0x6B).xy(2, 2, 0x67, 0xD1).raw({0xC3, 0x07, 0x00, 0xF8, 0x69})
        .ub(1, 0x68).op(0xB3);
    s.u16(0, 0x6D).u16(2, 0x63).ub(0, 0x65).op(0xB4).data({0, 255, 0, 0, 255, 0, 0, 0}).op(0xB5);
    s.raw({0xC3, 0x07, 0x00, 0xF8, 0x08}).op(0x63).ub(0, 0x05).op(0x79);
    // Clipped to x < 40.
    s.op(0x85).box(0, 0, 40, 1000, 0x42).op(0xA1).ub(0, 0x53).op(0x62);
    s.box(20, 20, 60, 60).op(0xA0);
    s.op(0x69);
    s.arr("OVL", 0x8B).op(0x5E);
    s.arr("HELD", 0x8B).op(0x5E);
    End(s);
    const Job j = ReadJob(s.b);
    ASSERT_TRUE(j.Ok()) << AllErrors(j);
    const GreyPage& p = j.xl.pages.at(0);
    EXPECT_EQ(p.At(20, 20), 0);
    EXPECT_EQ(p.At(21, 20), 255);
    EXPECT_EQ(p.At(21, 21), 0);
    EXPECT_EQ(p.At(44, 44), 255) << "outside the clip";
    EXPECT_EQ(p.At(5, 5), 0) << "the stream held in the session ran";
    ASSERT_EQ(j.xl.notes.size(), 1u) << "a stream the session lacks is noted, not failed";
    EXPECT_NE(j.xl.notes[0].find("HELD"), std::string::npos);
}

TEST(XlReader, PageScaleAndOriginPlaceAPageInItsCell) {
    S s = Start();
    Page(s).xy(100, 50, 0x2A).op(0x75).rxy(0.5f, 0.25f, 0x2B).op(0x77);
    s.ub(0, 0x09).op(0x63).ub(0, 0x05).op(0x79).box(100, 100, 200, 200).op(0xA0);
    s.op(0x74).box(0, 0, 4, 4).op(0xA0);
    End(s);
    const Job j = ReadJob(s.b);
    ASSERT_TRUE(j.Ok()) << AllErrors(j);
    const GreyPage& p = j.xl.pages.at(0);
    EXPECT_EQ(p.At(150, 75), 0) << "(100, 100) scaled by (0.5, 0.25) from (100, 50)";
    EXPECT_EQ(p.At(199, 99), 0);
    EXPECT_EQ(p.At(200, 75), 255);
    EXPECT_EQ(p.At(150, 100), 255);
    EXPECT_EQ(p.At(2, 2), 0) << "the default CTM is back";
}

}  // namespace
}  // namespace pclread
