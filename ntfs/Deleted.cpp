#include "Deleted.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "NtfsLib.h"
extern "C" {
#include <ntfs-3g/runlist.h>
}

namespace vestrel::ntfs {
namespace {

struct FreeRunlist {
    void operator()(runlist_element* rl) const { std::free(rl); }
};
using Runlist = std::unique_ptr<runlist_element, FreeRunlist>;

uint64_t Le64At(const std::vector<uint8_t>& a, size_t at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | a[at + size_t(i)];
    return v;
}

// The stream's runs as the library decodes them, checked against the volume:
// every cluster inside it, and enough of them for the bytes the stream has.
Runlist Runs(ntfs_volume* volume, const DeletedStream& stream, std::string* why) {
    const DataAttribute& data = stream.data;
    if (data.compressed || data.encrypted) {
        *why = data.compressed ? "stored compressed; its bytes are not recovered"
                               : "stored encrypted; its bytes are not recovered";
        return nullptr;
    }
    if (data.valueLength == 0) {
        *why = "its runs cannot be found in its record";
        return nullptr;
    }
    errno = 0;
    Runlist rl(ntfs_mapping_pairs_decompress(volume, reinterpret_cast<const ATTR_RECORD*>(stream.attribute.data()),
                                             nullptr));
    if (!rl) {
        *why = "its runs cannot be decoded";
        return nullptr;
    }
    s64 end = 0;
    for (const runlist_element* r = rl.get(); r->length != 0; ++r) {
        if (r->lcn >= 0 && (r->length < 0 || r->lcn > volume->nr_clusters - r->length)) {
            *why = "its runs point past the end of the volume";
            return nullptr;
        }
        if (r->lcn < 0 && r->lcn != LCN_HOLE) {
            *why = "its runs are incomplete";
            return nullptr;
        }
        end = r->vcn + r->length;
    }
    const uint64_t initialized = Le64At(stream.attribute, 56);
    const uint64_t covered = uint64_t(end) << volume->cluster_size_bits;
    if (std::min<uint64_t>(initialized, data.size) > covered) {
        *why = "its runs end before its data does";
        return nullptr;
    }
    return rl;
}

// True when any of the `count` clusters from `lcn` is allocated today.
bool AnyAllocated(ntfs_volume* volume, s64 lcn, s64 count, bool* any) {
    std::vector<uint8_t> bits(64 * 1024);
    while (count > 0) {
        const s64 firstByte = lcn / 8;
        const s64 lastByte = (lcn + count - 1) / 8;
        const s64 bytes = std::min<s64>(s64(bits.size()), lastByte - firstByte + 1);
        if (ntfs_attr_pread(volume->lcnbmp_na, firstByte, bytes, bits.data()) != bytes) return false;
        for (s64 i = 0; i < bytes * 8 && count > 0; ++i) {
            const s64 bit = firstByte * 8 + i;
            if (bit < lcn) continue;
            if (bits[size_t(i / 8)] & (1u << (i % 8))) {
                *any = true;
                return true;
            }
            ++lcn;
            --count;
        }
    }
    return true;
}

}  // namespace

Recovery CheckDeleted(ntfs_volume* volume, const DeletedStream& stream, std::string* why) {
    if (!stream.data.nonResident) return Recovery::Recovered;
    Runlist rl = Runs(volume, stream, why);
    if (!rl) return Recovery::Unreadable;
    bool any = false;
    for (const runlist_element* r = rl.get(); r->length != 0 && !any; ++r) {
        if (r->lcn < 0) continue;
        if (!AnyAllocated(volume, r->lcn, r->length, &any)) {
            *why = "the volume's cluster bitmap cannot be read";
            return Recovery::Unreadable;
        }
    }
    return any ? Recovery::Overwritten : Recovery::Recovered;
}

std::u16string RecoveryWord(Recovery recovery) {
    switch (recovery) {
        case Recovery::Recovered: return u"recovered";
        case Recovery::Overwritten: return u"overwritten";
        case Recovery::Unreadable: break;
    }
    return u"";
}

bool ReadDeleted(ntfs_volume* volume, const DeletedStream& stream,
                 const std::function<bool(const char* data, size_t size)>& write, std::string* error) {
    const DataAttribute& data = stream.data;
    if (!data.nonResident) {
        // The decoding checked the value lies inside the attribute.
        if (!write(reinterpret_cast<const char*>(stream.attribute.data()) + data.valueOffset, data.valueLength)) {
            *error = "write error";
            return false;
        }
        return true;
    }
    Runlist rl = Runs(volume, stream, error);
    if (!rl) return false;
    const uint64_t initialized = std::min<uint64_t>(Le64At(stream.attribute, 56), data.size);
    std::vector<char> buffer(1 << 20);
    for (uint64_t position = 0; position < data.size;) {
        const uint64_t want = std::min<uint64_t>(buffer.size(), data.size - position);
        if (position >= initialized) {
            // Past the initialized part a stream reads as zeros.
            std::memset(buffer.data(), 0, size_t(want));
        } else {
            const uint64_t read = std::min<uint64_t>(want, initialized - position);
            errno = 0;
            if (ntfs_rl_pread(volume, rl.get(), s64(position), s64(read), buffer.data()) != s64(read)) {
                *error = "read error at byte " + std::to_string(position) + " (" +
                         std::strerror(errno != 0 ? errno : EIO) + ")";
                return false;
            }
            if (read < want) std::memset(buffer.data() + read, 0, size_t(want - read));
        }
        if (!write(buffer.data(), size_t(want))) {
            *error = "write error";
            return false;
        }
        position += want;
    }
    return true;
}

}  // namespace vestrel::ntfs
