// vestrel-ntfs on disk images in containers made at test time from a raw
// fixture disk (ewfacquire, qemu-img, split): every kind lists and prints
// exactly what the raw image does, and every damaged variant ends with one
// line naming the file, status 4 (the source could not be opened), without
// a crash or a hang, and without a byte or a time stamp of any input changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "CliRunner.h"
#include "Fixture.h"
#include "OutputParse.h"

using namespace vestrel::ntfs;
using namespace vestrel::ntfs::testing;

namespace {

struct Disk {
    std::string dir, raw;
    // "volume,path,stream" of every stream of the raw disk.
    std::vector<std::vector<std::string>> streams;
    std::string listing;
};
Disk* g_disk = nullptr;

bool Shell(const std::string& command) { return std::system(("cd '" + g_disk->dir + "' && " + command + " >/dev/null 2>&1").c_str()) == 0; }

// The raw disk: an MBR with two NTFS volumes (p1, p3), streams that span
// container chunks, a compressed one, a directory's, a sparse one and
// non-ASCII names.
bool BuildDisk(Disk* d, std::string* error) {
    const std::string v1 = d->dir + "/v1.raw", v2 = d->dir + "/v2.raw";
    if (!fixture::Format(v1, 24u << 20, error, 2048) || !fixture::Format(v2, 8u << 20, error)) return false;
    fixture::Stream packed{u"packed", 200000};
    packed.compressed = true;
    fixture::Writer w;
    if (!w.Open(v1, error) || !w.AddFile(u"\\a.txt", {{u"s1", 5}, {u"big", 300001}}) ||
        !w.AddDirectory(u"\\dir", {{u"d", 10}}) || !w.AddFile(u"\\dir\\z.bin", {packed}) ||
        !w.AddFile(u"\\\u6587\u4EF6.txt", {{u"\u6D41\u540D\u79F0", 7}}) ||
        !w.AddFile(u"\\sparse.bin", {{u"holes", 3u << 20, true}}) || !w.Close())
        return false;
    fixture::Writer w2;
    if (!w2.Open(v2, error) || !w2.AddFile(u"\\two.txt", {{u"second", 4097}}) || !w2.Close()) return false;
    d->raw = d->dir + "/disk.raw";
    if (!fixture::BuildDisk(d->raw, "mbr", {v1, v2}, error)) return false;
    std::filesystem::remove(v1);
    std::filesystem::remove(v2);
    return true;
}

// One container kind: how it is made from disk.raw in `dir`, and the name
// given to vestrel-ntfs.
struct Kind {
    const char* name;
    const char* make;
    const char* given;
};
const Kind kKinds[] = {
    {"raw", "true", "disk.raw"},
    {"split raw", "split -b 5M -d -a 3 --numeric-suffixes=1 disk.raw split.", "split.001"},
    {"split raw, letters", "split -b 7M disk.raw x", "xaa"},
    {"E01, four segments", "ewfacquire -u -t e01many -S 10M -c none -q disk.raw", "e01many.E01"},
    {"E01, compressed", "ewfacquire -u -t e01small -c deflate:best -q disk.raw", "e01small.E01"},
    {"VHD dynamic", "qemu-img convert -O vpc disk.raw dyn.vhd", "dyn.vhd"},
    {"VHD fixed", "qemu-img convert -O vpc -o subformat=fixed disk.raw fixed.vhd", "fixed.vhd"},
    {"VHDX", "qemu-img convert -O vhdx disk.raw disk.vhdx", "disk.vhdx"},
    {"VMDK monolithic", "qemu-img convert -O vmdk disk.raw mono.vmdk", "mono.vmdk"},
    {"VMDK split, descriptor", "qemu-img convert -O vmdk -o subformat=twoGbMaxExtentSparse disk.raw sp.vmdk", "sp.vmdk"},
    {"VMDK split, data file", "true", "sp-s001.vmdk"},
    {"VMDK flat, descriptor", "qemu-img convert -O vmdk -o subformat=monolithicFlat disk.raw flat.vmdk", "flat.vmdk"},
    {"QCOW2", "qemu-img convert -O qcow2 disk.raw disk.qcow2", "disk.qcow2"},
};

class NtfsContainers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (g_disk != nullptr) return;
        auto* d = new Disk;
        d->dir = TempDirectory();
        ASSERT_FALSE(d->dir.empty());
        std::string error;
        ASSERT_TRUE(BuildDisk(d, &error)) << error;
        g_disk = d;
        for (const Kind& k : kKinds) ASSERT_TRUE(Shell(k.make)) << k.make;
        const RunResult r = RunNtfs({"list", "-r", "--format", "csv", d->raw});
        ASSERT_EQ(r.status, 0) << r.err;
        d->listing = r.out;
        const auto csv = vestrel::testing::ParseCsv(r.out);
        ASSERT_TRUE(csv.ok);
        for (size_t i = 1; i < csv.records.size(); ++i) d->streams.push_back(csv.records[i]);
    }
    static void TearDownTestSuite() {
        if (g_disk == nullptr) return;
        std::filesystem::remove_all(g_disk->dir);
        delete g_disk;
        g_disk = nullptr;
    }
    static const Disk& D() { return *g_disk; }
    static std::string In(const std::string& name) { return D().dir + "/" + name; }
};

