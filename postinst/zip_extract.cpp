#include "postinst/zip_extract.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "base/clock.h"
#include "base/error.h"
#include "base/files.h"
#include "postinst/debug_log.h"
#include "postinst/file_op.h"
#include "postinst/text.h"

namespace postinst {

namespace {

constexpr size_t kBufferSize = 16384;

// minizip's file functions over CreateFileA and its companions. minizip
// reads its headers a byte at a time; a read-ahead window keeps that from
// becoming a system call per byte.
struct ZipFile {
    HANDLE handle;
    bool error = false;
    uint64_t pos = 0;          // where minizip thinks the file is
    uint64_t windowStart = 0;  // file offset of window[0]
    std::vector<char> window;  // bytes read ahead from windowStart
    bool windowToEnd = false;  // the window ends where the file does
};

constexpr size_t kReadAhead = 8192;

bool ReadAt(ZipFile& f, uint64_t at, void* buffer, DWORD size, DWORD& got) {
    LONG high = static_cast<LONG>(at >> 32);
    if (SetFilePointer(f.handle, static_cast<LONG>(at & 0xFFFFFFFF), &high, FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
        GetLastError() != ERROR_SUCCESS)
        return false;
    return ReadFile(f.handle, buffer, size, &got, nullptr) != FALSE;
}

voidpf ZCALLBACK OpenHook(voidpf, const void* name, int mode) {
    if (!(mode & ZLIB_FILEFUNC_MODE_READ) || (mode & ZLIB_FILEFUNC_MODE_CREATE)) return nullptr;
    HANDLE h = CreateFileA(static_cast<const char*>(name), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    auto* f = new ZipFile;
    f->handle = h;
    return f;
}

uLong ZCALLBACK ReadHook(voidpf, voidpf stream, void* buffer, uLong size) {
    auto& f = *static_cast<ZipFile*>(stream);
    auto* out = static_cast<char*>(buffer);
    uLong done = 0;
    while (done < size) {
        if (f.pos >= f.windowStart && f.pos < f.windowStart + f.window.size()) {
            const size_t at = static_cast<size_t>(f.pos - f.windowStart);
            const size_t n = std::min<size_t>(size - done, f.window.size() - at);
            std::memcpy(out + done, f.window.data() + at, n);
            done += static_cast<uLong>(n);
            f.pos += n;
            continue;
        }
        if (f.windowToEnd && f.pos >= f.windowStart + f.window.size()) break;  // past the end
        DWORD got = 0;
        if (size - done >= kReadAhead) {  // a large read goes straight to the caller
            if (!ReadAt(f, f.pos, out + done, static_cast<DWORD>(size - done), got)) {
                f.error = true;
                break;
            }
            done += got;
            f.pos += got;
            break;
        }
        f.window.resize(kReadAhead);
        f.windowStart = f.pos;
        if (!ReadAt(f, f.pos, f.window.data(), kReadAhead, got)) {
            f.window.clear();
            f.windowToEnd = false;
            f.error = true;
            break;
        }
        f.window.resize(got);
        f.windowToEnd = got < kReadAhead;
        if (got == 0) break;
    }
    return done;
}

uLong ZCALLBACK WriteHook(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK TellHook(voidpf, voidpf stream) { return static_cast<ZipFile*>(stream)->pos; }

long ZCALLBACK SeekHook(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto& f = *static_cast<ZipFile*>(stream);
    if (origin == ZLIB_FILEFUNC_SEEK_SET) {
        f.pos = offset;
    } else if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
        f.pos += offset;
    } else {
        DWORD high = 0;
        const DWORD low = GetFileSize(f.handle, &high);
        if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return -1;
        f.pos = ((static_cast<uint64_t>(high) << 32) | low) + offset;
    }
    return 0;
}

int ZCALLBACK CloseHook(voidpf, voidpf stream) {
    auto* f = static_cast<ZipFile*>(stream);
    CloseHandle(f->handle);
    delete f;
    return 0;
}

int ZCALLBACK ErrorHook(voidpf, voidpf stream) { return static_cast<ZipFile*>(stream)->error ? 1 : 0; }

zlib_filefunc64_def Hooks() {
    zlib_filefunc64_def d{};
    d.zopen64_file = OpenHook;
    d.zread_file = ReadHook;
    d.zwrite_file = WriteHook;
    d.ztell64_file = TellHook;
    d.zseek64_file = SeekHook;
    d.zclose_file = CloseHook;
    d.zerror_file = ErrorHook;
    return d;
}

bool zip_extract_file(unzFile zip, const unz_file_info64& info, const std::string& path, std::vector<char>& buffer) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(info.tmu_date.tm_year);
    st.wMonth = static_cast<WORD>(info.tmu_date.tm_mon + 1);
    st.wDay = static_cast<WORD>(info.tmu_date.tm_mday);
    st.wHour = static_cast<WORD>(info.tmu_date.tm_hour);
    st.wMinute = static_cast<WORD>(info.tmu_date.tm_min);
    st.wSecond = static_cast<WORD>(info.tmu_date.tm_sec);
    FILETIME ft{};
    bool haveTime = SystemTimeToFileTime(&st, &ft) != FALSE;
    if (!haveTime)
        Log() << "zip_extract_file: unable to call SystemTimeToFileTime for " << path << "(Error: " << GetLastError()
              << ")" << End;
    if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
    PathObject out(path);
    FileOp::DirExists(out, true);
    // The entry is written beside its place under a temporary name and
    // renamed into place once it is whole.
    PathObject temp = get_temp_name(out);
    HANDLE file = temp.Empty() ? INVALID_HANDLE_VALUE
                               : CreateFileA(temp.FullPath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE;
    uint64_t total = 0;
    while (ok) {
        int got = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
        if (got < 0) ok = false;
        if (got <= 0) break;
        total += static_cast<uint64_t>(got);
        DWORD put = 0;
        if (!WriteFile(file, buffer.data(), static_cast<DWORD>(got), &put, nullptr) || put != static_cast<DWORD>(got))
            ok = false;
    }
    if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;  // a CRC that does not match
    if (total != info.uncompressed_size) ok = false;
    if (file != INVALID_HANDLE_VALUE) {
        if (ok && haveTime && !SetFileTime(file, &ft, &ft, &ft))
            Log() << "zip_extract_file: unable to call SetFileTime for " << path << " (Error: " << GetLastError() << ")"
                  << End;
        CloseHandle(file);
    }
    if (ok && !MoveFileExA(temp.FullPath().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) ok = false;
    if (!ok && !temp.Empty()) DeleteFileA(temp.FullPath().c_str());
    return ok;
}

// An archive of no entries is its end record alone, at offset 0, where
// minizip does not look for it.
bool IsEmptyArchive(const std::string& archive) {
    HANDLE h = CreateFileA(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    uint8_t record[23] = {};
    DWORD got = 0;
    ReadFile(h, record, sizeof record, &got, nullptr);
    CloseHandle(h);
    static const uint8_t kEmpty[22] = {'P', 'K', 5, 6};
    return got == 22 && std::memcmp(record, kEmpty, 22) == 0;
}

}  // namespace

bool IsSafeEntryName(const std::string& entry) {
    std::string name = entry;
    for (auto& c : name)
        if (c == '/') c = '\\';
    if (name.empty() || name.front() == '\\' || name.find(':') != std::string::npos) return false;
    Tokenizer parts(name, '\\', 0);
    std::string part;
    while (parts.NextToken(part))
        if (Trim(part) == ".." || Trim(part) == ".") return false;
    return true;
}

bool ZipListContents(const std::string& archive, int mode, const std::string& destination,
                     std::vector<std::string>* names) {
    if (archive.empty()) return false;
    std::vector<char> buffer;
    if (mode & kZipExtract) buffer.resize(kBufferSize);
    zlib_filefunc64_def hooks = Hooks();
    unzFile zip = unzOpen2_64(archive.c_str(), &hooks);
    if (!zip && IsEmptyArchive(archive)) {
        if (names && (mode & kZipList)) names->clear();
        return true;
    }
    if (!zip) {
        Log() << "ZipListContents: could not open zip file " << archive << End;
        return false;
    }
    unz_global_info64 global{};
    unzGetGlobalInfo64(zip, &global);
    if (names && (mode & kZipList)) names->assign(global.number_entry, "");
    bool allDone = true;
    size_t index = 0;
    for (int r = unzGoToFirstFile(zip); r == UNZ_OK; r = unzGoToNextFile(zip), ++index) {
        unz_file_info64 info{};
        char raw[1024] = {};
        if (unzGetCurrentFileInfo64(zip, &info, raw, sizeof raw - 1, nullptr, 0, nullptr, 0) != UNZ_OK) {
            allDone = false;
            continue;
        }
        std::string name = raw;
        for (auto& c : name)
            if (c == '/') c = '\\';
        if (names && (mode & kZipList) && index < names->size()) (*names)[index] = name;
        if (!(mode & kZipExtract)) continue;
        if (!IsSafeEntryName(name)) {
            Log() << "ZipListContents: entry " << name << " would leave " << destination << "; skipped" << End;
            allDone = false;
            continue;
        }
        std::string out = destination.empty() ? name : Format("%s\\%s", destination.c_str(), name.c_str());
        if (name.back() == '\\') {
            PathObject dir;
            dir.SetDir(out);
            if (!FileOp::DirExists(dir, true)) allDone = false;
            continue;
        }
        if (!zip_extract_file(zip, info, out, buffer)) allDone = false;
    }
    unzClose(zip);
    return allDone;
}

}  // namespace postinst
