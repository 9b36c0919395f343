// zq render: prints the engine's test page through a printer's driver and
// writes what the page should look like (the engine's own unbanded render)
// as PNG.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/error.h"
#include "command.h"
#include "gdi/dc.h"
#include "store/admin.h"

namespace {

constexpr const char* kUsage =
    "usage: zq render PRINTER --out FILE.png [--pages N] [--doc NAME]\n"
    "       zq render --driver FILE --out FILE.png [--pages N] [--doc NAME]\n\n"
    "Prints N pages (default 1) of the engine's test page (grey and colour fills,\n"
    "the six hatches, a pattern brush, bitmaps of several depths, a clipped area)\n"
    "through the printer's driver, or through a driver file directly, and writes\n"
    "the engine's unbanded render of each page as PNG: FILE.png for page 1,\n"
    "FILE-2.png and so on for the others.\n";

// Bands of the test page in fractions of the page, so that it fits any size.
void DrawTestPage(HDC dc, int page) {
    const int w = GetDeviceCaps(dc, HORZRES), h = GetDeviceCaps(dc, VERTRES);
    auto X = [&](int per) { return w * per / 100; };
    auto Y = [&](int per) { return h * per / 100; };
    // Frame.
    PatBlt(dc, 0, 0, w, std::max(1, h / 200), BLACKNESS);
    PatBlt(dc, 0, h - std::max(1, h / 200), w, std::max(1, h / 200), BLACKNESS);
    PatBlt(dc, 0, 0, std::max(1, w / 200), h, BLACKNESS);
    PatBlt(dc, w - std::max(1, w / 200), 0, std::max(1, w / 200), h, BLACKNESS);
    // Grey ramp.
    for (int i = 0; i < 10; ++i) {
        BYTE g = static_cast<BYTE>(i * 255 / 9);
        HBRUSH b = CreateSolidBrush(RGB(g, g, g));
        RECT r{X(5 + i * 9), Y(5), X(5 + (i + 1) * 9), Y(15)};
        FillRect(dc, &r, b);
        DeleteObject(b);
    }
    // Colours and hatches.
    const COLORREF colours[6] = {RGB(255, 0, 0), RGB(0, 160, 0), RGB(0, 0, 255),
                                 RGB(0, 200, 200), RGB(200, 0, 200), RGB(230, 200, 0)};
    for (int i = 0; i < 6; ++i) {
        HBRUSH solid = CreateSolidBrush(colours[i]);
        HBRUSH hatch = CreateHatchBrush(i, colours[(i + page) % 6]);
        RECT a{X(5 + i * 15), Y(20), X(18 + i * 15), Y(30)};
        RECT b{X(5 + i * 15), Y(32), X(18 + i * 15), Y(42)};
        FillRect(dc, &a, solid);
        FillRect(dc, &b, hatch);
        DeleteObject(solid);
        DeleteObject(hatch);
    }
    // A bitmap of 8 bits per pixel, stretched, and one of 24 bits mirrored.
    std::vector<BYTE> dib(40 + 1024 + 16 * 16);
    auto* bi = reinterpret_cast<BITMAPINFO*>(dib.data());
    bi->bmiHeader = BITMAPINFOHEADER{40, 16, 16, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    for (int i = 0; i < 256; ++i) {
        BYTE* q = dib.data() + 40 + 4 * i;
        q[0] = static_cast<BYTE>(i);
        q[1] = static_cast<BYTE>(255 - i);
        q[2] = static_cast<BYTE>((i * 5) & 0xFF);
    }
    for (int i = 0; i < 256; ++i) dib[40 + 1024 + i] = static_cast<BYTE>(i);
    StretchDIBits(dc, X(5), Y(45), X(40), Y(25), 0, 0, 16, 16, dib.data() + 40 + 1024, bi, DIB_RGB_COLORS, SRCCOPY);
    SetStretchBltMode(dc, STRETCH_HALFTONE);
    StretchDIBits(dc, X(95), Y(45), -X(40), Y(25), 0, 0, 16, 16, dib.data() + 40 + 1024, bi, DIB_RGB_COLORS,
                  SRCCOPY);
    // A clipped area with a hole: inverted under a pattern of diagonal crosses.
    HRGN outer = CreateRectRgn(X(5), Y(75), X(95), Y(95));
    HRGN hole = CreateRectRgn(X(35), Y(80), X(65), Y(90));
    CombineRgn(outer, outer, hole, RGN_DIFF);
    SelectClipRgn(dc, outer);
    HBRUSH cross = CreateHatchBrush(HS_DIAGCROSS, RGB(0, 0, 0));
    HGDIOBJ old = SelectObject(dc, cross);
    PatBlt(dc, 0, 0, w, h, PATINVERT);
    SelectObject(dc, old);
    SelectClipRgn(dc, nullptr);
    DeleteObject(cross);
    DeleteObject(outer);
    DeleteObject(hole);
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    zq::Options opts(args);
    auto out = opts.Value("--out");
    auto driver = opts.Value("--driver");
    auto pagesText = opts.Value("--pages");
    auto doc = opts.Value("--doc");
    if (auto bad = opts.Unknown()) return zq::UsageError("render", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (!out) return zq::UsageError("render", "missing --out FILE.png");
    if (driver ? !rest.empty() : rest.size() != 1) return zq::UsageError("render", "name one printer or one --driver");
    int pages = 1;
    if (pagesText) {
        try {
            pages = std::stoi(*pagesText);
        } catch (...) {
            pages = 0;
        }
        if (pages < 1 || pages > 1000) return zq::UsageError("render", "--pages takes 1 to 1000");
    }
    // A driver file named on the command line is a path of this system.
    if (driver) driver = std::filesystem::absolute(*driver).string();
    HDC dc = driver ? zq::CreateDCForDriver(*driver, nullptr)
                    : CreateDCW(u"WINSPOOL", zq::store::FromUtf8(rest[0]).c_str(), nullptr, nullptr);
    if (!dc)
        return zq::Fail("render: cannot open a device context on " + (driver ? *driver : rest[0]) + ": " +
                        zq::ErrorText(GetLastError()));
    zq::KeepPages(dc, true);
    std::u16string name = zq::store::FromUtf8(doc.value_or("zq render"));
    DOCINFOW di{sizeof(DOCINFOW), name.c_str(), nullptr, nullptr, 0};
    int status = 0;
    if (StartDocW(dc, &di) <= 0) {
        status = zq::Fail("render: the driver refused the document: " + zq::ErrorText(GetLastError()));
    } else {
        for (int p = 1; p <= pages && status == 0; ++p) {
            if (StartPage(dc) <= 0) {
                status = zq::Fail("render: the driver refused page " + std::to_string(p) + ": " + zq::ErrorText(GetLastError()));
                break;
            }
            DrawTestPage(dc, p);
            if (EndPage(dc) <= 0)
                status = zq::Fail("render: the driver failed page " + std::to_string(p) + ": " + zq::ErrorText(GetLastError()));
        }
        if (status == 0 && EndDoc(dc) <= 0)
            status = zq::Fail("render: the driver failed to end the document: " + zq::ErrorText(GetLastError()));
        if (status != 0) AbortDoc(dc);
    }
    if (status == 0) {
        std::string base = *out;
        if (base.size() > 4 && base.substr(base.size() - 4) == ".png") base.resize(base.size() - 4);
        for (size_t p = 0; p < zq::KeptPageCount(dc); ++p) {
            std::string file = p == 0 ? base + ".png" : base + "-" + std::to_string(p + 1) + ".png";
            if (!zq::WriteReferencePng(dc, p, file)) {
                status = zq::Fail("render: cannot write " + file);
                break;
            }
            std::printf("%s\n", file.c_str());
        }
    }
    DeleteDC(dc);
    return status;
}

zq::Registration registration{{"render", "print the engine's test page and write its reference render as PNG", kUsage, Run}};

}  // namespace
