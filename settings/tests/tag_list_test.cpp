// Tag lists: the element format written and walked through the context's
// primitives, how the buffer grows, malformed lists, and lists stored by
// name for a user and for a printer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/memory.h"
#include "settings/tag_list.h"
#include "settings/user_settings.h"
#include "store/registry.h"
#include "store/spooler.h"
#include "settings/tests/office_printer.h"
#include "settings/tests/tag_list_fixture.h"
#include "testing/printer_fixture.h"

namespace zq {
namespace {

using testing::Cat;
using testing::El;
using testing::Put32;

// A context freed at the end of a test, passed as the primitives take it.
struct Context : testing::TagListFixture {
    TagListContext** operator&() { return &c; }
};

std::vector<uint8_t> U32(uint32_t v) { return testing::V(v); }

// The tags a reader reaches at the top level, entering every element and
// reading its first uint32, until TagEnter refuses.
std::vector<std::pair<uint32_t, uint32_t>> TopLevel(const std::vector<uint8_t>& list) {
    Context ctx;
    EXPECT_TRUE(TagListAttach(&ctx, list.data(), list.size()));
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    uint32_t tag = 0;
    while (TagEnter(&ctx, &tag)) {
        uint32_t v = 0;
        TagRead(&ctx, &v, sizeof v);
        seen.emplace_back(tag, v);
        if (!TagEnd(&ctx)) break;
    }
    return seen;
}

TEST(TagList, WrittenListHasTheElementFormatAndReadsBack) {
    Context ctx;
    ASSERT_TRUE(TagBegin(&ctx, 9));
    ASSERT_TRUE(TagBegin(&ctx, 65536));
    ASSERT_TRUE(TagWriteUint32(&ctx, 1, 0x11223344));
    ASSERT_TRUE(TagBegin(&ctx, 2));
    ASSERT_TRUE(TagWrite(&ctx, "ab", 2));
    ASSERT_TRUE(TagEnd(&ctx));
    ASSERT_TRUE(TagEnd(&ctx));
    ASSERT_TRUE(TagEnd(&ctx));
    ASSERT_TRUE(TagWriteUint32(&ctx, 18, 7));

    const std::vector<uint8_t> expected =
        Cat({El(9, El(65536, Cat({El(1, U32(0x11223344)), El(2, {'a', 'b'})}))),
             El(18, U32(7))});
    const auto bytes = TagListBytes(ctx.c);
    ASSERT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected);

    // A reader that enters 9 and leaves it unread lands on 18.
    ASSERT_TRUE(TagListRewind(&ctx));
    uint32_t tag = 0;
    ASSERT_TRUE(TagEnter(&ctx, &tag));
    EXPECT_EQ(tag, 9u);
    ASSERT_TRUE(TagEnter(&ctx, &tag));
    EXPECT_EQ(tag, 65536u);
    const uint8_t* data = nullptr;
    size_t length = 0;
    ASSERT_TRUE(TagData(&ctx, &data, &length));
    EXPECT_EQ(length, 12u + 10u);
    ASSERT_TRUE(TagEnter(&ctx, &tag));
    EXPECT_EQ(tag, 1u);
    uint8_t two[2] = {};
    EXPECT_EQ(TagRead(&ctx, two, 2), 2u);
    EXPECT_EQ(TagRead(&ctx, two, 8), 2u) << "a read stops at the element's end";
    EXPECT_EQ(TagRead(&ctx, two, 8), 0u);
    ASSERT_TRUE(TagEnd(&ctx));
    ASSERT_TRUE(TagEnd(&ctx));  // skips child 2
    EXPECT_FALSE(TagEnter(&ctx, &tag)) << "nothing after 65536 inside 9";
    ASSERT_TRUE(TagEnd(&ctx));
    ASSERT_TRUE(TagEnter(&ctx, &tag));
    EXPECT_EQ(tag, 18u);
    ASSERT_TRUE(TagEnd(&ctx));
    EXPECT_FALSE(TagEnter(&ctx, &tag));
}

TEST(TagList, DiscardDropsTheElementWithItsChildren) {
    Context ctx;
    ASSERT_TRUE(TagWriteUint32(&ctx, 1, 1));
    ASSERT_TRUE(TagBegin(&ctx, 2));
    ASSERT_TRUE(TagWriteUint32(&ctx, 3, 3));
    ASSERT_TRUE(TagBegin(&ctx, 4));
    ASSERT_TRUE(TagEnd(&ctx));
    ASSERT_TRUE(TagDiscard(&ctx));
    const auto bytes = TagListBytes(ctx.c);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), El(1, U32(1)));
    EXPECT_FALSE(TagDiscard(&ctx)) << "nothing open";
    // A read element cannot be discarded, and nothing is written into one.
    ASSERT_TRUE(TagListRewind(&ctx));
    uint32_t tag = 0;
    ASSERT_TRUE(TagEnter(&ctx, &tag));
    EXPECT_FALSE(TagDiscard(&ctx));
    EXPECT_FALSE(TagWrite(&ctx, "x", 1));
    EXPECT_FALSE(TagBegin(&ctx, 5));
}

