// A fresh system root for each test, so every test gets a new database.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/root.h"
#include "store/admin.h"

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zq-store-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        zq::SetSystemRoot(root_);
        zq::store::SetRegistryUser(u"tester");
        zq::store::SetWritePrinterFault(zq::store::WriteFault::None);
    }
    void TearDown() override {
        zq::SetSystemRoot({});
        zq::store::SetRegistryUser(u"");
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    std::filesystem::path root_;
};
