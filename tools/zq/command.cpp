#include "command.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "spooler_cli.h"
#include "store/admin.h"

namespace zq {

namespace {
std::vector<Command>& Table() {
    static std::vector<Command> table;
    return table;
}
}  // namespace

Registration::Registration(Command command) {
    auto& table = Table();
    table.push_back(std::move(command));
    std::sort(table.begin(), table.end(), [](const Command& a, const Command& b) { return a.name < b.name; });
}

const std::vector<Command>& Commands() { return Table(); }

int Fail(std::string_view message, int code) {
    std::fprintf(stderr, "zq: %.*s\n", static_cast<int>(message.size()), message.data());
    return code;
}

std::string ErrorText(unsigned long code) {
    // The errors the spooler, the registry, the engine and the driver report.
    static const struct {
        unsigned long code;
        const char* words;
    } kWords[] = {
        {2, "file not found"},
        {3, "path not found"},
        {5, "access denied"},
        {6, "invalid handle"},
        {8, "not enough memory"},
        {13, "invalid data"},
        {14, "out of memory"},
        {62, "no space to spool the job"},
        {63, "the job was cancelled"},
        {87, "invalid parameter"},
        {112, "the disk is full"},
        {119, "the driver does not support this level or version"},
        {120, "not implemented"},
        {122, "buffer too small"},
        {123, "invalid name"},
        {124, "invalid level"},
        {126, "module not found"},
        {127, "procedure not found"},
        {183, "already exists"},
        {1009, "the registry database is damaged"},
        {1011, "the registry database cannot be opened"},
        {1012, "the registry database cannot be read"},
        {1013, "the registry database cannot be written"},
        {1067, "the process writing the job ended before the job did"},
        {1223, "cancelled"},
        {1796, "unknown port"},
        {1797, "unknown printer driver"},
        {1798, "unknown print processor"},
        {1801, "invalid printer name"},
        {1802, "the printer already exists"},
        {1804, "invalid datatype"},
        {1805, "invalid environment"},
        {1902, "invalid form name"},
        {1903, "invalid form size"},
        {1906, "the printer is busy with another job"},
        {2000, "the driver refuses this bitmap format"},
        {3000, "unknown print monitor"},
        {3001, "the printer driver is in use"},
        {3003, "no document was started"},
        {3005, "the print processor is already installed"},
        {3006, "the print monitor is already installed"},
        {3012, "printer not found"},
    };
    if (code == 0) return "the failing call gave no error code";
    for (const auto& w : kWords)
        if (w.code == code) return std::string(w.words) + " (error " + std::to_string(code) + ")";
    return "error " + std::to_string(code);
}

std::string StoreFailureAdvice(std::string_view databaseText, unsigned long code) {
    if (databaseText.empty()) return {};
    std::string out = std::string("\n  ") + std::string(databaseText);
    if (code == 112) return out + "\n  free space on the disk of the system root ($ZQ_ROOT) and try again";
    if (code == 5) return out + "\n  the system root ($ZQ_ROOT) must be writable";
    if (code != 1009)
        out += "\n  check that the disk of the system root ($ZQ_ROOT) has space and that the root is writable;";
    return out + RecoveryAdvice();
}

std::string RecoveryAdvice() {
    return "\n  to recover a damaged database: move it aside (the next command makes a fresh one) and, if a"
           "\n  REGEDIT4 export of it exists (zq reg export), import it into the fresh root with: zq reg import FILE";
}

namespace cli {
std::optional<std::vector<uint8_t>> ReadDevmodeFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::vector<uint8_t> devmode((std::istreambuf_iterator<char>(in)), {});
    DEVMODEW head{};
    if (devmode.size() >= sizeof head) std::memcpy(&head, devmode.data(), sizeof head);
    if (devmode.size() < sizeof head || head.dmSize < offsetof(DEVMODEW, dmFields) + sizeof head.dmFields ||
        static_cast<size_t>(head.dmSize) + head.dmDriverExtra != devmode.size()) {
        error = path + " is no DEVMODE (its sizes do not match its " + std::to_string(devmode.size()) + " bytes)";
        return std::nullopt;
    }
    return devmode;
}

int FailWithError(std::string_view command, std::string_view what, DWORD code) {
    std::string message = std::string(command) + ": " + std::string(what) + ": " + ErrorText(code);
    // The database's own words, and the way back, when the database failed.
    message += StoreFailureAdvice(store::LastStoreFailure(code), code);
    return Fail(message);
}
}  // namespace cli

int UsageError(std::string_view command, std::string_view message) {
    std::fprintf(stderr, "zq %.*s: %.*s (see zq %.*s --help)\n", static_cast<int>(command.size()), command.data(),
                 static_cast<int>(message.size()), message.data(), static_cast<int>(command.size()),
                 command.data());
    return 2;
}

bool WantsHelp(const Args& args) {
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

Options::Options(const Args& args) : args_(args), used_(args.size(), false) {}

int RunVerbs(const Args& args, const char* command, const char* usage, const char* needs,
             std::initializer_list<Verb> verbs) {
    if (WantsHelp(args)) {
        std::printf("%s", usage);
        return 0;
    }
    Options opts(args);
    const auto rest = opts.Rest();
    if (rest.empty()) return UsageError(command, needs);
    for (const Verb& v : verbs)
        if (rest[0] == v.name) return v.run(opts);
    return UsageError(command, "unknown verb " + rest[0]);
}

bool Options::Flag(std::string_view name) {
    for (size_t i = 0; i < args_.size(); ++i) {
        if (!used_[i] && args_[i] == name) {
            used_[i] = true;
            return true;
        }
    }
    return false;
}

std::optional<std::string> Options::Value(std::string_view name) {
    for (size_t i = 0; i < args_.size(); ++i) {
        if (used_[i]) continue;
        if (args_[i] == name && i + 1 < args_.size()) {
            used_[i] = used_[i + 1] = true;
            return args_[i + 1];
        }
        std::string prefix = std::string(name) + "=";
        if (args_[i].rfind(prefix, 0) == 0) {
            used_[i] = true;
            return args_[i].substr(prefix.size());
        }
    }
    return std::nullopt;
}

Args Options::Rest() const {
    Args rest;
    for (size_t i = 0; i < args_.size(); ++i)
        if (!used_[i]) rest.push_back(args_[i]);
    return rest;
}

std::optional<std::string> Options::Unknown() const {
    for (size_t i = 0; i < args_.size(); ++i)
        if (!used_[i] && args_[i].size() > 1 && args_[i][0] == '-') return args_[i];
    return std::nullopt;
}

}  // namespace zq