TEST(TagList, BufferStartsAt16384AndGrowsBy4096) {
    Context ctx;
    ASSERT_TRUE(TagBegin(&ctx, 1));
    std::vector<uint8_t> fill(kTagListFirstBuffer - kTagHeadSize, 0x5A);
    ASSERT_TRUE(TagWrite(&ctx, fill.data(), fill.size()));
    EXPECT_EQ(GlobalSize(ctx.c->buffer), 16384u) << "16384 bytes exactly need no growth";
    ASSERT_TRUE(TagWrite(&ctx, "x", 1));
    EXPECT_EQ(GlobalSize(ctx.c->buffer), 16384u + 4096u);
    std::vector<uint8_t> big(10000, 1);
    ASSERT_TRUE(TagWrite(&ctx, big.data(), big.size()));
    EXPECT_EQ(GlobalSize(ctx.c->buffer), 16384u + 4096u + 10000u) << "a larger write grows by its own size";
    ASSERT_TRUE(TagEnd(&ctx));
    const auto bytes = TagListBytes(ctx.c);
    ASSERT_EQ(bytes.size(), 16384u + 1u + 10000u);
    EXPECT_EQ(bytes[8], 0x5A);
    EXPECT_EQ(bytes[4] | bytes[5] << 8 | bytes[6] << 16, 16384 + 1 + 10000);
}

TEST(TagList, MalformedElementsStopTheWalkKeepingWhatCameBefore) {
    const auto good = El(1, U32(11));
    const auto tail = El(3, U32(33));
    struct Case {
        const char* what;
        std::vector<uint8_t> bad;
    };
    std::vector<uint8_t> cutHead = {2, 0, 0, 0, 8, 0};
    const Case cases[] = {
        {"length 0", El(2, U32(22), 0xFFFFFFFF) /* replaced below */},
        {"length 4", El(2, U32(22), 4)},
        {"length 7", El(2, U32(22), 7)},
        {"length past the list", El(2, U32(22), 400)},
        {"a cut head", cutHead},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bad = c.bad;
        if (std::string(c.what) == "length 0") bad[4] = bad[5] = bad[6] = bad[7] = 0;
        // The cut head ends the list; the others sit before a sound element
        // that the walk must not reach by a wrong length.
        const auto list = std::string(c.what) == "a cut head" ? Cat({good, bad}) : Cat({good, bad, tail});
        const auto seen = TopLevel(list);
        ASSERT_EQ(seen.size(), 1u) << c.what;
        EXPECT_EQ(seen[0], std::make_pair(1u, 11u)) << c.what;
    }
}

TEST(TagList, ChildReachingPastItsParentIsRefused) {
    // Parent 9 holds 12 bytes; its child claims 16, into the next element.
    auto child = El(1, U32(5), 16);
    auto list = Cat({El(9, child), El(18, U32(2))});
    Context ctx;
    ASSERT_TRUE(TagListAttach(&ctx, list.data(), list.size()));
    uint32_t tag = 0;
    ASSERT_TRUE(TagEnter(&ctx, &tag));
    const size_t before = ctx.c->readPosition;
    EXPECT_FALSE(TagEnter(&ctx, &tag));
    EXPECT_EQ(ctx.c->readPosition, before) << "a refused element leaves the position";
    ASSERT_TRUE(TagEnd(&ctx));
    ASSERT_TRUE(TagEnter(&ctx, &tag));
    EXPECT_EQ(tag, 18u) << "the parent's end is still where its own length says";
}

