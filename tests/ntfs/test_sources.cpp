// The source layer's own code: recognising containers from their bytes, the
// names of split segments, VMDK descriptors, snapshot times, --volume names,
// reads across segment ends, and BitLocker through a fake of the library's
// volume (no BitLocker image can be made on Linux).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "CliRunner.h"
#include "Fixture.h"
#include "NtfsLib.h"
#include "ReadAhead.h"
#include "Source.h"
#include "SourceBitLocker.h"
#include "Targets.h"
#include "Volume.h"

using namespace vestrel::ntfs;

namespace {

SourceKind Recognize(const std::string& head, const std::string& tail = "") {
    return RecognizeContent(reinterpret_cast<const uint8_t*>(head.data()), head.size(),
                            reinterpret_cast<const uint8_t*>(tail.data()), tail.size());
}

}  // namespace

TEST(SourceKinds, EachSignatureIsRecognisedAndANearMissIsRaw) {
    const std::string footer = "conectix" + std::string(504, '\0');
    struct Case {
        std::string head, tail;
        SourceKind kind;
    };
    const Case cases[] = {
        {std::string("EVF\x09\x0d\x0a\xff\x00", 8), "", SourceKind::Ewf},
        {std::string("EVF\x09\x0d\x0a\xff\x01", 8), "", SourceKind::Raw},
        {std::string("EVF\x09\x0d\x0a\xff", 7), "", SourceKind::Raw},  // one byte short
        {std::string("EVF2\x0d\x0a\x81\x00", 8), "", SourceKind::Ewf2},
        {std::string("LVF\x09\x0d\x0a\xff\x00", 8), "", SourceKind::EwfLogical},
        {"vhdxfile", "", SourceKind::Vhdx},
        {"vhdxfil", "", SourceKind::Raw},
        {"QFI\xfb", "", SourceKind::Qcow},
        {"QFI\xfa", "", SourceKind::Raw},
        {"KDMV", "", SourceKind::VmdkSparse},
        {"COWD", "", SourceKind::VmdkCowd},
        {footer, "", SourceKind::Vhd},                            // a dynamic disk's copy
        {std::string(512, 'x'), footer, SourceKind::Vhd},          // a fixed disk's footer
        {std::string(512, 'x'), "x" + footer, SourceKind::Vhd},    // the last 512 of 513
        {std::string(512, 'x'), footer + "x", SourceKind::Raw},    // one byte off the end
        {std::string(512, 'x'), footer.substr(0, 511), SourceKind::Raw},
        {"# Disk DescriptorFile\nversion=1\n", "", SourceKind::VmdkText},
        {"\n  version=1\n", "", SourceKind::VmdkText},
        {"# Disk Descriptor", "", SourceKind::Raw},
        {"", "", SourceKind::Raw},
    };
    for (const Case& c : cases) EXPECT_EQ(Recognize(c.head, c.tail), c.kind) << c.head.substr(0, 24);
    uint8_t boot[512] = {};
    std::memcpy(boot + 3, "-FVE-FS-", 8);
    boot[510] = 0x55;
    boot[511] = 0xAA;
    EXPECT_TRUE(IsBitLockerBootSector(boot, 512));
    EXPECT_FALSE(IsBitLockerBootSector(boot, 511));
    boot[511] = 0;
    EXPECT_FALSE(IsBitLockerBootSector(boot, 512));
}

