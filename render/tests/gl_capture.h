// A record on an open PCL 5 page writing into a capture sink, with the
// bytes written since the last look as text, and the box of the ink an
// interpreter printed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "pclread/judge.h"
#include "pclread/pclread.h"
#include "render/hpgl_mode.h"
#include "render/output.h"
#include "render/tests/capture_sink.h"
#include "render/tests/gpcl6_run.h"

namespace pclrend {

struct GlCapture {
    explicit GlCapture(uint16_t dpi = 300, uint16_t glState = kGlNotSetUp) {
        EXPECT_TRUE(AllocateBuffers(r, false));
        r.sink = &sink;
        r.jobState = kJobOpen;
        r.language = Language::Pcl5Gl2;
        r.resolution = dpi;
        r.glState = glState;
    }
    // A colour page: the record's colour on, and a job that asks for it
    // (the HP-GL/2 route draws in colour only then).
    void AskColour(bool on = true) {
        r.colour = on;
        if (!r.devmode) r.devmode = std::make_unique<zq::PrivateDevmode>();
        r.devmode->dm.dmColor = on ? DMCOLOR_COLOR : DMCOLOR_MONOCHROME;
    }
    std::string Out() {
        SpoolFlush(r);
        std::string s(sink.bytes.begin() + static_cast<std::ptrdiff_t>(taken), sink.bytes.end());
        taken = sink.bytes.size();
        return s;
    }
    DeviceRecord r;
    CaptureSink sink;
    size_t taken = 0;
};

// The box of the page's dark pixels within [0, limitX) x [0, limitY)
// (right and bottom inclusive); right is -1 when there is none.
struct InkBox {
    int left, top, right, bottom;
};
inline InkBox InkBoxOf(const testing::GreyPage& p, int limitX = 1 << 30, int limitY = 1 << 30) {
    InkBox b{1 << 30, 1 << 30, -1, -1};
    for (int y = 0; y < std::min(p.height, limitY); ++y)
        for (int x = 0; x < std::min(p.width, limitX); ++x)
            if (p.grey[static_cast<size_t>(y) * p.width + x] < 128) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
            }
    return b;
}

// The test-side reader's decoding of PCL 5 bytes (led into PCL by PJL
// when they are not) on a page of `width` x `height` dots.
inline pclread::Job DecodeGl(const std::vector<uint8_t>& bytes, int width = 2550, int height = 3300) {
    std::vector<uint8_t> job;
    const std::string lead = "\x1b%-12345X@PJL ENTER LANGUAGE=PCL\n";
    if (bytes.empty() || bytes[0] == 0x1B) job.assign(lead.begin(), lead.end());
    job.insert(job.end(), bytes.begin(), bytes.end());
    pclread::Options o;
    o.pageWidth = width;
    o.pageHeight = height;
    return pclread::Read(job, o);
}

// A decoded page in the interpreter's form.
inline testing::GreyPage GreyOf(const pclread::Page& page) {
    const pclread::Grey g = pclread::ToGrey(page);
    return {g.width, g.height, g.v, {}};
}

inline std::string Faults(const pclread::Job& job) {
    std::string s;
    for (const auto& e : job.errors) s += e + "\n";
    return s;
}

}  // namespace pclrend
