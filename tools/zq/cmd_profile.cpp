// zq profile: a user's personal profiles of a printer's settings, as the
// document property sheet saves, lists, applies and deletes them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/loader.h"
#include "base/memory.h"
#include "base/text.h"
#include "command.h"
#include "settings/config_data.h"
#include "settings/devmode_ops.h"
#include "settings/module_model_data.h"
#include "settings/printer_devmode.h"
#include "settings/profiles.h"
#include "settings/tag_tables.h"
#include "settings/user_settings.h"
#include "spooler_cli.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace {

constexpr const char* kUsage =
    "usage: zq profile save --printer NAME PROFILE [--description TEXT] [--machine]\n"
    "       zq profile list --printer NAME\n"
    "       zq profile load --printer NAME PROFILE\n"
    "       zq profile delete --printer NAME PROFILE\n\n"
    "save    saves the printer's current document settings under a name, in the\n"
    "        user's list (--machine: the machine's); a profile of that name for the\n"
    "        same model is replaced\n"
    "list    the profiles of the printer's model: the built-in factory defaults, the\n"
    "        installed defaults when a configuration was installed, then the user's\n"
    "        and the machine's profiles\n"
    "load    applies a profile to the user's settings of the printer\n"
    "delete  deletes a saved profile\n\n"
    "PROFILE is a name, an id as list shows it (9:N the user's, 10:N the machine's),\n"
    "or factory or installed. A missing profile library is an error (exit 1).\n";

using zq::cli::PrinterHandle;

struct Profile {
    uint32_t id[4] = {};
    std::string name;
    std::string description;
    std::string model;
};

struct Listing {
    std::vector<Profile> profiles;
};

int Collect(const zq::ProfileEntry* entry, void* data) {
    Profile p;
    std::copy_n(entry->id, 4, p.id);
    p.name = entry->name != nullptr ? entry->name : "";
    p.description = entry->description != nullptr ? entry->description : "";
    p.model = entry->modelName != nullptr ? entry->modelName : "";
    static_cast<Listing*>(data)->profiles.push_back(std::move(p));
    return 0;
}

std::string IdText(const uint32_t id[4]) {
    if (id[0] == 1) return "factory";
    if (id[0] == 2) return "installed";
    return std::to_string(id[0]) + ":" + std::to_string(id[1]);
}

// The printer with its settings and the driver that stands for its model.
struct Session {
    PrinterHandle printer;
    HMODULE drvui = nullptr;
    std::string name;
    std::unique_ptr<zq::PrivateDevmode> record = std::make_unique<zq::PrivateDevmode>();
    ~Session() {
        if (drvui != nullptr) FreeLibrary(drvui);
    }
    std::string Model() const { return std::string(record->modelName, strnlen(record->modelName, 32)); }
};

int Open(const std::string& name, Session& s) {
    s.name = name;
    s.drvui = LoadLibraryA("drvui.dll");
    if (s.drvui == nullptr) return zq::Fail("profile: cannot load drvui: " + zq::LastLoadError());
    std::u16string wide = zq::store::FromUtf8(name);
    if (!OpenPrinterW(wide.data(), &s.printer.h, nullptr)) return zq::Fail("profile: no printer " + name);
    if (zq::GetPrinterDevmode(s.printer.h, s.drvui, *s.record, {}, 2) != 1) {
        return zq::Fail("profile: cannot read the settings of " + name);
    }
    return 0;
}

// Every profile of the printer's model, the built-in ones first.
std::vector<Profile> Profiles(Session& s) {
    Listing listing;
    const uint32_t any[4] = {};
    zq::EnumPersonalProfiles(nullptr, zq::kListBuiltIn | zq::kProfileKindUser | zq::kProfileKindMachine, any,
                             Collect, &listing, static_cast<uint8_t>(s.record->model.dialogSelector & 0xFF),
                             s.printer.h);
    std::vector<Profile> ours;
    for (Profile& p : listing.profiles) {
        if (p.id[0] <= 2 || zq::EqualsIgnoreCase(p.model, s.Model())) ours.push_back(std::move(p));
    }
    return ours;
}

std::optional<Profile> Find(Session& s, const std::string& wanted) {
    for (const Profile& p : Profiles(s)) {
        if (IdText(p.id) == wanted || p.name == wanted) return p;
    }
    return std::nullopt;
}

int Refused(const char* what, uint32_t result) {
    std::fprintf(stderr, "zq: profile: %s answered %u%s\n", what, result,
                 result == zq::kProfileMissing ? ": the profile library or its entry is missing, or nothing came back"
                 : result == zq::kProfileNoLibrary ? ": the profile library or its entry is missing"
                 : result == zq::kProfileEmptyList ? ": the settings exported nothing"
                                                   : "");
    return 1;
}

