#include "interface/document_events.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/loader.h"
#include "base/locale.h"
#include "base/memory.h"
#include "base/msgbox.h"
#include "base/muldiv.h"
#include "base/text.h"
#include "common/escape_records.h"
#include "common/spooler_helpers.h"
#include "gdi/dc.h"
#include "gdi/dc_draw.h"
#include "gdi/text_ansi.h"
#include "interface/dialog_library.h"
#include "interface/install_record.h"
#include "interface/sheet_context.h"
#include "interface/ui_utils.h"
#include "render/device_record_image.h"
#include "settings/devmode_ops.h"
#include "settings/macros.h"
#include "settings/printer_devmode.h"
#include "settings/user_forms.h"
#include "settings/watermarks.h"
#include "store/registry.h"
#include "user/window.h"

namespace zq {

namespace {

constexpr size_t kRecordImageSize = sizeof(pclrend::DeviceRecordImage);
constexpr size_t kPageCountAt = offsetof(pclrend::DeviceRecordImage, pageCount);
constexpr size_t kNoAccountStepAt = offsetof(pclrend::DeviceRecordImage, manualDuplexPrompt);

// The string keys of the per-application alias entries.
constexpr uint16_t kGraphicModeKey = 14000;  // "GraphicMode"
constexpr uint16_t kMetaSpoolKey = 14001;    // "MetaSpool"
constexpr uint32_t kMismatchText = 21, kMismatchCaption = 22;
constexpr uint32_t kInstructionLines[] = {3000, 3001, 3002};
constexpr uint32_t kLongEdgeBitmap = 10000, kShortEdgeBitmap = 10001, kBackBitmap = 10002;
constexpr uint16_t kBitmapType = 2;  // RT_BITMAP
constexpr size_t kAccountIdChars = 16;

// The renderer answers a query (QUERYESCSUPPORT) for the escape.
bool Query(HDC hdc, uint32_t code) {
    uint32_t answer = 0;
    return ExtEscape(hdc, static_cast<int>(esc::kQueryEscSupport), sizeof code, reinterpret_cast<LPCSTR>(&code),
                     sizeof answer, reinterpret_cast<LPSTR>(&answer)) > 0;
}

int Send(HDC hdc, uint32_t code, const void* in = nullptr, size_t inSize = 0, void* out = nullptr,
         size_t outSize = 0) {
    return ExtEscape(hdc, static_cast<int>(code), static_cast<int>(inSize), static_cast<LPCSTR>(in),
                     static_cast<int>(outSize), static_cast<LPSTR>(out));
}

PrivateDevmode& Record(void* block) { return *static_cast<PrivateDevmode*>(block); }

// The printer's name (level 2), ANSI; empty when it cannot be read.
std::string PrinterNameA(HANDLE printer) {
    void* info = AllocPrinterInfo(printer, 2);
    if (info == nullptr) return {};
    const auto* p2 = static_cast<const PRINTER_INFO_2W*>(info);
    std::string name = p2->pPrinterName ? WideToAnsi(p2->pPrinterName) : std::string();
    GlobalFree(info);
    return name;
}

// The dialog library of a record's selector, freed with the object.
class DialogLibraryOf {
public:
    explicit DialogLibraryOf(const PrivateDevmode& dm)
        : module_(LoadDialogLibrary(static_cast<uint8_t>(dm.model.dialogSelector & 0xFF))) {}
    ~DialogLibraryOf() {
        if (module_) FreeLibrary(module_);
    }
    DialogLibraryOf(const DialogLibraryOf&) = delete;
    DialogLibraryOf& operator=(const DialogLibraryOf&) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

// The macro of a name and kind in the printer's "Macro" list: its id.
std::optional<uint16_t> FindMacro(const std::string& printer, std::string_view name, uint16_t kind) {
    std::unique_ptr<PdList, void (*)(PdList*)> list(MacroListOpen(printer.c_str()), PdListDiscard);
    if (!list) return std::nullopt;
    for (int more = PdListFirst(list.get()); more > 0; more = PdListNext(list.get())) {
        const auto text = PdFieldText(list.get(), 2);
        if (!text || text->size() != name.size() || !std::equal(text->begin(), text->end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }))
            continue;
        if (PdFieldWord(list.get(), 4).value_or(5) != kind) return std::nullopt;
        return PdFieldWord(list.get(), 1).value_or(0);
    }
    return std::nullopt;
}

std::string_view FieldText(const char* field, size_t size) { return {field, strnlen(field, size)}; }

// The overlay macros of the two overlay names (clearing a name whose macro
// is of the other language) and the one of the first page.
void ResolveOverlayMacros(PrivateDevmode& dm, const std::string& printer) {
    std::fill(std::begin(dm.macroIds), std::end(dm.macroIds), 0);
    const uint16_t kind = dm.printerLanguage == 2 ? 6 : 5;
    uint16_t first = 0, second = 0;
    if (dm.overlayName1[0] != 0) {
        if (auto id = FindMacro(printer, FieldText(dm.overlayName1, sizeof dm.overlayName1), kind))
            first = *id;
        else
            dm.overlayName1[0] = 0;
    }
    if (dm.overlayName2[0] != 0) {
        if (auto id = FindMacro(printer, FieldText(dm.overlayName2, sizeof dm.overlayName2), kind))
            second = *id;
        else
            dm.overlayName2[0] = 0;
    }
    dm.macroIds[0] = first;
    dm.macroIds[2] = second;
    dm.macroIds[1] = dm.overlaySwitch ? first : second;
}

// The settings a user paper's association gives the job.
void ApplyUserFormSettings(PrivateDevmode& dm, const std::string& printer) {
    std::unique_ptr<PdList, void (*)(PdList*)> list(FormAssocListOpen(printer.c_str()), PdListDiscard);
    if (!list) return;
    const uint16_t paper = dm.paperFormats[0].paperCodeAsked;
    for (int more = PdListFirst(list.get()); more > 0; more = PdListNext(list.get())) {
        if (PdFieldWord(list.get(), 1).value_or(0) != paper) continue;
        auto byte = [&](uint16_t key) {
            const auto d = PdFieldData(list.get(), key);
            return d && !d->empty() ? (*d)[0] : uint8_t{0};
        };
        dm.userPaperSettings[0] = byte(6);
        dm.userPaperSettings[1] = byte(8);
        dm.userPaperSettings[4] = byte(10);
        dm.userPaperSettings[5] = byte(12);
        dm.userPaperSettings[6] = byte(4);
        const uint16_t kind = dm.printerLanguage == 2 ? 6 : 5;
        if (auto name = PdFieldText(list.get(), 5)) {
            if (auto id = FindMacro(printer, *name, kind)) {
                dm.userPaperWord804 = *id;
                CopyStringPadded(dm.userPaperOverlay1, *name);
            }
        }
        if (auto name = PdFieldText(list.get(), 7)) {
            if (auto id = FindMacro(printer, *name, kind)) {
                dm.userPaperWord806 = *id;
                CopyStringPadded(dm.userPaperOverlay2, *name);
            }
        }
        if (auto name = PdFieldText(list.get(), 9))
            dm.userPaperSettings[2] = static_cast<uint8_t>(WatermarkIdFromName(printer.c_str(), *name));
        if (auto name = PdFieldText(list.get(), 11))
            dm.userPaperSettings[3] = static_cast<uint8_t>(WatermarkIdFromName(printer.c_str(), *name));
        return;
    }
}

// The key text of an alias entry, from the driver's strings.
std::string AliasKey(uint16_t id) {
    return DriverModelData().String(id).value_or(id == kGraphicModeKey ? "GraphicMode" : "MetaSpool");
}

int PrepareDevmode(HANDLE printer, DEVMODEW** out, const char16_t*, const DEVMODEW* application) {
    void* block = GlobalAlloc(GPTR, kPrivateDevmodeSize);
    auto fail = [&](DWORD error) {
        if (block) GlobalFree(block);
        if (error) SetLastError(error);
        return DOCUMENTEVENT_FAILURE;
    };
    if (block == nullptr) return fail(ERROR_INVALID_DATA);
    PrivateDevmode& dm = Record(block);
    std::span<const uint8_t> caller;
    if (application != nullptr)
        caller = {reinterpret_cast<const uint8_t*>(application),
                  static_cast<size_t>(application->dmSize) + application->dmDriverExtra};
    if (GetPrinterDevmode(printer, DriverModule(), dm, caller, 10) & 0x8000) return fail(ERROR_INVALID_DATA);
    const std::string name = PrinterNameA(printer);
    if (name.empty()) return fail(0);

    if (dm.secondPaper != 0 && dm.manualDuplex == 0x80) dm.dm.dmPaperSize = dm.secondPaper;
    const int dpi = ResolvePrintQuality(dm, dm.dm.dmPrintQuality);
    const int orientation = dm.dm.dmOrientation;
    PaperFormat* f = dm.paperFormats;
    if (!GetPaperFormat(name.c_str(), printer, &f[0], &dm, dm.dm.dmPaperSize, orientation, dm.rotated237, dpi, FALSE) ||
        !GetPaperFormat(name.c_str(), printer, &f[1], &dm, dm.dm.dmPaperSize, orientation == 1 ? 2 : 1, dm.rotated237,
                        dpi, FALSE))
        return fail(0);
    const auto code = static_cast<int16_t>(f[0].orientationCode);
    if (!GetPaperFormat(name.c_str(), printer, &f[2], &dm, f[0].paperCodeUsed, std::abs(code), code < 0, dpi, TRUE))
        return fail(0);

    if (dm.secondPaper != 0) {
        PaperFormat a{}, b{};
        GetPaperFormat(name.c_str(), printer, &f[3], &dm, dm.secondPaper, orientation, dm.rotated237, dpi, FALSE);
        if (GetPaperFormat(name.c_str(), printer, &a, &dm, dm.secondPaper, orientation, dm.rotated237, dpi, FALSE) &&
            GetPaperFormat(name.c_str(), printer, &b, &dm, dm.secondPaper, orientation == 1 ? 2 : 1, dm.rotated237,
                           dpi, FALSE)) {
            constexpr size_t kUsedAt = offsetof(PaperFormat, paperCodeUsed);
            constexpr size_t kUsedBytes = sizeof(PaperFormat) - kUsedAt;
            auto takeUsed = [&](PaperFormat& to, const PaperFormat& from) {
                std::memcpy(reinterpret_cast<uint8_t*>(&to) + kUsedAt, reinterpret_cast<const uint8_t*>(&from) + kUsedAt,
                            kUsedBytes);
            };
            if (dm.pagesPerSheet != 0) {
                takeUsed(f[0], a);
                takeUsed(f[1], b);
            } else {
                const bool portrait = f[0].printableWidth < f[0].printableLength;
                const bool sameWay = portrait ? a.usedLength >= a.usedWidth : a.usedLength <= a.usedWidth;
                takeUsed(f[0], sameWay ? a : b);
            }
        }
    }

    MEMORYSTATUS memory{};
    GlobalMemoryStatus(&memory);
    dm.availableMemory = static_cast<uint32_t>(std::min<SIZE_T>(memory.dwAvailPhys, 0xFFFFFFFFu));
    // The font summary of this record is made sure of by the font-summary
    // service once it serves the job; nothing here depends on it.

    if (dm.graphicsModeResolved == 0xFF) {
        dm.graphicsModeResolved = dm.printerLanguage;
        if (dm.printerLanguage == 6)
            dm.graphicsModeResolved =
                static_cast<uint8_t>(ApplicationAliasValue(6, printer, AliasKey(kGraphicModeKey), 6));
    }
    if (dm.metaSpoolResolved == 0xFF) {
        dm.metaSpoolResolved = dm.metaSpool;
        if (dm.metaSpool == 2)
            dm.metaSpoolResolved = static_cast<uint8_t>(ApplicationAliasValue(2, printer, AliasKey(kMetaSpoolKey), 2));
    }
    ResolveOverlayMacros(dm, name);
    if (f[0].paperCodeAsked >= 640 && f[0].paperCodeAsked <= 671) ApplyUserFormSettings(dm, name);
    if (dm.manualDuplex != 0x80) dm.manualDuplex = 1;
    SetDevmodeCrc(dm);
    // Published only now, filled.
    *out = static_cast<DEVMODEW*>(block);
    return DOCUMENTEVENT_SUCCESS;
}

// The message of a renderer that does not fit the driver: the text's one
// "%s" takes the printer's name; any other conversion is shown as it is.
void ShowRendererMismatch(HANDLE printer, const PrivateDevmode& dm) {
    DialogLibraryOf library(dm);
    std::vector<char> format(1024), caption(512);
    if (CallLoadXlatedString(library.get(), 0, kMismatchText, format.data(), static_cast<uint16_t>(format.size())) <= 0 ||
        CallLoadXlatedString(library.get(), 0, kMismatchCaption, caption.data(),
                             static_cast<uint16_t>(caption.size())) <= 0)
        return;
    std::string text(format.data());
    if (const size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, PrinterNameA(printer));
    if (text.size() > 1023) text.resize(1023);
    MessageBoxA(nullptr, text.c_str(), caption.data(), MB_OK);
}

struct FamilyList {
    size_t count = 0;
    std::vector<uint8_t>* names = nullptr;
    size_t capacity = 0;
};

int CALLBACK_CountFontFamily(const LOGFONTW* font, const TEXTMETRICW*, DWORD type, LPARAM lParam) {
    auto* list = reinterpret_cast<FamilyList*>(lParam);
    if ((type & DEVICE_FONTTYPE) == 0 || (type & TRUETYPE_FONTTYPE) != 0) {
        if (list->names != nullptr && list->count < list->capacity) {
            uint8_t* to = list->names->data() + list->count * esc::kFaceNameSize;
            std::memcpy(to, font->lfFaceName, std::min(sizeof font->lfFaceName, esc::kFaceNameSize));
            to[esc::kFaceNameSize - 1] = 0;
            to[esc::kFaceNameSize - 2] = 0;
        }
        if (list->names == nullptr || list->count < list->capacity) ++list->count;
    }
    return 1;
}

void SendFontFamilies(HDC hdc) {
    uint32_t wanted = 0;
    if (!Query(hdc, esc::kWantsFaceNames) || !Query(hdc, esc::kFaceNames) ||
        Send(hdc, esc::kWantsFaceNames, nullptr, 0, &wanted, sizeof wanted) <= 0 || wanted == 0)
        return;
    FamilyList counting;
    EnumFontFamiliesW(hdc, nullptr, CALLBACK_CountFontFamily, reinterpret_cast<LPARAM>(&counting));
    if (counting.count == 0) return;
    std::vector<uint8_t> names(counting.count * esc::kFaceNameSize, 0);
    FamilyList copying{0, &names, counting.count};
    EnumFontFamiliesW(hdc, nullptr, CALLBACK_CountFontFamily, reinterpret_cast<LPARAM>(&copying));
    Send(hdc, esc::kFaceNames, names.data(), copying.count * esc::kFaceNameSize);
}

// CREATEDCPOST and RESETDCPOST: -1 when the renderer is refused.
int AfterDc(HANDLE printer, HDC hdc, void* in, bool reset) {
    if (in == nullptr) return DOCUMENTEVENT_FAILURE;
    auto* job = *static_cast<DEVMODEW**>(in);
    const PrivateDevmode* dm = job ? reinterpret_cast<const PrivateDevmode*>(job) : nullptr;
    bool refused = false;
    if (Query(hdc, esc::kDriverLevel)) {
        const bool streams = Query(hdc, esc::kWantsFaceNames);
        uint32_t level = 0;
        const int rc = Send(hdc, esc::kDriverLevel, nullptr, 0, &level, sizeof level);
        refused = rc <= 0 || level < kLowestRendererLevel || (dm && dm->printerLanguage == 4 && !streams);
        // The DC is the caller's to delete: the event's -1 fails its creation.
        if (refused && dm) ShowRendererMismatch(printer, *dm);
    }
    if (!reset && job) GlobalFree(job);
    if (!refused) SendFontFamilies(hdc);
    if (!refused && reset && dm) {
        if (SheetContext* context = CreateUiState(printer, job)) {
            std::memcpy(context->workingDevmode, dm, sizeof *dm);
            if (BuildSheetControlRecords(*context, *dm) == 0 && Query(hdc, esc::kControlRecords)) {
                Send(hdc, esc::kControlRecords, context->controlRecords, context->controlRecordSize);
                if (Query(hdc, esc::kAttachControlRecords)) Send(hdc, esc::kAttachControlRecords);
            }
            DestroySheetContext(context);
        }
    }
    if (reset && job) GlobalFree(job);
    return refused ? DOCUMENTEVENT_FAILURE : DOCUMENTEVENT_SUCCESS;
}

// The account dialog of the dialog library: true when an id was given.
bool AskAccount(SheetContext& context, const PrivateDevmode& dm) {
    HWND foreground = GetForegroundWindow();
    HWND owner = foreground && SetActiveWindow(foreground) ? foreground : nullptr;
    DialogLibraryOf library(dm);
    using GetAcctTrack = int (*)(HWND, DWORD, DWORD, SheetContext*);
    const auto ask =
        library.get() ? reinterpret_cast<GetAcctTrack>(GetProcAddress(library.get(), "fnGetAcctTrack")) : nullptr;
    // Without the dialog no id can be had: no job prints without one.
    return ask != nullptr && ask(owner, 0, 0, &context) != 0;
}

void SendControlRecords(HANDLE printer, HDC hdc, const PrivateDevmode& dm) {
    SheetContext* context = CreateUiState(printer, &dm.dm);
    if (context == nullptr) return;
    std::memcpy(context->workingDevmode, &dm, sizeof dm);
    if (BuildSheetControlRecords(*context, dm) == 0 && Query(hdc, esc::kControlRecords))
        Send(hdc, esc::kControlRecords, context->controlRecords, context->controlRecordSize);
    DestroySheetContext(context);
}

void DrawingPass(HDC hdc, HANDLE printer, uint32_t query, uint32_t close) {
    if (!Query(hdc, query) || !Query(hdc, close)) return;
    std::array<uint8_t, sizeof(esc::DrawRequest)> request{};
    if (Send(hdc, query, nullptr, 0, request.data(), request.size()) <= 0) return;
    if ((request[0] | request[1]) == 0) return;
    DrawWatermark(hdc, printer, request);
    Send(hdc, close);
}

int StartPageEvent(HANDLE printer, HDC hdc) {
    auto dm = std::make_unique<PrivateDevmode>();
    std::memset(dm.get(), 0, sizeof *dm);
    std::vector<uint8_t> image(kRecordImageSize, 0);
    bool cancelled = false;
    const bool read = Send(hdc, esc::kRecordImage, nullptr, 0, image.data(), image.size()) != 0 &&
                      Send(hdc, esc::kJobDevmode, nullptr, 0, dm.get(), sizeof *dm) > 0;
    if (read) {
        const uint16_t pages = static_cast<uint16_t>(image[kPageCountAt] | (image[kPageCountAt + 1] << 8));
        if (pages == 0 && image[kNoAccountStepAt] == 0) {
            if (SheetContext* context = CreateUiState(printer, &dm->dm)) {
                if (dm->accountTracking) cancelled = !AskAccount(*context, *dm);
                if (!cancelled) {
                    const std::string_view id(context->accountId, strnlen(context->accountId, kAccountIdChars));
                    CopyStringPadded(dm->accountId, id);
                    char computer[42] = {}, user[42] = {};
                    DWORD n = 41;
                    GetComputerNameA(computer, &n);
                    n = 41;
                    GetUserNameA(user, &n);
                    CopyStringPadded(dm->computerName, FieldText(computer, 41));
                    CopyStringPadded(dm->userName, FieldText(user, 41));
                }
                Send(hdc, esc::kJobDevmode, dm.get(), sizeof *dm);
                if (cancelled && Query(hdc, esc::kCancelJob)) {
                    const uint32_t yes = 1;
                    Send(hdc, esc::kCancelJob, &yes, sizeof yes);
                }
                DestroySheetContext(context);
            }
        }
        if (pages == 0) SendControlRecords(printer, hdc, *dm);
    }
    if (cancelled) return DOCUMENTEVENT_SUCCESS;
    DrawingPass(hdc, printer, esc::kOverlayAtStart, esc::kOverlayAtStartDone);
    DrawingPass(hdc, printer, esc::kFrameAtStart, esc::kFrameAtStartDone);
    return DOCUMENTEVENT_SUCCESS;
}

int EndPageEvent(HANDLE printer, HDC hdc) {
    DrawingPass(hdc, printer, esc::kOverlayAtEnd, esc::kOverlayAtEndDone);
    DrawingPass(hdc, printer, esc::kFrameAtEnd, esc::kFrameAtEndDone);
    return DOCUMENTEVENT_SUCCESS;
}

// Sends a bitmap of the dialog library with an instruction-page escape.
bool SendBitmap(HDC hdc, HMODULE library, uint32_t id, uint32_t escape) {
    const uint32_t size = CallGetSizeofXlatedResource(library, kBitmapType, id);
    const void* bits = CallLoadXlatedResource(library, kBitmapType, id);
    if (bits == nullptr || size == 0) return false;
    Send(hdc, escape, bits, size);
    return true;
}

int EndDocEvent(HANDLE printer, HDC hdc) {
    auto dm = std::make_unique<PrivateDevmode>();
    std::unique_ptr<DialogLibraryOf> library;
    if ((GetPrinterDevmode(printer, DriverModule(), *dm, {}, 2) & 0x8000) == 0)
        library = std::make_unique<DialogLibraryOf>(*dm);
    const HMODULE module = library ? library->get() : nullptr;
    if (!Query(hdc, esc::kManualDuplexQuery) || !Query(hdc, esc::kInstructionPage) ||
        !Query(hdc, esc::kBlockAndNewPage))
        return DOCUMENTEVENT_SUCCESS;
    esc::ManualDuplexAnswer choice{};
    const int n = Send(hdc, esc::kManualDuplexQuery, nullptr, 0, &choice, sizeof choice);
    if (n == 0 || n == -1) return DOCUMENTEVENT_SUCCESS;
    if (choice.separatePages != 0 && (n == 2 || n == 3) && module) {
        if (SendBitmap(hdc, module, n == 2 ? kLongEdgeBitmap : kShortEdgeBitmap, esc::kInstructionPage))
            DrawEndDocText(hdc, module, static_cast<int>(choice.resolution), static_cast<int>(choice.width),
                           static_cast<int>(choice.height));
    }
    if (module) SendBitmap(hdc, module, kBackBitmap, esc::kBlockAndNewPage);
    // The event itself succeeded whatever the instruction page needed.
    return DOCUMENTEVENT_SUCCESS;
}

// The save-settings escape: an application's valid record becomes the
// printer's and the user's settings, for the DC's own printer only.
int EscapeEvent(HANDLE printer, const void* in, ULONG inSize) {
    if (in == nullptr || inSize < sizeof(DOCEVENT_ESCAPE)) return DOCUMENTEVENT_SUCCESS;
    DOCEVENT_ESCAPE escape;
    std::memcpy(&escape, in, sizeof escape);
    if (escape.iEscape != static_cast<int>(esc::kAcknowledge) || escape.cjInput < static_cast<int>(kPrivateDevmodeSize) ||
        escape.pvInData == nullptr)
        return DOCUMENTEVENT_SUCCESS;
    auto dm = DevmodeFromBytes({static_cast<const uint8_t*>(escape.pvInData), kPrivateDevmodeSize});
    if (!dm || !IsValidPrivateDevmode(*dm) || !IsDevmodeCrcValid(*dm)) return DOCUMENTEVENT_SUCCESS;
    void* info = AllocPrinterInfo(printer, 5);
    if (info == nullptr) return DOCUMENTEVENT_SUCCESS;
    std::u16string name = static_cast<const PRINTER_INFO_5W*>(info)->pPrinterName
                              ? std::u16string(static_cast<const PRINTER_INFO_5W*>(info)->pPrinterName)
                              : std::u16string();
    GlobalFree(info);
    // The record names the printer it was made for: it must be this one.
    std::string queue = WideToAnsi(name);
    if (queue.starts_with("\\\\")) queue = queue.substr(queue.find_last_of('\\') + 1);
    if (FieldText(dm->printerName, sizeof dm->printerName) != std::string_view(queue).substr(0, 31))
        return DOCUMENTEVENT_SUCCESS;
    HANDLE own = nullptr;
    PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(name.data(), &own, &all) &&
        (GetLastError() != ERROR_ACCESS_DENIED || !OpenPrinterW(name.data(), &own, nullptr)))
        return DOCUMENTEVENT_SUCCESS;
    SplSetPrinterDataA(own, const_cast<LPSTR>("CurrentDevmode"), REG_BINARY, reinterpret_cast<LPBYTE>(&*dm),
                       sizeof *dm);
    const std::string key = std::string(kUserPrintersKey) + "\\" + PrinterNameToKeyName(WideToAnsi(name));
    HKEY user = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &user, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExA(user, "CurrentDevmode", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&*dm), sizeof *dm);
        RegCloseKey(user);
        const std::string printerName = WideToAnsi(name);
        AddInstallLogEntry({printerName, own, {}, "hkcu", key, "CurrentDevmode", 2});
        AddInstallLogEntry({printerName, own, {}, "hkcu", kUserPrintersKey, {}, 2});
    }
    DevmodeSources sources;
    sources.StoreDevmodeTagList(*dm, own, name, DriverModelData());
    ClosePrinter(own);
    return DOCUMENTEVENT_SUCCESS;
}

