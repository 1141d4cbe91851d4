#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "MemorySequence.h"
#include "StreamEnumerator.h"

using vestrel::IBackupSequence;
using vestrel::MemorySequence;
using vestrel::WideString;
using Unit = MemorySequence::Unit;

namespace {

WideString W(const char* ascii) {
    WideString s;
    for (const char* p = ascii; *p; ++p) s.push_back(vestrel::WideChar(*p));
    return s;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t seed = 1) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 3);
    return v;
}

// Runs the enumeration and keeps the records for inspection.
struct Result {
    NtfsStreamList list;
    int count = 0;
    ~Result() { FreeStreamList(&list); }
    std::vector<WideString> Names() const {
        std::vector<WideString> out;
        for (const NtfsStreamInfo* r : list) out.push_back(r->strName);
        return out;
    }
    const NtfsStreamInfo& At(size_t i) const { return **std::next(list.begin(), long(i)); }
};

void Enumerate(IBackupSequence& seq, Result& r, const std::atomic<bool>* stop = nullptr) {
    r.count = EnumStreamsFromSequence(seq, &r.list, stop);
}

void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// A valid named stream, as raw bytes.
std::vector<uint8_t> RawNamed(const char* rawName, size_t dataSize) {
    std::vector<uint8_t> name = MemorySequence::Utf16(rawName);
    std::vector<uint8_t> out =
        MemorySequence::Header(vestrel::kBackupAlternateData, dataSize, uint32_t(name.size()));
    Append(out, name);
    Append(out, Bytes(dataSize));
    return out;
}

// Delegates to a memory sequence but reports the chosen read (1-based) as
// failed; its bytes are lost, as when the platform fails mid-sequence.
class FailingRead : public IBackupSequence {
public:
    FailingRead(MemorySequence inner, int failingRead) : inner_(std::move(inner)), fail_(failingRead) {}
    bool Read(void* buffer, uint32_t count, uint32_t* bytesRead) override {
        const bool ok = inner_.Read(buffer, count, bytesRead);
        return ++reads_ == fail_ ? false : ok;
    }
    bool Skip(uint64_t count, uint64_t* bytesSkipped) override { return inner_.Skip(count, bytesSkipped); }

private:
    MemorySequence inner_;
    int fail_;
    int reads_ = 0;
};

}  // namespace

TEST(StreamEnumeration, FileWithOnlyMainDataYieldsNothing) {
    auto seq = MemorySequence::FromUnits({MemorySequence::Main(Bytes(300))});
    Result r;
    Enumerate(seq, r);
    EXPECT_EQ(r.count, 0);
    EXPECT_TRUE(r.list.empty());
    EXPECT_EQ(seq.Stats(0).dataBytesRead, 6u);  // only what the first read took

    auto empty = MemorySequence::FromRaw({});
    Result e;
    Enumerate(empty, e);
    EXPECT_EQ(e.count, 0);
}

TEST(StreamEnumeration, NamesAreTrimmedAndKeptInFileOrder) {
    auto seq = MemorySequence::FromUnits({
        MemorySequence::Main(Bytes(50)),
        MemorySequence::Named(":first:$DATA", Bytes(4)),
        {2, {}, 30, Bytes(30), {}},  // another stream without a name
        MemorySequence::Named(":ab", Bytes(2)),  // shortest name: 6 bytes, no suffix
        MemorySequence::Named(":x:$DATAy:$DATA", Bytes(1)),
        MemorySequence::Named(":last:$DATA", Bytes(8)),
    });
    Result r;
    Enumerate(seq, r);
    ASSERT_EQ(r.count, 4);
    EXPECT_EQ(r.Names(), (std::vector<WideString>{W("first"), W("ab"), W("xy"), W("last")}));
    EXPECT_EQ(r.At(0).dwSize, 4u);
    EXPECT_EQ(r.At(3).dwSize, 8u);
}

TEST(StreamEnumeration, TrimRemovesEverySuffixThenTheFirstCharacter) {
    EXPECT_EQ(vestrel::TrimStreamName(W(":name:$DATA")), W("name"));
    EXPECT_EQ(vestrel::TrimStreamName(W(":a:$DATA:$DATAb")), W("ab"));
    EXPECT_EQ(vestrel::TrimStreamName(W(":a:$data")), W("a:$data"));  // exact case only
    EXPECT_EQ(vestrel::TrimStreamName(W("::$DATA")), W(""));
    EXPECT_EQ(vestrel::TrimStreamName(W("")), W(""));
}

