// Fuzzes INF reading: sections, key queries, value splitting and macro
// expansion over whatever text comes.
#include <cstdint>
#include <string>

#include "postinst/actions.h"
#include "postinst/engine.h"
#include "postinst/inf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    postinst::InfFile inf;
    inf.LoadText(text);
    std::string key, value;
    // A start-menu folder name is matched once per input: its fallback reads
    // the Windows version from the registry, which per line would make the
    // database, not the INF reader, what this target spends its time on.
    bool folderMatched = false;
    for (const auto& s : inf.Sections()) {
        for (const char* k : {"CopyFiles", "DataSection", "ZelAssociateMonitor", "UpdateInis", "ZelAddGroup",
                              "ZelUninstall", "ZelPrintProcessor", "ZelDefaultDataType", "LanguageMonitor"})
            inf.getValue(s->name, k, value);
        for (const auto& line : s->lines) {
            postinst::splitKeyValue(line, key, value);
            auto fields = postinst::Tokenizer(line, ',', postinst::Tokenizer::kQuotes).AllTokens();
            // A start-menu line's folder name, and an INI line's entries.
            if (!fields.empty() && !folderMatched) {
                postinst::StartMenuInfo::FolderId(fields[0]);
                folderMatched = true;
            }
            for (const auto& f : fields) postinst::Tokenizer(f, '=', 0).AllTokens();
        }
    }
    static postinst::KovrantEngine engine;
    // Directory codes would ask the registry; string macros only.
    engine.DecodeMacros(text, 2);
    postinst::PathObject p(text);
    p.Append(text);
    postinst::LanguageIdOfIso(text);
    return 0;
}
