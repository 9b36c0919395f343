// A fresh system root with the spooler's database: drivers and printers
// installed the way the spooler's clients install them. The test links
// zqstore.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "store/admin.h"
#include "store/spooler.h"
#include "testing/fresh_root.h"

namespace zq::testing {

// The files a test driver names; they need not exist unless the test loads
// the driver.
struct DriverFiles {
    const char16_t* driverPath = u"pclrend.dll";
    const char16_t* dataFile = u"drvui.dll";
    const char16_t* configFile = u"drvui.dll";
    const char16_t* environment = nullptr;  // this machine's
};

// Installs a driver of version 3 (level 2); true when the spooler took it.
inline bool InstallDriver(const std::u16string& name, const DriverFiles& files = {}) {
    std::u16string n = name;
    DRIVER_INFO_2W d{};
    d.cVersion = 3;
    d.pName = n.data();
    d.pEnvironment = const_cast<LPWSTR>(files.environment);
    d.pDriverPath = const_cast<LPWSTR>(files.driverPath);
    d.pDataFile = const_cast<LPWSTR>(files.dataFile);
    d.pConfigFile = const_cast<LPWSTR>(files.configFile);
    return AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&d)) != FALSE;
}

// Adds a local printer of `driver` on LPT1: (WinPrint, RAW), with an
// optional public DEVMODE; the handle AddPrinter returns, null on failure.
inline HANDLE AddLocalPrinter(const std::u16string& name, const std::u16string& driver, DEVMODEW* devmode = nullptr) {
    std::u16string n = name, drv = driver, port = u"LPT1:", processor = u"WinPrint", datatype = u"RAW";
    PRINTER_INFO_2W info{};
    info.pPrinterName = n.data();
    info.pDriverName = drv.data();
    info.pPortName = port.data();
    info.pPrintProcessor = processor.data();
    info.pDatatype = datatype.data();
    info.pDevMode = devmode;
    return AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
}

// A fresh root whose registry user is "tester" and whose WritePrinter has
// no fault set.
class StoreRoot : public FreshRoot {
protected:
    void SetUp() override {
        FreshRoot::SetUp();
        zq::store::SetRegistryUser(u"tester");
        zq::store::SetWritePrinterFault(zq::store::WriteFault::None);
    }
    void TearDown() override {
        zq::store::SetRegistryUser(u"");
        FreshRoot::TearDown();
    }
};

}  // namespace zq::testing
