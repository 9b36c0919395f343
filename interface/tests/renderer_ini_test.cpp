// The renderer INI upkeep: a driver version's scratch file is applied to
// pclrend.ini once, rule by rule; a malformed rule stops the update, tells
// the user and leaves the version unrecorded.
#include <gtest/gtest.h>

#include <string>

#include "base/msgbox.h"
#include "base/paths.h"
#include "base/profile.h"
#include "base/text.h"
#include "interface/renderer_ini.h"
#include "testing/fresh_root.h"

namespace zq {
namespace {

class RendererIniTest : public testing::FreshRoot {
protected:
    // The scratch file beside the driver, as text.
    std::string Scratch(const std::string& text) {
        WriteHost("c/driver/pclrend$.ini", text);
        return "C:\\driver\\pclrend$.ini";
    }
    std::string Ini(const char* section, const char* key) {
        char buffer[256] = {};
        GetPrivateProfileStringA(section, key, "(none)", buffer, sizeof buffer, "pclrend.ini");
        return buffer;
    }
};

TEST_F(RendererIniTest, RulesApplyOncePerVersion) {
    WritePrivateProfileStringA("FontSubstitutes", "Arial", "Old", "pclrend.ini");
    WritePrivateProfileStringA("FontSubstitutes", "Courier", "Mono", "pclrend.ini");
    WritePrivateProfileStringA("ALIAS", "WINWORD", "Kept", "pclrend.ini");
    WritePrivateProfileStringA("Gone", "A", "1", "pclrend.ini");
    const std::string scratch = Scratch(
        "[pclrend]\ntag=drv\nver=5\n"
        "[UpdateControl]\n"
        "|REPLACE|0|pclrend.ini|FontSubstitutes|Arial=Helvetica\n"
        "|REMOVE|0|pclrend.ini|FontSubstitutes|Courier=\n"
        "|EXIST|0|pclrend.ini|ALIAS|WINWORD=WordSettings\n"
        "|EXIST|0|pclrend.ini|ALIAS|EXCEL=SheetSettings\n"
        "|NOTEXIST|0|pclrend.ini|ALIAS|WINWORD|REPLACE|0|pclrend.ini|ALIAS|NOTEPAD=Plain\n"
        "|NOTEXIST|0|pclrend.ini|ALIAS|NOBODY|REPLACE|0|pclrend.ini|ALIAS|WRITE=Never\n"
        "|REMOVE|0|pclrend.ini|Gone|*=\n"
        "|REPLACE|0|pclrend.ini|WordSettings|*=\n"
        "[pclrend.ini|WordSettings]\nGraphicMode=2\nMetaSpool=1\n"
        "[AdditionalFonts]\nf1=fonts\\extra.ttf\n");
    ScopedMessageBoxScript boxes;
    ASSERT_EQ(UpdateRendererIniFrom(scratch, u"Office", nullptr), 1);
    EXPECT_TRUE(MessageBoxService::Shown().empty());
    EXPECT_EQ(Ini("FontSubstitutes", "Arial"), "Helvetica");
    EXPECT_EQ(Ini("FontSubstitutes", "Courier"), "(none)");
    EXPECT_EQ(Ini("ALIAS", "WINWORD"), "Kept") << "EXIST writes only what is missing";
    EXPECT_EQ(Ini("ALIAS", "EXCEL"), "SheetSettings");
    EXPECT_EQ(Ini("ALIAS", "NOTEPAD"), "Plain") << "NOTEXIST goes on where the entry is there";
    EXPECT_EQ(Ini("ALIAS", "WRITE"), "(none)");
    EXPECT_EQ(Ini("Gone", "A"), "(none)");
    EXPECT_EQ(Ini("WordSettings", "GraphicMode"), "2");
    EXPECT_EQ(Ini("WordSettings", "MetaSpool"), "1");
    EXPECT_EQ(Ini("AdditionalFonts", "f1"), "C:\\driver\\fonts\\extra.ttf");
    EXPECT_EQ(Ini("pclrend", "drv"), "5");

    // The same version again changes nothing.
    WritePrivateProfileStringA("FontSubstitutes", "Arial", "Changed", "pclrend.ini");
    ASSERT_EQ(UpdateRendererIniFrom(scratch, u"Office", nullptr), 1);
    EXPECT_EQ(Ini("FontSubstitutes", "Arial"), "Changed");
}

TEST_F(RendererIniTest, MalformedRulesStopTheUpdateUnrecorded) {
    const char* const bad[] = {
        "|BOGUS|0|a|b|c=1\n",
        "|REPLACE|0|pclrend.ini|FontSubstitutes=1\n",
        "|REPLACE|0|pclrend.ini|FontSubstitutes|A|EXIST=1\n",
    };
    for (const char* rule : bad) {
        const std::string scratch =
            Scratch(std::string("[pclrend]\ntag=drv\nver=6\n[UpdateControl]\n") + rule);
        ScopedMessageBoxScript boxes;
        EXPECT_EQ(UpdateRendererIniFrom(scratch, u"Office", nullptr), 0) << rule;
        const auto shown = MessageBoxService::Shown();
        ASSERT_EQ(shown.size(), 1u) << rule;
        EXPECT_EQ(shown[0].text, "Failed to update initialization files.");
        EXPECT_EQ(shown[0].caption, "Office");
        EXPECT_EQ(Ini("pclrend", "drv"), "(none)") << rule;
    }
    // A differing version without rules is malformed too; no scratch file
    // at all is nothing to do.
    ScopedMessageBoxScript boxes;
    EXPECT_EQ(UpdateRendererIniFrom(Scratch("[pclrend]\ntag=drv\nver=7\n"), u"Office", nullptr), 0);
    EXPECT_EQ(UpdateRendererIniFrom("", u"Office", nullptr), 1);
    EXPECT_EQ(MessageBoxService::Shown().size(), 1u);
}

}  // namespace
}  // namespace zq
