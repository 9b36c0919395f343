#include "base/fsutil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/text.h"

namespace zq::fsutil {

namespace {

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    }
}

}  // namespace

std::u16string FromUtf8(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        char32_t c = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        bool ok = extra >= 0 && i + extra < text.size() + (extra == 0 ? 1 : 0);
        for (int k = 1; ok && k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (t & 0x3F);
        }
        // A sequence longer than its character needs is not UTF-8: read as
        // one, C0 80 would put a NUL inside a name and C0 AF a '/'.
        static constexpr char32_t kLeast[4] = {0, 0x80, 0x800, 0x10000};
        if (ok && c < kLeast[extra]) ok = false;
        if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            // A byte that is not UTF-8 stands for itself (Latin-1), so that no
            // name is lost on the way.
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        AppendUtf16(out, c);
        i += 1 + extra;
    }
    return out;
}

std::string ToUtf8(std::u16string_view text) { return Utf16ToUtf8(text); }

std::u16string FromAnsi(std::string_view text) { return AnsiToWide(text); }
std::string ToAnsi(std::u16string_view text) { return WideToAnsi(text); }

char16_t FoldCase(char16_t c) { return ToUpper(c); }
bool EqualsNoCase(std::u16string_view a, std::u16string_view b) { return EqualsIgnoreCase(a, b); }
int CompareNoCase(std::u16string_view a, std::u16string_view b) { return CompareIgnoreCase(a, b); }

DWORD ErrorFromErrno(int err) {
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ELOOP: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV: return 17;  // ERROR_NOT_SAME_DEVICE
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EAGAIN:
    case EDEADLK: return ERROR_LOCK_VIOLATION;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOEXEC: return 193;  // ERROR_BAD_EXE_FORMAT
    case ESPIPE: return 132;   // ERROR_SEEK_ON_DEVICE
    default: return 31;        // ERROR_GEN_FAILURE
    }
}

bool FailErrno(int err) { return Fail(ErrorFromErrno(err)); }

bool AppendFile(const std::string& path, std::vector<uint8_t>& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const size_t start = out.size();
    auto readSome = [fd](uint8_t* to, size_t n) {
        for (;;) {
            const ssize_t got = ::read(fd, to, n);
            if (got >= 0 || errno != EINTR) return got;
        }
    };
    bool ok = true;
    // A regular file is read in one read of its size (a short one goes on).
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        size_t at = start;
        out.resize(start + static_cast<size_t>(st.st_size));
        while (at < out.size()) {
            const ssize_t got = readSome(out.data() + at, out.size() - at);
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            at += static_cast<size_t>(got);
        }
        out.resize(at);
    }
    // The rest: a pipe's bytes, or what a file gained since.
    uint8_t chunk[1 << 14];
    while (ok) {
        const ssize_t got = readSome(chunk, sizeof chunk);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        out.insert(out.end(), chunk, chunk + got);
    }
    ::close(fd);
    if (!ok) out.resize(start);
    return ok;
}

}  // namespace zq::fsutil