TEST(StreamEnumeration, ExclusionComparesWholeNameIgnoringAsciiCaseOnly) {
    WideString dottedI = W("favicon");
    dottedI[3] = vestrel::WideChar(0x0130);  // capital I with dot: not an ASCII letter
    Unit dotted;
    dotted.id = vestrel::kBackupAlternateData;
    dotted.name = MemorySequence::Utf16(":fav?con:$DATA");
    dotted.name[8] = 0x30;
    dotted.name[9] = 0x01;
    dotted.dataSize = 1;

    auto seq = MemorySequence::FromUnits({
        MemorySequence::Main(Bytes(10)),
        MemorySequence::Named(":Zone.Identifier:$DATA", Bytes(26)),
        MemorySequence::Named(":FAVICON:$DATA", Bytes(250)),  // excluded, its data still skipped
        MemorySequence::Named(":oeCustomProperty:$DATA", {}),
        MemorySequence::Named(":faviconX:$DATA", Bytes(3)),
        MemorySequence::Named(":my.zone.identifier:$DATA", Bytes(3)),
        dotted,
        MemorySequence::Named(":after:$DATA", Bytes(3)),
    });
    Result r;
    Enumerate(seq, r);
    EXPECT_EQ(r.Names(),
              (std::vector<WideString>{W("faviconX"), W("my.zone.identifier"), dottedI, W("after")}));
    EXPECT_EQ(seq.Stats(2).dataBytesRead + seq.Stats(2).bytesSkipped, 250u);

    auto onlyZone = MemorySequence::FromUnits({MemorySequence::Named(":zONE.iDENTIFIER:$DATA", Bytes(5))});
    Result z;
    Enumerate(onlyZone, z);
    EXPECT_EQ(z.count, 0);
}

TEST(StreamEnumeration, DataReadIsCappedAtHundredBytesAndTheRestSkipped) {
    auto seq = MemorySequence::FromUnits({
        MemorySequence::Named(":zero:$DATA", {}),
        MemorySequence::Named(":small:$DATA", Bytes(3, 40)),
        MemorySequence::Named(":hundred:$DATA", Bytes(100, 9)),
        MemorySequence::Named(":hundred1:$DATA", Bytes(101, 5)),
        MemorySequence::Named(":tail:$DATA", Bytes(1)),
    });
    Result r;
    Enumerate(seq, r);
    ASSERT_EQ(r.count, 5);

    EXPECT_EQ(r.At(0).dwSize, 0u);
    EXPECT_EQ(r.At(0).byData[0], 0);
    EXPECT_EQ(seq.Stats(0).dataBytesRead, 0u);

    EXPECT_EQ(std::vector<uint8_t>(r.At(1).byData, r.At(1).byData + 3), Bytes(3, 40));

    EXPECT_EQ(seq.Stats(2).dataBytesRead, 100u);
    EXPECT_EQ(seq.Stats(2).bytesSkipped, 0u);
    EXPECT_EQ(std::vector<uint8_t>(r.At(2).byData, r.At(2).byData + 100), Bytes(100, 9));

    EXPECT_EQ(r.At(3).dwSize, 101u);
    EXPECT_EQ(seq.Stats(3).dataBytesRead, 100u);
    EXPECT_EQ(seq.Stats(3).bytesSkipped, 1u);
    EXPECT_EQ(std::vector<uint8_t>(r.At(3).byData, r.At(3).byData + 100), Bytes(100, 5));
}

