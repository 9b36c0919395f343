// The subcommand table of `zq`.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zq {

using Args = std::vector<std::string>;

struct Command {
    std::string name;     // "printer", "reg", ...
    std::string summary;  // one line for `zq --help`
    std::string usage;    // full text for `zq NAME --help`
    std::function<int(const Args&)> run;  // arguments after the name
};

// Registers at static-initialisation time: `static zq::Registration r{{...}};`
struct Registration {
    explicit Registration(Command command);
};

const std::vector<Command>& Commands();

// A clear one-line error on stderr; returns the exit code to use (2 for a
// usage error, 1 for a failure).
int Fail(std::string_view message, int code = 1);
int UsageError(std::string_view command, std::string_view message);

// A Win32 error in words and by number: "access denied (error 5)"; an
// error this program has no words for is "error N" alone.
std::string ErrorText(unsigned long code);

// What the registry database reported for a failure that came back as
// `code`, and how to go on (a damaged one: move it aside, import an
// export), as lines to add under an error; empty for empty text.
std::string StoreFailureAdvice(std::string_view databaseText, unsigned long code);
// The way back from a damaged registry database.
std::string RecoveryAdvice();

// True when args hold "--help" or "-h".
bool WantsHelp(const Args& args);

// Small option reader: `--name value` and `--flag`.
class Options {
public:
    explicit Options(const Args& args);
    bool Flag(std::string_view name);
    std::optional<std::string> Value(std::string_view name);
    // What was not taken by Flag/Value, in order.
    Args Rest() const;
    // First option that nobody asked for, if any (call after all lookups).
    std::optional<std::string> Unknown() const;

private:
    Args args_;
    std::vector<bool> used_;
};

// A command made of verbs: its usage on --help, else the verb the first
// plain argument names, run with the options; `needs` says which verbs
// there are when none is given.
struct Verb {
    const char* name;
    int (*run)(Options&);
};
int RunVerbs(const Args& args, const char* command, const char* usage, const char* needs,
             std::initializer_list<Verb> verbs);

}  // namespace zq
