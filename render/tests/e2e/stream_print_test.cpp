// A printer whose jobs go to host finishing, through the engine: the
// private escapes on a live device context, and documents written as the
// spool stream, walked and replayed beside the engine's own render.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <cstring>
#include <map>
#include <string>

#include "base/error.h"
#include "common/escape_records.h"
#include "gdi/emf_print.h"
#include "gdi/engine.h"
#include "interface/tests/installed_driver.h"
#include "store/driver_ui.h"
#include "render/device_record_image.h"
#include "render/tests/e2e/print_support.h"
#include "render/tests/gpcl6_run.h"
#include "settings/watermarks.h"
#include "vemfread/glyph_ink.h"
#include "vemfread/replay.h"
#include "vemfread/vemfread.h"

namespace pclrend::testing {
namespace {

namespace esc = zq::esc;

using StreamPrintTest = PrinterTest;

int Query(HDC dc, uint32_t code) {
    return ExtEscape(dc, static_cast<int>(esc::kQueryEscSupport), 4, reinterpret_cast<LPCSTR>(&code), 0, nullptr);
}

TEST_F(StreamPrintTest, EscapesAnswerOnALiveDeviceContext) {
    for (uint8_t language : {0, 4}) {
        SCOPED_TRACE(int(language));
        auto dm = Letter(300);
        dm.printerLanguage = language;
        dm.metaSpool = 1;  // the spool stream of host finishing
        int level = 0, streamLanguage = -1, support16377 = -1, startDoc = 0;
        DeviceRecordImage image{};
        HANDLE printer = nullptr;
        ASSERT_TRUE(OpenPrinterW(W(u"Mono"), &printer, nullptr));
        auto driver = zq::gdi::Driver::Load(driverPath_.string());
        auto device = zq::gdi::Device::Enable(driver, &dm.dm, u"Mono", u"LPT1:", printer);
        ASSERT_TRUE(device) << "enable refused the stream: " << GetLastError();
        auto* context = new zq::gdi::DeviceContext();
        context->device = std::move(device);
        HDC dc = context->Handle();
        ASSERT_EQ(Query(dc, esc::kDriverLevel), 1);
        ExtEscape(dc, static_cast<int>(esc::kDriverLevel), 0, nullptr, 4, reinterpret_cast<LPSTR>(&level));
        ExtEscape(dc, static_cast<int>(esc::kIsStreamLanguage), 0, nullptr, 4, reinterpret_cast<LPSTR>(&streamLanguage));
        support16377 = Query(dc, esc::kNormalisePage);
        ExtEscape(dc, static_cast<int>(esc::kRecordImage), 0, nullptr, sizeof image, reinterpret_cast<LPSTR>(&image));
        DOCINFOW info{sizeof(DOCINFOW), u"doc", nullptr, nullptr, 0};
        startDoc = StartDocW(dc, &info);
        if (startDoc > 0) EndDoc(dc);
        DeleteDC(dc);
        ClosePrinter(printer);
        EXPECT_EQ(level, 566);
        EXPECT_EQ(streamLanguage, language == 4 ? 1 : 0);
        EXPECT_EQ(support16377, language == 4 ? 1 : 0);
        EXPECT_EQ(image.outputMode, 4);
        EXPECT_EQ(image.language, language);
        EXPECT_GT(startDoc, 0) << "a document asking for host finishing prints its stream";
    }
}

// The interface driver's sender sequence on a live device context: the
// level check, the record image and job DEVMODE of the first page, the
// control records, and a drawing pass around the page, whose GDI drawing
// lands in the page.
TEST_F(StreamPrintTest, TheInterfaceDriversSendersOnALiveDeviceContext) {
    constexpr int dpi = 100;
    auto dm = Letter(dpi);
    dm.metaSpool = 1;
    dm.paperFormats[0].paperCodeAsked = 650;  // a paper that takes a frame
    dm.userPaperSettings[2] = 5;               // frame code of the first set
    dm.userPaperSettings[4] = 1;               // drawn at the page start
    int frameKind = -1, endKind = -1;
    bool imageOk = false, controlsOk = false;
    const auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
        auto send = [&](uint32_t code, const void* in, int inSize, void* out, int outSize) {
            return ExtEscape(dc, static_cast<int>(code), inSize, static_cast<LPCSTR>(in), outSize, static_cast<LPSTR>(out));
        };
        DeviceRecordImage image{};
        imageOk = send(esc::kRecordImage, nullptr, 0, &image, sizeof image) > 0 && image.outputMode == 4;
        // One control record: length 8, id 3 (copies), kind 0, value 2; then the end.
        const uint8_t controls[] = {8, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        controlsOk = Query(dc, esc::kControlRecords) && send(esc::kControlRecords, controls, sizeof controls, nullptr, 0) > 0;
        esc::DrawRequest answer{};
        if (Query(dc, esc::kFrameAtStart) && Query(dc, esc::kFrameAtStartDone) &&
            send(esc::kFrameAtStart, nullptr, 0, &answer, sizeof answer) > 0) {
            frameKind = answer.kind;
            if (answer.kind) {
                SelectObject(dc, GetStockObject(BLACK_BRUSH));
                PatBlt(dc, 0, 0, static_cast<int>(answer.width), 3, PATCOPY);  // the frame's top edge
                send(esc::kFrameAtStartDone, nullptr, 0, nullptr, 0);
            }
        }
        Rectangle(dc, 100, 100, 300, 200);
        esc::DrawRequest atEnd{};
        if (send(esc::kFrameAtEnd, nullptr, 0, &atEnd, sizeof atEnd) > 0) endKind = atEnd.kind;
    });
    ASSERT_TRUE(result.enabled);
    EXPECT_TRUE(result.pagesOk);
    EXPECT_TRUE(imageOk);
    EXPECT_TRUE(controlsOk);
    EXPECT_EQ(frameKind, 5);
    EXPECT_EQ(endKind, 0) << "the frame is drawn at the page start only";
    const auto stream = vemfread::Walk(result.job);
    ASSERT_TRUE(stream.ok) << stream.error;
    ASSERT_EQ(stream.pages.size(), 1u);
    // The frame's blit and the rectangle are both in the page, after its
    // private block.
    size_t blits = 0, fills = 0;
    const vemfread::Record* block = nullptr;
    for (const auto& r : stream.pages[0].records) {
        blits += r.type == zq::vemf::kPatternBlit;
        fills += r.type == zq::vemf::kFillPath;
        if (r.type == zq::vemf::kPrivateBlock) block = &r;
    }
    EXPECT_GE(blits, 1u);
    EXPECT_EQ(fills, 1u);
    EXPECT_NE(block, nullptr);
}

using vemfread::GlyphInkOff;
using vemfread::Grey;
using vemfread::InAnyBox;
using vemfread::LogicalFontRuns;
using vemfread::TextRun;

// The ink within a rectangle of a page: the box of the pixels `ink` says
// are inked (right < 0 when there are none).
using InkBox = vemfread::Box;
template <class Ink>
InkBox InkWithin(const RECTL& within, int32_t width, int32_t height, Ink ink) {
    InkBox b;
    for (int32_t y = std::max<int32_t>(0, within.top); y < std::min<int32_t>(height, within.bottom); ++y)
        for (int32_t x = std::max<int32_t>(0, within.left); x < std::min<int32_t>(width, within.right); ++x)
            if (ink(x, y)) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
            }
    return b;
}

