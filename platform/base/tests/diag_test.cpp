#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/diag.h"

namespace {

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(Diag, CaptureSeesLinesWhileItLives) {
    zq::DiagLine("before", "not captured");
    std::vector<std::string> lines;
    {
        zq::DiagCapture capture;
        EXPECT_TRUE(zq::DiagEnabled());
        zq::DiagLine("Store", "two\nlines");
        zq::DiagRefused("CreateFileA", "path escapes the system root");
        lines = capture.Lines();
        EXPECT_EQ(capture.Matching("refused").size(), 1u);
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Store: two lines");  // one line per event, always
    EXPECT_EQ(lines[1], "CreateFileA: refused: path escapes the system root");
}

TEST(Diag, FileTargetGetsWholeLinesFromEveryThread) {
    const auto dir = std::filesystem::temp_directory_path() / ("zq_diag_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "diag.log";
    zq::SetDiagTarget(path.string());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) zq::DiagLine("thread" + std::to_string(t), std::string(200, 'x'));
        });
    for (auto& th : threads) th.join();
    zq::SetDiagTarget("");
    zq::DiagLine("after", "not written");

    const auto lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 200u);
    for (const auto& line : lines) {
        EXPECT_EQ(line.rfind("zq[", 0), 0u);
        EXPECT_EQ(line.substr(line.size() - 200), std::string(200, 'x'));
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
