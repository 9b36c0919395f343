// The spooler calls as their callers rely on them: the two-call size
// protocol, printer data in both character sets, access denied, unknown
// printers, drivers, forms, ports, monitors, processors and jobs.
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "store/registry.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace {

using StoreTest = zq::testing::StoreRoot;

LPWSTR W(const char16_t* s) { return const_cast<LPWSTR>(s); }
LPSTR A(const char* s) { return const_cast<LPSTR>(s); }

class SpoolerTest : public StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        const char16_t deps[] = u"zqfont.bin\0zqhelp.txt\0";
        DRIVER_INFO_3W d{};
        d.cVersion = 3;
        d.pName = W(u"Zelquor Laser");
        d.pDriverPath = W(u"C:\\install\\zqrend.so");
        d.pDataFile = W(u"zqdata.bin");
        d.pConfigFile = W(u"zqui.so");
        d.pHelpFile = W(u"zqhelp.hlp");
        d.pDependentFiles = const_cast<LPWSTR>(deps);
        d.pDefaultDataType = W(u"RAW");
        ASSERT_TRUE(AddPrinterDriverW(nullptr, 3, reinterpret_cast<LPBYTE>(&d)));
        printer_ = Add(u"Office");
        ASSERT_NE(printer_, nullptr);
    }
    void TearDown() override {
        if (printer_) ClosePrinter(printer_);
        StoreTest::TearDown();
    }
    HANDLE Add(const char16_t* name, const char16_t* server = nullptr) {
        PRINTER_INFO_2W info{};
        info.pPrinterName = W(name);
        info.pDriverName = W(u"Zelquor Laser");
        info.pPortName = W(u"LPT1:");
        info.pComment = W(u"second floor");
        return AddPrinterW(const_cast<LPWSTR>(server), 2, reinterpret_cast<LPBYTE>(&info));
    }
    HANDLE printer_ = nullptr;
};

