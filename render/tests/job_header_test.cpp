#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pclread/pclread.h"
#include "render/job_header.h"
#include "render/output.h"
#include "render/tests/capture_sink.h"

namespace pclrend {
namespace {

// A monochrome 600 dpi letter page on a model without colour or finisher.
zq::PrivateDevmode BaseDevmode() {
    zq::PrivateDevmode dm{};
    dm.privateVersion = zq::kPrivateDevmodeVersion;
    dm.dm.dmOrientation = DMORIENT_PORTRAIT;
    dm.dm.dmPaperSize = DMPAPER_LETTER;
    dm.dm.dmCopies = 1;
    dm.dm.dmDefaultSource = 1;
    dm.dm.dmPrintQuality = 600;
    dm.dm.dmColor = DMCOLOR_MONOCHROME;
    dm.dm.dmDuplex = DMDUP_SIMPLEX;
    dm.dm.dmDitherType = 3;
    dm.printerLanguage = 0;
    dm.option231 = 3;  // density
    dm.darknessLevel = 4;
    std::strcpy(dm.printerName, "Zelquor M600");
    std::strcpy(dm.userName, "ann");
    std::strcpy(dm.computerName, "DESK1");
    auto& g = dm.paperFormats[0];
    g.paperCodeAsked = g.paperCodeUsed = DMPAPER_LETTER;
    g.orientation = 1;
    g.width = g.usedWidth = 5100;
    g.length = g.usedLength = 6600;
    g.printableWidth = g.usedPrintableWidth = 4900;
    g.printableLength = g.usedPrintableLength = 6400;
    g.leftMargin = g.usedLeftMargin = 100;
    g.topMargin = g.usedTopMargin = 100;
    dm.paperFormats[1] = g;
    std::swap(dm.paperFormats[1].width, dm.paperFormats[1].length);
    return dm;
}

struct HeaderCase {
    const char* name;
    std::function<void(zq::PrivateDevmode&, DeviceRecord&)> setup;
    std::vector<std::string> lines;  // PJL lines after the two comments, before RESOLUTION
};

const std::vector<std::string> kCommon = {
    "@PJL SET VCOLORCORRECTION = OFF",
    "@PJL SET VLINEDETAIL = OFF",
    "@PJL SET VIMAGEBRIGHTNESS = 0",
    "@PJL SET VIMAGECONTRAST = 0",
    "@PJL SET VPARM : PCL VFONTCOMPATIBILITY = PCL5",
};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class JobHeaderTest : public ::testing::Test {
protected:
    std::string Header(zq::PrivateDevmode dm, const std::function<void(zq::PrivateDevmode&, DeviceRecord&)>& setup) {
        DeviceRecord r;
        setup(dm, r);
        EXPECT_TRUE(RecordFromDevmode(r, dm));
        r.printerInfoReadable = true;
        r.documentName = "Report \"Q3\"";
        setup(*r.devmode, r);  // record-side values the DEVMODE does not carry
        EXPECT_TRUE(AllocateBuffers(r, true));
        CaptureSink sink;
        r.sink = &sink;
        r.jobState = kJobOpen;
        r.pageCount = r.sheetPages = 1;
        EXPECT_GE(JobHeader(r), 0);
        SpoolFlush(r);
        return sink.Text();
    }
};

TEST_F(JobHeaderTest, GoldenHeadersForDevmodeCases) {
    const std::vector<std::string> plain = {"@PJL SET PAGEPROTECT = OFF", "@PJL SET DENSITY = 3"};
    const std::string jobInfo = "@PJL VJOBINFO USERID = \"ann\" HOSTID = \"DESK1\"";
    const std::vector<HeaderCase> cases = {
        {"plain", [](auto&, auto&) {}, Join(Join(plain, kCommon), {jobInfo})},
        {"economy and tray media",
         [](zq::PrivateDevmode& dm, DeviceRecord&) {
             dm.pairSecond = 2;
             dm.slotValues[1] = 3;
             dm.slotValues[7] = 2;  // a slot without a tray variable gets no line
         },
         Join(Join({"@PJL SET PAGEPROTECT = OFF", "@PJL SET DENSITY = 3", "@PJL SET ECONOMODE = TONERSAVER",
                    "@PJL SET VTRAY2PAPERTYPE = CARDSTOCK"},
                   kCommon),
              {jobInfo})},
        {"collation",
         [](zq::PrivateDevmode& dm, DeviceRecord&) {
             dm.model.flags396 = 0x04;
             dm.collateAllowed = 1;
             dm.dm.dmCollate = 1;
         },
         Join(Join(Join(plain, {"@PJL SET VCOLLATION = ON"}), kCommon), {jobInfo})},
        {"finishing: bin, staple, three-hole punch",
         [](zq::PrivateDevmode& dm, DeviceRecord&) {
             dm.model.flags396 = 0x3000;  // byte 573: 0x20 bin and punch, 0x10 finisher
             dm.paperFormats[0].flags = 0x02;
             dm.option448 = 1;
             dm.option449 = 2;
             dm.option450 = 4;
         },
         Join(Join(plain, {"@PJL SET VCOLORCORRECTION = OFF", "@PJL SET VLINEDETAIL = OFF", "@PJL SET OUTBIN = UPPER",
                           "@PJL SET VSTAPLE = ON", "@PJL SET VPUNCH = ON", "@PJL SET VHOLEPUNCHMODE = 3HOLE",
                           "@PJL SET VIMAGEBRIGHTNESS = 0", "@PJL SET VIMAGECONTRAST = 0",
                           "@PJL SET VPARM : PCL VFONTCOMPATIBILITY = PCL5", "@PJL SET VBLANKPAGES = PRINT"}),
              {jobInfo})},
        {"held job, confidential, three copies",
         [](zq::PrivateDevmode& dm, DeviceRecord&) {
             dm.model.flags400 = 0x400;
             dm.printerCopies = 1;
             dm.dm.dmCopies = 3;
             dm.option1082 = 2;
             std::strcpy(dm.pin849, "4711");
         },
         Join(Join(Join(plain, kCommon), {jobInfo}),
              {"@PJL SET QTY = 3", "@PJL SET HOLD = ON", "@PJL SET HOLDTYPE = PRIVATE", "@PJL SET HOLDKEY = \"4711\"",
               "@PJL SET VDUPLICATEHELDJOBS = DELETE", "@PJL SET USERNAME = \"ann\"",
               "@PJL SET JOBNAME = \"Report *Q3*\""})},
        {"held job, one copy: no QTY",
         [](zq::PrivateDevmode& dm, DeviceRecord&) {
             dm.model.flags400 = 0x2000;
             dm.printerCopies = 1;
             dm.option1082 = 1;
             dm.option651 = 1;
         },
         Join(Join(Join(plain, kCommon), {jobInfo}),
              {"@PJL SET HOLD = PROOF", "@PJL SET VDUPLICATEHELDJOBS = SAVE", "@PJL SET USERNAME = \"ann\"",
               "@PJL SET JOBNAME = \"Report *Q3*\""})},
        {"two pages per sheet",
         [](zq::PrivateDevmode& dm, DeviceRecord&) { dm.pagesPerSheet = 1; },
         Join(Join(plain, kCommon), {jobInfo})},
        {"account number and a quote in the user name",
         [](zq::PrivateDevmode& dm, DeviceRecord&) {
             dm.accountTracking = 1;
             std::strcpy(dm.accountId, "77-1");
             std::strcpy(dm.userName, "a\"nn");
         },
         Join(Join(plain, kCommon),
              {"@PJL VJOBINFO ACCOUNTNUMBER = \"77-1\" USERID = \"a*nn\" HOSTID = \"DESK1\""})},
    };
    for (const auto& c : cases) {
        const std::string job = Header(BaseDevmode(), c.setup);
        ASSERT_EQ(job.rfind("\x1b%-12345X@PJL COMMENT pclrend Version 1.0.0.23 for Windows 2000\n", 0), 0u) << c.name;
        auto read = pclread::Read({reinterpret_cast<const uint8_t*>(job.data()), job.size()});
        EXPECT_TRUE(read.Ok()) << c.name << ": " << (read.errors.empty() ? "" : read.errors.front());
        auto expected = Join({"@PJL COMMENT pclrend Version 1.0.0.23 for Windows 2000", "@PJL COMMENT Zelquor M600"},
                             c.lines);
        expected = Join(expected, {"@PJL SET RESOLUTION = 600", "@PJL SET TIMEOUT=0", "@PJL ENTER LANGUAGE=PCL"});
        EXPECT_EQ(read.pjl, expected) << c.name;
        const size_t pcl = job.find("@PJL ENTER LANGUAGE=PCL\n") + 24;
        EXPECT_EQ(job.substr(pcl, 16), "\x1b" "E\x1b&u600D\x1b*t600R") << c.name;
    }
}

TEST_F(JobHeaderTest, DensityLineForTheNamedModelsOnly) {
    for (const char* name : {"Zelquor R310 Black Only", "Zelquor R311"}) {
        auto job = Header(BaseDevmode(), [&](zq::PrivateDevmode& dm, DeviceRecord& r) {
            dm.model.flags400 = 0x08;
            std::strcpy(r.printerName, name);
        });
        EXPECT_EQ(job.find("@PJL SET DENSITY = 3\n") != std::string::npos, std::string(name) == "Zelquor R310 Black Only")
            << name;
    }
}

TEST_F(JobHeaderTest, PrivatePreambleOnlyWhenBothFlagsAreSet) {
    auto job = Header(BaseDevmode(), [](zq::PrivateDevmode& dm, DeviceRecord&) { dm.jobHeaderFlags = 0x42; });
    ASSERT_GE(job.size(), 8u);
    EXPECT_EQ(job.substr(0, 8), std::string("\x1b[K\x03\x00\x00\x31\x02", 8));
    EXPECT_EQ(job.find("@PJL"), std::string::npos);
    EXPECT_EQ(job.find("\x1b%-12345X"), std::string::npos);
}

TEST_F(JobHeaderTest, NoPjlLineWithoutTheUel) {
    auto job = Header(BaseDevmode(), [](zq::PrivateDevmode& dm, DeviceRecord&) { dm.jobHeaderFlags = 0x40; });
    EXPECT_EQ(job.find("@PJL"), std::string::npos);
    EXPECT_EQ(job.rfind("\x1b" "E\x1b&u600D", 0), 0u);
}

TEST_F(JobHeaderTest, SentOncePerDocument) {
    DeviceRecord r;
    auto dm = BaseDevmode();
    ASSERT_TRUE(RecordFromDevmode(r, dm));
    ASSERT_TRUE(AllocateBuffers(r, true));
    CaptureSink sink;
    r.sink = &sink;
    r.jobState = kJobOpen;
    r.pageCount = r.sheetPages = 1;
    JobHeader(r);
    r.pageCount = r.sheetPages = 2;
    JobHeader(r);
    SpoolFlush(r);
    auto read = pclread::Read(sink.bytes);
    EXPECT_EQ(read.uelCount, 1u);
    const std::string text = sink.Text();
    EXPECT_EQ(text.find("@PJL", text.find("ENTER LANGUAGE")), std::string::npos);
}

TEST(CleanName, ReplacesControlsAndQuotesAndCutsAtCharacters) {
    EXPECT_EQ(CleanName("a\"b\x01\tc", 1252, 40), "a*b*\tc");
    // "é" in code page 1252 is 0x82 in code page 850.
    EXPECT_EQ(CleanName("caf\xE9", 1252, 40), "caf\x82");
    // Shift-JIS text grows in UTF-8; the cut never splits a character.
    const std::string kanji = "\x93\xfa\x96\x7b";  // two characters
    const std::string utf8 = CleanName(kanji, 932, 4);
    EXPECT_EQ(utf8.size(), 3u);
    EXPECT_EQ(utf8, "\xE6\x97\xA5");
}

}  // namespace
}  // namespace pclrend
