#include <gtest/gtest.h>

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
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
                           "@PJL SET VSTAPLE = 1", "@PJL SET VPUNCH = ON", "@PJL SET VHOLEPUNCHMODE = 3HOLE",
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

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool HasKeyword(const std::vector<std::string>& lines, const std::string& keyword) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(keyword + " =", 0) == 0; });
}

// An empty word leaves its line out; the same settings with a word send it.
// The reader refuses a SET line without a value, so every case is also read.
TEST_F(JobHeaderTest, PjlLinesWithAndWithoutValues) {
    struct Case {
        const char* name;
        std::function<void(zq::PrivateDevmode&, DeviceRecord&)> setup;
        std::vector<std::string> present;
        std::vector<std::string> absent;  // keywords without a line
    };
    auto colour = [](zq::PrivateDevmode& dm) { dm.model.flags400 |= 0x08; };
    const std::vector<Case> cases = {
        {"colour saver off by default", [&](auto& dm, auto&) { colour(dm); }, {}, {"@PJL SET VCOLORSAVER"}},
        {"colour saver on",
         [&](auto& dm, auto&) {
             colour(dm);
             dm.options1244[4] = 2;
         },
         {"@PJL SET VCOLORSAVER = ON"}, {}},
        {"manual colour correction without choices",
         [&](auto& dm, auto&) {
             colour(dm);
             dm.option655 = 5;
         },
         {"@PJL SET VCOLORCORRECTION = MANUAL"},
         {"@PJL SET VMANUALCOLORRGBTEXT", "@PJL SET VMANUALCOLORRGBGRAPHICS", "@PJL SET VMANUALCOLORRGBIMAGE"}},
        {"manual colour correction, two choices",
         [&](auto& dm, auto&) {
             colour(dm);
             dm.option655 = 5;
             dm.options1230[0] = 2;
             dm.options1230[1] = 1;
         },
         {"@PJL SET VMANUALCOLORRGBTEXT = VIVID", "@PJL SET VMANUALCOLORRGBGRAPHICS = OFF"},
         {"@PJL SET VMANUALCOLORRGBIMAGE"}},
        {"image enhance by a class without a word",
         [](auto& dm, auto&) {
             dm.model.flags400 = 0x01;
             dm.resolutionFeature = 2;
         },
         {}, {"@PJL SET VIMAGEENHANCE"}},
        {"image enhance by class 0", [](auto& dm, auto&) { dm.model.flags400 = 0x01; }, {"@PJL SET VIMAGEENHANCE = OFF"}, {}},
        {"page protect past its table", [](auto& dm, auto&) { dm.switch224 = 7; }, {}, {"@PJL SET PAGEPROTECT"}},
        {"page protect legal", [](auto& dm, auto&) { dm.switch224 = 1; }, {"@PJL SET PAGEPROTECT = LEGAL"}, {}},
    };
    for (const auto& c : cases) {
        const std::string job = Header(BaseDevmode(), c.setup);
        auto read = pclread::Read({reinterpret_cast<const uint8_t*>(job.data()), job.size()});
        EXPECT_TRUE(read.Ok()) << c.name << ": " << (read.errors.empty() ? "" : read.errors.front());
        for (const auto& line : c.present) EXPECT_TRUE(HasLine(read.pjl, line)) << c.name << ": " << line;
        for (const auto& keyword : c.absent) EXPECT_FALSE(HasKeyword(read.pjl, keyword)) << c.name << ": " << keyword;
    }
}

TEST(PclRead, RefusesAPjlSetLineWithoutAValue) {
    struct Case {
        const char* line;
        bool ok;
    } const cases[] = {
        {"@PJL SET VCOLORSAVER = ", false},
        {"@PJL SET VCOLORSAVER =", false},
        {"@PJL SET VCOLORSAVER", false},
        {"@PJL SET VCOLORSAVER = ON", true},
        {"@PJL SET TIMEOUT=0", true},
        {"@PJL SET VPARM : PCL VFONTCOMPATIBILITY = PCL5", true},
        {"@PJL SET JOBNAME = \"\"", true},
        {"@PJL COMMENT", true},
    };
    for (const auto& c : cases) {
        const std::string job = std::string("\x1b%-12345X") + c.line + "\n@PJL ENTER LANGUAGE=PCL\n\x1b" "E";
        auto read = pclread::Read({reinterpret_cast<const uint8_t*>(job.data()), job.size()});
        EXPECT_EQ(read.Ok(), c.ok) << c.line;
    }
}

