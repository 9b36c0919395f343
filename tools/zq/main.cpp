// zq: the package's own command. It plays the parts that lie outside the
// package (spooler administration, the printing application, the engine that
// drives the renderer) and inspects what the package produced.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "command.h"

namespace {

void PrintHelp() {
    std::printf("usage: zq COMMAND [ARGS...]\n\n"
                "The system root is $ZQ_ROOT (default .zqroot in the working directory).\n\n"
                "commands:\n");
    for (const auto& c : zq::Commands()) std::printf("  %-12s %s\n", c.name.c_str(), c.summary.c_str());
    std::printf("\nzq COMMAND --help shows a command's own usage.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        PrintHelp();
        return argc < 2 ? 2 : 0;
    }
    zq::Args args(argv + 2, argv + argc);
    for (const auto& c : zq::Commands()) {
        if (c.name == argv[1]) {
            if (zq::WantsHelp(args) && args.size() == 1) {
                std::printf("%s", c.usage.c_str());
                return 0;
            }
            // A failure no subcommand reported itself still names its cause.
            try {
                return c.run(args);
            } catch (const std::exception& e) {
                std::string what = e.what();
                return zq::Fail(c.name + ": " + what +
                                (what.find("(SQLite error 26)") != std::string::npos ||
                                         what.find("(SQLite error 11)") != std::string::npos
                                     ? zq::RecoveryAdvice()
                                     : ""));
            }
        }
    }
    return zq::Fail(std::string("unknown command '") + argv[1] + "' (see zq --help)", 2);
}