std::vector<uint8_t> FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Pixels of a replayed page whose grey differs from the reference's (`far`:
// not within a pixel), outside the boxes of `skip`.
size_t GreyDifferences(const vemfread::Picture& picture, const pclread::Grey& reference, const std::vector<TextRun>& skip,
                       size_t& far) {
    return vemfread::GreyDifferences(
        skip, picture.width, picture.height, [&](int32_t x, int32_t y) { return Grey(picture.At(x, y)); },
        [&](int32_t x, int32_t y) { return int{reference.At(x, y)}; }, far);
}

// Every sample document as `zq print` prints it, in printer languages 0, 1
// and 4: the stream is accepted by the walker, ends with its index size,
// has page records of the language's size, and each page replays as the
// engine's reference render (grey levels; outlines within a pixel; text in
// a logical font with each glyph's ink within a pixel).
TEST_F(StreamPrintTest, EverySampleStreamsAndReplaysInLanguages0And1And4) {
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    constexpr int dpi = 100;
    for (const char* sample : {"text", "shapes", "photo", "clip"}) {
        const auto emf = FileBytes(std::filesystem::path(source) / "tools/emfgen/samples" / (std::string(sample) + ".emf"));
        ASSERT_FALSE(emf.empty()) << sample;
        for (uint8_t language : {0, 1, 4}) {
            SCOPED_TRACE(std::string(sample) + " in language " + std::to_string(language));
            auto dm = Letter(dpi);
            dm.printerLanguage = language;
            dm.metaSpool = 1;
            const std::string png = (root_ / "reference-%d.png").string();
            const auto result = zq::emf::PrintDocument(u"Mono", emf, u"sample", &dm.dm, png);
            ASSERT_EQ(result.error, "");
            const auto bytes = FileBytes(zq::store::JobFile(result.outputJob));
            const auto stream = vemfread::Walk(bytes);
            ASSERT_TRUE(stream.ok) << stream.error;
            ASSERT_EQ(stream.pages.size(), result.pages);
            uint32_t last = 0;
            std::memcpy(&last, bytes.data() + bytes.size() - 4, 4);
            EXPECT_EQ(last, 36u * result.pages + 16);
            for (size_t p = 0; p < stream.pages.size(); ++p) {
                EXPECT_EQ(stream.pages[p].PageRecord()->bytes.size(),
                          language == 4 ? zq::vemf::kPageRecordSizeStream : zq::vemf::kPageRecordSizeOther);
                vemfread::Picture picture;
                std::string error;
                ASSERT_TRUE(vemfread::Replay(stream, p, picture, error)) << error;
                const auto reference = pclread::ReadGreyPng(zq::emf::PagePath(png, p + 1));
                ASSERT_TRUE(reference);
                ASSERT_EQ(reference->width, picture.width);
                ASSERT_EQ(reference->height, picture.height);
                const std::function<int(int32_t, int32_t)> grey = [&](int32_t x, int32_t y) {
                    return Grey(picture.At(x, y));
                };
                // Text in a logical font (languages 0 and 1): each glyph's
                // ink within a pixel, every other pixel as before.
                const auto runs = language == 4 ? std::vector<TextRun>{} : LogicalFontRuns(stream.pages[p]);
                const auto off = GlyphInkOff(runs, picture.width, picture.height, grey,
                                             std::function<int(int32_t, int32_t)>(
                                                 [&](int32_t x, int32_t y) { return int{reference->At(x, y)}; }));
                EXPECT_TRUE(off.empty()) << "page " << p + 1 << ": " << off.size() << " glyphs off, the first "
                                         << (off.empty() ? "" : off[0]);
                size_t far = 0;
                const size_t differ = GreyDifferences(picture, *reference, runs, far);
                // The samples are scaled onto the page, so their outlines fall
                // between pixels, and the stream carries whole pixels, rounded
                // to the nearest: fills, images and glyph bitmaps land on the
                // reference's pixels (text, photo and clip replay exactly
                // outside the text in logical fonts); a
                // thin line may move by one, a dash or line end a little more.
                const bool lines = std::string(sample) == "shapes";
                EXPECT_LT(far, lines ? size_t(picture.width) * picture.height / 5000 : 1u)
                    << "page " << p + 1 << ": " << differ << " pixels differ";
                if (const char* dir = std::getenv("ZQ_STREAM_DUMP")) {
                    const std::string stem = std::string(dir) + "/" + sample + "-l" + std::to_string(language);
                    vemfread::WritePicture(picture, stem + "-replayed.png");
                    std::error_code ec;
                    std::filesystem::copy_file(zq::emf::PagePath(png, p + 1), stem + "-reference.png",
                                               std::filesystem::copy_options::overwrite_existing, ec);
                    std::filesystem::copy_file(zq::store::JobFile(result.outputJob), stem + ".vemf",
                                               std::filesystem::copy_options::overwrite_existing, ec);
                }
                EXPECT_LT(differ, lines ? size_t(picture.width) * picture.height / 200 : 1u) << "page " << p + 1;
            }
        }
    }
}

// The shapes and clip samples at the resolution of the printers of the
// package's run (600 dpi). The engine draws outlines, wide pens and dashes
// from fractional pixels, the stream carries whole ones (points, pen widths,
// dash lengths), so an edge may move by a pixel: every pixel that differs has
// the reference's grey beside it, and edges are all that differ.
TEST_F(StreamPrintTest, ShapesAndClipReplayWithinAPixelAt600Dpi) {
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    for (const char* sample : {"shapes", "clip"})
    for (uint8_t language : {0, 4}) {
        SCOPED_TRACE(std::string(sample) + " in language " + std::to_string(language));
        const auto emf = FileBytes(std::filesystem::path(source) / "tools/emfgen/samples" / (std::string(sample) + ".emf"));
        ASSERT_FALSE(emf.empty());
        auto dm = Letter(600);
        dm.printerLanguage = language;
        dm.metaSpool = 1;
        const std::string png = (root_ / "reference-%d.png").string();
        const auto result = zq::emf::PrintDocument(u"Mono", emf, u"sample", &dm.dm, png);
        ASSERT_EQ(result.error, "");
        const auto bytes = FileBytes(zq::store::JobFile(result.outputJob));
        const auto stream = vemfread::Walk(bytes);
        ASSERT_TRUE(stream.ok) << stream.error;
        ASSERT_EQ(stream.pages.size(), 1u);
        vemfread::Picture picture;
        std::string error;
        ASSERT_TRUE(vemfread::Replay(stream, 0, picture, error)) << error;
        const auto reference = pclread::ReadGreyPng(zq::emf::PagePath(png, 1));
        ASSERT_TRUE(reference);
        ASSERT_EQ(reference->width, picture.width);
        ASSERT_EQ(reference->height, picture.height);
        size_t far = 0;
        const size_t differ = GreyDifferences(picture, *reference, {}, far);
        EXPECT_EQ(far, 0u) << differ << " pixels differ";
        EXPECT_LT(differ, size_t(picture.width) * picture.height / 1000);
        if (const char* dir = std::getenv("ZQ_STREAM_DUMP")) {
            const std::string stem = std::string(dir) + "/" + sample + "-600-l" + std::to_string(language);
            vemfread::WritePicture(picture, stem + "-replayed.png");
            std::error_code ec;
            std::filesystem::copy_file(zq::emf::PagePath(png, 1), stem + "-reference.png",
                                       std::filesystem::copy_options::overwrite_existing, ec);
            std::filesystem::copy_file(zq::store::JobFile(result.outputJob), stem + ".vemf",
                                       std::filesystem::copy_options::overwrite_existing, ec);
        }
    }
}

