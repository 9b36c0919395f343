// postinst: the program the installer starts once a printer driver is
// installed, with the driver's INF, the printer and the port.
#include <string>

#include "base/process.h"
#include "base/text.h"
#include "postinst/engine.h"
#include "postinst/uninstall_log.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        if (a == "--help" || a == "-h" || a == "/?") {
            std::printf(
                "usage: postinst -I <inf> -N <printer> [-P <port>] [-S]\n"
                "Runs the maker's INF sections of the printer's driver after its installation.\n"
                "Exit codes: 0 the actions ran (failures are in the log named by\n"
                "HKLM\\SOFTWARE\\Zelquor KovrantDebug), 1 no INF or no printer, 2 printer not\n"
                "found, 3 no [Manufacturer] section, 4 no install section for the driver.\n");
            return 0;
        }
    }
    // The command line as the system would hand it over: the arguments
    // after the program name, each quoted where it needs it.
    std::u16string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += u' ';
        line += zq::QuoteArgument(zq::Utf8ToUtf16(argv[i]));
    }
    // The process's uninstall log, which loads nothing and no action uses.
    postinst::ProcessUninstallLog();
    postinst::KovrantEngine engine;
    return engine.run(zq::WideToAnsi(line));
}
