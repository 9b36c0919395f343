// Stand-in of the outside device-query library: it answers for a port from
// a fixture file under the system root ("bidiqry\PORT.txt" in the system
// directory, the port's characters other than letters, digits, '.', '_'
// and '-' written as '_'); without a fixture the port does not answer.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "base/paths.h"
#include "base/text.h"
#include "outside/device_query_record.h"

extern "C" {

uint32_t GetDrvNPAData(const char* printerName, const char* portName, uint32_t mask, void** record,
                       uint32_t version) {
    if (printerName == nullptr || portName == nullptr || record == nullptr || version != 2 || mask == 0) {
        return 87;
    }
    *record = nullptr;
    std::string file;
    for (const char* p = portName; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        file.push_back(std::isalnum(c) || c == '.' || c == '_' || c == '-' ? static_cast<char>(c) : '_');
    }
    if (file.empty()) return 2;
    const auto host = zq::MapPath(zq::SystemDirectory() + u"\\bidiqry\\" + zq::AnsiToWide(file) + u".txt");
    if (!host) return 2;
    std::ifstream in(*host, std::ios::binary);
    if (!in) return 2;
    std::ostringstream text;
    text << in.rdbuf();
    const auto bytes = zq::DeviceQueryFromFixture(text.str());
    if (!bytes) return 13;
    void* block = std::malloc(bytes->size());
    if (block == nullptr) return 8;
    std::memcpy(block, bytes->data(), bytes->size());
    *record = block;
    return 0;
}

void FreeDrvNPAData(void* record) {
    std::free(record);
}

}
