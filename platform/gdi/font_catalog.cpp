// Finding fonts through fontconfig and describing them (IFIMETRICS) from
// their own tables.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

#include "base/root.h"
#include "base/text.h"
#include "gdi/font.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zq::gdi {

extern const char kFontsConf[];    // res/fonts.conf
extern const char kDeviceFaces[];  // settings/res/device_faces.txt

namespace {

// Fonts larger than this are not loaded whole (no font we use comes close).
constexpr std::streamoff kMaxFontFile = 64 << 20;

std::once_flag fcOnce;
std::mutex fcMutex;  // fontconfig's configuration is not safe for concurrent queries

// The host's configuration, then the package's own rules on top of it.
void InitFontconfig() {
    std::call_once(fcOnce, [] {
        FcInit();
        FcConfigParseAndLoadFromMemory(FcConfigGetCurrent(), reinterpret_cast<const FcChar8*>(kFontsConf), FcTrue);
    });
}

std::string GetString(FcPattern* p, const char* object) {
    FcChar8* s = nullptr;
    if (FcPatternGetString(p, object, 0, &s) == FcResultMatch && s) return reinterpret_cast<const char*>(s);
    return {};
}

}  // namespace

std::shared_ptr<FontFile> FontFile::Open(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return nullptr;
    std::streamoff size = in.tellg();
    if (size <= 0 || size > kMaxFontFile) return nullptr;
    auto file = std::shared_ptr<FontFile>(new FontFile());
    file->path_ = path;
    file->size_ = static_cast<size_t>(size);
    if (int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        void* map = ::mmap(nullptr, file->size_, PROT_READ, MAP_PRIVATE, fd, 0);
        ::close(fd);
        if (map != MAP_FAILED) {
            file->map_ = map;
            file->data_ = static_cast<const uint8_t*>(map);
            return file;
        }
    }
    in.seekg(0);
    file->bytes_.resize(file->size_);
    if (!in.read(reinterpret_cast<char*>(file->bytes_.data()), size)) return nullptr;
    file->data_ = file->bytes_.data();
    return file;
}

FontFile::~FontFile() {
    if (map_) ::munmap(map_, size_);
}

