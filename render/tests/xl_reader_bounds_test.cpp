// The test-side PCL XL reader bounds the painting a small job can ask for:
// a stream replayed again and again paints its path only while the job's
// budget of points lasts, says so once, and a job within it paints whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "pclread/pclxl_reader.h"

namespace {

// A page with a two-point line, and a stream holding only PaintPath that
// the page runs `replays` times.
std::vector<uint8_t> LineStrokedByStream(int replays) {
    const std::string header = ") HP-PCL XL;2;0;\n";
    std::vector<uint8_t> b(header.begin(), header.end());
    auto add = [&](std::initializer_list<int> bytes) {
        for (int v : bytes) b.push_back(static_cast<uint8_t>(v));
    };
    add({0xD1, 36, 0, 36, 0, 0xF8, 0x89, 0xC0, 0, 0xF8, 0x86, 0x41});  // BeginSession, 36 units an inch
    add({0xC0, 0, 0xF8, 0x25, 0xC0, 0, 0xF8, 0x28, 0x43});              // BeginPage, letter, portrait
    add({0xC0, 0, 0xF8, 0x09, 0x79});                                   // SetPenSource black
    add({0xD3, 10, 0, 10, 0, 0xF8, 0x4C, 0x6B});                        // SetCursor (10, 10)
    add({0xD3, 100, 0, 10, 0, 0xF8, 0x45, 0x9B});                       // LinePath to (100, 10)
    add({0xC8, 0xC0, 1, 'S', 0xF8, 0x8B, 0x5B});                        // BeginStream "S"
    add({0xC2, 1, 0, 0, 0, 0xF8, 0x8C, 0x5C, 0xFB, 1, 0x86});           // ReadStream: PaintPath
    add({0x5D});                                                        // EndStream
    for (int i = 0; i < replays; ++i) add({0xC8, 0xC0, 1, 'S', 0xF8, 0x8B, 0x5E});  // ExecStream "S"
    add({0x44, 0x42});                                                  // EndPage, EndSession
    return b;
}

size_t Count(const std::vector<std::string>& errors, const std::string& part) {
    return static_cast<size_t>(std::count_if(errors.begin(), errors.end(),
                                             [&](const std::string& e) { return e.find(part) != std::string::npos; }));
}

TEST(XlReaderBounds, ReplayedPaintingStopsWhenTheJobsPointsAreSpent) {
    const std::string spent = "paths paint more points than the job allows";
    struct Case {
        const char* what;
        int64_t perByte, least;
        size_t faults;
    };
    const Case cases[] = {
        {"the reader's own bounds: twenty strokes are nothing", 4096, int64_t{1} << 24, 0},
        // Each stroke costs its two points and one outline polygon.
        {"thirty points: ten strokes, then one fault", 0, 30, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        pclread::XlSession session;
        session.paintPointsPerByte = c.perByte;
        session.minPaintPoints = c.least;
        std::vector<std::string> errors;
        const auto job = LineStrokedByStream(20);
        pclread::ReadXl(job, 0, 1, session, errors);
        EXPECT_EQ(Count(errors, spent), c.faults);
        EXPECT_EQ(session.operatorCounts["ExecStream"], 20u);
        ASSERT_EQ(session.pages.size(), 1u);
        // The line is on the page either way: the budget cut the repeats.
        const auto& page = session.pages[0];
        EXPECT_LT(std::min(page.At(50, 9), page.At(50, 10)), 128);  // a pixel wide, along y = 10
        EXPECT_EQ(page.At(50, 30), 255);
    }
}

}  // namespace
