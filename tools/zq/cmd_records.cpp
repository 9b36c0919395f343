// zq records: the record lists a printer keeps in its printer data.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "command.h"
#include "settings/pd_list.h"
#include "settings/printer_data_values.h"
#include "store/admin.h"
#include "store/spooler.h"

namespace {

constexpr const char* kUsage =
    "usage: zq records show PRINTER VALUE [--json]\n\n"
    "Lists the records of a printer-data record list (\"Watermark\", \"UserDefForms\",\n"
    "\"UserAssocForms\", \"Macro\", \"SoftFont\" or any other value of that layout):\n"
    "each field by key, named where the list is known, texts quoted, other data in\n"
    "hex. Bytes behind the last whole record are reported as damaged; nothing is\n"
    "written.\n";

// Key names of the lists the driver keeps.
const std::map<std::string, std::vector<const char*>>& KeyNames() {
    static const std::map<std::string, std::vector<const char*>> names = {
        {"Watermark", {"id", "name", "text", "font", "colour", "lighten", "placement1", "placement2", "placement3"}},
        {"UserDefForms", {"id", "name", "value3", "value4", "width", "length", "block"}},
        {"UserAssocForms",
         {"id", "name", "value3", "value4", "text5", "value6", "text7", "value8", "text9", "value10", "text11",
          "value12"}},
        {"Macro", {"id", "name", "value", "type"}},
        {"SoftFont", {"id", "path", "download", "kind", "content"}},
    };
    return names;
}

std::string KeyName(const std::string& value, uint16_t key) {
    const auto it = KeyNames().find(value);
    if (it != KeyNames().end() && key >= 1 && key <= it->second.size()) return it->second[key - 1];
    return "key" + std::to_string(key);
}

bool IsText(std::span<const uint8_t> d) {
    if (d.empty() || d.back() != 0) return false;
    for (size_t i = 0; i + 1 < d.size(); ++i) {
        if (d[i] < 32 || d[i] == 127) return false;
    }
    return true;
}

std::string Hex(std::span<const uint8_t> d) {
    std::string s;
    char b[3];
    for (uint8_t c : d.first(std::min<size_t>(d.size(), 64))) {
        std::snprintf(b, sizeof b, "%02x", c);
        s += b;
    }
    if (d.size() > 64) s += "...";
    return s;
}

std::string JsonText(std::string_view t) {
    std::string s = "\"";
    for (char c : t) {
        if (c == '"' || c == '\\') s += '\\';
        s += c;
    }
    return s + "\"";
}

// The value of one field as text (JSON or plain).
std::string FieldValue(uint16_t key, std::span<const uint8_t> d, bool json) {
    if (key == 1 && d.size() == 2) return std::to_string(d[0] | (d[1] << 8));
    if (IsText(d)) {
        const std::string_view t(reinterpret_cast<const char*>(d.data()), d.size() - 1);
        return json ? JsonText(t) : "'" + std::string(t) + "'";
    }
    if (d.size() == 2) return std::to_string(d[0] | (d[1] << 8));
    return json ? "\"" + Hex(d) + "\"" : Hex(d);
}

// Fields of the current record in stored order.
std::vector<std::pair<uint16_t, std::span<const uint8_t>>> Fields(const zq::PdList* list) {
    std::vector<std::pair<uint16_t, std::span<const uint8_t>>> out;
    const uint8_t* r = list->block.data() + list->cursor;
    size_t p = zq::kPdRecordHeadSize;
    for (;;) {
        const uint16_t key = uint16_t(r[p] | (r[p + 1] << 8));
        const uint16_t len = uint16_t(r[p + 2] | (r[p + 3] << 8));
        if (key == 0) break;
        out.emplace_back(key, std::span<const uint8_t>(r + p + 4, len - 5u));
        p += len;
    }
    return out;
}

int Show(const std::string& printer, const std::string& value, bool json) {
    std::u16string name = zq::store::FromUtf8(printer);
    HANDLE h = nullptr;
    if (!OpenPrinterW(name.data(), &h, nullptr)) return zq::Fail("records: no printer " + printer);
    ClosePrinter(h);
    zq::PdListHolder list(zq::PdListOpen(printer.c_str(), value.c_str()));
    if (!list) return zq::Fail("records: out of memory");
    zq::PdList* l = list.get();
    if (l->readFailed) return zq::Fail("records: cannot read " + value + " of " + printer);
    if (json) std::printf("{\"printer\": %s, \"value\": %s, \"records\": [", JsonText(printer).c_str(),
                          JsonText(value).c_str());
    size_t n = 0;
    if (zq::PdListFirst(l)) {
        do {
            const auto fields = Fields(l);
            if (json) {
                std::printf("%s\n  {\"offset\": %zu, \"fields\": [", n ? "," : "", l->cursor);
                for (size_t i = 0; i < fields.size(); ++i) {
                    std::printf("%s{\"key\": %u, \"name\": \"%s\", \"length\": %zu, \"value\": %s}", i ? ", " : "",
                                fields[i].first, KeyName(value, fields[i].first).c_str(), fields[i].second.size(),
                                FieldValue(fields[i].first, fields[i].second, true).c_str());
                }
                std::printf("]}");
            } else {
                std::printf("record %zu at %zu:", n + 1, l->cursor);
                for (const auto& [key, data] : fields) {
                    std::printf(" %s=%s", KeyName(value, key).c_str(), FieldValue(key, data, false).c_str());
                }
                std::printf("\n");
            }
            ++n;
        } while (zq::PdListNext(l));
    }
    if (json) {
        std::printf("\n], \"damaged\": ");
        if (l->damagedBytes) std::printf("{\"offset\": %zu, \"bytes\": %zu}}\n", l->block.size(), l->damagedBytes);
        else std::printf("null}\n");
    } else {
        if (n == 0) std::printf("no records\n");
        if (l->damagedBytes) {
            std::printf("damaged: %zu bytes from offset %zu are not whole records and were not read\n", l->damagedBytes,
                        l->block.size());
        }
    }
    return 0;
}

int Run(const zq::Args& args) {
    if (zq::WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    zq::Options opts(args);
    const bool json = opts.Flag("--json");
    if (auto bad = opts.Unknown()) return zq::UsageError("records", "unknown option " + *bad);
    const auto rest = opts.Rest();
    if (rest.size() != 3 || rest[0] != "show") return zq::UsageError("records", "expected: show PRINTER VALUE");
    return Show(rest[1], rest[2], json);
}

zq::Registration reg{{"records", "record lists in printer data (watermarks, forms, overlays)", kUsage, Run}};

}  // namespace