TEST(SourceKinds, SegmentNamesCountWithinTheirWidth) {
    struct Case {
        std::string name;
        bool ok;
        std::string stem;
        uint64_t number;
        size_t width;
    };
    const Case cases[] = {
        {"/x/disk.001", true, "/x/disk.", 1, 3}, {"disk.000", true, "disk.", 0, 3}, {"disk.01", true, "disk.", 1, 2},
        {"disk.1", false, "", 0, 0},             {"disk001", false, "", 0, 0},     {"xaa", true, "x", 0, 2},
        {"x.raw.aaa", true, "x.raw.", 0, 3},     {"xa", false, "", 0, 0},          {"/d.aa/a", false, "", 0, 0},
        {"/dir/aa", false, "", 0, 0},
    };
    for (const Case& c : cases) {
        SegmentName s;
        ASSERT_EQ(ParseSegmentName(c.name, &s), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(s.stem, c.stem) << c.name;
        EXPECT_EQ(s.number, c.number) << c.name;
        EXPECT_EQ(s.width, c.width) << c.name;
    }
    SegmentName digits{"d.", 1, 2, false}, letters{"x", 0, 2, true};
    EXPECT_EQ(SegmentFileName(digits, 99), "d.99");
    EXPECT_EQ(SegmentFileName(digits, 100), "");
    EXPECT_EQ(SegmentFileName(letters, 1), "xab");
    EXPECT_EQ(SegmentFileName(letters, 26), "xba");
    EXPECT_EQ(SegmentFileName(letters, 675), "xzz");
    EXPECT_EQ(SegmentFileName(letters, 676), "");
}

TEST(SourceKinds, VmdkDescriptorsYieldTheirExtentsOrSayWhichLineIsWrong) {
    std::vector<VmdkExtent> extents;
    std::string error;
    ASSERT_TRUE(ParseVmdkDescriptor("# Disk DescriptorFile\nversion=1\n# Extent description\n"
                                    "RW 4192256 SPARSE \"a-s001.vmdk\"\r\n  RDONLY 2048 FLAT \"a-flat.vmdk\" 0\n"
                                    "NOACCESS 16 ZERO\nddb.adapterType = \"ide\"\n",
                                    &extents, &error))
        << error;
    ASSERT_EQ(extents.size(), 3u);
    EXPECT_EQ(extents[0].sectors, 4192256u);
    EXPECT_EQ(extents[0].file, "a-s001.vmdk");
    EXPECT_EQ(extents[1].type, "FLAT");
    EXPECT_EQ(extents[1].access, "RDONLY");
    EXPECT_EQ(extents[2].file, "");
    struct Bad {
        std::string text, said;
    };
    for (const Bad& b : {Bad{"version=1\nRW 10 SPARSE a.vmdk\n", "line 2: no quoted extent file name"},
                         Bad{"version=1\nRW SPARSE \"a.vmdk\"\n", "line 2: no sector count"},
                         Bad{"version=1\nRW 99999999999999999999 SPARSE \"a\"\n", "line 2: no sector count"},
                         Bad{"version=1\nRW 10\n", "line 2: no extent type"},
                         Bad{"version=1\nRW 10 SPARSE \"\"\n", "no quoted extent file name"},
                         Bad{"version=1\n", "names no extent"}, Bad{"KDMV", "not a VMDK descriptor"}}) {
        EXPECT_FALSE(ParseVmdkDescriptor(b.text, &extents, &error)) << b.text;
        EXPECT_NE(error.find(b.said), std::string::npos) << error;
    }
    std::string many = "version=1\n";
    for (size_t i = 0; i < kMaxVmdkExtents; ++i) many += "RW 1 ZERO\n";
    EXPECT_TRUE(ParseVmdkDescriptor(many, &extents, &error)) << error;
    EXPECT_FALSE(ParseVmdkDescriptor(many + "RW 1 ZERO\n", &extents, &error));
}

TEST(SourceKinds, SnapshotTimesAreUtcToTheSecondAcrossLeapDays) {
    const uint64_t second = 10000000, epoch = 11644473600ull;  // 1601 to 1970
    struct Case {
        uint64_t filetime;
        const char* text;
    };
    const Case cases[] = {
        {0, "1601-01-01T00:00:00Z"},
        {second - 1, "1601-01-01T00:00:00Z"},
        {130305261097363787ull, "2013-12-03T06:35:09Z"},
        {(951868799 + epoch) * second, "2000-02-29T23:59:59Z"},
        {(951868800 + epoch) * second, "2000-03-01T00:00:00Z"},
        {uint64_t(-2203891201LL + int64_t(epoch)) * second, "1900-02-28T23:59:59Z"},
        {uint64_t(-2203891200LL + int64_t(epoch)) * second, "1900-03-01T00:00:00Z"},
        {uint64_t(INT64_MAX), "30828-09-14T02:48:05Z"},  // the largest time Windows converts
    };
    for (const Case& c : cases) EXPECT_EQ(FiletimeIso(c.filetime), c.text) << c.filetime;
    EXPECT_EQ(FiletimeIso(UINT64_MAX).substr(0, 6), "60056-");  // garbage still prints
}

TEST(SourceKinds, VolumeNamesSplitIntoPartitionAndStore) {
    struct Case {
        std::string name;
        bool ok;
        std::string partition, store;
    };
    const Case cases[] = {{"p2", true, "p2", ""},          {"p2@vss3", true, "p2", "vss3"}, {"vss1", true, "", "vss1"},
                          {"@vss12", true, "", "vss12"},   {"p2@vss0", false, "", ""},     {"p2@vss", false, "", ""},
                          {"p2@vss1x", false, "", ""},     {"p2@", false, "", ""},         {"p1@vs1", false, "", ""},
                          {"p1@vss99999", true, "p1", "vss99999"}, {"p1@vss999999", false, "", ""}};
    for (const Case& c : cases) {
        std::string partition, store;
        ASSERT_EQ(SplitVolumeName(c.name, &partition, &store), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(partition, c.partition);
        EXPECT_EQ(store, c.store);
    }
}

TEST(SourceKinds, RecoveryPasswordsHaveEightGroupsOfMultiplesOfEleven) {
    const std::string good = "000011-000022-720885-000000-111111-222222-333333-444444";
    EXPECT_TRUE(IsRecoveryPasswordShape(good));
    const std::string bad[] = {
        good.substr(1),                                             // 47 digits
        good + "0",                                                 // 49
        "000011-000022-720896-000000-111111-222222-333333-444444",  // 65536 * 11
        "000012-000022-720885-000000-111111-222222-333333-444444",  // not a multiple of 11
        "000011 000022-720885-000000-111111-222222-333333-444444",
        "00001a-000022-720885-000000-111111-222222-333333-444444",
    };
    for (const std::string& b : bad) EXPECT_FALSE(IsRecoveryPasswordShape(b)) << b;
}

namespace {

// A source held in memory.
class MemorySource : public Source {
public:
    MemorySource(std::string name, std::string bytes) : Source(std::move(name)), bytes_(std::move(bytes)) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
        std::memcpy(buffer, bytes_.data() + offset, count);
        return true;
    }
    uint64_t size() const override { return bytes_.size(); }
    std::string Describe() const override { return "memory"; }
    SourceKind kind() const override { return SourceKind::Raw; }

private:
    std::string bytes_;
};

// The library's volume as a fake: "encrypted" is the plain volume with every
// byte inverted, BitLocker's boot sector in place of the first, whose
// original the fake keeps (as BitLocker keeps it elsewhere on the volume);
// one password and one recovery password unlock it.
class FakeBitLocker : public BitLockerVolume {
public:
    FakeBitLocker(int* opened, std::string boot) : opened_(opened), boot_(std::move(boot)) {}
    bool Open(const Source& volume, const std::string& password, const std::string& recovery, std::string* error) override {
        ++*opened_;
        volume_ = &volume;
        if (volume.size() < 1024) {
            *error = "unable to read volume header";
            return false;
        }
        locked_ = !(password == "secret" || recovery == kRecovery);
        return true;
    }
    bool Locked() const override { return locked_; }
    uint64_t Size() const override { return volume_->size(); }
    bool Read(uint64_t offset, void* buffer, size_t count) override {
        if (locked_ || !volume_->ReadAt(offset, buffer, count)) return false;
        auto* p = static_cast<uint8_t*>(buffer);
        for (size_t i = 0; i < count; ++i) p[i] = offset + i < boot_.size() ? uint8_t(boot_[offset + i]) : uint8_t(~p[i]);
        return true;
    }
    static constexpr const char* kRecovery = "000011-000022-000033-000044-000055-000066-000077-000088";

private:
    int* opened_;
    std::string boot_;
    const Source* volume_ = nullptr;
    bool locked_ = true;
};

}  // namespace

TEST(BitLockerSeam, AVolumeIsReadOnlyWithAKeyThatUnlocksIt) {
    const std::string dir = vestrel::ntfs::testing::TempDirectory();
    const std::string image = dir + "/plain.raw";
    std::string error;
    ASSERT_TRUE(fixture::Format(image, 8u << 20, &error)) << error;
    fixture::Writer w;
    ASSERT_TRUE(w.Open(image, &error)) << error;
    ASSERT_TRUE(w.AddFile(u"\\secret.txt", {{u"hidden", 4321}}));
    ASSERT_TRUE(w.Close());
    std::string plain = vestrel::ntfs::testing::ReadFile(image);
    std::filesystem::remove_all(dir);
    // The encrypted volume: its own boot sector, the rest inverted.
    std::string encrypted = plain;
    for (char& c : encrypted) c = char(~c);
    std::string boot(512, '\0');
    std::memcpy(&boot[3], "-FVE-FS-", 8);
    boot[510] = char(0x55);
    boot[511] = char(0xAA);
    encrypted.replace(0, 512, boot);
    const std::string ntfsBoot = plain.substr(0, 512);
    MemorySource disk("disk.raw", encrypted);

    struct Case {
        const char* name;
        BitLockerKeys keys;
        const char* said;  // "" when it opens
    };
    const Case cases[] = {
        {"no key", {}, "a BitLocker volume; to read it give --recovery-password (48 digits) or --password"},
        {"malformed recovery password", {"", "000011-000022"}, "eight groups of six digits"},
        {"wrong password", {"guess", ""}, "the password given does not unlock it"},
        {"wrong recovery password", {"", "000000-000000-000000-000000-000000-000000-000000-000000"},
         "the recovery password given does not unlock it"},
        {"password", {"secret", ""}, ""},
        {"recovery password", {"", FakeBitLocker::kRecovery}, ""},
    };
    const std::vector<Partition> layout = {{"", 0, disk.size()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int opened = 0;
        TargetOptions options;
        options.keys = c.keys;
        options.bitLocker = [&opened, &ntfsBoot] { return std::make_unique<FakeBitLocker>(&opened, ntfsBoot); };
        std::vector<std::string> said;
        Targets targets;
        ASSERT_EQ(ChooseTargets(disk, layout, options, [&](const Partition&, const std::string& what) { said.push_back(what); },
                                &targets),
                  -1);
        if (*c.said != '\0') {
            EXPECT_TRUE(targets.list.empty());
            ASSERT_EQ(said.size(), 1u);
            EXPECT_EQ(said[0].find("disk.raw: "), 0u) << said[0];
            EXPECT_NE(said[0].find(c.said), std::string::npos) << said[0];
            // A key of the wrong shape never reaches the library.
            EXPECT_EQ(opened, c.keys.password.empty() && c.keys.recoveryPassword.size() != 55 ? 0 : 1);
            continue;
        }
        EXPECT_TRUE(said.empty());
        ASSERT_EQ(targets.list.size(), 1u);
        const Target& t = targets.list[0];
        EXPECT_EQ(t.source->kind(), SourceKind::BitLocker);
        ASSERT_EQ(t.source->size(), disk.size());
        // The unlocked volume mounts, and its stream reads back.
        std::unique_ptr<Volume> volume = Volume::Mount(*t.source, t.where, &error);
        ASSERT_TRUE(volume) << error;
        ntfs_inode* inode = ntfs_pathname_to_inode(volume->get(), nullptr, "/secret.txt");
        ASSERT_NE(inode, nullptr);
        ntfschar name[] = {'h', 'i', 'd', 'd', 'e', 'n'};
        ntfs_attr* na = ntfs_attr_open(inode, AT_DATA, name, 6);
        ASSERT_NE(na, nullptr);
        EXPECT_EQ(na->data_size, 4321);
        ntfs_attr_close(na);
        ntfs_inode_close(inode);
        // Reads stop at the volume's end, not one byte past it.
        char byte[2] = {};
        EXPECT_TRUE(t.source->ReadAt(disk.size() - 1, byte, 1));
        EXPECT_FALSE(t.source->ReadAt(disk.size() - 1, byte, 2));
        EXPECT_FALSE(t.source->ReadAt(disk.size(), byte, 1));
    }
}

TEST(SplitRaw, ReadsAcrossSegmentEndsEqualTheWholeImage) {
    const std::string dir = vestrel::ntfs::testing::TempDirectory();
    std::string whole(3 * 4096 + 100, '\0');
    for (size_t i = 0; i < whole.size(); ++i) whole[i] = char(i * 7 + i / 251);
    for (int n = 0; n < 4; ++n) {
        std::ofstream(dir + "/img.00" + std::to_string(n + 1), std::ios::binary)
            << whole.substr(size_t(n) * 4096, 4096);
    }
    std::string error;
    std::unique_ptr<Source> split = OpenSource(dir + "/img.001", &error);
    ASSERT_TRUE(split) << error;
    EXPECT_EQ(split->kind(), SourceKind::SplitRaw);
    ASSERT_EQ(split->size(), whole.size());
    for (uint64_t offset : {uint64_t(0), uint64_t(4095), uint64_t(4096), uint64_t(8191), uint64_t(12287)}) {
        for (size_t count : {size_t(1), size_t(2), size_t(4097)}) {
            if (offset + count > whole.size()) continue;
            std::string got(count, '\0');
            ASSERT_TRUE(split->ReadAt(offset, &got[0], count)) << offset << "+" << count;
            EXPECT_TRUE(got == whole.substr(offset, count)) << offset << "+" << count;
        }
    }
    char byte[2] = {};
    EXPECT_TRUE(split->ReadAt(whole.size() - 1, byte, 1));
    EXPECT_FALSE(split->ReadAt(whole.size() - 1, byte, 2));
    // A lone ".001" is a raw image; a set whose last segment is longer than
    // the others is not a set.
    std::filesystem::remove(dir + "/img.002");
    std::filesystem::remove(dir + "/img.003");
    std::filesystem::remove(dir + "/img.004");
    split = OpenSource(dir + "/img.001", &error);
    ASSERT_TRUE(split) << error;
    EXPECT_EQ(split->kind(), SourceKind::Raw);
    std::ofstream(dir + "/img.002", std::ios::binary) << std::string(4097, 'x');
    EXPECT_FALSE(OpenSource(dir + "/img.001", &error));
    EXPECT_NE(error.find("fewer than the one after it"), std::string::npos) << error;
    std::filesystem::remove_all(dir);
}

namespace {

// Bytes in memory that cannot be read where `bad` lies, counting reads.
class FlakyMemorySource final : public Source {
public:
    FlakyMemorySource(std::string bytes, uint64_t badFrom, uint64_t badTo)
        : Source("memory"), bytes_(std::move(bytes)), badFrom_(badFrom), badTo_(badTo) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        ++reads;
        if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
        if (count != 0 && offset < badTo_ && offset + count > badFrom_) return false;
        std::memcpy(buffer, bytes_.data() + offset, count);
        return true;
    }
    uint64_t size() const override { return bytes_.size(); }
    std::string Describe() const override { return "memory"; }
    SourceKind kind() const override { return SourceKind::Raw; }
    mutable std::atomic<int> reads{0};

private:
    std::string bytes_;
    uint64_t badFrom_, badTo_;
};

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char(i * 7 + i / 251);
    return s;
}

}  // namespace

