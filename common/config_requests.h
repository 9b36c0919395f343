// The records the driver exchanges with an outside configuration tool (the
// configuration exports of drvui) and with the personal-profile library
// (profutil). They carry pointers and stay in the process, so they are plain
// structs with native pointers; only the support record, which carries
// none, keeps a fixed layout. Sizes are checked with sizeof.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/types.h"

namespace zq {

// What every record tells the other side about the driver, in this order.
inline constexpr uint32_t kDriverDataWords[5] = {128, 1, 2, 7, 5};
inline constexpr char kDriverVersionText[] = "1.0.0.23";
inline constexpr uint32_t kDriverDataMarker = 0x10001;

struct DriverData {
    uint32_t words[5] = {128, 1, 2, 7, 5};
    uint32_t zero[2] = {0, 0};
    const char* version = kDriverVersionText;
    uint32_t marker = kDriverDataMarker;
};

// ConvertPrtIntoDCD's object: the caller fills size, state, the record, its
// size, the scope and the printer name; the driver fills the rest. The tag
// list is a global block (fixed, so the handle is the address) that the
// caller frees.
struct PrinterObject {
    uint32_t size;
    uint32_t state;
    const void* record;
    uint32_t recordSize;
    uint32_t scope;
    char printerName[1024];
    char modelText[512];
    uint32_t driverWords[5];
    uint32_t zero[2];
    char version[128];
    HGLOBAL list;
    uint32_t listLength;
    uint32_t marker;
};

// Cfi2DrvForceDCDIntoPrtObj's request. The three flag fields must carry
// 0x80, 0x1 and 0x2 for the list to be applied.
struct DrvCfgRequest {
    uint32_t size;
    uint32_t state;
    const char* printerName;
    const char* modelName;
    const void* record;     // optional: a DEVMODE merged into the printer's record first
    uint32_t scope;
    const char* description;
    uint8_t flags8;
    uint32_t flags1;
    uint32_t flags2;
    const void* list;
    uint32_t listLength;
};
inline constexpr uint8_t kDrvCfgFlags8 = 0x80;
inline constexpr uint32_t kDrvCfgFlags1 = 0x1;
inline constexpr uint32_t kDrvCfgFlags2 = 0x2;

// EnumDrvCfgSupport's record: no pointers, a fixed layout.
struct DrvCfgSupport {
    uint32_t wantPrinterTest;
    uint32_t version;
    uint32_t words[3];
    char versionText[128];
    uint32_t words2[2];
    uint32_t zero[2];
    uint32_t capabilities;      // 164
    uint32_t capabilities2;     // 168
    uint32_t printerState;      // 172
    uint32_t vendorKind;        // 176: 1 no model name, 2 the maker's, 3 another's
    char printerName[512];      // 180
    char modelName[512];        // 692
};
static_assert(offsetof(DrvCfgSupport, versionText) == 20);
static_assert(offsetof(DrvCfgSupport, words2) == 148);
static_assert(offsetof(DrvCfgSupport, capabilities) == 164);
static_assert(offsetof(DrvCfgSupport, capabilities2) == 168);
static_assert(offsetof(DrvCfgSupport, printerState) == 172);
static_assert(offsetof(DrvCfgSupport, vendorKind) == 176);
static_assert(offsetof(DrvCfgSupport, printerName) == 180);
static_assert(offsetof(DrvCfgSupport, modelName) == 692);

// EnumSpecificDrvCfgCallBack: a stored configuration offered by the tool,
// and the caller's record of what matched.
struct DrvCfgCandidate {
    uint32_t size;
    uint32_t state;
    uint8_t flags8;
    uint32_t flags1;
    uint32_t flags2;
    uint32_t value;
    const char* modelName;
    const char* description;
};
struct DrvCfgMatch {
    const void* record;  // a PrivateDevmode
    uint32_t found;
};

// Personal profiles. Ids are four words; the first is the id's kind: 1 the
// factory defaults, 2 the installed defaults, 9 or 10 a profile of that
// list (9 the user's, 10 the machine's).
constexpr uint32_t kUserProfileList = 9;
constexpr uint32_t kMachineProfileList = 10;
constexpr uint32_t kProfileKindUser = 0x1;     // kind flags: the user's list
constexpr uint32_t kProfileKindMachine = 0x2;  // the machine's list
constexpr uint32_t kProfileDelete = 0x8;
constexpr uint32_t kChangeSettingsMask = 8188;
constexpr uint32_t kChangeInformationMask = 15484;

struct WriteProfileRequest {
    uint32_t size;
    uint32_t state;
    HWND owner;
    uint32_t kindFlags;
    uint32_t id[4];  // in/out
    DriverData driver;
    const char* modelName;
    const char* modelText;
    const char* name;
    const char* description;
    const void* list;
    uint32_t listLength;
};

struct ChangeProfileRequest {
    uint32_t size;
    uint32_t state;
    HWND owner;
    uint32_t two;
    uint32_t kindFlags;
    uint32_t id[4];
    const char* name;
    const char* description;
    uint32_t fieldMask;  // kChangeSettingsMask or kChangeInformationMask
    DriverData driver;
    const char* modelName;
    const char* modelText;
    const void* list;
    uint32_t listLength;
};

struct GetProfileRequest {
    uint32_t size;
    uint32_t state;
    const char* caption;
    uint32_t kind;
    uint32_t id[4];
    void* buffer;
    uint32_t bufferSize;  // 0: the library fills in the size it needs
};

struct GetDcdRequest {
    uint32_t size;
    uint32_t state;
    const char* path;
    const char* description;
    uint32_t flag;
    void* buffer;
    uint32_t bufferSize;
};

struct DeleteProfileRequest {
    uint32_t size;
    uint32_t state;
    uint32_t two;
    uint32_t kindFlags;
    uint32_t id[4];
    const void* argument;
};

// One profile as the enumerations report it.
struct ProfileEntry {
    uint32_t size;
    uint32_t state;
    uint32_t four;
    uint32_t idKind;
    uint32_t id[4];
    DriverData driver;
    const char* name;
    const char* description;
    const char* modelName;
};
using ProfileCallback = int (*)(const ProfileEntry* entry, void* userData);

struct EnumProfilesRequest {
    uint32_t size;
    uint32_t state;
    HWND owner;
    uint32_t list;  // 9 or 10
    ProfileCallback callback;
    void* userData;
};

struct EnumSpecificProfileRequest {
    uint32_t size;
    uint32_t state;
    uint32_t list;
    uint32_t id[4];
    const void* argument;
    ProfileCallback callback;
    void* userData;
};

}  // namespace zq