// The fonts sample on a printer that offers its own faces, in languages 0
// and 1 (where its printer-face lines are device-font text) and 4 (which has
// no device fonts): every glyph's ink within a pixel of the reference
// render's, every other pixel as the reference's at 100 dpi and within a
// pixel at 600. The printer-face text goes as logical fonts that name the
// face, which the replay draws through the face table as the reference
// render does.
TEST_F(StreamPrintTest, TheFontsSampleReplaysWithThePrintersFaces) {
    const char* source = std::getenv("ZQ_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    const auto emf = FileBytes(std::filesystem::path(source) / "tools/emfgen/samples/fonts.emf");
    ASSERT_FALSE(emf.empty());
    for (int dpi : {100, 600}) {
        for (uint8_t language : {0, 1, 4}) {
            SCOPED_TRACE(std::to_string(dpi) + " dpi, language " + std::to_string(language));
            auto dm = Letter(dpi);
            dm.printerLanguage = language;
            dm.metaSpool = 1;
            dm.nonCjkSwitch = 1;  // device fonts offered
            dm.fontSets1 = 0xFF;
            dm.model.fontListId = 0;
            const std::string png = (root_ / "reference-%d.png").string();
            const auto result = zq::emf::PrintDocument(u"Mono", emf, u"fonts", &dm.dm, png);
            ASSERT_EQ(result.error, "");
            const auto bytes = FileBytes(zq::store::JobFile(result.outputJob));
            const auto stream = vemfread::Walk(bytes);
            ASSERT_TRUE(stream.ok) << stream.error;
            ASSERT_EQ(stream.pages.size(), 1u);
            // The printer's faces are named by the stream's logical fonts
            // (none in language 4).
            size_t deviceFonts = 0;
            for (const auto& r : stream.pages[0].records)
                if (r.type == zq::vemf::kExtCreateFont && r.bytes.size() == sizeof(zq::vemf::ExtCreateFont) &&
                    r.bytes[12 + zq::vemf::kFontOutPrecisionOffset] == zq::vemf::kFontOutDevice)
                    ++deviceFonts;
            EXPECT_EQ(deviceFonts, language == 4 ? 0u : 6u);
            vemfread::Picture picture;
            std::string error;
            ASSERT_TRUE(vemfread::Replay(stream, 0, picture, error)) << error;
            const auto reference = pclread::ReadGreyPng(zq::emf::PagePath(png, 1));
            ASSERT_TRUE(reference);
            ASSERT_EQ(reference->width, picture.width);
            ASSERT_EQ(reference->height, picture.height);
            const auto runs = language == 4 ? std::vector<TextRun>{} : LogicalFontRuns(stream.pages[0]);
            const auto off = GlyphInkOff(runs, picture.width, picture.height,
                                         [&](int32_t x, int32_t y) { return Grey(picture.At(x, y)); },
                                         [&](int32_t x, int32_t y) { return int{reference->At(x, y)}; });
            EXPECT_TRUE(off.empty()) << off.size() << " glyphs off, the first " << (off.empty() ? "" : off[0]);
            size_t far = 0;
            const size_t differ = GreyDifferences(picture, *reference, runs, far);
            if (const char* dir = std::getenv("ZQ_STREAM_DUMP")) {
                const std::string stem = std::string(dir) + "/fonts-" + std::to_string(dpi) + "-l" + std::to_string(language);
                vemfread::WritePicture(picture, stem + "-replayed.png");
                std::error_code ec;
                std::filesystem::copy_file(zq::emf::PagePath(png, 1), stem + "-reference.png",
                                           std::filesystem::copy_options::overwrite_existing, ec);
                std::filesystem::copy_file(zq::store::JobFile(result.outputJob), stem + ".vemf",
                                           std::filesystem::copy_options::overwrite_existing, ec);
            }
            EXPECT_EQ(far, 0u) << differ << " pixels differ";
            if (dpi == 100) {
                EXPECT_EQ(differ, 0u);
            }
        }
    }
}

// Every kind of drawing the stream records: hatched, patterned and coloured
// fills, dashed and wide pens, images copied and stretched (24 and 8 bits),
// text with an opaque box, and a clip.
void DrawEverything(HDC dc, int dpi, int page) {
    const int u = dpi / 100;
    DrawShapes(dc, dpi, page);
    HBRUSH red = CreateSolidBrush(RGB(200, 30, 30));
    HGDIOBJ oldBrush = SelectObject(dc, red);
    HPEN dashed = CreatePen(PS_DASH, 1, RGB(0, 0, 255));
    HGDIOBJ oldPen = SelectObject(dc, dashed);
    Rectangle(dc, 420 * u, 40 * u, 560 * u, 120 * u);
    const LOGBRUSH green{BS_SOLID, RGB(0, 128, 0), 0};
    HPEN wide = ExtCreatePen(PS_GEOMETRIC | PS_ENDCAP_FLAT | PS_JOIN_MITER, 6 * u, &green, 0, nullptr);
    SelectObject(dc, wide);
    const POINT zigzag[] = {{420 * u, 200 * u}, {480 * u, 140 * u}, {540 * u, 200 * u}, {600 * u, 140 * u}};
    Polyline(dc, zigzag, 4);
    SelectObject(dc, oldPen);
    // A pattern brush of an 8 x 8 colour bitmap.
    struct {
        BITMAPINFOHEADER h;
        uint8_t bits[8 * 8 * 3];
    } pattern{};
    pattern.h = {sizeof(BITMAPINFOHEADER), 8, 8, 1, 24, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 64; ++i) {
        const bool on = (i / 8 + i % 8) % 4 < 2;
        pattern.bits[3 * i] = on ? 200 : 255, pattern.bits[3 * i + 1] = on ? 40 : 255, pattern.bits[3 * i + 2] = on ? 40 : 255;
    }
    HBRUSH patterned = CreateDIBPatternBrushPt(&pattern, DIB_RGB_COLORS);
    SelectObject(dc, patterned);
    SelectObject(dc, GetStockObject(NULL_PEN));
    Rectangle(dc, 600 * u, 40 * u, 760 * u, 130 * u);
    // Images: a 24-bit ramp stretched, an 8-bit grey ramp copied.
    struct {
        BITMAPINFOHEADER h;
        uint8_t bits[16 * 16 * 3];
    } ramp{};
    ramp.h = {sizeof(BITMAPINFOHEADER), 16, 16, 1, 24, 0, 0, 0, 0, 0, 0};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            uint8_t* p = ramp.bits + 3 * (y * 16 + x);
            p[0] = static_cast<uint8_t>(x * 16), p[1] = static_cast<uint8_t>(y * 16), p[2] = static_cast<uint8_t>(255 - x * 8);
        }
    StretchDIBits(dc, 600 * u, 700 * u, 48 * u, 32 * u, 0, 0, 16, 16, ramp.bits,
                  reinterpret_cast<const BITMAPINFO*>(&ramp.h), DIB_RGB_COLORS, SRCCOPY);
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colours[256];
        uint8_t bits[32 * 8];
    } greys{};
    greys.h = {sizeof(BITMAPINFOHEADER), 32, 8, 1, 8, 0, 0, 0, 0, 256, 0};
    for (int i = 0; i < 256; ++i) greys.colours[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    for (int i = 0; i < 32 * 8; ++i) greys.bits[i] = static_cast<uint8_t>((i % 32) * 8);
    SetDIBitsToDevice(dc, 600 * u, 850 * u, 32, 8, 0, 0, 0, 8, greys.bits, reinterpret_cast<const BITMAPINFO*>(&greys.h),
                      DIB_RGB_COLORS);
    // Text, opaque, then clipped to a box.
    LOGFONTW lf{};
    lf.lfHeight = -12 * u;
    const char16_t face[] = u"Liberation Sans";
    std::copy(std::begin(face), std::end(face), lf.lfFaceName);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, RGB(0, 0, 160));
    SetBkColor(dc, RGB(230, 230, 230));
    RECT box{100 * u, 560 * u, 520 * u, 600 * u};
    ExtTextOutW(dc, 110 * u, 565 * u, ETO_OPAQUE, &box, u"Zelquor host finishing", 22, nullptr);
    SetTextColor(dc, RGB(0, 0, 0));
    IntersectClipRect(dc, 100 * u, 610 * u, 300 * u, 630 * u);
    TextOutW(dc, 100 * u, 605 * u, u"Clipped text, page", 18);
    SelectClipRgn(dc, nullptr);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBrush);
    DeleteObject(font);
    DeleteObject(patterned);
    DeleteObject(wide);
    DeleteObject(dashed);
    DeleteObject(red);
}

