#include "base/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <utility>

#include "base/fsutil.h"
#include "base/root.h"

namespace fs = std::filesystem;
using namespace zq::fsutil;

namespace zq {

namespace {

// Sharing marks: one byte each, far beyond any file's data.
constexpr off_t kShareBase = 0x7FFFFFFF00000000LL;
enum ShareMark : off_t { kReading = 0, kWriting, kDeleting, kDenyRead, kDenyWrite, kDenyDelete };

struct Range {
    off_t start;
    off_t length;
};

bool SetLock(int fd, short type, off_t start, off_t length) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// Whether another open file description holds a lock that conflicts with a
// lock of the given type on the range.
bool Conflicts(int fd, short type, off_t start, off_t length) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

bool MarkHeld(int fd, ShareMark mark) { return Conflicts(fd, F_WRLCK, kShareBase + mark, 1); }

class FileObject : public KernelObject {
public:
    int fd = -1;
    fs::path host;
    bool canRead = false;
    bool canWrite = false;
    bool lockWritable = false;  // the descriptor can hold write locks
    bool deleteOnClose = false;
    std::mutex lock;
    std::vector<Range> locked;

    ~FileObject() override {
        if (deleteOnClose) ::unlink(host.c_str());
        if (fd >= 0) ::close(fd);
    }
};

class FindObject : public KernelObject {
public:
    struct Entry {
        std::u16string name;
        DWORD attributes;
        FILETIME creation, access, write;
        uint64_t size;
    };
    std::mutex lock;
    std::vector<Entry> entries;
    size_t next = 0;
};

FILETIME ToFileTime(const struct timespec& ts) { return FileTimeFromUnix(ts.tv_sec, ts.tv_nsec); }

struct timespec ToTimespec(const FILETIME& ft) {
    const uint64_t v = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    constexpr int64_t kEpochDelta = 11644473600LL;
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(v / 10000000) - kEpochDelta);
    ts.tv_nsec = static_cast<long>((v % 10000000) * 100);
    return ts;
}

bool ReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

DWORD AttributesOf(const struct stat& st) {
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY | (ReadOnlyMode(st.st_mode) ? FILE_ATTRIBUTE_READONLY : 0);
    return ReadOnlyMode(st.st_mode) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

// ENOENT means a missing file only when its directory is there.
DWORD MissingError(const fs::path& host) {
    struct stat st {};
    if (::stat(host.parent_path().c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

DWORD ErrorFor(int err, const fs::path& host) {
    if (err == ENOENT) return MissingError(host);
    return ErrorFromErrno(err);
}

template <class Char>
std::optional<fs::path> Map(const Char* text) {
    if (!text) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    return MapPath(Widen(text));
}

struct OpenRequest {
    DWORD access = 0;
    DWORD share = 0;
    DWORD disposition = OPEN_EXISTING;
    DWORD flags = 0;
};

bool WantsRead(DWORD a) { return a & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE | FILE_READ_DATA); }
bool WantsWrite(DWORD a) { return a & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA); }
bool WantsDelete(DWORD a) { return a & (DELETE | GENERIC_ALL); }

// Takes this open's sharing marks, then looks for a conflicting open. Two
// racing opens may both see each other and both fail; neither can wrongly
// succeed.
bool ClaimSharing(int fd, const OpenRequest& r) {
    const bool read = WantsRead(r.access), write = WantsWrite(r.access), del = WantsDelete(r.access);
    // An open without data access (attributes, times) takes part in no
    // sharing check, as on Windows.
    if (!read && !write && !del) return true;
    const bool marks[6] = {read, write, del, !(r.share & FILE_SHARE_READ), !(r.share & FILE_SHARE_WRITE),
                           !(r.share & FILE_SHARE_DELETE)};
    // Neighbouring marks are taken as one range: the same locks, fewer calls.
    for (off_t m = 0; m < 6;) {
        if (!marks[m]) {
            ++m;
            continue;
        }
        off_t end = m;
        while (end < 6 && marks[end]) ++end;
        SetLock(fd, F_RDLCK, kShareBase + m, end - m);
        m = end;
    }
    // No other open holds any mark: nothing can conflict, and the marks
    // need not be asked one by one.
    if (!Conflicts(fd, F_WRLCK, kShareBase, 6)) return true;
    const bool conflict = (read && MarkHeld(fd, kDenyRead)) || (write && MarkHeld(fd, kDenyWrite)) ||
                          (del && MarkHeld(fd, kDenyDelete)) ||
                          (!(r.share & FILE_SHARE_READ) && MarkHeld(fd, kReading)) ||
                          (!(r.share & FILE_SHARE_WRITE) && MarkHeld(fd, kWriting)) ||
                          (!(r.share & FILE_SHARE_DELETE) && MarkHeld(fd, kDeleting));
    if (conflict) SetLock(fd, F_UNLCK, kShareBase, 6);
    return !conflict;
}

// Whether some open handle refuses to share deletion (or, with access, the
// given kind of access) of the file at host.
bool DeleteRefused(const fs::path& host) {
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const bool held = MarkHeld(fd, kDenyDelete);
    ::close(fd);
    return held;
}

std::shared_ptr<FileObject> OpenHost(const fs::path& host, const OpenRequest& r) {
    const bool read = WantsRead(r.access), write = WantsWrite(r.access);
    struct stat st {};
    bool exists = ::stat(host.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) {
        FailErrno(errno);
        return nullptr;
    }
    if (r.disposition < CREATE_NEW || r.disposition > TRUNCATE_EXISTING ||
        (r.disposition == TRUNCATE_EXISTING && !write)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (exists && S_ISDIR(st.st_mode)) {
        if (r.disposition == CREATE_NEW) return SetLastError(ERROR_FILE_EXISTS), nullptr;
        if (!(r.flags & FILE_FLAG_BACKUP_SEMANTICS) || write) return SetLastError(ERROR_ACCESS_DENIED), nullptr;
        auto dir = std::make_shared<FileObject>();
        dir->fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir->fd < 0) return FailErrno(errno), nullptr;
        dir->host = host;
        SetLastError(ERROR_SUCCESS);
        return dir;
    }
    if (exists && r.disposition == CREATE_NEW) return SetLastError(ERROR_FILE_EXISTS), nullptr;
    if (!exists && (r.disposition == OPEN_EXISTING || r.disposition == TRUNCATE_EXISTING))
        return SetLastError(MissingError(host)), nullptr;
    const bool truncate = exists && (r.disposition == CREATE_ALWAYS || r.disposition == TRUNCATE_EXISTING);
    // Read-only is the permission bits: enforced here because root ignores them.
    if (exists && ReadOnlyMode(st.st_mode) && (write || truncate || WantsDelete(r.access)))
        return SetLastError(ERROR_ACCESS_DENIED), nullptr;

    int base = (write || truncate) ? O_RDWR : O_RDONLY;
    base |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const mode_t mode = (r.flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    int fd = -1;
    int accessMode = base & O_ACCMODE;  // of the open that succeeded
    bool created = false;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        accessMode = base & O_ACCMODE;
        if (exists) {
            fd = ::open(host.c_str(), base);
            if (fd < 0 && errno == EACCES && base & O_RDWR && !read) {
                fd = ::open(host.c_str(), (base & ~O_RDWR) | O_WRONLY);
                accessMode = O_WRONLY;
            }
            if (fd < 0 && errno == ENOENT && r.disposition != OPEN_EXISTING && r.disposition != TRUNCATE_EXISTING) {
                exists = false;
                continue;
            }
        } else {
            fd = ::open(host.c_str(), base | O_CREAT | O_EXCL, mode);
            if (fd < 0 && errno == EEXIST && r.disposition != CREATE_NEW) {
                exists = true;
                continue;
            }
            created = fd >= 0;
        }
        if (fd < 0) {
            SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFor(errno, host));
            return nullptr;
        }
    }
    if (fd < 0) return SetLastError(ERROR_SHARING_VIOLATION), nullptr;
    // Opened without blocking (a FIFO must not hang the open); reads and
    // writes block. Of the flags F_SETFL changes only O_NONBLOCK was given.
    ::fcntl(fd, F_SETFL, 0);
    const int status = accessMode;

    auto file = std::make_shared<FileObject>();
    file->fd = fd;
    file->host = host;
    file->canRead = read;
    file->canWrite = write;
    file->lockWritable = (status & O_ACCMODE) != O_RDONLY;
    const bool markable = (status & O_ACCMODE) != O_WRONLY;
    if (markable && !ClaimSharing(fd, r)) {
        if (created) ::unlink(host.c_str());
        SetLastError(ERROR_SHARING_VIOLATION);
        return nullptr;
    }
    if (truncate) {
        const int rc = file->lockWritable ? ::ftruncate(fd, 0) : ::truncate(host.c_str(), 0);
        if (rc != 0) return FailErrno(errno), nullptr;
        if (r.disposition == CREATE_ALWAYS && (r.flags & FILE_ATTRIBUTE_READONLY)) ::fchmod(fd, st.st_mode & ~0222);
    }
    file->deleteOnClose = (r.flags & FILE_FLAG_DELETE_ON_CLOSE) != 0;
    SetLastError(exists && (r.disposition == CREATE_ALWAYS || r.disposition == OPEN_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                         : ERROR_SUCCESS);
    return file;
}

template <class Char>
HANDLE CreateFileT(const Char* name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    auto host = Map(name);
    if (!host) return INVALID_HANDLE_VALUE;
    auto file = OpenHost(*host, {access, share, disposition, flags});
    if (!file) return INVALID_HANDLE_VALUE;
    const DWORD err = GetLastError();
    HANDLE h = HandleTable::Add(std::move(file));
    SetLastError(err);
    return h;
}

HANDLE FromHfile(HFILE f) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(static_cast<uint32_t>(f))); }
HFILE ToHfile(HANDLE h) { return h == INVALID_HANDLE_VALUE ? HFILE_ERROR : static_cast<HFILE>(reinterpret_cast<uintptr_t>(h)); }

std::shared_ptr<FileObject> GetFile(HANDLE h) {
    auto f = HandleTable::Get<FileObject>(h);
    return f;
}

off_t Position(int fd) { return ::lseek(fd, 0, SEEK_CUR); }

bool RangeLockedByOther(FileObject& f, short type, off_t start, off_t length) {
    if (length <= 0) return false;
    return Conflicts(f.fd, type, start, length);
}

bool DeleteHost(const fs::path& host) {
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0) return Fail(ErrorFor(errno, host));
    if (S_ISDIR(st.st_mode) || (!S_ISLNK(st.st_mode) && ReadOnlyMode(st.st_mode))) return Fail(ERROR_ACCESS_DENIED);
    if (DeleteRefused(host)) return Fail(ERROR_SHARING_VIOLATION);
    if (::unlink(host.c_str()) != 0) return Fail(ErrorFor(errno, host));
    return true;
}