// Whatever the order of reads, read-ahead answers exactly what the source
// answers: at block edges, across blocks, in the short last block, past the
// end, and around a stretch that cannot be read (where only reads touching
// it fail, not the whole block around it).
TEST(ReadAhead, AnswersWhatTheSourceAnswersForEveryRange) {
    constexpr size_t kSize = 100, kBlock = 16;
    const std::string bytes = Pattern(kSize);
    struct Range {
        uint64_t offset;
        size_t count;
    };
    const Range ranges[] = {{0, 1},   {0, 16},  {0, 17},  {15, 1},  {15, 2},  {16, 16}, {31, 34}, {36, 4},
                            {37, 4},  {38, 2},  {40, 1},  {41, 1},  {41, 7},  {48, 16}, {95, 5},  {96, 4},
                            {99, 1},  {99, 2},  {100, 0}, {100, 1}, {0, 100}, {0, 101}, {64, 0},  {2, 98}};
    for (bool reversed : {false, true}) {
        for (unsigned depth : {0u, 1u, 3u}) {
          for (bool helped : {false, true}) {
            auto inner = std::make_unique<FlakyMemorySource>(bytes, 40, 41);
            const FlakyMemorySource& plain = *inner;
            const std::unique_ptr<Source> ahead =
                WithReadAhead(std::move(inner), kBlock, depth,
                              helped ? std::make_unique<FlakyMemorySource>(bytes, 40, 41) : nullptr);
            ASSERT_EQ(ahead->size(), kSize);
            std::vector<Range> order(std::begin(ranges), std::end(ranges));
            if (reversed) std::reverse(order.begin(), order.end());
            for (const Range& r : order) {
                std::string want(r.count, '\x55'), got(r.count, '\x55');
                const bool expected = plain.ReadAt(r.offset, want.data(), r.count);
                EXPECT_EQ(ahead->ReadAt(r.offset, got.data(), r.count), expected)
                    << r.offset << "+" << r.count << " depth " << depth;
                if (expected) {
                    EXPECT_EQ(got, want) << r.offset << "+" << r.count;
                }
            }
          }
        }
    }
}

