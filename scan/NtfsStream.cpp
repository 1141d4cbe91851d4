#include "NtfsStream.h"

#include <windows.h>

#include "FsRedirection.h"
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

}  // namespace

CNtfsStream::~CNtfsStream() = default;

int CNtfsStream::EnumStreams(std::wstring path, NtfsStreamList* list, const std::atomic<bool>* stop) {
    if (path.empty() || list == nullptr) return 0;
    FileHandle file(vestrel::CreateFileUnredirected(vestrel::FsCall::kOpen, path.c_str(), GENERIC_READ,
                                                    FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (file.get() == INVALID_HANDLE_VALUE) return 0;
    // The sequence goes first: its backup context is released before the close.
    vestrel::FileStreamSequence seq(file.get(), path);
    return EnumStreamsFromSequence(seq, list, stop);
}

void CNtfsStream::FreeStreamList(NtfsStreamList* list) { ::FreeStreamList(list); }

bool IsStreamSiblingName(const std::wstring& entryName) {
    return entryName.find(L':') != std::wstring::npos;
}
