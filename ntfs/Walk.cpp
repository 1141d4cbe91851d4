#include "Walk.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>

#include "NtfsLib.h"
#include "Records.h"

namespace vestrel::ntfs {
namespace {

std::string ErrnoText(const char* what) {
    return std::string(what) + " (" + std::strerror(errno != 0 ? errno : EIO) + ")";
}

// Index entries a directory can hold: its index blocks cannot fit more than
// one entry per 16 bytes, so anything past that (plus the root's share) is a
// damaged index being read round and round.
uint64_t EntryBound(ntfs_inode* dir) {
    uint64_t bound = 4096;
    ntfs_attr* na = ntfs_attr_open(dir, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4);
    if (na != nullptr) {
        if (na->allocated_size > 0) bound += uint64_t(na->allocated_size) / 16;
        ntfs_attr_close(na);
    }
    return bound;
}

// One directory's index as the library yields it: each entry kept is handed
// on at once, so no directory is ever held in memory.
struct Listing {
    std::function<void(const std::u16string& name, uint64_t reference)> each;
    bool all;
    uint64_t seen = 0, bound = 0;
    bool damagedName = false, overflow = false;
};

int Visit(void* context, const ntfschar* name, const int length, const int nameType, const s64,
          const MFT_REF reference, const unsigned) {
    auto* listing = static_cast<Listing*>(context);
    if (++listing->seen > listing->bound) {
        listing->overflow = true;
        return -1;
    }
    const auto* units = reinterpret_cast<const char16_t*>(name);
    switch (ClassifyEntry(units, length, nameType, MREF(reference))) {
        case EntryVerdict::Damaged: listing->damagedName = true; return 0;
        case EntryVerdict::Skip: return 0;
        case EntryVerdict::System:
            if (!listing->all) return 0;
            break;
        case EntryVerdict::Keep: break;
    }
    listing->each(std::u16string(units, size_t(length)), uint64_t(reference));
    return 0;
}

}  // namespace

// The times of the file's first $FILE_NAME attribute that is not the 8.3
// alias: Windows updates these less often than the standard information's,
// so a difference between the two is a sign of times set by hand.
report::FileTimes NameTimes(ntfs_inode* inode) {
    report::FileTimes times;
    ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(inode, nullptr);
    if (ctx == nullptr) return times;
    while (ntfs_attr_lookup(AT_FILE_NAME, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
        const ATTR_RECORD* a = ctx->attr;
        if (a->non_resident) continue;
        const uint32_t length = le32_to_cpu(a->value_length), offset = le16_to_cpu(a->value_offset);
        if (length < offsetof(FILE_NAME_ATTR, file_name) || offset + uint64_t(length) > le32_to_cpu(a->length)) continue;
        const auto* name = reinterpret_cast<const FILE_NAME_ATTR*>(reinterpret_cast<const uint8_t*>(a) + offset);
        if (name->file_name_type == FILE_NAME_DOS) continue;
        times.created = uint64_t(sle64_to_cpu(name->creation_time));
        times.modified = uint64_t(sle64_to_cpu(name->last_data_change_time));
        times.changed = uint64_t(sle64_to_cpu(name->last_mft_change_time));
        times.accessed = uint64_t(sle64_to_cpu(name->last_access_time));
        break;
    }
    ntfs_attr_put_search_ctx(ctx);
    return times;
}

bool IsDirectoryInode(ntfs_inode* inode) {
    return (inode->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0;
}

ntfs_inode* OpenPath(ntfs_volume* volume, const std::u16string& path, std::string* error) {
    ntfs_inode* current = ntfs_inode_open(volume, FILE_root);
    if (current == nullptr) {
        *error = ErrnoText("the root directory cannot be read");
        return nullptr;
    }
    size_t pos = 0;
    while (pos < path.size()) {
        while (pos < path.size() && path[pos] == u'\\') ++pos;
        if (pos >= path.size()) break;
        size_t end = path.find(u'\\', pos);
        if (end == std::u16string::npos) end = path.size();
        const std::u16string name = path.substr(pos, end - pos);
        pos = end;
        if (!IsDirectoryInode(current)) {
            ntfs_inode_close(current);
            *error = "not a directory on the way";
            return nullptr;
        }
        errno = 0;
        const u64 reference = ntfs_inode_lookup_by_name(
            current, reinterpret_cast<const ntfschar*>(name.data()), int(name.size()));
        ntfs_inode_close(current);
        if (reference == u64(-1)) {
            *error = errno == ENOENT || errno == 0 ? "no such file or directory in the volume"
                                                   : ErrnoText("its directory cannot be read");
            return nullptr;
        }
        current = ntfs_inode_open(volume, reference);
        if (current == nullptr) {
            *error = ErrnoText("its MFT record cannot be read");
            return nullptr;
        }
    }
    return current;
}

Walker::Walker(ntfs_volume* volume, const WalkOptions& options, OnStream onStream, OnProblem onProblem,
               OnEntry onEntry)
    : volume_(volume), options_(options), onStream_(std::move(onStream)),
      onProblem_(std::move(onProblem)), onEntry_(std::move(onEntry)) {}

bool Walker::Run(const std::u16string& start) {
    std::string error;
    ntfs_inode* inode = OpenPath(volume_, start, &error);
    if (inode == nullptr) {
        onProblem_(start, error);
        return false;
    }
    const bool isDirectory = IsDirectoryInode(inode);
    InodeStreams(inode, start, isDirectory, options_.all || options_.usualNames, onStream_, onProblem_);
    if (isDirectory) Directory(inode, start, 0);
    ntfs_inode_close(inode);
    return true;
}

void InodeStreams(ntfs_inode* inode, const std::u16string& path, bool isDirectory, bool all,
                  const OnStream& onStream, const OnProblem& onProblem) {
    ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(inode, nullptr);
    if (ctx == nullptr) {
        onProblem(path, ErrnoText("its attributes cannot be read"));
        return;
    }
    unsigned count = 0;
    report::FileTimes nameTimes;
    bool haveNameTimes = false;
    errno = 0;
    while (ntfs_attr_lookup(AT_DATA, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
        if (++count > Walker::kMaxAttributes) {
            onProblem(path, "too many data attributes (damaged attribute list?)");
            break;
        }
        const auto* record = reinterpret_cast<const uint8_t*>(ctx->mrec);
        const auto* attribute = reinterpret_cast<const uint8_t*>(ctx->attr);
        const size_t inUse = std::min<size_t>(le32_to_cpu(ctx->mrec->bytes_in_use), inode->vol->mft_record_size);
        const size_t at = size_t(attribute - record);
        DataAttribute data;
        const AttributeVerdict verdict =
            at < inUse ? DecodeAttribute(attribute, inUse - at, &data) : AttributeVerdict::Damaged;
        if (verdict == AttributeVerdict::Damaged) {
            onProblem(path, "a damaged data attribute was passed over");
            continue;
        }
        if (verdict != AttributeVerdict::Data || data.name.empty() || !data.firstExtent) continue;
        if (!all && report::IsExcludedName(data.name)) continue;
        report::StreamRow row;
        row.path = path;
        row.stream = std::move(data.name);
        row.size = data.size;
        row.isDirectory = isDirectory;
        row.times = {uint64_t(sle64_to_cpu(inode->creation_time)), uint64_t(sle64_to_cpu(inode->last_data_change_time)),
                     uint64_t(sle64_to_cpu(inode->last_access_time)), uint64_t(sle64_to_cpu(inode->last_mft_change_time))};
        if (!haveNameTimes) nameTimes = NameTimes(inode), haveNameTimes = true;
        row.nameTimes = nameTimes;
        row.hasReference = true;
        row.mftRecord = uint64_t(inode->mft_no);
        row.mftSequence = le16_to_cpu(inode->mrec->sequence_number);
        row.flags.known = true;
        row.flags.resident = !data.nonResident;
        row.flags.sparse = data.sparse;
        row.flags.compressed = data.compressed;
        row.flags.encrypted = data.encrypted;
        row.record = inode->mft_no;
        onStream(row, inode);
        errno = 0;
    }
    if (errno != 0 && errno != ENOENT) onProblem(path, ErrnoText("its attributes cannot all be read"));
    ntfs_attr_put_search_ctx(ctx);
}

// The index is read while each entry's own file, and for a recursive walk
// its subtree, is looked at: the library's index walk keeps its place in its
// own buffers, and the entries' files are only read, never changed.
void Walker::Directory(ntfs_inode* dir, const std::u16string& path, unsigned depth) {
    ancestors_.push_back(dir->mft_no);
    Listing listing{[&](const std::u16string& name, uint64_t reference) { Entry(path, name, reference, depth); },
                    options_.all};
    listing.bound = EntryBound(dir);
    s64 position = 0;
    errno = 0;
    const int rc = ntfs_readdir(dir, &position, &listing, Visit);
    if (listing.overflow) onProblem_(path, "the directory index repeats itself (damaged); listing cut short");
    else if (rc != 0) onProblem_(path, ErrnoText("the directory index cannot all be read"));
    if (listing.damagedName) onProblem_(path, "an index entry with an impossible name was passed over");
    ancestors_.pop_back();
}

void Walker::Entry(const std::u16string& parent, const std::u16string& name, uint64_t reference, unsigned depth) {
    const std::u16string path = ChildPath(parent, name);
    if (onEntry_) onEntry_(parent);
    if (std::find(ancestors_.begin(), ancestors_.end(), MREF(reference)) != ancestors_.end()) {
        onProblem_(path, "directory loop: the entry leads back to a directory above it");
        return;
    }
    ntfs_inode* inode = ntfs_inode_open(volume_, reference);
    if (inode == nullptr) {
        onProblem_(path, ErrnoText("its MFT record cannot be read"));
        return;
    }
    const bool isDirectory = IsDirectoryInode(inode);
    InodeStreams(inode, path, isDirectory, options_.all || options_.usualNames, onStream_, onProblem_);
    if (isDirectory && options_.recursive) {
        if (depth + 1 >= kMaxDepth) onProblem_(path, "the tree is deeper than any real volume's; not entered");
        else Directory(inode, path, depth + 1);
    }
    ntfs_inode_close(inode);
}

}  // namespace vestrel::ntfs
