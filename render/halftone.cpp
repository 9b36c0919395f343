#include "render/halftone.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numeric>

namespace pclrend {

namespace {

constexpr double kPi = 3.14159265358979323846;


enum Generator { kBayer, kDot45, kDot0Small, kDot0Large, kLines, kGenerators = 6 };

// Spot functions: the order in which pixels of the cell turn black as the
// level falls. Larger values darken first.
double Spot(int generator, double x, double y) {
    switch (generator) {
    case kDot45: {  // two dots per cell, screen at 45 degrees, period 16/sqrt 2
        const double u = (x + y) / 16.0, v = (x - y) / 16.0;
        return std::cos(2 * kPi * u) + std::cos(2 * kPi * v);
    }
    case kDot0Small:  // four dots per cell, 0 degrees, period 8
        return std::cos(2 * kPi * x / 8.0) + std::cos(2 * kPi * y / 8.0);
    case kDot0Large:  // one dot per cell, 0 degrees, period 16
        return std::cos(2 * kPi * x / 16.0) + std::cos(2 * kPi * y / 16.0);
    case kLines:  // horizontal line screen, period 8
        return std::cos(2 * kPi * y / 8.0);
    default:
        return 0;
    }
}

// A cell from one generator, shifted by a phase (different screens of one
// kind differ in where their dots sit). Ranks 0..255 become thresholds
// 1..255 so that level 0 is solid black and 255 solid white.
std::array<uint8_t, 256> MakeCell(int generator, int phase) {
    std::array<int, 256> order;
    std::iota(order.begin(), order.end(), 0);
    // Each pixel's key once (the sort compares many times): centre the pixel
    // and break ties with the Bayer order, so that dots grow evenly. Bayer
    // values are distinct, so the order is total and the sort's result
    // fixed.
    std::array<std::pair<double, int>, 256> keys;
    for (int i = 0; i < 256; ++i) {
        const int x = (i / 16 + phase) % 16, y = (i % 16 + 3 * phase) % 16;
        const double s = generator == kBayer || generator == 5 ? 0.0 : Spot(generator, x + 0.5, y + 0.5);
        keys[static_cast<size_t>(i)] = {-s, BayerIndex(x, y)};
    }
    std::sort(order.begin(), order.end(), [&](int a, int b) { return keys[static_cast<size_t>(a)] < keys[static_cast<size_t>(b)]; });
    std::array<uint8_t, 256> cell{};
    for (int rank = 0; rank < 256; ++rank) cell[order[rank]] = static_cast<uint8_t>(1 + rank * 254 / 255);
    return cell;
}

HalftoneTables Build() {
    HalftoneTables t{};
    // Tone curves: gamma steps around the neutral curve 4; lower numbers
    // print lighter, higher darker. Ends stay at 0 and 255.
    for (int n = 0; n < kToneCurves; ++n) {
        const double gamma = std::pow(2.0, (n - kNeutralCurve) / 4.0);
        for (int g = 0; g < 256; ++g)
            t.curves[n][g] = static_cast<uint8_t>(std::lround(255.0 * std::pow(g / 255.0, gamma)));
    }
    // The cells themselves are made on first use (CellOf): a job needs one.
    for (int screen = 0; screen < kScreens; ++screen)
        for (int res = 0; res < 3; ++res)
            for (int dither = 0; dither < 3; ++dither) {
                int generator;
                if (dither == 0) generator = kBayer;
                else if (dither == 1) generator = screen >= 30 ? kLines : res == 2 ? kDot0Small : kDot45;
                else generator = res == 2 ? kDot45 : kDot0Large;
                t.selector[(screen * 3 + res) * 3 + dither] = static_cast<uint16_t>(generator + kGenerators * screen);
            }
    return t;
}

HalftoneTables& Tables() {
    static HalftoneTables tables = Build();
    return tables;
}

// Cell k, made the first time it is asked for.
const uint8_t* CellOf(size_t k) {
    static std::array<std::once_flag, kThresholdCells> made;
    auto& t = Tables();
    std::call_once(made[k], [&] { t.cells[k] = MakeCell(static_cast<int>(k % kGenerators), static_cast<int>(k / kGenerators)); });
    return t.cells[k].data();
}

}  // namespace

const HalftoneTables& Halftone() {
    for (size_t k = 0; k < kThresholdCells; ++k) CellOf(k);
    return Tables();
}

const uint8_t* ToneCurve(int darkness) {
    const int n = darkness >= 0 && darkness < kToneCurves ? darkness : kNeutralCurve;
    return Tables().curves[n].data();
}

const uint8_t* ThresholdCell(int screen, int resolutionClass, int ditherClass) {
    screen = std::clamp(screen, 0, kScreens - 1);
    resolutionClass = std::clamp(resolutionClass, 0, 2);
    ditherClass = std::clamp(ditherClass, 0, 2);
    return CellOf(Tables().selector[(screen * 3 + resolutionClass) * 3 + ditherClass]);
}

const uint8_t* ThresholdCellFor(const DeviceRecord& r) {
    return ThresholdCell(r.screenIndex, ResolutionClass(r.resolution), r.ditherCode);
}

void DitherLevel(uint8_t level, const uint8_t* cell, Pattern& out) {
    for (int y = 0; y < 32; ++y)
        for (int xb = 0; xb < 4; ++xb) {
            uint8_t byte = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int x = xb * 8 + bit;
                if (level >= cell[(x % 16) * 16 + y % 16]) byte |= static_cast<uint8_t>(0x80 >> bit);
            }
            out[static_cast<size_t>(y * 4 + xb)] = byte;
        }
}

void DitherColour(const DeviceRecord& r, uint32_t rgb, Pattern& out) {
    DitherLevel(ToneCurve(r.darknessLevel)[GreyOf(rgb)], ThresholdCellFor(r), out);
}

int BayerIndex(int x, int y) {
    int v = 0;
    for (int bit = 0; bit < 4; ++bit) {
        const int xb = (x >> bit) & 1, yb = (y >> bit) & 1;
        v |= ((xb ^ yb) << 1 | yb) << (2 * (3 - bit));
    }
    return v;
}

}  // namespace pclrend
