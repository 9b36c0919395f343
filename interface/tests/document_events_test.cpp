// The printing road: the document events a printer DC raises into the
// interface driver, with the engine's recording test driver standing in for
// the renderer and answering the private escapes from a table.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/escape_records.h"
#include "gdi/dc.h"
#include "gdi/engine.h"
#include "interface/document_events.h"
#include "interface/ui_utils.h"
#include "settings/devmode_ops.h"
#include "settings/printer_devmode.h"
#include "settings/watermarks.h"
#include "store/registry.h"
#include "installed_driver.h"
#include "test_driver/test_driver.h"

#ifndef ZQ_TEST_DRIVER
#define ZQ_TEST_DRIVER ""
#endif

namespace zq {
namespace {

constexpr size_t kPageCountAt = 682, kNoAccountStepAt = 705;

class DocumentEventsTest : public testing::InstalledDriver {
protected:
    void SetUp() override {
        InstalledDriver::SetUp();
        Install(ZQ_TEST_DRIVER);
        renderer_ = LoadLibraryA((std::string(testing::kDriverDirectory) + "pclrend.dll").c_str());
        ASSERT_NE(renderer_, nullptr) << LastLoadError();
        setEscapes_ = reinterpret_cast<PFN_TestDriverSetEscapes>(GetProcAddress(renderer_, "TestDriverSetEscapes"));
        log_ = reinterpret_cast<PFN_TestDriverLog>(GetProcAddress(renderer_, "TestDriverLog"));
        clear_ = reinterpret_cast<PFN_TestDriverClear>(GetProcAddress(renderer_, "TestDriverClear"));
        ASSERT_TRUE(setEscapes_ && log_ && clear_);
        clear_();
    }
    void TearDown() override {
        if (setEscapes_) setEscapes_(nullptr, 0);
        if (renderer_) FreeLibrary(renderer_);
        InstalledDriver::TearDown();
    }
    // The renderer's answers: level, page counter and the account byte.
    void Answers(uint32_t level, uint16_t pagesStarted, bool skipAccount, const PrivateDevmode* job = nullptr,
                 const esc::DrawRequest* startRequest = nullptr) {
        table_.clear();
        auto add = [&](uint32_t code, int32_t result, const void* bytes = nullptr, size_t size = 0) {
            auto& e = table_.emplace_back();
            std::memset(&e, 0, sizeof e);
            e.code = code;
            e.result = result;
            e.size = static_cast<ULONG>(size);
            if (bytes) std::memcpy(e.answer, bytes, size);
        };
        add(esc::kDriverLevel, 4, &level, 4);
        const uint32_t no = 0;
        add(esc::kWantsFaceNames, 4, &no, 4);
        std::vector<uint8_t> image(2076, 0);
        std::memcpy(&image[kPageCountAt], &pagesStarted, 2);
        image[kNoAccountStepAt] = skipAccount ? 1 : 0;
        add(esc::kRecordImage, 1, image.data(), image.size());
        // The renderer's job DEVMODE: the printer's record unless given.
        auto record = std::make_unique<PrivateDevmode>();
        if (job) {
            *record = *job;
        } else {
            HANDLE h = Open(u"Mira");
            GetPrinterDevmode(h, drvui_, *record, {}, 2);
            ClosePrinter(h);
        }
        add(esc::kJobDevmode, 1, record.get(), sizeof *record);
        add(esc::kCancelJob, 1);
        add(esc::kControlRecords, 1);
        add(esc::kAttachControlRecords, 1);
        std::vector<uint8_t> request(36, 0);  // nothing to draw
        for (uint32_t code : {esc::kOverlayAtStart, esc::kOverlayAtEnd, esc::kFrameAtStart, esc::kFrameAtEnd}) {
            if (code == esc::kOverlayAtStart && startRequest != nullptr)
                add(code, 36, startRequest, sizeof *startRequest);
            else
                add(code, 36, request.data(), request.size());
        }
        for (uint32_t code :
             {esc::kOverlayAtStartDone, esc::kOverlayAtEndDone, esc::kFrameAtStartDone, esc::kFrameAtEndDone})
            add(code, 1);
        add(esc::kManualDuplexQuery, 0);
        add(esc::kInstructionPage, 1);
        add(esc::kBlockAndNewPage, 1);
        setEscapes_(table_.data(), table_.size());
    }
    // The log as steps: hooks by name, escapes as their code ("?" before a
    // query's code), with the first input bytes where there are any.
    std::vector<std::string> Steps() {
        std::vector<std::string> out;
        std::istringstream in(log_());
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string word;
            words >> word;
            if (word == "Escape") {
                std::string code, cjIn, cjOut, bytes;
                words >> code >> cjIn >> cjOut >> bytes;
                if (code == "8") {
                    uint32_t asked = 0;
                    for (int i = 3; i >= 0; --i) asked = (asked << 8) | std::stoul(bytes.substr(2 * i, 2), nullptr, 16);
                    out.push_back("?" + std::to_string(asked));
                } else {
                    out.push_back(code + (bytes.empty() ? "" : " " + bytes));
                }
            } else if (word == "EnablePDEV" || word == "StartDoc" || word == "StartPage" || word == "SendPage" ||
                       word == "EndDoc" || word == "DisablePDEV") {
                out.push_back(word);
            }
        }
        return out;
    }
    HDC Dc(const char16_t* printer = u"Mira") { return CreateDCW(u"WINSPOOL", printer, nullptr, nullptr); }
    bool PrintOnePage(HDC dc) {
        DOCINFOW doc{sizeof(DOCINFOW), u"events", nullptr, nullptr, 0};
        return StartDocW(dc, &doc) > 0 && StartPage(dc) > 0 && EndPage(dc) > 0 && EndDoc(dc) > 0;
    }

