#include <gtest/gtest.h>

#include "base/msgbox.h"
#include "user/dialog.h"
#include "user/recorders.h"

namespace {

TEST(Recorders, AMessageBoxDisablesItsOwnerWhileItIsUp) {
    zq::ScopedMessageBoxScript script;
    HWND owner = CreateWindowExW(0, WC_DIALOG, u"owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr, nullptr,
                                 nullptr, nullptr);
    bool enabledDuring = true;
    zq::MessageBoxService::SetHandler([&](const zq::MessageBoxRecord& r) -> std::optional<int> {
        enabledDuring = IsWindowEnabled(r.owner);
        return IDNO;
    });
    EXPECT_EQ(MessageBoxW(owner, u"Save?", u"Zelquor", MB_YESNO), IDNO);
    EXPECT_FALSE(enabledDuring);
    EXPECT_TRUE(IsWindowEnabled(owner));
    // An owner already disabled stays so.
    EnableWindow(owner, FALSE);
    MessageBoxW(owner, u"again", u"Zelquor", MB_OK);
    EXPECT_FALSE(IsWindowEnabled(owner));
    DestroyWindow(owner);
}

TEST(Recorders, HelpCallsAreRecorded) {
    zq::user::ResetRecorders();
    EXPECT_TRUE(WinHelpW(nullptr, u"ZQL5.HLP", HELP_CONTEXT, 1042));
    EXPECT_EQ(HtmlHelpW(nullptr, u"zql5.chm::/paper.htm", HH_DISPLAY_TOPIC, 0), nullptr);
    const auto r = zq::user::HelpRequests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_FALSE(r[0].html);
    EXPECT_EQ(r[0].file, "ZQL5.HLP");
    EXPECT_EQ(r[0].command, HELP_CONTEXT);
    EXPECT_EQ(r[0].data, 1042u);
    EXPECT_TRUE(r[1].html);
    EXPECT_EQ(r[1].file, "zql5.chm::/paper.htm");
}

TEST(Recorders, OpenFileAnswersAScriptedPathOrCancel) {
    zq::user::ResetRecorders();
    struct Case {
        std::optional<std::u16string> answer;
        DWORD bufferSize;
        BOOL ok;
        DWORD error;
    };
    const Case cases[] = {
        {u"C:\\forms\\letter.zqf", 260, TRUE, 0},
        {std::nullopt, 260, FALSE, 0},
        {u"C:\\forms\\letter.zqf", 8, FALSE, FNERR_BUFFERTOOSMALL},
    };
    for (const Case& c : cases) zq::user::QueueFileAnswer(c.answer);
    for (const Case& c : cases) {
        WCHAR file[260] = {};
        WCHAR title[64] = {};
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof(ofn);
        ofn.lpstrFilter = u"Forms\0*.zqf\0All files\0*.*\0";
        ofn.lpstrFile = file;
        ofn.nMaxFile = c.bufferSize;
        ofn.lpstrFileTitle = title;
        ofn.nMaxFileTitle = 64;
        ofn.lpstrTitle = u"Open form";
        EXPECT_EQ(GetOpenFileNameW(&ofn), c.ok);
        EXPECT_EQ(CommDlgExtendedError(), c.error);
        if (c.ok) {
            EXPECT_EQ(std::u16string(file), *c.answer);
            EXPECT_EQ(std::u16string(title), u"letter.zqf");
            EXPECT_EQ(ofn.nFileOffset, 9);
        }
        if (c.error == FNERR_BUFFERTOOSMALL) {
            EXPECT_EQ(file[0], 20);
        }
    }
    // Nothing queued: Cancel.
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof(ofn);
    EXPECT_FALSE(GetOpenFileNameW(&ofn));
    const auto r = zq::user::FileRequests();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].title, "Open form");
    EXPECT_EQ(r[0].filter, (std::vector<std::string>{"Forms", "*.zqf", "All files", "*.*"}));
    EXPECT_EQ(r[0].answer, "C:\\forms\\letter.zqf");
    EXPECT_EQ(r[1].answer, "");
}

}  // namespace
