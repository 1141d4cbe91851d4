// Decoding attribute records and index entries as the NTFS library hands
// them over, and the volume path forms.
#include <gtest/gtest.h>

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
