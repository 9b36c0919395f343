// zq printer: add, list, show and delete printers.
#include <cstdio>
#include <vector>

#include "command.h"
#include "spooler_cli.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace zq::cli {
int InitPrinter(const std::string& printerName);  // cmd_printer_init.cpp
}

namespace {

using zq::store::FromUtf8;
using zq::store::ToUtf8;
using zq::cli::Text;

constexpr const char* kUsage =
    "usage: zq printer add NAME --driver DRIVER [--port PORT] [--comment TEXT] [--location TEXT]\n"
    "                      [--server \\\\SERVER] [--read-only] [--devmode FILE]\n"
    "       zq printer list\n"
    "       zq printer show NAME\n"
    "       zq printer delete NAME\n"
    "       zq printer init NAME\n\n"
    "add      adds a local printer on PORT (default LPT1:), or with --server a connection\n"
    "         \\\\SERVER\\NAME; --read-only refuses writes to it (for tests); --devmode\n"
    "         FILE stores an application's DEVMODE (as zq devmode set writes it) as\n"
    "         the printer's default, from which its driver makes its settings\n"
    "list     lists local printers and connections\n"
    "show     prints the printer's record (level 2)\n"
    "delete   deletes the printer and its jobs\n"
    "init     loads the printer's settings as a device context does (building and\n"
    "         storing them on first use) and prints what was written\n";

int Failed(const std::string& what) { return zq::cli::FailWithError("printer", what); }

int Add(zq::Options& opts) {
    auto driver = opts.Value("--driver");
    auto port = opts.Value("--port");
    auto comment = opts.Value("--comment");
    auto location = opts.Value("--location");
    auto server = opts.Value("--server");
    auto devmodeFile = opts.Value("--devmode");
    bool readOnly = opts.Flag("--read-only");
    if (auto bad = opts.Unknown()) return zq::UsageError("printer", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (rest.size() != 2) return zq::UsageError("printer", "add takes one printer name");
    if (!driver) return zq::UsageError("printer", "add needs --driver");
    std::vector<uint8_t> devmode;
    if (devmodeFile) {
        std::string error;
        auto read = zq::cli::ReadDevmodeFile(*devmodeFile, error);
        if (!read) return zq::Fail("printer: " + error);
        devmode = std::move(*read);
    }
    std::u16string name = FromUtf8(rest[1]), drv = FromUtf8(*driver), prt = FromUtf8(port.value_or("LPT1:"));
    std::u16string cmt = FromUtf8(comment.value_or("")), loc = FromUtf8(location.value_or(""));
    std::u16string srv = FromUtf8(server.value_or(""));
    PRINTER_INFO_2W info{};
    info.pPrinterName = name.data();
    info.pDriverName = drv.data();
    info.pPortName = prt.data();
    info.pComment = cmt.data();
    info.pLocation = loc.data();
    if (!devmode.empty()) info.pDevMode = reinterpret_cast<DEVMODEW*>(devmode.data());
    HANDLE h = AddPrinterW(srv.empty() ? nullptr : srv.data(), 2, reinterpret_cast<LPBYTE>(&info));
    if (!h) return Failed("cannot add " + rest[1]);
    ClosePrinter(h);
    std::u16string full = srv.empty() ? name : srv + u"\\" + name;
    if (readOnly && !zq::store::SetPrinterReadOnly(full, true)) return zq::Fail("printer: cannot mark it read-only");
    std::printf("added %s\n", ToUtf8(full).c_str());
    return 0;
}

int List() {
    DWORD count = 0;
    DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    auto buffer = zq::cli::Fetch([&](LPBYTE b, DWORD size, LPDWORD needed) {
        return EnumPrintersW(flags, nullptr, 2, b, size, needed, &count);
    });
    if (!buffer) return Failed("cannot list");
    auto* list = reinterpret_cast<PRINTER_INFO_2W*>(buffer->data());
    for (DWORD i = 0; i < count; ++i)
        std::printf("%s\t%s\t%s\t%s\n", Text(list[i].pPrinterName).c_str(), Text(list[i].pDriverName).c_str(),
                    Text(list[i].pPortName).c_str(),
                    (list[i].Attributes & PRINTER_ATTRIBUTE_NETWORK) ? "connection" : "local");
    return 0;
}

int Show(const std::string& name) {
    std::u16string n = FromUtf8(name);
    zq::cli::PrinterHandle printer;
    if (!OpenPrinterW(n.data(), &printer.h, nullptr)) return Failed("no printer " + name);
    auto buffer = zq::cli::Fetch(
        [&](LPBYTE b, DWORD size, LPDWORD needed) { return GetPrinterW(printer.h, 2, b, size, needed); });
    if (!buffer) return Failed("cannot read " + name);
    auto* p = reinterpret_cast<PRINTER_INFO_2W*>(buffer->data());
    std::printf("name: %s\nserver: %s\ndriver: %s\nport: %s\ncomment: %s\nlocation: %s\nprocessor: %s\n"
                "datatype: %s\nattributes: 0x%08x\njobs: %u\ndevmode: %u bytes\n",
                Text(p->pPrinterName).c_str(), Text(p->pServerName).c_str(), Text(p->pDriverName).c_str(),
                Text(p->pPortName).c_str(), Text(p->pComment).c_str(), Text(p->pLocation).c_str(),
                Text(p->pPrintProcessor).c_str(), Text(p->pDatatype).c_str(), p->Attributes, p->cJobs,
                p->pDevMode ? p->pDevMode->dmSize + p->pDevMode->dmDriverExtra : 0u);
    return 0;
}

int Delete(const std::string& name) {
    std::u16string n = FromUtf8(name);
    zq::cli::PrinterHandle printer;
    PRINTER_DEFAULTSW all{nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(n.data(), &printer.h, &all)) return Failed("cannot open " + name);
    if (!DeletePrinter(printer.h)) return Failed("cannot delete " + name);
    return 0;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    if (args.empty()) return zq::UsageError("printer", "missing verb");
    zq::Options opts(args);
    const std::string& verb = args[0];
    if (verb == "add") return Add(opts);
    if (auto bad = opts.Unknown()) return zq::UsageError("printer", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (verb == "list" && rest.size() == 1) return List();
    if (verb == "show" && rest.size() == 2) return Show(rest[1]);
    if (verb == "delete" && rest.size() == 2) return Delete(rest[1]);
    if (verb == "init" && rest.size() == 2) return zq::cli::InitPrinter(rest[1]);
    return zq::UsageError("printer", "unknown verb or wrong arguments: " + verb);
}

zq::Registration registration{{"printer", "add, list, show and delete printers", kUsage, Run}};

}  // namespace
