// Producers of a file's backup stream sequence on Windows.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "BackupApiSequence.h"
#include "Kernel32Backup.h"
#include "UnitSequence.h"

namespace vestrel {

// The names of the stream siblings of `path`, ascending: where the platform
// has no backup interface, a stream written as "a.txt:s" lives beside the file
// as an entry literally named "a.txt:s".
std::vector<std::wstring> ListStreamSiblings(const std::wstring& path);

// What a caller takes of a file's named streams: their data too, or only
// their names and sizes (a listing, which skips every stream's data).
enum class StreamUse { kData, kNamesOnly };

// The sequence built from the file and its stream siblings: the main data as
// one unit (none for a directory), then one named unit per sibling. Data is
// read from the handles only when asked for.
//
// For data, each sibling is opened and sized through its handle at once, and
// one that cannot be opened is left out. For names only, a sibling is sized
// from its directory entry and never opened (under Wine an open and its first
// query cost about 150 microseconds, the entry about 9); reading its data
// fails.
class SiblingSequence : public UnitSequence {
public:
    // `file` stays owned by the caller; `path` is the path it was opened by.
    SiblingSequence(HANDLE file, const std::wstring& path, StreamUse use = StreamUse::kData);
    ~SiblingSequence() override;
    SiblingSequence(const SiblingSequence&) = delete;
    SiblingSequence& operator=(const SiblingSequence&) = delete;

protected:
    bool ReadData(size_t unit, uint64_t offset, uint8_t* out, uint32_t count,
                  uint32_t* got) override;

private:
    struct Source {
        HANDLE handle;
        bool owned;
        bool blank = false;  // served as zeros, never read
    };
    std::vector<Source> sources_;  // one per unit
};

// A file's sequence: the platform's, or the sibling sequence when the
// platform answers the first read with "not supported".
class FileStreamSequence : public IBackupSequence {
public:
    // `use` matters to the sibling sequence only: the platform's sequence
    // reads every header through the file's own handle either way.
    FileStreamSequence(HANDLE file, std::wstring path, StreamUse use = StreamUse::kData)
        : calls_(file), platform_(calls_), file_(file), path_(std::move(path)), use_(use) {}

    bool Read(void* buffer, uint32_t count, uint32_t* bytesRead) override;
    bool Skip(uint64_t count, uint64_t* bytesSkipped) override;
    bool UsesSiblings() const { return fallback_ != nullptr; }

private:
    Kernel32BackupCalls calls_;
    BackupApiSequence platform_;
    HANDLE file_;
    std::wstring path_;
    StreamUse use_;
    bool started_ = false;
    std::unique_ptr<SiblingSequence> fallback_;
};

}  // namespace vestrel
