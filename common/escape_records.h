// Records of the renderer's private escapes, shared by the renderer, the
// interface driver and the finishing library. Little-endian, byte-exact.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq::esc {

// Escape codes.
inline constexpr uint32_t kQueryEscSupport = 8;
inline constexpr uint32_t kSetCopyCount = 17;
inline constexpr uint32_t kPassthrough = 19;
inline constexpr uint32_t kGetTechnology = 20;
inline constexpr uint32_t kOverlayAtStart = 5000;
inline constexpr uint32_t kOverlayAtStartDone = 5001;
inline constexpr uint32_t kOverlayAtEnd = 5002;
inline constexpr uint32_t kOverlayAtEndDone = 5003;
inline constexpr uint32_t kFrameAtStart = 5004;
inline constexpr uint32_t kFrameAtStartDone = 5005;
inline constexpr uint32_t kFrameAtEnd = 5006;
inline constexpr uint32_t kFrameAtEndDone = 5007;
inline constexpr uint32_t kDriverLevel = 5008;
inline constexpr uint32_t kSetEscapeFlag = 5009;
inline constexpr uint32_t kWantsFaceNames = 5010;
inline constexpr uint32_t kFaceNames = 5011;
inline constexpr uint32_t kRecordImage = 5012;
inline constexpr uint32_t kJobDevmode = 5013;
inline constexpr uint32_t kCancelJob = 5014;
inline constexpr uint32_t kControlRecords = 5015;
inline constexpr uint32_t kAttachControlRecords = 5016;
inline constexpr uint32_t kSetNetConvert = 5017;
inline constexpr uint32_t kGetNetConvert = 5018;
inline constexpr uint32_t kIsStreamLanguage = 5019;
inline constexpr uint32_t kOutputOptions = 5020;
inline constexpr uint32_t kAcknowledge = 5021;
inline constexpr uint32_t kPageGeometry = 16376;
inline constexpr uint32_t kNormalisePage = 16377;
inline constexpr uint32_t kBlankPageNext = 16378;
inline constexpr uint32_t kSamePageSetup = 16379;
inline constexpr uint32_t kMergePages = 16380;
inline constexpr uint32_t kFirstDevmode = 16381;
inline constexpr uint32_t kSameDevmodeSetup = 16382;
inline constexpr uint32_t kPageGeometryOther = 16383;
inline constexpr uint32_t kManualDuplexQuery = 0x7FFFFFF8;
inline constexpr uint32_t kInstructionPage = 0x7FFFFFF7;
inline constexpr uint32_t kBlockAndNewPage = 0x7FFFFFF6;

inline constexpr uint32_t kDriverLevelValue = 566;
inline constexpr size_t kFaceNameSize = 64;

#pragma pack(push, 1)

// Output of 5000, 5002, 5004 and 5006.
struct DrawRequest {
    uint16_t kind;  // 0: nothing to draw
    uint16_t unused1;
    uint32_t halfWidth, halfHeight;
    uint16_t resolution;
    uint16_t unused2;
    uint32_t zero[2];
    uint32_t width, height;  // printable, pixels
    float scale;             // 2.56
};
static_assert(sizeof(DrawRequest) == 36);
static_assert(offsetof(DrawRequest, resolution) == 12);
static_assert(offsetof(DrawRequest, width) == 24);
static_assert(offsetof(DrawRequest, scale) == 32);

// Output of 16376 and 16383.
struct PageGeometry {
    uint32_t value[6];  // two sizes, left, top, right and bottom (inclusive)
    int32_t defaultSource;
    uint32_t resolution;
};
static_assert(sizeof(PageGeometry) == 32);

// Output of 0x7FFFFFF8.
struct ManualDuplexAnswer {
    uint32_t resolution, width, height, separatePages;
};
static_assert(sizeof(ManualDuplexAnswer) == 16);

#pragma pack(pop)

}  // namespace zq::esc