TEST(StreamEnumeration, StreamsOverFourGiBKeepLowSizeAndAreSkippedNotRead) {
    const uint64_t huge = (uint64_t(1) << 32) + 5;
    Unit bigMain;
    bigMain.id = vestrel::kBackupData;
    bigMain.dataSize = huge;
    bigMain.generator = &MemorySequence::GeneratedByte;
    auto seq = MemorySequence::FromUnits({
        bigMain,
        MemorySequence::NamedGenerated(":big:$DATA", huge),
        MemorySequence::Named(":later:$DATA", Bytes(7)),
    });
    Result r;
    Enumerate(seq, r);
    ASSERT_EQ(r.count, 2);
    EXPECT_EQ(r.At(0).strName, W("big"));
    EXPECT_EQ(r.At(0).dwSize, 5u);
    EXPECT_EQ(r.At(0).ullSize, huge);
    EXPECT_EQ(r.At(0).byData[99], MemorySequence::GeneratedByte(99));
    EXPECT_EQ(seq.Stats(1).dataBytesRead, 100u);
    EXPECT_EQ(seq.Stats(1).bytesSkipped, huge - 100);
    EXPECT_EQ(seq.Stats(0).dataBytesRead, 6u);
    EXPECT_EQ(seq.Stats(0).bytesSkipped, huge - 6);
    EXPECT_EQ(r.At(1).strName, W("later"));
}

TEST(StreamEnumeration, ReturnsTheWholeListCountAndKeepsEarlierElements) {
    NtfsStreamList list;
    list.push_back(new NtfsStreamInfo{W("old1"), 1, {}, 1});
    list.push_back(new NtfsStreamInfo{W("old2"), 2, {}, 2});
    auto seq = MemorySequence::FromUnits({MemorySequence::Named(":new:$DATA", Bytes(2))});
    EXPECT_EQ(EnumStreamsFromSequence(seq, &list), 3);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list.front()->strName, W("old1"));
    EXPECT_EQ(list.back()->strName, W("new"));

    auto mainOnly = MemorySequence::FromUnits({MemorySequence::Main(Bytes(9))});
    EXPECT_EQ(EnumStreamsFromSequence(mainOnly, &list), 3);

    FreeStreamList(&list);
    EXPECT_EQ(list.size(), 3u);  // nodes stay for the holder to discard
    for (NtfsStreamInfo* p : list) EXPECT_EQ(p, nullptr);
    FreeStreamList(&list);  // nothing left to free twice
}

TEST(StreamEnumeration, StopFlagEndsTheWalkBeforeTheNextStream) {
    std::atomic<bool> stop{true};
    auto untouched = MemorySequence::FromUnits({MemorySequence::Named(":a:$DATA", Bytes(3))});
    Result r0;
    Enumerate(untouched, r0, &stop);
    EXPECT_EQ(r0.count, 0);
    EXPECT_EQ(untouched.TotalBytesRead(), 0u);

    // Raised while the first stream's data is being read.
    stop = false;
    Unit raising = MemorySequence::Named(":a:$DATA", {});
    raising.dataSize = 3;
    raising.generator = [&stop](uint64_t) {
        stop = true;
        return uint8_t(1);
    };
    auto seq = MemorySequence::FromUnits({raising, MemorySequence::Named(":b:$DATA", Bytes(3))});
    Result r;
    Enumerate(seq, r, &stop);
    EXPECT_EQ(r.Names(), (std::vector<WideString>{W("a")}));
    EXPECT_EQ(seq.Stats(1).bytesRead, 0u);
}

TEST(StreamEnumeration, FailedReadsEndTheWalkKeepingRecordsFound) {
    auto build = [](uint64_t secondSize) {
        return MemorySequence::FromUnits({
            MemorySequence::Named(":one:$DATA", Bytes(2)),
            MemorySequence::Named(":two:$DATA", Bytes(size_t(secondSize))),
            MemorySequence::Named(":three:$DATA", Bytes(2)),
        });
    };
    // Reads: 1 header, 2 name rest, 3 data of "one", 4 header of "two", 5 its name rest.
    {   // name read fails on an empty stream: recorded, then the walk ends
        FailingRead seq(build(0), 5);
        Result r;
        Enumerate(seq, r);
        EXPECT_EQ(r.count, 2);
    }
    {   // name read fails but the data skip moves: the walk goes on
        FailingRead seq(build(300), 5);
        Result r;
        Enumerate(seq, r);
        EXPECT_EQ(r.count, 3);
    }
    {   // a small stream's content read fails: recorded, then the walk ends
        FailingRead seq(build(5), 3);
        Result r;
        Enumerate(seq, r);
        EXPECT_EQ(r.Names(), (std::vector<WideString>{W("one")}));
    }
}