// Pixels of a replayed page that differ from the engine's reference render
// (`far`: those whose colour the reference has nowhere within one pixel),
// outside the boxes of `skip`.
size_t Differences(const vemfread::Picture& replayed, zq::gdi::Bitmap& reference, std::string& where, size_t& far,
                   const std::vector<TextRun>& skip = {}) {
    zq::gdi::Surface* s = reference.Get();
    if (!s || s->sizlBitmap.cx != replayed.width || s->sizlBitmap.cy != replayed.height) {
        where = "sizes differ";
        return SIZE_MAX;
    }
    auto at = [&](LONG x, LONG y) {
        const COLORREF c = s->Pal().ToRgb(s->Pixel(x, y));
        return uint32_t{GetRValue(c)} << 16 | uint32_t{GetGValue(c)} << 8 | GetBValue(c);
    };
    size_t n = 0;
    far = 0;
    for (LONG y = 0; y < replayed.height; ++y)
        for (LONG x = 0; x < replayed.width; ++x) {
            const uint32_t mine = replayed.At(x, y);
            if (at(x, y) == mine || InAnyBox(skip, x, y)) continue;
            bool near = false;
            for (LONG dy = -1; dy <= 1 && !near; ++dy)
                for (LONG dx = -1; dx <= 1 && !near; ++dx) {
                    const LONG nx = x + dx, ny = y + dy;
                    near = nx >= 0 && ny >= 0 && nx < replayed.width && ny < replayed.height && at(nx, ny) == mine;
                }
            if (!near && far++ == 0)
                where = std::to_string(x) + "," + std::to_string(y) + ": " + std::to_string(at(x, y)) + " vs " +
                        std::to_string(mine);
            ++n;
        }
    return n;
}

// Long dashed geometric lines under a scale that makes their dashes
// fractional (30 and 12 units at 5.63 pixels a unit: 168.9 and 67.56
// pixels). Whole dash lengths rounded one by one would make the pattern
// 237 pixels instead of 236.46, and the sixteenth dash of a 4,000-pixel
// line 8 pixels late; the replayed lines keep the reference's dashes within
// a pixel along their whole length, across and down the page.
TEST_F(StreamPrintTest, LongDashedLinesKeepTheirDashesInPlace) {
    for (uint8_t language : {0, 4}) {
        SCOPED_TRACE(int(language));
        auto dm = Letter(600);
        dm.printerLanguage = language;
        dm.metaSpool = 1;
        auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
            SetGraphicsMode(dc, GM_ADVANCED);
            const XFORM scale{5.63f, 0, 0, 5.63f, 0, 0};
            SetWorldTransform(dc, &scale);
            const LOGBRUSH black{BS_SOLID, RGB(0, 0, 0), 0};
            const DWORD dashes[] = {30, 12};
            HPEN pen = ExtCreatePen(PS_GEOMETRIC | PS_USERSTYLE | PS_ENDCAP_FLAT, 6, &black, 2, dashes);
            HGDIOBJ old = SelectObject(dc, pen);
            MoveToEx(dc, 20, 60, nullptr);
            LineTo(dc, 780, 60);
            MoveToEx(dc, 40, 100, nullptr);
            LineTo(dc, 40, 1000);
            SelectObject(dc, old);
            DeleteObject(pen);
        });
        ASSERT_TRUE(result.enabled);
        ASSERT_TRUE(result.endDocOk);
        const auto stream = vemfread::Walk(result.job);
        ASSERT_TRUE(stream.ok) << stream.error;
        vemfread::Picture picture;
        std::string error;
        ASSERT_TRUE(vemfread::Replay(stream, 0, picture, error)) << error;
        std::string where;
        size_t far = 0;
        const size_t differ = Differences(picture, result.reference[0], where, far);
        EXPECT_EQ(far, 0u) << differ << " pixels differ, the first far one at " << where;
    }
}