// Read in order, each block is read from the source once, the next ones
// ahead of need; the blocks held stay within the bound.
// With a helper, the blocks are shared between the two handles, each
// still read once.
TEST(ReadAhead, InOrderReadsReadEachBlockOnce) {
    constexpr size_t kBlock = 4096, kBlocks = 64;
    const std::string bytes = Pattern(kBlock * kBlocks);
    for (bool helped : {false, true}) {
        auto inner = std::make_unique<FlakyMemorySource>(bytes, 0, 0);
        auto second = std::make_unique<FlakyMemorySource>(bytes, 0, 0);
        const FlakyMemorySource& plain = *inner;
        const FlakyMemorySource& helper = *second;
        const std::unique_ptr<Source> ahead =
            WithReadAhead(std::move(inner), kBlock, 3, helped ? std::move(second) : nullptr);
        const auto reads = [&] { return plain.reads.load() + helper.reads.load(); };
        std::string got(1000, '\0');
        for (uint64_t offset = 0; offset + got.size() <= bytes.size(); offset += got.size()) {
            ASSERT_TRUE(ahead->ReadAt(offset, got.data(), got.size()));
            ASSERT_EQ(got, bytes.substr(offset, got.size())) << offset;
        }
        EXPECT_GE(reads(), int(kBlocks) - 1) << helped;
        EXPECT_LE(reads(), int(kBlocks)) << helped;
        // Jumping back to the start finds it gone (at most depth + 2 held)
        // and reads it again, once, through the reader's own handle.
        const int before = plain.reads.load();
        ASSERT_TRUE(ahead->ReadAt(0, got.data(), got.size()));
        EXPECT_EQ(plain.reads.load(), before + 1) << helped;
    }
}
