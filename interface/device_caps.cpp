#include "interface/device_caps.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "base/loader.h"
#include "base/muldiv.h"
#include "base/paths.h"
#include "base/text.h"
#include "common/res_ids.h"
#include "interface/dialog_library.h"
#include "interface/ui_utils.h"
#include "outside/device_query_record.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/paper_resolution.h"
#include "settings/pd_list.h"
#include "settings/printer_devmode.h"
#include "settings/user_forms.h"
#include "store/spooler.h"

namespace zq {

namespace {

// The device's media codes and the papers they stand for.
struct MediaPaper {
    uint16_t media;
    uint16_t paper;
};
constexpr MediaPaper kMediaPapers[] = {
    {1, 1},    {2, 3},    {7, 5},     {9, 7},     {21, 8},    {22, 9},    {23, 11},
    {52, 12},  {53, 13},  {83, 34},   {84, 28},   {88, 27},   {116, 12},  {117, 13},
    {128, 37}, {129, 19}, {130, 20},  {224, 258}, {230, 14},  {231, 6},   {254, 257},
};

// Paper codes a model may offer, in the order they are listed.
std::vector<int> PaperCodes() {
    std::vector<int> codes;
    for (int c = 1; c <= 118; ++c) codes.push_back(c);
    for (int c = 256; c <= 262; ++c) codes.push_back(c);
    return codes;
}

uint16_t Ref(uint16_t word) {
    return static_cast<uint16_t>(word + 1);
}

// Writes a name into a field of n wide characters, zero-filled.
void PutName(WCHAR* field, size_t n, std::u16string_view name) {
    std::fill(field, field + n, u'\0');
    std::copy_n(name.begin(), std::min(name.size(), n - 1), field);
}

// The dialog library of the model, loaded for the names of one answer.
class DialogLibrary {
public:
    explicit DialogLibrary(const PrivateDevmode& r)
        : module_(LoadDialogLibrary(static_cast<uint8_t>(r.model.dialogSelector & 0xFF))) {}
    ~DialogLibrary() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    DialogLibrary(const DialogLibrary&) = delete;
    DialogLibrary& operator=(const DialogLibrary&) = delete;

