#include "WinSequences.h"

#include <algorithm>

namespace vestrel {
namespace {

void AppendUtf16(std::vector<uint8_t>& out, const std::wstring& text) {
    for (wchar_t c : text) {
        out.push_back(uint8_t(c & 0xFF));
        out.push_back(uint8_t((uint16_t(c) >> 8) & 0xFF));
    }
}

size_t BaseNameStart(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? 0 : slash + 1;
}

bool SameNameNoCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

BackupApiSequence::~BackupApiSequence() {
    DWORD n = 0;
    BackupRead(file_, nullptr, 0, &n, TRUE, FALSE, &context_);
}

bool BackupApiSequence::Read(void* buffer, uint32_t count, uint32_t* bytesRead) {
    DWORD n = 0;
    const BOOL ok = BackupRead(file_, static_cast<LPBYTE>(buffer), count, &n, FALSE, FALSE, &context_);
    lastError_ = ok ? 0 : GetLastError();
    *bytesRead = ok ? std::min<DWORD>(n, count) : 0;
    return ok != FALSE;
}

bool BackupApiSequence::Skip(uint64_t count, uint64_t* bytesSkipped) {
    DWORD low = 0, high = 0;
    const BOOL ok = BackupSeek(file_, DWORD(count), DWORD(count >> 32), &low, &high, &context_);
    lastError_ = ok ? 0 : GetLastError();
    *bytesSkipped = uint64_t(high) << 32 | low;
    return ok != FALSE;
}

std::vector<std::wstring> ListStreamSiblings(const std::wstring& path) {
    std::vector<std::wstring> names;
    const std::wstring base = path.substr(BaseNameStart(path));
    if (base.empty() || base.find(L':') != std::wstring::npos) return names;

    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((path + L":*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring entry = fd.cFileName;
        // "<base>:<stream>", one level only: a stream name has no colon.
        if (entry.size() <= base.size() + 1 || entry[base.size()] != L':') continue;
        if (!SameNameNoCase(entry.substr(0, base.size()), base)) continue;
        std::wstring stream = entry.substr(base.size() + 1);
        if (stream.find(L':') != std::wstring::npos) continue;
        names.push_back(std::move(stream));
    } while (FindNextFileW(find, &fd));
    FindClose(find);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

SiblingSequence::SiblingSequence(HANDLE file, const std::wstring& path) {
    BY_HANDLE_FILE_INFORMATION info;
    const bool isDirectory = GetFileInformationByHandle(file, &info) &&
                             (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    LARGE_INTEGER size;
    if (!isDirectory && GetFileSizeEx(file, &size)) {
        sources_.push_back({file, false});
        AddUnit(Header(kBackupData, uint64_t(size.QuadPart), 0), uint64_t(size.QuadPart));
    }
    for (const std::wstring& name : ListStreamSiblings(path)) {
        HANDLE h = CreateFileW((path + L":" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        if (!GetFileSizeEx(h, &size)) {
            CloseHandle(h);
            continue;
        }
        std::vector<uint8_t> rawName;
        AppendUtf16(rawName, L":" + name + L":$DATA");
        std::vector<uint8_t> prefix = Header(kBackupAlternateData, uint64_t(size.QuadPart),
                                             uint32_t(rawName.size()));
        prefix.insert(prefix.end(), rawName.begin(), rawName.end());
        sources_.push_back({h, true});
        AddUnit(std::move(prefix), uint64_t(size.QuadPart));
    }
}

SiblingSequence::~SiblingSequence() {
    for (const Source& s : sources_) {
        if (s.owned) CloseHandle(s.handle);
    }
}

bool SiblingSequence::ReadData(size_t unit, uint64_t offset, uint8_t* out, uint32_t count,
                               uint32_t* got) {
    *got = 0;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    HANDLE h = sources_[unit].handle;
    DWORD n = 0;
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !ReadFile(h, out, count, &n, nullptr)) return false;
    *got = n;
    return true;
}

bool FileStreamSequence::Read(void* buffer, uint32_t count, uint32_t* bytesRead) {
    if (fallback_) return fallback_->Read(buffer, count, bytesRead);
    const bool ok = platform_.Read(buffer, count, bytesRead);
    if (!started_) {
        started_ = true;
        const DWORD err = platform_.LastError();
        if (!ok && (err == ERROR_NOT_SUPPORTED || err == ERROR_CALL_NOT_IMPLEMENTED)) {
            fallback_.reset(new SiblingSequence(file_, path_));
            return fallback_->Read(buffer, count, bytesRead);
        }
    }
    return ok;
}

bool FileStreamSequence::Skip(uint64_t count, uint64_t* bytesSkipped) {
    if (fallback_) return fallback_->Skip(count, bytesSkipped);
    return platform_.Skip(count, bytesSkipped);
}

}  // namespace vestrel
