// DeviceCapabilities of the four shipped models, through printers of the
// spooler: every capability, the paper and tray lists, and the media the
// device reports loaded, with and without the outside libraries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/loader.h"
#include "base/profile.h"
#include "base/root.h"
#include "interface/device_caps.h"
#include "settings/paper_record.h"
#include "settings/user_forms.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "testing/printer_fixture.h"

#ifndef ZQ_COMMLIB
#define ZQ_COMMLIB ""
#endif

namespace zq {
namespace {

class DeviceCapsTest : public testing::StoreRoot {
protected:
    void SetUp() override {
        StoreRoot::SetUp();
        drvui_ = LoadLibraryA("drvui.dll");
        ASSERT_NE(drvui_, nullptr) << LastLoadError();
        const char* sections[][2] = {{"Zelquor Mira 12 PCL", "Zelquor Mira 12"},
                                     {"Zelquor Tarn 45 PCL XL", "Zelquor Tarn 45 XL"},
                                     {"Zelquor Corvo C30 Finishing", "Zelquor Corvo C30"},
                                     {"Ovra Zelquor Lite 8", "Ovra Zelquor Lite 8"}};
        const char16_t* drivers[] = {u"Zelquor Mira 12 PCL", u"Zelquor Tarn 45 PCL XL", u"Zelquor Corvo C30 Finishing",
                                     u"Ovra Zelquor Lite 8"};
        const char16_t* names[] = {u"Mira", u"Tarn", u"Corvo", u"Ovra"};
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(WritePrivateProfileStringA(sections[i][0], "Model", sections[i][1], "pclrend.ini"));
            ASSERT_TRUE(testing::InstallDriver(drivers[i]));
            printers_[i] = testing::AddLocalPrinter(names[i], drivers[i]);
            ASSERT_NE(printers_[i], nullptr);
        }
    }
    void TearDown() override {
        for (HANDLE p : printers_) {
            if (p != nullptr) ClosePrinter(p);
        }
        if (drvui_ != nullptr) FreeLibrary(drvui_);
        StoreRoot::TearDown();
    }
    DWORD Caps(int model, WORD cap, void* out = nullptr, DEVMODEW* dm = nullptr) {
        return DrvDeviceCapabilities(printers_[model], nullptr, cap, out, dm);
    }
    HMODULE drvui_ = nullptr;
    HANDLE printers_[4] = {};
};

constexpr DWORD kError = 0xFFFFFFFF;

DWORD Extent(int width, int length) {
    return static_cast<DWORD>(width | (length << 16));
}

TEST_F(DeviceCapsTest, ValuesPerModel) {
    struct Case { WORD cap; DWORD mira, tarn, corvo, ovra; };
    const Case cases[] = {
        {DC_VERSION, 1025, 1025, 1025, 1025},
        {DC_SIZE, 220, 220, 220, 220},
        {DC_EXTRA, 1036, 1036, 1036, 1036},
        {DC_DRIVER, 0x1400, 0x1400, 0x1400, 0x1400},
        {DC_DUPLEX, 1, 1, 0, 1},
        {DC_TRUETYPE, 7, 7, 7, 7},
        {DC_ORIENTATION, 90, 90, 90, 90},
        {DC_COPIES, 9999, 9999, 9999, 9999},
        {DC_BINADJUST, 2, 2, 2, 2},
        {DC_COLLATE, 0, 1, 1, 0},
        {DC_PERSONALITY, 1, 2, 1, 1},
        {DC_PRINTRATE, 12, 45, 30, 8},
        {DC_PRINTRATEPPM, 12, 45, 30, 8},
        {DC_PRINTRATEUNIT, 1, 1, 1, 1},
        {DC_PRINTERMEM, 8 * 1024, 32 * 1024, 64 * 1024, 4 * 1024},
        {DC_STAPLE, 0, 1, 0, 0},
        {DC_COLORDEVICE, 0, 0, 1, 0},
        {DC_NUP, 6, 6, 6, 6},
        // Limits in 1/1200 inch to tenths of a millimetre; the Mira's are empty.
        {DC_MINEXTENT, 0, Extent(1016, 1524), Extent(914, 1829), Extent(1016, 1524)},
        {DC_MAXEXTENT, 0, Extent(2159, 3556), Extent(2972, 4191), Extent(2159, 3556)},
        {DC_PAPERS, 6, 13, 6, 4},
        {DC_BINS, 3, 4, 3, kError},
        {DC_ENUMRESOLUTIONS, 2, 3, 1, 1},
        {DC_FILEDEPENDENCIES, 0, 0, 0, 0},
        {99, kError, kError, kError, kError},
    };
    for (const auto& c : cases) {
        const DWORD want[] = {c.mira, c.tarn, c.corvo, c.ovra};
        for (int m = 0; m < 4; ++m) {
            EXPECT_EQ(Caps(m, c.cap), want[m]) << "capability " << c.cap << " model " << m;
        }
    }
    // DC_TRUETYPE is DCTT_BITMAP | DCTT_DOWNLOAD | DCTT_SUBDEV.
    EXPECT_EQ(DCTT_BITMAP | DCTT_DOWNLOAD | DCTT_SUBDEV, 7u);
    EXPECT_EQ(Caps(0, DC_FIELDS), 0x04007703u);
    EXPECT_EQ(DrvDeviceCapabilities(nullptr, nullptr, DC_VERSION, nullptr, nullptr), 1025u);
    EXPECT_EQ(DrvDeviceCapabilities(nullptr, nullptr, DC_FIELDS, nullptr, nullptr), kError);
}

TEST_F(DeviceCapsTest, ListsAndNames) {
    WORD papers[32] = {};
    ASSERT_EQ(Caps(0, DC_PAPERS, papers), 6u);
    EXPECT_EQ(std::vector<WORD>(papers, papers + 6), (std::vector<WORD>{1, 5, 7, 9, 20, 27}));
    LONG sizes[64] = {};
    ASSERT_EQ(Caps(0, DC_PAPERSIZE, sizes), 6u);
    EXPECT_EQ(sizes[0], 2159);  // Letter
    EXPECT_EQ(sizes[1], 2794);
    EXPECT_EQ(sizes[6], 2100);  // A4: 9921 x 14031 / 1200 inch
    EXPECT_EQ(sizes[7], 2970);
    // A landscape record gives each paper as it lies.
    DEVMODEW landscape{};
    landscape.dmSpecVersion = DM_SPECVERSION;
    landscape.dmSize = sizeof landscape;
    landscape.dmFields = DM_ORIENTATION;
    landscape.dmOrientation = DMORIENT_LANDSCAPE;
    ASSERT_EQ(Caps(0, DC_PAPERSIZE, sizes, &landscape), 6u);
    EXPECT_EQ(sizes[0], 2794);
    EXPECT_EQ(sizes[1], 2159);
    // Names of 64 characters from the dialog library, one per paper.
    std::vector<WCHAR> names(64 * 8, u'x');
    ASSERT_EQ(Caps(0, DC_PAPERNAMES, names.data()), 6u);
    const char16_t* paperNames[] = {u"Letter", u"Legal", u"Executive", u"A4", u"Envelope #10", u"Envelope DL"};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(std::u16string(names.data() + 64 * i), paperNames[i]) << i;
        EXPECT_EQ(names[64 * i + 63], u'\0');
    }
    EXPECT_EQ(names[64 * 6], u'x');
    WORD bins[16] = {};
    ASSERT_EQ(Caps(1, DC_BINS, bins), 4u);  // the installable trays 3 and 257 are not installed
    EXPECT_EQ(std::vector<WORD>(bins, bins + 4), (std::vector<WORD>{7, 4, 1, 2}));
    std::vector<WCHAR> binNames(24 * 4, u'x');
    EXPECT_EQ(Caps(1, DC_BINNAMES, binNames.data()), 4u);
    const char16_t* trays[] = {u"Automatically select", u"Manual feed", u"Tray 1", u"Tray 2"};
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(std::u16string(binNames.data() + 24 * i), trays[i]) << i;
    LONG resolutions[10] = {};
    ASSERT_EQ(Caps(1, DC_ENUMRESOLUTIONS, resolutions), 3u);
    EXPECT_EQ(std::vector<LONG>(resolutions, resolutions + 6), (std::vector<LONG>{600, 600, 1200, 1200, 300, 300}));
    WCHAR personalities[64] = {};
    ASSERT_EQ(Caps(1, DC_PERSONALITY, personalities), 2u);
    EXPECT_EQ(std::u16string(personalities), u"PCL");
    EXPECT_EQ(std::u16string(personalities + 32), u"PCL XL");
    DWORD nup[6] = {};
    ASSERT_EQ(Caps(2, DC_NUP, nup), 6u);
    EXPECT_EQ(std::vector<DWORD>(nup, nup + 6), (std::vector<DWORD>{1, 2, 4, 6, 9, 16}));
    WCHAR dependency = u'x';
    EXPECT_EQ(Caps(2, DC_FILEDEPENDENCIES, &dependency), 0u);
    EXPECT_EQ(dependency, u'\0');
}

