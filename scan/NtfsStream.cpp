#include "NtfsStream.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "FsRedirection.h"
#include "StreamInfo.h"
#include "WinSequences.h"

namespace {

class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

#ifndef FILE_ATTRIBUTE_RECALL_ON_OPEN
#define FILE_ATTRIBUTE_RECALL_ON_OPEN 0x00040000
#endif
#ifndef FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
#define FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS 0x00400000
#endif

BOOL PlatformAttributes(HANDLE file, DWORD* attributes) {
    FILE_BASIC_INFO info;
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info)) return FALSE;
    *attributes = info.FileAttributes;
    return TRUE;
}

BOOL PlatformStreamInfo(HANDLE file, void* buffer, DWORD size) {
    return GetFileInformationByHandleEx(file, FileStreamInfo, buffer, size);
}

std::atomic<BOOL (*)(HANDLE, DWORD*)> g_attributes{PlatformAttributes};
std::atomic<BOOL (*)(HANDLE, void*, DWORD)> g_streamInfo{PlatformStreamInfo};

// -1 until a test sets a kind: then the probe's answer is used.
std::atomic<int> g_forcedPlatform{-1};

vestrel::StreamPlatform ProbeStreamPlatform() {
    using BackupReadFn = BOOL(WINAPI*)(HANDLE, LPBYTE, DWORD, LPDWORD, BOOL, BOOL, LPVOID*);
    HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
    const BackupReadFn read = k32 == nullptr ? nullptr
        : reinterpret_cast<BackupReadFn>(reinterpret_cast<void*>(GetProcAddress(k32, "BackupRead")));
    if (read == nullptr) return vestrel::StreamPlatform::kUnknown;
    // No handle at all: a platform with the interface refuses the handle, one
    // without it answers "not supported" before looking. The buffer is above
    // the documented minimum (more than a WIN32_STREAM_ID).
    BYTE buffer[4096];
    DWORD got = 0;
    LPVOID context = nullptr;
    const BOOL ok = read(nullptr, buffer, sizeof buffer, &got, FALSE, FALSE, &context);
    const DWORD error = ok ? 0 : GetLastError();
    if (context != nullptr) read(nullptr, buffer, 0, &got, TRUE, FALSE, &context);  // releases it
    if (!ok && vestrel::BackupUnsupported(error)) return vestrel::StreamPlatform::kSiblingFiles;
    return vestrel::StreamPlatform::kRealStreams;
}

// Larger lists than this are not a file's streams but a damaged answer.
constexpr DWORD kMaxStreamInfoBytes = 64u << 20;

}  // namespace

CNtfsStream::~CNtfsStream() = default;

