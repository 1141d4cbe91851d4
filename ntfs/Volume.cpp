#include "Volume.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Bytes.h"
#include "NtfsLib.h"

namespace vestrel::ntfs {

namespace {

std::string g_lastMessage;

int CatchMessage(const char*, const char*, int, u32, void*, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) g_lastMessage = line;
    return 0;
}

}  // namespace

void SilenceLibrary() {
    ntfs_log_set_handler(CatchMessage);
    ntfs_log_clear_levels(~0u);
    ntfs_log_set_levels(NTFS_LOG_LEVEL_ERROR | NTFS_LOG_LEVEL_PERROR | NTFS_LOG_LEVEL_CRITICAL |
                        NTFS_LOG_LEVEL_WARNING);
}

std::string TakeLibraryMessage() {
    std::string out;
    out.swap(g_lastMessage);
    return out;
}

// The window [offset, offset + length) of the source, as the library's device.
struct Volume::Device {
    const Source* source = nullptr;
    uint64_t offset = 0, length = 0;
    int64_t position = 0;
    // When set, reads of the $MFTMirr's records get the $MFT's first records
    // instead (window offsets; see Mount).
    uint64_t mirror = 0, mirrorLength = 0, mft = 0;
};

namespace {

Volume::Device* Of(struct ntfs_device* dev);

int DevOpen(struct ntfs_device* dev, int flags) {
    if ((flags & O_ACCMODE) != O_RDONLY) {
        errno = EROFS;
        return -1;
    }
    NDevSetReadOnly(dev);
    NDevSetOpen(dev);
    return 0;
}

int DevClose(struct ntfs_device* dev) {
    NDevClearOpen(dev);
    return 0;
}

// Up to `count` bytes at window offset `pos`; fewer where the window or the
// image ends.
s64 ReadWindow(const Volume::Device& d, char* buf, uint64_t count, uint64_t pos) {
    if (pos >= d.length) return 0;
    const uint64_t want = std::min<uint64_t>(count, d.length - pos);
    // The source ends early where the image is truncated: only what it holds
    // is read.
    const uint64_t start = d.offset + pos;
    if (start >= d.source->size()) return 0;
    const uint64_t done = std::min<uint64_t>(want, d.source->size() - start);
    if (!d.source->ReadAt(start, buf, size_t(done))) {
        errno = EIO;
        return -1;
    }
    return s64(done);
}

s64 DevPread(struct ntfs_device* dev, void* buf, s64 count, s64 pos) {
    const Volume::Device& d = *Of(dev);
    if (count < 0 || pos < 0) {
        errno = EINVAL;
        return -1;
    }
    char* out = static_cast<char*>(buf);
    const s64 got = ReadWindow(d, out, uint64_t(count), uint64_t(pos));
    if (got <= 0 || d.mirrorLength == 0) return got;
    const uint64_t from = std::max<uint64_t>(uint64_t(pos), d.mirror);
    const uint64_t to = std::min<uint64_t>(uint64_t(pos) + uint64_t(got), d.mirror + d.mirrorLength);
    if (from < to) {
        const uint64_t n = to - from;
        if (ReadWindow(d, out + (from - uint64_t(pos)), n, d.mft + (from - d.mirror)) != s64(n)) {
            errno = EIO;
            return -1;
        }
    }
    return got;
}

s64 DevRead(struct ntfs_device* dev, void* buf, s64 count) {
    Volume::Device* d = Of(dev);
    const s64 got = DevPread(dev, buf, count, d->position);
    if (got > 0) d->position += got;
    return got;
}

s64 DevSeek(struct ntfs_device* dev, s64 offset, int whence) {
    Volume::Device* d = Of(dev);
    s64 base = 0;
    if (whence == SEEK_CUR) base = d->position;
    else if (whence == SEEK_END) base = s64(d->length);
    else if (whence != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    if (base + offset < 0) {
        errno = EINVAL;
        return -1;
    }
    d->position = base + offset;
    return d->position;
}

// The source is open for reading only; a write the library might try is
// refused here before it could reach the descriptor.
s64 DevWrite(struct ntfs_device*, const void*, s64) {
    errno = EROFS;
    return -1;
}

s64 DevPwrite(struct ntfs_device*, const void*, s64, s64) {
    errno = EROFS;
    return -1;
}

int DevSync(struct ntfs_device*) { return 0; }

int DevStat(struct ntfs_device* dev, struct stat* buf) {
    std::memset(buf, 0, sizeof *buf);
    buf->st_mode = S_IFREG | 0444;
    buf->st_size = off_t(Of(dev)->length);
    return 0;
}

int DevIoctl(struct ntfs_device*, unsigned long, void*) {
    errno = ENOTTY;
    return -1;
}

struct ntfs_device_operations g_ops = {DevOpen, DevClose, DevSeek,  DevRead,  DevWrite,
                                       DevPread, DevPwrite, DevSync, DevStat, DevIoctl};

Volume::Device* Of(struct ntfs_device* dev) { return static_cast<Volume::Device*>(dev->d_private); }

std::string Describe(int err) {
    switch (err) {
        case EINVAL: return "not a readable NTFS volume (boot sector or $MFT damaged)";
        case EIO: return "the volume's metadata cannot be read (damaged or truncated)";
        case EOPNOTSUPP: return "unsupported NTFS variant";
        default: return std::strerror(err);
    }
}

// Locates $MFT and $MFTMirr from the boot sector, as the library does, and
// when the mirror's records differ from $MFT's first ones makes the device
// serve those in the mirror's place. `differing` lists the records that
// differ. False when the two cannot be located, read, or agree.
bool SetMirrorAside(Volume::Device* d, std::string* differing) {
    uint8_t boot[kSectorSize];
    if (ReadWindow(*d, reinterpret_cast<char*>(boot), sizeof boot, 0) != s64(sizeof boot)) return false;
    const uint64_t bytesPerSector = Le16(boot + 11);
    // Above 0x80 the count is a negative power of two; no real cluster is
    // larger than 2 MiB, so a larger power is damage (and no shift is made
    // past the width of the type).
    const unsigned power = 256u - boot[13];
    if (boot[13] > 0x80 && power > 21) return false;
    const uint64_t sectorsPerCluster = boot[13] > 0x80 ? uint64_t(1) << power : boot[13];
    const uint64_t cluster = bytesPerSector * sectorsPerCluster;
    const int8_t perRecord = int8_t(boot[0x40]);
    if (cluster == 0 || cluster > (1u << 21) || perRecord == 0 || perRecord < -20) return false;
    const uint64_t record = perRecord > 0 ? uint64_t(perRecord) * cluster : uint64_t(1) << -perRecord;
    if (record > (1u << 21)) return false;
    const uint64_t records = cluster <= 4 * record ? 4 : cluster / record;
    const uint64_t length = records * record;
    const uint64_t mftLcn = Le64(boot + 0x30), mirrorLcn = Le64(boot + 0x38);
    const uint64_t clusters = d->length / cluster;
    if (mftLcn >= clusters || mirrorLcn >= clusters) return false;
    const uint64_t mft = mftLcn * cluster, mirror = mirrorLcn * cluster;
    if (length > d->length - mft || length > d->length - mirror) return false;
    if (mft < mirror + length && mirror < mft + length) return false;  // one on top of the other
    std::vector<char> mine(length), copy(length);
    if (ReadWindow(*d, mine.data(), length, mft) != s64(length) ||
        ReadWindow(*d, copy.data(), length, mirror) != s64(length))
        return false;
    differing->clear();
    for (uint64_t i = 0; i < records; ++i) {
        if (std::memcmp(&mine[i * record], &copy[i * record], record) == 0) continue;
        *differing += (differing->empty() ? "" : ", ") + std::to_string(i);
    }
    if (differing->empty()) return false;
    d->mft = mft;
    d->mirror = mirror;
    d->mirrorLength = length;
    return true;
}

}  // namespace

Volume::~Volume() {
    if (vol_ != nullptr) ntfs_umount(vol_, FALSE);  // also frees the library's device
}

std::unique_ptr<Volume> Volume::Mount(const Source& source, const Partition& where, std::string* error) {
    std::unique_ptr<Volume> volume(new Volume);
    volume->device_.reset(new Device);
    volume->device_->source = &source;
    volume->device_->offset = where.offset;
    volume->device_->length = where.length;
    struct ntfs_device* dev = ntfs_device_alloc(source.path().c_str(), 0, &g_ops, volume->device_.get());
    if (dev == nullptr) {
        *error = "out of memory";
        return nullptr;
    }
    TakeLibraryMessage();
    errno = 0;
    volume->vol_ = ntfs_device_mount(dev, NTFS_MNT_RDONLY);
    const int err = errno != 0 ? errno : EINVAL;
    const std::string detail = TakeLibraryMessage();
    // The library refuses a volume whose $MFTMirr differs from $MFT, and no
    // mount flag relaxes that. The mirror is only a copy of $MFT's first
    // records, so serving $MFT's own in its place lets the mount go on;
    // nothing is written. Should it still fail, the first failure is told.
    std::string differing;
    if (volume->vol_ == nullptr && SetMirrorAside(volume->device_.get(), &differing)) {
        volume->device_->position = 0;
        errno = 0;
        volume->vol_ = ntfs_device_mount(dev, NTFS_MNT_RDONLY);
        if (volume->vol_ != nullptr)
            volume->warning_ = "$MFTMirr does not match $MFT (record" +
                               std::string(differing.find(',') != std::string::npos ? "s " : " ") + differing +
                               "); read through $MFT, the mirror set aside";
        else
            volume->device_->mirrorLength = 0;
        TakeLibraryMessage();
    }
    if (volume->vol_ == nullptr) {
        *error = Describe(err) + (detail.empty() ? "" : " [" + detail + "]");
        ntfs_device_free(dev);
        return nullptr;
    }
    return volume;
}

}  // namespace vestrel::ntfs
