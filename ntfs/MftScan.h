// Lists a whole volume by reading $MFT front to back in large pieces instead
// of walking directory indexes: every in-use base record's names and data
// attributes are decoded where they lie, and paths are rebuilt from the
// parent references in the names. Only directories are kept in memory (their
// name and parent), so memory grows with the number of directories, not of
// files. Records that carry an attribute list are read through the library's
// inode opening, as the walk reads every record.
//
// With `deleted`, records no longer in use that still hold a whole file
// record are listed too: their named streams, at the path their parent still
// gives them, else under \$OrphanFiles\.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Deleted.h"
#include "Report.h"
#include "Walk.h"

struct _ntfs_volume;

namespace vestrel::ntfs {

struct ScanOptions {
    bool all = false;         // metadata files and the excluded names too
    bool usualNames = false;  // the excluded names too (the caller judges them)
    bool live = true;         // the streams of files in use
    bool deleted = false;     // the streams of deleted files
    bool openInodes = false;  // live rows come with their inode open (extract)
};

// The folder deleted files are listed under when their directory is gone.
extern const char16_t kOrphanFolder[];

class MftScan {
public:
    // A deleted file's stream; `stream` says where its bytes lie.
    using OnDeleted = std::function<void(const report::StreamRow& row, const DeletedStream& stream)>;
    using OnRecord = std::function<void(uint64_t record)>;

    MftScan(_ntfs_volume* volume, const ScanOptions& options, OnStream onStream, OnDeleted onDeleted,
            OnProblem onProblem, OnRecord onRecord = nullptr);
    ~MftScan();
    // False when $MFT itself cannot be read (said through OnProblem).
    bool Run();

    // Bytes of $MFT read at a time: small enough to stay in the processor's
    // cache between the read and the decoding (4 MiB took twice as long).
    static constexpr size_t kChunkBytes = 64u << 10;

private:
    struct Directory;
    struct NameRef;
    struct Pending;
    enum class Resolve { Path, Later, Orphan, Hidden };

    void Record(uint64_t number, uint8_t* bytes);
    // The path of directory `reference` (sequence checked), or why not.
    Resolve DirectoryPath(uint64_t reference, bool final, std::u16string* out) const;
    void AddDirectory(uint64_t number, uint16_t sequence, const std::vector<FileName>& names);
    void Emit(const Pending& item, bool final);
    void EmitLive(const Pending& item, const std::u16string& path);
    void OtherNames(uint64_t record, const std::u16string& listedAt);

    _ntfs_volume* volume_;
    ScanOptions options_;
    OnStream onStream_;
    OnDeleted onDeleted_;
    OnProblem onProblem_;
    OnRecord onRecord_;
    uint64_t records_ = 0;  // records $MFT holds
    // Directory slot + 1 per record number (0: not a directory seen so far).
    std::vector<uint32_t> slot_;
    std::vector<Directory> directories_;
    std::vector<NameRef> nameRefs_;  // each directory's names, in turn
    std::u16string names_;           // their units end to end
    uint64_t position_ = 0;          // the record being read
    std::vector<uint8_t> marked_;    // the MFT's bitmap: records in use
    std::vector<Pending> pending_;
};

}  // namespace vestrel::ntfs