int CharsetOfCodePage(UINT codePage) {
    switch (codePage) {
        case 932: return 128;
        case 936: return 134;
        case 949: return 129;
        case 950: return 136;
        case 1250: return 238;
        case 1251: return 204;
        case 1253: return 161;
        case 1254: return 162;
        default: return 0;
    }
}

// The text state the drawing on an application's DC changes: set for the
// drawing (text mapping, transparent background, no spacing or alignment,
// text colour on white), and every part of it given back at the end, the
// selected font included, with the font made for it deleted.
class TextState {
public:
    TextState(HDC hdc, COLORREF text)
        : hdc_(hdc),
          mode_(SetMapMode(hdc, MM_TEXT)),
          bk_(SetBkMode(hdc, TRANSPARENT)),
          align_(SetTextAlign(hdc, 0)),
          text_(SetTextColor(hdc, text)),
          back_(SetBkColor(hdc, 0xFFFFFF)) {
        SetTextJustification(hdc, 0, 0);
        SetTextCharacterExtra(hdc, 0);
    }
    ~TextState() {
        if (oldFont_) SelectObject(hdc_, oldFont_);
        if (font_) DeleteObject(font_);
        SetTextAlign(hdc_, align_);
        SetTextColor(hdc_, text_);
        SetBkColor(hdc_, back_);
        SetMapMode(hdc_, mode_);
        SetBkMode(hdc_, bk_);
    }
    TextState(const TextState&) = delete;
    TextState& operator=(const TextState&) = delete;
    // Makes and selects the font; the one made before is deleted.
    bool Use(const LOGFONTA& font) {
        HFONT next = CreateFontIndirectA(&font);
        if (next == nullptr) return false;
        HGDIOBJ previous = SelectObject(hdc_, next);
        if (oldFont_ == nullptr) oldFont_ = previous;
        if (font_) DeleteObject(font_);
        font_ = next;
        return true;
    }
    SIZE Extent(const char* text, size_t capacity) const {
        SIZE s{};
        GetTextExtentPoint32A(hdc_, text, static_cast<int>(strnlen(text, capacity)), &s);
        return s;
    }

private:
    HDC hdc_;
    int mode_, bk_;
    UINT align_;
    COLORREF text_, back_;
    HFONT font_ = nullptr;
    HGDIOBJ oldFont_ = nullptr;
};

}  // namespace

