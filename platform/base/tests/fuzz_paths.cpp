// Windows paths and command lines from arbitrary text: a mapped path never
// lies outside the system root, full paths are stable, and quoted arguments
// split back to themselves.
#include <stdlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/paths.h"
#include "base/process.h"
#include "base/root.h"
#include "base/text.h"
#include "testing/temp_root.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Root() {
    static const fs::path& root = []() -> const fs::path& {
        const fs::path& dir = zq::testing::ProcessTempDirectory("zqfuzz");
        fs::create_directories(dir / "c" / "windows" / "system32");
        fs::create_directories(dir / "unc" / "srv" / "share");
        fs::create_symlink("/", dir / "c" / "out");
        fs::create_symlink("..", dir / "c" / "windows" / "up");
        return dir;
    }();
    return root;
}

bool Inside(const fs::path& p, const fs::path& base) {
    auto it = p.begin();
    for (const auto& part : base) {
        if (part.empty()) continue;
        if (it == p.end() || *it != part) return false;
        ++it;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zq::SetSystemRoot(Root());
    const std::u16string text = zq::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));

    if (auto host = zq::MapPath(text)) {
        std::error_code ec;
        const fs::path resolved = fs::weakly_canonical(*host, ec);
        static const fs::path canonicalRoot = fs::weakly_canonical(Root());
        if (!ec && !Inside(resolved, canonicalRoot)) std::abort();
    }
    if (auto full = zq::FullWindowsPath(text)) {
        auto again = zq::FullWindowsPath(*full);
        if (!again || *again != *full) std::abort();
    }

    const auto args = zq::SplitCommandLine(text);
    std::u16string rebuilt = u"p";
    for (size_t i = 1; i < args.size(); ++i) rebuilt += u" " + zq::QuoteArgument(args[i]);
    const auto back = zq::SplitCommandLine(rebuilt);
    if (back.size() != std::max<size_t>(args.size(), 1)) std::abort();
    for (size_t i = 1; i < args.size(); ++i)
        if (back[i] != args[i]) std::abort();
    return 0;
}
