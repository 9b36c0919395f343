#include "render/job_header.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "base/text.h"
#include "render/output.h"
#include "render/page_setup.h"
#include "render/xl_page.h"

namespace pclrend {

namespace {

constexpr std::string_view kUel = "\x1b%-12345X";

// Keyword tables: a word per index, an empty word leaves the line out.
template <size_t N>
std::string_view Word(const std::array<std::string_view, N>& table, unsigned index) {
    return index < N ? table[index] : std::string_view{};
}

constexpr std::array<std::string_view, 3> kRegistration = {"", "HIGHSPEED", "HIGHQUALITY"};
constexpr std::array<std::string_view, 4> kFinishQuality = {"", "MEDIUMGLOSS", "HIGHGLOSS", "LOWGLOSS"};
constexpr std::array<std::string_view, 6> kColourCorrection = {"", "OFF", "DISPLAY", "VIVID", "AUTO", "MANUAL"};
constexpr std::array<std::string_view, 6> kManualColour = {"", "OFF", "VIVID", "SRGBDISPLAY", "SRGBVIVID", "DISPLAYREALBLACK"};
constexpr std::array<std::string_view, 2> kScreening = {"COLORGRADE", "CONTONE"};
constexpr std::array<std::string_view, 4> kScreeningImagesOnly = {"", "COLORGRADE", "IMAGESONLY", "IET"};
constexpr std::array<std::string_view, 3> kOnOff = {"", "OFF", "ON"};
constexpr std::array<std::string_view, 2> kPageProtect = {"OFF", "LEGAL"};
constexpr std::array<std::string_view, 2> kPageProtectAuto = {"AUTO", "ON"};
constexpr std::array<std::string_view, 6> kDensity = {"", "1", "2", "3", "4", "5"};
constexpr std::array<std::string_view, 5> kEconomy = {"", "OFF", "TONERSAVER", "DRAFT", "ON"};
constexpr std::array<std::string_view, 3> kEconomyOnOff = {"", "OFF", "ON"};
constexpr std::array<std::string_view, 6> kMediaType = {"", "NORMAL", "ROUGH", "CARDSTOCK", "TRANSPARENCY", "LABELS"};
constexpr std::array<std::string_view, 6> kTrayPaperType = {"VTRAY1PAPERTYPE", "VTRAY2PAPERTYPE", "VTRAY3PAPERTYPE",
                                                             "VFEEDERPAPERTYPE", "VFEEDER2PAPERTYPE", "VMANUALPAPERTYPE"};
constexpr std::array<std::string_view, 2> kCollation = {"OFF", "ON"};
constexpr std::array<std::string_view, 5> kImageEnhance = {"OFF", "ON", "", "", "ON"};
constexpr std::array<std::string_view, 4> kOutputBin = {"", "UPPER", "LOWER", "OPTIONALOUTBIN"};
// Staple words by DEVMODE 449, whose values the configuration tags carry
// as (stapled, count, position): 1 off, 2 one staple, 3 two staples, 4-7 a
// position. Finishers that staple at positions (feature byte 574 bit 0) take
// the position table; every other finisher takes the count table, so that
// two staples reach the printer as "2". An on/off table ("ON" for value 2)
// would leave value 3 without a line, and the user's two staples would be
// dropped without a word: no model of this family takes it.
constexpr std::array<std::string_view, 4> kStaple = {"", "OFF", "1", "2"};
constexpr std::array<std::string_view, 8> kStaplePosition = {"", "OFF", "", "", "AUTO", "FRONT", "BACK", "DUAL"};
constexpr std::array<std::string_view, 5> kPunch = {"", "OFF", "ON", "2HOLE", "3HOLE"};
constexpr std::array<std::string_view, 3> kJobOffset = {"", "OFF", "BETWEENCOPIES"};
constexpr std::array<std::string_view, 5> kHold = {"OFF", "VERIFY", "CONFIDENTIAL", "RESERVE", "REPEAT"};

// The model names that always get the density line.
constexpr std::array<std::string_view, 4> kDensityModels = {"Zelquor R150", "Zelquor R150 Black Only", "Zelquor R310",
                                                             "Zelquor R310 Black Only"};

// This build's product code; sibling model lines compare theirs with it.
constexpr std::string_view kProductCode = "QJF";

// An empty word leaves its line out: "@PJL SET X = " with nothing after it
// is a malformed PJL command, which printers reject or misread.
void Line(DeviceRecord& r, std::string_view format, std::string_view word) {
    if (word.empty()) return;
    const std::string w(word);
    SpoolFormat(r, format, {w.c_str()});
}

std::string Text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

std::string SignedText(int v) { return std::to_string(v); }

const char* IconvTarget(uint32_t cp) {
    switch (cp) {
    case 932:
    case 936:
    case 949:
    case 950: return "UTF-8";
    case 1250: return "ISO-8859-2";
    case 1251: return "ISO-8859-5";
    default: return "CP850";
    }
}

std::string IconvSource(uint32_t cp) {
    switch (cp) {
    case 932: return "CP932";
    case 936: return "GBK";
    case 949: return "CP949";
    case 950: return "BIG5";
    default: return "CP" + std::to_string(cp);
    }
}

// Per-page reset: the band walk and the font-selection caches start afresh,
// and the page takes the next n-up cell.
void PageReset(DeviceRecord& r) {
    r.bandRows = 1;
    r.bandActive = 1;
    r.pageFlags = 0;
    r.bandTop = 0;
    r.currentSymbolSet = 0xFFFF;
    r.selectedFontId = r.designatedFontId = r.selectedFontIdCopy = 0xFFFF;
    r.cursorX = r.cursorY = -1;
    if (r.sheetPages > r.pagesPerSheet || r.sheetPages == 0) r.sheetPages = 1;
    if (r.nupCells) r.currentCell = &r.nupCells[r.sheetPages - 1];
}

void Settings(DeviceRecord& r) {
    const zq::PrivateDevmode& dm = *r.devmode;
    const uint16_t mf = r.modelFlags;
    const uint8_t b570 = r.FeatureByte(570), b572 = r.FeatureByte(572), b573 = r.FeatureByte(573),
                  b574 = r.FeatureByte(574);
    const bool mfColour = mf & 0x08;

    const auto& protect = (b570 & 0x01) ? kPageProtectAuto : kPageProtect;  // page-protect-auto models
    Line(r, "@PJL SET PAGEPROTECT = %s\n", Word(protect, dm.switch224));
    if (auto w = Word(kOnOff, dm.pairFirst); !w.empty() && !mfColour) Line(r, "@PJL SET RET = %s\n", w);
    if (auto w = Word(kOnOff, dm.option653); (mf & 0x1000) && !w.empty()) Line(r, "@PJL SET VPICTUREGRADE = %s\n", w);
    if ((mf & 0x01) && (!mfColour || dm.option670)) Line(r, "@PJL SET VIMAGEENHANCE = %s\n", Word(kImageEnhance, r.printerClass));
    if (r.classValue == 7 || r.classValue == 9) SpoolWrite(r, "@PJL SET VIMAGEENHANCETYPE = 4\n");
    if (r.classValue == 5) SpoolWrite(r, "@PJL SET VIMAGEENHANCETYPE = 2\n");
    if ((mf & 0x40) && r.printerClass) SpoolWrite(r, "@PJL SET VPARM : PCL VCOLOREXTENSIONS = ON\n");

    if (auto w = Word(kDensity, dm.option231); !w.empty()) {
        const std::string name = CleanName(Text(r.printerName, sizeof r.printerName), r.ansiCodePage, 31);
        bool always = false;
        for (auto m : kDensityModels) always |= name == m;
        if (always || !(mfColour && !(mf & 0x800))) Line(r, "@PJL SET DENSITY = %s\n", w);
    }
    if (auto w = Word(kEconomy, dm.pairSecond); !w.empty() && (!mfColour || (mf & 0x800)))
        Line(r, "@PJL SET ECONOMODE = %s\n", w);
    if (auto w = Word(kEconomyOnOff, dm.colourOption235); !w.empty() && mfColour && !(mf & 0x80))
        Line(r, "@PJL SET ECONOMODE = %s\n", w);

    if (!mfColour && !(b572 & 0x08)) {
        for (size_t tray = 0; tray < 11; ++tray) {
            const auto media = Word(kMediaType, dm.slotValues[tray]);
            if (media.empty() || tray >= kTrayPaperType.size()) continue;
            const std::string var(kTrayPaperType[tray]), word(media);
            SpoolFormat(r, "@PJL SET %s = %s\n", {var.c_str(), word.c_str()});
        }
    }
    if ((b572 & 0x04) && dm.collateAllowed)
        Line(r, "@PJL SET VCOLLATION = %s\n", Word(kCollation, dm.dm.dmCollate == 1 ? 1u : 0u));
    if (mf & 0x8000) {
        if (auto w = Word(kRegistration, dm.option656); !w.empty()) Line(r, "@PJL SET VCOLORREGISTRATION = %s\n", w);
        if (auto w = Word(kFinishQuality, dm.option657); !w.empty()) Line(r, "@PJL SET VFINISHQUALITY = %s\n", w);
    }
    if (mfColour) {
        const bool forcedColour = (mf & 0x4000) && r.forcedColour;
        if (!forcedColour && (((b570 & 0x10) == 0 && r.colour) || r.language != Language::PclXl))
            SpoolWrite(r, "@PJL SET VCOLORMODEL = RGB\n");
        else
            SpoolWrite(r, "@PJL SET VCOLORMODEL = BLACK\n");
        if (auto w = Word(kColourCorrection, dm.option655); !w.empty()) {
            Line(r, "@PJL SET VCOLORCORRECTION = %s\n", w);
            if (dm.option655 == 5) {
                Line(r, "@PJL SET VMANUALCOLORRGBTEXT = %s\n", Word(kManualColour, dm.options1230[0]));
                Line(r, "@PJL SET VMANUALCOLORRGBGRAPHICS = %s\n", Word(kManualColour, dm.options1230[1]));
                Line(r, "@PJL SET VMANUALCOLORRGBIMAGE = %s\n", Word(kManualColour, dm.options1230[2]));
            }
        }
    }
    if (kProductCode == "QJG" || kProductCode == "QJF")
        Line(r, "@PJL SET VCOLORCORRECTION = %s\n", dm.switch1238 ? "AUTO" : "OFF");
    Line(r, "@PJL SET VLINEDETAIL = %s\n", dm.switch1239 ? "ON" : "OFF");
    if (dm.switch1243) {
        static constexpr std::array<std::string_view, 4> kBalance = {
            "@PJL SET VCOLORBALANCECYAN = %s\n", "@PJL SET VCOLORBALANCEMAGENTA = %s\n",
            "@PJL SET VCOLORBALANCEYELLOW = %s\n", "@PJL SET VCOLORBALANCEBLACK = %s\n"};
        for (size_t i = 0; i < 4; ++i) Line(r, kBalance[i], SignedText(static_cast<int8_t>(dm.options1244[i])));
    }
    if (mf & 0x80) {
        Line(r, "@PJL SET VSCREENING = %s\n", Word(kScreening, dm.option1088 ? 1u : 0u));
    } else if (mfColour) {
        // Values 0 and 1 become images-only when an adjustment group asks
        // for it; every value indexes the images-only table.
        const bool imagesOnly = dm.adjustSelector == 2 || dm.adjustments[7] == 2 || dm.adjustments[3] == 2;
        Line(r, "@PJL SET VSCREENING = %s\n",
             dm.option1088 <= 1 && imagesOnly ? std::string_view("IMAGESONLY") : Word(kScreeningImagesOnly, dm.option1088));
    }
    if (b573 & 0x20) {
        if ((b573 & 0x80) && dm.option448 >= 3) {
            SpoolFormat(r, "@PJL SET OUTBIN = %s%d\n", {"OPTIONALOUTBIN", dm.option448 - 2});
        } else if (auto w = Word(kOutputBin, dm.option448); !w.empty()) {
            Line(r, "@PJL SET OUTBIN = %s\n", w);
        }
    }
    if ((b573 & 0x10) && (r.geometry.flags & 0x0E)) {
        const auto w = (b574 & 0x01) ? Word(kStaplePosition, dm.option449) : Word(kStaple, dm.option449);
        if (!w.empty()) Line(r, "@PJL SET VSTAPLE = %s\n", w);
    }
    if (b573 & 0x20) {
        if (dm.option450 == 3 || dm.option450 == 4) {
            Line(r, "@PJL SET VPUNCH = %s\n", "ON");
            Line(r, "@PJL SET VHOLEPUNCHMODE = %s\n", Word(kPunch, dm.option450));
        } else if (auto w = Word(kPunch, dm.option450); !w.empty()) {
            Line(r, "@PJL SET VPUNCH = %s\n", w);
        }
    }
    if (auto w = Word(kJobOffset, dm.option1228); (b574 & 0x02) && !w.empty()) Line(r, "@PJL SET JOBOFFSET = %s\n", w);
    if (b573 & 0x04) SpoolWrite(r, "@PJL SET VMULTIPAGEPRINT = OFF\n");
    Line(r, "@PJL SET VIMAGEBRIGHTNESS = %s\n", SignedText(static_cast<int8_t>(dm.option1240)));
    Line(r, "@PJL SET VIMAGECONTRAST = %s\n", SignedText(dm.option1241));
    if (mfColour && !(b570 & 0x20)) {
        Line(r, "@PJL SET VIMAGESATURATION = %s\n", SignedText(dm.option1242));
        Line(r, "@PJL SET VCOLORSAVER = %s\n", Word(kOnOff, dm.options1244[4]));
    }
    SpoolWrite(r, "@PJL SET VPARM : PCL VFONTCOMPATIBILITY = PCL5\n");
    if (b573 & 0x18) Line(r, "@PJL SET VBLANKPAGES = %s\n", "PRINT");

    // The user name goes in USERID and the computer name in HOSTID.
    const std::string user = CleanName(Text(dm.userName, sizeof dm.userName), r.ansiCodePage, sizeof dm.userName - 1);
    const std::string host =
        CleanName(Text(dm.computerName, sizeof dm.computerName), r.ansiCodePage, sizeof dm.computerName - 1);
    if (!user.empty() || !host.empty()) {
        const std::string account = CleanName(Text(dm.accountId, sizeof dm.accountId), r.ansiCodePage, sizeof dm.accountId - 1);
        if (dm.accountTracking && !account.empty())
            SpoolFormat(r, "@PJL VJOBINFO ACCOUNTNUMBER = \"%s\" USERID = \"%s\" HOSTID = \"%s\"\n",
                        {account.c_str(), user.c_str(), host.c_str()});
        else
            SpoolFormat(r, "@PJL VJOBINFO USERID = \"%s\" HOSTID = \"%s\"\n", {user.c_str(), host.c_str()});
    }
}

void HeldJob(DeviceRecord& r) {
    const zq::PrivateDevmode& dm = *r.devmode;
    if (!((r.modelFlags & 0x400) || (r.modelFlags & 0x2000)) || !r.printerCopies || !r.printerInfoReadable) return;
    if (r.copies > 1) SpoolFormat(r, "@PJL SET QTY = %d\n", {static_cast<int32_t>(r.copies)});
    const auto hold = Word(kHold, dm.option1082);
    if (hold == "VERIFY") {
        Line(r, "@PJL SET HOLD = %s\n", "PROOF");
    } else if (hold == "CONFIDENTIAL") {
        Line(r, "@PJL SET HOLD = %s\n", "ON");
        Line(r, "@PJL SET HOLDTYPE = %s\n", "PRIVATE");
        const std::string pin = CleanName(Text(dm.pin849, sizeof dm.pin849), r.ansiCodePage, sizeof dm.pin849 - 1);
        SpoolFormat(r, "@PJL SET HOLDKEY = \"%s\"\n", {pin.c_str()});
    } else if (hold == "RESERVE") {
        Line(r, "@PJL SET HOLD = %s\n", "STORE");
    } else if (hold == "REPEAT") {
        Line(r, "@PJL SET HOLD = %s\n", "ON");
        Line(r, "@PJL SET HOLDTYPE = %s\n", "PUBLIC");
    }
    Line(r, "@PJL SET VDUPLICATEHELDJOBS = %s\n", dm.option651 ? "SAVE" : "DELETE");
    const std::string user = CleanName(Text(dm.userName, sizeof dm.userName), r.ansiCodePage, sizeof dm.userName - 1);
    const std::string doc = CleanName(r.documentName, r.ansiCodePage, 255);
    SpoolFormat(r, "@PJL SET USERNAME = \"%s\"\n", {user.c_str()});
    SpoolFormat(r, "@PJL SET JOBNAME = \"%s\"\n", {doc.c_str()});
}

}  // namespace

std::string CleanName(std::string_view text, uint32_t ansiCodePage, size_t limit) {
    std::string out;
    const char* target = IconvTarget(ansiCodePage);
    // ASCII is itself in every source and printer encoding here, and nearly
    // every name is ASCII: those need no converter opened.
    const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    iconv_t cd = ascii ? reinterpret_cast<iconv_t>(-1)
                       : iconv_open((std::string(target) + "//TRANSLIT").c_str(), IconvSource(ansiCodePage).c_str());
    if (cd != reinterpret_cast<iconv_t>(-1)) {
        std::string in(text);
        out.resize(in.size() * 4 + 4);
        char* src = in.data();
        size_t srcLeft = in.size();
        char* dst = out.data();
        size_t dstLeft = out.size();
        while (srcLeft > 0) {
            if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) {
                if (dstLeft == 0) break;
                *dst++ = '?';  // a byte the code page cannot carry
                --dstLeft;
                ++src;
                --srcLeft;
            }
        }
        out.resize(out.size() - dstLeft);
        iconv_close(cd);
    } else {
        out.assign(text);
    }
    for (char& c : out)
        if ((static_cast<unsigned char>(c) < 32 && c != '\t') || c == '"') c = '*';
    if (out.size() > limit) {
        size_t cut = limit;
        if (std::string_view(target) == "UTF-8")
            while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

std::string AnsiText(std::u16string_view text, uint32_t codePage, size_t limit) {
    std::string out;
    for (size_t i = 0; i < text.size() && text[i];) {
        // A surrogate pair is one character.
        const size_t n = (text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < text.size()) ? 2 : 1;
        const std::string piece = zq::WideToAnsi(text.substr(i, n), codePage);
        if (out.size() + piece.size() > limit) break;
        out += piece;
        i += n;
    }
    return out;
}

void JobStart(DeviceRecord& r) {
    SpoolWrite(r, "\x1b" "E");
    r.patternState = 0;
    r.ropCache = 256;
    r.symbolSetResource = 0;
}

int JobHeader(DeviceRecord& r) {
    PageReset(r);
    if (r.changeFlags & 1) return PagePart(r);
    r.changeFlags |= 1;
    if (!r.devmode) return -1;

    if (!(r.jobFlags & 0x40)) {
        SpoolWrite(r, kUel);
        if (!(r.jobFlags & 0x02)) {
            const std::string module = std::string(kModuleName) + " " + std::string(kVersionText);
            SpoolFormat(r, "@PJL COMMENT %s\n", {module.c_str()});
            const std::string name = CleanName(Text(r.printerName, sizeof r.printerName), r.ansiCodePage, 31);
            SpoolFormat(r, "@PJL COMMENT %s\n", {name.c_str()});
            Settings(r);
            HeldJob(r);
            if (r.language == Language::ColourRaster) SpoolWrite(r, "@PJL SET VPAGEMODE = NORMAL\n");
        }
    }
    if (r.jobFlags & 0x02) {
        static constexpr uint8_t kPreamble[8] = {0x1B, 0x5B, 0x4B, 0x03, 0x00, 0x00, 0x31, 0x02};
        SpoolWrite(r, kPreamble, 8);
        SpoolFlush(r);
        return PagePart(r);
    }
    // Without the UEL a PJL line would be printed as text on the page: a
    // job without PJL starts with the printer reset.
    if (!(r.jobFlags & 0x40)) {
        SpoolFormat(r, "@PJL SET RESOLUTION = %d\n", {static_cast<int32_t>(r.resolution)});
        SpoolFormat(r, "@PJL SET TIMEOUT=%d\n", {0});
        if (r.language != Language::PclXl) SpoolWrite(r, "@PJL ENTER LANGUAGE=PCL\n");
    }
    if (r.language == Language::PclXl) {
        XlSessionStart(r);
        SpoolFlush(r);
        return PagePart(r);
    }
    JobStart(r);
    SpoolFormat(r, "\x1b&u%dD", {static_cast<int32_t>(r.resolution)});
    SpoolFormat(r, "\x1b*t%dR", {static_cast<int32_t>(r.resolution)});
    if ((r.modelFlags & 0x4000) && r.forcedColour)
        SpoolFormat(r, "\x1b&b%dM", {1});
    else if (r.modelFlags & 0x08)
        SpoolFormat(r, "\x1b&b%dM", {r.colour ? 0 : 1});
    if (PageIsMapped(r) && (r.language == Language::MonoRaster || r.language == Language::ColourRaster) &&
        (r.modelFlags & 0x20) && r.colour)
        SpoolWrite(r, "\x1b*l1R");
    SpoolFlush(r);
    return PagePart(r);
}

void JobEnd(DeviceRecord& r) {
    SpoolWrite(r, kUel);
    if (r.FeatureByte(570) & 0x02) {
        SpoolWrite(r, "@PJL VPORTROTATE\n");
        SpoolWrite(r, kUel);
    }
    SpoolFlush(r);
}

}  // namespace pclrend
