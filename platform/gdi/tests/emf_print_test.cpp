// Printing our samples through the spooler onto the recording test driver:
// the EMF job is spooled, the page is played band by band in the driver's
// hook order, and damaged documents fail with one clear error.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/paths.h"
#include "base/root.h"
#include "gdi/emf_print.h"
#include "store/admin.h"
#include "store/spooler.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> Sample(const std::string& name) {
    const char* src = std::getenv("ZQ_SOURCE_DIR");
    std::ifstream in(std::filesystem::path(src ? src : ".") / "platform/gdi/tests/data/emf" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

using EmfPrint = SpoolerPrinterTest;

TEST_F(EmfPrint, SamplesPrintBandByBand) {
    RecordingDriver drv(driverFile_);
    ASSERT_TRUE(drv.Loaded());
    TestDriverSettings s;
    s.width = 170;
    s.height = 220;
    s.bandHeight = 64;
    TestDevmode dm = MakeTestDevmode(s);
    struct Case {
        const char* name;
        const char* drawHook;  // a hook the page's drawing must reach
    };
    const Case cases[] = {{"text.emf", "TextOut"}, {"shapes.emf", "StrokeAndFillPath"}, {"photo.emf", "StretchBlt"},
                          {"clip.emf", "FillPath"}};
    for (const Case& c : cases) {
        drv.Clear();
        auto bytes = Sample(c.name);
        std::string png = (root_ / (std::string(c.name) + ".png")).string();
        auto r = zq::emf::PrintDocument(u"Zelquor Office", bytes, u"sample", &dm.dm, png);
        ASSERT_TRUE(r.error.empty()) << c.name << ": " << r.error;
        EXPECT_GT(r.spoolJob, 0u);
        EXPECT_EQ(r.stats.failed, 0u) << c.name;
        EXPECT_EQ(r.stats.Skipped(), 0u) << c.name;
        // The spooler holds the document as it was given.
        std::ifstream job(zq::store::JobFile(r.spoolJob), std::ios::binary);
        std::vector<uint8_t> spooled((std::istreambuf_iterator<char>(job)), {});
        EXPECT_EQ(spooled, bytes) << c.name;
        // The driver's output is a RAW job of its own.
        ASSERT_GT(r.outputJob, 0u);
        EXPECT_NE(r.outputJob, r.spoolJob);
        EXPECT_EQ(JobBytes(r.outputJob), "DOC sample\nPAGE 1\nEND\n") << c.name;
        auto jobs = Jobs();
        EXPECT_NE(std::find(jobs.begin(), jobs.end(), std::pair<DWORD, std::u16string>{r.spoolJob, u"NT EMF 1.008"}),
                  jobs.end());
        EXPECT_NE(std::find(jobs.begin(), jobs.end(), std::pair<DWORD, std::u16string>{r.outputJob, u"RAW"}),
                  jobs.end());
        // Hook order: one document, one page of four bands, drawing in them.
        auto calls = drv.Calls();
        std::vector<std::string> frame;
        size_t drawing = 0;
        for (const auto& call : calls) {
            bool framing = call.rfind("StartDoc", 0) == 0 || call == "StartPage" || call.rfind("StartBanding", 0) == 0 ||
                           call.rfind("NextBand", 0) == 0 || call.rfind("EndDoc", 0) == 0;
            if (framing) frame.push_back(call);
            drawing += call.rfind(c.drawHook, 0) == 0;
        }
        ASSERT_GE(frame.size(), 8u) << c.name;
        EXPECT_EQ(frame[0].rfind("StartDoc sample ", 0), 0u) << c.name;  // then the job id
        EXPECT_EQ(std::vector<std::string>(frame.begin() + 1, frame.end()),
                  (std::vector<std::string>{"StartPage", "StartBanding 0,0", "NextBand 0,64", "NextBand 0,128",
                                            "NextBand 0,192", "NextBand -1,-1", "EndDoc 0"}))
            << c.name;
        EXPECT_GT(drawing, 0u) << c.name;
        EXPECT_EQ(drv.PageCount(), 1u);
        // The reference render is a PNG file.
        std::ifstream pngFile(png, std::ios::binary);
        char magic[4] = {};
        pngFile.read(magic, 4);
        EXPECT_EQ(std::string(magic + 1, 3), "PNG") << c.name;
    }
}

TEST_F(EmfPrint, DamagedDocumentsAndUnknownPrintersFail) {
    auto bytes = Sample("shapes.emf");
    bytes.resize(bytes.size() / 2);
    auto r = zq::emf::PrintDocument(u"Zelquor Office", bytes, u"cut");
    EXPECT_NE(r.error.find("damaged enhanced metafile"), std::string::npos) << r.error;
    EXPECT_EQ(r.spoolJob, 0u);
    auto n = zq::emf::PrintDocument(u"Nobody", Sample("text.emf"), u"x");
    EXPECT_NE(n.error.find("cannot open printer Nobody"), std::string::npos) << n.error;
}

}  // namespace
