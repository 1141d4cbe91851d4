// Decoding attribute records and index entries as the NTFS library hands
// them over, and the volume path forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "Records.h"

using namespace vestrel::ntfs;

namespace {

// Builds one attribute record as it lies in an MFT record.
std::vector<uint8_t> Attribute(uint32_t type, bool nonResident, const std::u16string& name, uint64_t size,
                               uint64_t lowestVcn = 0, uint16_t flags = 0) {
    const size_t header = nonResident ? 64 : 24;
    size_t length = header + name.size() * 2 + (nonResident ? 8 : size_t(size));
    length = (length + 7) / 8 * 8;
    std::vector<uint8_t> r(length, 0);
    auto put = [&](size_t at, uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) r[at + i] = uint8_t(v >> (8 * i));
    };
    put(0, type, 4);
    put(4, length, 4);
    r[8] = nonResident;
    r[9] = uint8_t(name.size());
    put(10, header, 2);
    put(12, flags, 2);
    for (size_t i = 0; i < name.size(); ++i) put(header + 2 * i, name[i], 2);
    if (nonResident) {
        put(16, lowestVcn, 8);
        put(40, (size + 4095) / 4096 * 4096, 8);
        put(48, size, 8);
    } else {
        put(16, size, 4);
        put(20, header + name.size() * 2, 2);
    }
    return r;
}

}  // namespace

TEST(DecodeAttribute, ResidentAndNonResidentStreamsGiveNameAndFullSize) {
    DataAttribute a;
    auto resident = Attribute(0x80, false, u"s101", 101);
    ASSERT_EQ(DecodeAttribute(resident.data(), resident.size(), &a), AttributeVerdict::Data);
    EXPECT_EQ(a.name, u"s101");
    EXPECT_EQ(a.size, 101u);
    EXPECT_FALSE(a.nonResident);

    auto big = Attribute(0x80, true, u"big", (4ull << 30) + 5, 0, 0x8000);
    ASSERT_EQ(DecodeAttribute(big.data(), big.size(), &a), AttributeVerdict::Data);
    EXPECT_EQ(a.size, (4ull << 30) + 5);
    EXPECT_TRUE(a.sparse);
    EXPECT_TRUE(a.firstExtent);
}

TEST(DecodeAttribute, LaterExtentsAndOtherTypesAreNotStreams) {
    DataAttribute a;
    auto extent = Attribute(0x80, true, u"s", 1 << 20, 64);
    ASSERT_EQ(DecodeAttribute(extent.data(), extent.size(), &a), AttributeVerdict::Data);
    EXPECT_FALSE(a.firstExtent);
    auto fileName = Attribute(0x30, false, u"", 80);
    EXPECT_EQ(DecodeAttribute(fileName.data(), fileName.size(), &a), AttributeVerdict::Other);
}

TEST(DecodeAttribute, RecordsThatContradictTheirRoomAreDamaged) {
    DataAttribute a;
    auto r = Attribute(0x80, false, u"name", 10);
    EXPECT_EQ(DecodeAttribute(r.data(), r.size() - 8, &a), AttributeVerdict::Damaged);  // length > room
    auto nameOut = r;
    nameOut[10] = 0xF0;  // name offset past the record
    EXPECT_EQ(DecodeAttribute(nameOut.data(), nameOut.size(), &a), AttributeVerdict::Damaged);
    auto valueOut = r;
    valueOut[16] = 0xFF;  // value longer than the record
    EXPECT_EQ(DecodeAttribute(valueOut.data(), valueOut.size(), &a), AttributeVerdict::Damaged);
    auto negative = Attribute(0x80, true, u"n", 10);
    negative[55] = 0x80;  // data size below zero
    EXPECT_EQ(DecodeAttribute(negative.data(), negative.size(), &a), AttributeVerdict::Damaged);
    auto shortNonResident = Attribute(0x80, false, u"", 0);
    shortNonResident[8] = 1;  // claims non-resident in a 24-byte record
    EXPECT_EQ(DecodeAttribute(shortNonResident.data(), shortNonResident.size(), &a), AttributeVerdict::Damaged);
    EXPECT_EQ(DecodeAttribute(r.data(), 4, &a), AttributeVerdict::Damaged);
}