namespace {

// Fontconfig's answers, kept in the system root from one process to the
// next: starting fontconfig parses the host's whole configuration and maps
// every font directory's cache, which costs more than a page of text. The
// file names what its answers were made from (fontconfig's version, the
// package's rules, the environment that places the configuration, and each
// configuration file and font directory with its time, size and inode); any
// difference on the host throws every answer away. A question carries what
// fontconfig adds to it from the environment (languages, desktop, program
// name), so processes that differ there keep apart answers.
constexpr char kMatchesFile[] = "font-matches.cache";
constexpr char kMatchesHeader[] = "zq font matches 1";
constexpr size_t kMaxStoredMatches = 256;

struct StoredMatch {
    std::string path;
    int index = 0;
    std::string family, style;
    int weight = 400;
    bool italic = false;
};

struct MatchFile {
    std::filesystem::path root;  // where the answers below were read from
    bool read = false;
    std::map<std::string, StoredMatch> answers;  // by question
};

MatchFile& Matches() {
    static auto* file = new MatchFile;
    return *file;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> out;
    for (size_t at = 0;;) {
        const size_t tab = line.find('\t', at);
        out.push_back(line.substr(at, tab - at));
        if (tab == std::string::npos) return out;
        at = tab + 1;
    }
}

bool Plain(std::string_view s) { return s.find_first_of("\t\n\r") == std::string_view::npos; }

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// What a path is now: "-" when it is not there.
std::string PathState(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "-";
    return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
           std::to_string(st.st_size) + " " + std::to_string(st.st_ino);
}

// The environment that places fontconfig's configuration and fonts.
constexpr const char* kPlacingEnv[] = {"FONTCONFIG_FILE", "FONTCONFIG_PATH", "FONTCONFIG_SYSROOT", "HOME",
                                       "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"};

std::string VersionLine() {
    uint32_t hash = 2166136261u;  // FNV-1a of the package's rules
    for (const char* c = kFontsConf; *c; ++c) hash = (hash ^ static_cast<uint8_t>(*c)) * 16777619u;
    return "version\t" + std::to_string(FcGetVersion()) + "\t" + std::to_string(hash);
}

// The lines a file's answers are valid under, read from fontconfig once it
// has started: its configuration files (and the folders holding them), the
// folders it reads fonts from, and the user's files that would join them.
const std::vector<std::string>& CurrentStamp() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> out{VersionLine()};
        for (const char* name : kPlacingEnv) out.push_back(std::string("env\t") + name + "\t" + Env(name));
        std::set<std::string> paths;
        FcConfig* config = FcConfigGetCurrent();
        for (FcStrList* list : {FcConfigGetConfigFiles(config), FcConfigGetConfigDirs(config), FcConfigGetFontDirs(config)}) {
            if (!list) continue;
            while (FcChar8* s = FcStrListNext(list)) {
                std::string path(reinterpret_cast<const char*>(s));
                paths.insert(path);
                paths.insert(std::filesystem::path(path).parent_path().string());
            }
            FcStrListDone(list);
        }
        const std::string home = Env("HOME");
        const std::string xdg = Env("XDG_CONFIG_HOME").empty() ? home + "/.config" : Env("XDG_CONFIG_HOME");
        for (const std::string& p : {xdg + "/fontconfig", xdg + "/fontconfig/fonts.conf", xdg + "/fontconfig/conf.d",
                                     home + "/.fonts.conf", home + "/.fonts.conf.d"})
            paths.insert(p);
        for (const std::string& p : paths)
            if (!p.empty() && Plain(p)) out.push_back("path\t" + p + "\t" + PathState(p));
        return out;
    }();
    return lines;
}

// Whether a stamp line read from a file still holds on this host.
bool Holds(const std::string& line) {
    const auto f = SplitTabs(line);
    if (f.size() == 3 && f[0] == "version") return line == VersionLine();
    if (f.size() == 3 && f[0] == "env") {
        for (const char* name : kPlacingEnv)
            if (f[1] == name) return f[2] == Env(name);
        return false;
    }
    if (f.size() == 3 && f[0] == "path") return f[2] == PathState(f[1]);
    return false;
}

void ReadMatches(MatchFile& m, const std::filesystem::path& root) {
    m.root = root;
    m.read = true;
    m.answers.clear();
    if (root.empty()) return;
    std::ifstream in(root / kMatchesFile);
    std::string line;
    if (!std::getline(in, line) || line != kMatchesHeader) return;
    std::map<std::string, StoredMatch> answers;
    bool versioned = false;
    while (std::getline(in, line)) {
        if (line.rfind("match\t", 0) == 0) {
            const auto f = SplitTabs(line);
            if (f.size() != 11) return;
            StoredMatch s;
            s.path = f[5];
            s.index = std::atoi(f[6].c_str());
            s.family = f[7];
            s.style = f[8];
            s.weight = std::atoi(f[9].c_str());
            s.italic = f[10] == "1";
            answers[f[1] + "\t" + f[2] + "\t" + f[3] + "\t" + f[4]] = std::move(s);
        } else {
            if (!answers.empty() || !Holds(line)) return;  // stamp lines come first
            versioned |= line.rfind("version\t", 0) == 0;
        }
    }
    if (versioned) m.answers = std::move(answers);
}

