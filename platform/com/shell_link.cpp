// The shell-link class: IShellLinkA gathers the target, arguments, working
// folder, description and icon; IPersistFile::Save writes them as a .LNK
// file (header, link information with the target's local path, Unicode
// strings, an empty extra-data list), into a temporary file renamed over
// the link so that a reader never sees half a link.
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/paths.h"
#include "base/files.h"
#include "base/text.h"
#include "com/com.h"
#include "com/shell_link_format.h"

namespace zq::com {

namespace {

void Put(std::vector<uint8_t>& out, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + n);
}

void PutString(std::vector<uint8_t>& out, const std::string& ansi) {
    std::u16string w = zq::AnsiToWide(ansi);
    uint16_t count = static_cast<uint16_t>(w.size());
    Put(out, &count, 2);
    for (char16_t c : w) {
        uint8_t b[2] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)};
        Put(out, b, 2);
    }
}

// Texts longer than the format's 16-bit count, or than a Windows path, are
// refused rather than cut.
bool Fits(LPCSTR text, size_t limit) { return text && std::strlen(text) < limit; }

class ShellLink final : public IShellLinkA, public IPersistFile {
public:
    HRESULT QueryInterface(REFIID iid, void** out) override { return Query(iid, out); }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT SetPath(LPCSTR path) override {
        if (!Fits(path, MAX_PATH) || !*path) return E_INVALIDARG;
        path_ = path;
        return S_OK;
    }
    HRESULT SetArguments(LPCSTR arguments) override {
        if (!Fits(arguments, 0x8000)) return E_INVALIDARG;
        arguments_ = arguments;
        return S_OK;
    }
    HRESULT SetWorkingDirectory(LPCSTR dir) override {
        if (!Fits(dir, MAX_PATH)) return E_INVALIDARG;
        workingDir_ = dir;
        return S_OK;
    }
    HRESULT SetDescription(LPCSTR text) override {
        if (!Fits(text, 0x8000)) return E_INVALIDARG;
        description_ = text;
        return S_OK;
    }
    HRESULT SetIconLocation(LPCSTR path, int index) override {
        if (!Fits(path, MAX_PATH)) return E_INVALIDARG;
        icon_ = path;
        iconIndex_ = index;
        return S_OK;
    }

    HRESULT Save(LPCOLESTR fileName, BOOL) override {
        if (!fileName || !*fileName || path_.empty()) return E_INVALIDARG;
        std::vector<uint8_t> bytes = Bytes();
        std::u16string target(fileName), temp = target + u".new";
        HANDLE f = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
        DWORD written = 0;
        BOOL ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
        DWORD error = GetLastError();
        CloseHandle(f);
        if (ok && MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return S_OK;
        if (ok) error = GetLastError();
        DeleteFileW(temp.c_str());
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }

private:
    HRESULT Query(REFIID iid, void** out) {
        if (!out) return E_POINTER;
        if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_IShellLinkA))
            *out = static_cast<IShellLinkA*>(this);
        else if (IsEqualGUID(iid, IID_IPersistFile))
            *out = static_cast<IPersistFile*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    std::vector<uint8_t> Bytes() const {
        ShellLinkHeader h{};
        h.headerSize = sizeof h;
        std::memcpy(h.linkClsid, &CLSID_ShellLink, 16);
        h.linkFlags = kHasLinkInfo | kIsUnicode | (description_.empty() ? 0 : kHasName) |
                      (workingDir_.empty() ? 0 : kHasWorkingDir) | (arguments_.empty() ? 0 : kHasArguments) |
                      (icon_.empty() ? 0 : kHasIconLocation);
        DWORD attributes = GetFileAttributesA(path_.c_str());
        h.fileAttributes = attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
        h.iconIndex = iconIndex_;
        h.showCommand = 1;  // SW_SHOWNORMAL
        std::vector<uint8_t> out;
        Put(out, &h, sizeof h);

        // Link information: the volume (a fixed drive without a label) and
        // the target as a local path in the process code page.
        VolumeIdHeader v{};
        v.volumeIdSize = sizeof v + 1;
        v.driveType = 3;
        v.volumeLabelOffset = sizeof v;
        LinkInfoHeader li{};
        li.linkInfoHeaderSize = sizeof li;
        li.linkInfoFlags = 1;
        li.volumeIdOffset = sizeof li;
        li.localBasePathOffset = li.volumeIdOffset + v.volumeIdSize;
        li.commonPathSuffixOffset = li.localBasePathOffset + static_cast<uint32_t>(path_.size()) + 1;
        li.linkInfoSize = li.commonPathSuffixOffset + 1;
        Put(out, &li, sizeof li);
        Put(out, &v, sizeof v);
        out.push_back(0);
        Put(out, path_.c_str(), path_.size() + 1);
        out.push_back(0);

        if (!description_.empty()) PutString(out, description_);
        if (!workingDir_.empty()) PutString(out, workingDir_);
        if (!arguments_.empty()) PutString(out, arguments_);
        if (!icon_.empty()) PutString(out, icon_);
        const uint32_t terminal = 0;
        Put(out, &terminal, 4);
        return out;
    }

    std::atomic<ULONG> refs_{1};
    std::string path_, arguments_, workingDir_, description_, icon_;
    int iconIndex_ = 0;
};

}  // namespace

HRESULT CreateShellLink(REFIID iid, void** out) {
    auto* link = new ShellLink;
    HRESULT hr = link->QueryInterface(iid, out);
    link->Release();
    return hr;
}

}  // namespace zq::com