TEST(TagList, NestingPastTheRecordLimitSetsTheErrorForGood) {
    Context ctx;
    size_t opened = 0;
    while (opened <= kTagMaxRecords && TagBegin(&ctx, 1)) ++opened;
    EXPECT_EQ(opened, kTagMaxRecords);
    EXPECT_EQ(ctx.c->error, TagListError::RecordsFull);
    EXPECT_FALSE(TagEnd(&ctx)) << "a context in error refuses every primitive";
    EXPECT_FALSE(TagWriteUint32(&ctx, 2, 2));
    HGLOBAL block = nullptr;
    size_t length = 0;
    EXPECT_FALSE(TagListDetach(&ctx, &block, &length));

    // A reader is bounded the same way: a list nested deeper than the limit.
    std::vector<uint8_t> deep;
    const size_t depth = kTagMaxRecords + 1;
    for (size_t i = 0; i < depth; ++i) {
        Put32(deep, 1);
        Put32(deep, static_cast<uint32_t>(8 * (depth - i)));
    }
    Context reader;
    ASSERT_TRUE(TagListAttach(&reader, deep.data(), deep.size()));
    uint32_t tag = 0;
    size_t entered = 0;
    while (TagEnter(&reader, &tag)) ++entered;
    EXPECT_EQ(entered, kTagMaxRecords);
    EXPECT_EQ(reader.c->error, TagListError::RecordsFull);
}

TEST(TagList, AttachedBytesAreBorrowedNeverFreedAndCopiedBeforeAWrite) {
    const size_t blocksBefore = GlobalBlockCount();
    auto list = El(1, U32(1));
    const auto original = list;
    {
        Context ctx;
        ASSERT_TRUE(TagListAttach(&ctx, list.data(), list.size()));
        EXPECT_FALSE(TagListAttach(&ctx, list.data(), list.size())) << "only an empty context takes a list";
        EXPECT_EQ(GlobalBlockCount(), blocksBefore);
        ASSERT_TRUE(TagWriteUint32(&ctx, 2, 2));
        EXPECT_EQ(list, original) << "the attached bytes are not written";
        const auto bytes = TagListBytes(ctx.c);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), Cat({original, El(2, U32(2))}));
    }
    {
        Context ctx;
        ASSERT_TRUE(TagListAttach(&ctx, list.data(), list.size()));
    }  // destroyed while still attached: the vector's bytes stay ours
    EXPECT_EQ(GlobalBlockCount(), blocksBefore);
}

TEST(TagList, DetachHandsOverAGlobalBlockAndEmptiesTheContext) {
    const size_t blocksBefore = GlobalBlockCount();
    Context ctx;
    ASSERT_TRUE(TagWriteUint32(&ctx, 5, 6));
    HGLOBAL block = nullptr;
    size_t length = 0;
    ASSERT_TRUE(TagListDetach(&ctx, &block, &length));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(ctx.c->length, 0u);
    EXPECT_EQ(TagListBytes(ctx.c).size(), 0u);
    const auto* p = static_cast<const uint8_t*>(GlobalLock(block));
    EXPECT_EQ(std::vector<uint8_t>(p, p + length), El(5, U32(6)));
    GlobalUnlock(block);
    EXPECT_EQ(GlobalFree(block), nullptr);
    // The context can be used again.
    ASSERT_TRUE(TagWriteUint32(&ctx, 7, 8));
    TagListDestroy(&ctx.c);
    EXPECT_EQ(GlobalBlockCount(), blocksBefore);
}

TEST(TagList, RewindAndNullArguments) {
    Context ctx;
    ASSERT_TRUE(TagBegin(&ctx, 1));
    EXPECT_FALSE(TagListRewind(&ctx)) << "not while an element is being written";
    ASSERT_TRUE(TagEnd(&ctx));
    EXPECT_TRUE(TagListRewind(&ctx));
    uint32_t tag = 0;
    EXPECT_FALSE(TagEnter(nullptr, &tag));
    EXPECT_FALSE(TagBegin(nullptr, 1));
    EXPECT_FALSE(TagWrite(&ctx, nullptr, 3));
    TagListContext* none = nullptr;
    EXPECT_FALSE(TagEnd(&none));
    EXPECT_FALSE(TagListCreate(nullptr));
}

class StoredTagListTest : public testing::OfficePrinter {
protected:
    std::optional<std::vector<uint8_t>> PrinterValue(const char* name) {
        DWORD type = 0, needed = 0;
        std::vector<uint8_t> b(4096);
        if (GetPrinterDataA(printer_, const_cast<LPSTR>(name), &type, b.data(), 4096, &needed) != 0) {
            return std::nullopt;
        }
        b.resize(needed);
        return b;
    }
};

