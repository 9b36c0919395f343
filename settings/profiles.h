// Personal profiles: named sets of document settings a user saves and later
// applies, and the driver configuration files, both kept by the outside
// library profutil. The driver hands it tag lists made from a record and
// takes tag lists back; the library is loaded for every call and freed
// again.
#pragma once

#include <cstdint>
#include <string>

#include "base/types.h"
#include "common/config_requests.h"
#include "settings/devmode.h"
#include "settings/model_data.h"

namespace zq {

inline constexpr char kProfileLibrary[] = "profutil.DLL";

// Results besides the library's own.
constexpr uint32_t kProfileOk = 0;
constexpr uint32_t kProfileMissing = 3;       // library or entry missing; nothing came back
constexpr uint32_t kProfileNoLibrary = 11;    // ReadPersonalProfile: missing, after the warning
constexpr uint32_t kProfileEmptyList = 34;    // the record exported nothing

// The library from the interface driver's own directory (by name when that
// path does not fit 260 characters); null when it cannot be loaded.
HMODULE LoadProfileLibrary();

// Saves the record as a profile; `id` receives the profile's id.
uint32_t WritePersonalProfile(HWND owner, const PrivateDevmode& record, uint32_t kindFlags, uint32_t id[4],
                              const char* name, const char* description, uint32_t scope, HANDLE printer,
                              const ModelData* model);
// Replaces the settings of a profile with the record's.
uint32_t ChangePersonalProfile(HWND owner, const PrivateDevmode& record, uint32_t kindFlags, const uint32_t id[4],
                               const char* name, uint32_t scope, HANDLE printer, const ModelData* model);
// Changes a profile's name and description only.
uint32_t ChangePersonalProfileInfo(HWND owner, const PrivateDevmode& record, const char* name, const uint32_t id[4],
                                   const char* description);
// Applies a profile to the record: 0 applied, 3 nothing came back, 11 the
// library or its entry is missing (after a warning captioned `caption`).
uint32_t ReadPersonalProfile(const char* caption, uint32_t kind, const uint32_t id[4], uint32_t scope,
                             PrivateDevmode& record, HANDLE printer, const ModelData* model);
// Applies a configuration file (printer data updated too): 1 when
// something was imported, 0 when not, -1 after a warning that the library
// or its entry is missing.
int LoadDcdFile(const char* caption, const char* path, const char* description, uint32_t flag, uint32_t scope,
                PrivateDevmode& record, HANDLE printer, const ModelData* model);

constexpr uint32_t kListBuiltIn = 0x4;  // list flags: the two built-in entries first
// Reports profiles to the callback: with kListBuiltIn first the factory
// defaults and (when the printer has "DCD_InstalledDocDefaults") the
// installed defaults, then the user's (0x1) and the machine's (0x2) lists.
// An id that is not all zero asks for that one profile. The last callback
// result, 3 when none was called.
int EnumPersonalProfiles(HWND owner, uint32_t listFlags, const uint32_t id[4], ProfileCallback callback,
                         void* userData, uint8_t dialogSelector, HANDLE printer);
uint32_t DeletePersonalProfile(HWND owner, uint32_t kindFlags, const uint32_t id[4], const void* argument);

}  // namespace zq