bool CopyHost(const fs::path& from, const fs::path& to, bool failIfExists) {
    auto src = OpenHost(from, {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, 0});
    if (!src) return false;
    struct stat st {};
    if (::fstat(src->fd, &st) != 0) return FailErrno(errno);
    if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    auto dst = OpenHost(to, {GENERIC_WRITE, 0, failIfExists ? CREATE_NEW : CREATE_ALWAYS, 0});
    if (!dst) return false;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(src->fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            dst->deleteOnClose = true;
            return FailErrno(err);
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(dst->fd, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                // A partial copy is worse than none.
                const int err = w < 0 ? errno : ENOSPC;
                dst->deleteOnClose = true;
                return FailErrno(err);
            }
            done += w;
        }
    }
    // Windows keeps the last-write time and the attributes of the source.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(dst->fd, times);
    if (ReadOnlyMode(st.st_mode)) ::fchmod(dst->fd, st.st_mode & 07777);
    SetLastError(ERROR_SUCCESS);
    return true;
}

std::mutex g_pendingLock;

bool AppendPending(DWORD flags, const std::u16string& from, const std::u16string& to) {
    const fs::path list = PendingRenamesFile();
    std::lock_guard g(g_pendingLock);
    const int fd = ::open(list.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return FailErrno(errno);
    ::flock(fd, LOCK_EX);
    const std::string line = std::to_string(flags) + "\t" + ToUtf8(from) + "\t" + ToUtf8(to) + "\n";
    const bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    const int err = errno;
    ::fsync(fd);
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return ok ? true : FailErrno(err);
}

bool MoveHost(const fs::path& from, const fs::path& to, DWORD flags) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return Fail(ErrorFor(errno, from));
    if (!S_ISDIR(st.st_mode) && DeleteRefused(from)) return Fail(ERROR_SHARING_VIOLATION);
    struct stat dt {};
    const bool destExists = ::lstat(to.c_str(), &dt) == 0;
    if (destExists) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
        if (S_ISDIR(dt.st_mode) || S_ISDIR(st.st_mode) || ReadOnlyMode(dt.st_mode)) return Fail(ERROR_ACCESS_DENIED);
        if (DeleteRefused(to)) return Fail(ERROR_SHARING_VIOLATION);
        if (::rename(from.c_str(), to.c_str()) == 0) return true;
    } else {
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
        if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
        if (errno == EINVAL && ::rename(from.c_str(), to.c_str()) == 0) return true;
    }
    if (errno != EXDEV) return Fail(ErrorFor(errno, errno == ENOENT ? to : from));
    if (!(flags & MOVEFILE_COPY_ALLOWED) || S_ISDIR(st.st_mode)) return Fail(ERROR_NOT_SAME_DEVICE);
    if (!CopyHost(from, to, !(flags & MOVEFILE_REPLACE_EXISTING))) return false;
    if (::unlink(from.c_str()) != 0) return FailErrno(errno);
    return true;
}