// Every file's hash and modification time in `dir`.
std::map<std::string, std::pair<uint64_t, int64_t>> Snapshot(const std::string& dir) {
    std::map<std::string, std::pair<uint64_t, int64_t>> out;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (!e.is_regular_file()) continue;
        struct stat st {};
        ::stat(e.path().c_str(), &st);
        out[e.path().filename()] = {HashFile(e.path()), int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    }
    return out;
}

}  // namespace

TEST_F(NtfsContainers, EveryKindListsAndPrintsExactlyWhatTheRawDiskHolds) {
    // Both volumes, every kind of stream the fixture has.
    ASSERT_EQ(D().streams.size(), 7u) << D().listing;
    std::map<std::string, std::string> rawBytes;
    for (const auto& s : D().streams) {
        const RunResult r = RunNtfs({"cat", "--volume", s[0], D().raw, s[1] + ":" + s[2]});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.out.size(), std::stoull(s[3])) << s[1];
        rawBytes[s[0] + s[1] + ":" + s[2]] = r.out;
    }
    const auto before = Snapshot(D().dir);
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        const RunResult list = RunNtfs({"list", "-r", "--format", "csv", In(k.given)}, 60);
        EXPECT_EQ(list.status, 0) << list.err;
        EXPECT_EQ(list.err, "");
        EXPECT_EQ(list.out, D().listing);
        for (const auto& s : D().streams) {
            const RunResult cat = RunNtfs({"cat", "--volume", s[0], In(k.given), s[1] + ":" + s[2]}, 60);
            EXPECT_EQ(cat.status, 0) << cat.err;
            EXPECT_TRUE(cat.out == rawBytes[s[0] + s[1] + ":" + s[2]]) << s[1] << ":" << s[2];
        }
    }
    EXPECT_EQ(Snapshot(D().dir), before);
}

