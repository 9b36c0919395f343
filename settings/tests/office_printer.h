// The printer the list and font tests work on: "Office" of a Tarn driver in
// a fresh root, and a helper that runs work in child processes at once.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "store/spooler.h"
#include "testing/printer_fixture.h"

namespace zq::testing {

class OfficePrinter : public StoreRoot {
protected:
    void SetUp() override {
        StoreRoot::SetUp();
        ASSERT_TRUE(InstallDriver(u"Zelquor Tarn 45 PCL XL"));
        printer_ = AddLocalPrinter(u"Office", u"Zelquor Tarn 45 PCL XL");
        ASSERT_NE(printer_, nullptr);
    }
    void TearDown() override {
        if (printer_ != nullptr) ClosePrinter(printer_);
        StoreRoot::TearDown();
    }

    // Runs work(0..n-1) in n child processes at once; true when every child
    // answered true.
    static bool InChildren(int n, const std::function<bool(int)>& work) {
        std::vector<pid_t> children;
        for (int c = 0; c < n; ++c) {
            const pid_t pid = fork();
            if (pid < 0) return false;
            if (pid == 0) _exit(work(c) ? 0 : 1);
            children.push_back(pid);
        }
        bool all = true;
        for (pid_t pid : children) {
            int status = 0;
            waitpid(pid, &status, 0);
            all = all && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        return all;
    }

    HANDLE printer_ = nullptr;
};

}  // namespace zq::testing
