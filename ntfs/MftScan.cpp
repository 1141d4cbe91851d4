#include "MftScan.h"

#include <cstring>

#include "NtfsLib.h"
extern "C" {
#include <ntfs-3g/mst.h>
}

namespace vestrel::ntfs {

const char16_t kOrphanFolder[] = u"\\$OrphanFiles";

namespace {

constexpr uint64_t kReferenceMask = 0x0000FFFFFFFFFFFFull;
uint64_t RecordOf(uint64_t reference) { return reference & kReferenceMask; }
uint16_t SequenceOf(uint64_t reference) { return uint16_t(reference >> 48); }

std::string ErrnoText(const char* what) {
    return std::string(what) + " (" + std::strerror(errno != 0 ? errno : EIO) + ")";
}

std::u16string RecordLabel(uint64_t number) {
    std::u16string out = u"$MFT record ";
    for (char c : std::to_string(number)) out.push_back(char16_t(c));
    return out;
}

// The names a listing uses: the short alias and "." are the same file again.
// Metadata files only with `all`, as the walk decides for index entries.
std::vector<FileName> ListedNames(std::vector<FileName> names, uint64_t number, bool all) {
    std::vector<FileName> out;
    for (FileName& n : names) {
        const EntryVerdict v = ClassifyEntry(n.name.data(), int(n.name.size()), n.nameType, number);
        if (v == EntryVerdict::Keep || (all && v == EntryVerdict::System)) out.push_back(std::move(n));
    }
    return out;
}

// The names of a record read through the library (its attribute list may
// put them in other records).
bool InodeNames(ntfs_inode* inode, std::vector<FileName>* out) {
    ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(inode, nullptr);
    if (ctx == nullptr) return false;
    bool ok = true;
    unsigned count = 0;
    while (ntfs_attr_lookup(AT_FILE_NAME, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
        if (++count > Walker::kMaxAttributes || ctx->attr->non_resident) {
            ok = false;
            break;
        }
        const auto* record = reinterpret_cast<const uint8_t*>(ctx->mrec);
        const auto* attribute = reinterpret_cast<const uint8_t*>(ctx->attr);
        const size_t inUse = std::min<size_t>(le32_to_cpu(ctx->mrec->bytes_in_use), inode->vol->mft_record_size);
        const size_t at = size_t(attribute - record);
        const size_t valueAt = at + le16_to_cpu(ctx->attr->value_offset);
        const size_t valueLength = le32_to_cpu(ctx->attr->value_length);
        FileName name;
        if (valueAt > inUse || valueLength > inUse - valueAt || !DecodeFileName(record + valueAt, valueLength, &name)) {
            ok = false;
            break;
        }
        out->push_back(std::move(name));
    }
    ntfs_attr_put_search_ctx(ctx);
    return ok;
}

}  // namespace

struct MftScan::Directory {
    uint16_t sequence = 0;
    uint32_t firstName = 0, nameCount = 0;  // into nameRefs_
};

struct MftScan::Pending {
    uint64_t record = 0;
    uint64_t parent = 0;  // reference
    std::u16string name;
    bool directory = false;
    bool viaInode = false;  // live: read its streams through the library
    std::vector<report::StreamRow> rows;              // live, decoded from the record
    std::vector<std::shared_ptr<DeletedStream>> deleted;  // deleted, with their rows
};

struct MftScan::NameRef {
    uint64_t parent;  // reference
    uint32_t at;      // into names_
    uint16_t length;
};

MftScan::MftScan(ntfs_volume* volume, const ScanOptions& options, OnStream onStream, OnDeleted onDeleted,
                 OnProblem onProblem, OnRecord onRecord)
    : volume_(volume), options_(options), onStream_(std::move(onStream)), onDeleted_(std::move(onDeleted)),
      onProblem_(std::move(onProblem)), onRecord_(std::move(onRecord)) {}

MftScan::~MftScan() = default;

bool MftScan::Run() {
    ntfs_attr* mft = volume_->mft_na;
    const uint32_t size = volume_->mft_record_size;
    if (mft == nullptr || size == 0) {
        onProblem_(u"", "$MFT cannot be read");
        return false;
    }
    records_ = uint64_t(mft->initialized_size) / size;
    slot_.assign(size_t(std::min<uint64_t>(records_, uint64_t(1) << 32)), 0);
    // Which records the volume counts as in use: one that is but holds no
    // readable file record is damage to say, not an empty slot to pass.
    marked_.assign(size_t((records_ + 7) / 8), 0);
    if (volume_->mftbmp_na != nullptr) {
        const s64 want = std::min<s64>(s64(marked_.size()), volume_->mftbmp_na->initialized_size);
        if (want > 0 && ntfs_attr_pread(volume_->mftbmp_na, 0, want, marked_.data()) != want) {
            onProblem_(u"", "the MFT's bitmap cannot be read; records that lost their contents go unnoticed");
            std::fill(marked_.begin(), marked_.end(), 0);
        }
    }
    const size_t perChunk = std::max<size_t>(1, kChunkBytes / size);
    std::vector<uint8_t> chunk(perChunk * size);
    bool ok = true;
    for (uint64_t first = 0; first < records_; first += perChunk) {
        const uint64_t count = std::min<uint64_t>(perChunk, records_ - first);
        errno = 0;
        const s64 got = ntfs_attr_pread(mft, s64(first * size), s64(count * size), chunk.data());
        if (got != s64(count * size)) {
            onProblem_(RecordLabel(first), ErrnoText("$MFT cannot be read from here on"));
            ok = false;
            break;
        }
        for (uint64_t i = 0; i < count; ++i) {
            position_ = first + i;
            Record(first + i, chunk.data() + i * size);
        }
    }
    position_ = records_;
    std::vector<Pending> later;
    later.swap(pending_);
    for (const Pending& item : later) Emit(item, true);
    return ok;
}

void MftScan::Record(uint64_t number, uint8_t* bytes) {
    const uint32_t size = volume_->mft_record_size;
    // The header's first sector is outside the update sequence's reach, so
    // what it says about use can be read before the fixup.
    const bool marked = (marked_[size_t(number / 8)] >> (number % 8)) & 1;
    const bool inUse = marked || (bytes[22] & 1) != 0;
    if (std::memcmp(bytes, "FILE", 4) != 0) {
        if (std::memcmp(bytes, "BAAD", 4) == 0) {
            if (inUse) onProblem_(RecordLabel(number), "marked bad (a torn write); passed over");
        } else if (marked) {
            onProblem_(RecordLabel(number), "in use, but holds no file record (damaged); passed over");
        }
        return;
    }
    if (ntfs_mst_post_read_fixup(reinterpret_cast<NTFS_RECORD*>(bytes), size) != 0) {
        if (inUse) onProblem_(RecordLabel(number), "fails its update sequence check (damaged); passed over");
        return;
    }
    FileRecord rec;
    const RecordVerdict verdict = DecodeFileRecord(bytes, size, &rec);
    if (verdict == RecordVerdict::Empty) return;
    if (verdict == RecordVerdict::Damaged) {
        if (inUse) onProblem_(RecordLabel(number), "its fields contradict each other (damaged); passed over");
        return;
    }
    if (rec.base != 0) return;  // an extension: read with its base record
    if (rec.inUse) {
        if (onRecord_) onRecord_(number);
        std::vector<FileName> names;
        ntfs_inode* inode = nullptr;
        if (rec.attributeList) {
            inode = ntfs_inode_open(volume_, number);
            if (inode == nullptr) {
                onProblem_(RecordLabel(number), ErrnoText("its MFT record cannot be read"));
                return;
            }
            if (!InodeNames(inode, &names)) onProblem_(RecordLabel(number), "a damaged name was passed over");
            rec.directory = IsDirectoryInode(inode);
            ntfs_inode_close(inode);
        } else {
            names = std::move(rec.names);
        }
        if (number == FILE_root) {
            names.clear();
            names.push_back({MK_MREF(FILE_root, rec.sequence), 1, u"."});
        }
        if (rec.directory) AddDirectory(number, rec.sequence, names);
        if (!options_.live) return;
        Pending item;
        item.record = number;
        item.directory = rec.directory;
        item.viaInode = rec.attributeList;
        if (!item.viaInode) {
            for (DataAttribute& data : rec.data) {
                if (data.name.empty() || (!options_.all && !options_.usualNames && report::IsExcludedName(data.name))) continue;
                report::StreamRow row;
                row.stream = std::move(data.name);
                row.size = data.size;
                row.isDirectory = rec.directory;
                row.record = number;
                item.rows.push_back(std::move(row));
            }
            if (item.rows.empty()) return;
            item.viaInode = options_.openInodes;
        }
        if (number == FILE_root) {
            EmitLive(item, u"\\");
            return;
        }
        names = ListedNames(std::move(names), number, options_.all);
        // A directory is listed once, at the name its tree reaches first.
        if (rec.directory) {
            if (names.size() > 1) {
                Pending self = item;
                self.parent = MK_MREF(number, rec.sequence);
                self.name.clear();
                Emit(self, false);
                return;
            }
        }
        for (FileName& name : names) {
            Pending one = item;
            one.parent = name.parent;
            one.name = std::move(name.name);
            Emit(one, false);
        }
        return;
    }
    if (!options_.deleted || (number < kFirstUserInode && !options_.all)) return;
    Pending item;
    item.record = number;
    item.directory = rec.directory;
    for (size_t i = 0; i < rec.data.size(); ++i) {
        DataAttribute& data = rec.data[i];
        if (data.name.empty() || (!options_.all && !options_.usualNames && report::IsExcludedName(data.name))) continue;
        auto stream = std::make_shared<DeletedStream>();
        stream->record = number;
        const uint32_t at = rec.dataAt[i];
        const uint32_t length = uint32_t(bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | uint32_t(bytes[at + 7]) << 24);
        stream->attribute.assign(bytes + at, bytes + at + length);  // checked by the decoding
        report::StreamRow row;
        row.stream = data.name;
        row.size = data.size;
        row.isDirectory = rec.directory;
        row.record = number;
        row.deleted = true;
        stream->data = std::move(data);
        item.rows.push_back(std::move(row));
        item.deleted.push_back(std::move(stream));
    }
    if (item.rows.empty()) return;
    std::vector<FileName> names = ListedNames(std::move(rec.names), number, options_.all);
    if (names.empty()) {
        // No name left to place it by, as other tools name such entries.
        std::u16string label = u"OrphanFile-";
        for (char c : std::to_string(number)) label.push_back(char16_t(c));
        names.push_back({0, 1, label});
    }
    for (FileName& name : names) {
        Pending one = item;
        one.parent = name.parent;
        one.name = std::move(name.name);
        Emit(one, false);
    }
}

void MftScan::AddDirectory(uint64_t number, uint16_t sequence, const std::vector<FileName>& names) {
    if (number >= slot_.size()) return;
    Directory d;
    d.sequence = sequence;
    d.firstName = uint32_t(nameRefs_.size());
    for (const FileName& n : names) {
        if (n.nameType == kNameDosOnly) continue;
        nameRefs_.push_back({n.parent, uint32_t(names_.size()), uint16_t(n.name.size())});
        names_ += n.name;
        ++d.nameCount;
    }
    directories_.push_back(d);
    slot_[size_t(number)] = uint32_t(directories_.size());
}

MftScan::Resolve MftScan::DirectoryPath(uint64_t reference, bool final, std::u16string* out) const {
    // Depth first over each directory's names, each directory entered once:
    // a loop of names ends, and a directory with several names is reached
    // at the first that leads to the root.
    std::vector<uint64_t> visited;
    std::vector<const NameRef*> parts;
    std::function<Resolve(uint64_t, unsigned)> up = [&](uint64_t ref, unsigned depth) -> Resolve {
        const uint64_t record = RecordOf(ref);
        if (depth > Walker::kMaxDepth) return Resolve::Orphan;
        if (record >= slot_.size() || slot_[size_t(record)] == 0)
            return !final && record >= position_ && record < records_ ? Resolve::Later : Resolve::Orphan;
        const Directory& d = directories_[slot_[size_t(record)] - 1];
        if (SequenceOf(ref) != 0 && SequenceOf(ref) != d.sequence) return Resolve::Orphan;
        if (record == FILE_root) return Resolve::Path;
        if (record < kFirstUserInode && !options_.all) return Resolve::Hidden;
        for (uint64_t v : visited)
            if (v == record) return Resolve::Orphan;
        visited.push_back(record);
        Resolve best = Resolve::Orphan;
        for (uint32_t i = 0; i < d.nameCount; ++i) {
            const NameRef& name = nameRefs_[d.firstName + i];
            const Resolve r = up(name.parent, depth + 1);
            if (r == Resolve::Path) {
                parts.push_back(&name);
                return r;
            }
            if (r == Resolve::Later || (r == Resolve::Hidden && best == Resolve::Orphan)) best = r;
        }
        return best;
    };
    const Resolve r = up(reference, 0);
    if (r != Resolve::Path) return r;
    std::u16string path;
    for (const NameRef* name : parts) {
        path.push_back(u'\\');
        path.append(names_, name->at, name->length);
    }
    if (path.empty()) path.push_back(u'\\');
    out->swap(path);
    return r;
}

void MftScan::Emit(const Pending& item, bool final) {
    std::u16string path;
    const bool self = item.name.empty();  // a directory placed by its own names
    if (self && !final) {
        // Which of its names leads to the root, and where the others lead,
        // is known only once every directory has been read.
        pending_.push_back(item);
        return;
    }
    Resolve r = DirectoryPath(item.parent, final, &path);
    if (r == Resolve::Later) {
        pending_.push_back(item);
        return;
    }
    if (r == Resolve::Hidden) return;
    if (r == Resolve::Orphan) {
        std::u16string name = item.name;
        if (self) {
            onProblem_(RecordLabel(item.record), "a directory none of whose names leads to the root; passed over");
            return;
        }
        path = ChildPath(kOrphanFolder, name);
    } else if (!self) {
        path = ChildPath(path, item.name);
    } else {
        OtherNames(item.record, path);
    }
    if (!item.deleted.empty()) {
        for (size_t i = 0; i < item.rows.size(); ++i) {
            report::StreamRow row = item.rows[i];
            row.path = path;
            onDeleted_(row, *item.deleted[i]);
        }
        return;
    }
    EmitLive(item, path);
}

// The names of directory `record` other than the one it is listed at: one
// inside its own tree is the loop the walk also reports.
void MftScan::OtherNames(uint64_t record, const std::u16string& listedAt) {
    const Directory& d = directories_[slot_[size_t(record)] - 1];
    for (uint32_t i = 0; i < d.nameCount; ++i) {
        const NameRef name = nameRefs_[d.firstName + i];
        std::u16string parent;
        if (DirectoryPath(name.parent, true, &parent) != Resolve::Path) {
            onProblem_(listedAt, "a directory with more than one name; listed at this one only");
            continue;
        }
        const std::u16string path = ChildPath(parent, names_.substr(name.at, name.length));
        if (path == listedAt) continue;
        if (path.compare(0, listedAt.size() + 1, listedAt + u"\\") == 0)
            onProblem_(path, "directory loop: the entry leads back to a directory above it");
        else
            onProblem_(path, "a second name of a directory listed at " + report::ToUtf8(listedAt) + "; not listed again");
    }
}

void MftScan::EmitLive(const Pending& item, const std::u16string& path) {
    if (!item.viaInode) {
        for (const report::StreamRow& found : item.rows) {
            report::StreamRow row = found;
            row.path = path;
            onStream_(row, nullptr);
        }
        return;
    }
    ntfs_inode* inode = ntfs_inode_open(volume_, item.record);
    if (inode == nullptr) {
        onProblem_(path, ErrnoText("its MFT record cannot be read"));
        return;
    }
    InodeStreams(inode, path, IsDirectoryInode(inode), options_.all || options_.usualNames, onStream_, onProblem_);
    ntfs_inode_close(inode);
}

}  // namespace vestrel::ntfs
