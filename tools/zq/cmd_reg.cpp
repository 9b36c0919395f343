// zq reg: the registry as REGEDIT4 text.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "command.h"
#include "store/admin.h"

namespace {

constexpr const char* kUsage =
    "usage: zq reg export [KEY] [--out FILE]\n"
    "       zq reg import FILE\n\n"
    "export   writes KEY (for example HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print, or\n"
    "         HKEY_CURRENT_USER\\Software) and everything below it, or the whole registry,\n"
    "         as REGEDIT4 text to FILE or standard output\n"
    "import   merges a REGEDIT4 file into the registry, all or nothing\n";

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    if (args.empty()) return zq::UsageError("reg", "missing verb");
    zq::Options opts(args);
    auto out = opts.Value("--out");
    if (auto bad = opts.Unknown()) return zq::UsageError("reg", "unknown option " + *bad);
    auto rest = opts.Rest();
    if (rest.empty()) return zq::UsageError("reg", "missing verb");
    if (rest[0] == "export" && rest.size() <= 2) {
        auto text = zq::store::ExportRegistry(rest.size() == 2 ? zq::store::FromUtf8(rest[1]) : std::u16string());
        if (!text) return zq::Fail("reg: no key " + rest[1]);
        if (!out) {
            std::fwrite(text->data(), 1, text->size(), stdout);
            return 0;
        }
        std::ofstream file(*out, std::ios::binary);
        file << *text;
        if (!file.flush()) return zq::Fail("reg: cannot write " + *out);
        return 0;
    }
    if (rest[0] == "import" && rest.size() == 2 && !out) {
        std::ifstream file(rest[1], std::ios::binary);
        if (!file) return zq::Fail("reg: cannot read " + rest[1]);
        std::string text{std::istreambuf_iterator<char>(file), {}};
        std::string error = zq::store::ImportRegistry(text);
        if (!error.empty()) return zq::Fail("reg: " + rest[1] + ": " + error);
        return 0;
    }
    return zq::UsageError("reg", "unknown verb or wrong arguments: " + rest[0]);
}

zq::Registration registration{{"reg", "export and import the registry as REGEDIT4 text", kUsage, Run}};

}  // namespace
