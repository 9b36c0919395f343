// Feeds arbitrary font files through the font reader (directory, collection
// lookup, character map, glyph locations, composites, metrics), both header
// writers and the glyph download of PCL 5 and PCL XL, outline and bitmap,
// then reads the PCL 5 job back. The first byte picks the family name asked
// for and the glyphs tried.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pclread/pclread.h"
#include "render/font_table.h"
#include "render/output.h"
#include "render/sfnt.h"
#include "render/tt_download.h"

namespace {

class KeepSink : public pclrend::Sink {
public:
    uint32_t Write(const uint8_t* b, uint32_t size) override {
        if (bytes.size() < (1u << 22)) bytes.insert(bytes.end(), b, b + size);
        return size;
    }
    std::vector<uint8_t> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace pclrend;
    if (size < 2) return 0;
    const uint8_t pick = data[0];
    // A copy exactly as large as the input: any read past it is a fault.
    const std::vector<uint8_t> file(data + 1, data + size);
    const std::u16string family = (pick & 1) ? u"WenQuanYi Micro Hei" : u"F";
    if (auto s = Sfnt::Resolve(file, family)) {
        s->Usable();
        for (uint32_t c : {0x41u, 0x20u, 0xF041u, 0xFFFFu, uint32_t{pick}}) s->MapCode(c);
        std::vector<uint16_t> parts;
        for (uint32_t g = 0; g < 8 && g < s->NumGlyphs(); ++g) {
            s->Glyph(g);
            s->Metrics(g);
            s->AllComponents(g, parts);
        }
        TrueTypeSource f;
        f.uniq = 1;
        f.file = file;
        f.family = family;
        f.unitsPerEm = 1000;
        f.xform = {0.05f, 0, 0, 0.05f};
        f.bitmap = [](uint32_t glyph, BitmapGlyph& out) {
            out.width = glyph % 17;
            out.height = glyph % 5;
            out.rows.assign((out.width + 7) / 8 * out.height, 0x5A);
            return true;
        };
        int format = 0;
        BuildPcl5TrueTypeHeader(*s, f, (pick & 2) != 0, kFirstSoftFontId, format);
        BuildXlTrueTypeHeader(*s);
        for (Language language : {Language::Pcl5Gl2, Language::PclXl}) {
            KeepSink sink;
            DeviceRecord r;
            if (!AllocateBuffers(r, false)) return 0;
            r.sink = &sink;
            r.jobState = kJobOpen;
            r.language = language;
            r.pageCount = 1;
            // The font table's entries are large (two glyph bitmaps each), and
            // the first ten already pass the sanitizer's pooled sizes: a table
            // made for every input is mapped and unmapped each time, which
            // costs more than the fonts. Its room is handed from one input to
            // the next, empty.
            static std::vector<DownloadedFontEntry> room;
            auto& entries = Downloads(r).entries;
            entries.swap(room);
            entries.clear();
            struct GiveBack {
                std::vector<DownloadedFontEntry>& from;
                ~GiveBack() {
                    from.clear();
                    from.swap(room);
                }
            } giveBack{entries};
            ResetDownloadedFonts(Downloads(r), (pick & 4) ? 1 : 0);
            for (uint32_t g : {uint32_t{0}, uint32_t{pick}, uint32_t{pick} * 61u, 5000u}) {
                GlyphCode code;
                EnsureGlyphDownloaded(r, f, (pick & 8) ? FontForm::Bitmap : FontForm::Outline, g, code);
            }
            SpoolFlush(r);
            if (language == Language::Pcl5Gl2) pclread::Read(sink.bytes);
        }
    }
    return 0;
}