int PrepareDocumentDevmode(HANDLE printer, DEVMODEW** out, const char16_t* deviceName, const DEVMODEW* application) {
    if (out == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return DOCUMENTEVENT_FAILURE;
    }
    return PrepareDevmode(printer, out, deviceName, application);
}

uint32_t LightenColour(uint32_t colour, int percent) {
    const uint32_t p = static_cast<uint32_t>(std::clamp(percent, 0, 100));
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t v = (colour >> shift) & 0xFF;
        out |= (v + (255 - v) * p / 100) << shift;
    }
    return out;
}

POINT WatermarkOrigin(int cx, int cy, int angle, int right, int bottom, int ox, int oy) {
    const int sine = TableSine(angle);
    const int cosine = TableSine(angle + 90);
    POINT p;
    p.x = (ox + right - MulDiv(cy, sine, 10000) - MulDiv(cx, cosine, 10000)) / 2;
    p.y = (oy + MulDiv(cx, sine, 10000) + bottom - MulDiv(cy, cosine, 10000)) / 2;
    return p;
}

int DrawWatermark(HDC hdc, HANDLE printer, std::span<const uint8_t, 36> request) {
    esc::DrawRequest r;
    std::memcpy(&r, request.data(), sizeof r);
    const std::string name = PrinterNameA(printer);
    char text[256] = {};
    LOGFONTA font{};
    uint32_t colour = 0;
    uint16_t lightness = 0, ox = 0, oy = 0;
    WatermarkGetRequest get;
    get.text = text;
    get.textCapacity = sizeof text;
    get.font = reinterpret_cast<uint8_t*>(&font);
    get.colour = &colour;
    get.lighten = &lightness;
    get.placement[0] = &ox;
    get.placement[1] = &oy;
    if (name.empty() || WatermarkGet(name.c_str(), r.kind, nullptr, get) != 1) return 0;
    RECT page{static_cast<LONG>(r.zero[0]), static_cast<LONG>(r.zero[1]), static_cast<LONG>(r.width),
              static_cast<LONG>(r.height)};
    TextState state(hdc, LightenColour(colour, lightness));
    font.lfHeight = -MulDiv(std::abs(font.lfHeight) / 20, r.resolution, 72);
    if (font.lfEscapement == 450) {
        font.lfEscapement = TableArcTangent(page.right, page.bottom);
        font.lfOrientation = font.lfEscapement;
    }
    state.Use(font);
    const SIZE extent = state.Extent(text, sizeof text);
    POINT at = WatermarkOrigin(extent.cx, extent.cy, font.lfEscapement / 10, page.right, page.bottom, ox, oy);
    DPtoLP(hdc, &at, 1);
    SaveDC(hdc);
    POINT corners[2] = {{page.left, page.top}, {page.right, page.bottom}};
    DPtoLP(hdc, corners, 2);
    BeginPath(hdc);
    MoveToEx(hdc, corners[0].x, corners[0].y, nullptr);
    LineTo(hdc, corners[0].x, corners[1].y);
    LineTo(hdc, corners[1].x, corners[1].y);
    LineTo(hdc, corners[1].x, corners[0].y);
    CloseFigure(hdc);
    EndPath(hdc);
    SelectClipPath(hdc, RGN_COPY);
    TextOutA(hdc, at.x, at.y, text, static_cast<int>(strnlen(text, sizeof text)));
    RestoreDC(hdc, -1);
    return 1;
}

