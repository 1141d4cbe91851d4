#include "WinSequences.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "FsRedirection.h"

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


}  // namespace

namespace {

// The stream siblings of one directory, by lower-cased file name.
struct DirectoryIndex {
    std::wstring dir;             // lower-cased directory path
    FILETIME written{};           // the directory's last write when listed
    std::unordered_map<std::wstring, std::vector<std::wstring>> streams;
};

std::wstring Lower(std::wstring s) {
    if (!s.empty()) CharLowerBuffW(&s[0], DWORD(s.size()));
    return s;
}

// Listing a directory for each of its files would cost O(n) per file, O(n^2)
// per directory. A directory is listed once and its siblings indexed; the
// index is used while the directory's last-write time is unchanged (adding or
// removing a sibling changes it). A few directories are kept, as a walk comes
// back to a parent after each subdirectory.
class SiblingCache {
public:
    std::vector<std::wstring> Lookup(const std::wstring& dir, const std::wstring& base) {
        WIN32_FILE_ATTRIBUTE_DATA attr;
        if (!GetFileAttributesExUnredirected(dir.c_str(), &attr)) return {};
        const std::wstring key = Lower(dir);
        AcquireSRWLockExclusive(&lock_);
        DirectoryIndex* index = nullptr;
        for (DirectoryIndex& d : entries_) {
            if (d.dir == key && CompareFileTime(&d.written, &attr.ftLastWriteTime) == 0) index = &d;
        }
        if (index == nullptr) index = &Insert(List(dir, key, attr.ftLastWriteTime));
        std::vector<std::wstring> result;
        auto it = index->streams.find(Lower(base));
        if (it != index->streams.end()) result = it->second;
        ReleaseSRWLockExclusive(&lock_);
        return result;
    }

private:
    static DirectoryIndex List(const std::wstring& dir, const std::wstring& key, FILETIME written) {
        DirectoryIndex index;
        index.dir = key;
        index.written = written;
        WIN32_FIND_DATAW fd;
        const std::wstring pattern = dir + (dir.back() == L'\\' ? L"*" : L"\\*");
        HANDLE find = FindFirstFileUnredirected(pattern.c_str(), &fd);
        if (find == INVALID_HANDLE_VALUE) return index;
        do {
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            // "<base>:<stream>", one level only: a stream name has no colon.
            const std::wstring entry = fd.cFileName;
            const size_t colon = entry.find(L':');
            if (colon == 0 || colon == std::wstring::npos || colon + 1 == entry.size()) continue;
            if (entry.find(L':', colon + 1) != std::wstring::npos) continue;
            index.streams[Lower(entry.substr(0, colon))].push_back(entry.substr(colon + 1));
        } while (FindNextFileUnredirected(find, &fd));
        FindClose(find);
        for (auto& item : index.streams) {
            std::sort(item.second.begin(), item.second.end());
            item.second.erase(std::unique(item.second.begin(), item.second.end()), item.second.end());
        }
        return index;
    }

    DirectoryIndex& Insert(DirectoryIndex&& index) {
        for (DirectoryIndex& d : entries_) {
            if (d.dir == index.dir) return d = std::move(index);
        }
        if (entries_.size() == kCapacity) entries_.erase(entries_.begin());
        entries_.push_back(std::move(index));
        return entries_.back();
    }

    static constexpr size_t kCapacity = 64;
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<DirectoryIndex> entries_;
};

SiblingCache& Cache() {
    static SiblingCache* cache = new SiblingCache;  // lives as long as the process
    return *cache;
}

}  // namespace

std::vector<std::wstring> ListStreamSiblings(const std::wstring& path) {
    const size_t start = BaseNameStart(path);
    const std::wstring base = path.substr(start);
    if (base.empty() || base.find(L':') != std::wstring::npos) return {};
    std::wstring dir = path.substr(0, start);
    if (dir.empty()) dir = L".";
    else if (dir.size() > 1 && (dir.back() == L'\\' || dir.back() == L'/') && dir[dir.size() - 2] != L':')
        dir.pop_back();
    return Cache().Lookup(dir, base);
}

SiblingSequence::SiblingSequence(HANDLE file, const std::wstring& path, StreamUse use) {
    // The basic information is enough to tell a directory; the full handle
    // information also asks for the volume and costs far more per file.
    FILE_BASIC_INFO info;
    const bool isDirectory = GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info) &&
                             (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    LARGE_INTEGER size;
    if (!isDirectory && GetFileSizeEx(file, &size)) {
        // Names only: the walk's first look at the main data (a few bytes
        // after its header) reads zeros, so the handle needs no read access.
        sources_.push_back({file, false, use == StreamUse::kNamesOnly});
        AddUnit(Header(kBackupData, uint64_t(size.QuadPart), 0), uint64_t(size.QuadPart));
    }
    for (const std::wstring& name : ListStreamSiblings(path)) {
        const std::wstring sibling = path + L":" + name;
        HANDLE h = INVALID_HANDLE_VALUE;
        if (use == StreamUse::kNamesOnly) {
            WIN32_FILE_ATTRIBUTE_DATA attr;
            if (!GetFileAttributesExUnredirected(sibling.c_str(), &attr)) continue;
            size.QuadPart = LONGLONG(uint64_t(attr.nFileSizeHigh) << 32 | attr.nFileSizeLow);
        } else {
            h = CreateFileUnredirected(FsCall::kOpen, sibling.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS);
            if (h == INVALID_HANDLE_VALUE) continue;
            if (!GetFileSizeEx(h, &size)) {
                CloseHandle(h);
                continue;
            }
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
        if (s.owned && s.handle != INVALID_HANDLE_VALUE) CloseHandle(s.handle);
    }
}

bool SiblingSequence::ReadData(size_t unit, uint64_t offset, uint8_t* out, uint32_t count,
                               uint32_t* got) {
    *got = 0;
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    HANDLE h = sources_[unit].handle;
    if (sources_[unit].blank) {
        std::memset(out, 0, count);
        *got = count;
        return true;
    }
    if (h == INVALID_HANDLE_VALUE) {  // a sibling listed by name only
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
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
        if (!ok && BackupUnsupported(platform_.LastError())) {
            fallback_.reset(new SiblingSequence(file_, path_, use_));
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
