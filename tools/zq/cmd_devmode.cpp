// zq devmode: the printer's private DEVMODE, field by field, and a check of
// a DEVMODE file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/loader.h"
#include "command.h"
#include "interface/ui_utils.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/printer_devmode.h"
#include "store/admin.h"
#include "base/msgbox.h"
#include "store/driver_ui.h"
#include "store/spooler.h"

namespace {

using zq::PrivateDevmode;

constexpr const char* kUsage =
    "usage: zq devmode default --printer NAME [--json] [--out FILE]\n"
    "       zq devmode current --printer NAME [--json] [--out FILE]\n"
    "       zq devmode check FILE [--json]\n"
    "       zq devmode set --printer NAME FIELD=VALUE... --out FILE\n\n"
    "default  the default record of the printer's model (nothing is stored)\n"
    "current  the printer's current record, as the spooler's DocumentProperties\n"
    "         hands it out from the printer's interface driver (an invalid stored\n"
    "         record is rebuilt and stored)\n"
    "check    validity, check value and model of a 1256-byte record in FILE\n"
    "set      an application's record: the printer's current one with the named\n"
    "         fields changed (names as the field list shows them; numbers, or\n"
    "         text for the text fields) and its check value renewed, written to\n"
    "         FILE for zq print --devmode\n\n"
    "--json   one JSON object instead of the field list\n"
    "--out    also writes the 1256 bytes to FILE\n";

enum class Kind { U8, U16, S16, U32, Text, WText, Bytes, Words, Dwords };

struct Field {
    const char* name;
    size_t offset;
    Kind kind;
    size_t size;  // bytes, for texts and arrays
};

// Every named field of the record, in record order.
const Field kFields[] = {
    {"dmDeviceName", offsetof(PrivateDevmode, dm.dmDeviceName), Kind::WText, sizeof(DEVMODEW::dmDeviceName)},
    {"dmSpecVersion", offsetof(PrivateDevmode, dm.dmSpecVersion), Kind::U16, sizeof(DEVMODEW::dmSpecVersion)},
    {"dmDriverVersion", offsetof(PrivateDevmode, dm.dmDriverVersion), Kind::U16, sizeof(DEVMODEW::dmDriverVersion)},
    {"dmSize", offsetof(PrivateDevmode, dm.dmSize), Kind::U16, sizeof(DEVMODEW::dmSize)},
    {"dmDriverExtra", offsetof(PrivateDevmode, dm.dmDriverExtra), Kind::U16, sizeof(DEVMODEW::dmDriverExtra)},
    {"dmFields", offsetof(PrivateDevmode, dm.dmFields), Kind::U32, sizeof(DEVMODEW::dmFields)},
    {"dmOrientation", offsetof(PrivateDevmode, dm.dmOrientation), Kind::S16, sizeof(DEVMODEW::dmOrientation)},
    {"dmPaperSize", offsetof(PrivateDevmode, dm.dmPaperSize), Kind::S16, sizeof(DEVMODEW::dmPaperSize)},
    {"dmPaperLength", offsetof(PrivateDevmode, dm.dmPaperLength), Kind::S16, sizeof(DEVMODEW::dmPaperLength)},
    {"dmPaperWidth", offsetof(PrivateDevmode, dm.dmPaperWidth), Kind::S16, sizeof(DEVMODEW::dmPaperWidth)},
    {"dmScale", offsetof(PrivateDevmode, dm.dmScale), Kind::S16, sizeof(DEVMODEW::dmScale)},
    {"dmCopies", offsetof(PrivateDevmode, dm.dmCopies), Kind::S16, sizeof(DEVMODEW::dmCopies)},
    {"dmDefaultSource", offsetof(PrivateDevmode, dm.dmDefaultSource), Kind::S16, sizeof(DEVMODEW::dmDefaultSource)},
    {"dmPrintQuality", offsetof(PrivateDevmode, dm.dmPrintQuality), Kind::S16, sizeof(DEVMODEW::dmPrintQuality)},
    {"dmColor", offsetof(PrivateDevmode, dm.dmColor), Kind::S16, sizeof(DEVMODEW::dmColor)},
    {"dmDuplex", offsetof(PrivateDevmode, dm.dmDuplex), Kind::S16, sizeof(DEVMODEW::dmDuplex)},
    {"dmYResolution", offsetof(PrivateDevmode, dm.dmYResolution), Kind::S16, sizeof(DEVMODEW::dmYResolution)},
    {"dmTTOption", offsetof(PrivateDevmode, dm.dmTTOption), Kind::S16, sizeof(DEVMODEW::dmTTOption)},
    {"dmCollate", offsetof(PrivateDevmode, dm.dmCollate), Kind::S16, sizeof(DEVMODEW::dmCollate)},
    {"dmFormName", offsetof(PrivateDevmode, dm.dmFormName), Kind::WText, sizeof(DEVMODEW::dmFormName)},
    {"dmICMMethod", offsetof(PrivateDevmode, dm.dmICMMethod), Kind::U32, sizeof(DEVMODEW::dmICMMethod)},
    {"dmICMIntent", offsetof(PrivateDevmode, dm.dmICMIntent), Kind::U32, sizeof(DEVMODEW::dmICMIntent)},
    {"dmMediaType", offsetof(PrivateDevmode, dm.dmMediaType), Kind::U32, sizeof(DEVMODEW::dmMediaType)},
    {"dmDitherType", offsetof(PrivateDevmode, dm.dmDitherType), Kind::U32, sizeof(DEVMODEW::dmDitherType)},
    {"signature1", offsetof(PrivateDevmode, signature1), Kind::U32, 0},
    {"switch224", offsetof(PrivateDevmode, switch224), Kind::U8, 0},
    {"switch225", offsetof(PrivateDevmode, switch225), Kind::U8, 0},
    {"nonCjkSwitch", offsetof(PrivateDevmode, nonCjkSwitch), Kind::U8, 0},
    {"metaSpool", offsetof(PrivateDevmode, metaSpool), Kind::U8, 0},
    {"metaSpoolResolved", offsetof(PrivateDevmode, metaSpoolResolved), Kind::U8, 0},
    {"printerLanguage", offsetof(PrivateDevmode, printerLanguage), Kind::U8, 0},
    {"darknessLevel", offsetof(PrivateDevmode, darknessLevel), Kind::U8, 0},
    {"option231", offsetof(PrivateDevmode, option231), Kind::U8, 0},
    {"resolutionFeature", offsetof(PrivateDevmode, resolutionFeature), Kind::U8, 0},
    {"pairFirst", offsetof(PrivateDevmode, pairFirst), Kind::U8, 0},
    {"pairSecond", offsetof(PrivateDevmode, pairSecond), Kind::U8, 0},
    {"colourOption235", offsetof(PrivateDevmode, colourOption235), Kind::U8, 0},
    {"option236", offsetof(PrivateDevmode, option236), Kind::U8, 0},
    {"rotated237", offsetof(PrivateDevmode, rotated237), Kind::U8, 0},
    {"option238", offsetof(PrivateDevmode, option238), Kind::U8, 0},
    {"modelName", offsetof(PrivateDevmode, modelName), Kind::Text, sizeof(PrivateDevmode::modelName)},
    {"printerName", offsetof(PrivateDevmode, printerName), Kind::Text, sizeof(PrivateDevmode::printerName)},
    {"option303", offsetof(PrivateDevmode, option303), Kind::U8, 0},
    {"privateVersion", offsetof(PrivateDevmode, privateVersion), Kind::U16, 0},
    {"option306", offsetof(PrivateDevmode, option306), Kind::U8, 0},
    {"modelDisplayName", offsetof(PrivateDevmode, modelDisplayName), Kind::Text, sizeof(PrivateDevmode::modelDisplayName)},
    {"model.memoryMegabytes", offsetof(PrivateDevmode, model.memoryMegabytes), Kind::U16, 0},
    {"model.word342", offsetof(PrivateDevmode, model.word342), Kind::U16, 0},
    {"model.printRate", offsetof(PrivateDevmode, model.printRate), Kind::U16, 0},
    {"model.fontListId", offsetof(PrivateDevmode, model.fontListId), Kind::U16, 0},
    {"model.paperTableRow", offsetof(PrivateDevmode, model.paperTableRow), Kind::U16, 0},
    {"model.sourceTableId", offsetof(PrivateDevmode, model.sourceTableId), Kind::U16, 0},
    {"model.resolutionTableId", offsetof(PrivateDevmode, model.resolutionTableId), Kind::U16, 0},
    {"model.languageId", offsetof(PrivateDevmode, model.languageId), Kind::U16, 0},
    {"model.optionId", offsetof(PrivateDevmode, model.optionId), Kind::U16, 0},
    {"model.pairTableId", offsetof(PrivateDevmode, model.pairTableId), Kind::U16, 0},
    {"model.slotTableId", offsetof(PrivateDevmode, model.slotTableId), Kind::U16, 0},
    {"model.installableId", offsetof(PrivateDevmode, model.installableId), Kind::U16, 0},
    {"model.id275", offsetof(PrivateDevmode, model.id275), Kind::U16, 0},
    {"model.word372", offsetof(PrivateDevmode, model.word372), Kind::U16, 0},
    {"model.id270", offsetof(PrivateDevmode, model.id270), Kind::U16, 0},
    {"model.word376", offsetof(PrivateDevmode, model.word376), Kind::U16, 0},
    {"model.id272", offsetof(PrivateDevmode, model.id272), Kind::U16, 0},
    {"model.codePageId", offsetof(PrivateDevmode, model.codePageId), Kind::U16, 0},
    {"model.trayTableId", offsetof(PrivateDevmode, model.trayTableId), Kind::U16, 0},
    {"model.binTableId", offsetof(PrivateDevmode, model.binTableId), Kind::U16, 0},
    {"model.paperLimitsId", offsetof(PrivateDevmode, model.paperLimitsId), Kind::U16, 0},
    {"model.word388", offsetof(PrivateDevmode, model.word388), Kind::U16, 0},
    {"model.id286", offsetof(PrivateDevmode, model.id286), Kind::U16, 0},
    {"model.flags392", offsetof(PrivateDevmode, model.flags392), Kind::U16, 0},
    {"model.flags394", offsetof(PrivateDevmode, model.flags394), Kind::U16, 0},
    {"model.flags396", offsetof(PrivateDevmode, model.flags396), Kind::U16, 0},
    {"model.flags398", offsetof(PrivateDevmode, model.flags398), Kind::U16, 0},
    {"model.flags400", offsetof(PrivateDevmode, model.flags400), Kind::U16, 0},
    {"model.word402", offsetof(PrivateDevmode, model.word402), Kind::U16, 0},
    {"model.word404", offsetof(PrivateDevmode, model.word404), Kind::U16, 0},
    {"model.halftoneScreen", offsetof(PrivateDevmode, model.halftoneScreen), Kind::U8, 0},
    {"model.byte407", offsetof(PrivateDevmode, model.byte407), Kind::U8, 0},
    {"model.modelCode", offsetof(PrivateDevmode, model.modelCode), Kind::U16, 0},
    {"model.pageListId", offsetof(PrivateDevmode, model.pageListId), Kind::U16, 0},
    {"model.webPrinterCode", offsetof(PrivateDevmode, model.webPrinterCode), Kind::U16, 0},
    {"model.controlTableId", offsetof(PrivateDevmode, model.controlTableId), Kind::U16, 0},
    {"model.dialogSelector", offsetof(PrivateDevmode, model.dialogSelector), Kind::U16, 0},
    {"signature2", offsetof(PrivateDevmode, signature2), Kind::U32, 0},
    {"languageValue428", offsetof(PrivateDevmode, languageValue428), Kind::U16, 0},
    {"languageValue430", offsetof(PrivateDevmode, languageValue430), Kind::U16, 0},
    {"graphicsModeResolved", offsetof(PrivateDevmode, graphicsModeResolved), Kind::U8, 0},
    {"memoryMegabytes", offsetof(PrivateDevmode, memoryMegabytes), Kind::U16, 0},
    {"resolutions", offsetof(PrivateDevmode, resolutions), Kind::Words, sizeof(PrivateDevmode::resolutions)},
    {"defaultResolution", offsetof(PrivateDevmode, defaultResolution), Kind::U16, 0},
    {"option448", offsetof(PrivateDevmode, option448), Kind::U8, 0},
    {"option449", offsetof(PrivateDevmode, option449), Kind::U8, 0},
    {"option450", offsetof(PrivateDevmode, option450), Kind::U8, 0},
    {"option451", offsetof(PrivateDevmode, option451), Kind::U8, 0},
    {"option452", offsetof(PrivateDevmode, option452), Kind::U8, 0},
    {"switch453", offsetof(PrivateDevmode, switch453), Kind::U8, 0},
    {"option454", offsetof(PrivateDevmode, option454), Kind::U8, 0},
    {"jobHeaderFlags", offsetof(PrivateDevmode, jobHeaderFlags), Kind::U16, 0},
    {"switch458", offsetof(PrivateDevmode, switch458), Kind::U8, 0},
    {"duplexOptions", offsetof(PrivateDevmode, duplexOptions), Kind::U8, 0},
    {"count460", offsetof(PrivateDevmode, count460), Kind::U8, 0},
    {"count461", offsetof(PrivateDevmode, count461), Kind::U8, 0},
    {"installedSourceMask", offsetof(PrivateDevmode, installedSourceMask), Kind::U16, 0},
    {"installedOptions", offsetof(PrivateDevmode, installedOptions), Kind::U16, 0},
    {"overlaySwitch", offsetof(PrivateDevmode, overlaySwitch), Kind::U8, 0},
    {"overlayAtPageStart", offsetof(PrivateDevmode, overlayAtPageStart), Kind::U8, 0},
    {"overlayName1", offsetof(PrivateDevmode, overlayName1), Kind::Text, sizeof(PrivateDevmode::overlayName1)},
    {"overlayName2", offsetof(PrivateDevmode, overlayName2), Kind::Text, sizeof(PrivateDevmode::overlayName2)},
    {"macroIds", offsetof(PrivateDevmode, macroIds), Kind::Words, sizeof(PrivateDevmode::macroIds)},
    {"option602", offsetof(PrivateDevmode, option602), Kind::U8, 0},
    {"switch603", offsetof(PrivateDevmode, switch603), Kind::U8, 0},
    {"switch604", offsetof(PrivateDevmode, switch604), Kind::U8, 0},
    {"pagesPerSheet", offsetof(PrivateDevmode, pagesPerSheet), Kind::U8, 0},
    {"slotSourceCodes", offsetof(PrivateDevmode, slotSourceCodes), Kind::Words, sizeof(PrivateDevmode::slotSourceCodes)},
    {"slotCodes", offsetof(PrivateDevmode, slotCodes), Kind::Bytes, sizeof(PrivateDevmode::slotCodes)},
    {"slotValues", offsetof(PrivateDevmode, slotValues), Kind::Bytes, sizeof(PrivateDevmode::slotValues)},
    {"printerCopies", offsetof(PrivateDevmode, printerCopies), Kind::U8, 0},
    {"option651", offsetof(PrivateDevmode, option651), Kind::U8, 0},
    {"swEnable", offsetof(PrivateDevmode, swEnable), Kind::U8, 0},
    {"option653", offsetof(PrivateDevmode, option653), Kind::U8, 0},
    {"adjustSelector", offsetof(PrivateDevmode, adjustSelector), Kind::U8, 0},
    {"option655", offsetof(PrivateDevmode, option655), Kind::U8, 0},
    {"option656", offsetof(PrivateDevmode, option656), Kind::U8, 0},
    {"option657", offsetof(PrivateDevmode, option657), Kind::U8, 0},
    {"adjustments", offsetof(PrivateDevmode, adjustments), Kind::Bytes, sizeof(PrivateDevmode::adjustments)},
    {"option669", offsetof(PrivateDevmode, option669), Kind::U8, 0},
    {"option670", offsetof(PrivateDevmode, option670), Kind::U8, 0},
    {"watermarkPlacement", offsetof(PrivateDevmode, watermarkPlacement), Kind::U8, 0},
    {"watermarkFlag", offsetof(PrivateDevmode, watermarkFlag), Kind::U8, 0},
    {"watermarkId1", offsetof(PrivateDevmode, watermarkId1), Kind::U8, 0},
    {"watermarkId2", offsetof(PrivateDevmode, watermarkId2), Kind::U8, 0},
    {"userPaperOverlay1", offsetof(PrivateDevmode, userPaperOverlay1), Kind::Text, sizeof(PrivateDevmode::userPaperOverlay1)},
    {"userPaperOverlay2", offsetof(PrivateDevmode, userPaperOverlay2), Kind::Text, sizeof(PrivateDevmode::userPaperOverlay2)},
    {"userPaperWord804", offsetof(PrivateDevmode, userPaperWord804), Kind::U16, 0},
    {"userPaperWord806", offsetof(PrivateDevmode, userPaperWord806), Kind::U16, 0},
    {"userPaperSettings", offsetof(PrivateDevmode, userPaperSettings), Kind::Bytes, sizeof(PrivateDevmode::userPaperSettings)},
    {"fontSets1", offsetof(PrivateDevmode, fontSets1), Kind::U32, 0},
    {"fontSets2", offsetof(PrivateDevmode, fontSets2), Kind::U32, 0},
    {"text824", offsetof(PrivateDevmode, text824), Kind::Text, sizeof(PrivateDevmode::text824)},
    {"pin849", offsetof(PrivateDevmode, pin849), Kind::Text, sizeof(PrivateDevmode::pin849)},
    {"paperFormats", offsetof(PrivateDevmode, paperFormats), Kind::Words, sizeof(PrivateDevmode::paperFormats)},
    {"availableMemory", offsetof(PrivateDevmode, availableMemory), Kind::U32, 0},
    {"manualDuplex", offsetof(PrivateDevmode, manualDuplex), Kind::U8, 0},
    {"reversePageOrder", offsetof(PrivateDevmode, reversePageOrder), Kind::U8, 0},
    {"option1078", offsetof(PrivateDevmode, option1078), Kind::U8, 0},
    {"option1079", offsetof(PrivateDevmode, option1079), Kind::U8, 0},
    {"switch1080", offsetof(PrivateDevmode, switch1080), Kind::U8, 0},
    {"option1081", offsetof(PrivateDevmode, option1081), Kind::U8, 0},
    {"option1082", offsetof(PrivateDevmode, option1082), Kind::U8, 0},
    {"switch1083", offsetof(PrivateDevmode, switch1083), Kind::U8, 0},
    {"number1084", offsetof(PrivateDevmode, number1084), Kind::U32, 0},
    {"option1088", offsetof(PrivateDevmode, option1088), Kind::U8, 0},
    {"separatePages", offsetof(PrivateDevmode, separatePages), Kind::U8, 0},
    {"switch1090", offsetof(PrivateDevmode, switch1090), Kind::U8, 0},
    {"number1091", offsetof(PrivateDevmode, number1091), Kind::U8, 0},
    {"mediaByte", offsetof(PrivateDevmode, mediaByte), Kind::U8, 0},
    {"option1093", offsetof(PrivateDevmode, option1093), Kind::U8, 0},
    {"option1094", offsetof(PrivateDevmode, option1094), Kind::U8, 0},
    {"secondPaper", offsetof(PrivateDevmode, secondPaper), Kind::S16, 0},
    {"profileKind", offsetof(PrivateDevmode, profileKind), Kind::U32, 0},
    {"collateAllowed", offsetof(PrivateDevmode, collateAllowed), Kind::U8, 0},
    {"profileId", offsetof(PrivateDevmode, profileId), Kind::Dwords, sizeof(PrivateDevmode::profileId)},
    {"accountTracking", offsetof(PrivateDevmode, accountTracking), Kind::U8, 0},
    {"accountId", offsetof(PrivateDevmode, accountId), Kind::Text, sizeof(PrivateDevmode::accountId)},
    {"computerName", offsetof(PrivateDevmode, computerName), Kind::Text, sizeof(PrivateDevmode::computerName)},
    {"userName", offsetof(PrivateDevmode, userName), Kind::Text, sizeof(PrivateDevmode::userName)},
    {"checkValue", offsetof(PrivateDevmode, checkValue), Kind::U16, 0},
    {"switch1226", offsetof(PrivateDevmode, switch1226), Kind::U8, 0},
    {"cjkSwitch", offsetof(PrivateDevmode, cjkSwitch), Kind::U8, 0},
    {"option1228", offsetof(PrivateDevmode, option1228), Kind::U8, 0},
    {"option1229", offsetof(PrivateDevmode, option1229), Kind::U8, 0},
    {"options1230", offsetof(PrivateDevmode, options1230), Kind::Bytes, sizeof(PrivateDevmode::options1230)},
    {"switch1233", offsetof(PrivateDevmode, switch1233), Kind::U8, 0},
    {"switch1234", offsetof(PrivateDevmode, switch1234), Kind::U8, 0},
    {"switch1235", offsetof(PrivateDevmode, switch1235), Kind::U8, 0},
    {"switch1236", offsetof(PrivateDevmode, switch1236), Kind::U8, 0},
    {"switch1237", offsetof(PrivateDevmode, switch1237), Kind::U8, 0},
    {"switch1238", offsetof(PrivateDevmode, switch1238), Kind::U8, 0},
    {"switch1239", offsetof(PrivateDevmode, switch1239), Kind::U8, 0},
    {"option1240", offsetof(PrivateDevmode, option1240), Kind::U8, 0},
    {"option1241", offsetof(PrivateDevmode, option1241), Kind::U8, 0},
    {"option1242", offsetof(PrivateDevmode, option1242), Kind::U8, 0},
    {"switch1243", offsetof(PrivateDevmode, switch1243), Kind::U8, 0},
    {"options1244", offsetof(PrivateDevmode, options1244), Kind::Bytes, sizeof(PrivateDevmode::options1244)},
    {"signature3", offsetof(PrivateDevmode, signature3), Kind::U32, 0},
};

template <typename T>
T At(const PrivateDevmode& r, size_t offset) {
    T v;
    std::memcpy(&v, reinterpret_cast<const uint8_t*>(&r) + offset, sizeof v);
    return v;
}

std::string Escape(std::string_view s) {
    std::string out;
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\u%04x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

// The field's value as JSON (which also reads well as text).
std::string Value(const PrivateDevmode& r, const Field& f) {
    const auto* base = reinterpret_cast<const uint8_t*>(&r) + f.offset;
    switch (f.kind) {
        case Kind::U8: return std::to_string(At<uint8_t>(r, f.offset));
        case Kind::U16: return std::to_string(At<uint16_t>(r, f.offset));
        case Kind::S16: return std::to_string(At<int16_t>(r, f.offset));
        case Kind::U32: return std::to_string(At<uint32_t>(r, f.offset));
        case Kind::Text: {
            const auto* text = reinterpret_cast<const char*>(base);
            return "\"" + Escape(std::string(text, strnlen(text, f.size))) + "\"";
        }
        case Kind::WText: {
            std::u16string w;
            for (size_t i = 0; i + 1 < f.size; i += 2) {
                const char16_t c = At<char16_t>(r, f.offset + i);
                if (c == 0) break;
                w += c;
            }
            return "\"" + Escape(zq::store::ToUtf8(w)) + "\"";
        }
        case Kind::Bytes:
        case Kind::Words:
        case Kind::Dwords: {
            const size_t width = f.kind == Kind::Bytes ? 1 : f.kind == Kind::Words ? 2 : 4;
            std::string out = "[";
            for (size_t i = 0; i < f.size; i += width) {
                uint32_t v = 0;
                std::memcpy(&v, base + i, width);
                out += (i ? ", " : "") + std::to_string(v);
            }
            return out + "]";
        }
    }
    return "null";
}

struct Report {
    bool sized = true;
    bool valid = false;
    bool checkValueRight = false;
    uint16_t stored = 0;
    uint16_t computed = 0;
    int modelIndex = -1;
    std::optional<bool> modelRecordMatches;
};

Report Check(const PrivateDevmode& r, HMODULE drvui) {
    Report rep;
    rep.valid = zq::IsValidPrivateDevmode(r);
    rep.stored = r.checkValue;
    rep.computed = zq::DevmodeCheckValue(r);
    rep.checkValueRight = rep.stored == rep.computed;
    if (drvui != nullptr) {
        rep.modelIndex = zq::FindModelIndex(drvui, std::string(r.modelName, strnlen(r.modelName, sizeof r.modelName)));
        const zq::LoadedModel m = zq::LoadModelRecord(drvui, rep.modelIndex < 0 ? 0 : rep.modelIndex);
        if (rep.modelIndex >= 0 && m.recordLoaded) {
            rep.modelRecordMatches = std::memcmp(&m.record, &r.model, sizeof m.record) == 0;
        }
    }
    return rep;
}

void Print(const PrivateDevmode& r, bool json, const Report* rep) {
    if (json) {
        std::printf("{");
        if (rep != nullptr) {
            std::printf("\"valid\": %s, \"checkValueRight\": %s, \"checkValueStored\": %u, \"checkValueComputed\": %u, "
                        "\"modelIndex\": %d, \"modelRecordMatches\": %s, ",
                        rep->valid ? "true" : "false", rep->checkValueRight ? "true" : "false", rep->stored,
                        rep->computed, rep->modelIndex,
                        rep->modelRecordMatches ? (*rep->modelRecordMatches ? "true" : "false") : "null");
        }
        std::printf("\"fields\": {");
        bool first = true;
        for (const auto& f : kFields) {
            std::printf("%s\"%s\": %s", first ? "" : ", ", f.name, Value(r, f).c_str());
            first = false;
        }
        std::printf("}}\n");
        return;
    }
    if (rep != nullptr) {
        std::printf("valid               %s\n", rep->valid ? "yes" : "no");
        std::printf("check value         %s (stored 0x%04X, computed 0x%04X)\n", rep->checkValueRight ? "right" : "wrong",
                    rep->stored, rep->computed);
        if (rep->modelIndex >= 0) {
            std::printf("model               %d%s\n", rep->modelIndex,
                        rep->modelRecordMatches ? (*rep->modelRecordMatches ? ", model record as the driver's"
                                                                             : ", model record differs from the driver's")
                                                : "");
        } else {
            std::printf("model               not one of the driver's\n");
        }
    }
    for (const auto& f : kFields) {
        std::printf("%4zu %-26s %s\n", f.offset, f.name, Value(r, f).c_str());
    }
}

bool WriteBytes(const std::string& path, const PrivateDevmode& r) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&r), sizeof r);
    return static_cast<bool>(out);
}

