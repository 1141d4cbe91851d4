#include "Fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "NtfsLib.h"
#include "DiskTables.h"
#include "PartitionTable.h"

namespace vestrel::ntfs::fixture {
namespace {

ntfschar* Units(const std::u16string& s) { return reinterpret_cast<ntfschar*>(const_cast<char16_t*>(s.data())); }

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out.push_back(c < 0x80 ? char(c) : '?');
    return out;
}

int RunQuiet(const std::vector<std::string>& argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::u16string Digits(unsigned n) {
    std::u16string out;
    for (char c : std::to_string(n)) out.push_back(char16_t(c));
    return out;
}

std::string Pattern(uint64_t size) {
    std::string data(size_t(size), '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
    return data;
}

}  // namespace

bool Format(const std::string& image, uint64_t bytes, std::string* error, uint64_t partitionStart,
            uint32_t sectorSize) {
    if (truncate(image.c_str(), 0) != 0) {
        std::ofstream create(image);
    }
    if (truncate(image.c_str(), off_t(bytes)) != 0) {
        *error = image + ": cannot size the image";
        return false;
    }
    const std::string mkntfs = access("/usr/sbin/mkntfs", X_OK) == 0 ? "/usr/sbin/mkntfs" : "mkntfs";
    const int rc = RunQuiet({mkntfs, "-F", "-q", "-f", "-s", std::to_string(sectorSize), "-c", "4096", "-H", "255", "-S", "63",
                             "-p", std::to_string(partitionStart), image});
    if (rc != 0) {
        *error = "mkntfs failed on " + image + " (status " + std::to_string(rc) + ")";
        return false;
    }
    return true;
}

std::string CompressibleText(uint64_t size) {
    std::string data;
    data.reserve(size_t(size) + 64);
    for (unsigned line = 0; data.size() < size; ++line)
        data += "line " + std::to_string(line) + ": the same words again, only the number changes\n";
    data.resize(size_t(size));
    return data;
}

Writer::~Writer() { Close(); }

bool Writer::Open(const std::string& image, std::string* error) {
    ntfs_log_clear_levels(~0u);
    auto* vol = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
    if (vol == nullptr) {
        *error = image + ": cannot be opened for writing (" + std::strerror(errno) + ")";
        return false;
    }
    // The library leaves compression off unless told; with it on, only files
    // marked compressed get compressed data.
    NVolSetCompression(vol);
    volume_ = vol;
    return true;
}

bool Writer::Close() {
    if (volume_ == nullptr) return true;
    const bool ok = ntfs_umount(static_cast<ntfs_volume*>(volume_), FALSE) == 0;
    volume_ = nullptr;
    return ok;
}

namespace {

// Opens (creating directories as needed) the directory holding `path`'s last
// component; returns it with the last component in `leaf`.
ntfs_inode* ParentOf(ntfs_volume* vol, const std::u16string& path, std::u16string* leaf) {
    ntfs_inode* dir = ntfs_inode_open(vol, FILE_root);
    size_t pos = 1;
    for (;;) {
        const size_t end = path.find(u'\\', pos);
        if (end == std::u16string::npos) {
            *leaf = path.substr(pos);
            return dir;
        }
        const std::u16string part = path.substr(pos, end - pos);
        pos = end + 1;
        const u64 ref = ntfs_inode_lookup_by_name(dir, Units(part), int(part.size()));
        ntfs_inode* next = ref == u64(-1) ? ntfs_create(dir, 0, Units(part), u8(part.size()), S_IFDIR)
                                          : ntfs_inode_open(vol, ref);
        ntfs_inode_close(dir);
        if (next == nullptr) return nullptr;
        dir = next;
    }
}

bool WriteStream(ntfs_inode* ni, const Stream& s) {
    if (ntfs_attr_add(ni, AT_DATA, Units(s.name), u8(s.name.size()), nullptr, 0) != 0) return false;
    if (s.size == 0 && s.data.empty()) return true;
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, Units(s.name), u32(s.name.size()));
    if (na == nullptr) return false;
    bool ok;
    if (s.sparse) {
        // Non-resident through a first cluster, then grown: the rest is a
        // hole and reads back as zeros.
        const std::string head(4096, 'h');
        ok = ntfs_attr_pwrite(na, 0, s64(head.size()), head.data()) == s64(head.size()) &&
             ntfs_attr_truncate(na, s64(s.size)) == 0 && ntfs_attr_pwrite(na, s64(s.size - 5), 5, "tail!") == 5;
    } else if (s.compressed) {
        const std::string data = CompressibleText(s.size);
        ok = ntfs_attr_pwrite(na, 0, s64(data.size()), data.data()) == s64(data.size());
        // The last compression block stays in memory until the attribute is
        // closed this way; a plain close would leave it unwritten.
        ok = ntfs_attr_pclose(na) == 0 && ok;
        // Compression silently falls back to plain data when the volume or
        // the file does not allow it; a fixture that claims it must have it.
        if (ok && (na->data_flags & ATTR_COMPRESSION_MASK) != ATTR_IS_COMPRESSED) {
            errno = EOPNOTSUPP;
            ok = false;
        }
    } else {
        const std::string data = s.data.empty() ? Pattern(s.size) : s.data;
        ok = ntfs_attr_pwrite(na, 0, s64(data.size()), data.data()) == s64(data.size());
    }
    ntfs_attr_close(na);
    return ok;
}

}  // namespace

bool Writer::AddFile(const std::u16string& path, const std::vector<Stream>& streams, const std::string& content) {
    auto* vol = static_cast<ntfs_volume*>(volume_);
    std::u16string leaf;
    ntfs_inode* dir = ParentOf(vol, path, &leaf);
    if (dir == nullptr) {
        error_ = "no parent for " + Narrow(path);
        return false;
    }
    ntfs_inode* ni = ntfs_create(dir, 0, Units(leaf), u8(leaf.size()), S_IFREG);
    ntfs_inode_close(dir);
    if (ni == nullptr) {
        error_ = "cannot create " + Narrow(path) + " (" + std::strerror(errno) + ")";
        return false;
    }
    bool ok = true;
    for (const Stream& s : streams) {
        if (s.compressed) {
            // Attributes are created compressed only for a file marked so.
            ni->flags = FILE_ATTR_FLAGS(ni->flags | FILE_ATTR_COMPRESSED);
            ntfs_inode_mark_dirty(ni);
        }
    }
    if (!content.empty()) {
        ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
        ok = na != nullptr && ntfs_attr_pwrite(na, 0, s64(content.size()), content.data()) == s64(content.size());
        if (na != nullptr) ntfs_attr_close(na);
    }
    for (const Stream& s : streams) {
        if (ok && !WriteStream(ni, s)) {
            error_ = "cannot write stream " + Narrow(s.name) + " of " + Narrow(path) + " (" + std::strerror(errno) + ")";
            ok = false;
        }
    }
    ntfs_inode_close(ni);
    return ok;
}

bool Writer::AddDirectory(const std::u16string& path, const std::vector<Stream>& streams) {
    auto* vol = static_cast<ntfs_volume*>(volume_);
    std::u16string leaf;
    ntfs_inode* dir = ParentOf(vol, path, &leaf);
    if (dir == nullptr) return false;
    ntfs_inode* ni = ntfs_create(dir, 0, Units(leaf), u8(leaf.size()), S_IFDIR);
    ntfs_inode_close(dir);
    if (ni == nullptr) {
        error_ = "cannot create directory " + Narrow(path);
        return false;
    }
    bool ok = true;
    for (const Stream& s : streams) ok = ok && WriteStream(ni, s);
    ntfs_inode_close(ni);
    if (!ok) error_ = "cannot write a stream of " + Narrow(path);
    return ok;
}

bool Writer::AddLink(const std::u16string& existing, const std::u16string& newPath) {
    auto* vol = static_cast<ntfs_volume*>(volume_);
    std::u16string leaf, existingLeaf;
    // The new name's directory first: for a directory linked below itself
    // the walk down passes through the linked directory.
    ntfs_inode* target = ParentOf(vol, newPath, &leaf);
    ntfs_inode* dir = target == nullptr ? nullptr : ParentOf(vol, existing, &existingLeaf);
    const u64 ref = dir == nullptr ? u64(-1) : ntfs_inode_lookup_by_name(dir, Units(existingLeaf), int(existingLeaf.size()));
    if (dir != nullptr) ntfs_inode_close(dir);
    ntfs_inode* ni = ref == u64(-1) ? nullptr : ntfs_inode_open(vol, ref);
    const bool ok = ni != nullptr && ntfs_link(ni, target, Units(leaf), u8(leaf.size())) == 0;
    if (ni != nullptr) ntfs_inode_close(ni);
    if (target != nullptr) ntfs_inode_close(target);
    if (!ok) error_ = "cannot link " + Narrow(newPath);
    return ok;
}

bool Writer::Remove(const std::u16string& path) {
    auto* vol = static_cast<ntfs_volume*>(volume_);
    std::u16string leaf;
    ntfs_inode* dir = ParentOf(vol, path, &leaf);
    if (dir == nullptr) return false;
    const u64 ref = ntfs_inode_lookup_by_name(dir, Units(leaf), int(leaf.size()));
    ntfs_inode* ni = ref == u64(-1) ? nullptr : ntfs_inode_open(vol, ref);
    if (ni == nullptr) {
        ntfs_inode_close(dir);
        error_ = "no " + Narrow(path) + " to remove";
        return false;
    }
    // The library closes both inodes, whatever the outcome.
    const std::string narrow = Narrow(path);
    if (ntfs_delete(vol, narrow.c_str(), ni, dir, Units(leaf), u8(leaf.size())) != 0) {
        error_ = "cannot remove " + narrow + " (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

bool Writer::Fill(const std::u16string& path) {
    if (!AddFile(path, {})) return false;
    auto* vol = static_cast<ntfs_volume*>(volume_);
    std::u16string leaf;
    ntfs_inode* dir = ParentOf(vol, path, &leaf);
    const u64 ref = ntfs_inode_lookup_by_name(dir, Units(leaf), int(leaf.size()));
    ntfs_inode_close(dir);
    ntfs_inode* ni = ntfs_inode_open(vol, ref);
    ntfs_attr* na = ni == nullptr ? nullptr : ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    if (na == nullptr) {
        if (ni != nullptr) ntfs_inode_close(ni);
        error_ = "cannot open " + Narrow(path);
        return false;
    }
    const std::string block(vol->cluster_size, 'F');
    s64 at = 0;
    while (ntfs_attr_pwrite(na, at, s64(block.size()), block.data()) == s64(block.size())) at += s64(block.size());
    ntfs_attr_close(na);
    ntfs_inode_close(ni);
    return at > 0;
}

bool Writer::HasAttributeList(const std::u16string& path) {
    auto* vol = static_cast<ntfs_volume*>(volume_);
    std::u16string leaf;
    ntfs_inode* dir = ParentOf(vol, path, &leaf);
    if (dir == nullptr) return false;
    const u64 ref = ntfs_inode_lookup_by_name(dir, Units(leaf), int(leaf.size()));
    ntfs_inode_close(dir);
    ntfs_inode* ni = ref == u64(-1) ? nullptr : ntfs_inode_open(vol, ref);
    if (ni == nullptr) return false;
    const bool has = NInoAttrList(ni);
    ntfs_inode_close(ni);
    return has;
}

bool BuildStandard(const std::string& image, std::string* error) {
    if (!Format(image, 64ull << 20, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    std::u16string longName(255, u'L');
    longName[0] = u'x';
    std::u16string deep;
    for (int i = 1; i <= 20; ++i) deep += u"\\d" + std::u16string(1, char16_t(u'a' + i));
    std::vector<Stream> many;
    for (int i = 0; i < 300; ++i) many.push_back({u"m" + std::u16string(1, char16_t(u'A' + i / 26)) +
                                                      std::u16string(1, char16_t(u'a' + i % 26)), 8});
    const bool ok =
        w.AddFile(u"\\plain.txt", {}, "no streams here") &&
        w.AddFile(u"\\sizes.txt", {{u"s0", 0}, {u"s1", 1}, {u"s100", 100}, {u"s101", 101}}, "main") &&
        w.AddFile(u"\\excluded.txt", {{u"Zone.Identifier", 26, false, false, "[ZoneTransfer]\r\nZoneId=3\r\n"},
                                      {u"FAVICON", 3, false, false, "\xFF\xD8\xFF"}, {u"oeCustomProperty", 4},
                                      {u"faviconX", 5}}) &&
        w.AddFile(u"\\names.txt", {{u"\u6D41\u540D\u79F0", 9}, {longName, 2}}) &&
        w.AddDirectory(u"\\dir", {{u"dirstream", 10}}) &&
        w.AddFile(u"\\dir\\inner.txt", {{u"inner", 6}}) &&
        w.AddFile(deep + u"\\leaf.txt", {{u"deep", 4}}) &&
        w.AddFile(u"\\linka.txt", {{u"linked", 7}}) && w.AddLink(u"\\linka.txt", u"\\dir\\linkb.txt") &&
        w.AddFile(u"\\sparse.bin", {{u"big", (4ull << 30) + 5, true}, {u"after", 3}}) &&
        w.AddFile(u"\\packed.txt", {{u"large", 65536}}) &&
        w.AddFile(u"\\many.txt", many) &&
        w.AddFile(u"\\\u6587\u4EF6.txt", {{u"hidden", 11}});
    if (!ok) {
        *error = w.error();
        return false;
    }
    if (!w.HasAttributeList(u"\\many.txt")) {
        *error = "many.txt did not get an attribute list";
        return false;
    }
    if (!w.Close()) {
        *error = "cannot close " + image;
        return false;
    }
    return true;
}

bool BuildLoop(const std::string& image, std::string* error) {
    if (!Format(image, 16ull << 20, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    // \loop\inner\back is a second name of \loop itself.
    const bool ok = w.AddDirectory(u"\\loop", {{u"top", 3}}) && w.AddFile(u"\\loop\\inner\\f.txt", {{u"s", 2}}) &&
                    w.AddLink(u"\\loop", u"\\loop\\inner\\back") && w.AddFile(u"\\after.txt", {{u"t", 1}});
    if (!ok) *error = w.error();
    return w.Close() && ok;
}

bool BuildMoved(const std::string& image, std::string* error) {
    if (!Format(image, 16ull << 20, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    // A second name in the later directory, then the first name removed: a
    // move, as the library has no rename of its own.
    const bool ok = w.AddFile(u"\\early.txt", {{u"e", 3}}) && w.AddDirectory(u"\\late") &&
                    w.AddLink(u"\\early.txt", u"\\late\\early.txt") && w.Remove(u"\\early.txt") &&
                    w.AddDirectory(u"\\d1", {{u"ds", 2}}) && w.AddDirectory(u"\\outer") &&
                    w.AddLink(u"\\d1", u"\\outer\\d1") && w.Remove(u"\\d1") &&
                    w.AddFile(u"\\outer\\d1\\g.txt", {{u"g", 4}});
    if (!ok) *error = w.error();
    return w.Close() && ok;
}

bool BuildDeleted(const std::string& image, DeletedFixture* bytes, std::string* error) {
    if (!Format(image, 16ull << 20, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    bytes->resident = "resident bytes of a deleted file";
    bytes->nonResident = CompressibleText(20000);
    bytes->orphan = "orphan's own";
    bytes->reused = Pattern(65536);
    // reused.txt goes first and a file then takes every free cluster, its
    // old ones with them; gone.txt's clusters are freed after that, so
    // nothing takes them. One step at a time, stopping at the first failure.
    const std::vector<Stream> gone = {{u"res", 0, false, false, bytes->resident},
                                      {u"big", 0, false, false, bytes->nonResident}};
    const std::vector<Stream> orphan = {{u"o", 0, false, false, bytes->orphan}};
    bool ok = w.AddFile(u"\\keep\\live.txt", {{u"live", 5}});
    ok = ok && w.AddFile(u"\\keep\\gone.txt", gone, "main data");
    ok = ok && w.AddFile(u"\\tmp\\orphan.txt", orphan);
    ok = ok && w.Remove(u"\\tmp\\orphan.txt");
    ok = ok && w.Remove(u"\\tmp");
    ok = ok && w.AddFile(u"\\reused.txt", {{u"carrier", 65536}});
    ok = ok && w.Remove(u"\\reused.txt");
    ok = ok && w.Fill(u"\\filler.bin");
    ok = ok && w.Remove(u"\\keep\\gone.txt");
    if (!ok) *error = w.error();
    return w.Close() && ok;
}

bool BuildBench(const std::string& image, unsigned files, std::string* error, unsigned perDirectory) {
    if (perDirectory == 0) {
        *error = "no files per directory";
        return false;
    }
    if (!Format(image, (64ull << 20) + uint64_t(files) * 6144, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    for (unsigned i = 0; i < files; ++i) {
        std::u16string path = u"\\d" + Digits(i / perDirectory) + u"\\f" + Digits(i) + u".txt";
        std::vector<Stream> streams;
        if (i % 20 == 0) streams.push_back({u"s", 16});
        if (!w.AddFile(path, streams)) {
            *error = w.error();
            return false;
        }
    }
    return w.Close();
}

bool BuildDigests(const std::string& image, std::string* error) {
    // Sizes as streams come: many small zone files and notes, fewer
    // documents, a few payloads in the megabytes.
    static const uint64_t kSizes[] = {120, 4096, 65536, 1u << 20};
    constexpr unsigned kFiles = 400, kLarge = 4;
    if (!Format(image, 320ull << 20, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    for (unsigned i = 0; i < kFiles + kLarge; ++i) {
        const uint64_t size = i < kFiles ? kSizes[i % 4] : 16ull << 20;
        const std::u16string path = u"\\d" + Digits(i / 50) + u"\\f" + Digits(i) + u".bin";
        if (!w.AddFile(path, {{u"s", size}})) {
            *error = w.error();
            return false;
        }
    }
    return w.Close();
}

bool BuildCompressed(const std::string& image, uint64_t size, std::string* error) {
    if (!Format(image, 8ull << 20, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    Stream packed{u"packed", size};
    packed.compressed = true;
    const bool ok = w.AddFile(u"\\packed.bin", {packed}, "main data");
    if (!ok) *error = w.error();
    return w.Close() && ok;
}

bool StreamIsCompressed(const std::string& image, const std::u16string& path, const std::u16string& stream) {
    ntfs_log_clear_levels(~0u);
    ntfs_volume* vol = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
    if (vol == nullptr) return false;
    std::u16string leaf;
    ntfs_inode* dir = ParentOf(vol, path, &leaf);
    const u64 ref = dir == nullptr ? u64(-1) : ntfs_inode_lookup_by_name(dir, Units(leaf), int(leaf.size()));
    if (dir != nullptr) ntfs_inode_close(dir);
    ntfs_inode* ni = ref == u64(-1) ? nullptr : ntfs_inode_open(vol, ref);
    ntfs_attr* na = ni == nullptr ? nullptr : ntfs_attr_open(ni, AT_DATA, Units(stream), u32(stream.size()));
    // The flag, and data that really took less room than its size.
    const bool compressed = na != nullptr && (na->data_flags & ATTR_COMPRESSION_MASK) == ATTR_IS_COMPRESSED &&
                            na->compressed_size > 0 && na->compressed_size < na->data_size;
    if (na != nullptr) ntfs_attr_close(na);
    if (ni != nullptr) ntfs_inode_close(ni);
    ntfs_umount(vol, FALSE);
    return compressed;
}

namespace {

// A piece of a disk image: a volume image copied in, or table bytes.
struct Piece {
    uint64_t offset;
    std::string image;
    std::vector<uint8_t> bytes;
};

bool WriteDisk(const std::string& disk, uint64_t size, const std::vector<Piece>& pieces, std::string* error) {
    const int fd = open(disk.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && ftruncate(fd, off_t(size)) == 0;
    std::vector<char> buffer(1 << 20);
    for (const Piece& piece : pieces) {
        if (!ok) break;
        if (piece.image.empty()) {
            ok = pwrite(fd, piece.bytes.data(), piece.bytes.size(), off_t(piece.offset)) == ssize_t(piece.bytes.size());
            continue;
        }
        std::ifstream in(piece.image, std::ios::binary);
        ok = bool(in);
        for (uint64_t at = piece.offset; ok && (in.read(buffer.data(), std::streamsize(buffer.size())) || in.gcount() > 0);
             at += uint64_t(in.gcount()))
            ok = pwrite(fd, buffer.data(), size_t(in.gcount()), off_t(at)) == in.gcount();
    }
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (!ok) *error = "cannot write " + disk;
    return ok;
}

uint64_t SectorsOf(const std::string& image, uint32_t sectorSize) {
    struct stat st {};
    return stat(image.c_str(), &st) == 0 ? uint64_t(st.st_size) / sectorSize : 0;
}

}  // namespace

bool BuildDisk(const std::string& disk, const std::string& table, const std::vector<std::string>& volumes,
               std::string* error, uint32_t sectorSize) {
    const uint64_t align = (1u << 20) / sectorSize;
    struct Slot { uint64_t lba, sectors; uint8_t type; std::string image; };
    std::vector<Slot> slots;
    uint64_t next = align;
    for (size_t i = 0; i < volumes.size(); ++i) {
        const uint64_t sectors = SectorsOf(volumes[i], sectorSize);
        slots.push_back({next, sectors, tables::kTypeNtfs, volumes[i]});
        next += (sectors + align - 1) / align * align;
        if (table == "mbr" && i + 1 < volumes.size()) {
            slots.push_back({next, align, tables::kTypeLinux, ""});  // a Linux partition between
            next += align;
        }
    }
    const uint64_t total = next + align;
    std::vector<Piece> pieces{{0, "", std::vector<uint8_t>(align * sectorSize, 0)}};
    uint8_t* head = pieces[0].bytes.data();
    if (table == "mbr") {
        for (size_t i = 0; i < slots.size() && i < 4; ++i)
            tables::SetEntry(head, int(i), slots[i].type, uint32_t(slots[i].lba), uint32_t(slots[i].sectors));
    } else {
        std::vector<tables::GptEntry> entries;
        for (const Slot& slot : slots) entries.push_back({slot.lba, slot.lba + slot.sectors - 1});
        tables::WriteGpt(head, sectorSize, total, entries);
    }
    for (const Slot& slot : slots)
        if (!slot.image.empty()) pieces.push_back({slot.lba * sectorSize, slot.image, {}});
    return WriteDisk(disk, total * sectorSize, pieces, error);
}

bool BuildExtendedDisk(const std::string& disk, const std::string& primary, const std::vector<std::string>& logicals,
                       std::string* error) {
    constexpr uint64_t kAlign = 2048;  // sectors: 1 MiB
    auto Span = [](uint64_t sectors) { return (sectors + kAlign - 1) / kAlign * kAlign; };
    const uint64_t primarySectors = SectorsOf(primary, kSectorSize);
    const uint64_t extended = kAlign + Span(primarySectors);
    std::vector<Piece> pieces{{0, "", std::vector<uint8_t>(kSectorSize, 0)}, {kAlign * kSectorSize, primary, {}}};
    std::vector<tables::Logical> chain;
    uint64_t next = extended;
    for (size_t i = 0; i < logicals.size(); ++i) {
        const uint64_t sectors = SectorsOf(logicals[i], kSectorSize);
        chain.push_back({next, next + kAlign, sectors});
        pieces.push_back({(next + kAlign) * kSectorSize, logicals[i], {}});
        next += kAlign + Span(sectors);
        if (i == 0 && logicals.size() > 1) {
            chain.push_back({next, next + kAlign, kAlign, tables::kTypeLinux});  // a Linux logical between
            next += 2 * kAlign;
        }
    }
    for (auto& [lba, record] : tables::ExtendedChain(extended, chain))
        pieces.push_back({lba * kSectorSize, "", std::vector<uint8_t>(record.begin(), record.end())});
    uint8_t* mbr = pieces[0].bytes.data();
    tables::SetEntry(mbr, 0, tables::kTypeNtfs, uint32_t(kAlign), uint32_t(primarySectors));
    tables::SetEntry(mbr, 1, tables::kTypeExtended, uint32_t(extended), uint32_t(next - extended));
    return WriteDisk(disk, (next + kAlign) * kSectorSize, pieces, error);
}

}  // namespace vestrel::ntfs::fixture