// The file rewritten whole under a name of this process, then moved over
// the old one: a reader sees either file, never half of one. A root that
// cannot be written keeps no answers; fontconfig answers each time.
void WriteMatches(const MatchFile& m) {
    if (m.root.empty()) return;
    const std::filesystem::path final = m.root / kMatchesFile;
    const std::filesystem::path temp = m.root / (std::string(kMatchesFile) + "." + std::to_string(::getpid()));
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!out) return;
        out << kMatchesHeader << '\n';
        for (const std::string& line : CurrentStamp()) out << line << '\n';
        for (const auto& [question, s] : m.answers)
            out << "match\t" << question << '\t' << s.path << '\t' << s.index << '\t' << s.family << '\t' << s.style
                << '\t' << s.weight << '\t' << (s.italic ? 1 : 0) << '\n';
        if (!out.flush()) {
            out.close();
            std::error_code ec;
            std::filesystem::remove(temp, ec);
            return;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, final, ec);
    if (ec) std::filesystem::remove(temp, ec);
}

// A question as the file keeps it: the family, bold, italic, and what
// fontconfig adds to a pattern from the environment before matching.
std::string Question(const std::string& family, int weight, bool italic) {
    static const std::string program = [] {
        char exe[4096];
        const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
        return n > 0 ? std::filesystem::path(std::string(exe, static_cast<size_t>(n))).filename().string() : "";
    }();
    std::string langs = Env("FC_LANG");
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
        if (langs.empty()) langs = Env(name);
    return family + "\t" + (weight >= 600 ? "1" : "0") + "\t" + (italic ? "1" : "0") + "\t" + langs + "|" +
           Env("XDG_CURRENT_DESKTOP") + "|" + program;
}

std::optional<FontFace> FromStored(const StoredMatch& s) {
    FontFace face;
    face.file = FontFile::Open(s.path);
    if (!face.file) return std::nullopt;
    face.index = s.index;
    face.family = s.family;
    face.style = s.style;
    face.weight = s.weight;
    face.italic = s.italic;
    return face;
}

// Every DC realises its fonts afresh, and a page names the same few faces
// again and again: the answers (and the files read whole) are kept, a
// bounded number of them, so that a name asked once more costs neither a
// match nor a read of the file.
using KeptAnswers = std::map<std::tuple<std::string, bool, bool>, std::optional<FontFace>>;
KeptAnswers& Kept() {
    static auto* answers = new KeptAnswers;
    return *answers;
}

std::optional<FontFace> MatchWithFontconfig(const std::string& name, int weight, bool italic) {
    InitFontconfig();
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, weight >= 600 ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return std::nullopt;
    StoredMatch s;
    s.path = GetString(match, FC_FILE);
    int index = 0, fcWeight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    FcPatternGetInteger(match, FC_WEIGHT, 0, &fcWeight);
    FcPatternGetInteger(match, FC_SLANT, 0, &slant);
    s.family = GetString(match, FC_FAMILY);
    s.style = GetString(match, FC_STYLE);
    FcPatternDestroy(match);
    s.index = index & 0xFFFF;
    s.weight = fcWeight >= FC_WEIGHT_BOLD ? 700 : fcWeight >= FC_WEIGHT_DEMIBOLD ? 600 : 400;
    s.italic = slant != FC_SLANT_ROMAN;
    auto face = FromStored(s);
    if (!face) return std::nullopt;
    // Kept in the root for the processes that follow.
    const std::string question = Question(name, weight, italic);
    MatchFile& m = Matches();
    if (!m.root.empty() && SplitTabs(question).size() == 4 && question.find('\n') == std::string::npos &&
        Plain(s.path) && Plain(s.family) && Plain(s.style)) {
        // Bounded: documents naming ever new faces start the file afresh.
        if (m.answers.size() >= kMaxStoredMatches) m.answers.clear();
        m.answers[question] = s;
        WriteMatches(m);
    }
    return face;
}

}  // namespace

std::optional<FontFace> FindFont(std::string_view family, int weight, bool italic) {
    std::lock_guard lock(fcMutex);
    KeptAnswers& answers = Kept();
    auto key = std::make_tuple(std::string(family), weight >= 600, italic);
    if (auto it = answers.find(key); it != answers.end()) return it->second;
    if (answers.size() >= 64) answers.clear();
    auto& answer = answers[key];
    const std::string name(family);
    MatchFile& m = Matches();
    const std::filesystem::path root = ExistingSystemRoot();
    if (!m.read || m.root != root) ReadMatches(m, root);
    const std::string question = Question(name, weight, italic);
    if (auto it = m.answers.find(question); it != m.answers.end())
        if ((answer = FromStored(it->second))) return answer;
    return answer = MatchWithFontconfig(name, weight, italic);
}