TEST_F(StoredTagListTest, StoreWritesUserAndPrinterCopiesAndLoadPrefersTheUsers) {
    Context ctx;
    ASSERT_TRUE(TagWriteUint32(&ctx, 18, 3));
    ASSERT_TRUE(StoreTagList(&ctx, u"Office", u"DefDrvCfgData", printer_, false));
    const auto written = std::vector<uint8_t>(TagListBytes(ctx.c).begin(), TagListBytes(ctx.c).end());
    EXPECT_EQ(PrinterValue("DefDrvCfgData"), written);
    EXPECT_EQ(ReadUserValue(printer_, HKEY_CURRENT_USER, nullptr, u"DefDrvCfgData", nullptr), written);

    // The printer's copy changes; the user's still wins.
    Context other;
    ASSERT_TRUE(TagWriteUint32(&other, 18, 9));
    ASSERT_TRUE(StoreTagList(&other, u"Office", u"DefDrvCfgData", printer_, true));
    Context loaded;
    ASSERT_TRUE(LoadTagList(&loaded, u"DefDrvCfgData", printer_, false));
    EXPECT_EQ(TopLevel(std::vector<uint8_t>(TagListBytes(loaded.c).begin(), TagListBytes(loaded.c).end())),
              (std::vector<std::pair<uint32_t, uint32_t>>{{18, 3}}));
    Context printerOnly;
    ASSERT_TRUE(LoadTagList(&printerOnly, u"DefDrvCfgData", printer_, true));
    EXPECT_EQ(TopLevel(std::vector<uint8_t>(TagListBytes(printerOnly.c).begin(), TagListBytes(printerOnly.c).end())),
              (std::vector<std::pair<uint32_t, uint32_t>>{{18, 9}}));

    // Loading appends to what the context holds.
    ASSERT_TRUE(LoadTagList(&printerOnly, u"DefDrvCfgData", printer_, true));
    EXPECT_EQ(TopLevel(std::vector<uint8_t>(TagListBytes(printerOnly.c).begin(), TagListBytes(printerOnly.c).end())),
              (std::vector<std::pair<uint32_t, uint32_t>>{{18, 9}, {18, 9}}));
}

TEST_F(StoredTagListTest, NothingIsStoredFromAnEmptyOrBrokenContextAndAMissingListLoadsNothing) {
    Context empty;
    EXPECT_FALSE(StoreTagList(&empty, u"Office", u"Profile", printer_, false));
    EXPECT_FALSE(PrinterValue("Profile").has_value());

    Context broken;
    ASSERT_TRUE(TagWriteUint32(&broken, 1, 1));
    broken.c->error = TagListError::NoBuffer;
    EXPECT_FALSE(StoreTagList(&broken, u"Office", u"Profile", printer_, false));
    EXPECT_FALSE(PrinterValue("Profile").has_value());

    Context loaded;
    EXPECT_FALSE(LoadTagList(&loaded, u"Profile", printer_, false));
    EXPECT_FALSE(PrinterValue("Profile").has_value()) << "a list that cannot be read is not replaced";
    EXPECT_EQ(loaded.c->length, 0u);
}

TEST_F(StoredTagListTest, AnUnreadableStoredListIsLeftAsItIs) {
    // A list stored as text cannot be read by the user's reader; the
    // printer data then has none either, and neither value is wiped.
    HKEY key = nullptr;
    ASSERT_TRUE(OpenUserPrinterKey(printer_, HKEY_CURRENT_USER, &key, nullptr, nullptr));
    RegCloseKey(key);
    Context ctx;
    EXPECT_FALSE(LoadTagList(&ctx, u"DefDrvCfgData", printer_, false));
    uint8_t bytes[3] = {1, 2, 3};
    ASSERT_EQ(SetPrinterDataA(printer_, const_cast<LPSTR>("DefDrvCfgData"), REG_BINARY, bytes, 3), 0u);
    Context again;
    EXPECT_TRUE(LoadTagList(&again, u"DefDrvCfgData", printer_, false)) << "the bytes are handed on as stored";
    EXPECT_EQ(again.c->length, 3u);
    EXPECT_EQ(TopLevel({1, 2, 3}).size(), 0u) << "and a walk over them finds nothing";
    EXPECT_EQ(PrinterValue("DefDrvCfgData"), (std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace zq