// The resolution the record asks for leads, even when the model's list
// lacks it; the answer counts the pairs written.
TEST_F(DeviceCapsTest, ResolutionsCountThePairsWritten) {
    LONG pairs[12] = {};
    ASSERT_EQ(Caps(0, DC_ENUMRESOLUTIONS, pairs), 2u);
    EXPECT_EQ(std::vector<LONG>(pairs, pairs + 4), (std::vector<LONG>{600, 600, 300, 300}));
}

TEST_F(DeviceCapsTest, MediaReadyFromTheDeviceElseTheModel) {
    EXPECT_EQ(MediaCodeToPaper(230), 14);
    EXPECT_EQ(MediaCodeToPaper(116), 12);
    EXPECT_EQ(MediaCodeToPaper(255), 0);
    // No commlib in the system directory: the model's papers.
    EXPECT_EQ(Caps(1, DC_MEDIAREADY), 13u);
    const auto system = SystemRoot() / "c" / "windows" / "system32";
    std::filesystem::create_directories(system / "bidiqry");
    ASSERT_TRUE(std::filesystem::exists(ZQ_COMMLIB)) << ZQ_COMMLIB;
    std::filesystem::copy_file(ZQ_COMMLIB, system / "commlib.so");
    // commlib but no fixture for the port: the device does not answer.
    EXPECT_EQ(Caps(1, DC_MEDIAREADY), 13u);
    // Folio (230), ledger twice (52 and 116), Letter, and a code without a paper.
    std::ofstream(system / "bidiqry" / "LPT1_.txt") << "input 1 1 230\ninput 2 2 52\ninput 3 2 116\n"
                                                       "input 4 2 1\ninput 5 1 999\n";
    std::vector<WCHAR> names(64 * 4, u'x');
    ASSERT_EQ(Caps(1, DC_MEDIAREADY, names.data()), 3u);
    // Folio and B4 are not Tarn papers: counted, their names zeroed.
    for (size_t i = 0; i < 64 * 2; ++i) ASSERT_EQ(names[i], u'\0') << i;
    EXPECT_EQ(std::u16string(names.data() + 128), u"Letter");
    EXPECT_EQ(names[64 * 3], u'x');
}