// The screening word on colour models: by the screening table where the
// model has it (0x80), else by the images-only table, where values 0 and 1
// turn to images-only when an adjustment group asks for it.
TEST_F(JobHeaderTest, ScreeningWords) {
    struct Case {
        uint16_t flags400;
        uint8_t value;
        bool imagesOnly;
        const char* line;  // nullptr: no line
    } const cases[] = {
        {0x08, 0, false, nullptr},
        {0x08, 1, false, "@PJL SET VSCREENING = COLORGRADE"},
        {0x08, 2, false, "@PJL SET VSCREENING = IMAGESONLY"},
        {0x08, 3, false, "@PJL SET VSCREENING = IET"},
        {0x08, 0, true, "@PJL SET VSCREENING = IMAGESONLY"},
        {0x08, 1, true, "@PJL SET VSCREENING = IMAGESONLY"},
        {0x08, 3, true, "@PJL SET VSCREENING = IET"},
        {0x88, 0, false, "@PJL SET VSCREENING = COLORGRADE"},
        {0x88, 1, false, "@PJL SET VSCREENING = CONTONE"},
        {0x00, 2, false, nullptr},
    };
    for (const auto& c : cases) {
        const std::string job = Header(BaseDevmode(), [&](zq::PrivateDevmode& dm, DeviceRecord&) {
            dm.model.flags400 = c.flags400;
            dm.option1088 = c.value;
            if (c.imagesOnly) dm.adjustments[3] = 2;
        });
        auto read = pclread::Read({reinterpret_cast<const uint8_t*>(job.data()), job.size()});
        const std::string name = std::to_string(c.flags400) + "/" + std::to_string(c.value) + (c.imagesOnly ? " io" : "");
        EXPECT_TRUE(read.Ok()) << name;
        if (c.line) EXPECT_TRUE(HasLine(read.pjl, c.line)) << name;
        else EXPECT_FALSE(HasKeyword(read.pjl, "@PJL SET VSCREENING")) << name;
    }
}

// Staple words by the finisher: positions where the model has them, else
// the staple count (one or two).
TEST_F(JobHeaderTest, StapleWords) {
    struct Case {
        uint16_t flags398;  // byte 574 bit 0: positions
        uint8_t value;
        const char* line;
    } const cases[] = {
        {0, 0, nullptr}, {0, 1, "@PJL SET VSTAPLE = OFF"}, {0, 2, "@PJL SET VSTAPLE = 1"}, {0, 3, "@PJL SET VSTAPLE = 2"},
        {1, 2, nullptr}, {1, 4, "@PJL SET VSTAPLE = AUTO"}, {1, 7, "@PJL SET VSTAPLE = DUAL"},
    };
    for (const auto& c : cases) {
        const std::string job = Header(BaseDevmode(), [&](zq::PrivateDevmode& dm, DeviceRecord&) {
            dm.model.flags396 = 0x1000;  // byte 573 bit value 16: the finisher
            dm.model.flags398 = c.flags398;
            dm.paperFormats[0].flags = 0x02;
            dm.option449 = c.value;
        });
        auto read = pclread::Read({reinterpret_cast<const uint8_t*>(job.data()), job.size()});
        const std::string name = std::to_string(c.flags398) + "/" + std::to_string(c.value);
        EXPECT_TRUE(read.Ok()) << name;
        if (c.line) EXPECT_TRUE(HasLine(read.pjl, c.line)) << name;
        else EXPECT_FALSE(HasKeyword(read.pjl, "@PJL SET VSTAPLE")) << name;
    }
}

// Text in the printer's encoding back to UTF-16.
std::u16string Decode(const std::string& bytes, const char* charset) {
    iconv_t cd = iconv_open("UTF-16LE", charset);
    if (cd == reinterpret_cast<iconv_t>(-1)) return u"<no converter>";
    std::string in = bytes;
    std::string out(in.size() * 4 + 4, '\0');
    char* src = in.data();
    char* dst = out.data();
    size_t srcLeft = in.size(), dstLeft = out.size();
    const size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return u"<undecodable>";
    out.resize(out.size() - dstLeft);
    std::u16string text(out.size() / 2, u'\0');
    std::memcpy(text.data(), out.data(), out.size());
    return text;
}

