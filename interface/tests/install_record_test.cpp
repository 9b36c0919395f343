#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/loader.h"
#include "base/paths.h"
#include "base/root.h"
#include "interface/install_record.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace zq {
namespace {

InstallLogEntry Entry(HANDLE printer, int sectionKind) {
    InstallLogEntry e;
    e.printer = printer;
    e.sectionKind = sectionKind;
    return e;
}

using RootTest = testing::StoreRoot;

class InstallLogTest : public RootTest {
protected:
    void SetUp() override {
        RootTest::SetUp();
        const auto system = MapPath(SystemDirectory());
        ASSERT_TRUE(system);
        std::filesystem::create_directories(*system);
        std::filesystem::copy_file(ZQ_FAKE_INSTREC, *system / "instrec.so");
        for (const char16_t* name : {u"Zelquor Tarn 45 PCL XL", u"Other Maker Laser"}) {
            ASSERT_TRUE(testing::InstallDriver(name));
        }
        zelquor_ = testing::AddLocalPrinter(u"Office", u"Zelquor Tarn 45 PCL XL");
        generic_ = testing::AddLocalPrinter(u"Hall", u"Other Maker Laser");
        ASSERT_TRUE(zelquor_ && generic_);
    }
    void TearDown() override {
        ClosePrinter(zelquor_);
        ClosePrinter(generic_);
        RootTest::TearDown();
    }
    // What the stand-in recorded, while the entry is added.
    std::string Record(const InstallLogEntry& entry, const char* logs = "Zelquor") {
        const auto system = *MapPath(SystemDirectory());
        HMODULE fake = LoadLibraryA((system / "instrec.so").c_str());
        EXPECT_NE(fake, nullptr);
        reinterpret_cast<void (*)(const char*)>(GetProcAddress(fake, "SetLogs"))(logs);
        reinterpret_cast<const char* (*)()>(GetProcAddress(fake, "TakeCalls"))();
        AddInstallLogEntry(entry);
        std::string calls = reinterpret_cast<const char* (*)()>(GetProcAddress(fake, "TakeCalls"))();
        FreeLibrary(fake);
        return calls;
    }
    HANDLE zelquor_ = nullptr;
    HANDLE generic_ = nullptr;
};

TEST_F(InstallLogTest, FilesKeysAndValues) {
    InstallLogEntry file = Entry(zelquor_, 2);
    file.file = "C:\\WINDOWS\\zelOffice.PCL";
    EXPECT_EQ(Record(file), "FindLogFile(Zelquor, 2)\nAddFile(Printer Office, C:\\WINDOWS\\zelOffice.PCL)\n");
    InstallLogEntry value = Entry(zelquor_, 2);
    value.printerName = "Front desk";
    value.keyKind = "hkcu";
    value.key = "Software\\Zelquor\\Printers\\Office";
    value.valueName = "WebIP";
    EXPECT_EQ(Record(value), "FindLogFile(Zelquor, 2)\nAddRegistry(Printer Front desk, hkcu, "
                             "\"Software\\Zelquor\\Printers\\Office\", WebIP)\n");
    InstallLogEntry key = Entry(zelquor_, 1);
    key.keyKind = "hkcu";
    key.key = "Software\\Zelquor";
    EXPECT_EQ(Record(key), "FindLogFile(Zelquor, 2)\nAddRegistry(Drivers, hkcu, \"Software\\Zelquor\")\n");
}

TEST_F(InstallLogTest, NothingRecordedWithoutTheLogOrThePrinter) {
    InstallLogEntry file = Entry(generic_, 1);
    file.file = "a.txt";
    EXPECT_EQ(Record(file), "FindLogFile(Generic, 2)\n");  // only the Zelquor log is there
    EXPECT_EQ(Record(file, "Generic"), "FindLogFile(Generic, 2)\nAddFile(Drivers, a.txt)\n");
    file.printer = nullptr;
    EXPECT_EQ(Record(file), "");
    file.printer = zelquor_;
    file.sectionKind = 3;
    EXPECT_EQ(Record(file), "");
}

TEST_F(InstallLogTest, MissingLibraryChangesNothing) {
    std::filesystem::remove(*MapPath(SystemDirectory()) / "instrec.so");
    InstallLogEntry file = Entry(zelquor_, 1);
    file.file = "a.txt";
    AddInstallLogEntry(file);
    SUCCEED();
}

}  // namespace
}  // namespace zq
