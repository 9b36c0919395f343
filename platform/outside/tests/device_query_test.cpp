// The device-query stand-in: fixtures become records, records are read
// within their own size, and the library answers per port from the root.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/loader.h"
#include "base/root.h"
#include "outside/device_query_record.h"
#include "testing/fresh_root.h"

namespace zq {
namespace {

TEST(DeviceQueryFixture, LinesBecomeTheRecord) {
    const auto r = DeviceQueryFromFixture("duplex 1\nmemory 64 \n# comment\nstorage 1 0\n"
                                          "input 10 1 230\ninput 11 2 52\noutput 3 7\nmedia 9\n");
    ASSERT_TRUE(r);
    DeviceQueryRecord head;
    std::memcpy(&head, r->data(), sizeof head);
    EXPECT_EQ(head.size, r->size());
    EXPECT_EQ(head.duplexUnit, 1);
    EXPECT_EQ(head.memoryMegabytes, 64);
    EXPECT_EQ(head.storage64, 1u);
    EXPECT_EQ(head.inputCount, 2u);
    EXPECT_EQ(head.inputOffset, 160u);
    EXPECT_EQ(head.outputCount, 1u);
    EXPECT_EQ(head.outputOffset, 160u + 128);
    EXPECT_EQ(head.mediaOffset, 160u + 128 + 100);
    EXPECT_EQ(r->size(), 160u + 128 + 100 + 32);
    EXPECT_EQ((*r)[160 + 38], 230);
    EXPECT_EQ(DeviceQueryInputMedia(r->data(), r->size()), (std::vector<uint16_t>{230, 52}));
    for (const char* bad : {"input 10 1\n", "memory 70000\n", "colour 1\n", "input 1 4 9\n", "duplex x\n"}) {
        EXPECT_FALSE(DeviceQueryFromFixture(bad)) << bad;
    }
    EXPECT_TRUE(DeviceQueryFromFixture(""));
}

TEST(DeviceQueryFixture, RecordsAreReadWithinTheirSize) {
    auto r = *DeviceQueryFromFixture("input 1 1 7\ninput 2 1 9\n");
    // Fewer bytes than the record says: the entry cut off is not read.
    EXPECT_EQ(DeviceQueryInputMedia(r.data(), r.size() - 1), (std::vector<uint16_t>{7}));
    // A count and an offset that point past the record.
    DeviceQueryRecord head;
    std::memcpy(&head, r.data(), sizeof head);
    head.inputCount = 0xFFFFFFFF;
    head.inputOffset = 0xFFFFFFF0;
    std::memcpy(r.data(), &head, sizeof head);
    EXPECT_TRUE(DeviceQueryInputMedia(r.data(), r.size()).empty());
    EXPECT_TRUE(DeviceQueryInputMedia(r.data(), 100).empty());
    EXPECT_TRUE(DeviceQueryInputMedia(nullptr, 0).empty());
}

using DeviceQueryLibrary = testing::FreshRoot;

TEST_F(DeviceQueryLibrary, AnswersFromThePortsFixture) {
    HMODULE lib = LoadLibraryA("bidiqry.dll");
    ASSERT_NE(lib, nullptr) << LastLoadError();
    using Get = uint32_t (*)(const char*, const char*, uint32_t, void**, uint32_t);
    using Free = void (*)(void*);
    auto get = reinterpret_cast<Get>(GetProcAddress(lib, "GetDrvNPAData"));
    auto release = reinterpret_cast<Free>(GetProcAddress(lib, "FreeDrvNPAData"));
    ASSERT_TRUE(get && release);
    void* record = reinterpret_cast<void*>(1);
    EXPECT_NE(get("Office", "IP_10.0.0.9", kQueryMediaReady, &record, 2), 0u);  // no fixture
    EXPECT_EQ(record, nullptr);
    const auto dir = SystemRoot() / "c" / "windows" / "system32" / "bidiqry";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "IP_10.0.0.9.txt") << "input 1 1 230\n";
    std::ofstream(dir / "LPT1_.txt") << "input 1 1 nine\n";
    ASSERT_EQ(get("Office", "IP_10.0.0.9", kQueryMediaReady, &record, 2), 0u);
    ASSERT_NE(record, nullptr);
    const auto* bytes = static_cast<const uint8_t*>(record);
    DeviceQueryRecord head;
    std::memcpy(&head, bytes, sizeof head);
    EXPECT_EQ(DeviceQueryInputMedia(bytes, head.size), (std::vector<uint16_t>{230}));
    release(record);
    EXPECT_NE(get("Office", "LPT1:", kQueryMediaReady, &record, 2), 0u);  // a fixture it cannot read
    EXPECT_NE(get("Office", "IP_10.0.0.9", kQueryMediaReady, &record, 1), 0u);
    EXPECT_NE(get("Office", "../IP_10.0.0.9", kQueryMediaReady, &record, 2), 0u);
    FreeLibrary(lib);
}

using InstallLog = testing::FreshRoot;

TEST_F(InstallLog, RecordsOnlyIntoALogThatIsThere) {
    HMODULE lib = LoadLibraryA("instrec.dll");
    ASSERT_NE(lib, nullptr) << LastLoadError();
    using Find = int (*)(const char*, int);
    using Add = int (*)(const char*, const char*);
    auto find = reinterpret_cast<Find>(GetProcAddress(lib, "FindLogFile"));
    auto addFile = reinterpret_cast<Add>(GetProcAddress(lib, "AddFile"));
    auto addRegistry = reinterpret_cast<Add>(GetProcAddress(lib, "AddRegistry"));
    ASSERT_TRUE(find && addFile && addRegistry);
    EXPECT_NE(find("Zelquor", 2), 0);
    EXPECT_EQ(addFile("Drivers", "C:\\x.pcl"), 0);  // no log found: nothing recorded
    const auto dir = SystemRoot() / "c" / "windows" / "system32" / "instrec";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "Zelquor.log").close();
    ASSERT_EQ(find("Zelquor", 2), 0);
    EXPECT_EQ(addFile("Printer Office", "C:\\fonts\\a.pcl"), 1);
    EXPECT_EQ(addRegistry("Printer Office", "hkcu, \"Software\\Zelquor\\Printers\\Office\", WebIP"), 1);
    EXPECT_NE(find("../Zelquor", 2), 0);
    std::ifstream in(dir / "Zelquor.log");
    std::string a, b, c;
    std::getline(in, a);
    std::getline(in, b);
    EXPECT_EQ(a, "file [Printer Office] C:\\fonts\\a.pcl");
    EXPECT_EQ(b, "registry [Printer Office] hkcu, \"Software\\Zelquor\\Printers\\Office\", WebIP");
    EXPECT_FALSE(std::getline(in, c));
    FreeLibrary(lib);
}

}  // namespace
}  // namespace zq