    HMODULE renderer_ = nullptr;
    PFN_TestDriverSetEscapes setEscapes_ = nullptr;
    PFN_TestDriverLog log_ = nullptr;
    PFN_TestDriverClear clear_ = nullptr;
    std::vector<TestEscapeAnswer> table_;
};

TEST_F(DocumentEventsTest, ADocumentRaisesTheEventsInThePlatformsOrder) {
    Answers(566, 0, true);
    HDC dc = Dc();
    ASSERT_NE(dc, nullptr);
    ASSERT_TRUE(PrintOnePage(dc));
    DeleteDC(dc);
    const std::vector<std::string> golden = {
        "EnablePDEV",
        // CREATEDCPOST: the renderer's level, then no font families.
        "?5008", "?5010", "5008", "?5010", "?5011",
        "StartDoc",
        // STARTPAGE: the renderer's record and job DEVMODE, the control
        // records of the first page, the page-start passes (nothing to draw:
        // no closing escape), then the page starts. The list opens with its
        // 1532-byte header record of type 65.
        "5012", "5013", "?5015", "5015 fc054100", "?5000", "?5001", "5000", "?5004", "?5005", "5004",
        "StartPage",
        // ENDPAGE: the page-end passes before the page is sent.
        "?5002", "?5003", "5002", "?5006", "?5007", "5006",
        "SendPage",
        // ENDDOC: the instruction page is asked for before DrvEndDoc.
        "?2147483640", "?2147483639", "?2147483638", "2147483640",
        "EndDoc",
        "DisablePDEV",
    };
    EXPECT_EQ(Steps(), golden);
}

TEST_F(DocumentEventsTest, AResetDcSendsTheControlRecordsAndClosesTheExchange) {
    Answers(566, 0, true);
    HDC dc = Dc();
    ASSERT_NE(dc, nullptr);
    clear_();
    ASSERT_EQ(ResetDCW(dc, nullptr), dc);
    std::vector<std::string> escapes;
    for (const auto& step : Steps())
        if (step[0] == '?' || std::isdigit(static_cast<unsigned char>(step[0]))) escapes.push_back(step);
    const std::vector<std::string> golden = {"?5008", "?5010", "5008", "?5010", "?5011",
                                             "?5015", "5015 fc054100", "?5016", "5016"};
    EXPECT_EQ(escapes, golden);
    ASSERT_TRUE(PrintOnePage(dc));
    DeleteDC(dc);
}

TEST_F(DocumentEventsTest, ARendererBelowLevel560IsRefused) {
    struct Case {
        uint32_t level;
        bool created;
    } cases[] = {{559, false}, {560, true}, {566, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        Answers(c.level, 0, true);
        HDC dc = Dc();
        EXPECT_EQ(dc != nullptr, c.created);
        if (dc) DeleteDC(dc);
    }
}

TEST_F(DocumentEventsTest, ACancelledAccountStepTellsTheRendererAndDrawsNothing) {
    // Account tracking is on and no dialog library can ask for an id.
    HANDLE h = Open(u"Mira");
    auto job = std::make_unique<PrivateDevmode>();
    ASSERT_EQ(GetPrinterDevmode(h, drvui_, *job, {}, 2), 1u);
    ClosePrinter(h);
    job->accountTracking = 1;
    Answers(566, 0, false, job.get());
    HDC dc = Dc();
    ASSERT_NE(dc, nullptr);
    clear_();
    DOCINFOW doc{sizeof(DOCINFOW), u"events", nullptr, nullptr, 0};
    ASSERT_GT(StartDocW(dc, &doc), 0);
    ASSERT_GT(StartPage(dc), 0);
    const auto steps = Steps();
    const std::vector<std::string> golden = {"StartDoc", "5012",  "5013",  "5013 4d006900", "?5014",
                                             "5014 01000000", "?5015", "5015 fc054100", "StartPage"};
    EXPECT_EQ(steps, golden);
    EndPage(dc);
    EndDoc(dc);
    DeleteDC(dc);
}

TEST_F(DocumentEventsTest, LaterPagesNeitherAskNorSendControlRecords) {
    Answers(566, 1, false);
    HDC dc = Dc();
    ASSERT_NE(dc, nullptr);
    clear_();
    ASSERT_TRUE(PrintOnePage(dc));
    const auto steps = Steps();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "5015"), 0);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "?5014"), 0);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "5000"), 1);  // the passes still run
    DeleteDC(dc);
}

