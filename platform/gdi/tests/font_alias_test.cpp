// The faces that templates and documents name find the package's faces on
// any host, not whatever the host's fontconfig would pick.
#include <gtest/gtest.h>

#include "gdi/font.h"

namespace zq::gdi {
namespace {

TEST(FontAliases, NamedFacesFindTheLiberationFaces) {
    struct Case {
        const char* asked;
        const char* family;
    } cases[] = {
        {"Arial", "Liberation Sans"},          {"MS Shell Dlg", "Liberation Sans"},
        {"MS Shell Dlg 2", "Liberation Sans"}, {"MS Sans Serif", "Liberation Sans"},
        {"Tahoma", "Liberation Sans"},         {"Helvetica", "Liberation Sans"},
        {"Times New Roman", "Liberation Serif"}, {"Courier New", "Liberation Mono"},
        {"Liberation Serif", "Liberation Serif"},
    };
    for (const auto& c : cases) {
        for (bool bold : {false, true}) {
            const auto face = FindFont(c.asked, bold ? 700 : 400, false);
            ASSERT_TRUE(face) << c.asked;
            EXPECT_EQ(face->family, c.family) << c.asked;
            EXPECT_EQ(face->weight, bold ? 700 : 400) << c.asked;
        }
    }
}

}  // namespace
}  // namespace zq::gdi
