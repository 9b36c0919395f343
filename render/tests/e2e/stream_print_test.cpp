// A printer whose jobs go to host finishing, through the engine: the
// private escapes on a live device context, and documents refused while the
// stream cannot yet carry every drawing.
#include <gtest/gtest.h>

#include <cstring>

#include "base/error.h"
#include "common/escape_records.h"
#include "render/device_record_image.h"
#include "render/tests/e2e/print_support.h"

namespace pclrend::testing {
namespace {

namespace esc = zq::esc;

using StreamPrintTest = PrinterTest;

int Query(HDC dc, uint32_t code) {
    return ExtEscape(dc, static_cast<int>(esc::kQueryEscSupport), 4, reinterpret_cast<LPCSTR>(&code), 0, nullptr);
}

TEST_F(StreamPrintTest, EscapesAnswerOnALiveDeviceContext) {
    for (uint8_t language : {0, 4}) {
        SCOPED_TRACE(int(language));
        auto dm = Letter(300);
        dm.printerLanguage = language;
        dm.metaSpool = 1;  // the spool stream of host finishing
        int level = 0, streamLanguage = -1, support16377 = -1, startDoc = 1;
        DWORD refusal = 0;
        DeviceRecordImage image{};
        HANDLE printer = nullptr;
        ASSERT_TRUE(OpenPrinterW(W(u"Mono"), &printer, nullptr));
        auto driver = zq::gdi::Driver::Load(driverPath_.string());
        auto device = zq::gdi::Device::Enable(driver, &dm.dm, u"Mono", u"LPT1:", printer);
        ASSERT_TRUE(device) << "enable refused the stream: " << GetLastError();
        auto* context = new zq::gdi::DeviceContext();
        context->device = std::move(device);
        HDC dc = context->Handle();
        ASSERT_EQ(Query(dc, esc::kDriverLevel), 1);
        ExtEscape(dc, static_cast<int>(esc::kDriverLevel), 0, nullptr, 4, reinterpret_cast<LPSTR>(&level));
        ExtEscape(dc, static_cast<int>(esc::kIsStreamLanguage), 0, nullptr, 4, reinterpret_cast<LPSTR>(&streamLanguage));
        support16377 = Query(dc, esc::kNormalisePage);
        ExtEscape(dc, static_cast<int>(esc::kRecordImage), 0, nullptr, sizeof image, reinterpret_cast<LPSTR>(&image));
        DOCINFOW info{sizeof(DOCINFOW), u"doc", nullptr, nullptr, 0};
        SetLastError(0);
        startDoc = StartDocW(dc, &info);
        refusal = GetLastError();
        DeleteDC(dc);
        ClosePrinter(printer);
        EXPECT_EQ(level, 566);
        EXPECT_EQ(streamLanguage, language == 4 ? 1 : 0);
        EXPECT_EQ(support16377, language == 4 ? 1 : 0);
        EXPECT_EQ(image.outputMode, 4);
        EXPECT_EQ(image.language, language);
        EXPECT_LE(startDoc, 0);
        EXPECT_EQ(refusal, ERROR_NOT_SUPPORTED);
    }
}

}  // namespace
}  // namespace pclrend::testing