TEST_F(StreamPrintTest, EveryDrawingIsRecordedAndReplaysAsTheReferenceRender) {
    constexpr int dpi = 100;
    for (uint8_t language : {0, 4}) {
        SCOPED_TRACE(int(language));
        auto dm = Letter(dpi);
        dm.printerLanguage = language;
        dm.metaSpool = 1;
        auto result = PrintPages(driverPath_, dm, 2, [&](HDC dc, int page) { DrawEverything(dc, dpi, page); });
        ASSERT_TRUE(result.enabled);
        EXPECT_TRUE(result.pagesOk);
        EXPECT_TRUE(result.endDocOk);
        const auto stream = vemfread::Walk(result.job);
        ASSERT_TRUE(stream.ok) << stream.error;
        ASSERT_EQ(stream.pages.size(), 2u);
        uint32_t last = 0;
        std::memcpy(&last, result.job.data() + result.job.size() - 4, 4);
        EXPECT_EQ(last, 36u * 2 + 16);
        std::map<uint32_t, size_t> kinds;
        for (const auto& r : stream.pages[0].records) ++kinds[r.type];
        for (uint32_t kind : {39u, 94u, 95u, 76u, 81u, 82u, 84u, 108u, 67u})
            EXPECT_GT(kinds[kind], 0u) << "record " << kind;
        if (language == 4) {
            // Glyphs are defined once per font: page 1's second string
            // reuses the letters of the first.
            EXPECT_GT(kinds[111], 0u);
            EXPECT_LT(kinds[111], 22u + 18u);
        } else {
            // Both strings are in one logical font, created once.
            EXPECT_EQ(kinds[111], 0u) << "no glyph bitmaps";
            EXPECT_EQ(kinds[82], 1u);
        }
        ASSERT_EQ(result.reference.size(), 2u);
        for (size_t p = 0; p < 2; ++p) {
            vemfread::Picture picture;
            std::string error;
            ASSERT_TRUE(vemfread::Replay(stream, p, picture, error)) << error;
            // Straight edges, fills, images and glyphs land on the same
            // pixels; curves, whose control points the stream carries in
            // whole pixels, may move by one.
            // Text in a logical font: each glyph's ink within a pixel.
            zq::gdi::Surface* ref = result.reference[p].Get();
            const auto runs = language == 4 ? std::vector<TextRun>{} : LogicalFontRuns(stream.pages[p]);
            const std::function<int(int32_t, int32_t)> mine = [&](int32_t x, int32_t y) {
                return Grey(picture.At(x, y));
            };
            const std::function<int(int32_t, int32_t)> theirs = [&](int32_t x, int32_t y) {
                const COLORREF c = ref->Pal().ToRgb(ref->Pixel(x, y));
                return Grey(uint32_t{GetRValue(c)} << 16 | uint32_t{GetGValue(c)} << 8 | GetBValue(c));
            };
            const auto off = GlyphInkOff(runs, picture.width, picture.height, mine, theirs);
            EXPECT_TRUE(off.empty()) << "page " << p + 1 << ": " << off.size() << " glyphs off, the first "
                                     << (off.empty() ? "" : off[0]);
            std::string where;
            size_t far = 0;
            const size_t differ = Differences(picture, result.reference[p], where, far, runs);
            EXPECT_EQ(far, 0u) << "page " << p + 1 << ": " << differ << " pixels differ, first far one at " << where;
            EXPECT_LT(differ, 1000u) << "page " << p + 1;
            if (const char* dir = std::getenv("ZQ_STREAM_DUMP")) {
                const std::string stem = std::string(dir) + "/l" + std::to_string(language) + "-" + std::to_string(p + 1);
                vemfread::WritePicture(picture, stem + "-replayed.png");
                zq::gdi::WritePng(*result.reference[p].Get(), stem + "-reference.png");
            }
        }
    }
}

// Text in printer languages 0 and 1 goes in logical fonts: record 82 with
// the face, weight, slant, height and turn the engine drew, from cache 0
// (a font realised anew at the same size is the same object; the 65th font
// of a page deletes the oldest first), selected with 37 and drawn as 84,
// with no glyph bitmaps. The replay puts each glyph's ink within a pixel of
// the reference's, the turned string's too.
TEST_F(StreamPrintTest, TextOfLanguages0And1GoesInLogicalFonts) {
    constexpr int dpi = 100;
    auto text = [](HDC dc, const char16_t* face, int height, int weight, bool italic, int escapement, int x, int y,
                   std::u16string_view s) {
        LOGFONTW lf{};
        lf.lfHeight = -height;
        lf.lfWeight = weight;
        lf.lfItalic = italic;
        lf.lfEscapement = lf.lfOrientation = escapement;
        std::copy(face, face + std::char_traits<char16_t>::length(face), lf.lfFaceName);
        HFONT font = CreateFontIndirectW(&lf);
        HGDIOBJ old = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        TextOutW(dc, x, y, s.data(), static_cast<int>(s.size()));
        SelectObject(dc, old);
        DeleteObject(font);
    };
    for (uint8_t language : {0, 1}) {
        SCOPED_TRACE(int(language));
        auto dm = Letter(dpi);
        dm.printerLanguage = language;
        dm.metaSpool = 1;
        auto result = PrintPages(driverPath_, dm, 2, [&](HDC dc, int page) {
            if (page == 0) {
                text(dc, u"Liberation Serif", 30, 700, true, 0, 60, 100, u"Zelquor finishing");
                text(dc, u"Liberation Serif", 30, 700, true, 0, 60, 200, u"again, a font made anew");
                text(dc, u"Liberation Sans", 24, 400, false, 300, 400, 900, u"Turned up a little");
                text(dc, u"DejaVu Sans", 13, 400, false, 0, 60, 300, u"small print in another face");
                return;
            }
            for (int i = 0; i < 65; ++i) text(dc, u"Liberation Sans", 6 + i, 400, false, 0, 20 + i % 5 * 160, 80 + i / 5 * 75, u"Zq");
        });
        ASSERT_TRUE(result.enabled);
        EXPECT_TRUE(result.endDocOk);
        const auto stream = vemfread::Walk(result.job);
        ASSERT_TRUE(stream.ok) << stream.error;
        ASSERT_EQ(stream.pages.size(), 2u);
        for (size_t p = 0; p < 2; ++p) {
            SCOPED_TRACE(p + 1);
            std::vector<const vemfread::Record*> fonts;
            std::map<uint32_t, bool> created;
            uint32_t selected = 0;
            for (const auto& r : stream.pages[p].records) {
                EXPECT_NE(r.type, 111u) << "no glyph bitmaps";
                if (r.type == zq::vemf::kExtCreateFont) fonts.push_back(&r), created[r.U32(8)] = true;
                if (r.type == zq::vemf::kSelectObject) selected = r.U32(8);
                if (r.type == zq::vemf::kExtTextOutW) {
                    EXPECT_TRUE(created[selected]) << "a string in a font of the page";
                }
            }
            auto face = [](const vemfread::Record* r) {
                std::u16string name;
                for (size_t i = 0; i < LF_FACESIZE; ++i) {
                    const auto c = static_cast<char16_t>(r->bytes[40 + 2 * i] | r->bytes[41 + 2 * i] << 8);
                    if (!c) break;
                    name.push_back(c);
                }
                return name;
            };
            if (p == 0) {
                // The bold italic serif once for both of its strings.
                ASSERT_EQ(fonts.size(), 3u);
                struct Want {
                    const char16_t* face;
                    int32_t height, escapement, weight;
                    uint8_t italic;
                } const want[] = {{u"Liberation Serif", -30, 0, 700, 1}, {u"Liberation Sans", -24, 300, 400, 0},
                                  {u"DejaVu Sans", -13, 0, 400, 0}};
                for (size_t i = 0; i < 3; ++i) {
                    EXPECT_EQ(face(fonts[i]), want[i].face);
                    EXPECT_EQ(static_cast<int32_t>(fonts[i]->U32(12)), want[i].height);
                    EXPECT_EQ(static_cast<int32_t>(fonts[i]->U32(20)), want[i].escapement);
                    EXPECT_EQ(static_cast<int32_t>(fonts[i]->U32(28)), want[i].weight);
                    EXPECT_EQ(fonts[i]->bytes[32], want[i].italic);
                }
            } else {
                // 65 heights: the oldest font is deleted, then the 65th made.
                ASSERT_EQ(fonts.size(), 65u);
                const auto& recs = stream.pages[p].records;
                const auto last = std::find_if(recs.begin(), recs.end(), [&](const auto& r) { return &r == fonts[64]; });
                ASSERT_NE(last, recs.begin());
                EXPECT_EQ(std::prev(last)->type, zq::vemf::kDeleteObject);
                EXPECT_EQ(std::prev(last)->U32(8), fonts[0]->U32(8));
            }
            vemfread::Picture picture;
            std::string error;
            ASSERT_TRUE(vemfread::Replay(stream, p, picture, error)) << error;
            zq::gdi::Surface* ref = result.reference[p].Get();
            const std::function<int(int32_t, int32_t)> mine = [&](int32_t x, int32_t y) {
                return (picture.At(x, y) & 0xFFFFFF) == 0xFFFFFF ? 255 : 0;
            };
            const std::function<int(int32_t, int32_t)> theirs = [&](int32_t x, int32_t y) {
                return ref->Pal().ToRgb(ref->Pixel(x, y)) == 0xFFFFFF ? 255 : 0;
            };
            const auto runs = LogicalFontRuns(stream.pages[p]);
            EXPECT_EQ(runs.size(), p == 0 ? 4u : 65u);
            const auto off = GlyphInkOff(runs, picture.width, picture.height, mine, theirs);
            EXPECT_TRUE(off.empty()) << off.size() << " glyphs off, the first " << (off.empty() ? "" : off[0]);
            std::string where;
            size_t far = 0;
            const size_t differ = Differences(picture, result.reference[p], where, far, runs);
            EXPECT_EQ(differ, 0u) << "outside the text, first at " << where;
        }
    }
}