// The printer's forms follow the model's papers: its user-defined forms and
// its form associations, with their names and sizes.
TEST_F(DeviceCapsTest, FormsFollowTheModelsPapers) {
    PaperArea areas[4] = {};
    const UserFormValues form{512, 0, 7200, 9600,
                              std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(areas), sizeof areas)};
    for (const char* printer : {"Mira", "Tarn", "Ovra"}) {
        ASSERT_TRUE(UserFormAdd(printer, 512, "Cards", form));
        ASSERT_TRUE(FormAssocAdd(printer, 640, "Reports", FormAssocValues{9, 0, {}, {}}));
    }
    // The Ovra offers forms in its language: the user form, then the
    // association.
    std::vector<WORD> papers(64);
    const DWORD n = Caps(3, DC_PAPERS, papers.data());
    ASSERT_GE(n, 3u);
    const DWORD model = n - 2;
    EXPECT_EQ(papers[model], 512);
    EXPECT_EQ(papers[model + 1], 640);
    std::vector<WCHAR> names(64 * 64);
    ASSERT_EQ(Caps(3, DC_PAPERNAMES, names.data()), n);
    EXPECT_EQ(std::u16string(names.data()), u"Letter");
    EXPECT_EQ(std::u16string(names.data() + 64 * model), u"Cards");
    EXPECT_EQ(std::u16string(names.data() + 64 * (model + 1)), u"Reports");
    std::vector<LONG> sizes(2 * 64);
    ASSERT_EQ(Caps(3, DC_PAPERSIZE, sizes.data()), n);
    EXPECT_EQ(sizes[2 * model], 1524);  // 6 x 8 inches
    EXPECT_EQ(sizes[2 * model + 1], 2032);
    EXPECT_EQ(sizes[2 * model + 2], 2100);  // the association's A4
    EXPECT_EQ(sizes[2 * model + 3], 2970);
    // The Tarn's forms are not offered in PCL XL, nor the Mira's at all:
    // their associations are listed still.
    const DWORD tarn = Caps(1, DC_PAPERS, papers.data());
    EXPECT_EQ(papers[tarn - 1], 640);
    EXPECT_NE(papers[tarn - 2], 512);
    ASSERT_EQ(Caps(0, DC_PAPERS, papers.data()), 7u);
    EXPECT_EQ(papers[6], 640);
}

}  // namespace
}  // namespace zq
