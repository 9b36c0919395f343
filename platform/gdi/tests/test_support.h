// Helpers of the engine tests: the recording test driver, seen from outside.
#pragma once

#include <dlfcn.h>

#include <sstream>
#include <string>
#include <vector>

#include "test_driver/test_driver.h"

class RecordingDriver {
public:
    // Keeps the driver module loaded for the whole test, so its log outlives
    // the device contexts that load and unload it.
    explicit RecordingDriver(const std::string& path = ZQ_TEST_DRIVER_PATH) : module_(dlopen(path.c_str(), RTLD_NOW)) {
        log_ = reinterpret_cast<PFN_TestDriverLog>(dlsym(module_, "TestDriverLog"));
        clear_ = reinterpret_cast<PFN_TestDriverClear>(dlsym(module_, "TestDriverClear"));
        count_ = reinterpret_cast<PFN_TestDriverPageCount>(dlsym(module_, "TestDriverPageCount"));
        page_ = reinterpret_cast<PFN_TestDriverPage>(dlsym(module_, "TestDriverPage"));
        clear_();
    }
    ~RecordingDriver() {
        if (module_) dlclose(module_);
    }
    RecordingDriver(const RecordingDriver&) = delete;
    RecordingDriver& operator=(const RecordingDriver&) = delete;

    static std::string Path() { return ZQ_TEST_DRIVER_PATH; }
    bool Loaded() const { return module_ && log_ && clear_ && count_ && page_; }
    std::vector<std::string> Calls() const {
        std::vector<std::string> out;
        std::istringstream in(log_());
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    void Clear() { clear_(); }
    size_t PageCount() const { return count_(); }
    const BYTE* Page(size_t i, LONG* stride) const { return page_(i, stride); }

private:
    void* module_;
    PFN_TestDriverLog log_ = nullptr;
    PFN_TestDriverClear clear_ = nullptr;
    PFN_TestDriverPageCount count_ = nullptr;
    PFN_TestDriverPage page_ = nullptr;
};
