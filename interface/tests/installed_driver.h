// A fresh root with the interface driver installed as the spooler keeps it:
// the built drvui copied into the driver directory as the printers'
// configuration file, optionally with a renderer and a dialog library beside
// it, and one printer per shipped model.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/loader.h"
#include "base/memory.h"
#include "base/msgbox.h"
#include "base/paths.h"
#include "base/profile.h"
#include "base/text.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace zq::testing {

inline constexpr const char* kDriverDirectory = "C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3\\";

// Copies a built module into the driver directory under `name`.
inline bool CopyBesideDriver(const std::filesystem::path& built, const std::string& name) {
    const auto dir = MapPath(AnsiToWide(kDriverDirectory));
    if (!dir) return false;
    std::error_code ec;
    std::filesystem::create_directories(*dir, ec);
    std::filesystem::copy_file(built, *dir / name, std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
}

// The shipped models: INI section (driver name), model name, printer name.
struct ShippedModel {
    const char16_t* driver;
    const char* section;
    const char* model;
    const char16_t* printer;
};
inline constexpr ShippedModel kShippedModels[] = {
    {u"Zelquor Mira 12 PCL", "Zelquor Mira 12 PCL", "Zelquor Mira 12", u"Mira"},
    {u"Zelquor Tarn 45 PCL XL", "Zelquor Tarn 45 PCL XL", "Zelquor Tarn 45 XL", u"Tarn"},
    {u"Zelquor Corvo C30 Finishing", "Zelquor Corvo C30 Finishing", "Zelquor Corvo C30", u"Corvo"},
    {u"Ovra Zelquor Lite 8", "Ovra Zelquor Lite 8", "Ovra Zelquor Lite 8", u"Ovra"},
};

class InstalledDriver : public StoreRoot {
protected:
    // Installs drvui (and the renderer at `renderer`, when given) and adds
    // one printer per model; the driver stays loaded for the test.
    void Install(const char* renderer = nullptr) {
        HMODULE built = LoadLibraryA("drvui.dll");
        ASSERT_NE(built, nullptr) << LastLoadError();
        char path[1024] = {};
        ASSERT_GT(GetModuleFileNameA(built, path, sizeof path), 0u);
        FreeLibrary(built);
        ASSERT_TRUE(CopyBesideDriver(path, "drvui.so"));
        if (renderer != nullptr) {
            ASSERT_TRUE(CopyBesideDriver(renderer, "pclrend.so"));
        }
        drvui_ = LoadLibraryA((std::string(kDriverDirectory) + "drvui.dll").c_str());
        ASSERT_NE(drvui_, nullptr) << LastLoadError();
        for (const auto& m : kShippedModels) {
            ASSERT_TRUE(WritePrivateProfileStringA(m.section, "Model", m.model, "pclrend.ini"));
            ASSERT_TRUE(InstallDriver(m.driver));
            HANDLE added = AddLocalPrinter(m.printer, m.driver);
            ASSERT_NE(added, nullptr);
            ClosePrinter(added);
        }
    }
    void TearDown() override {
        if (drvui_ != nullptr) FreeLibrary(drvui_);
        StoreRoot::TearDown();
    }
    HANDLE Open(const char16_t* printer) {
        std::u16string name(printer);
        HANDLE h = nullptr;
        EXPECT_TRUE(OpenPrinterW(name.data(), &h, nullptr));
        return h;
    }
    HMODULE drvui_ = nullptr;
};

}  // namespace zq::testing
