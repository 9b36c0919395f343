// The job's device fonts at enable: the font summary through the settings
// library (the cache file first, else its one builder; the renderer never
// stores), the faces each font contributes, "FontSubstitutes", "DBCSpfm"
// and the printer memory figures.
#include <cstring>
#include <string>
#include <vector>

#include "base/resources.h"
#include "platform/store/spooler.h"
#include "render/device_fonts.h"
#include "render/driver.h"
#include "settings/font_summary.h"
#include "settings/font_summary_cache.h"

namespace pclrend {

namespace {

// The driver file's resources as model data, read through the engine.
class EngineModelData : public zq::ModelData {
public:
    explicit EngineModelData(HANDLE module) : module_(module) {}
    size_t Resource(uint16_t type, uint16_t id, std::span<uint8_t> out) const override {
        ULONG size = 0;
        const void* bytes = module_ ? EngFindResource(module_, id, type, &size) : nullptr;
        if (!bytes) return 0;
        if (!out.empty()) std::memcpy(out.data(), bytes, std::min<size_t>(out.size(), size));
        return size;
    }
    std::optional<std::string> String(uint16_t) const override { return std::nullopt; }

private:
    HANDLE module_;
};

// A printer-data value whole (size query first); none when absent.
std::optional<std::vector<uint8_t>> PrinterValue(HANDLE printer, const char16_t* name) {
    DWORD type = 0, needed = 0;
    if (!printer) return std::nullopt;
    const DWORD rc = GetPrinterDataW(printer, const_cast<LPWSTR>(name), &type, nullptr, 0, &needed);
    if (rc != ERROR_MORE_DATA && rc != ERROR_SUCCESS) return std::nullopt;
    std::vector<uint8_t> value(needed);
    if (needed && GetPrinterDataW(printer, const_cast<LPWSTR>(name), &type, value.data(), needed, &needed) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(std::min<size_t>(value.size(), needed));
    return value;
}

}  // namespace

std::optional<std::string> DbcsFontNames(HANDLE printer) {
    auto value = PrinterValue(printer, u"DBCSpfm");
    if (!value) return std::nullopt;
    return std::string(value->begin(), value->end());
}

bool LoadDeviceFonts(DeviceRecord& r, HANDLE printer, const zq::PrivateDevmode& dm, const std::string& driverDirectory) {
    FontState& f = r.fonts;
    f.masks[0] = dm.fontSets1;
    f.masks[1] = dm.fontSets2;
    f.substituteFonts = dm.switch225 != 0;
    f.deviceFontsOn = dm.nonCjkSwitch != 0;
    f.substituteDbcs = dm.cjkSwitch != 0;
    f.trackMemory = dm.option452 != 0 && dm.memoryMegabytes != 0;
    f.printerMemory = f.freeMemory = PrinterMemoryOf(dm.memoryMegabytes);

    const EngineModelData model(r.resourceModule);
    auto summary = zq::LoadFontSummary(printer, dm, zq::StandardFontSources(model, printer, driverDirectory));
    if (!summary || !zq::IsValidFontSummary(*summary)) return false;
    f.summary = std::move(*summary);
    CountVariants(r);

    if (auto value = PrinterValue(printer, u"FontSubstitutes")) f.substituteList = ParseSubstitutes(*value);
    const auto dbcs = DbcsFontNames(printer);
    f.hasDbcsFonts = dbcs && CountDbcsNames(*dbcs) > 0;
    if (f.hasDbcsFonts) {
        const uint32_t megabytes = (r.FeatureByte(569) & 2) ? dm.memoryMegabytes / 2u : dm.memoryMegabytes;
        f.dbcsFontMemory = megabytes * 131072u;
    }
    return true;
}

}  // namespace pclrend