// A stream without a name whose data fits in the first read leaves nothing to
// skip; streams after it must still be found.
TEST(StreamEnumeration, TinyUnnamedStreamsDoNotHideLaterStreams) {
    for (size_t size : {1, 2, 5, 6, 7, 8, 200}) {
        SCOPED_TRACE(size);
        auto seq = MemorySequence::FromUnits({
            MemorySequence::Main(Bytes(size)),
            {3, {}, size, Bytes(size), {}},
            MemorySequence::Named(":s:$DATA", Bytes(4)),
        });
        Result r;
        Enumerate(seq, r);
        EXPECT_EQ(r.Names(), (std::vector<WideString>{W("s")}));
        const uint64_t taken = size < 6 ? size : 6;
        EXPECT_EQ(seq.Stats(0).dataBytesRead, taken);
        EXPECT_EQ(seq.Stats(0).bytesSkipped, size - taken);
        EXPECT_EQ(seq.Stats(1).bytesSkipped, size - taken);
    }
}

TEST(StreamEnumeration, DamagedHeadersEndTheWalkKeepingEarlierRecords) {
    const std::vector<uint8_t> good = RawNamed(":good:$DATA", 120);
    const std::vector<uint8_t> after = RawNamed(":after:$DATA", 3);
    auto withBadName = [&](uint32_t nameSize, size_t nameBytes, bool more = true) {
        std::vector<uint8_t> raw = good;
        Append(raw, MemorySequence::Header(vestrel::kBackupAlternateData, 4, nameSize));
        Append(raw, std::vector<uint8_t>(nameBytes, 'a'));
        if (more) Append(raw, after);
        return raw;
    };
    struct Case { const char* what; std::vector<uint8_t> raw; };
    const Case cases[] = {
        {"name below 6 bytes", withBadName(4, 4)},
        {"odd name size", withBadName(9, 9)},
        {"name over 64 KiB", withBadName(0x10002, 0x10002)},
        {"name size with the top bit set", withBadName(0xFFFFFFF0u, 64)},
        {"name size 2^32-1", withBadName(0xFFFFFFFFu, 8)},
        {"name cut short", withBadName(40, 10, false)},  // the sequence ends inside the name
        {"header cut short", [&] { auto r = good; r.resize(r.size() + 11, 0x04); return r; }()},
        {"only 20 header bytes of a named stream",
         [&] { auto r = good; Append(r, MemorySequence::Header(4, 0, 16)); return r; }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto seq = MemorySequence::FromRaw(c.raw);
        Result r;
        Enumerate(seq, r);
        EXPECT_EQ(r.Names(), (std::vector<WideString>{W("good")}));
    }
}

TEST(StreamEnumeration, DamagedDataAndLongestNameAreHandled) {
    // Declared data larger than what the sequence holds: recorded, walk ends.
    std::vector<uint8_t> raw = RawNamed(":cut:$DATA", 500);
    raw.resize(raw.size() - 450);
    auto cut = MemorySequence::FromRaw(raw);
    Result r;
    Enumerate(cut, r);
    ASSERT_EQ(r.count, 1);
    EXPECT_EQ(r.At(0).dwSize, 500u);

    // A name of exactly the largest accepted size is still a name.
    const std::string longName = ":" + std::string(32761, 'n') + ":$DATA";
    ASSERT_EQ(longName.size() * 2, vestrel::kMaxStreamNameBytes);
    auto seq = MemorySequence::FromUnits({MemorySequence::Named(longName.c_str(), Bytes(2)),
                                          MemorySequence::Named(":next:$DATA", Bytes(2))});
    Result l;
    Enumerate(seq, l);
    ASSERT_EQ(l.count, 2);
    EXPECT_EQ(l.At(0).strName, WideString(32761, vestrel::WideChar('n')));
    EXPECT_EQ(l.At(1).strName, W("next"));
}

TEST(StreamEnumeration, NamesThatTrimToNothingAreListedEmpty) {
    auto seq = MemorySequence::FromUnits({MemorySequence::Named("::$DATA", Bytes(3)),
                                          MemorySequence::Named(":$DATA", Bytes(300)),
                                          MemorySequence::Named(":ok:$DATA", Bytes(3))});
    Result r;
    Enumerate(seq, r);
    EXPECT_EQ(r.Names(), (std::vector<WideString>{W(""), W(""), W("ok")}));
}

// The walk under the listing above: every named stream once, with its full
// size and whether a plain listing leaves it out.
namespace {
struct Seen {
    WideString name;
    uint64_t size;
    bool excluded;
    bool operator==(const Seen& o) const { return name == o.name && size == o.size && excluded == o.excluded; }
};
}  // namespace

TEST(StreamWalk, ReportsFullSizesAndExcludedNamesWithoutReadingData) {
    const uint64_t huge = (uint64_t(1) << 32) + 5;
    auto seq = MemorySequence::FromUnits({
        MemorySequence::Main(Bytes(300)),
        MemorySequence::Named(":Zone.Identifier:$DATA", Bytes(26)),
        MemorySequence::NamedGenerated(":big:$DATA", huge),
        MemorySequence::Named(":small:$DATA", Bytes(3)),
        MemorySequence::Named(":empty:$DATA", {}),
    });
    std::vector<Seen> seen;
    vestrel::WalkNamedStreams(seq, 0, [&](const vestrel::NamedStream& s) {
        EXPECT_EQ(s.previewRead, 0u);
        seen.push_back({s.name, s.size, s.excluded});
        return true;
    });
    EXPECT_EQ(seen, (std::vector<Seen>{{W("Zone.Identifier"), 26, true},
                                       {W("big"), huge, false},
                                       {W("small"), 3, false},
                                       {W("empty"), 0, false}}));
    for (size_t unit = 0; unit < seq.UnitCount(); ++unit) {
        EXPECT_EQ(seq.Stats(unit).dataBytesRead, unit == 0 ? 6u : 0u) << unit;
    }
}

TEST(StreamWalk, PreviewIsCappedAndVisitorCanEndTheWalk) {
    auto seq = MemorySequence::FromUnits({
        MemorySequence::Named(":a:$DATA", Bytes(10, 5)),
        MemorySequence::Named(":b:$DATA", Bytes(500)),
        MemorySequence::Named(":c:$DATA", Bytes(4)),
    });
    std::vector<std::vector<uint8_t>> previews;
    vestrel::WalkNamedStreams(seq, 1000, [&](const vestrel::NamedStream& s) {
        previews.emplace_back(s.preview, s.preview + s.previewRead);
        return previews.size() < 2;
    });
    ASSERT_EQ(previews.size(), 2u);
    EXPECT_EQ(previews[0], Bytes(10, 5));
    const std::vector<uint8_t> second = Bytes(500);
    EXPECT_EQ(previews[1], std::vector<uint8_t>(second.begin(), second.begin() + 100));
    EXPECT_EQ(seq.Stats(2).bytesRead, 0u);  // never reached
}

namespace {

std::vector<uint8_t> Le64(uint64_t v) {
    std::vector<uint8_t> out(8);
    for (int i = 0; i < 8; ++i) out[size_t(i)] = uint8_t(v >> (8 * i));
    return out;
}

// A sparse named stream as MS-BKUP lays it out: its header marked sparse with
// the given size (0 as Windows writes it), then one block per range.
std::vector<Unit> SparseNamed(const char* rawName, uint64_t headerSize,
                              const std::vector<std::pair<uint64_t, std::vector<uint8_t>>>& ranges) {
    Unit head = MemorySequence::Named(rawName, Bytes(size_t(headerSize), 40));
    head.attributes = vestrel::kStreamSparseAttribute;
    std::vector<Unit> out = {head};
    for (const auto& r : ranges) {
        Unit block = MemorySequence::Main(Le64(r.first));
        block.id = vestrel::kBackupSparseBlock;
        block.attributes = vestrel::kStreamSparseAttribute;
        block.data.insert(block.data.end(), r.second.begin(), r.second.end());
        block.dataSize = block.data.size();
        out.push_back(block);
    }
    return out;
}

}  // namespace

// The size of a sparse named stream is the end of its last range; its
// preview holds what the ranges put in its first 100 bytes, zeros elsewhere.
TEST(StreamEnumeration, SparseNamedStreamsTakeSizeAndPreviewFromTheirBlocks) {
    struct Case {
        const char* what;
        uint64_t headerSize;
        std::vector<std::pair<uint64_t, std::vector<uint8_t>>> ranges;
        uint64_t size;
        int firstNonZero;  // index into the preview of the first range byte, -1 none
    };
    const uint64_t four = uint64_t(1) << 32;
    const std::vector<Case> cases = {
        {"no range", 0, {}, 0, -1},
        {"range at 0", 0, {{0, {7, 8, 9}}}, 3, 0},
        {"last preview byte", 0, {{99, {7, 8}}}, 101, 99},
        {"just past the preview", 0, {{100, {7, 8}}}, 102, -1},
        {"empty range", 0, {{500, {}}}, 500, -1},
        {"past 4 GiB", 0, {{0, {7}}, {four, {1, 2, 3, 4, 5}}}, four + 5, 0},
        {"header holds the start", 10, {{50, {7}}}, 51, 0},
        {"later range ends first", 0, {{200, {7, 7}}, {10, {7}}}, 202, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Unit> units = {MemorySequence::Main(Bytes(3))};
        for (Unit& u : SparseNamed(":sp:$DATA", c.headerSize, c.ranges)) units.push_back(u);
        units.push_back(MemorySequence::Named(":after:$DATA", Bytes(4, 9)));
        auto seq = MemorySequence::FromUnits(units);
        Result r;
        Enumerate(seq, r);
        ASSERT_EQ(r.count, 2);
        EXPECT_EQ(r.Names(), (std::vector<WideString>{W("sp"), W("after")}));
        EXPECT_EQ(r.At(0).ullSize, c.size);
        EXPECT_EQ(r.At(0).dwSize, uint32_t(c.size));
        int first = -1;
        const size_t shown = c.size < 100 ? size_t(c.size) : 100;
        for (size_t i = 0; i < shown && first < 0; ++i) {
            if (r.At(0).byData[i] != 0) first = int(i);
        }
        EXPECT_EQ(first, c.firstNonZero);
        EXPECT_EQ(r.At(1).byData[0], 9);
    }
}

// A block too short for its offset adds nothing to the size; one exactly
// the offset long adds its offset. A range whose end passes 64 bits adds
// nothing; the walk goes on either way.
TEST(StreamEnumeration, DamagedSparseBlocksAddNothing) {
    struct Case {
        std::vector<uint8_t> blockData;
        uint64_t size;
    };
    std::vector<uint8_t> seven = Le64(300);
    seven.pop_back();
    std::vector<uint8_t> overflow = Le64(UINT64_MAX - 1);
    overflow.insert(overflow.end(), {1, 2});
    std::vector<uint8_t> fits = Le64(UINT64_MAX - 2);
    fits.insert(fits.end(), {1, 2});
    const std::vector<Case> cases = {{seven, 0}, {Le64(300), 300}, {overflow, 0}, {fits, UINT64_MAX}, {{}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<Unit> units = SparseNamed(":sp:$DATA", 0, {});
        Unit block = MemorySequence::Main(c.blockData);
        block.id = vestrel::kBackupSparseBlock;
        units.push_back(block);
        units.push_back(MemorySequence::Named(":after:$DATA", Bytes(4)));
        auto seq = MemorySequence::FromUnits(units);
        Result r;
        Enumerate(seq, r);
        ASSERT_EQ(r.count, 2);
        EXPECT_EQ(r.At(0).ullSize, c.size);
        EXPECT_EQ(r.At(1).strName, W("after"));
    }
}

TEST(StreamEnumeration, SizesShowAsWholeUnsignedDecimals) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0"},
        {9, "9"},
        {10, "10"},
        {0x7FFFFFFF, "2147483647"},
        {0x80000000, "2147483648"},
        {uint64_t(3) << 30, "3221225472"},
        {0xFFFFFFFF, "4294967295"},
        {uint64_t(1) << 32, "4294967296"},
        {(uint64_t(1) << 32) + 5, "4294967301"},
        {9999999999999999999u, "9999999999999999999"},
        {10000000000000000000u, "10000000000000000000"},
        {UINT64_MAX, "18446744073709551615"},
    };
    for (const auto& c : cases) EXPECT_EQ(vestrel::DecimalSize(c.first), W(c.second)) << c.second;
}
