// Fontconfig's answers kept in the system root for later processes: the
// same answers fontconfig gives, taken from the file when it holds, and
// thrown away when anything they were made from differs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "base/root.h"
#include "gdi/font.h"
#include "testing/temp_root.h"

namespace zq::gdi {
namespace {

namespace fs = std::filesystem;

class FontMatchFile : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kTouchedEnv) {
            const char* v = std::getenv(name);
            saved_.emplace_back(name, v ? std::optional<std::string>(v) : std::nullopt);
        }
        root_ = zq::testing::MakeTempDirectory("zq-font-matches");
        ASSERT_FALSE(root_.empty());
        SetSystemRoot(root_);
        ForgetFontAnswers();
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value) setenv(name.c_str(), value->c_str(), 1);
            else unsetenv(name.c_str());
        }
        ForgetFontAnswers();
        SetSystemRoot({});
        zq::testing::RemoveTree(root_);
    }
    fs::path File() const { return root_ / "font-matches.cache"; }
    std::string Read() const {
        std::ifstream in(File());
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Write(const std::string& text) const { std::ofstream(File(), std::ios::trunc) << text; }

    static constexpr const char* kTouchedEnv[] = {"FC_LANG", "LC_ALL", "LC_CTYPE", "LANG", "HOME"};
    fs::path root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

struct Asked {
    const char* family;
    int weight;
    bool italic;
};
constexpr Asked kAsked[] = {{"Arial", 400, false},       {"Arial", 700, true},      {"Times New Roman", 400, true},
                            {"Courier New", 700, false}, {"DejaVu Sans", 400, false}, {"No Such Family Here", 400, false}};

TEST_F(FontMatchFile, AnswersReadBackAreFontconfigsOwn) {
    std::vector<FontFace> first;
    for (const Asked& a : kAsked) {
        auto face = FindFont(a.family, a.weight, a.italic);
        ASSERT_TRUE(face) << a.family;
        first.push_back(*face);
    }
    const std::string text = Read();
    for (const Asked& a : kAsked) EXPECT_NE(text.find(std::string("\nmatch\t") + a.family + "\t"), std::string::npos) << a.family;
    ForgetFontAnswers();
    for (size_t i = 0; i < std::size(kAsked); ++i) {
        auto face = FindFont(kAsked[i].family, kAsked[i].weight, kAsked[i].italic);
        ASSERT_TRUE(face) << kAsked[i].family;
        EXPECT_EQ(face->file->Path(), first[i].file->Path()) << kAsked[i].family;
        EXPECT_EQ(face->index, first[i].index);
        EXPECT_EQ(face->family, first[i].family);
        EXPECT_EQ(face->style, first[i].style);
        EXPECT_EQ(face->weight, first[i].weight);
        EXPECT_EQ(face->italic, first[i].italic);
    }
    EXPECT_EQ(Read(), text);  // nothing new to keep
}

// A file whose Arial answer was planted (Courier New's file) shows whether
// the file or fontconfig answered: the planted answer is taken only while
// everything the file names holds.
TEST_F(FontMatchFile, AnythingChangedSendsTheQuestionToFontconfig) {
    const auto sans = FindFont("Arial", 400, false), mono = FindFont("Courier New", 400, false);
    ASSERT_TRUE(sans && mono);
    ASSERT_NE(sans->file->Path(), mono->file->Path());
    std::string planted = Read();
    const size_t at = planted.find(sans->file->Path());
    ASSERT_NE(at, std::string::npos);
    planted.replace(at, sans->file->Path().size(), mono->file->Path());

    auto replaceLine = [](std::string text, const std::string& starting, const std::string& by) {
        const size_t from = text.find("\n" + starting);
        if (from == std::string::npos) return std::string();
        const size_t end = text.find('\n', from + 1);
        return text.replace(from + 1, end - from - 1, by);
    };
    auto firstLine = [](const std::string& text, const std::string& starting) {
        const size_t from = text.find("\n" + starting);
        return text.substr(from + 1, text.find('\n', from + 1) - from - 1);
    };
    const std::string pathLine = firstLine(planted, "path\t");
    const std::string movedPath = pathLine.substr(0, pathLine.rfind('\t')) + "\t1.5 7 9";
    const struct {
        const char* what;
        std::function<std::string(const std::string&)> edit;
        std::function<void()> env;
        bool planted;
    } cases[] = {
        {"nothing changed", [](const std::string& t) { return t; }, [] {}, true},
        {"fontconfig's version", [&](const std::string& t) { return replaceLine(t, "version\t", "version\t1\t2"); }, [] {}, false},
        {"a configuration file or font folder", [&](const std::string& t) { return replaceLine(t, pathLine, movedPath); },
         [] {}, false},
        {"the home folder", [](const std::string& t) { return t; }, [] { setenv("HOME", "/nonexistent-home", 1); }, false},
        {"the language", [](const std::string& t) { return t; },
         [] {
             unsetenv("FC_LANG");
             unsetenv("LC_ALL");
             unsetenv("LC_CTYPE");
             setenv("LANG", "ja_JP.UTF-8", 1);
         },
         false},
        {"an unknown line", [](const std::string& t) { return "zq font matches 1\nmood\tblue" + t.substr(t.find('\n')); },
         [] {}, false},
        {"another header", [](const std::string& t) { return "zq font matches 0" + t.substr(t.find('\n')); }, [] {}, false},
        {"a short answer", [](const std::string& t) { return t + "match\tArial\t0\n"; }, [] {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = c.edit(planted);
        ASSERT_FALSE(text.empty());
        Write(text);
        c.env();
        ForgetFontAnswers();
        auto face = FindFont("Arial", 400, false);
        ASSERT_TRUE(face);
        EXPECT_EQ(face->file->Path(), c.planted ? mono->file->Path() : sans->file->Path());
        EXPECT_EQ(face->family, sans->family);
        TearDown();
        SetUp();
    }
}

// A root that does not exist is not made for the asking: a process that
// only draws leaves nothing behind.
TEST(FontMatchFileRoot, NoRootNoFile) {
    const fs::path parent = zq::testing::MakeTempDirectory("zq-font-no-root");
    ASSERT_FALSE(parent.empty());
    SetSystemRoot(parent / "absent");
    ForgetFontAnswers();
    EXPECT_TRUE(FindFont("Arial", 400, false));
    EXPECT_FALSE(fs::exists(parent / "absent"));
    ForgetFontAnswers();
    SetSystemRoot({});
    zq::testing::RemoveTree(parent);
}

}  // namespace
}  // namespace zq::gdi
