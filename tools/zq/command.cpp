#include "command.h"

#include <algorithm>
#include <cstdio>

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