TEST_F(DocumentEventsTest, EventsWithoutADc) {
    EXPECT_EQ(DrvDocumentEvent(nullptr, nullptr, DOCUMENTEVENT_CREATEDCPOST, 0, nullptr, 0, nullptr), -1);
    EXPECT_EQ(DrvDocumentEvent(nullptr, nullptr, DOCUMENTEVENT_RESETDCPOST, 0, nullptr, 0, nullptr), -1);
    EXPECT_EQ(DrvDocumentEvent(nullptr, nullptr, DOCUMENTEVENT_ABORTDOC, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(DrvDocumentEvent(nullptr, nullptr, DOCUMENTEVENT_ENDDOC, 0, nullptr, 0, nullptr), 1);
    EXPECT_EQ(DrvDocumentEvent(nullptr, nullptr, 99, 0, nullptr, 0, nullptr), 0);
    // A job DEVMODE is published only when it was made.
    DEVMODEW* job = reinterpret_cast<DEVMODEW*>(1);
    DOCEVENT_CREATEDCPRE pre{nullptr, nullptr, nullptr, FALSE};
    EXPECT_EQ(DrvDocumentEvent(nullptr, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre, sizeof job, &job), -1);
    EXPECT_EQ(job, reinterpret_cast<DEVMODEW*>(1));
}

TEST_F(DocumentEventsTest, TheJobDevmodeCarriesThePaperFormats) {
    // Letter is 8.5 x 11 inches and A4 210 x 297 mm, in the job's dots.
    struct Case {
        short paper;
        double widthInches, lengthInches;
    } cases[] = {{1, 8.5, 11.0}, {9, 210 / 25.4, 297 / 25.4}};
    for (const auto& m : testing::kShippedModels) {
        HANDLE h = Open(m.printer);
        auto application = std::make_unique<PrivateDevmode>();
        ASSERT_EQ(GetPrinterDevmode(h, drvui_, *application, {}, 2), 1u);
        for (const auto& c : cases) {
            for (short orientation : {1, 2}) {
                SCOPED_TRACE(WideToAnsi(m.printer) + " paper " + std::to_string(c.paper) + " orientation " +
                             std::to_string(orientation));
                application->dm.dmPaperSize = c.paper;
                application->dm.dmOrientation = orientation;
                SetDevmodeCrc(*application);
                DEVMODEW* job = nullptr;
                DOCEVENT_CREATEDCPRE pre{nullptr, nullptr, &application->dm, FALSE};
                ASSERT_EQ(DrvDocumentEvent(h, nullptr, DOCUMENTEVENT_CREATEDCPRE, sizeof pre, &pre, sizeof job, &job), 1);
                ASSERT_NE(job, nullptr);
                const auto& dm = *reinterpret_cast<const PrivateDevmode*>(job);
                const int dpi = ResolvePrintQuality(dm, dm.dm.dmPrintQuality);
                const int across = static_cast<int>(c.widthInches * dpi);
                const int down = static_cast<int>(c.lengthInches * dpi);
                const PaperFormat& first = dm.paperFormats[0];
                const PaperFormat& other = dm.paperFormats[1];
                const PaperFormat& used = dm.paperFormats[2];
                EXPECT_EQ(first.paperCodeAsked, c.paper);
                EXPECT_EQ(other.paperCodeAsked, c.paper);
                // Portrait stands the sheet up; landscape lays it down; the
                // other orientation the other way. A dot of rounding either way.
                const int w = orientation == 1 ? across : down, l = orientation == 1 ? down : across;
                EXPECT_NEAR(first.width, w, 1);
                EXPECT_NEAR(first.length, l, 1);
                EXPECT_NEAR(other.width, l, 1);
                EXPECT_NEAR(other.length, w, 1);
                EXPECT_EQ(used.paperCodeAsked, first.paperCodeUsed);
                EXPECT_LE(first.printableWidth, first.width);
                EXPECT_LE(first.printableLength, first.length);
                EXPECT_TRUE(IsDevmodeCrcValid(dm));
                GlobalFree(job);
            }
        }
        ClosePrinter(h);
    }
}

TEST_F(DocumentEventsTest, TheSaveSettingsEscape) {
    HANDLE h = Open(u"Mira");
    auto record = std::make_unique<PrivateDevmode>();
    ASSERT_EQ(GetPrinterDevmode(h, drvui_, *record, {}, 2), 1u);
    record->dm.dmCopies = 7;
    SetDevmodeCrc(*record);
    auto stored = [&]() {
        auto out = std::make_unique<PrivateDevmode>();
        DWORD type = 0, needed = 0;
        GetPrinterDataA(h, const_cast<LPSTR>("CurrentDevmode"), &type, reinterpret_cast<LPBYTE>(out.get()),
                        sizeof *out, &needed);
        return out->dm.dmCopies;
    };
    const short before = stored();
    ASSERT_NE(before, 7);
    auto raise = [&](const PrivateDevmode& dm, int size, int code = 5021) {
        DOCEVENT_ESCAPE escape{code, size, &dm};
        return DrvDocumentEvent(h, nullptr, DOCUMENTEVENT_ESCAPE, sizeof escape, &escape, 0, nullptr);
    };
    auto wrongSignature = std::make_unique<PrivateDevmode>(*record);
    wrongSignature->signature3 ^= 1;
    auto otherPrinter = std::make_unique<PrivateDevmode>(*record);
    CopyStringPadded(otherPrinter->printerName, "Tarn");
    SetDevmodeCrc(*otherPrinter);
    auto badCheck = std::make_unique<PrivateDevmode>(*record);
    badCheck->checkValue ^= 1;
    EXPECT_EQ(raise(*record, 1255), 1);
    EXPECT_EQ(raise(*wrongSignature, 1256), 1);
    EXPECT_EQ(raise(*otherPrinter, 1256), 1);
    EXPECT_EQ(raise(*badCheck, 1256), 1);
    EXPECT_EQ(raise(*record, 1256, 5020), 1);
    EXPECT_EQ(stored(), before);
    EXPECT_EQ(raise(*record, 1256), 1);
    EXPECT_EQ(stored(), 7);
    // The user's copy too.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Zelquor\\Printers\\Mira", 0, KEY_READ, &key), ERROR_SUCCESS);
    auto user = std::make_unique<PrivateDevmode>();
    DWORD size = sizeof *user, type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "CurrentDevmode", nullptr, &type, reinterpret_cast<LPBYTE>(user.get()), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(user->dm.dmCopies, 7);
    ClosePrinter(h);
}

TEST_F(DocumentEventsTest, TheWatermarkIsDrawnAtThePageStartAtItsLightness) {
    // A 20-point "W", black at 50 % lightness, on the test driver's page of
    // 64 x 48 dots at 72 dpi.
    LOGFONTA font{};
    font.lfHeight = 20 * 20;
    const uint16_t placement[3] = {0, 0, 0};
    WatermarkContent content{"W", std::span<const uint8_t, kLogFontSize>(reinterpret_cast<const uint8_t*>(&font),
                                                                         kLogFontSize),
                             0x000000, 50, {placement[0], placement[1], placement[2]}};
    ASSERT_TRUE(WatermarkAdd("Mira", 1, "Draft", content));
    esc::DrawRequest request{};
    request.kind = 1;
    request.resolution = 72;
    request.width = 64;
    request.height = 48;
    Answers(566, 0, true, nullptr, &request);
    HDC dc = Dc();
    ASSERT_NE(dc, nullptr);
    KeepPages(dc, true);
    clear_();
    ASSERT_TRUE(PrintOnePage(dc));
    const auto steps = Steps();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "5001"), 1) << "the drawn pass is closed";
    gdi::Bitmap page = RenderReferencePage(dc, 0);
    ASSERT_TRUE(page);
    long inked = 0, sumX = 0, sumY = 0;
    for (LONG y = 0; y < 48; ++y) {
        for (LONG x = 0; x < 64; ++x) {
            const ULONG v = page.Get()->Pixel(x, y) & 0xFFFFFF;
            if (v == 0xFFFFFF) continue;
            EXPECT_EQ(v, 0x7F7F7Fu) << x << "," << y;
            ++inked;
            sumX += x;
            sumY += y;
        }
    }
    ASSERT_GT(inked, 10);
    // Level text stands centred on the page.
    EXPECT_NEAR(sumX / inked, 32, 6);
    EXPECT_NEAR(sumY / inked, 24, 6);
    DeleteDC(dc);
}