// The printer's record as an application gets it: DocumentProperties with
// DM_OUT_BUFFER, answered by the printer's interface driver.
bool CurrentThroughSpooler(HANDLE printer, std::u16string& name, PrivateDevmode& out) {
    const LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
    if (size != static_cast<LONG>(sizeof out)) return false;
    return DocumentPropertiesW(nullptr, printer, name.data(), &out.dm, nullptr, DM_OUT_BUFFER) == IDOK;
}

HMODULE LoadDriver() {
    return LoadLibraryA("drvui.dll");
}

int PrinterRecord(zq::Options& opts, bool current) {
    const auto printer = opts.Value("--printer");
    const auto out = opts.Value("--out");
    const bool json = opts.Flag("--json");
    if (auto bad = opts.Unknown()) return zq::UsageError("devmode", "unknown option " + *bad);
    if (opts.Rest().size() != 1) return zq::UsageError("devmode", "unexpected argument " + opts.Rest()[1]);
    if (!printer) return zq::UsageError("devmode", "needs --printer NAME");
    HMODULE drvui = LoadDriver();
    if (drvui == nullptr) return zq::Fail("devmode: cannot load drvui: " + zq::LastLoadError());
    std::u16string name = zq::store::FromUtf8(*printer);
    HANDLE h = nullptr;
    if (!OpenPrinterW(name.data(), &h, nullptr)) {
        FreeLibrary(drvui);
        return zq::Fail("devmode: no printer " + *printer);
    }
    PrivateDevmode r{};
    bool ok = false;
    if (current) {
        ok = CurrentThroughSpooler(h, name, r);
        // A driver whose configuration file is not installed in the root:
        // the built driver answers in its place.
        if (!ok) ok = zq::GetPrinterDevmode(h, drvui, r, {}, 2) == 1;
    } else {
        ok = zq::BuildPrinterDefaultDevmode(drvui, h, r);
        zq::SetDevmodeCrc(r);
    }
    ClosePrinter(h);
    int rc = 0;
    if (!ok) {
        rc = zq::Fail("devmode: cannot read printer " + *printer);
    } else if (out && !WriteBytes(*out, r)) {
        rc = zq::Fail("devmode: cannot write " + *out);
    } else {
        Print(r, json, nullptr);
    }
    FreeLibrary(drvui);
    return rc;
}