int CNtfsStream::EnumStreams(std::wstring path, NtfsStreamList* list, const std::atomic<bool>* stop) {
    if (path.empty() || list == nullptr) return 0;
    FileHandle file(vestrel::CreateFileUnredirected(vestrel::FsCall::kOpen, path.c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (file.get() == INVALID_HANDLE_VALUE) return 0;
    // A placeholder's or an offline file's data is fetched when read: its
    // streams are listed from names and sizes alone (the rows are the same,
    // only the records' data previews stay empty).
    if (vestrel::HandleDataIsRemote(file.get())) {
        vestrel::ListStreamsWithoutData(file.get(), path, [list](const vestrel::NamedStream& s) {
            if (s.excluded) return true;
            std::unique_ptr<NtfsStreamInfo> record(new NtfsStreamInfo());
            record->strName = s.name;
            record->dwSize = uint32_t(s.size);
            list->push_back(record.release());
            return true;
        }, stop);
        return int(list->size());
    }
    // The sequence goes first: its backup context is released before the close.
    vestrel::FileStreamSequence seq(file.get(), path);
    return EnumStreamsFromSequence(seq, list, stop);
}

void CNtfsStream::FreeStreamList(NtfsStreamList* list) { ::FreeStreamList(list); }

bool IsStreamSiblingName(const std::wstring& entryName) {
    return entryName.find(L':') != std::wstring::npos;
}

namespace vestrel {

StreamPlatform CurrentStreamPlatform() {
    const int forced = g_forcedPlatform.load();
    if (forced >= 0) return StreamPlatform(forced);
    static const StreamPlatform probed = ProbeStreamPlatform();
    return probed;
}

StreamPlatform SetStreamPlatform(StreamPlatform platform) {
    const StreamPlatform before = CurrentStreamPlatform();
    g_forcedPlatform = int(platform);
    return before;
}

void ResetStreamPlatform() { g_forcedPlatform = -1; }

std::wstring PlatformStreamPath(const std::wstring& file, const std::wstring& name) {
    return JoinStreamPath(file, name, CurrentStreamPlatform());
}

bool DataIsRemote(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS | FILE_ATTRIBUTE_RECALL_ON_OPEN |
                          FILE_ATTRIBUTE_OFFLINE)) != 0;
}

bool HandleDataIsRemote(HANDLE file) {
    DWORD attributes = 0;
    return g_attributes.load()(file, &attributes) && DataIsRemote(attributes);
}

FileQueryCalls SetFileQueryCalls(FileQueryCalls calls) {
    const FileQueryCalls before{g_attributes.load(), g_streamInfo.load()};
    g_attributes = calls.attributes != nullptr ? calls.attributes : PlatformAttributes;
    g_streamInfo = calls.streamInfo != nullptr ? calls.streamInfo : PlatformStreamInfo;
    return before;
}

bool ListStreamsFromStreamInfo(HANDLE file, const NamedStreamVisitor& visit, const std::atomic<bool>* stop) {
    if (CurrentStreamPlatform() == StreamPlatform::kSiblingFiles) return false;
    // FILE_STREAM_INFO entries are 8-byte aligned; so is the buffer.
    std::vector<uint64_t> buffer(2048);
    for (;;) {
        const DWORD bytes = DWORD(buffer.size() * sizeof buffer[0]);
        if (g_streamInfo.load()(file, buffer.data(), bytes)) {
            std::vector<NamedStream> streams;
            if (!ParseStreamInfo(reinterpret_cast<const uint8_t*>(buffer.data()), bytes, &streams)) return false;
            for (const NamedStream& s : streams) {
                if ((stop != nullptr && stop->load()) || !visit(s)) break;
            }
            return true;
        }
        const DWORD error = GetLastError();
        // A file with no stream at all (a directory without named ones).
        if (error == ERROR_HANDLE_EOF) return true;
        if ((error == ERROR_MORE_DATA || error == ERROR_INSUFFICIENT_BUFFER) && bytes < kMaxStreamInfoBytes) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        return false;  // not answered here (another file system)
    }
}

bool BackupWalkReadsHandle() { return CurrentStreamPlatform() != StreamPlatform::kSiblingFiles; }

void ListStreamsFromBackup(HANDLE file, const std::wstring& path, const NamedStreamVisitor& visit,
                           const std::atomic<bool>* stop) {
    // Where the probe found streams kept as sibling files the backup calls
    // are not made again: they would want a handle opened for reading.
    if (!BackupWalkReadsHandle()) {
        SiblingSequence seq(file, path, StreamUse::kNamesOnly);
        WalkNamedStreams(seq, 0, visit, stop);
        return;
    }
    FileStreamSequence seq(file, path, StreamUse::kNamesOnly);
    WalkNamedStreams(seq, 0, visit, stop);
}

void ListStreamsWithoutData(HANDLE file, const std::wstring& path, const NamedStreamVisitor& visit,
                            const std::atomic<bool>* stop) {
    if (!ListStreamsFromStreamInfo(file, visit, stop)) ListStreamsFromBackup(file, path, visit, stop);
}

}  // namespace vestrel