void ForgetFontAnswers() {
    std::lock_guard lock(fcMutex);
    Kept().clear();
    Matches() = MatchFile{};
}

std::optional<FontFace> DeviceFaceSource(std::u16string_view family, int weight, bool italic) {
    struct Row {
        std::u16string face;
        int weight;
        bool italic;
        std::string path;
    };
    static const std::vector<Row> rows = [] {
        std::vector<Row> out;
        std::istringstream in(kDeviceFaces);
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '#') continue;
            std::vector<std::string> cols;
            for (size_t at = 0;;) {
                const size_t tab = line.find('\t', at);
                cols.push_back(line.substr(at, tab - at));
                if (tab == std::string::npos) break;
                at = tab + 1;
            }
            if (cols.size() != 8) continue;
            Row r;
            r.face.assign(cols[0].begin(), cols[0].end());
            // PCL style: posture in the low two bits; stroke weight from -7
            // (thin) through 0 (medium) to 7 (black).
            r.italic = (std::atoi(cols[2].c_str()) & 3) != 0;
            r.weight = std::clamp(400 + 100 * std::atoi(cols[3].c_str()), 100, 900);
            r.path = cols[6];
            out.push_back(std::move(r));
        }
        return out;
    }();
    // "Zel Sans (WE)": the face of the symbol set's variant is the face.
    if (family.size() > 3 && family.back() == u')') {
        if (const size_t open = family.rfind(u" ("); open != std::u16string_view::npos) family = family.substr(0, open);
    }
    const Row* best = nullptr;
    int bestScore = 0;
    for (const Row& r : rows) {
        if (r.face != family) continue;
        const int score = (r.italic == italic ? 0 : 10000) + std::abs(r.weight - weight);
        if (!best || score < bestScore) {
            best = &r;
            bestScore = score;
        }
    }
    if (!best) return std::nullopt;
    FontFace face;
    face.file = FontFile::Open(best->path);
    if (!face.file) return std::nullopt;
    face.family.assign(family.begin(), family.end());
    face.weight = best->weight;
    face.italic = best->italic;
    return face;
}

std::vector<std::string> FontFamilies() {
    InitFontconfig();
    std::lock_guard lock(fcMutex);
    std::set<std::string> names;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
    FcFontSet* set = FcFontList(nullptr, pattern, os);
    if (set) {
        for (int i = 0; i < set->nfont; ++i) {
            std::string f = GetString(set->fonts[i], FC_FAMILY);
            if (!f.empty()) names.insert(f);
        }
        FcFontSetDestroy(set);
    }
    FcObjectSetDestroy(os);
    FcPatternDestroy(pattern);
    return {names.begin(), names.end()};
}

