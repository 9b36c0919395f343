// A device record on an open PCL XL page writing into a capture sink, with
// the bytes written since the last look.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "render/output.h"
#include "render/tests/capture_sink.h"

namespace pclrend {

struct XlCapture {
    XlCapture() {
        EXPECT_TRUE(AllocateBuffers(r, false));
        r.sink = &sink;
        r.jobState = kJobOpen;
        r.language = Language::PclXl;
        r.xl.pageOpen = true;
        r.xl.PageStart();
        r.xl.colour.space = 1;  // BeginPage's grey colour space
    }
    std::vector<uint8_t> Out() {
        SpoolFlush(r);
        std::vector<uint8_t> b(sink.bytes.begin() + static_cast<std::ptrdiff_t>(taken), sink.bytes.end());
        taken = sink.bytes.size();
        return b;
    }
    DeviceRecord r;
    CaptureSink sink;
    size_t taken = 0;
};

}  // namespace pclrend
