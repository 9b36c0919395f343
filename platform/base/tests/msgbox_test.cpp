#include <gtest/gtest.h>

#include "base/diag.h"
#include "base/error.h"
#include "base/msgbox.h"

namespace {

TEST(MessageBox, PolicyAnswersWithTheDefaultButton) {
    zq::ScopedMessageBoxScript script;
    struct Case {
        UINT style;
        int answer;
    };
    const Case cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_ICONWARNING, IDOK},
        {MB_OK | MB_DEFBUTTON2, IDOK},  // no second button: the first
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_ABORTRETRYIGNORE, IDABORT},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
        {MB_RETRYCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_CANCELTRYCONTINUE | MB_DEFBUTTON3, IDCONTINUE},
    };
    for (const Case& c : cases) EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", c.style), c.answer) << c.style;
    EXPECT_EQ(zq::MessageBoxService::Shown().size(), std::size(cases));

    SetLastError(0);
    EXPECT_EQ(MessageBoxW(nullptr, u"text", u"caption", 0x7), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(MessageBox, ScriptedAnswersAreUsedInOrderAndEveryBoxIsRecorded) {
    zq::ScopedMessageBoxScript script;
    zq::DiagCapture log;
    zq::MessageBoxService::Queue(IDNO);
    zq::MessageBoxService::Queue(IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "Delete the overlay \"Logo\"?", "Zelquor", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(MessageBoxExW(nullptr, u"Retry?", nullptr, MB_RETRYCANCEL, 0x0407), IDCANCEL);
    EXPECT_EQ(MessageBoxW(nullptr, u"Done", u"Zelquor", MB_OK), IDOK);  // queue empty: policy

    const auto shown = zq::MessageBoxService::Shown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].caption, "Zelquor");
    EXPECT_EQ(shown[0].text, "Delete the overlay \"Logo\"?");
    EXPECT_EQ(shown[0].style, MB_YESNO | MB_ICONQUESTION);
    EXPECT_TRUE(shown[0].scripted);
    EXPECT_EQ(shown[1].caption, "Error");  // the caption of a box without one
    EXPECT_EQ(shown[1].languageId, 0x0407);
    EXPECT_FALSE(shown[2].scripted);

    const auto lines = log.Matching("MessageBox");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              "MessageBox: caption=\"Zelquor\" text=\"Delete the overlay \\\"Logo\\\"?\" style=0x24 answer=No "
              "(scripted)");
    EXPECT_NE(lines[2].find("answer=OK (policy)"), std::string::npos);
}

TEST(MessageBox, HandlerDecidesAndAnsiTextIsConverted) {
    zq::ScopedMessageBoxScript script;
    zq::MessageBoxService::SetHandler([](const zq::MessageBoxRecord& r) -> std::optional<int> {
        if (r.text.find("Stra\xC3\x9F" "e") != std::string::npos) return IDNO;
        return std::nullopt;
    });
    EXPECT_EQ(MessageBoxA(nullptr, "Stra\xDF" "e", "x", MB_YESNO), IDNO);  // 1252 text reaches the handler as UTF-8
    EXPECT_EQ(MessageBoxA(nullptr, "other", "x", MB_YESNO), IDYES);
}

TEST(MessageBox, PolicyDoesNotRetryForever) {
    zq::ScopedMessageBoxScript script;
    // A caller that asks again while the answer is Retry would never end
    // without a person; the policy gives up after a few rounds.
    int rounds = 0;
    while (MessageBoxW(nullptr, u"The printer is busy.", u"Zelquor", MB_RETRYCANCEL) == IDRETRY) ++rounds;
    EXPECT_EQ(rounds, 3);
    // A different box starts counting afresh.
    EXPECT_EQ(MessageBoxW(nullptr, u"Other", u"Zelquor", MB_RETRYCANCEL), IDRETRY);
}

TEST(MessageBox, BeepIsSilent) { EXPECT_TRUE(MessageBeep(MB_ICONWARNING)); }

}  // namespace
