// DocumentProperties and DeviceCapabilities as the spooler serves them: each
// call goes to the printer's interface driver (DRIVER_INFO_3's configuration
// file, loaded by name through the loader). A printer added without a DEVMODE
// gets the driver's default when it is added and when its level 2 is read.
#include <cstring>
#include <string>
#include <vector>

#include "base/diag.h"
#include "base/error.h"
#include "base/loader.h"
#include "base/msgbox.h"
#include "base/spool_types.h"
#include "base/text.h"
#include "store/driver_ui.h"
#include "store/spooler.h"
#include "store_internal.h"

namespace zq::store {

namespace {

// The printer's configuration file, loaded; freed with the object.
class ConfigFile {
public:
    explicit ConfigFile(HANDLE printer) {
        DWORD needed = 0;
        GetPrinterDriverW(printer, nullptr, 3, nullptr, 0, &needed);
        if (needed < sizeof(DRIVER_INFO_3W)) return;
        std::vector<BYTE> info(needed);
        if (!GetPrinterDriverW(printer, nullptr, 3, info.data(), needed, &needed)) return;
        const auto* d3 = reinterpret_cast<const DRIVER_INFO_3W*>(info.data());
        if (d3->pConfigFile == nullptr || *d3->pConfigFile == 0) {
            SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
            return;
        }
        module_ = LoadLibraryW(d3->pConfigFile);
        if (module_ == nullptr) DiagLine("spooler", "the configuration file does not load: " + LastLoadError());
    }
    ~ConfigFile() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    ConfigFile(const ConfigFile&) = delete;
    ConfigFile& operator=(const ConfigFile&) = delete;

    template <class F>
    F Get(const char* name) const {
        if (module_ == nullptr) return nullptr;
        auto f = reinterpret_cast<F>(GetProcAddress(module_, name));
        if (f == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
        return f;
    }

private:
    HMODULE module_ = nullptr;
};

// While the driver builds a printer's default it reads the printer again;
// that read must not ask the driver once more.
thread_local int g_fetchingDefault = 0;

std::vector<BYTE> Bytes(const DEVMODEW* dm) {
    if (dm == nullptr) return {};
    const auto* p = reinterpret_cast<const BYTE*>(dm);
    return {p, p + dm->dmSize + dm->dmDriverExtra};
}

}  // namespace

DriverDefault StoreDriverDefaultDevmode(HANDLE printer) {
    if (g_fetchingDefault > 0) return DriverDefault::NotNow;
    auto h = FindPrinterHandle(printer);
    if (!h || h->server) return DriverDefault::NotNow;
    ++g_fetchingDefault;
    std::vector<BYTE> record;
    {
        ConfigFile config(printer);
        const DWORD err = GetLastError();
        if (auto convert = config.Get<PFN_DrvConvertDevMode>("DrvConvertDevMode")) {
            std::u16string name = h->name;
            LONG size = 0;
            convert(name.data(), nullptr, nullptr, &size, CDM_DRIVER_DEFAULT);
            if (size > 0) {
                record.assign(static_cast<size_t>(size), 0);
                if (!convert(name.data(), nullptr, reinterpret_cast<DEVMODEW*>(record.data()), &size,
                             CDM_DRIVER_DEFAULT))
                    record.clear();
            }
        }
        SetLastError(err);
    }
    --g_fetchingDefault;
    if (record.size() < sizeof(DEVMODEW)) return DriverDefault::NoDefault;
    const auto* dm = reinterpret_cast<const DEVMODEW*>(record.data());
    record.resize(std::min<size_t>(record.size(), dm->dmSize + dm->dmDriverExtra));
    try {
        Txn txn(*h->db, Txn::Mode::Write);
        auto key = LivePrinter(txn, *h);
        if (!key || txn.Value(*key, u"Default DevMode")) return DriverDefault::NotNow;
        txn.SetValue(*key, u"Default DevMode", REG_BINARY, record);
        txn.Commit();
        return DriverDefault::Stored;
    } catch (const StoreError&) {
        return DriverDefault::NotNow;
    }
}

}  // namespace zq::store

using namespace zq;

extern "C" LONG DocumentPropertiesW(HWND window, HANDLE printer, LPWSTR deviceName, DEVMODEW* out, DEVMODEW* in,
                                    DWORD mode) {
    store::ConfigFile config(printer);
    auto sheets = config.Get<PFN_DrvDocumentPropertySheets>("DrvDocumentPropertySheets");
    if (sheets == nullptr) return -1;
    DOCUMENTPROPERTYHEADER header{};
    header.cbSize = sizeof header;
    header.hPrinter = printer;
    header.pszPrinterName = deviceName;
    header.pdmIn = (mode & DM_IN_BUFFER) ? in : nullptr;
    header.pdmOut = (mode & DM_OUT_BUFFER) ? out : nullptr;
    header.fMode = mode;
    if (mode & DM_IN_PROMPT) {
        // The driver's sheet, through the common property-sheet UI.
        HMODULE compstui = LoadLibraryA("compstui.dll");
        using Common = LONG (*)(HWND, PFN_DrvDocumentPropertySheets, LPARAM, LONG*);
        auto common = compstui ? reinterpret_cast<Common>(GetProcAddress(compstui, "CommonPropertySheetUIW")) : nullptr;
        LONG result = 0;
        const LONG rc = common ? common(window, sheets, reinterpret_cast<LPARAM>(&header), &result) : -1;
        if (compstui) FreeLibrary(compstui);
        if (rc < 0) return -1;
        return result > 0 ? IDOK : IDCANCEL;
    }
    const LONG rc = sheets(nullptr, reinterpret_cast<LPARAM>(&header));
    if (rc <= 0) return -1;
    return mode == 0 || header.pdmOut == nullptr ? rc : IDOK;
}

extern "C" LONG DocumentPropertiesA(HWND window, HANDLE printer, LPSTR deviceName, DEVMODEA* out, DEVMODEA* in,
                                    DWORD mode) {
    std::u16string name = deviceName ? AnsiToWide(deviceName) : std::u16string();
    std::vector<BYTE> wideIn;
    if (in != nullptr && (mode & DM_IN_BUFFER)) {
        const auto* p = reinterpret_cast<const BYTE*>(in);
        wideIn = store::DevModeAToW({p, static_cast<size_t>(in->dmSize) + in->dmDriverExtra});
    }
    const LONG size = DocumentPropertiesW(window, printer, deviceName ? name.data() : nullptr, nullptr, nullptr, 0);
    if (size <= 0) return size;
    // The ANSI record is the wide one less its two wide names' extra bytes.
    if (mode == 0) return size - static_cast<LONG>(sizeof(DEVMODEW) - sizeof(DEVMODEA));
    std::vector<BYTE> wideOut(static_cast<size_t>(size), 0);
    const LONG rc = DocumentPropertiesW(window, printer, deviceName ? name.data() : nullptr,
                                        reinterpret_cast<DEVMODEW*>(wideOut.data()),
                                        wideIn.empty() ? nullptr : reinterpret_cast<DEVMODEW*>(wideIn.data()),
                                        wideIn.empty() ? mode & ~DM_IN_BUFFER : mode);
    if (rc > 0 && out != nullptr && (mode & DM_OUT_BUFFER)) {
        const auto* dm = reinterpret_cast<const DEVMODEW*>(wideOut.data());
        auto narrow = store::DevModeWToA({wideOut.data(), std::min<size_t>(wideOut.size(),
                                                                            dm->dmSize + dm->dmDriverExtra)});
        std::memcpy(out, narrow.data(), narrow.size());
    }
    return rc;
}

namespace {

// Entry widths of the capabilities that answer wide names.
unsigned NameChars(WORD capability) {
    switch (capability) {
        case 12: return 24;  // DC_BINNAMES
        case 14:             // DC_FILEDEPENDENCIES
        case 16:             // DC_PAPERNAMES
        case 29: return 64;  // DC_MEDIAREADY
        case 25: return 32;  // DC_PERSONALITY
        default: return 0;
    }
}

}  // namespace

extern "C" int DeviceCapabilitiesW(LPCWSTR device, LPCWSTR, WORD capability, LPWSTR output, const DEVMODEW* devmode) {
    if (device == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::u16string name(device);
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name.data(), &printer, nullptr)) return -1;
    int rc = -1;
    {
        store::ConfigFile config(printer);
        if (auto caps = config.Get<PFN_DrvDeviceCapabilities>("DrvDeviceCapabilities")) {
            std::vector<BYTE> copy = store::Bytes(devmode);
            rc = static_cast<int>(caps(printer, name.data(), capability, output,
                                       copy.empty() ? nullptr : reinterpret_cast<DEVMODEW*>(copy.data())));
        }
    }
    ClosePrinter(printer);
    return rc;
}