int Save(zq::Options& opts) {
    const auto printer = opts.Value("--printer");
    const auto description = opts.Value("--description");
    const bool machine = opts.Flag("--machine");
    if (auto bad = opts.Unknown()) return zq::UsageError("profile", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (!printer || rest.size() != 2 || rest[1].empty()) {
        return zq::UsageError("profile", "save takes --printer NAME and a profile name");
    }
    if (rest[1] == "factory" || rest[1] == "installed" || rest[1].find(':') != std::string::npos) {
        return zq::UsageError("profile", "a profile name cannot be factory, installed or contain ':'");
    }
    Session s;
    if (int rc = Open(*printer, s)) return rc;
    const zq::ModuleModelData model(s.drvui);
    uint32_t id[4] = {};
    const std::string name = zq::WideToAnsi(zq::store::FromUtf8(rest[1]));
    const std::string text = zq::WideToAnsi(zq::store::FromUtf8(description.value_or("")));
    const uint32_t result =
        zq::WritePersonalProfile(nullptr, *s.record, machine ? zq::kProfileKindMachine : zq::kProfileKindUser, id,
                                 name.c_str(), text.c_str(), zq::kScopeDocument, s.printer.h, &model);
    if (result != 0) return Refused("WritePerProfile", result);
    std::printf("saved profile %s as %s\n", rest[1].c_str(), IdText(id).c_str());
    return 0;
}

int List(zq::Options& opts) {
    const auto printer = opts.Value("--printer");
    if (auto bad = opts.Unknown()) return zq::UsageError("profile", "unknown option " + *bad);
    if (!printer || opts.Rest().size() != 1) return zq::UsageError("profile", "list takes --printer NAME");
    Session s;
    if (int rc = Open(*printer, s)) return rc;
    for (const Profile& p : Profiles(s)) {
        const char* list = p.id[0] <= 2 ? "built-in" : p.id[0] == zq::kUserProfileList ? "user" : "machine";
        std::string name = p.name;
        if (!name.empty() && name[0] == ' ') name.erase(0, 1);
        std::printf("%-10s %-8s %s%s%s\n", IdText(p.id).c_str(), list, name.c_str(),
                    p.description.empty() ? "" : " - ", p.description.c_str());
    }
    return 0;
}

int Load(zq::Options& opts) {
    const auto printer = opts.Value("--printer");
    if (auto bad = opts.Unknown()) return zq::UsageError("profile", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (!printer || rest.size() != 2) return zq::UsageError("profile", "load takes --printer NAME and a profile");
    Session s;
    if (int rc = Open(*printer, s)) return rc;
    const auto profile = Find(s, rest[1]);
    if (!profile) return zq::Fail("profile: no profile " + rest[1] + " for the model of " + *printer);
    const zq::ModuleModelData model(s.drvui);
    const std::string ansi = zq::WideToAnsi(zq::store::FromUtf8(*printer));
    uint32_t result = 0;
    if (profile->id[0] == 1) {
        // The factory defaults: the document settings of the model's default.
        auto def = std::make_unique<zq::PrivateDevmode>();
        if (!zq::BuildPrinterDefaultDevmode(s.drvui, s.printer.h, *def)) {
            return zq::Fail("profile: cannot read the printer " + *printer);
        }
        HGLOBAL list = nullptr;
        uint32_t length = 0;
        result = zq::DevmodeToTagList(*def, zq::kScopeDocument, &list, &length, ansi, s.printer.h, false, &model);
        if (result == 0) {
            zq::ApplyTagListToDevmode(ansi, {static_cast<const uint8_t*>(list), length}, zq::kScopeDocument,
                                      *s.record, s.printer.h, false, &model);
            GlobalFree(list);
        }
    } else if (profile->id[0] == 2) {
        result = zq::ApplyInstalledDocDefaults(ansi, zq::kScopeDocument, *s.record, s.printer.h, &model);
    } else {
        result = zq::ReadPersonalProfile(ansi.c_str(), profile->id[0], profile->id, zq::kScopeDocument, *s.record,
                                         s.printer.h, &model);
    }
    if (result != 0) return Refused("loading the profile", result);
    s.record->profileKind = 4;
    std::copy_n(profile->id, 4, s.record->profileId);
    zq::SetDevmodeCrc(*s.record);
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(s.record.get()), sizeof *s.record);
    if (!zq::WriteUserValue(s.printer.h, nullptr, u"CurrentDevmode", bytes)) {
        return zq::Fail("profile: cannot store the user's settings of " + *printer);
    }
    std::printf("profile %s (%s) applied to the settings of %s\n", rest[1].c_str(), IdText(profile->id).c_str(),
                printer->c_str());
    return 0;
}

int Delete(zq::Options& opts) {
    const auto printer = opts.Value("--printer");
    if (auto bad = opts.Unknown()) return zq::UsageError("profile", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (!printer || rest.size() != 2) return zq::UsageError("profile", "delete takes --printer NAME and a profile");
    Session s;
    if (int rc = Open(*printer, s)) return rc;
    const auto profile = Find(s, rest[1]);
    if (!profile) return zq::Fail("profile: no profile " + rest[1] + " for the model of " + *printer);
    if (profile->id[0] <= 2) return zq::Fail("profile: the built-in profile " + rest[1] + " cannot be deleted");
    const uint32_t kind = profile->id[0] == zq::kMachineProfileList ? zq::kProfileKindMachine : zq::kProfileKindUser;
    const uint32_t result = zq::DeletePersonalProfile(nullptr, kind, profile->id, nullptr);
    if (result != 0) return Refused("DeletePerProf", result);
    std::printf("deleted profile %s (%s)\n", rest[1].c_str(), IdText(profile->id).c_str());
    return 0;
}

int Run(const zq::Args& args) {
    return zq::RunVerbs(args, "profile", kUsage, "needs save, list, load or delete",
                        {{"save", Save}, {"list", List}, {"load", Load}, {"delete", Delete}});
}

const zq::Registration kRegistration{
    {"profile", "personal profiles of a printer's settings: save, list, load, delete", kUsage, Run}};

}  // namespace