int DrawEndDocText(HDC hdc, HMODULE library, int resolution, int width, int height) {
    char lines[3][128] = {};
    for (int i = 0; i < 3; ++i) {
        if (CallLoadXlatedString(library, 0, kInstructionLines[i], lines[i], sizeof lines[i]) <= 0 || !lines[i][0])
            return 0;
    }
    TextState state(hdc, 0x000000);
    LOGFONTA font{};
    font.lfEscapement = 1800;
    font.lfOrientation = 1800;
    font.lfCharSet = static_cast<BYTE>(CharsetOfCodePage(GetACP()));
    int widest = 0;
    auto build = [&](int points) {
        font.lfHeight = -MulDiv(points, resolution, 72);
        state.Use(font);
        widest = 0;
        for (auto& line : lines) widest = std::max(widest, static_cast<int>(state.Extent(line, sizeof line).cx));
    };
    build(14);
    if (widest > width) build(12);
    for (int i = 0; i < 3; ++i) {
        POINT at{widest / 2 + width / 2, height / 2 + i * font.lfHeight};
        DPtoLP(hdc, &at, 1);
        TextOutA(hdc, at.x, at.y, lines[i], static_cast<int>(strnlen(lines[i], sizeof lines[i])));
    }
    return 1;
}

}  // namespace zq
using namespace zq;

