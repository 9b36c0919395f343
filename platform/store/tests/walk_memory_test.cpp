// A connection remembers the last registry path it walked from one
// transaction to the next: whatever another connection commits, and
// whatever a transaction undoes, a walk still finds the keys as they are.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/database.h"
#include "testing/printer_fixture.h"

namespace {

using zq::store::Db;
using zq::store::KeyId;
using zq::store::Txn;

using WalkMemoryTest = zq::testing::StoreRoot;

std::optional<KeyId> WalkIn(Db& db, std::u16string_view path) {
    Txn t(db, Txn::Mode::Read);
    return t.Walk(db.Hklm(), path);
}

KeyId Make(Db& db, std::u16string_view path) {
    Txn t(db, Txn::Mode::Write);
    const KeyId id = t.WalkCreate(db.Hklm(), path);
    t.Commit();
    return id;
}

TEST_F(WalkMemoryTest, WalksFindTheKeysAsTheyAreNow) {
    struct Case {
        const char* name;
        // Changes the tree under `ours` (the connection that walks) or
        // `other` (another connection on the same file) after `ours` walked
        // SOFTWARE\Zq\A\B; returns what a walk of `path` must find then.
        std::function<std::optional<KeyId>(Db& ours, Db& other)> change;
        std::u16string path;
    };
    const std::vector<Case> cases = {
        {"another connection deletes and makes the path again",
         [](Db&, Db& other) {
             {
                 Txn t(other, Txn::Mode::Write);
                 t.DeleteTree(*t.Walk(other.Hklm(), u"SOFTWARE\\Zq\\A"));
                 t.Commit();
             }
             return std::optional<KeyId>(Make(other, u"SOFTWARE\\Zq\\A\\B"));
         },
         u"SOFTWARE\\Zq\\A\\B"},
        {"another connection renames a key on the path",
         [](Db&, Db& other) {
             Txn t(other, Txn::Mode::Write);
             t.Rename(*t.Walk(other.Hklm(), u"SOFTWARE\\Zq\\A"), u"Renamed");
             t.Commit();
             return std::optional<KeyId>();
         },
         u"SOFTWARE\\Zq\\A\\B"},
        {"a transaction that made keys is rolled back",
         [](Db& ours, Db&) {
             Txn t(ours, Txn::Mode::Write);
             t.WalkCreate(ours.Hklm(), u"SOFTWARE\\Zq\\A\\B\\New\\Deeper");
             return std::optional<KeyId>();  // not committed
         },
         u"SOFTWARE\\Zq\\A\\B\\New\\Deeper"},
        {"a rename walked through is rolled back",
         [](Db& ours, Db&) {
             Txn t(ours, Txn::Mode::Write);
             t.Rename(*t.Walk(ours.Hklm(), u"SOFTWARE\\Zq\\A"), u"Renamed");
             EXPECT_TRUE(t.Walk(ours.Hklm(), u"SOFTWARE\\Zq\\Renamed\\B"));
             return std::optional<KeyId>();  // not committed
         },
         u"SOFTWARE\\Zq\\Renamed\\B"},
        {"the same connection deletes the path",
         [](Db& ours, Db&) {
             Txn t(ours, Txn::Mode::Write);
             t.DeleteTree(*t.Walk(ours.Hklm(), u"SOFTWARE\\Zq\\A\\B"));
             t.Commit();
             return std::optional<KeyId>();
         },
         u"SOFTWARE\\Zq\\A\\B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto ours = Db::Current();
        Db other(ours->File());
        Make(*ours, u"SOFTWARE\\Zq\\A\\B");
        ASSERT_TRUE(WalkIn(*ours, u"SOFTWARE\\Zq\\A\\B"));  // remembered now
        const std::optional<KeyId> expected = c.change(*ours, other);
        EXPECT_EQ(WalkIn(*ours, c.path), expected);
        // Whatever the case left, the tree goes for the next one.
        Txn t(*ours, Txn::Mode::Write);
        if (auto zq = t.Walk(ours->Hklm(), u"SOFTWARE\\Zq")) t.DeleteTree(*zq);
        t.Commit();
    }
}

TEST_F(WalkMemoryTest, PathsSpelledInAnotherCaseFindTheSameKeys) {
    auto db = Db::Current();
    const KeyId b = Make(*db, u"SOFTWARE\\Zq\\Alpha\\Beta");
    const KeyId c = Make(*db, u"SOFTWARE\\Zq\\Alpha\\Gamma");
    Txn t(*db, Txn::Mode::Read);
    EXPECT_EQ(t.Walk(db->Hklm(), u"SOFTWARE\\Zq\\Alpha\\Beta"), b);
    EXPECT_EQ(t.Walk(db->Hklm(), u"software\\ZQ\\alpha\\BETA"), b);
    EXPECT_EQ(t.Walk(db->Hklm(), u"software\\\\ZQ\\alpha\\gamma"), c);
    EXPECT_EQ(t.Walk(db->Hklm(), u"SOFTWARE\\Zq\\Alpha\\Beta"), b);
    EXPECT_EQ(t.Walk(db->Hklm(), u"SOFTWARE\\Zq\\Alpha\\Bet"), std::nullopt);
    EXPECT_EQ(t.Walk(db->Hklm(), u"SOFTWARE\\Zq\\Alpha\\BetaX"), std::nullopt);
}

}  // namespace