// Sets one field from its text; an error message, empty on success.
std::string SetField(PrivateDevmode& r, std::string_view assignment) {
    const size_t eq = assignment.find('=');
    if (eq == std::string_view::npos) return "not FIELD=VALUE: " + std::string(assignment);
    const std::string name(assignment.substr(0, eq));
    const std::string value(assignment.substr(eq + 1));
    const Field* field = nullptr;
    for (const auto& f : kFields) {
        if (name == f.name) field = &f;
    }
    if (field == nullptr) return "no field " + name + " (see zq devmode current)";
    auto* at = reinterpret_cast<uint8_t*>(&r) + field->offset;
    if (field->kind == Kind::Text) {
        if (value.size() >= field->size) return name + " holds at most " + std::to_string(field->size - 1) + " characters";
        std::memset(at, 0, field->size);
        std::memcpy(at, value.data(), value.size());
        return {};
    }
    if (field->kind == Kind::WText) {
        const std::u16string wide = zq::store::FromUtf8(value);
        if (wide.size() * 2 >= field->size) return name + " holds at most " + std::to_string(field->size / 2 - 1) + " characters";
        std::memset(at, 0, field->size);
        std::memcpy(at, wide.data(), wide.size() * 2);
        return {};
    }
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(value.c_str(), &end, 0);
    if (value.empty() || *end != '\0' || errno != 0) return "not a number: " + value;
    auto put = [&](auto typed, long long lo, long long hi) -> std::string {
        if (v < lo || v > hi) return name + " takes " + std::to_string(lo) + " to " + std::to_string(hi);
        typed = static_cast<decltype(typed)>(v);
        std::memcpy(at, &typed, sizeof typed);
        return {};
    };
    switch (field->kind) {
        case Kind::U8: return put(uint8_t{}, 0, 0xFF);
        case Kind::U16: return put(uint16_t{}, 0, 0xFFFF);
        case Kind::S16: return put(int16_t{}, -32768, 32767);
        case Kind::U32: return put(uint32_t{}, 0, 0xFFFFFFFFLL);
        default: return name + " is a list and cannot be set";
    }
}