// Glyph bitmaps are one bit a pixel, uncompressed: large glyphs go as their
// outlines, filled as paths, and small ones stay bitmaps defined once per
// font. Both replay onto the reference's ink.
TEST_F(StreamPrintTest, LargeGlyphsGoAsOutlinesSmallOnesAsBitmaps) {
    constexpr int dpi = 300;
    auto dm = Letter(dpi);
    dm.printerLanguage = 4;
    dm.metaSpool = 1;
    auto text = [](HDC dc, int height, int y, const char16_t* s, int n) {
        LOGFONTW lf{};
        lf.lfHeight = -height;
        const char16_t face[] = u"Liberation Serif";
        std::copy(std::begin(face), std::end(face), lf.lfFaceName);
        HFONT font = CreateFontIndirectW(&lf);
        HGDIOBJ old = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        TextOutW(dc, 100, y, s, n);
        SelectObject(dc, old);
        DeleteObject(font);
    };
    auto result = PrintPages(driverPath_, dm, 1, [&](HDC dc, int) {
        text(dc, 400, 100, u"Big", 3);
        text(dc, 400, 600, u"Bib", 3);  // the same glyphs again: outlines every time
        text(dc, 30, 1200, u"small print", 11);
    });
    ASSERT_TRUE(result.enabled);
    EXPECT_TRUE(result.endDocOk);
    const auto stream = vemfread::Walk(result.job);
    ASSERT_TRUE(stream.ok) << stream.error;
    ASSERT_EQ(stream.pages.size(), 1u);
    size_t fills = 0, definitions = 0, strings = 0;
    for (const auto& r : stream.pages[0].records) {
        fills += r.type == zq::vemf::kFillPath;
        definitions += r.type == 111;
        strings += r.type == 84;
    }
    EXPECT_EQ(fills, 2u) << "each large string is one filled path";
    EXPECT_EQ(strings, 1u) << "the small print is a string of bitmaps";
    EXPECT_EQ(definitions, 10u) << "s, m, a, l, space, p, r, i, n, t: each once";
    ASSERT_EQ(result.reference.size(), 1u);
    vemfread::Picture picture;
    std::string error;
    ASSERT_TRUE(vemfread::Replay(stream, 0, picture, error)) << error;
    // The ink of each line within a pixel of the reference's.
    zq::gdi::Surface* ref = result.reference[0].Get();
    ASSERT_EQ(ref->sizlBitmap.cx, picture.width);
    for (const auto& [top, bottom] : {std::pair{0, 550}, {550, 1100}, {1100, 1300}}) {
        const RECTL band{0, top, picture.width, bottom};
        const InkBox mine = InkWithin(band, picture.width, picture.height,
                                      [&](int32_t x, int32_t y) { return (picture.At(x, y) & 0xFFFFFF) != 0xFFFFFF; });
        const InkBox theirs = InkWithin(band, picture.width, picture.height, [&](int32_t x, int32_t y) {
            return ref->Pal().ToRgb(ref->Pixel(x, y)) != 0xFFFFFF;
        });
        SCOPED_TRACE(top);
        ASSERT_GE(theirs.right, 0);
        EXPECT_NEAR(mine.left, theirs.left, 1);
        EXPECT_NEAR(mine.right, theirs.right, 1);
        EXPECT_NEAR(mine.top, theirs.top, 1);
        EXPECT_NEAR(mine.bottom, theirs.bottom, 1);
    }
    std::string where;
    size_t far = 0;
    const size_t differ = Differences(picture, result.reference[0], where, far);
    EXPECT_LT(far, 50u) << differ << " pixels differ, first far one at " << where;
}