    // The translated text of a string id; empty when it does not load.
    std::u16string Text(uint32_t direct, uint32_t id, uint16_t chars) const {
        std::string buffer(chars, '\0');
        const int n = CallLoadXlatedString(module_, direct, id, buffer.data(), chars);
        if (n <= 0) return {};
        buffer.resize(std::min<size_t>(static_cast<size_t>(n), chars - 1u));
        return AnsiToWide(buffer);
    }
    std::u16string PaperName(int code) const {
        return Text(0, PaperMaskBitToNameId(PaperSizeToMaskBit(code)), kPaperNameChars);
    }
    std::u16string TrayName(uint16_t trayId) const {
        using GetTrayId = uint32_t (*)(uint32_t);
        const auto get = module_ ? reinterpret_cast<GetTrayId>(GetProcAddress(module_, "GetTrayID")) : nullptr;
        if (get == nullptr) return {};
        const uint32_t id = get(trayId) & 0xFFFF;
        return id == 0 ? std::u16string() : Text(1, id, kBinNameChars);
    }

private:
    HMODULE module_;
};

// The texts of an enumeration's name block, `count` of them.
std::vector<std::string> EnumeratedNames(const void* block, int count) {
    std::vector<std::string> names;
    const char* p = static_cast<const char*>(block);
    for (int i = 0; p != nullptr && i < count; ++i) {
        names.emplace_back(p);
        p += names.back().size() + 1;
    }
    return names;
}

struct ListedPaper {
    int code;
    std::u16string name;
};

// The forms of a printer in list order: user-defined forms, form
// associations, fitting spooler forms (the first and last only on models
// that offer forms in the record's language).
void AddForms(const PrivateDevmode& r, const ModelData& model, HANDLE printer, const std::string& printerName,
              uint32_t mask, std::vector<ListedPaper>& out) {
    const bool forms = (mask & kFormMaskBit) != 0 &&
                       (r.printerLanguage != 2 || (static_cast<uint8_t>(r.model.flags396 >> 8) & 0x80) != 0);
    auto enumerated = [&](bool userForms) {
        void* ids = nullptr;
        void* names = nullptr;
        const int n = userForms ? UserFormEnumerate(printerName.c_str(), &ids, &names, nullptr)
                                : FormAssocEnumerate(printerName.c_str(), &ids, &names);
        const auto texts = EnumeratedNames(names, n);
        for (int i = 0; i < n && ids != nullptr && i < static_cast<int>(texts.size()); ++i) {
            uint16_t code = 0;
            std::memcpy(&code, static_cast<const uint8_t*>(ids) + 2 * i, 2);
            out.push_back({code, AnsiToWide(texts[static_cast<size_t>(i)])});
        }
        if (ids != nullptr) FreeEnumerationBlock(ids);
        if (names != nullptr) FreeEnumerationBlock(names);
    };
    if (printerName.empty()) return;
    if (forms) enumerated(true);
    enumerated(false);
    if (forms) {
        for (const SpoolerForm& f : FittingSpoolerForms(printer, model, r)) out.push_back({f.code, f.name});
    }
}

std::string PrinterName(HANDLE printer);

// The paper list (step 4): the model's papers, then the printer's forms.
DWORD Papers(const PrivateDevmode& r, const ModelData& model, HANDLE printer, WORD capability, void* output) {
    const uint32_t mask = GetModelPaperMask(model, r.model.paperTableRow);
    std::optional<DialogLibrary> names;
    if (capability == DC_PAPERNAMES && output != nullptr) names.emplace(r);
    std::vector<ListedPaper> papers;
    for (const int code : PaperCodes()) {
        const uint32_t bit = PaperSizeToMaskBit(code);
        if (bit == 0 || bit == kFormMaskBit || (bit & mask) == 0) continue;
        papers.push_back({code, names ? names->PaperName(code) : std::u16string()});
    }
    const std::string printerName = PrinterName(printer);
    AddForms(r, model, printer, printerName, mask, papers);
    PrinterFormSources forms(printerName, printer, model, r);
    DWORD count = 0;
    for (const ListedPaper& p : papers) {
        if (capability == DC_PAPERSIZE) {
            // The format of the record's orientation is already the sheet as
            // it lies: no further exchange.
            PaperFormat f{};
            if (!ComputePaperFormat(model, r, forms, p.code, r.dm.dmOrientation, r.rotated237 != 0, 1200, false, f)) {
                continue;
            }
            if (output != nullptr) {
                LONG* point = static_cast<LONG*>(output) + 2 * count;
                point[0] = MulDiv(f.usedWidth, 254, 1200);
                point[1] = MulDiv(f.usedLength, 254, 1200);
            }
        } else if (output != nullptr && capability == DC_PAPERS) {
            static_cast<WORD*>(output)[count] = static_cast<WORD>(p.code);
        } else if (output != nullptr) {
            PutName(static_cast<WCHAR*>(output) + kPaperNameChars * count, kPaperNameChars, p.name);
        }
        ++count;
    }
    return count;
}

// The installed trays (step 5).
DWORD Bins(const PrivateDevmode& r, const ModelData& model, WORD capability, void* output) {
    const auto t = ReadModelResource<kSourceTableSize>(model, res::kSourceTable, Ref(r.model.sourceTableId));
    if (!t.present()) return kCapabilityError;
    const uint32_t installed = r.installedSourceMask | (static_cast<uint32_t>(r.installedOptions) << 16);
    std::optional<DialogLibrary> names;
    if (capability == DC_BINNAMES) names.emplace(r);
    const size_t count = std::min<size_t>(t.u16(0), (kSourceTableSize - 8) / kSourceEntrySize);
    DWORD taken = 0;
    for (size_t i = 0; i < count && taken < 12; ++i) {
        const size_t e = 8 + i * kSourceEntrySize;
        if ((t.u16(e) & installed) == 0) continue;
        if (output != nullptr && capability == DC_BINS) {
            static_cast<WORD*>(output)[taken] = t.u16(e + 2);
        } else if (output != nullptr) {
            PutName(static_cast<WCHAR*>(output) + kBinNameChars * taken, kBinNameChars, names->TrayName(t.u16(e + 4)));
        }
        ++taken;
    }
    return taken;
}

DWORD Resolutions(const PrivateDevmode& r, void* output) {
    std::vector<LONG> counted;
    for (size_t i = 0; i < 5; ++i) {
        const LONG v = r.resolutions[i];
        // A slot the model leaves empty is no resolution.
        if (i > 0 && (v == 0 || std::find(counted.begin(), counted.end(), v) != counted.end())) continue;
        counted.push_back(v);
    }
    // The current resolution leads; the others follow once each. The
    // answer counts the pairs written.
    std::vector<LONG> pairs = {r.dm.dmPrintQuality, r.dm.dmYResolution};
    for (const LONG v : counted) {
        if (v != r.dm.dmPrintQuality) {
            pairs.push_back(v);
            pairs.push_back(v);
        }
    }
    if (output != nullptr) std::copy(pairs.begin(), pairs.end(), static_cast<LONG*>(output));
    return static_cast<DWORD>(pairs.size() / 2);
}

DWORD Extent(const PrivateDevmode& r, const ModelData& model, bool maximum) {
    const auto l = ReadModelResource<8>(model, res::kPaperLimits, Ref(r.model.paperLimitsId));
    if (!l.present()) return 0;
    const int width = MulDiv(maximum ? l.u16(0) : l.u16(2), 254, 1200);
    const int length = MulDiv(maximum ? l.u16(4) : l.u16(6), 254, 1200);
    return static_cast<DWORD>((width & 0xFFFF) | ((length & 0xFFFF) << 16));
}

std::string PrinterPort(HANDLE printer, std::string& printerName) {
    printerName.clear();
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    if (needed < sizeof(PRINTER_INFO_2W)) return {};
    std::vector<uint8_t> buffer(needed);
    if (!GetPrinterW(printer, 2, buffer.data(), needed, &needed)) return {};
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    printerName = info->pPrinterName ? WideToAnsi(info->pPrinterName) : std::string();
    std::string port = info->pPortName ? WideToAnsi(info->pPortName) : std::string();
    return port.substr(0, port.find(','));
}

std::string PrinterName(HANDLE printer) {
    std::string name;
    PrinterPort(printer, name);
    return name;
}

// The papers the device says are loaded, each once; nullopt when it cannot
// be asked.
std::optional<std::vector<uint16_t>> LoadedPapers(HANDLE printer) {
    const std::u16string system = SystemDirectory();
    HMODULE commlib = LoadLibraryW((system + u"\\commlib.dll").c_str());
    if (commlib == nullptr) return std::nullopt;
    FreeLibrary(commlib);
    std::string printerName;
    const std::string port = PrinterPort(printer, printerName);
    if (port.empty()) return std::nullopt;
    // The query library beside the driver, else in the system directory.
    char path[1024] = {};
    const DWORD n = GetModuleFileNameA(DriverModule(), path, sizeof path);
    HMODULE bidiqry = nullptr;
    if (n > 0 && n < sizeof path) {
        std::string dir(path, n);
        const size_t cut = dir.find_last_of("\\/");
        if (cut != std::string::npos) {
            bidiqry = LoadLibraryA((dir.substr(0, cut + 1) + "bidiqry.dll").c_str());
        }
    }
    if (bidiqry == nullptr) bidiqry = LoadLibraryW((system + u"\\bidiqry.dll").c_str());
    if (bidiqry == nullptr) return std::nullopt;
    using Get = uint32_t (*)(const char*, const char*, uint32_t, void**, uint32_t);
    using Release = void (*)(void*);
    const auto get = reinterpret_cast<Get>(GetProcAddress(bidiqry, "GetDrvNPAData"));
    const auto release = reinterpret_cast<Release>(GetProcAddress(bidiqry, "FreeDrvNPAData"));
    std::optional<std::vector<uint16_t>> papers;
    void* record = nullptr;
    if (get != nullptr && release != nullptr &&
        get(printerName.c_str(), port.c_str(), kQueryMediaReady, &record, 2) == 0 && record != nullptr) {
        DeviceQueryRecord head;
        std::memcpy(&head, record, sizeof head);
        papers.emplace();
        for (const uint16_t media : DeviceQueryInputMedia(static_cast<const uint8_t*>(record), head.size)) {
            const uint16_t paper = MediaCodeToPaper(media);
            if (paper != 0 && std::find(papers->begin(), papers->end(), paper) == papers->end()) {
                papers->push_back(paper);
            }
        }
        release(record);
    }
    FreeLibrary(bidiqry);
    return papers;
}

// Step 6: one name slot per paper counted, zeroed where the name is not
// the model's or does not load, so that count and names are one set.
DWORD MediaReady(const PrivateDevmode& r, const ModelData& model, HANDLE printer, void* output) {
    const uint32_t mask = GetModelPaperMask(model, r.model.paperTableRow);
    std::vector<uint16_t> papers;
    if (auto loaded = LoadedPapers(printer)) {
        papers = std::move(*loaded);
    } else {
        for (const int code : PaperCodes()) {
            const uint32_t bit = PaperSizeToMaskBit(code);
            if (bit != 0 && bit != kFormMaskBit && (bit & mask) != 0) papers.push_back(static_cast<uint16_t>(code));
        }
    }
    if (output != nullptr) {
        const DialogLibrary names(r);
        for (size_t i = 0; i < papers.size(); ++i) {
            const bool ours = (PaperSizeToMaskBit(papers[i]) & mask) != 0;
            PutName(static_cast<WCHAR*>(output) + kPaperNameChars * i, kPaperNameChars,
                    ours ? names.PaperName(papers[i]) : std::u16string());
        }
    }
    return static_cast<DWORD>(papers.size());
}

DWORD Answer(const PrivateDevmode& r, const ModelData& model, HANDLE printer, WORD capability, void* output) {
    const uint8_t byte396 = static_cast<uint8_t>(r.model.flags396 & 0xFF);
    const uint8_t byte397 = static_cast<uint8_t>(r.model.flags396 >> 8);
    switch (capability) {
        case DC_FIELDS: return r.dm.dmFields;
        case DC_PAPERS:
        case DC_PAPERSIZE:
        case DC_PAPERNAMES: return Papers(r, model, printer, capability, output);
        case DC_MINEXTENT: return Extent(r, model, false);
        case DC_MAXEXTENT: return Extent(r, model, true);
        case DC_BINS:
        case DC_BINNAMES: return Bins(r, model, capability, output);
        case DC_DUPLEX:
            if ((byte397 & 0x18) == 0) return r.duplexOptions != 0 ? 1 : 0;
            return 1;
        case DC_SIZE: return r.dm.dmSize;
        case DC_EXTRA: return r.dm.dmDriverExtra;
        case DC_DRIVER: return r.dm.dmDriverVersion;
        case DC_ENUMRESOLUTIONS: return Resolutions(r, output);
        case DC_FILEDEPENDENCIES:
            if (output != nullptr) static_cast<WCHAR*>(output)[0] = u'\0';
            return 0;
        case DC_TRUETYPE: return DCTT_BITMAP | DCTT_DOWNLOAD | DCTT_SUBDEV;
        case DC_ORIENTATION: return 90;
        case DC_COPIES: return 9999;
        case DC_BINADJUST: return (r.dm.dmDefaultSource != 14 || (byte397 & 0x2)) ? 2 : 1;
        case DC_COLLATE: return (byte396 & 0x4) ? 1 : 0;
        case DC_PERSONALITY: {
            const bool pclxl = (r.model.flags400 & 0x100) != 0;
            if (output != nullptr) {
                auto* names = static_cast<WCHAR*>(output);
                PutName(names, kPersonalityChars, u"PCL");
                if (pclxl) PutName(names + kPersonalityChars, kPersonalityChars, u"PCL XL");
            }
            return pclxl ? 2 : 1;
        }
        case DC_PRINTRATE:
        case DC_PRINTRATEPPM: return r.model.printRate;
        case DC_PRINTRATEUNIT: return PRINTRATEUNIT_PPM;
        case DC_PRINTERMEM: return static_cast<DWORD>(r.memoryMegabytes) * 1024;
        case DC_MEDIAREADY: return MediaReady(r, model, printer, output);
        case DC_STAPLE: {
            // A finisher that staples: the model's finisher bit with the
            // stapler installed or on any model but code 16, or a stapling
            // unit among the installed options (bits 7 and 11-13 of 464).
            const uint32_t options = r.installedOptions | (static_cast<uint32_t>(r.overlaySwitch) << 16) |
                                     (static_cast<uint32_t>(r.overlayAtPageStart) << 24);
            const bool finisher = (byte396 & 0x10) != 0;
            return ((finisher && (options & 0x20)) || (finisher && r.model.modelCode != 16) ||
                    (options & 0x3880) != 0)
                       ? 1
                       : 0;
        }
        case DC_COLORDEVICE: return IsColourModel(r.model) ? 1 : 0;
        case DC_NUP: {
            static constexpr DWORD kPagesPerSheet[] = {1, 2, 4, 6, 9, 16};
            if (output != nullptr) std::copy(std::begin(kPagesPerSheet), std::end(kPagesPerSheet), static_cast<DWORD*>(output));
            return 6;
        }
        default: return kCapabilityError;
    }
}

}  // namespace

uint16_t MediaCodeToPaper(uint16_t mediaCode) {
    for (const auto& m : kMediaPapers) {
        if (m.media == mediaCode) return m.paper;
    }
    return 0;
}

}  // namespace zq

extern "C" DWORD DrvDeviceCapabilities(HANDLE printer, LPWSTR /*deviceName*/, WORD capability, PVOID output,
                                       DEVMODEW* devmode) {
    if (capability == DC_VERSION) {
        return 1025;
    }
    const HMODULE module = zq::DriverModule();
    zq::PrivateDevmode record{};
    std::span<const uint8_t> application;
    if (devmode != nullptr && devmode->dmSize >= offsetof(DEVMODEW, dmFields) + 4) {
        application = {reinterpret_cast<const uint8_t*>(devmode),
                       static_cast<size_t>(devmode->dmSize) + devmode->dmDriverExtra};
    }
    if ((zq::GetPrinterDevmode(printer, module, record, application, 10) & 0x8000) != 0) {
        return zq::kCapabilityError;
    }
    return zq::Answer(record, zq::ModuleModelData(module), printer, capability, output);
}