int SetRecord(zq::Options& opts) {
    const auto printer = opts.Value("--printer");
    const auto out = opts.Value("--out");
    if (auto bad = opts.Unknown()) return zq::UsageError("devmode", "unknown option " + *bad);
    if (!printer) return zq::UsageError("devmode", "needs --printer NAME");
    if (!out) return zq::UsageError("devmode", "set needs --out FILE");
    const auto rest = opts.Rest();
    std::u16string name = zq::store::FromUtf8(*printer);
    HANDLE h = nullptr;
    if (!OpenPrinterW(name.data(), &h, nullptr)) return zq::Fail("devmode: no printer " + *printer);
    PrivateDevmode r{};
    const bool ok = CurrentThroughSpooler(h, name, r);
    ClosePrinter(h);
    if (!ok) return zq::Fail("devmode: the driver of " + *printer + " gives no record");
    for (size_t i = 1; i < rest.size(); ++i) {
        if (std::string why = SetField(r, rest[i]); !why.empty()) return zq::UsageError("devmode", why);
    }
    zq::SetDevmodeCrc(r);
    if (!WriteBytes(*out, r)) return zq::Fail("devmode: cannot write " + *out);
    std::printf("wrote %s: %zu field%s changed, check value 0x%04X\n", out->c_str(), rest.size() - 1,
                rest.size() == 2 ? "" : "s", r.checkValue);
    return 0;
}