template <class Char>
BOOL MoveFileExT(const Char* existing, const Char* newName, DWORD flags) {
    if (!existing) return Fail(ERROR_INVALID_PARAMETER);
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        if (flags & MOVEFILE_COPY_ALLOWED) return Fail(ERROR_INVALID_PARAMETER);
        auto from = FullWindowsPath(Widen(existing));
        if (!from || !MapPath(*from)) return FALSE;
        std::u16string to;
        if (newName && *newName) {
            auto full = FullWindowsPath(Widen(newName));
            if (!full || !MapPath(*full)) return FALSE;
            to = *full;
        }
        // A directory keeps its trailing backslash so that the restart
        // removes it as one.
        const auto raw = Widen(existing);
        if (!raw.empty() && (raw.back() == u'\\' || raw.back() == u'/') && from->back() != u'\\') *from += u'\\';
        return AppendPending(flags, *from, to);
    }
    if (!newName) return Fail(ERROR_INVALID_PARAMETER);
    auto from = Map(existing);
    if (!from) return FALSE;
    auto to = Map(newName);
    if (!to) return FALSE;
    return MoveHost(*from, *to, flags);
}

template <class Char>
DWORD GetAttributesT(const Char* name) {
    auto host = Map(name);
    if (!host) return INVALID_FILE_ATTRIBUTES;
    struct stat st {};
    if (::stat(host->c_str(), &st) != 0) {
        SetLastError(ErrorFor(errno, *host));
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(st);
}

template <class Char>
BOOL SetAttributesT(const Char* name, DWORD attributes) {
    auto host = Map(name);
    if (!host) return FALSE;
    struct stat st {};
    if (::stat(host->c_str(), &st) != 0) return Fail(ErrorFor(errno, *host));
    if (S_ISDIR(st.st_mode)) return TRUE;  // directories keep their permissions
    mode_t mode = st.st_mode & 07777;
    mode = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~0222) : (mode | S_IWUSR);
    if (::chmod(host->c_str(), mode) != 0) return FailErrno(errno);
    return TRUE;
}