TEST_F(SpoolerTest, GetPrinterSizeProtocolAtEveryLevel) {
    for (DWORD level : {1u, 2u, 4u, 5u, 7u}) {
        SCOPED_TRACE(level);
        DWORD needed = 0;
        SetLastError(0);
        EXPECT_FALSE(GetPrinterW(printer_, level, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        ASSERT_GT(needed, 0u);
        std::vector<BYTE> small(needed - 1);
        EXPECT_FALSE(GetPrinterW(printer_, level, small.data(), needed - 1, &needed));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<BYTE> buffer(needed);
        EXPECT_TRUE(GetPrinterW(printer_, level, buffer.data(), needed, &needed));
        std::vector<BYTE> narrow(needed);  // the ANSI record is never larger
        DWORD narrowNeeded = 0;
        GetPrinterA(printer_, level, nullptr, 0, &narrowNeeded);
        narrow.resize(narrowNeeded);
        EXPECT_TRUE(GetPrinterA(printer_, level, narrow.data(), narrowNeeded, &narrowNeeded));
    }
    DWORD needed = 0;
    GetPrinterW(printer_, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetPrinterW(printer_, 2, buffer.data(), needed, &needed));
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    EXPECT_EQ(std::u16string(info->pPrinterName), u"Office");
    EXPECT_EQ(std::u16string(info->pDriverName), u"Zelquor Laser");
    EXPECT_EQ(std::u16string(info->pPrintProcessor), u"WinPrint");
    EXPECT_EQ(std::u16string(info->pComment), u"second floor");
    EXPECT_EQ(info->pServerName, nullptr);
    EXPECT_TRUE(info->Attributes & PRINTER_ATTRIBUTE_LOCAL);
    // Strings lie inside the caller's buffer.
    auto inside = [&](const void* p) {
        return p >= buffer.data() && p < buffer.data() + buffer.size();
    };
    EXPECT_TRUE(inside(info->pPortName));
    EXPECT_FALSE(GetPrinterW(printer_, 3, buffer.data(), needed, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
}

TEST_F(SpoolerTest, UnknownPrintersAndBadHandles) {
    HANDLE h = nullptr;
    EXPECT_FALSE(OpenPrinterW(W(u"Nowhere"), &h, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FALSE(OpenPrinterA(A("\\\\server\\queue"), &h, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterW(reinterpret_cast<HANDLE>(0x77), 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetPrinterDataW(reinterpret_cast<HANDLE>(0x77), W(u"x"), nullptr, nullptr, 0, &needed),
              ERROR_INVALID_HANDLE);
    // Names compare without regard to case.
    ASSERT_TRUE(OpenPrinterA(A("OFFICE"), &h, nullptr));
    ClosePrinter(h);
    // Adding twice, an unknown driver or port, a bad name.
    EXPECT_EQ(Add(u"office"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PRINTER_ALREADY_EXISTS);
    PRINTER_INFO_2W info{};
    info.pPrinterName = W(u"Other");
    info.pDriverName = W(u"No Such Driver");
    info.pPortName = W(u"LPT1:");
    EXPECT_EQ(AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_PRINTER_DRIVER);
    info.pDriverName = W(u"Zelquor Laser");
    info.pPortName = W(u"LPT9:");
    EXPECT_EQ(AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_PORT);
    info.pPrinterName = W(u"a,b");
    info.pPortName = W(u"LPT1:");
    EXPECT_EQ(AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
}

TEST_F(SpoolerTest, PrinterDataProtocol) {
    std::vector<BYTE> devmode(1256);
    for (size_t i = 0; i < devmode.size(); ++i) devmode[i] = static_cast<BYTE>(i * 7);
    ASSERT_EQ(SetPrinterDataW(printer_, W(u"CurrentDevmode"), REG_BINARY, devmode.data(), 1256), ERROR_SUCCESS);
    ASSERT_EQ(SetPrinterDataA(printer_, A("SoftFont"), REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    DWORD one = 1;
    ASSERT_EQ(SetPrinterDataA(printer_, A("Permission"), REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);

    struct Case {
        const char16_t* name;
        DWORD size;
        DWORD rc;
        DWORD needed;
    };
    const Case cases[] = {
        {u"CurrentDevmode", 0, ERROR_MORE_DATA, 1256},     // size query
        {u"currentdevmode", 1255, ERROR_MORE_DATA, 1256},  // one byte short
        {u"CurrentDevmode", 2000, ERROR_SUCCESS, 1256},
        {u"SoftFont", 0, ERROR_SUCCESS, 0},                // a zero-length value reads back empty
        {u"Permission", 4, ERROR_SUCCESS, 4},
        {u"FontSubstitutes", 0, ERROR_FILE_NOT_FOUND, 12345},  // missing: the size stays as it was
        {u"FontSubstitutes", 100, ERROR_FILE_NOT_FOUND, 12345},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        std::vector<BYTE> buffer(std::max<DWORD>(c.size, 1));
        DWORD needed = 12345, type = 0;
        EXPECT_EQ(GetPrinterDataW(printer_, W(c.name), &type, c.size ? buffer.data() : nullptr, c.size, &needed),
                  c.rc);
        EXPECT_EQ(needed, c.needed);
        if (c.rc == ERROR_SUCCESS && c.needed == 1256) {
            EXPECT_EQ(0, std::memcmp(buffer.data(), devmode.data(), 1256));
        }
    }
    // The A calls address the same values; string types are narrowed.
    const char text[] = "Arial=Helvetica;";
    ASSERT_EQ(SetPrinterDataA(printer_, A("DCDShortDesc"), REG_SZ, reinterpret_cast<LPBYTE>(const_cast<char*>(text)),
                              sizeof text),
              ERROR_SUCCESS);
    char16_t wide[32] = {};
    DWORD needed = 0;
    ASSERT_EQ(GetPrinterDataW(printer_, W(u"dcdshortdesc"), nullptr, reinterpret_cast<BYTE*>(wide), sizeof wide,
                              &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(needed, sizeof text * 2);
    EXPECT_EQ(std::u16string(wide), u"Arial=Helvetica;");
    char narrow[32] = {};
    ASSERT_EQ(GetPrinterDataA(printer_, A("DCDShortDesc"), nullptr, reinterpret_cast<BYTE*>(narrow), sizeof narrow,
                              &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(needed, sizeof text);
    EXPECT_STREQ(narrow, text);
    // A value written on one handle is seen on another, and after a change.
    HANDLE other = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"Office"), &other, nullptr));
    DWORD two = 2, got = 0;
    ASSERT_EQ(GetPrinterDataW(other, W(u"Permission"), nullptr, reinterpret_cast<BYTE*>(&got), 4, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(got, 1u);
    ASSERT_EQ(SetPrinterDataW(printer_, W(u"Permission"), REG_DWORD, reinterpret_cast<BYTE*>(&two), 4), ERROR_SUCCESS);
    ASSERT_EQ(GetPrinterDataW(other, W(u"Permission"), nullptr, reinterpret_cast<BYTE*>(&got), 4, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(got, 2u);
    ASSERT_EQ(DeletePrinterDataW(printer_, W(u"Permission")), ERROR_SUCCESS);
    EXPECT_EQ(GetPrinterDataW(other, W(u"Permission"), nullptr, reinterpret_cast<BYTE*>(&got), 4, &needed),
              ERROR_FILE_NOT_FOUND);
    ClosePrinter(other);
}

TEST_F(SpoolerTest, KeyedDataAndEnumeration) {
    DWORD yes = 1, memory = 16 * 1024;
    ASSERT_EQ(SetPrinterDataExW(printer_, u"DsDriver", u"printStaplingSupported", REG_BINARY,
                                reinterpret_cast<BYTE*>(&yes), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(SetPrinterDataExW(printer_, u"DsDriver", u"printMemory", REG_DWORD, reinterpret_cast<BYTE*>(&memory), 4),
              ERROR_SUCCESS);
    // Keyed data is apart from the plain printer data...
    DWORD needed = 0, type = 0, got = 0;
    EXPECT_EQ(GetPrinterDataW(printer_, W(u"printMemory"), &type, reinterpret_cast<BYTE*>(&got), 4, &needed),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(GetPrinterDataExA(printer_, "dsdriver", "PRINTMEMORY", &type, reinterpret_cast<BYTE*>(&got), 4, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(got, memory);
    EXPECT_EQ(GetPrinterDataExW(printer_, u"NoKey", u"x", &type, nullptr, 0, &needed), ERROR_FILE_NOT_FOUND);
    // ...except under "PrinterDriverData", which is the plain data's key.
    ASSERT_EQ(SetPrinterDataExW(printer_, u"PrinterDriverData", u"LangId", REG_DWORD, reinterpret_cast<BYTE*>(&yes), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(GetPrinterDataW(printer_, W(u"LangId"), &type, reinterpret_cast<BYTE*>(&got), 4, &needed), ERROR_SUCCESS);

    ASSERT_EQ(SetPrinterDataW(printer_, W(u"Watermark"), REG_BINARY, reinterpret_cast<BYTE*>(&memory), 4),
              ERROR_SUCCESS);
    DWORD maxName = 0, maxData = 0;
    ASSERT_EQ(EnumPrinterDataW(printer_, 0, nullptr, 0, &maxName, nullptr, nullptr, 0, &maxData), ERROR_SUCCESS);
    EXPECT_EQ(maxName, sizeof(u"Watermark"));
    EXPECT_EQ(maxData, 4u);
    std::vector<std::u16string> names;
    for (DWORD i = 0;; ++i) {
        char16_t name[32];
        BYTE data[8];
        DWORD nameNeeded = 0, dataNeeded = 0;
        DWORD rc = EnumPrinterDataW(printer_, i, name, sizeof name, &nameNeeded, &type, data, sizeof data, &dataNeeded);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(rc, ERROR_SUCCESS);
        names.emplace_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::u16string>{u"LangId", u"Watermark"}));
    char16_t tiny[2];
    BYTE data[8];
    DWORD a = 0, b = 0;
    EXPECT_EQ(EnumPrinterDataW(printer_, 1, tiny, sizeof tiny, &a, &type, data, sizeof data, &b), ERROR_MORE_DATA);
    EXPECT_EQ(a, sizeof(u"Watermark"));

    DWORD count = 0;
    EXPECT_EQ(EnumPrinterDataExW(printer_, u"DsDriver", nullptr, 0, &needed, &count), ERROR_MORE_DATA);
    std::vector<BYTE> buffer(needed);
    ASSERT_EQ(EnumPrinterDataExW(printer_, u"DsDriver", buffer.data(), needed, &needed, &count), ERROR_SUCCESS);
    ASSERT_EQ(count, 2u);
    auto* values = reinterpret_cast<PRINTER_ENUM_VALUESW*>(buffer.data());
    EXPECT_EQ(std::u16string(values[1].pValueName), u"printMemory");
    EXPECT_EQ(*reinterpret_cast<DWORD*>(values[1].pData), memory);
}

TEST_F(SpoolerTest, ReadOnlyPrinterRefusesWritesWithAccessDenied) {
    ASSERT_TRUE(zq::store::SetPrinterReadOnly(u"Office", true));
    HANDLE h = nullptr;
    PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    EXPECT_FALSE(OpenPrinterW(W(u"Office"), &h, &all));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(OpenPrinterW(W(u"Office"), &h, nullptr));
    DWORD one = 1;
    EXPECT_EQ(SetPrinterDataW(h, W(u"Permission"), REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetPrinterDataExW(h, u"DsDriver", u"printMemory", REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
              ERROR_ACCESS_DENIED);
    // An earlier handle with full access is refused as well.
    EXPECT_EQ(SetPrinterDataW(printer_, W(u"Permission"), REG_DWORD, reinterpret_cast<BYTE*>(&one), 4),
              ERROR_ACCESS_DENIED);
    PRINTER_INFO_7W publish{nullptr, DSPRINT_UPDATE};
    EXPECT_FALSE(SetPrinterW(printer_, 7, reinterpret_cast<LPBYTE>(&publish), 0));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    FORM_INFO_1W form{FORM_USER, W(u"Card"), {100000, 150000}, {0, 0, 100000, 150000}};
    EXPECT_FALSE(AddFormW(h, 1, reinterpret_cast<LPBYTE>(&form)));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeletePrinter(h));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // Reads still work.
    DWORD needed = 0;
    EXPECT_EQ(GetPrinterDataW(h, W(u"Permission"), nullptr, nullptr, 0, &needed), ERROR_FILE_NOT_FOUND);
    ClosePrinter(h);
    // A handle that asked only to use the printer may not write either.
    ASSERT_TRUE(zq::store::SetPrinterReadOnly(u"Office", false));
    PRINTER_DEFAULTSW use{nullptr, nullptr, PRINTER_ACCESS_USE};
    ASSERT_TRUE(OpenPrinterW(W(u"Office"), &h, &use));
    EXPECT_EQ(SetPrinterDataW(h, W(u"Permission"), REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_ACCESS_DENIED);
    ClosePrinter(h);
}

TEST_F(SpoolerTest, SetPrinterLevelsAndPublishing) {
    DWORD needed = 0;
    GetPrinterA(printer_, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetPrinterA(printer_, 2, buffer.data(), needed, &needed));
    auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
    info->Attributes |= PRINTER_ATTRIBUTE_ENABLE_BIDI;
    info->pComment = A("moved");
    ASSERT_TRUE(SetPrinterA(printer_, 2, buffer.data(), 0));
    GetPrinterW(printer_, 5, nullptr, 0, &needed);
    std::vector<BYTE> five(needed);
    ASSERT_TRUE(GetPrinterW(printer_, 5, five.data(), needed, &needed));
    auto* info5 = reinterpret_cast<PRINTER_INFO_5W*>(five.data());
    EXPECT_TRUE(info5->Attributes & PRINTER_ATTRIBUTE_ENABLE_BIDI);
    EXPECT_TRUE(info5->Attributes & PRINTER_ATTRIBUTE_LOCAL);

    // Updating an unpublished printer finds nothing to update; publishing works.
    PRINTER_INFO_7W update{nullptr, DSPRINT_UPDATE};
    EXPECT_FALSE(SetPrinterW(printer_, 7, reinterpret_cast<LPBYTE>(&update), 0));
    PRINTER_INFO_7W publish{nullptr, DSPRINT_PUBLISH};
    ASSERT_TRUE(SetPrinterW(printer_, 7, reinterpret_cast<LPBYTE>(&publish), 0));
    EXPECT_TRUE(SetPrinterW(printer_, 7, reinterpret_cast<LPBYTE>(&update), 0));
    GetPrinterW(printer_, 7, nullptr, 0, &needed);
    std::vector<BYTE> seven(needed);
    ASSERT_TRUE(GetPrinterW(printer_, 7, seven.data(), needed, &needed));
    auto* info7 = reinterpret_cast<PRINTER_INFO_7W*>(seven.data());
    EXPECT_EQ(info7->dwAction, DSPRINT_PUBLISH);
    ASSERT_NE(info7->pszObjectGUID, nullptr);
    EXPECT_EQ(std::u16string(info7->pszObjectGUID).size(), 38u);

    // A DEVMODE round-trips between the two character sets.
    DEVMODEA dm{};
    std::memcpy(dm.dmDeviceName, "Office", 6);
    dm.dmSize = sizeof dm;
    dm.dmDriverExtra = 4;
    dm.dmOrientation = DMORIENT_LANDSCAPE;
    std::memcpy(dm.dmFormName, "A4", 2);
    std::vector<BYTE> withExtra(sizeof dm + 4, 0xEE);
    std::memcpy(withExtra.data(), &dm, sizeof dm);
    GetPrinterA(printer_, 2, nullptr, 0, &needed);
    buffer.assign(needed, 0);
    ASSERT_TRUE(GetPrinterA(printer_, 2, buffer.data(), needed, &needed));
    info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
    info->pDevMode = reinterpret_cast<DEVMODEA*>(withExtra.data());
    ASSERT_TRUE(SetPrinterA(printer_, 2, buffer.data(), 0));
    GetPrinterW(printer_, 2, nullptr, 0, &needed);
    std::vector<BYTE> wide(needed);
    ASSERT_TRUE(GetPrinterW(printer_, 2, wide.data(), needed, &needed));
    const DEVMODEW* w = reinterpret_cast<PRINTER_INFO_2W*>(wide.data())->pDevMode;
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->dmSize, sizeof(DEVMODEW));
    EXPECT_EQ(w->dmOrientation, DMORIENT_LANDSCAPE);
    EXPECT_EQ(std::u16string(w->dmDeviceName), u"Office");
    EXPECT_EQ(std::u16string(w->dmFormName), u"A4");
    EXPECT_EQ(reinterpret_cast<const BYTE*>(w)[sizeof(DEVMODEW) + 3], 0xEE);
}

TEST_F(SpoolerTest, EnumPrintersLocalAndConnections) {
    HANDLE conn = Add(u"queue", u"\\\\server");
    ASSERT_NE(conn, nullptr);
    ClosePrinter(conn);
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(W(u"\\\\SERVER\\Queue"), &h, nullptr));
    DWORD needed = 0;
    GetPrinterW(h, 4, nullptr, 0, &needed);
    std::vector<BYTE> four(needed);
    ASSERT_TRUE(GetPrinterW(h, 4, four.data(), needed, &needed));
    auto* info4 = reinterpret_cast<PRINTER_INFO_4W*>(four.data());
    EXPECT_EQ(std::u16string(info4->pPrinterName), u"\\\\server\\queue");
    EXPECT_EQ(std::u16string(info4->pServerName), u"\\\\server");
    EXPECT_TRUE(info4->Attributes & PRINTER_ATTRIBUTE_NETWORK);
    ClosePrinter(h);

    struct Case {
        DWORD flags;
        std::vector<std::u16string> names;
    };
    const Case cases[] = {
        {PRINTER_ENUM_LOCAL, {u"Office"}},
        {PRINTER_ENUM_CONNECTIONS, {u"\\\\server\\queue"}},
        {PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, {u"\\\\server\\queue", u"Office"}},
    };
    for (const auto& c : cases) {
        DWORD count = 0;
        SetLastError(0);
        EXPECT_FALSE(EnumPrintersW(c.flags, nullptr, 2, nullptr, 0, &needed, &count));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<BYTE> buffer(needed);
        ASSERT_TRUE(EnumPrintersW(c.flags, nullptr, 2, buffer.data(), needed, &needed, &count));
        std::vector<std::u16string> names;
        auto* list = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) names.emplace_back(list[i].pPrinterName);
        EXPECT_EQ(names, c.names);
    }
    // Deleting a printer leaves its handles dead.
    ASSERT_TRUE(DeletePrinter(printer_));
    EXPECT_FALSE(GetPrinterW(printer_, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE again = nullptr;
    EXPECT_FALSE(OpenPrinterW(W(u"Office"), &again, nullptr));
}

// Nothing to list is not a failure: callers that ask for the size and then
// fill a buffer of that size get success with no records, at both steps.
TEST_F(StoreTest, EmptyListsSucceedWithoutABuffer) {
    ASSERT_TRUE(zq::testing::InstallDriver(u"Zelquor Laser"));
    struct Case {
        const char* what;
        std::function<bool(LPBYTE, DWORD, LPDWORD, LPDWORD)> call;
    };
    HANDLE printer = nullptr;
    const Case cases[] = {
        {"EnumPrinters",
         [](LPBYTE b, DWORD n, LPDWORD needed, LPDWORD count) {
             return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, b, n, needed, count) != FALSE;
         }},
        {"EnumJobs",
         [&](LPBYTE b, DWORD n, LPDWORD needed, LPDWORD count) {
             return EnumJobsW(printer, 0, 100, 2, b, n, needed, count) != FALSE;
         }},
        {"EnumPrinterDataEx",
         [&](LPBYTE b, DWORD n, LPDWORD needed, LPDWORD count) {
             return EnumPrinterDataExW(printer, u"PrinterDriverData", b, n, needed, count) == ERROR_SUCCESS;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (!printer && std::string(c.what) != "EnumPrinters") {
            printer = zq::testing::AddLocalPrinter(u"Office", u"Zelquor Laser");
            ASSERT_NE(printer, nullptr);
        }
        DWORD needed = 99, count = 99;
        SetLastError(0);
        EXPECT_TRUE(c.call(nullptr, 0, &needed, &count)) << GetLastError();
        EXPECT_EQ(needed, 0u);
        EXPECT_EQ(count, 0u);
        std::vector<BYTE> buffer(needed);
        EXPECT_TRUE(c.call(buffer.data(), needed, &needed, &count));
        EXPECT_EQ(count, 0u);
    }
    ClosePrinter(printer);
}

TEST_F(SpoolerTest, DriversAtLevels236) {
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterDriverW(printer_, nullptr, 3, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetPrinterDriverW(printer_, nullptr, 3, buffer.data(), needed, &needed));
    auto* d3 = reinterpret_cast<DRIVER_INFO_3W*>(buffer.data());
    EXPECT_EQ(d3->cVersion, 3u);
    EXPECT_EQ(std::u16string(d3->pEnvironment), u"Windows NT x86");
    EXPECT_EQ(std::u16string(d3->pDriverPath), u"C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3\\zqrend.so");
    EXPECT_EQ(std::u16string(d3->pHelpFile), u"C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3\\zqhelp.hlp");
    std::u16string first(d3->pDependentFiles);
    std::u16string second(d3->pDependentFiles + first.size() + 1);
    EXPECT_EQ(first, u"C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3\\zqfont.bin");
    EXPECT_EQ(second, u"C:\\WINDOWS\\system32\\spool\\drivers\\w32x86\\3\\zqhelp.txt");
    EXPECT_EQ(d3->pDependentFiles[first.size() + 1 + second.size() + 1], u'\0');

    // Level 6 adds the maker's fields; the A form narrows every string.
    DRIVER_INFO_6A d6{};
    d6.cVersion = 3;
    d6.pName = A("Zelquor Colour");
    d6.pDriverPath = A("zqrend.so");
    d6.pDataFile = A("zqcolour.bin");
    d6.pConfigFile = A("zqui.so");
    d6.pszMfgName = A("Zelquor");
    d6.dwlDriverVersion = 0x0005000100020003ull;
    ASSERT_TRUE(AddPrinterDriverA(nullptr, 6, reinterpret_cast<LPBYTE>(&d6)));
    DWORD count = 0;
    EnumPrinterDriversA(nullptr, nullptr, 6, nullptr, 0, &needed, &count);
    std::vector<BYTE> list(needed);
    ASSERT_TRUE(EnumPrinterDriversA(nullptr, nullptr, 6, list.data(), needed, &needed, &count));
    ASSERT_EQ(count, 2u);
    auto* drivers = reinterpret_cast<DRIVER_INFO_6A*>(list.data());
    EXPECT_STREQ(drivers[0].pName, "Zelquor Colour");
    EXPECT_STREQ(drivers[0].pszMfgName, "Zelquor");
    EXPECT_EQ(drivers[0].dwlDriverVersion, 0x0005000100020003ull);
    EXPECT_STREQ(drivers[1].pName, "Zelquor Laser");

    // Missing fields, an unknown environment, a driver in use.
    DRIVER_INFO_2W bad{3, W(u"Broken"), nullptr, W(u"x.so"), nullptr, W(u"y.so")};
    EXPECT_FALSE(AddPrinterDriverW(nullptr, 2, reinterpret_cast<LPBYTE>(&bad)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(EnumPrinterDriversW(nullptr, W(u"Windows IA64"), 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ENVIRONMENT);
    EXPECT_FALSE(DeletePrinterDriverW(nullptr, nullptr, W(u"Zelquor Laser")));
    EXPECT_EQ(GetLastError(), ERROR_PRINTER_DRIVER_IN_USE);
    EXPECT_TRUE(DeletePrinterDriverW(nullptr, nullptr, W(u"Zelquor Colour")));

    char dir[8];
    EXPECT_FALSE(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(dir), sizeof dir, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<char> full(needed);
    ASSERT_TRUE(GetPrinterDriverDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(full.data()), needed, &needed));
    EXPECT_STREQ(full.data(), "C:\\WINDOWS\\system32\\spool\\drivers\\w32x86");
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "c/windows/system32/spool/drivers/w32x86/3"));
}

TEST_F(SpoolerTest, FormsBuiltInAndUser) {
    DWORD needed = 0, count = 0;
    EXPECT_FALSE(EnumFormsW(printer_, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(EnumFormsW(printer_, 1, buffer.data(), needed, &needed, &count));
    auto* forms = reinterpret_cast<FORM_INFO_1W*>(buffer.data());
    ASSERT_GE(count, 41u);
    // Built-in forms come in paper-code order: code 9 is A4.
    EXPECT_EQ(std::u16string(forms[8].pName), u"A4");
    EXPECT_EQ(forms[8].Flags, FORM_BUILTIN);
    EXPECT_EQ(forms[8].Size.cx, 210000);
    EXPECT_EQ(forms[8].Size.cy, 297000);
    EXPECT_EQ(std::u16string(forms[0].pName), u"Letter");

    FORM_INFO_1W card{FORM_USER, W(u"Zelquor Card"), {100000, 150000}, {5000, 5000, 95000, 145000}};
    ASSERT_TRUE(AddFormW(printer_, 1, reinterpret_cast<LPBYTE>(&card)));
    EXPECT_FALSE(AddFormW(printer_, 1, reinterpret_cast<LPBYTE>(&card)));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    FORM_INFO_1A builtin{FORM_USER, A("a4"), {1, 1}, {0, 0, 1, 1}};
    EXPECT_FALSE(AddFormA(printer_, 1, reinterpret_cast<LPBYTE>(&builtin)));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    FORM_INFO_1W empty{FORM_USER, W(u"Flat"), {0, 150000}, {0, 0, 1, 1}};
    EXPECT_FALSE(AddFormW(printer_, 1, reinterpret_cast<LPBYTE>(&empty)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FORM_SIZE);

    ASSERT_TRUE(EnumFormsA(printer_, 1, nullptr, 0, &needed, &count) || GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> narrow(needed);
    ASSERT_TRUE(EnumFormsA(printer_, 1, narrow.data(), needed, &needed, &count));
    auto* last = reinterpret_cast<FORM_INFO_1A*>(narrow.data()) + count - 1;
    EXPECT_STREQ(last->pName, "Zelquor Card");
    EXPECT_EQ(last->Flags, FORM_USER);
    EXPECT_EQ(last->ImageableArea.left, 5000);

    GetFormW(printer_, W(u"zelquor card"), 1, nullptr, 0, &needed);
    std::vector<BYTE> one(needed);
    ASSERT_TRUE(GetFormW(printer_, W(u"zelquor card"), 1, one.data(), needed, &needed));
    EXPECT_EQ(reinterpret_cast<FORM_INFO_1W*>(one.data())->Size.cy, 150000);
    EXPECT_FALSE(GetFormW(printer_, W(u"None"), 1, one.data(), needed, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FORM_NAME);
    EXPECT_FALSE(DeleteFormW(printer_, W(u"A4")));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(DeleteFormA(printer_, A("ZELQUOR CARD")));
    EXPECT_FALSE(DeleteFormW(printer_, W(u"Zelquor Card")));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FORM_NAME);
}

TEST_F(SpoolerTest, PortsMonitorsAndProcessors) {
    DWORD needed = 0, count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count));
    auto* ports = reinterpret_cast<PORT_INFO_2W*>(buffer.data());
    ASSERT_GT(count, 0u);
    EXPECT_EQ(std::u16string(ports[0].pPortName), u"LPT1:");
    EXPECT_EQ(std::u16string(ports[0].pMonitorName), u"Local Port");

    MONITOR_INFO_2A monitor{A("Zelquor Monitor"), A("Windows NT x86"), A("zqmon.so")};
    ASSERT_TRUE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor)));
    EXPECT_FALSE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&monitor)));
    EXPECT_EQ(GetLastError(), ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    EXPECT_FALSE(EnumMonitorsA(nullptr, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> monitors(needed);
    ASSERT_TRUE(EnumMonitorsA(nullptr, 1, monitors.data(), needed, &needed, &count));
    std::vector<std::string> names;
    for (DWORD i = 0; i < count; ++i) names.emplace_back(reinterpret_cast<MONITOR_INFO_1A*>(monitors.data())[i].pName);
    EXPECT_EQ(names, (std::vector<std::string>{"Local Port", "Zelquor Monitor"}));

    PORT_INFO_1W port{W(u"ZQ1:")};
    ASSERT_TRUE(AddPortExW(nullptr, 1, reinterpret_cast<LPBYTE>(&port), W(u"Zelquor Monitor")));
    PRINTER_INFO_2W info{};
    info.pPrinterName = W(u"On ZQ1");
    info.pDriverName = W(u"Zelquor Laser");
    info.pPortName = W(u"zq1:");
    HANDLE h = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    ASSERT_NE(h, nullptr);
    ClosePrinter(h);

    ASSERT_TRUE(AddPrintProcessorA(nullptr, nullptr, A("zqproc.so"), A("ZelProc")));
    EXPECT_FALSE(AddPrintProcessorA(nullptr, nullptr, A("zqproc.so"), A("ZelProc")));
    EXPECT_EQ(GetLastError(), ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED);
    EnumPrintProcessorsW(nullptr, nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> procs(needed);
    ASSERT_TRUE(EnumPrintProcessorsW(nullptr, nullptr, 1, procs.data(), needed, &needed, &count));
    EXPECT_EQ(count, 2u);
    char dir[128];
    ASSERT_TRUE(GetPrintProcessorDirectoryA(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(dir), sizeof dir, &needed));
    EXPECT_STREQ(dir, "C:\\WINDOWS\\system32\\spool\\prtprocs\\w32x86");
    EnumPrintProcessorDatatypesW(nullptr, W(u"WinPrint"), 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> types(needed);
    ASSERT_TRUE(EnumPrintProcessorDatatypesW(nullptr, W(u"WinPrint"), 1, types.data(), needed, &needed, &count));
    EXPECT_EQ(std::u16string(reinterpret_cast<DATATYPES_INFO_1W*>(types.data())[0].pName), u"RAW");
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST_F(SpoolerTest, JobsWriteToSpoolFiles) {
    EXPECT_FALSE(WritePrinter(printer_, const_cast<char*>("x"), 1, nullptr));
    DWORD written = 0;
    EXPECT_FALSE(WritePrinter(printer_, const_cast<char*>("x"), 1, &written));
    EXPECT_EQ(GetLastError(), ERROR_SPL_NO_STARTDOC);

    DOC_INFO_1W doc{W(u"Report"), nullptr, W(u"RAW")};
    DWORD job = StartDocPrinterW(printer_, 1, reinterpret_cast<LPBYTE>(&doc));
    ASSERT_NE(job, 0u);
    ASSERT_TRUE(StartPagePrinter(printer_));
    ASSERT_TRUE(WritePrinter(printer_, const_cast<char*>("\x1b" "E hello"), 8, &written));
    EXPECT_EQ(written, 8u);
    ASSERT_TRUE(EndPagePrinter(printer_));

    DWORD needed = 0;
    EXPECT_FALSE(GetJobW(printer_, job, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetJobW(printer_, job, 2, buffer.data(), needed, &needed));
    auto* info = reinterpret_cast<JOB_INFO_2W*>(buffer.data());
    EXPECT_EQ(info->JobId, job);
    EXPECT_EQ(std::u16string(info->pDocument), u"Report");
    EXPECT_EQ(std::u16string(info->pPrinterName), u"Office");
    EXPECT_EQ(std::u16string(info->pUserName), u"tester");
    EXPECT_EQ(std::u16string(info->pDriverName), u"Zelquor Laser");
    EXPECT_EQ(info->Status, JOB_STATUS_SPOOLING | JOB_STATUS_PRINTING);
    EXPECT_EQ(info->TotalPages, 1u);
    EXPECT_EQ(info->PagesPrinted, 1u);
    EXPECT_EQ(info->Size, 8u);

    ASSERT_TRUE(EndDocPrinter(printer_));
    EXPECT_EQ(ReadFile(zq::store::JobFile(job)), std::string("\x1b" "E hello"));
    GetJobA(printer_, job, 1, nullptr, 0, &needed);
    buffer.assign(needed, 0);
    ASSERT_TRUE(GetJobA(printer_, job, 1, buffer.data(), needed, &needed));
    EXPECT_EQ(reinterpret_cast<JOB_INFO_1A*>(buffer.data())->Status, JOB_STATUS_PRINTED);
    EXPECT_EQ(reinterpret_cast<JOB_INFO_1A*>(buffer.data())->PagesPrinted, 1u);
    EXPECT_FALSE(GetJobW(printer_, job + 100, 1, buffer.data(), needed, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // An aborted job leaves no file, and a record that says it was deleted.
    DWORD second = StartDocPrinterW(printer_, 1, reinterpret_cast<LPBYTE>(&doc));
    ASSERT_NE(second, 0u);
    ASSERT_TRUE(WritePrinter(printer_, const_cast<char*>("x"), 1, &written));
    ASSERT_TRUE(AbortPrinter(printer_));
    EXPECT_FALSE(std::filesystem::exists(zq::store::JobFile(second)));
    DWORD count = 0;
    EnumJobsW(printer_, 0, 10, 1, nullptr, 0, &needed, &count);
    buffer.assign(needed, 0);
    ASSERT_TRUE(EnumJobsW(printer_, 0, 10, 1, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 2u);
    auto* jobs = reinterpret_cast<JOB_INFO_1W*>(buffer.data());
    EXPECT_EQ(jobs[0].JobId, job);
    EXPECT_EQ(jobs[1].JobId, second);
    EXPECT_EQ(jobs[1].Status, JOB_STATUS_DELETED);
    EXPECT_EQ(jobs[1].PagesPrinted, 0u);
}

// The record of one job, level 2.
JOB_INFO_2W JobRecord(HANDLE printer, DWORD job, std::vector<BYTE>& buffer) {
    DWORD needed = 0;
    GetJobW(printer, job, 2, nullptr, 0, &needed);
    buffer.assign(needed, 0);
    EXPECT_TRUE(GetJobW(printer, job, 2, buffer.data(), needed, &needed));
    return buffer.empty() ? JOB_INFO_2W{} : *reinterpret_cast<JOB_INFO_2W*>(buffer.data());
}

// Starts a job of `datatype` and spools one page of `bytes`; the job id, 0
// when any call failed.
DWORD JobOfOnePage(HANDLE printer, const char16_t* datatype, const std::string& bytes) {
    DOC_INFO_1W doc{W(u"Document"), nullptr, W(datatype)};
    DWORD job = StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&doc));
    DWORD written = 0;
    bool ok = job && StartPagePrinter(printer) &&
              WritePrinter(printer, const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size()), &written) &&
              EndPagePrinter(printer);
    return ok ? job : 0;
}

// GetJob reads only the job asked for, yet answers as the queue does: its
// place counts the printer's jobs before it, not another printer's, and a
// job of another printer is not found through this one.
TEST_F(SpoolerTest, GetJobAnswersAsTheQueueDoes) {
    HANDLE other = Add(u"Annex");
    ASSERT_NE(other, nullptr);
    DOC_INFO_1W doc{W(u"Memo"), nullptr, W(u"RAW")};
    auto spool = [&](HANDLE printer, const std::string& bytes) {
        const DWORD job = StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&doc));
        DWORD written = 0;
        EXPECT_TRUE(WritePrinter(printer, const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size()), &written));
        EXPECT_TRUE(EndDocPrinter(printer));
        return job;
    };
    DWORD mine[3] = {};
    mine[0] = spool(printer_, "a");
    const DWORD theirs = spool(other, "bb");
    mine[1] = spool(printer_, "ccc");
    const DWORD theirsToo = spool(other, "dddd");
    mine[2] = spool(printer_, "eeeee");
    ASSERT_TRUE(mine[0] && mine[1] && mine[2] && theirs && theirsToo);

    DWORD needed = 0, count = 0;
    EnumJobsW(printer_, 0, 10, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> queue(needed);
    ASSERT_TRUE(EnumJobsW(printer_, 0, 10, 2, queue.data(), needed, &needed, &count));
    ASSERT_EQ(count, 3u);
    for (DWORD i = 0; i < count; ++i) {
        const auto& listed = reinterpret_cast<const JOB_INFO_2W*>(queue.data())[i];
        std::vector<BYTE> buffer;
        const JOB_INFO_2W one = JobRecord(printer_, mine[i], buffer);
        EXPECT_EQ(one.JobId, mine[i]);
        EXPECT_EQ(listed.JobId, mine[i]);
        EXPECT_EQ(one.Position, i + 1);
        EXPECT_EQ(listed.Position, i + 1);
        EXPECT_EQ(one.Size, i * 2 + 1);
        EXPECT_EQ(one.Size, listed.Size);
        EXPECT_EQ(one.Status, listed.Status);
        EXPECT_EQ(std::u16string(one.pDocument), std::u16string(listed.pDocument));
    }
    for (DWORD job : {theirs, theirsToo}) {
        GetJobW(printer_, job, 1, nullptr, 0, &needed);
        std::vector<BYTE> buffer(std::max<DWORD>(needed, sizeof(JOB_INFO_1W)));
        EXPECT_FALSE(GetJobW(printer_, job, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    std::vector<BYTE> buffer;
    EXPECT_EQ(JobRecord(other, theirsToo, buffer).Position, 2u);
    ClosePrinter(other);
}

TEST_F(SpoolerTest, AFailedWriteEndsTheJobInErrorWithThePagesThatReachedThePort) {
    // Page one reaches the port; the second page's write fails.
    zq::store::SetWritePrinterFault(zq::store::WriteFault::Fail, 6);
    DOC_INFO_1W doc{W(u"Two pages"), nullptr, W(u"RAW")};
    DWORD job = JobOfOnePage(printer_, u"RAW", "page1");
    ASSERT_NE(job, 0u);
    DWORD written = 0;
    ASSERT_TRUE(StartPagePrinter(printer_));
    EXPECT_FALSE(WritePrinter(printer_, const_cast<char*>("page2"), 5, &written));
    EXPECT_EQ(GetLastError(), ERROR_NO_SPOOL_SPACE);
    std::vector<BYTE> buffer;
    // The error shows at once, before the document ends.
    EXPECT_EQ(JobRecord(printer_, job, buffer).Status & JOB_STATUS_ERROR, JOB_STATUS_ERROR);
    // Nothing after a lost piece reaches the port, even what would fit.
    zq::store::SetWritePrinterFault(zq::store::WriteFault::None);
    EXPECT_FALSE(WritePrinter(printer_, const_cast<char*>("x"), 1, &written));
    EXPECT_EQ(written, 0u);
    ASSERT_TRUE(EndPagePrinter(printer_));
    SetLastError(0);
    EXPECT_FALSE(EndDocPrinter(printer_));
    EXPECT_EQ(GetLastError(), ERROR_NO_SPOOL_SPACE);

    auto info = JobRecord(printer_, job, buffer);
    EXPECT_EQ(info.Status, JOB_STATUS_ERROR);
    EXPECT_EQ(info.TotalPages, 2u);
    EXPECT_EQ(info.PagesPrinted, 1u);
    EXPECT_EQ(info.Size, 5u);
    EXPECT_EQ(zq::store::JobError(job), ERROR_NO_SPOOL_SPACE);
    EXPECT_EQ(ReadFile(zq::store::JobFile(job)), "page1");

    // The next job on the printer starts clean.
    DWORD next = StartDocPrinterW(printer_, 1, reinterpret_cast<LPBYTE>(&doc));
    ASSERT_NE(next, 0u);
    ASSERT_TRUE(WritePrinter(printer_, const_cast<char*>("ok"), 2, &written));
    ASSERT_TRUE(EndDocPrinter(printer_));
    EXPECT_EQ(JobRecord(printer_, next, buffer).Status, JOB_STATUS_PRINTED);
    EXPECT_EQ(zq::store::JobError(next), 0u);
}

TEST_F(SpoolerTest, AMetafileJobWaitsForItsPlayingToBePrinted) {
    DWORD job = JobOfOnePage(printer_, u"NT EMF 1.008", "EMF");
    ASSERT_NE(job, 0u);
    ASSERT_TRUE(EndDocPrinter(printer_));
    std::vector<BYTE> buffer;
    auto info = JobRecord(printer_, job, buffer);
    EXPECT_EQ(info.Status, 0u);
    EXPECT_EQ(info.TotalPages, 1u);
    EXPECT_EQ(info.PagesPrinted, 0u);

    ASSERT_TRUE(zq::store::SetPlayedJobState(printer_, job, JOB_STATUS_PRINTING, 0, 0));
    EXPECT_EQ(JobRecord(printer_, job, buffer).Status, JOB_STATUS_PRINTING);
    ASSERT_TRUE(zq::store::SetPlayedJobState(printer_, job, JOB_STATUS_ERROR, 0, ERROR_NO_SPOOL_SPACE));
    info = JobRecord(printer_, job, buffer);
    EXPECT_EQ(info.Status, JOB_STATUS_ERROR);
    EXPECT_EQ(zq::store::JobError(job), ERROR_NO_SPOOL_SPACE);
    EXPECT_FALSE(zq::store::SetPlayedJobState(printer_, job + 1, JOB_STATUS_PRINTED, 1, 0));
}

TEST_F(SpoolerTest, AJobWhoseWriterDiedIsMarkedWhenTheSpoolerNextOpens) {
    // A child starts a job, writes a page and dies without ending it.
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        HANDLE p = nullptr;
        DOC_INFO_1W doc{W(u"Cut short"), nullptr, W(u"RAW")};
        DWORD written = 0;
        bool ok = OpenPrinterW(W(u"Office"), &p, nullptr) && StartDocPrinterW(p, 1, reinterpret_cast<LPBYTE>(&doc)) &&
                  StartPagePrinter(p) && WritePrinter(p, const_cast<char*>("half a page"), 11, &written);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    DWORD needed = 0, count = 0;
    EnumJobsW(printer_, 0, 10, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(EnumJobsW(printer_, 0, 10, 2, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 1u);
    DWORD job = reinterpret_cast<JOB_INFO_2W*>(buffer.data())->JobId;
    EXPECT_EQ(reinterpret_cast<JOB_INFO_2W*>(buffer.data())->Status, JOB_STATUS_SPOOLING | JOB_STATUS_PRINTING);

    // Another process opens the spooler: the job is in error, not printing.
    pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        HANDLE p = nullptr;
        _exit(OpenPrinterW(W(u"Office"), &p, nullptr) ? 0 : 1);
    }
    ASSERT_EQ(waitpid(reader, &status, 0), reader);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    auto info = JobRecord(printer_, job, buffer);
    EXPECT_EQ(info.Status, JOB_STATUS_ERROR);
    EXPECT_EQ(info.Size, 11u);
    EXPECT_EQ(info.PagesPrinted, 0u);
    EXPECT_EQ(zq::store::JobError(job), ERROR_PROCESS_ABORTED);
}

TEST_F(SpoolerTest, WritePrinterFaultSwitch) {
    using zq::store::WriteFault;
    struct Case {
        WriteFault fault;
        uint32_t n;
        std::vector<std::pair<BOOL, DWORD>> calls;  // result and bytes written of three 4-byte writes
        const char* file;
    };
    const Case cases[] = {
        {WriteFault::Fail, 0, {{FALSE, 0}, {FALSE, 0}, {FALSE, 0}}, ""},
        {WriteFault::Fail, 8, {{TRUE, 4}, {TRUE, 4}, {FALSE, 0}}, "abcdabcd"},
        {WriteFault::Short, 0, {{TRUE, 0}, {TRUE, 0}, {TRUE, 0}}, ""},
        {WriteFault::Short, 3, {{TRUE, 3}, {TRUE, 3}, {TRUE, 3}}, "abcabcabc"},
    };
    for (const auto& c : cases) {
        zq::store::SetWritePrinterFault(c.fault, c.n);
        DOC_INFO_1A doc{A("fault"), nullptr, nullptr};
        DWORD job = StartDocPrinterA(printer_, 1, reinterpret_cast<LPBYTE>(&doc));
        ASSERT_NE(job, 0u);
        bool failed = false;
        for (const auto& [result, bytes] : c.calls) {
            DWORD written = 99;
            EXPECT_EQ(WritePrinter(printer_, const_cast<char*>("abcd"), 4, &written), result);
            EXPECT_EQ(written, bytes);
            if (!result) {
                EXPECT_EQ(GetLastError(), ERROR_NO_SPOOL_SPACE);
                failed = true;
            }
        }
        // A job that lost a write is no printed job.
        EXPECT_EQ(EndDocPrinter(printer_), failed ? FALSE : TRUE);
        std::vector<BYTE> buffer;
        EXPECT_EQ(JobRecord(printer_, job, buffer).Status, failed ? JOB_STATUS_ERROR : JOB_STATUS_PRINTED);
        EXPECT_EQ(ReadFile(zq::store::JobFile(job)), c.file);
    }
}

}  // namespace