extern "C" int DeviceCapabilitiesA(LPCSTR device, LPCSTR port, WORD capability, LPSTR output, const DEVMODEA* devmode) {
    if (device == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const std::u16string name = AnsiToWide(device);
    const std::u16string portName = port ? AnsiToWide(port) : std::u16string();
    std::vector<BYTE> wide;
    if (devmode != nullptr) {
        const auto* p = reinterpret_cast<const BYTE*>(devmode);
        wide = store::DevModeAToW({p, static_cast<size_t>(devmode->dmSize) + devmode->dmDriverExtra});
    }
    const auto* dm = wide.empty() ? nullptr : reinterpret_cast<const DEVMODEW*>(wide.data());
    const unsigned chars = NameChars(capability);
    if (chars == 0 || output == nullptr)
        return DeviceCapabilitiesW(name.c_str(), port ? portName.c_str() : nullptr, capability,
                                   reinterpret_cast<LPWSTR>(output), dm);
    // Names: asked wide, handed out in ANSI entries of the same width.
    const int count = DeviceCapabilitiesW(name.c_str(), port ? portName.c_str() : nullptr, capability, nullptr, dm);
    if (count <= 0) return count;
    std::vector<char16_t> names(static_cast<size_t>(count) * chars + 1, 0);
    const int got = DeviceCapabilitiesW(name.c_str(), port ? portName.c_str() : nullptr, capability, names.data(), dm);
    for (int i = 0; i < std::min(got, count); ++i) {
        const char16_t* entry = names.data() + static_cast<size_t>(i) * chars;
        std::u16string_view text(entry, std::char_traits<char16_t>::length(entry) < chars
                                            ? std::char_traits<char16_t>::length(entry)
                                            : chars);
        const std::string n = WideToAnsi(text);
        char* to = output + static_cast<size_t>(i) * chars;
        std::memset(to, 0, chars);
        std::memcpy(to, n.data(), std::min<size_t>(n.size(), chars - 1));
    }
    return std::min(got, count);
}