// Printer and document names in the system's code page reach the printer
// whole: re-coded from the ANSI text of the record into the printer's
// encoding, read back from the job and decoded, they are the names given.
TEST_F(JobHeaderTest, NamesInTheSystemsCodePageRoundTrip) {
    struct Case {
        uint32_t codePage;
        const char* printerCharset;
        std::u16string printer;
        std::u16string document;
    } const cases[] = {
        {1250, "ISO-8859-2", u"Tiskárna Účtárna", u"Žluťoučký kůň úpěl"},
        {1251, "ISO-8859-5", u"Принтер бухгалтерии", u"Отчёт за квартал"},
        {932, "UTF-8", u"経理部のプリンター", u"四半期報告書"},
    };
    for (const auto& c : cases) {
        const std::string job = Header(BaseDevmode(), [&](zq::PrivateDevmode& dm, DeviceRecord& r) {
            dm.model.flags400 = 0x400;  // held jobs carry the document name
            dm.printerCopies = 1;
            r.ansiCodePage = c.codePage;
            const std::string printer = AnsiText(c.printer, c.codePage, 31);
            std::memset(r.printerName, 0, sizeof r.printerName);
            std::memcpy(r.printerName, printer.data(), printer.size());
            r.documentName = AnsiText(c.document, c.codePage, 255);
        });
        auto read = pclread::Read({reinterpret_cast<const uint8_t*>(job.data()), job.size()});
        EXPECT_TRUE(read.Ok()) << c.codePage;
        ASSERT_GE(read.pjl.size(), 2u);
        EXPECT_EQ(Decode(read.pjl[1].substr(std::strlen("@PJL COMMENT ")), c.printerCharset), c.printer) << c.codePage;
        const std::string prefix = "@PJL SET JOBNAME = \"";
        auto line = std::find_if(read.pjl.begin(), read.pjl.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
        ASSERT_NE(line, read.pjl.end()) << c.codePage;
        const std::string value = line->substr(prefix.size(), line->size() - prefix.size() - 1);
        EXPECT_EQ(Decode(value, c.printerCharset), c.document) << c.codePage;
    }
}

// Names longer than their field are cut between characters, in the ANSI
// text and again in the printer's encoding.
TEST(AnsiText, CutsBetweenCharacters) {
    const std::u16string kanji(20, u'報');  // two bytes each in code page 932
    const std::string ansi = AnsiText(kanji, 932, 31);
    EXPECT_EQ(ansi.size(), 30u);
    EXPECT_EQ(zq::AnsiToWide(ansi, 932), kanji.substr(0, 15));
    const std::string printer = CleanName(ansi, 932, 31);
    EXPECT_EQ(printer.size(), 30u);  // ten characters of three bytes
    EXPECT_EQ(Decode(printer, "UTF-8"), kanji.substr(0, 10));
    EXPECT_EQ(AnsiText(u"Ab\U0001F600c", 65001, 6), "Ab\xF0\x9F\x98\x80");  // a pair is one character
    EXPECT_EQ(AnsiText(u"Zpráva", 1250, 40), "Zpr\xE1va");
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

// Plain ASCII names reach the printer as they are from every system code
// page: read back through the printer's encoding, every printable ASCII
// character is itself.
TEST(CleanName, AsciiIsItselfInEveryPrinterEncoding) {
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) ascii.push_back(static_cast<char>(c));
    std::u16string want;
    for (char c : ascii) want.push_back((c < 32 && c != '\t') || c == '"' ? u'*' : static_cast<char16_t>(c));
    const struct {
        uint32_t codePage;
        const char* printerCharset;
    } cases[] = {{1250, "ISO-8859-2"}, {1251, "ISO-8859-5"}, {1252, "CP850"}, {1253, "CP850"}, {1255, "CP850"},
                 {1258, "CP850"},      {932, "UTF-8"},       {936, "UTF-8"}, {949, "UTF-8"}, {950, "UTF-8"}};
    for (const auto& c : cases) EXPECT_EQ(Decode(CleanName(ascii, c.codePage, 200), c.printerCharset), want) << c.codePage;
}

}  // namespace
}  // namespace pclrend