int CheckFile(zq::Options& opts) {
    const bool json = opts.Flag("--json");
    if (auto bad = opts.Unknown()) return zq::UsageError("devmode", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (rest.size() != 2) return zq::UsageError("devmode", "check takes one file");
    std::ifstream in(rest[1], std::ios::binary);
    if (!in) return zq::Fail("devmode: cannot read " + rest[1]);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto record = zq::DevmodeFromBytes(bytes);
    if (!record || bytes.size() != zq::kPrivateDevmodeSize) {
        return zq::Fail("devmode: " + rest[1] + " has " + std::to_string(bytes.size()) + " bytes, not 1256");
    }
    HMODULE drvui = LoadDriver();
    const Report rep = Check(*record, drvui);
    if (drvui != nullptr) FreeLibrary(drvui);
    Print(*record, json, &rep);
    return rep.valid && rep.checkValueRight ? 0 : 1;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    zq::Options opts(args);
    const auto rest = opts.Rest();
    if (rest.empty()) return zq::UsageError("devmode", "needs default, current or check");
    if (rest[0] == "default") return PrinterRecord(opts, false);
    if (rest[0] == "current") return PrinterRecord(opts, true);
    if (rest[0] == "check") return CheckFile(opts);
    if (rest[0] == "set") return SetRecord(opts);
    return zq::UsageError("devmode", "unknown verb " + rest[0]);
}

const zq::Registration kRegistration{{"devmode", "the printer's private DEVMODE: default, current, check", kUsage, Run}};

}  // namespace