std::vector<uint8_t> BuildIfiMetrics(const FontFace& face, void* ftFaceVoid) {
    auto ft = static_cast<FT_Face>(ftFaceVoid);
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(ft, FT_SFNT_OS2));
    auto* hhea = static_cast<TT_HoriHeader*>(FT_Get_Sfnt_Table(ft, FT_SFNT_HHEA));
    auto* head = static_cast<TT_Header*>(FT_Get_Sfnt_Table(ft, FT_SFNT_HEAD));
    auto* post = static_cast<TT_Postscript*>(FT_Get_Sfnt_Table(ft, FT_SFNT_POST));

    std::u16string family = Utf8ToUtf16(face.family);
    std::u16string style = Utf8ToUtf16(face.style.empty() ? "Regular" : face.style);
    std::u16string full = family + u" " + style;
    size_t names = (family.size() + 1 + style.size() + 1 + full.size() + 1 + full.size() + 1) * 2;
    size_t at = (sizeof(IFIMETRICS) + 7) / 8 * 8;
    size_t simAt = (at + names + 7) / 8 * 8;
    size_t total = simAt + sizeof(FONTSIM) + 3 * sizeof(FONTDIFF);
    std::vector<uint8_t> buf(total, 0);
    auto* ifi = reinterpret_cast<IFIMETRICS*>(buf.data());
    ifi->cjThis = static_cast<ULONG>(total);
    auto putName = [&](const std::u16string& s) {
        PTRDIFF off = static_cast<PTRDIFF>(at);
        std::memcpy(buf.data() + at, s.data(), s.size() * 2);
        at += (s.size() + 1) * 2;
        return off;
    };
    ifi = reinterpret_cast<IFIMETRICS*>(buf.data());
    ifi->dpwszFamilyName = putName(family);
    ifi->dpwszStyleName = putName(style);
    ifi->dpwszFaceName = putName(full);
    ifi->dpwszUniqueName = putName(full);

    bool fixed = post && post->isFixedPitch;
    ifi->jWinCharSet = 0;  // ANSI_CHARSET
    BYTE familyBits = 0x10;  // FF_ROMAN
    if (fixed) familyBits = 0x30;  // FF_MODERN
    else if (os2 && os2->panose[1] >= 11 && os2->panose[1] <= 13) familyBits = 0x20;  // sans serif: FF_SWISS
    ifi->jWinPitchAndFamily = static_cast<BYTE>(familyBits | (fixed ? 1 : 2));
    ifi->usWinWeight = os2 ? os2->usWeightClass : static_cast<USHORT>(face.weight);
    ifi->flInfo = FM_INFO_TECH_TRUETYPE | FM_INFO_ARB_XFORMS | FM_INFO_1BPP | FM_INFO_RETURNS_OUTLINES |
                  FM_INFO_RETURNS_BITMAPS | FM_INFO_RIGHT_HANDED | FM_INFO_NOT_CONTIGUOUS;
    if (fixed) ifi->flInfo |= FM_INFO_CONSTANT_WIDTH | FM_INFO_OPTICALLY_FIXED_PITCH;
    ifi->fsSelection = os2 ? static_cast<USHORT>(os2->fsSelection & 0x7F) : 0;
    ifi->fsType = os2 ? os2->fsType : 0;
    ifi->fwdUnitsPerEm = static_cast<FWORD>(ft->units_per_EM);
    ifi->fwdLowestPPEm = head ? static_cast<FWORD>(head->Lowest_Rec_PPEM) : 0;
    if (os2) {
        ifi->fwdWinAscender = static_cast<FWORD>(os2->usWinAscent);
        ifi->fwdWinDescender = static_cast<FWORD>(os2->usWinDescent);
        ifi->fwdTypoAscender = os2->sTypoAscender;
        ifi->fwdTypoDescender = os2->sTypoDescender;
        ifi->fwdTypoLineGap = os2->sTypoLineGap;
        ifi->fwdAveCharWidth = os2->xAvgCharWidth;
        ifi->fwdCapHeight = os2->version >= 2 ? os2->sCapHeight : 0;
        ifi->fwdXHeight = os2->version >= 2 ? os2->sxHeight : 0;
        ifi->fwdSubscriptXSize = os2->ySubscriptXSize;
        ifi->fwdSubscriptYSize = os2->ySubscriptYSize;
        ifi->fwdSubscriptXOffset = os2->ySubscriptXOffset;
        ifi->fwdSubscriptYOffset = os2->ySubscriptYOffset;
        ifi->fwdSuperscriptXSize = os2->ySuperscriptXSize;
        ifi->fwdSuperscriptYSize = os2->ySuperscriptYSize;
        ifi->fwdSuperscriptXOffset = os2->ySuperscriptXOffset;
        ifi->fwdSuperscriptYOffset = os2->ySuperscriptYOffset;
        ifi->fwdStrikeoutSize = os2->yStrikeoutSize;
        ifi->fwdStrikeoutPosition = os2->yStrikeoutPosition;
        ifi->wcFirstChar = os2->usFirstCharIndex;
        ifi->wcLastChar = os2->usLastCharIndex;
        ifi->wcDefaultChar = os2->version >= 2 && os2->usDefaultChar ? os2->usDefaultChar : u' ';
        ifi->wcBreakChar = os2->version >= 2 && os2->usBreakChar ? os2->usBreakChar : u' ';
        std::memcpy(ifi->achVendId, os2->achVendID, 4);
        std::memcpy(&ifi->panose, os2->panose, 10);
    }
    if (hhea) {
        ifi->fwdMacAscender = hhea->Ascender;
        ifi->fwdMacDescender = hhea->Descender;
        ifi->fwdMacLineGap = hhea->Line_Gap;
        ifi->fwdMaxCharInc = static_cast<FWORD>(hhea->advance_Width_Max);
        ifi->ptlCaret = {hhea->caret_Slope_Run, hhea->caret_Slope_Rise};
    } else {
        ifi->ptlCaret = {0, 1};
    }
    if (post) {
        ifi->fwdUnderscoreSize = post->underlineThickness;
        ifi->fwdUnderscorePosition = post->underlinePosition;
        ifi->lItalicAngle = static_cast<LONG>(post->italicAngle >> 16) * 10;  // tenths of a degree
    }
    ifi->chFirstChar = static_cast<BYTE>(std::min<unsigned>(ifi->wcFirstChar, 255));
    ifi->chLastChar = static_cast<BYTE>(std::min<unsigned>(ifi->wcLastChar, 255));
    ifi->chDefaultChar = static_cast<BYTE>(ifi->wcDefaultChar < 256 ? ifi->wcDefaultChar : ' ');
    ifi->chBreakChar = static_cast<BYTE>(ifi->wcBreakChar < 256 ? ifi->wcBreakChar : ' ');
    ifi->ptlBaseline = {1, 0};
    ifi->ptlAspect = {1, 1};
    if (head) ifi->rclFontBox = {head->xMin, head->yMax, head->xMax, head->yMin};

    // Simulations the face can take: bold for a face below bold, italic for
    // an upright face, and both.
    bool canBold = ifi->usWinWeight < 600, canItalic = !(ifi->fsSelection & FM_SEL_ITALIC);
    if (canBold || canItalic) {
        ifi->dpFontSim = static_cast<PTRDIFF>(simAt);
        auto* sim = reinterpret_cast<FONTSIM*>(buf.data() + simAt);
        size_t diffAt = simAt + sizeof(FONTSIM);
        auto diff = [&](PTRDIFF& slot, USHORT weight, USHORT sel, POINTL caret) {
            slot = static_cast<PTRDIFF>(diffAt - simAt);
            auto* d = reinterpret_cast<FONTDIFF*>(buf.data() + diffAt);
            d->usWinWeight = weight;
            d->fsSelection = sel;
            d->fwdAveCharWidth = static_cast<FWORD>(ifi->fwdAveCharWidth + (weight >= 700 ? ifi->fwdUnitsPerEm / 48 : 0));
            d->fwdMaxCharInc = static_cast<FWORD>(ifi->fwdMaxCharInc + (weight >= 700 ? ifi->fwdUnitsPerEm / 48 : 0));
            d->ptlCaret = caret;
            diffAt += sizeof(FONTDIFF);
        };
        USHORT baseSel = ifi->fsSelection & ~FM_SEL_REGULAR;
        if (canBold) diff(sim->dpBold, 700, baseSel | FM_SEL_BOLD, ifi->ptlCaret);
        if (canItalic) diff(sim->dpItalic, ifi->usWinWeight, baseSel | FM_SEL_ITALIC, {1, 5});
        if (canBold && canItalic) diff(sim->dpBoldItalic, 700, baseSel | FM_SEL_BOLD | FM_SEL_ITALIC, {1, 5});
    }
    return buf;
}

}  // namespace zq::gdi