extern "C" int DrvDocumentEvent(HANDLE printer, HDC hdc, int event, ULONG inSize, void* in, ULONG, void* out) {
    switch (event) {
        case DOCUMENTEVENT_CREATEDCPRE: {
            const auto* pre = static_cast<const DOCEVENT_CREATEDCPRE*>(in);
            return PrepareDocumentDevmode(printer, static_cast<DEVMODEW**>(out), pre ? pre->pszDevice : nullptr,
                                          pre ? pre->pdm : nullptr);
        }
        case DOCUMENTEVENT_RESETDCPRE:
            return PrepareDocumentDevmode(printer, static_cast<DEVMODEW**>(out), nullptr,
                                          in ? *static_cast<DEVMODEW**>(in) : nullptr);
        case DOCUMENTEVENT_CREATEDCPOST: return AfterDc(printer, hdc, in, false);
        case DOCUMENTEVENT_RESETDCPOST: return AfterDc(printer, hdc, in, true);
        case DOCUMENTEVENT_STARTPAGE: return StartPageEvent(printer, hdc);
        case DOCUMENTEVENT_ENDPAGE: return EndPageEvent(printer, hdc);
        case DOCUMENTEVENT_ENDDOC: return EndDocEvent(printer, hdc);
        case DOCUMENTEVENT_ESCAPE: return EscapeEvent(printer, in, inSize);
        case DOCUMENTEVENT_ABORTDOC: return DOCUMENTEVENT_UNSUPPORTED;
        // The job-time services start here once they are built.
        case DOCUMENTEVENT_STARTDOC:
        case DOCUMENTEVENT_STARTDOCPOST:
        case DOCUMENTEVENT_ENDDOCPOST:
        case DOCUMENTEVENT_DELETEDC: return DOCUMENTEVENT_SUCCESS;
        default: return DOCUMENTEVENT_UNSUPPORTED;
    }
}
