#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/files.h"
#include "base/lz.h"
#include "testing/fresh_root.h"

namespace fs = std::filesystem;

namespace {

fs::path DataDir() {
    const char* src = std::getenv("ZQ_SOURCE_DIR");
    return fs::path(src ? src : "../../..") / "platform/base/tests/data/lz";
}

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool HaveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " > /dev/null 2>&1").c_str()) == 0;
}

class Lz : public zq::testing::FreshRoot {
protected:
    // Expands C:\in into C:\out through the three calls; the LZCopy result.
    LONG Expand(const std::string& image) {
        WriteHost("c/in", image);
        OFSTRUCT of{};
        INT src = LZOpenFileA(const_cast<LPSTR>("C:\\in"), &of, OF_READ);
        EXPECT_GE(src, 0);
        INT dst = LZOpenFileA(const_cast<LPSTR>("C:\\out"), &of, OF_CREATE);
        EXPECT_GE(dst, 0);
        LONG n = LZCopy(src, dst);
        LZClose(src);
        LZClose(dst);
        return n;
    }
};

TEST_F(Lz, FixturesExpandToTheirOriginals) {
    for (const char* name : {"empty", "one", "text", "runs"}) {
        SCOPED_TRACE(name);
        std::string original = ReadFile(DataDir() / name);
        EXPECT_EQ(Expand(ReadFile(DataDir() / (std::string(name) + ".lz"))), static_cast<LONG>(original.size()));
        EXPECT_EQ(ReadHost("c/out"), original);
    }
}

TEST_F(Lz, AgreesWithDebiansToolsOnLargeInputs) {
    if (!HaveTool("mscompress") || !HaveTool("msexpand")) GTEST_SKIP() << "mscompress/msexpand not installed";
    std::mt19937 rng(7);
    std::string random(1 << 20, '\0');
    for (auto& c : random) c = static_cast<char>(rng());
    std::string runs;
    for (int i = 0; i < 4000; ++i) runs += std::string(1 + i % 300, static_cast<char>('a' + i % 5));
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i % 97) + " of the Zelquor sample\n";
    for (auto* input : {&random, &runs, &text}) {
        fs::path plain = Host("host/plain");
        fs::remove(Host("host/plain_"));
        WriteHost("host/plain", *input);
        ASSERT_EQ(std::system(("cd '" + plain.parent_path().string() + "' && mscompress plain").c_str()), 0);
        std::string image = ReadFile(Host("host/plain_"));
        ASSERT_EQ(std::system(("msexpand < '" + Host("host/plain_").string() + "' > '" + Host("host/ref").string() + "'")
                                  .c_str()),
                  0);
        EXPECT_EQ(Expand(image), static_cast<LONG>(input->size()));
        std::string ours = ReadHost("c/out");
        EXPECT_TRUE(ours == *input) << "expansion differs from the original";
        EXPECT_TRUE(ours == ReadHost("host/ref")) << "expansion differs from msexpand's";
    }
}

TEST_F(Lz, DamagedFilesFailWithReadError) {
    std::string text = ReadFile(DataDir() / "text.lz");
    std::string runs = ReadFile(DataDir() / "runs.lz");
    auto withLength = [](std::string image, uint32_t n) {
        for (int i = 0; i < 4; ++i) image[10 + i] = static_cast<char>(n >> (8 * i));
        return image;
    };
    struct Case {
        const char* what;
        std::string image;
    } cases[] = {
        {"cut in the middle", text.substr(0, text.size() / 2)},
        {"cut inside a reference", runs.substr(0, runs.size() - 1)},
        {"header claims more", withLength(text, 1000)},
        {"header claims less", withLength(text, 10)},
        {"stream longer than declared", text + std::string("\xff" "abcdefgh", 9)},
        {"only the header of a non-empty file", text.substr(0, 14)},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Expand(c.image), LZERROR_READ);
    }
}

TEST_F(Lz, OtherFilesAreCopiedAsTheyAre) {
    for (std::string plain : {std::string(), std::string("SZD"), std::string("plain text\r\n"), std::string(100000, 'q')}) {
        EXPECT_EQ(Expand(plain), static_cast<LONG>(plain.size()));
        EXPECT_EQ(ReadHost("c/out"), plain);
    }
}

TEST_F(Lz, HandleErrors) {
    OFSTRUCT of{};
    EXPECT_EQ(LZOpenFileA(const_cast<LPSTR>("C:\\missing"), &of, OF_READ), LZERROR_BADINHANDLE);
    WriteHost("c/in", "abc");
    INT src = LZOpenFileA(const_cast<LPSTR>("C:\\in"), &of, OF_READ);
    ASSERT_GE(src, 0);
    EXPECT_EQ(LZCopy(src, -1), LZERROR_BADOUTHANDLE);
    EXPECT_EQ(LZCopy(-1, src), LZERROR_BADINHANDLE);
    LZClose(src);
    WriteHost("c/in", std::string("SZDD\x88\xf0\x27\x33" "B\0\0\0\0\0", 14));
    EXPECT_EQ(LZOpenFileA(const_cast<LPSTR>("C:\\in"), &of, OF_READ), LZERROR_UNKNOWNALG);
}

TEST(LzMemory, ExpandSzddRefusesWhatIsNoImage) {
    std::vector<uint8_t> out;
    const uint8_t notLz[] = {'a', 'b'};
    EXPECT_FALSE(zq::ExpandSzdd(notLz, out));
    std::string one = ReadFile(DataDir() / "one.lz");
    EXPECT_TRUE(zq::ExpandSzdd({reinterpret_cast<const uint8_t*>(one.data()), one.size()}, out));
    EXPECT_EQ(std::string(out.begin(), out.end()), "x");
}

}  // namespace