TEST_F(NtfsContainers, OffsetReadsAVolumeInsideAContainer) {
    const uint64_t p3 = (2048 + (24u << 20) / 512 + 2048) * 512ull;  // p1 24 MiB at 1 MiB, then 1 MiB gap
    for (const char* given : {"disk.qcow2", "e01many.E01"}) {
        SCOPED_TRACE(given);
        RunResult r = RunNtfs({"cat", "--offset", std::to_string(p3), In(given), "\\two.txt:second"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.size(), 4097u);
        // One byte past the volume's start is no boot sector.
        r = RunNtfs({"list", "--offset", std::to_string(p3 + 1), In(given)});
        EXPECT_EQ(r.status, 4);
        EXPECT_NE(r.err.find("no NTFS boot sector at offset " + std::to_string(p3 + 1)), std::string::npos) << r.err;
    }
}

TEST_F(NtfsContainers, DamagedContainersSayWhatIsWrongAndChangeNothing) {
    struct Damage {
        const char* name;
        const char* make;   // run in the test directory
        const char* given;
        const char* said;   // part of the one line on stderr
    };
    const Damage kDamage[] = {
        {"split raw, middle segment missing", "mkdir -p d1 && cp split.* d1/ && rm d1/split.002", "d1/split.001",
         "d1/split.002 is missing"},
        {"split raw, middle segment one byte short", "mkdir -p d2 && cp split.* d2/ && truncate -s -1 d2/split.002",
         "d2/split.001", "truncated"},
        {"split raw, first segment one byte short", "mkdir -p d3 && cp split.* d3/ && truncate -s -1 d3/split.001",
         "d3/split.001", "truncated"},
        {"E01, a segment truncated", "mkdir -p e1 && cp e01many.E0* e1/ && truncate -s 5000000 e1/e01many.E02",
         "e1/e01many.E01", "incomplete or damaged"},
        {"E01, last segment missing", "mkdir -p e2 && cp e01many.E0* e2/ && rm e2/e01many.E04", "e2/e01many.E01",
         "incomplete or damaged"},
        {"E01, middle segment missing", "mkdir -p e3 && cp e01many.E0* e3/ && rm e3/e01many.E02", "e3/e01many.E01",
         "e01many.E02 is missing"},
        {"E01, segments swapped",
         "mkdir -p e4 && cp e01many.E01 e4/ && cp e01many.E02 e4/e01many.E03 && cp e01many.E03 e4/e01many.E02 && "
         "cp e01many.E04 e4/",
         "e4/e01many.E01", "out of order"},
        // The chunk table and its copy both overwritten.
        {"E01, chunk tables garbage",
         "mkdir -p e5 && cp e01small.E01 e5/ && for o in $(grep -abo 'table' e5/e01small.E01 | cut -d: -f1); do "
         "printf '\\377\\377\\377\\377\\377\\377\\377\\377' | dd of=e5/e01small.E01 bs=1 seek=$((o+100)) conv=notrunc; done",
         "e5/e01small.E01", "e5/e01small.E01"},
        {"VHD dynamic, footer and its copy damaged",
         "mkdir -p h1 && cp dyn.vhd h1/ && printf 'XXXX' | dd of=h1/dyn.vhd bs=1 seek=64 conv=notrunc && "
         "printf 'XXXX' | dd of=h1/dyn.vhd bs=1 seek=$(( $(stat -c %s h1/dyn.vhd) - 512 + 64 )) conv=notrunc",
         "h1/dyn.vhd", "checksum does not match"},
        {"VHDX, headers garbage", "mkdir -p h2 && cp disk.vhdx h2/ && head -c 196608 /dev/zero | tr '\\0' '\\125' | "
         "dd of=h2/disk.vhdx bs=64K seek=1 conv=notrunc",
         "h2/disk.vhdx", "h2/disk.vhdx"},
        {"VMDK, descriptor names a missing extent", "mkdir -p m1 && cp sp.vmdk m1/", "m1/sp.vmdk",
         "extent sp-s001.vmdk named by the descriptor is missing"},
        {"VMDK, lone extent without its descriptor", "mkdir -p m2 && cp sp-s001.vmdk m2/", "m2/sp-s001.vmdk",
         "no descriptor naming it"},
        // L1 table placed on the header itself: its entries point back into
        // the metadata.
        {"QCOW2, L1 table pointing at the header",
         "mkdir -p q1 && cp disk.qcow2 q1/ && printf '\\0\\0\\0\\0\\0\\0\\0\\0' | dd of=q1/disk.qcow2 bs=1 seek=40 conv=notrunc",
         "q1/disk.qcow2", "q1/disk.qcow2"},
        {"QCOW2, L1 table garbage",
         "mkdir -p q2 && cp disk.qcow2 q2/ && o=$(od -An -tu8 --endian=big -j40 -N8 q2/disk.qcow2) && "
         "head -c 64 /dev/zero | tr '\\0' '\\377' | dd of=q2/disk.qcow2 bs=1 seek=$((o)) conv=notrunc",
         "q2/disk.qcow2", "q2/disk.qcow2"},
        {"QCOW2, over a backing file", "mkdir -p q3 && qemu-img create -f qcow2 -b ../disk.qcow2 -F qcow2 q3/over.qcow2",
         "q3/over.qcow2", "backing file"},
    };
    for (const Damage& d : kDamage) {
        SCOPED_TRACE(d.name);
        ASSERT_TRUE(Shell(d.make)) << d.make;
        const std::string dir = In(std::string(d.given).substr(0, std::string(d.given).find('/')));
        const auto before = Snapshot(dir);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"list", "-r", "--format", "csv", In(d.given)},
              std::vector<std::string>{"cat", "--volume", "p1", In(d.given), "\\a.txt:big"}}) {
            const RunResult r = RunNtfs(args, 60);
            EXPECT_FALSE(r.timedOut);
            EXPECT_EQ(r.signal, 0);
            // The source could not be opened at all.
            EXPECT_EQ(r.status, 4) << r.err;
            EXPECT_NE(r.err.find(d.said), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("vestrel-ntfs: " + In(d.given)), 0u) << r.err;
        }
        EXPECT_EQ(Snapshot(dir), before);
    }
}