// The finishing library's senders on a live device context, with the page
// records of a stream the engine printed and the walker read: 16377 turns a
// landscape page upright, 16380 merges the document's records into one, and
// 16376 answers the page geometry of the job's record.
TEST_F(StreamPrintTest, TheFinishingLibrarysSendersOnALiveDeviceContext) {
    auto dm = Letter(100);
    dm.printerLanguage = 4;
    dm.metaSpool = 1;
    const auto printed = PrintPages(driverPath_, dm, 2, [](HDC dc, int p) { Rectangle(dc, 10, 10 + p, 200, 100); });
    ASSERT_TRUE(printed.endDocOk);
    const auto stream = vemfread::Walk(printed.job);
    ASSERT_TRUE(stream.ok) << stream.error;
    ASSERT_EQ(stream.pages.size(), 2u);
    auto word = [](const std::vector<uint8_t>& b, size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, b.data() + at, 4);
        return v;
    };
    // The offset of a tag's first value in a page record's bytes.
    auto tagAt = [&](const std::vector<uint8_t>& rec, uint32_t tag) -> size_t {
        for (size_t at = word(rec, 16); at + 8 <= rec.size() && word(rec, at + 4) >= 8; at += word(rec, at + 4))
            if (word(rec, at) == tag) return at + 8;
        return 0;
    };
    // {uint32 total size; records}
    auto pack = [](const std::vector<std::vector<uint8_t>>& recs) {
        std::vector<uint8_t> in(4);
        for (const auto& r : recs) in.insert(in.end(), r.begin(), r.end());
        const uint32_t total = static_cast<uint32_t>(in.size());
        std::memcpy(in.data(), &total, 4);
        return in;
    };
    std::vector<std::vector<uint8_t>> records;
    for (const auto& page : stream.pages) records.push_back(page.PageRecord()->bytes);
    ASSERT_EQ(records[0].size(), zq::vemf::kPageRecordSizeStream);
    const size_t orientation = tagAt(records[0], zq::vemf::kTagOrientation);
    ASSERT_NE(orientation, 0u);
    records[0][orientation] = 2;  // a landscape page

    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Mono"), &printer, nullptr));
    auto driver = zq::gdi::Driver::Load(driverPath_.string());
    auto device = zq::gdi::Device::Enable(driver, &dm.dm, u"Mono", u"LPT1:", printer);
    ASSERT_TRUE(device);
    auto* context = new zq::gdi::DeviceContext();
    context->device = std::move(device);
    HDC dc = context->Handle();
    auto send = [&](uint32_t code, const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
        return ExtEscape(dc, static_cast<int>(code), static_cast<int>(in.size()), reinterpret_cast<LPCSTR>(in.data()),
                         static_cast<int>(out.size()), reinterpret_cast<LPSTR>(out.data()));
    };
    for (uint32_t code : {esc::kPageGeometry, esc::kNormalisePage, esc::kMergePages, esc::kPageGeometryOther})
        EXPECT_EQ(Query(dc, code), 1) << code;
    const auto one = pack({records[0]});
    std::vector<uint8_t> normalised(one.size());
    EXPECT_EQ(send(esc::kNormalisePage, one, normalised), 1);
    const std::vector<uint8_t> upright(normalised.begin() + 4, normalised.end());
    EXPECT_EQ(word(upright, tagAt(upright, zq::vemf::kTagOrientation)), 1u);
    const auto both = pack(records);
    std::vector<uint8_t> merged(4 + records[0].size());
    EXPECT_EQ(send(esc::kMergePages, both, merged), 1);
    std::vector<uint8_t> job(sizeof dm), geometry(sizeof(esc::PageGeometry));
    std::memcpy(job.data(), &dm, sizeof dm);
    // The stream language itself answers no page geometry (the query still
    // says 1): the finishing library asks the printer that prints the pages.
    EXPECT_EQ(send(esc::kPageGeometry, job, geometry), 0);
    // Sizes the input does not hold: -1, on the live DC as on the record.
    auto cut = both;
    cut.resize(cut.size() - 1);
    EXPECT_EQ(send(esc::kMergePages, cut, merged), -1);
    DeleteDC(dc);
    ClosePrinter(printer);
}

// The interface driver's ENDDOC on the real road: GDI raises the document
// events into the installed interface driver, which asks the renderer
// whether an instruction page is due (0x7FFFFFF8), sends the dialog
// library's pictures (0x7FFFFFF7, 0x7FFFFFF6) and draws its three lines of
// text on the page the renderer opened for it, between the document's pages.
class EndDocRoadTest : public zq::testing::InstalledDriver {};

TEST_F(EndDocRoadTest, TheManualDuplexInstructionPageComesThroughTheDocumentEvents) {
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    const auto lib = std::filesystem::path(bin) / "lib";
    Install((lib / "pclrend.so").string().c_str());
    ASSERT_TRUE(zq::testing::CopyBesideDriver(lib / "dlgui.so", "dlgui.so"));
    ASSERT_TRUE(zq::testing::CopyBesideDriver(lib / "dlgres.so", "dlgres.so"));
    struct Case {
        uint8_t separatePages;  // the user asked for the instruction page
        int pages;
        size_t streamPages;     // the document's, the instruction page, the page after the block
        bool instruction;
    } const cases[] = {{1, 3, 5, true}, {0, 3, 4, false}, {1, 1, 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.separatePages) + " " + std::to_string(c.pages));
        // The Ovra turns the sheets by hand: long-edge duplex written as
        // the spool stream of host finishing.
        HANDLE printer = Open(u"Ovra");
        std::vector<uint8_t> record(2048);
        auto* dm = reinterpret_cast<zq::PrivateDevmode*>(record.data());
        ASSERT_EQ(DocumentPropertiesW(nullptr, printer, W(u"Ovra"), &dm->dm, nullptr, DM_OUT_BUFFER), IDOK);
        ClosePrinter(printer);
        dm->dm.dmDuplex = DMDUP_VERTICAL;
        dm->metaSpool = 1;
        dm->metaSpoolResolved = 0xFF;
        dm->separatePages = c.separatePages;
        HDC dc = CreateDCW(u"WINSPOOL", u"Ovra", nullptr, &dm->dm);
        ASSERT_NE(dc, nullptr) << GetLastError();
        DOCINFOW info{sizeof(DOCINFOW), u"turned by hand", nullptr, nullptr, 0};
        const int job = StartDocW(dc, &info);
        ASSERT_GT(job, 0);
        for (int p = 0; p < c.pages; ++p) {
            ASSERT_GT(StartPage(dc), 0);
            Rectangle(dc, 100, 100 + 50 * p, 300, 200 + 50 * p);
            ASSERT_GT(EndPage(dc), 0);
        }
        EXPECT_GT(EndDoc(dc), 0);
        DeleteDC(dc);
        std::ifstream in(zq::store::JobFile(static_cast<DWORD>(job)), std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const auto stream = vemfread::Walk(bytes);
        ASSERT_TRUE(stream.ok) << stream.error;
        ASSERT_EQ(stream.pages.size(), c.streamPages);
        if (!c.instruction) continue;
        // The instruction page: flagged, upright, one copy, with the long-edge
        // picture and the text the interface driver drew on it.
        const auto& page = stream.pages[c.pages];
        size_t pictures = 0, texts = 0;
        for (const auto& r : page.records) {
            pictures += r.type == zq::vemf::kStretchDIBits;
            texts += r.type == 84;
        }
        EXPECT_EQ(pictures, 1u);
        EXPECT_EQ(texts, 3u) << "the three lines of the instruction text";
        EXPECT_EQ(page.FindTag(zq::vemf::kTagOrientation)->Value(), 1u);
        vemfread::Picture picture;
        std::string error;
        ASSERT_TRUE(vemfread::Replay(stream, c.pages, picture, error)) << error;
        size_t ink = 0;
        for (int32_t y = 0; y < picture.height; ++y)
            for (int32_t x = 0; x < picture.width; ++x) ink += (picture.At(x, y) & 0xFFFFFF) != 0xFFFFFF;
        EXPECT_GT(ink, 1000u) << "the picture and the text are drawn";
    }
}

