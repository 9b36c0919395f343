// ft_figures FONT...: FreeType's own figures of each font, one JSON line per
// font, for tests that
// compare the resident-font data against its source: units per em, ascender,
// descender, the OS/2 average width, the head revision and the advance of
// every character of its Unicode map, in font units.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H
#include FT_TRUETYPE_TABLES_H

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ft_figures FONT...\n");
        return 2;
    }
    FT_Library lib;
    if (FT_Init_FreeType(&lib) != 0) return 1;
    for (int arg = 1; arg < argc; ++arg) {
        FT_Face face;
        if (FT_New_Face(lib, argv[arg], 0, &face) != 0) {
            std::fprintf(stderr, "ft_figures: cannot open %s\n", argv[arg]);
            return 1;
        }
        const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
        const auto* head = static_cast<const TT_Header*>(FT_Get_Sfnt_Table(face, FT_SFNT_HEAD));
        std::printf("{\"unitsPerEm\": %d, \"ascender\": %d, \"descender\": %d, \"avgWidth\": %d, \"revision\": %.5f, "
                    "\"advances\": {",
                    face->units_per_EM, face->ascender, face->descender, os2 ? os2->xAvgCharWidth : -1,
                    head ? head->Font_Revision / 65536.0 : 0.0);
        FT_UInt glyph = 0;
        bool first = true;
        for (FT_ULong c = FT_Get_First_Char(face, &glyph); glyph != 0; c = FT_Get_Next_Char(face, c, &glyph)) {
            FT_Fixed advance = 0;
            if (c > 0xFFFF || FT_Get_Advance(face, glyph, FT_LOAD_NO_SCALE, &advance) != 0) continue;
            std::printf("%s\"%lu\": %ld", first ? "" : ", ", c, static_cast<long>(advance));
            first = false;
        }
        std::printf("}}\n");
        FT_Done_Face(face);
    }
    FT_Done_FreeType(lib);
    return 0;
}
