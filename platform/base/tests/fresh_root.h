// A fresh system root per test, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/paths.h"
#include "base/root.h"

namespace zq::testing {

class FreshRoot : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zqroot-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        zq::SetSystemRoot(root_);
    }
    void TearDown() override {
        zq::SetSystemRoot({});
        std::error_code ec;
        std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(root_, ec);
    }

    // Host path of a place under the root, e.g. Host("c/windows").
    std::filesystem::path Host(const std::string& relative) const { return root_ / relative; }

    void WriteHost(const std::string& relative, const std::string& bytes) const {
        std::filesystem::create_directories(Host(relative).parent_path());
        std::ofstream(Host(relative), std::ios::binary) << bytes;
    }

    std::string ReadHost(const std::string& relative) const {
        std::ifstream in(Host(relative), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path root_;
};

}  // namespace zq::testing