template <class Char>
BOOL CreateDirectoryT(const Char* path) {
    auto host = Map(path);
    if (!host) return FALSE;
    if (::mkdir(host->c_str(), 0777) != 0) return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFor(errno, *host));
    return TRUE;
}

template <class Char>
BOOL RemoveDirectoryT(const Char* path) {
    auto host = Map(path);
    if (!host) return FALSE;
    struct stat st {};
    if (::lstat(host->c_str(), &st) != 0) return Fail(ErrorFor(errno, *host));
    if (!S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
    if (ReadOnlyMode(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (::rmdir(host->c_str()) != 0) return Fail(ErrorFor(errno, *host));
    return TRUE;
}

bool MatchFrom(std::u16string_view name, std::u16string_view pattern) {
    // Iterative match of "*" and "?" with one backtrack point.
    size_t n = 0, p = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

template <class Data>
void FillFindData(const FindObject::Entry& e, Data* data) {
    std::memset(data, 0, sizeof(*data));
    data->dwFileAttributes = e.attributes;
    data->ftCreationTime = e.creation;
    data->ftLastAccessTime = e.access;
    data->ftLastWriteTime = e.write;
    data->nFileSizeHigh = static_cast<DWORD>(e.size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(e.size);
    if constexpr (sizeof(data->cFileName[0]) == 1) {
        const std::string name = ToAnsi(e.name);
        name.copy(data->cFileName, std::min<size_t>(name.size(), MAX_PATH - 1));
    } else {
        e.name.copy(data->cFileName, std::min<size_t>(e.name.size(), MAX_PATH - 1));
    }
}

template <class Char, class Data>
HANDLE FindFirstT(const Char* patternText, Data* data) {
    if (!patternText || !data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string text = Widen(patternText);
    const size_t cut = text.find_last_of(u"\\/");
    std::u16string dir = cut == text.npos ? u"." : text.substr(0, cut + 1);
    std::u16string pattern = cut == text.npos ? text : text.substr(cut + 1);
    if (cut == text.npos && text.size() >= 2 && text[1] == u':') {
        dir = text.substr(0, 2);
        pattern = text.substr(2);
    }
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto fullDir = FullWindowsPath(dir);
    if (!fullDir) return INVALID_HANDLE_VALUE;
    auto host = MapPath(*fullDir);
    if (!host) return INVALID_HANDLE_VALUE;
    struct stat dst {};
    if (::stat(host->c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FindObject>();
    auto add = [&](std::u16string name, const fs::path& at) {
        if (!MatchesPattern(name, pattern)) return;
        struct stat st {};
        if (::stat(at.c_str(), &st) != 0 && ::lstat(at.c_str(), &st) != 0) return;
        struct stat link {};
        const DWORD reparse = ::lstat(at.c_str(), &link) == 0 && S_ISLNK(link.st_mode) ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
        find->entries.push_back({std::move(name), AttributesOf(st) | reparse, ToFileTime(st.st_mtim), ToFileTime(st.st_atim),
                                 ToFileTime(st.st_mtim), S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size)});
    };
    // A drive's or share's root has no "." and ".." entries.
    const bool isRoot = fullDir->size() <= 3 || (fullDir->rfind(u"\\\\", 0) == 0 && std::count(fullDir->begin(), fullDir->end(), u'\\') <= 4);
    std::vector<std::pair<std::u16string, fs::path>> names;
    std::error_code ec;
    for (fs::directory_iterator it(*host, ec), end; !ec && it != end; it.increment(ec))
        names.emplace_back(FromUtf8(it->path().filename().string()), it->path());
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) {
        const int c = CompareNoCase(a.first, b.first);
        return c != 0 ? c < 0 : a.first < b.first;
    });
    if (!isRoot) {
        add(u".", *host);
        add(u"..", host->parent_path());
    }
    for (auto& [name, at] : names) add(std::move(name), at);
    if (find->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    FillFindData(find->entries[0], data);
    find->next = 1;
    SetLastError(ERROR_SUCCESS);
    return HandleTable::Add(std::move(find));
}

template <class Data>
BOOL FindNextT(HANDLE h, Data* data) {
    auto find = HandleTable::Get<FindObject>(h);
    if (!find) return FALSE;
    if (!data) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard g(find->lock);
    if (find->next >= find->entries.size()) return Fail(ERROR_NO_MORE_FILES);
    FillFindData(find->entries[find->next++], data);
    return TRUE;
}

// OpenFile finds a bare name that is not in the current directory in the
// Windows directory, then in the system directory, as Windows does.
std::u16string OpenFileTarget(std::u16string_view name, bool search) {
    std::u16string full = FullWindowsPath(name).value_or(std::u16string(name));
    if (!search || name.find_first_of(u"\\/:") != name.npos) return full;
    struct stat st {};
    for (const auto& candidate : {full, WindowsDirectory() + u"\\" + std::u16string(name),
                                  SystemDirectory() + u"\\" + std::u16string(name)}) {
        auto host = MapPath(candidate);
        if (host && ::stat(host->c_str(), &st) == 0) return candidate;
    }
    return full;
}

DWORD ShareFromStyle(UINT style) {
    switch (style & 0x70) {
    case OF_SHARE_EXCLUSIVE: return 0;
    case OF_SHARE_DENY_WRITE: return FILE_SHARE_READ;
    case OF_SHARE_DENY_READ: return FILE_SHARE_WRITE;
    default: return FILE_SHARE_READ | FILE_SHARE_WRITE;  // compatibility mode and deny-none
    }
}

DWORD AccessFromStyle(UINT style) {
    switch (style & 3) {
    case OF_WRITE: return GENERIC_WRITE;
    case OF_READWRITE: return GENERIC_READ | GENERIC_WRITE;
    default: return GENERIC_READ;
    }
}

}  // namespace

FILETIME FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
    const uint64_t v = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL + static_cast<uint64_t>(nanoseconds / 100);
    return {static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

bool MatchesPattern(std::u16string_view name, std::u16string_view pattern) {
    if (MatchFrom(name, pattern)) return true;
    // "x.*" also matches "x"; "x." matches "x" (a name without extension).
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == u".*" && name.find(u'.') == name.npos)
        return MatchFrom(name, pattern.substr(0, pattern.size() - 2));
    if (!pattern.empty() && pattern.back() == u'.' && name.find(u'.') == name.npos)
        return MatchFrom(name, pattern.substr(0, pattern.size() - 1));
    return false;
}

namespace {
std::atomic<bool> g_durable{true};
}  // namespace

void SetDurableWrites(bool on) { g_durable.store(on, std::memory_order_relaxed); }
bool DurableWrites() { return g_durable.load(std::memory_order_relaxed); }
bool SyncIfDurable(int fd) { return !DurableWrites() || ::fsync(fd) == 0; }

fs::path PendingRenamesFile() { return SystemRoot() / "pending-file-renames.txt"; }

std::vector<PendingRename> PendingRenames() {
    std::vector<PendingRename> out;
    std::ifstream in(PendingRenamesFile());
    std::string line;
    while (std::getline(in, line)) {
        const auto t1 = line.find('\t');
        const auto t2 = t1 == line.npos ? line.npos : line.find('\t', t1 + 1);
        if (t2 == line.npos) continue;
        PendingRename r;
        r.flags = static_cast<DWORD>(std::strtoul(line.substr(0, t1).c_str(), nullptr, 10));
        r.source = FromUtf8(line.substr(t1 + 1, t2 - t1 - 1));
        r.destination = FromUtf8(line.substr(t2 + 1));
        out.push_back(std::move(r));
    }
    return out;
}

bool ApplyPendingRenames() {
    std::lock_guard g(g_pendingLock);
    const fs::path list = PendingRenamesFile();
    const int fd = ::open(list.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    ::flock(fd, LOCK_EX);
    bool ok = true;
    for (const auto& r : PendingRenames()) {
        auto from = MapPath(r.source);
        if (!from) {
            ok = false;
            continue;
        }
        std::error_code ec;
        if (r.destination.empty()) {
            if (!fs::remove(*from, ec) || ec) ok = false;
            continue;
        }
        auto to = MapPath(r.destination);
        if (!to || !MoveHost(*from, *to, (r.flags & MOVEFILE_REPLACE_EXISTING) | MOVEFILE_COPY_ALLOWED)) ok = false;
    }
    if (::ftruncate(fd, 0) != 0) ok = false;
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return ok;
}

}  // namespace zq

using namespace zq;

extern "C" {

HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE) {
    return CreateFileT(fileName, access, shareMode, disposition, flagsAndAttributes);
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD flagsAndAttributes, HANDLE) {
    return CreateFileT(fileName, access, shareMode, disposition, flagsAndAttributes);
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    if (read) *read = 0;
    auto f = GetFile(h);
    if (!f) return FALSE;
    if (!f->canRead) return Fail(ERROR_ACCESS_DENIED);
    if (!buffer && toRead) return Fail(ERROR_INVALID_PARAMETER);
    if (RangeLockedByOther(*f, F_RDLCK, Position(f->fd), toRead)) return Fail(ERROR_LOCK_VIOLATION);
    DWORD done = 0;
    while (done < toRead) {
        const ssize_t n = ::read(f->fd, static_cast<char*>(buffer) + done, toRead - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FailErrno(errno);
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    if (read) *read = done;
    return TRUE;
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
    if (written) *written = 0;
    auto f = GetFile(h);
    if (!f) return FALSE;
    if (!f->canWrite) return Fail(ERROR_ACCESS_DENIED);
    if (!buffer && toWrite) return Fail(ERROR_INVALID_PARAMETER);
    if (RangeLockedByOther(*f, F_WRLCK, Position(f->fd), toWrite)) return Fail(ERROR_LOCK_VIOLATION);
    DWORD done = 0;
    while (done < toWrite) {
        const ssize_t n = ::write(f->fd, static_cast<const char*>(buffer) + done, toWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (written) *written = done;
            return FailErrno(n < 0 ? errno : ENOSPC);
        }
        done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    return TRUE;
}

DWORD SetFilePointer(HANDLE h, LONG distance, LONG* distanceHigh, DWORD method) {
    auto f = GetFile(h);
    if (!f) return INVALID_SET_FILE_POINTER;
    int64_t move = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                       static_cast<uint32_t>(distance))
                                : static_cast<int64_t>(distance);
    int64_t base = 0;
    if (method == FILE_CURRENT) {
        base = Position(f->fd);
    } else if (method == FILE_END) {
        struct stat st {};
        if (::fstat(f->fd, &st) != 0) return FailErrno(errno), INVALID_SET_FILE_POINTER;
        base = st.st_size;
    } else if (method != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    const int64_t target = base + move;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (::lseek(f->fd, target, SEEK_SET) < 0) return FailErrno(errno), INVALID_SET_FILE_POINTER;
    if (distanceHigh) *distanceHigh = static_cast<LONG>(target >> 32);
    SetLastError(ERROR_SUCCESS);  // a low part of 0xFFFFFFFF is then no failure
    return static_cast<DWORD>(target);
}

BOOL SetEndOfFile(HANDLE h) {
    auto f = GetFile(h);
    if (!f) return FALSE;
    if (!f->canWrite) return Fail(ERROR_ACCESS_DENIED);
    if (::ftruncate(f->fd, Position(f->fd)) != 0) return FailErrno(errno);
    return TRUE;
}

DWORD GetFileSize(HANDLE h, LPDWORD sizeHigh) {
    auto f = GetFile(h);
    if (!f) return INVALID_FILE_SIZE;
    struct stat st {};
    if (::fstat(f->fd, &st) != 0) return FailErrno(errno), INVALID_FILE_SIZE;
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(st.st_size);
}

BOOL FlushFileBuffers(HANDLE h) {
    auto f = GetFile(h);
    if (!f) return FALSE;
    if (::fsync(f->fd) != 0 && errno != EINVAL) return FailErrno(errno);
    return TRUE;
}

BOOL GetFileTime(HANDLE h, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
    auto f = GetFile(h);
    if (!f) return FALSE;
    struct statx sx {};
    if (::statx(f->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return FailErrno(errno);
    auto conv = [](const struct statx_timestamp& t) { return FileTimeFromUnix(t.tv_sec, t.tv_nsec); };
    if (creation) *creation = (sx.stx_mask & STATX_BTIME) ? conv(sx.stx_btime) : conv(sx.stx_mtime);
    if (lastAccess) *lastAccess = conv(sx.stx_atime);
    if (lastWrite) *lastWrite = conv(sx.stx_mtime);
    return TRUE;
}

BOOL SetFileTime(HANDLE h, const FILETIME*, const FILETIME* lastAccess, const FILETIME* lastWrite) {
    auto f = GetFile(h);
    if (!f) return FALSE;
    // The host keeps no settable creation time; it is left as it is.
    struct timespec times[2];
    times[0] = lastAccess ? ToTimespec(*lastAccess) : timespec{0, UTIME_OMIT};
    times[1] = lastWrite ? ToTimespec(*lastWrite) : timespec{0, UTIME_OMIT};
    if (::futimens(f->fd, times) != 0) return FailErrno(errno);
    return TRUE;
}

BOOL LockFile(HANDLE h, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
    auto f = GetFile(h);
    if (!f) return FALSE;
    const uint64_t start = (static_cast<uint64_t>(offsetHigh) << 32) | offsetLow;
    const uint64_t length = (static_cast<uint64_t>(lengthHigh) << 32) | lengthLow;
    if (length == 0 || start + length > static_cast<uint64_t>(kShareBase)) return Fail(ERROR_INVALID_PARAMETER);
    std::lock_guard g(f->lock);
    // Windows locks do not stack: a range overlapping one of this handle's
    // own locks is refused as well.
    for (const auto& r : f->locked)
        if (static_cast<uint64_t>(r.start) < start + length && start < static_cast<uint64_t>(r.start + r.length))
            return Fail(ERROR_LOCK_VIOLATION);
    const Range range{static_cast<off_t>(start), static_cast<off_t>(length)};
    if (!SetLock(f->fd, f->lockWritable ? F_WRLCK : F_RDLCK, range.start, range.length)) return Fail(ERROR_LOCK_VIOLATION);
    f->locked.push_back(range);
    return TRUE;
}

BOOL UnlockFile(HANDLE h, DWORD offsetLow, DWORD offsetHigh, DWORD lengthLow, DWORD lengthHigh) {
    auto f = GetFile(h);
    if (!f) return FALSE;
    const off_t start = static_cast<off_t>((static_cast<uint64_t>(offsetHigh) << 32) | offsetLow);
    const off_t length = static_cast<off_t>((static_cast<uint64_t>(lengthHigh) << 32) | lengthLow);
    std::lock_guard g(f->lock);
    auto it = std::find_if(f->locked.begin(), f->locked.end(),
                           [&](const Range& r) { return r.start == start && r.length == length; });
    if (it == f->locked.end()) return Fail(ERROR_NOT_LOCKED);
    SetLock(f->fd, F_UNLCK, start, length);
    f->locked.erase(it);
    return TRUE;
}

HFILE OpenFile(LPCSTR fileName, OFSTRUCT* info, UINT style) {
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HFILE_ERROR;
    }
    const std::u16string name = (style & OF_REOPEN) ? FromAnsi(info->szPathName) : FromAnsiZ(fileName);
    std::memset(info, 0, sizeof(*info));
    info->cBytes = sizeof(OFSTRUCT);
    info->fFixedDisk = 1;
    auto fail = [&](DWORD code) {
        SetLastError(code);
        info->nErrCode = static_cast<WORD>(code);
        return HFILE_ERROR;
    };
    if (name.empty()) return fail(ERROR_FILE_NOT_FOUND);
    const bool search = !(style & (OF_CREATE | OF_DELETE | OF_PARSE));
    const std::u16string target = OpenFileTarget(name, search);
    const std::string ansi = ToAnsi(target);
    if (ansi.size() >= OFS_MAXPATHNAME) return fail(ERROR_FILENAME_EXCED_RANGE);
    ansi.copy(info->szPathName, ansi.size());
    if (style & OF_PARSE) return 0;
    if (style & OF_DELETE) return DeleteFileW(target.c_str()) ? 1 : fail(GetLastError());
    const DWORD disposition = (style & OF_CREATE) ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE h = CreateFileW(target.c_str(), AccessFromStyle(style), ShareFromStyle(style), nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail(GetLastError());
    if (style & OF_EXIST) {
        // The file is closed again; the result only says that it exists.
        CloseHandle(h);
        SetLastError(ERROR_SUCCESS);
        return 1;
    }
    SetLastError(ERROR_SUCCESS);
    return ToHfile(h);
}

HFILE _lopen(LPCSTR path, int mode) {
    const UINT style = static_cast<UINT>(mode);
    return ToHfile(CreateFileA(path, AccessFromStyle(style), ShareFromStyle(style), nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
}

HFILE _lcreat(LPCSTR path, int attributes) {
    return ToHfile(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               CREATE_ALWAYS, static_cast<DWORD>(attributes) & FILE_ATTRIBUTE_READONLY, nullptr));
}

UINT _lread(HFILE file, LPVOID buffer, UINT count) {
    DWORD read = 0;
    if (!ReadFile(FromHfile(file), buffer, count, &read, nullptr)) return static_cast<UINT>(HFILE_ERROR);
    return read;
}

UINT _lwrite(HFILE file, LPCSTR buffer, UINT count) {
    if (count == 0) return SetEndOfFile(FromHfile(file)) ? 0 : static_cast<UINT>(HFILE_ERROR);
    DWORD written = 0;
    if (!WriteFile(FromHfile(file), buffer, count, &written, nullptr)) return static_cast<UINT>(HFILE_ERROR);
    return written;
}

LONG _llseek(HFILE file, LONG offset, int origin) {
    const DWORD pos = SetFilePointer(FromHfile(file), offset, nullptr, static_cast<DWORD>(origin));
    if (pos == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) return HFILE_ERROR;
    return static_cast<LONG>(pos);
}

HFILE _lclose(HFILE file) { return CloseHandle(FromHfile(file)) ? 0 : HFILE_ERROR; }

BOOL DeleteFileA(LPCSTR fileName) {
    auto host = Map(fileName);
    return host && DeleteHost(*host);
}

BOOL DeleteFileW(LPCWSTR fileName) {
    auto host = Map(fileName);
    return host && DeleteHost(*host);
}

BOOL CopyFileA(LPCSTR existing, LPCSTR newName, BOOL failIfExists) {
    auto from = Map(existing);
    if (!from) return FALSE;
    auto to = Map(newName);
    return to && CopyHost(*from, *to, failIfExists);
}

BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists) {
    auto from = Map(existing);
    if (!from) return FALSE;
    auto to = Map(newName);
    return to && CopyHost(*from, *to, failIfExists);
}

// MoveFile moves files across devices by copying, as Windows does.
BOOL MoveFileA(LPCSTR existing, LPCSTR newName) { return MoveFileExT(existing, newName, MOVEFILE_COPY_ALLOWED); }
BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName) { return MoveFileExT(existing, newName, MOVEFILE_COPY_ALLOWED); }
BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) { return MoveFileExT(existing, newName, flags); }
BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) { return MoveFileExT(existing, newName, flags); }

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) { return CreateDirectoryT(path); }
BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) { return CreateDirectoryT(path); }
BOOL RemoveDirectoryA(LPCSTR path) { return RemoveDirectoryT(path); }
BOOL RemoveDirectoryW(LPCWSTR path) { return RemoveDirectoryT(path); }
DWORD GetFileAttributesA(LPCSTR fileName) { return GetAttributesT(fileName); }
DWORD GetFileAttributesW(LPCWSTR fileName) { return GetAttributesT(fileName); }
BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes) { return SetAttributesT(fileName, attributes); }
BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes) { return SetAttributesT(fileName, attributes); }

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) { return FindFirstT(pattern, data); }
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) { return FindFirstT(pattern, data); }
BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) { return FindNextT(find, data); }
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data) { return FindNextT(find, data); }

BOOL FindClose(HANDLE find) {
    if (!HandleTable::Get<FindObject>(find)) return FALSE;
    return CloseHandle(find);
}

}  // extern "C"