TEST_F(NtfsContainers, InfoNamesTheContainerAndThePartitionsItHolds) {
    const std::string raw = std::to_string(std::filesystem::file_size(D().raw));
    const uint64_t p3 = (2048 + (24u << 20) / 512 + 2048) * 512ull;
    struct Case {
        const char* given;
        const char* container;
        const char* description;
        bool sameSize;  // a VHD's size is rounded up to its geometry
    };
    for (const Case& c :
         {Case{"disk.raw", "raw", "raw image, ", true}, Case{"e01many.E01", "E01", "E01 evidence file (4 segments), ", true},
          Case{"disk.vhdx", "VHDX", "VHDX (dynamic), ", true}, Case{"fixed.vhd", "VHD", "VHD (fixed), ", false},
          Case{"sp-s001.vmdk", "VMDK", "VMDK (1 extent), ", true},
          Case{"split.001", "split raw", "split raw image (7 segments), ", true}, Case{"disk.qcow2", "QCOW2", "QCOW3, ", true}}) {
        SCOPED_TRACE(c.given);
        const RunResult r = RunNtfs({"info", "--format", "json", In(c.given)});
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& part :
             {std::string("\"container\":\"") + c.container + "\"", std::string("\"description\":\"") + c.description,
              c.sameSize ? "\"size\":" + raw + "," : std::string("\"size\":"), std::string("\"layout\":\"mbr\""),
              std::string("{\"volume\":\"p1\",\"offset\":1048576,\"length\":25165824,\"file_system\":\"NTFS\""),
              "{\"volume\":\"p3\",\"offset\":" + std::to_string(p3) + ",\"length\":8388608,\"file_system\":\"NTFS\"",
              std::string("\"snapshots\":[]"),
              // The MBR fixture's slot 2: 1 MiB, not NTFS, between the two.
              std::string("\"other_partitions\":[{\"volume\":\"p2\",\"offset\":26214400,\"length\":1048576,"
                          "\"file_system\":\"\"}]")})
            EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
    }
    ASSERT_TRUE(Shell("mkdir -p i1 && cp e01many.E0* i1/ && rm i1/e01many.E04"));
    const RunResult bad = RunNtfs({"info", In("i1/e01many.E01")});
    EXPECT_EQ(bad.status, 4);
    EXPECT_NE(bad.err.find("incomplete or damaged"), std::string::npos) << bad.err;
    EXPECT_EQ(RunNtfs({"info", "--format", "csv", In("disk.raw")}).status, 2);
}