TEST(WatermarkPlacement, ColourAndOrigin) {
    struct Colour {
        uint32_t colour;
        int percent;
        uint32_t lightened;
    } colours[] = {{0x000000, 0, 0x000000},   {0x000000, 100, 0xFFFFFF}, {0x000000, 50, 0x7F7F7F},
                   {0x0000FF, 50, 0x7F7FFF},  {0x102030, 150, 0xFFFFFF}, {0x102030, -5, 0x102030}};
    for (const auto& c : colours) EXPECT_EQ(LightenColour(c.colour, c.percent), c.lightened) << c.percent;
    // Level text is centred on the page; at 90 degrees it runs up the page
    // from below its centre.
    struct Origin {
        int cx, cy, angle, right, bottom, ox, oy;
        POINT at;
    } origins[] = {{1000, 100, 0, 5000, 6600, 0, 0, {2000, 3250}},
                   {1000, 100, 90, 5000, 6600, 0, 0, {2450, 3800}},
                   {1000, 100, 0, 5000, 6600, 200, -100, {2100, 3200}}};
    for (const auto& o : origins) {
        const POINT at = WatermarkOrigin(o.cx, o.cy, o.angle, o.right, o.bottom, o.ox, o.oy);
        EXPECT_EQ(at.x, o.at.x) << o.angle;
        EXPECT_EQ(at.y, o.at.y) << o.angle;
    }
}

}  // namespace
}  // namespace zq