// Where a page's ink lies: its count, centroid and the direction of its
// principal axis (degrees, y down: text rising to the right is negative).
struct Ink {
    double count = 0, x = 0, y = 0, angle = 0;
};
template <class Dark>
Ink InkOf(int32_t width, int32_t height, Dark dark) {
    Ink ink;
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            if (!dark(x, y)) continue;
            ink.count += 1;
            sx += x, sy += y, sxx += double{1} * x * x, syy += double{1} * y * y, sxy += double{1} * x * y;
        }
    if (ink.count == 0) return ink;
    ink.x = sx / ink.count, ink.y = sy / ink.count;
    const double mxx = sxx / ink.count - ink.x * ink.x, myy = syy / ink.count - ink.y * ink.y;
    const double mxy = sxy / ink.count - ink.x * ink.y;
    ink.angle = 0.5 * std::atan2(2 * mxy, mxx - myy) * 180 / 3.14159265358979;
    return ink;
}

// The interface driver's watermark on the real road: blank pages of the
// Mira in the monochrome raster language at 300 dpi, with a watermark at 30
// degrees, no offsets, black and 60 % lighter. The decoded job and the
// outside interpreter's sheet show the ink centred on the printable page
// (the text's box is; its capitals stand a little above that centre),
// rising at 30 degrees; the lighter one has as much of the black one's ink
// as the driver's screen gives a square of its grey (0x999999; the outside
// interpreter does not read the printer's own flat greys).
class WatermarkRoadTest : public zq::testing::InstalledDriver {};

TEST_F(WatermarkRoadTest, TheWatermarkLandsAtItsPlaceAngleAndLightness) {
    const char* bin = std::getenv("ZQ_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    Install((std::filesystem::path(bin) / "lib" / "pclrend.so").string().c_str());
    LOGFONTA font{};
    font.lfHeight = 40 * 20;  // twentieths of a point
    font.lfWeight = FW_BOLD;
    font.lfEscapement = font.lfOrientation = 300;
    std::strcpy(font.lfFaceName, "Liberation Sans");
    const auto bytes = std::span<const uint8_t, zq::kLogFontSize>(reinterpret_cast<const uint8_t*>(&font), zq::kLogFontSize);
    ASSERT_TRUE(zq::WatermarkAdd("Mira", 1, "Black", {"ZELQUOR DRAFT", bytes, 0x000000, 0, {0, 0, 0}}));
    ASSERT_TRUE(zq::WatermarkAdd("Mira", 2, "Light", {"ZELQUOR DRAFT", bytes, 0x000000, 60, {0, 0, 0}}));
    const std::string gpcl6 = Gpcl6Path();
    if (gpcl6.empty()) std::printf("no outside interpreter (../shared/tools/gpcl6): its sheet is not judged\n");
    Ink decoded[3], printed[3];
    // The third page: no watermark, a square of the light one's grey.
    const RECT square{300, 300, 900, 900};
    for (int light = 0; light < 3; ++light) {
        SCOPED_TRACE(light == 0 ? "black" : light == 1 ? "light" : "grey square");
        HANDLE printer = Open(u"Mira");
        std::vector<uint8_t> record(2048);
        auto* dm = reinterpret_cast<zq::PrivateDevmode*>(record.data());
        ASSERT_EQ(DocumentPropertiesW(nullptr, printer, W(u"Mira"), &dm->dm, nullptr, DM_OUT_BUFFER), IDOK);
        ClosePrinter(printer);
        dm->printerLanguage = 0;
        dm->metaSpool = 0;
        dm->dm.dmPrintQuality = dm->dm.dmYResolution = 300;
        dm->dm.dmColor = DMCOLOR_MONOCHROME;
        dm->watermarkFlag = 1;  // under the page
        dm->watermarkPlacement = 0;
        dm->watermarkId1 = dm->watermarkId2 = static_cast<uint8_t>(light < 2 ? 1 + light : 0);
        HDC dc = CreateDCW(u"WINSPOOL", u"Mira", nullptr, &dm->dm);
        ASSERT_NE(dc, nullptr) << GetLastError();
        const int width = GetDeviceCaps(dc, HORZRES), height = GetDeviceCaps(dc, VERTRES);
        const int left = GetDeviceCaps(dc, PHYSICALOFFSETX), top = GetDeviceCaps(dc, PHYSICALOFFSETY);
        ASSERT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 300);
        DOCINFOW info{sizeof(DOCINFOW), u"watermarked", nullptr, nullptr, 0};
        const int job = StartDocW(dc, &info);
        ASSERT_GT(job, 0);
        ASSERT_GT(StartPage(dc), 0);
        if (light == 2) {
            HBRUSH grey = CreateSolidBrush(RGB(153, 153, 153));
            FillRect(dc, &square, grey);
            DeleteObject(grey);
        }
        ASSERT_GT(EndPage(dc), 0);
        EXPECT_GT(EndDoc(dc), 0);
        DeleteDC(dc);
        const auto bytesOfJob = ReadAll(zq::store::JobFile(static_cast<DWORD>(job)));
        const pclread::Job read = pclread::Read(bytesOfJob);
        ASSERT_TRUE(read.errors.empty()) << read.errors.front();
        ASSERT_EQ(read.pages.size(), 1u);
        const pclread::Page& page = read.pages[0];
        decoded[light] = InkOf(std::min(page.width, width), std::min(page.height, height),
                               [&](int32_t x, int32_t y) { return page.Black(x, y); });
        const Ink& d = decoded[light];
        ASSERT_GT(d.count, 5000) << "the watermark is drawn";
        if (light == 2) continue;
        // The text's box is centred on the printable page; the capitals'
        // ink lies within a fifth of the text's height of that centre.
        const double rise = 40.0 * 300 / 72;
        EXPECT_NEAR(d.x, width / 2.0, rise / 5) << "decoded";
        EXPECT_NEAR(d.y, height / 2.0, rise / 5) << "decoded";
        EXPECT_NEAR(d.angle, -30, 2) << "decoded";
        if (gpcl6.empty()) continue;
        const auto sheets = RunGpcl6(gpcl6, bytesOfJob, 300, "watermark" + std::to_string(light));
        ASSERT_EQ(sheets.size(), 1u);
        const GreyPage& sheet = sheets[0];
        printed[light] = InkOf(sheet.width, sheet.height, [&](int32_t x, int32_t y) {
            return sheet.grey[static_cast<size_t>(y) * sheet.width + x] < 128;
        });
        const Ink& p = printed[light];
        EXPECT_NEAR(p.x - left, d.x, 2) << "printed";
        EXPECT_NEAR(p.y - top, d.y, 2) << "printed";
        EXPECT_NEAR(p.angle, -30, 2) << "printed";
    }
    const double area = static_cast<double>(square.right - square.left) * (square.bottom - square.top);
    EXPECT_NEAR(decoded[1].count / decoded[0].count, decoded[2].count / area, 0.05) << "decoded lightness";
    if (!gpcl6.empty()) {
        EXPECT_NEAR(printed[1].count / printed[0].count, decoded[2].count / area, 0.05) << "printed lightness";
    }
}

}  // namespace
}  // namespace pclrend::testing
