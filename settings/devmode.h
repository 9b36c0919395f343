// The private DEVMODE: the 1256-byte settings record that the interface
// driver builds, merges and stores, the dialogs edit and the renderer copies
// its job settings from. A wide DEVMODE (220 bytes) followed by 1036 bytes of
// driver-private data, little-endian throughout.
//
// This header is the one layout of the record, shared by the settings model,
// the renderer and the dialogs; it holds no behaviour beyond the layout.
// Fields whose meaning belongs to their readers keep the name of their offset.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "base/types.h"

namespace zq {

static_assert(std::endian::native == std::endian::little,
              "the record is stored little-endian and read in place");

constexpr size_t kPrivateDevmodeSize = 1256;
constexpr uint16_t kPublicDevmodeSize = 220;
constexpr uint16_t kDriverExtraSize = 1036;
constexpr uint16_t kPrivateDevmodeVersion = 566;
constexpr uint32_t kPrivateDevmodeSignature = 0xBC97A4E2;
constexpr uint16_t kDriverVersion = 0x1400;
constexpr uint32_t kDefaultDevmodeFields = 0x04007703;

// Bytes 64-219 are guarded by the check value at 1224.
constexpr size_t kCheckedRangeStart = 64;
constexpr size_t kCheckedRangeSize = 156;

// The model's description as stored in resource type 260 and copied into the
// record at 340-421. Words not named here are model data nobody reads.
struct ModelRecord {
    WORD memoryMegabytes;       // 340: copied to 434
    WORD word342;               // 342
    WORD words344[3];           // 344-349
    WORD printRate;             // 350: pages per minute
    WORD fontListId;            // 352: id - 1 of the resident-font list (type 265)
    WORD paperTableRow;         // 354: row of the model paper table
    WORD sourceTableId;         // 356: id - 1 of the paper-source table (type 259)
    WORD resolutionTableId;     // 358: id - 1 of the resolution table (type 261)
    WORD languageId;            // 360: id - 1 of type 262
    WORD optionId;              // 362: id - 1 of types 263 and 284
    WORD pairTableId;           // 364: id - 1 of type 264
    WORD slotTableId;           // 366: id - 1 of type 266
    WORD installableId;         // 368: id - 1 of type 274
    WORD id275;                 // 370: id - 1 of type 275
    WORD word372;               // 372
    WORD id270;                 // 374: id - 1 of type 270
    WORD word376;               // 376
    WORD id272;                 // 378: id - 1 of type 272
    WORD codePageId;            // 380: id - 1 of the code-page list (type 276)
    WORD trayTableId;           // 382: id - 1 of type 277
    WORD binTableId;            // 384: id - 1 of type 278
    WORD paperLimitsId;         // 386: id - 1 of the custom-paper limits (type 279)
    WORD word388;               // 388
    WORD id286;                 // 390: id - 1 of type 286
    WORD flags392;              // 392: TrueType, double-byte fonts, CJK switch
    WORD flags394;              // 394: printer-scope rows, account tracking, not colour
    WORD flags396;              // 396: collation, finisher, duplex options, custom range
    WORD flags398;              // 398: duplex default, envelope orientation
    WORD flags400;              // 400: colour (0x08); byte 401 bit 0 PCL XL
    WORD word402;               // 402: 2 sets byte 460
    WORD word404;               // 404
    BYTE halftoneScreen;        // 406
    BYTE byte407;               // 407
    WORD modelCode;             // 408: 255 = none
    WORD pageListId;            // 410: id - 1 of the page list (type 281)
    WORD webPrinterCode;        // 412
    WORD controlTableId;        // 414: id - 1 of the control table (type 283)
    WORD dialogSelector;        // 416: 0-45, low byte chooses the dialog library
    WORD words418[2];           // 418-421
};
static_assert(sizeof(ModelRecord) == 82);
static_assert(offsetof(ModelRecord, paperTableRow) == 354 - 340);
static_assert(offsetof(ModelRecord, installableId) == 368 - 340);
static_assert(offsetof(ModelRecord, codePageId) == 380 - 340);
static_assert(offsetof(ModelRecord, paperLimitsId) == 386 - 340);
static_assert(offsetof(ModelRecord, id286) == 390 - 340);
static_assert(offsetof(ModelRecord, flags392) == 392 - 340);
static_assert(offsetof(ModelRecord, flags400) == 400 - 340);
static_assert(offsetof(ModelRecord, halftoneScreen) == 406 - 340);
static_assert(offsetof(ModelRecord, modelCode) == 408 - 340);
static_assert(offsetof(ModelRecord, dialogSelector) == 416 - 340);

// One paper format as the paper format computation answers it (27 words):
// ten values in device units for the paper asked, then the paper used.
struct PaperFormat {
    WORD paperCodeAsked;
    WORD orientation;
    WORD width;
    WORD length;
    WORD printableWidth;
    WORD printableLength;
    WORD leftMargin;
    WORD topMargin;
    WORD secondLeftMargin;
    WORD secondTopMargin;
    WORD secondPrintableWidth;
    WORD secondPrintableLength;
    WORD paperCodeUsed;
    WORD orientationCode;
    WORD usedWidth;
    WORD usedLength;
    WORD usedPrintableWidth;
    WORD usedPrintableLength;
    WORD usedLeftMargin;
    WORD usedTopMargin;
    WORD printableWidth720;   // 1/720 inch
    WORD printableLength720;  // 1/720 inch
    WORD usedSecondLeftMargin;
    WORD usedSecondTopMargin;
    WORD usedSecondPrintableWidth;
    WORD usedSecondPrintableLength;
    WORD flags;
};
static_assert(sizeof(PaperFormat) == 54);

struct PrivateDevmode {
    DEVMODEW dm;                      // 0-219
    DWORD signature1;                 // 220
    BYTE switch224;                   // 224
    BYTE switch225;                   // 225
    BYTE nonCjkSwitch;                // 226: 1 unless the ANSI code page is 932/936/949/950
    BYTE metaSpool;                   // 227: three-way 0-2
    BYTE metaSpoolResolved;           // 228: 0xFF undecided
    BYTE printerLanguage;             // 229: graphics mode, 4 = host-finishing stream
    BYTE darknessLevel;               // 230
    BYTE option231;                   // 231: types 263/284
    BYTE resolutionFeature;           // 232: allowed while the resolution's flag is set
    BYTE pairFirst;                   // 233: type 264 pair
    BYTE pairSecond;                  // 234
    BYTE colourOption235;             // 235
    BYTE option236;                   // 236
    BYTE rotated237;                  // 237
    BYTE option238;                   // 238
    char modelName[32];               // 239: driver name, ANSI
    char printerName[32];             // 271: printer name without server part, ANSI
    BYTE option303;                   // 303
    WORD privateVersion;              // 304: 566
    BYTE option306;                   // 306
    BYTE reserved307;
    char modelDisplayName[32];        // 308: string 10000 + model index
    ModelRecord model;                // 340-421
    WORD reserved422;
    DWORD signature2;                 // 424
    WORD languageValue428;            // 428: type 262 (+2)
    WORD languageValue430;            // 430: type 262 (+4)
    BYTE graphicsModeResolved;        // 432: 0xFF undecided
    BYTE reserved433;
    WORD memoryMegabytes;             // 434
    WORD resolutions[5];              // 436-445: high, medium, low, draft, fifth
    WORD defaultResolution;           // 446
    BYTE option448;                   // 448: 0-16
    BYTE option449;                   // 449
    BYTE option450;                   // 450
    BYTE option451;                   // 451
    BYTE option452;                   // 452
    BYTE switch453;                   // 453
    BYTE option454;                   // 454
    BYTE reserved455;
    WORD jobHeaderFlags;              // 456
    BYTE switch458;                   // 458
    BYTE duplexOptions;               // 459: two bits
    BYTE count460;                    // 460
    BYTE count461;                    // 461
    WORD installedSourceMask;         // 462
    WORD installedOptions;            // 464
    BYTE overlaySwitch;               // 466: odd pages use the first overlay
    BYTE overlayAtPageStart;          // 467
    char overlayName1[64];            // 468
    char overlayName2[64];            // 532
    WORD macroIds[3];                 // 596-601
    BYTE option602;                   // 602
    BYTE switch603;                   // 603
    BYTE switch604;                   // 604
    BYTE pagesPerSheet;               // 605: code 0-7
    WORD slotSourceCodes[11];         // 606: paper-source code per slot
    BYTE slotCodes[11];               // 628
    BYTE slotValues[11];              // 639
    BYTE printerCopies;               // 650
    BYTE option651;                   // 651
    BYTE swEnable;                    // 652: printer data "SWEnable"
    BYTE option653;                   // 653
    BYTE adjustSelector;              // 654: selector of the first adjustment group
    BYTE option655;                   // 655
    BYTE option656;                   // 656
    BYTE option657;                   // 657
    BYTE adjustments[11];             // 658-668: levels at 660, 664, 668 (neutral 10)
    BYTE option669;                   // 669
    BYTE option670;                   // 670
    BYTE watermarkPlacement;          // 671
    BYTE watermarkFlag;               // 672
    BYTE watermarkId1;                // 673
    BYTE watermarkId2;                // 674
    char userPaperOverlay1[64];       // 675
    char userPaperOverlay2[64];       // 739
    BYTE reserved803;
    WORD userPaperWord804;            // 804
    WORD userPaperWord806;            // 806
    BYTE userPaperSettings[7];        // 808-814
    BYTE reserved815;
    DWORD fontSets1;                  // 816
    DWORD fontSets2;                  // 820
    char text824[25];                 // 824
    char pin849[5];                   // 849: four digits and NUL
    PaperFormat paperFormats[4];      // 854, 908, 962, 1016
    WORD reserved1070;
    DWORD availableMemory;            // 1072
    BYTE manualDuplex;                // 1076: 0x80 manual duplex with instructions
    BYTE reversePageOrder;            // 1077
    BYTE option1078;                  // 1078
    BYTE option1079;                  // 1079
    BYTE switch1080;                  // 1080
    BYTE option1081;                  // 1081
    BYTE option1082;                  // 1082
    BYTE switch1083;                  // 1083
    DWORD number1084;                 // 1084
    BYTE option1088;                  // 1088
    BYTE separatePages;               // 1089
    BYTE switch1090;                  // 1090
    BYTE number1091;                  // 1091
    BYTE mediaByte;                   // 1092
    BYTE option1093;                  // 1093
    BYTE option1094;                  // 1094
    BYTE reserved1095;
    SHORT secondPaper;                // 1096
    WORD reserved1098;
    DWORD profileKind;                // 1100
    BYTE collateAllowed;              // 1104
    BYTE reserved1105[3];
    DWORD profileId[4];               // 1108-1123
    BYTE accountTracking;             // 1124
    char accountId[17];               // 1125
    char computerName[41];            // 1142
    char userName[41];                // 1183
    WORD checkValue;                  // 1224
    BYTE switch1226;                  // 1226
    BYTE cjkSwitch;                   // 1227
    BYTE option1228;                  // 1228
    BYTE option1229;                  // 1229
    BYTE options1230[3];              // 1230-1232
    BYTE switch1233;                  // 1233
    BYTE switch1234;                  // 1234
    BYTE switch1235;                  // 1235
    BYTE switch1236;                  // 1236
    BYTE switch1237;                  // 1237
    BYTE switch1238;                  // 1238
    BYTE switch1239;                  // 1239
    BYTE option1240;                  // 1240
    BYTE option1241;                  // 1241
    BYTE option1242;                  // 1242
    BYTE switch1243;                  // 1243
    BYTE options1244[5];              // 1244-1248
    BYTE reserved1249[3];
    DWORD signature3;                 // 1252
};

static_assert(sizeof(PrivateDevmode) == kPrivateDevmodeSize);
static_assert(offsetof(PrivateDevmode, dm.dmSpecVersion) == 64);
static_assert(offsetof(PrivateDevmode, dm.dmSize) == 68);
static_assert(offsetof(PrivateDevmode, dm.dmDriverExtra) == 70);
static_assert(offsetof(PrivateDevmode, dm.dmFields) == 72);
static_assert(offsetof(PrivateDevmode, dm.dmPaperSize) == 78);
static_assert(offsetof(PrivateDevmode, dm.dmCopies) == 86);
static_assert(offsetof(PrivateDevmode, dm.dmDefaultSource) == 88);
static_assert(offsetof(PrivateDevmode, dm.dmDuplex) == 94);
static_assert(offsetof(PrivateDevmode, dm.dmTTOption) == 98);
static_assert(offsetof(PrivateDevmode, dm.dmICMMethod) == 188);
static_assert(offsetof(PrivateDevmode, dm.dmMediaType) == 196);
static_assert(offsetof(PrivateDevmode, signature1) == 220);
static_assert(offsetof(PrivateDevmode, printerLanguage) == 229);
static_assert(offsetof(PrivateDevmode, option238) == 238);
static_assert(offsetof(PrivateDevmode, modelName) == 239);
static_assert(offsetof(PrivateDevmode, printerName) == 271);
static_assert(offsetof(PrivateDevmode, option303) == 303);
static_assert(offsetof(PrivateDevmode, privateVersion) == 304);
static_assert(offsetof(PrivateDevmode, option306) == 306);
static_assert(offsetof(PrivateDevmode, modelDisplayName) == 308);
static_assert(offsetof(PrivateDevmode, model) == 340);
static_assert(offsetof(PrivateDevmode, signature2) == 424);
static_assert(offsetof(PrivateDevmode, languageValue428) == 428);
static_assert(offsetof(PrivateDevmode, graphicsModeResolved) == 432);
static_assert(offsetof(PrivateDevmode, memoryMegabytes) == 434);
static_assert(offsetof(PrivateDevmode, resolutions) == 436);
static_assert(offsetof(PrivateDevmode, defaultResolution) == 446);
static_assert(offsetof(PrivateDevmode, option448) == 448);
static_assert(offsetof(PrivateDevmode, option454) == 454);
static_assert(offsetof(PrivateDevmode, jobHeaderFlags) == 456);
static_assert(offsetof(PrivateDevmode, switch458) == 458);
static_assert(offsetof(PrivateDevmode, installedSourceMask) == 462);
static_assert(offsetof(PrivateDevmode, installedOptions) == 464);
static_assert(offsetof(PrivateDevmode, overlaySwitch) == 466);
static_assert(offsetof(PrivateDevmode, overlayName1) == 468);
static_assert(offsetof(PrivateDevmode, overlayName2) == 532);
static_assert(offsetof(PrivateDevmode, macroIds) == 596);
static_assert(offsetof(PrivateDevmode, option602) == 602);
static_assert(offsetof(PrivateDevmode, pagesPerSheet) == 605);
static_assert(offsetof(PrivateDevmode, slotSourceCodes) == 606);
static_assert(offsetof(PrivateDevmode, slotCodes) == 628);
static_assert(offsetof(PrivateDevmode, slotValues) == 639);
static_assert(offsetof(PrivateDevmode, printerCopies) == 650);
static_assert(offsetof(PrivateDevmode, swEnable) == 652);
static_assert(offsetof(PrivateDevmode, adjustSelector) == 654);
static_assert(offsetof(PrivateDevmode, adjustments) == 658);
static_assert(offsetof(PrivateDevmode, option669) == 669);
static_assert(offsetof(PrivateDevmode, watermarkId2) == 674);
static_assert(offsetof(PrivateDevmode, userPaperOverlay1) == 675);
static_assert(offsetof(PrivateDevmode, userPaperOverlay2) == 739);
static_assert(offsetof(PrivateDevmode, userPaperWord804) == 804);
static_assert(offsetof(PrivateDevmode, userPaperSettings) == 808);
static_assert(offsetof(PrivateDevmode, fontSets1) == 816);
static_assert(offsetof(PrivateDevmode, fontSets2) == 820);
static_assert(offsetof(PrivateDevmode, text824) == 824);
static_assert(offsetof(PrivateDevmode, pin849) == 849);
static_assert(offsetof(PrivateDevmode, paperFormats) == 854);
static_assert(offsetof(PrivateDevmode, paperFormats[1]) == 908);
static_assert(offsetof(PrivateDevmode, paperFormats[2]) == 962);
static_assert(offsetof(PrivateDevmode, paperFormats[3]) == 1016);
static_assert(offsetof(PrivateDevmode, availableMemory) == 1072);
static_assert(offsetof(PrivateDevmode, manualDuplex) == 1076);
static_assert(offsetof(PrivateDevmode, number1084) == 1084);
static_assert(offsetof(PrivateDevmode, option1088) == 1088);
static_assert(offsetof(PrivateDevmode, separatePages) == 1089);
static_assert(offsetof(PrivateDevmode, mediaByte) == 1092);
static_assert(offsetof(PrivateDevmode, option1094) == 1094);
static_assert(offsetof(PrivateDevmode, secondPaper) == 1096);
static_assert(offsetof(PrivateDevmode, profileKind) == 1100);
static_assert(offsetof(PrivateDevmode, collateAllowed) == 1104);
static_assert(offsetof(PrivateDevmode, profileId) == 1108);
static_assert(offsetof(PrivateDevmode, accountTracking) == 1124);
static_assert(offsetof(PrivateDevmode, accountId) == 1125);
static_assert(offsetof(PrivateDevmode, computerName) == 1142);
static_assert(offsetof(PrivateDevmode, userName) == 1183);
static_assert(offsetof(PrivateDevmode, checkValue) == 1224);
static_assert(offsetof(PrivateDevmode, switch1226) == 1226);
static_assert(offsetof(PrivateDevmode, cjkSwitch) == 1227);
static_assert(offsetof(PrivateDevmode, options1230) == 1230);
static_assert(offsetof(PrivateDevmode, switch1238) == 1238);
static_assert(offsetof(PrivateDevmode, switch1243) == 1243);
static_assert(offsetof(PrivateDevmode, options1244) == 1244);
static_assert(offsetof(PrivateDevmode, signature3) == 1252);

// Model tests that several readers share.
constexpr bool IsColourModel(const ModelRecord& m) {
    return (m.flags400 & 0x08) != 0 && (m.flags394 & 0x20) == 0;
}

}  // namespace zq
