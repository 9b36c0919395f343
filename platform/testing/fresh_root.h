// A fresh system root per test, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/root.h"
#include "testing/temp_root.h"

namespace zq::testing {

class FreshRoot : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = MakeTempDirectory("zqroot");
        ASSERT_FALSE(root_.empty());
        zq::SetSystemRoot(root_);
    }
    void TearDown() override {
        zq::SetSystemRoot({});
        RemoveTree(root_);
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