// The name of a $DATA record counts UTF-16 units: a name ending on the
// record's last byte is read, one unit more is damage, and so is a count that
// would only fit were it bytes. The buffer is exactly the record, so a read
// past it is caught.
struct NameBound {
    const char* what;
    size_t units;    // name units that fit the record
    uint8_t claims;  // the name length the record states
    AttributeVerdict verdict;
};
void PrintTo(const NameBound& c, std::ostream* out) { *out << c.what; }
class AttributeNameBounds : public ::testing::TestWithParam<NameBound> {};

TEST_P(AttributeNameBounds, NameInsideTheRecordOrDamaged) {
    const NameBound& c = GetParam();
    auto r = Attribute(0x80, false, std::u16string(c.units, u'n'), 0);
    ASSERT_EQ(r.size(), 24 + 2 * c.units);  // the name ends on the last byte
    r[9] = c.claims;
    r[20] = uint8_t(r.size());  // the (empty) value after all of it
    DataAttribute a;
    EXPECT_EQ(DecodeAttribute(r.data(), r.size(), &a), c.verdict);
    if (c.verdict == AttributeVerdict::Data) {
        EXPECT_EQ(a.name.size(), c.claims);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AttributeNameBounds,
                         ::testing::Values(NameBound{"fits exactly", 8, 8, AttributeVerdict::Data},
                                           NameBound{"one unit short", 8, 7, AttributeVerdict::Data},
                                           NameBound{"one unit past", 8, 9, AttributeVerdict::Damaged},
                                           NameBound{"fits only as bytes", 8, 16, AttributeVerdict::Damaged},
                                           NameBound{"longest", 252, 252, AttributeVerdict::Data},
                                           NameBound{"longest plus one", 252, 253, AttributeVerdict::Damaged}));

// A $FILE_NAME value: 66 fixed bytes, then the name in units.
std::vector<uint8_t> FileNameValue(uint64_t parent, uint8_t type, const std::u16string& name) {
    std::vector<uint8_t> v(66 + 2 * name.size(), 0);
    for (int i = 0; i < 8; ++i) v[size_t(i)] = uint8_t(parent >> (8 * i));
    v[64] = uint8_t(name.size());
    v[65] = type;
    for (size_t i = 0; i < name.size(); ++i) {
        v[66 + 2 * i] = uint8_t(name[i]);
        v[67 + 2 * i] = uint8_t(name[i] >> 8);
    }
    return v;
}

struct FileNameBound {
    const char* what;
    size_t units;
    int claims;    // -1: as written
    int trimmed;   // bytes cut off the value's end
    bool decoded;
};
void PrintTo(const FileNameBound& c, std::ostream* out) { *out << c.what; }
class FileNameBounds : public ::testing::TestWithParam<FileNameBound> {};

TEST_P(FileNameBounds, NameInsideTheValueOrRefused) {
    const FileNameBound& c = GetParam();
    auto v = FileNameValue(0x0005000000000005ull, 1, std::u16string(c.units, u'f'));
    if (c.claims >= 0) v[64] = uint8_t(c.claims);
    v.resize(v.size() - size_t(c.trimmed));
    FileName name;
    EXPECT_EQ(DecodeFileName(v.data(), v.size(), &name), c.decoded);
    if (c.decoded) {
        EXPECT_EQ(name.name.size(), v[64]);
        EXPECT_EQ(name.parent, 0x0005000000000005ull);
        EXPECT_EQ(name.nameType, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FileNameBounds,
                         ::testing::Values(FileNameBound{"fits exactly", 5, -1, 0, true},
                                           FileNameBound{"last unit cut in half", 5, -1, 1, false},
                                           FileNameBound{"one unit past", 5, 6, 0, false},
                                           FileNameBound{"fits only as bytes", 5, 10, 0, false},
                                           FileNameBound{"empty name", 0, -1, 0, false},
                                           FileNameBound{"fixed part short", 0, -1, 1, false},
                                           FileNameBound{"255 units", 255, -1, 0, true}));

// Names an index entry or a $FILE_NAME may hold, and what a listing does
// with each: dots only as "." and "..", 255 units and no more.
struct EntryCase {
    const char* what;
    std::u16string name;
    int nameType;
    uint64_t inode;
    EntryVerdict verdict;
};
void PrintTo(const EntryCase& c, std::ostream* out) { *out << c.what; }
class Entries : public ::testing::TestWithParam<EntryCase> {};

TEST_P(Entries, Classified) {
    const EntryCase& c = GetParam();
    EXPECT_EQ(ClassifyEntry(c.name.data(), int(c.name.size()), c.nameType, c.inode), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Entries,
    ::testing::Values(EntryCase{"dot", u".", 1, 40, EntryVerdict::Skip},
                      EntryCase{"dot dot", u"..", 1, 40, EntryVerdict::Skip},
                      EntryCase{"dot a", u".a", 1, 40, EntryVerdict::Keep},
                      EntryCase{"a dot", u"a.", 1, 40, EntryVerdict::Keep},
                      EntryCase{"three dots", u"...", 1, 40, EntryVerdict::Keep},
                      EntryCase{"dot dot a", u"..a", 1, 40, EntryVerdict::Keep},
                      EntryCase{"255 units", std::u16string(255, u'x'), 1, 40, EntryVerdict::Keep},
                      EntryCase{"256 units", std::u16string(256, u'x'), 1, 40, EntryVerdict::Damaged},
                      EntryCase{"254 units", std::u16string(254, u'x'), 0, 40, EntryVerdict::Keep},
                      EntryCase{"empty", u"", 1, 40, EntryVerdict::Damaged},
                      EntryCase{"short alias only", u"A~1.TXT", kNameDosOnly, 40, EntryVerdict::Skip},
                      EntryCase{"last metadata record", u"x", 1, 15, EntryVerdict::System},
                      EntryCase{"first user record", u"x", 1, 16, EntryVerdict::Keep}));

TEST(ClassifyEntry, ShortAliasesDotsAndMetadataAreTold) {
    const std::u16string dot = u".", dots = u"..", mft = u"$MFT", user = u"a.txt";
    EXPECT_EQ(ClassifyEntry(dot.data(), 1, 1, 5), EntryVerdict::Skip);
    EXPECT_EQ(ClassifyEntry(dots.data(), 2, 1, 5), EntryVerdict::Skip);
    EXPECT_EQ(ClassifyEntry(user.data(), 5, kNameDosOnly, 40), EntryVerdict::Skip);
    EXPECT_EQ(ClassifyEntry(user.data(), 5, 3, 40), EntryVerdict::Keep);  // long and short name in one
    EXPECT_EQ(ClassifyEntry(mft.data(), 4, 3, 0), EntryVerdict::System);
    EXPECT_EQ(ClassifyEntry(user.data(), 5, 1, 15), EntryVerdict::System);
    EXPECT_EQ(ClassifyEntry(user.data(), 5, 1, 16), EntryVerdict::Keep);
    EXPECT_EQ(ClassifyEntry(user.data(), 0, 1, 40), EntryVerdict::Damaged);
    EXPECT_EQ(ClassifyEntry(user.data(), 256, 1, 40), EntryVerdict::Damaged);
}

struct PathCase {
    std::u16string typed, normal;
};
void PrintTo(const PathCase& c, std::ostream* out) {
    *out << '"';
    for (char16_t u : c.typed) *out << (u < 0x80 ? char(u) : '?');
    *out << '"';
}
class VolumePaths : public ::testing::TestWithParam<PathCase> {};
TEST_P(VolumePaths, Normalised) { EXPECT_EQ(NormalVolumePath(GetParam().typed), GetParam().normal); }
INSTANTIATE_TEST_SUITE_P(Cases, VolumePaths,
                         ::testing::Values(PathCase{u"", u"\\"}, PathCase{u"/", u"\\"}, PathCase{u"\\\\", u"\\"},
                                           PathCase{u"Users/a/", u"\\Users\\a"},
                                           PathCase{u"\\Users\\\\a\\r.docx", u"\\Users\\a\\r.docx"}));

TEST(VolumePaths, ChildAndRelative) {
    EXPECT_EQ(ChildPath(u"\\", u"a"), u"\\a");
    EXPECT_EQ(ChildPath(u"\\a", u"b"), u"\\a\\b");
    EXPECT_EQ(RelativePath(u"\\a", u"\\a\\b\\c"), u"b\\c");
    EXPECT_EQ(RelativePath(u"\\", u"\\b"), u"b");
    EXPECT_EQ(RelativePath(u"\\a", u"\\a"), u"");
}

TEST(VolumePaths, StreamPathNeedsAStreamName) {
    std::u16string path, stream;
    ASSERT_TRUE(SplitStreamPath(u"/dir/a.txt:s:x", &path, &stream));
    EXPECT_EQ(path, u"\\dir\\a.txt");
    EXPECT_EQ(stream, u"s:x");
    EXPECT_FALSE(SplitStreamPath(u"\\a.txt", &path, &stream));
    EXPECT_FALSE(SplitStreamPath(u"\\a.txt:", &path, &stream));
}

TEST(FitFileName, LongUtf8NamesAreCutAtCharactersAndKeptApart) {
    EXPECT_EQ(FitFileName("short.txt"), "short.txt");
    std::string cjk;
    for (int i = 0; i < 200; ++i) cjk += "\xE6\xB5\x81";  // 600 bytes
    const std::string a = FitFileName(cjk + "a.bin"), b = FitFileName(cjk + "b.bin");
    EXPECT_LE(a.size(), 255u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.substr(a.size() - 4), ".bin");
    const size_t tilde = a.rfind('~');
    ASSERT_NE(tilde, std::string::npos);
    EXPECT_EQ(tilde % 3, 0u);  // the cut fell between whole three-byte characters
}

namespace {

// One MFT record of 1024 bytes: header, then $FILE_NAME and $DATA
// attributes, then the end marker; `inUse` bytes in use.
struct RecordBuilder {
    std::vector<uint8_t> r = std::vector<uint8_t>(1024, 0);
    size_t at = 56;
    void Put(size_t where, uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) r[where + size_t(i)] = uint8_t(v >> (8 * i));
    }
    RecordBuilder(uint16_t flags = 1, uint64_t base = 0) {
        r[0] = 'F', r[1] = 'I', r[2] = 'L', r[3] = 'E';
        Put(16, 7, 2);  // sequence
        Put(20, 56, 2);
        Put(22, flags, 2);
        Put(28, 1024, 4);
        Put(32, base, 8);
    }
    void Add(const std::vector<uint8_t>& attribute) {
        std::copy(attribute.begin(), attribute.end(), r.begin() + long(at));
        at += attribute.size();
    }
    void FileNameAttr(uint64_t parent, uint8_t type, const std::u16string& name) {
        const auto value = FileNameValue(parent, type, name);
        std::vector<uint8_t> a((24 + value.size() + 7) / 8 * 8, 0);
        auto put = [&](size_t w, uint64_t v, int n) {
            for (int i = 0; i < n; ++i) a[w + size_t(i)] = uint8_t(v >> (8 * i));
        };
        put(0, 0x30, 4);
        put(4, a.size(), 4);
        put(16, value.size(), 4);
        put(20, 24, 2);
        std::copy(value.begin(), value.end(), a.begin() + 24);
        Add(a);
    }
    // Ends the attributes; the record's bytes in use end `slack` bytes after
    // the end marker's four.
    std::vector<uint8_t> Finish(int slack = 4) {
        Put(at, 0xFFFFFFFFu, 4);
        Put(24, uint64_t(long(at) + 4 + slack), 4);
        return r;
    }
};

}  // namespace

TEST(DecodeFileRecord, NamesAndStreamsOfLiveAndDeletedRecords) {
    for (const uint16_t flags : {uint16_t(1), uint16_t(0), uint16_t(3), uint16_t(2)}) {
        RecordBuilder b(flags);
        b.FileNameAttr(0x0005000000000005ull, 1, u"long name.txt");
        b.FileNameAttr(0x0005000000000005ull, kNameDosOnly, u"LONGNA~1.TXT");
        b.Add(Attribute(0x80, false, u"", 3));
        b.Add(Attribute(0x80, false, u"res", 40));
        b.Add(Attribute(0x80, true, u"big", 20000));
        b.Add(Attribute(0x80, true, u"big", 20000, 5));  // a later extent: not a stream of its own
        const auto r = b.Finish();
        FileRecord rec;
        ASSERT_EQ(DecodeFileRecord(r.data(), r.size(), &rec), RecordVerdict::Record) << flags;
        EXPECT_EQ(rec.inUse, (flags & 1) != 0);
        EXPECT_EQ(rec.directory, (flags & 2) != 0);
        EXPECT_EQ(rec.sequence, 7);
        EXPECT_EQ(rec.base, 0u);
        ASSERT_EQ(rec.names.size(), 2u);
        EXPECT_EQ(rec.names[0].name, u"long name.txt");
        EXPECT_EQ(rec.names[1].nameType, kNameDosOnly);
        ASSERT_EQ(rec.data.size(), 3u);
        EXPECT_EQ(rec.data[1].name, u"res");
        EXPECT_EQ(rec.data[1].valueLength, 40u);
        EXPECT_EQ(r[rec.dataAt[1] + rec.data[1].valueOffset], 0);  // the value's first byte, inside the record
        EXPECT_EQ(rec.data[2].size, 20000u);
        EXPECT_TRUE(rec.data[2].nonResident);
    }
}

struct RecordCase {
    const char* what;
    std::function<void(std::vector<uint8_t>*)> change;
    RecordVerdict verdict;
};
void PrintTo(const RecordCase& c, std::ostream* out) { *out << c.what; }
class RecordBounds : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordBounds, DecodedOnlyInsideItsOwnBounds) {
    RecordBuilder b;
    b.FileNameAttr(0x0005000000000005ull, 1, u"a.txt");
    b.Add(Attribute(0x80, false, u"s", 5));
    auto r = b.Finish(0);  // in use ends right after the end marker
    GetParam().change(&r);
    FileRecord rec;
    EXPECT_EQ(DecodeFileRecord(r.data(), r.size(), &rec), GetParam().verdict);
}

namespace {
void SetLe(std::vector<uint8_t>* r, size_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) (*r)[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint32_t InUse(const std::vector<uint8_t>& r) { return uint32_t(r[24] | r[25] << 8 | r[26] << 16 | r[27] << 24); }
}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordBounds,
    ::testing::Values(
        RecordCase{"as built", [](std::vector<uint8_t>*) {}, RecordVerdict::Record},
        RecordCase{"end marker cut by one byte", [](std::vector<uint8_t>* r) { SetLe(r, 24, InUse(*r) - 1, 4); },
                   RecordVerdict::Damaged},
        RecordCase{"in use up to the record's end", [](std::vector<uint8_t>* r) { SetLe(r, 24, 1024, 4); },
                   RecordVerdict::Record},
        RecordCase{"in use one past the record", [](std::vector<uint8_t>* r) { SetLe(r, 24, 1025, 4); },
                   RecordVerdict::Damaged},
        RecordCase{"first attribute at 48", [](std::vector<uint8_t>* r) {
                       std::copy(r->begin() + 56, r->end(), r->begin() + 48);
                       SetLe(r, 20, 48, 2);
                   },
                   RecordVerdict::Record},
        RecordCase{"first attribute at 40", [](std::vector<uint8_t>* r) { SetLe(r, 20, 40, 2); },
                   RecordVerdict::Damaged},
        RecordCase{"first attribute unaligned", [](std::vector<uint8_t>* r) { SetLe(r, 20, 60, 2); },
                   RecordVerdict::Damaged},
        RecordCase{"first attribute past what is in use",
                   [](std::vector<uint8_t>* r) { SetLe(r, 20, InUse(*r), 2); }, RecordVerdict::Damaged},
        RecordCase{"file name's name one unit past its value",
                   [](std::vector<uint8_t>* r) { (*r)[56 + 24 + 64] = 6; }, RecordVerdict::Damaged},
        RecordCase{"file name stored non-resident", [](std::vector<uint8_t>* r) { (*r)[56 + 8] = 1; },
                   RecordVerdict::Damaged},
        RecordCase{"attribute longer than what is in use",
                   [](std::vector<uint8_t>* r) { SetLe(r, 56 + 4, InUse(*r), 4); }, RecordVerdict::Damaged},
        RecordCase{"attribute of length zero", [](std::vector<uint8_t>* r) { SetLe(r, 56 + 4, 0, 4); },
                   RecordVerdict::Damaged},
        RecordCase{"never used (zeros)", [](std::vector<uint8_t>* r) { std::fill(r->begin(), r->end(), 0); },
                   RecordVerdict::Empty},
        RecordCase{"marked bad", [](std::vector<uint8_t>* r) { std::copy_n("BAAD", 4, r->begin()); },
                   RecordVerdict::Damaged}));

TEST(DecodeFileRecord, ShorterThanAHeaderIsDamaged) {
    RecordBuilder b;
    const auto r = b.Finish();
    FileRecord rec;
    EXPECT_EQ(DecodeFileRecord(r.data(), 49, &rec), RecordVerdict::Damaged);
    EXPECT_EQ(DecodeFileRecord(r.data(), 50, &rec), RecordVerdict::Damaged);  // in use says 60
}
