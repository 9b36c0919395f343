#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "postinst/zip_extract.h"
#include "postinst_fixture.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Zip : public postinst::testing::PostinstRoot {
protected:
    void Put(const char* name) {
        fs::create_directories(Host("c/media"));
        fs::copy_file(postinst::testing::Source(std::string("postinst/tests/data/") + name), Host("c/media/in.zip"),
                      fs::copy_options::overwrite_existing);
    }
    bool Extract() { return postinst::ZipListContents("C:\\media\\in.zip", postinst::kZipExtract, "C:\\out", nullptr); }
};

TEST_F(Zip, ExtractionEqualsUnzipsWithTheEntryDates) {
    if (std::system("command -v unzip > /dev/null 2>&1") != 0) GTEST_SKIP() << "unzip not installed";
    Put("samples.zip");
    ASSERT_TRUE(Extract());
    fs::create_directories(Host("ref"));
    std::string cmd = "cd '" + Host("ref").string() + "' && TZ=UTC unzip -qo '" +
                      postinst::testing::Source("postinst/tests/data/samples.zip").string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    size_t files = 0;
    for (auto& e : fs::recursive_directory_iterator(Host("ref"))) {
        auto rel = fs::relative(e.path(), Host("ref"));
        ASSERT_TRUE(fs::exists(Host("c/out") / rel)) << rel;
        if (!e.is_regular_file()) continue;
        ++files;
        EXPECT_EQ(ReadAll(Host("c/out") / rel), ReadAll(e.path())) << rel;
        struct stat ours {}, theirs {};
        stat((Host("c/out") / rel).c_str(), &ours);
        stat(e.path().c_str(), &theirs);
        EXPECT_EQ(ours.st_mtime, theirs.st_mtime) << rel;
    }
    EXPECT_EQ(files, 3u);
    size_t ours = 0;
    for (auto& e : fs::recursive_directory_iterator(Host("c/out"))) ours += e.is_regular_file();
    EXPECT_EQ(ours, files);  // and no temporary file left
}

TEST_F(Zip, NamesLeavingTheDestinationAreRefused) {
    fs::create_directories(Host("c/sentinel"));
    Put("escape.zip");
    EXPECT_FALSE(Extract());
    EXPECT_EQ(ReadHost("c/out/ok.txt"), "fine\n");
    size_t n = 0;
    for (auto& e : fs::recursive_directory_iterator(root_)) n += e.is_regular_file() && e.path().filename().string().rfind("x", 0) == 0;
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(fs::is_empty(Host("c/sentinel")));
    EXPECT_EQ(CountLines("ZipListContents: entry "), 6u);
    for (const char* name : {"..\\x", "../x", "\\x", "C:\\x", "\\\\srv\\x", "a\\..\\..\\x", "a\\.\\b"})
        EXPECT_FALSE(postinst::IsSafeEntryName(name)) << name;
    for (const char* name : {"a", "a\\b.txt", "..a\\b", "a..b"}) EXPECT_TRUE(postinst::IsSafeEntryName(name)) << name;
}

TEST_F(Zip, APlantedLinkPointingOutIsRefused) {
    fs::path sentinel = root_.parent_path() / (root_.filename().string() + "-sentinel");
    fs::create_directories(sentinel);
    fs::create_directories(Host("c/out"));
    fs::create_directory_symlink(sentinel, Host("c/out/link"));
    Put("linked.zip");
    EXPECT_FALSE(Extract());
    bool empty = fs::is_empty(sentinel);
    fs::remove_all(sentinel);
    EXPECT_TRUE(empty);
}

TEST_F(Zip, DamagedEntriesLeaveNoFile) {
    struct Case {
        const char* archive;
        bool result;
        std::vector<std::string> present, absent;
    } cases[] = {
        {"badcrc.zip", false, {"good.txt"}, {"bad.txt"}},
        {"truncated.zip", false, {}, {"readme.txt", "chart.bin"}},
        {"notzip.zip", false, {}, {}},
        {"empty.zip", true, {}, {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.archive);
        fs::remove_all(Host("c/out"));
        Put(c.archive);
        EXPECT_EQ(Extract(), c.result);
        for (auto& f : c.present) EXPECT_TRUE(fs::exists(Host("c/out") / f)) << f;
        for (auto& f : c.absent) EXPECT_FALSE(fs::exists(Host("c/out") / f)) << f;
        if (!fs::exists(Host("c/out"))) continue;
        for (auto& e : fs::directory_iterator(Host("c/out"))) {
            EXPECT_EQ(e.path().filename().string().rfind("tmp", 0), std::string::npos) << e.path();
        }
    }
}

TEST_F(Zip, ListingGivesTheNamesInArchiveOrder) {
    Put("samples.zip");
    std::vector<std::string> names;
    ASSERT_TRUE(postinst::ZipListContents("C:\\media\\in.zip", postinst::kZipList, "", &names));
    std::vector<std::string> expected = {"readme.txt", "letters\\", "letters\\letter.txt", "chart.bin"};
    EXPECT_EQ(names, expected);
    EXPECT_FALSE(fs::exists(Host("c/out")));
}

}  // namespace
