// The scan log's exact bytes, its file name rule and the stream-path guard.
#include <gtest/gtest.h>

#include <string>

#include "ScanLogFormat.h"

namespace {

std::string Utf16(const std::wstring& text) { return ScanLogBytes(text); }

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
        out += ' ';
    }
    return out;
}

}  // namespace

TEST(ScanLogFormat, HeaderIs56UnitsWithTheKnownFirstAndLastBytes) {
    const std::string header = Utf16(ScanLogHeader());
    ASSERT_EQ(header.size(), 112u);
    EXPECT_EQ(Hex(header.substr(0, 14)), "4E 00 54 00 46 00 53 00 70 65 6E 63 41 6D ");
    EXPECT_EQ(Hex(header.substr(104)), "EF 8D 84 5F 0D 00 0A 00 ");
}

TEST(ScanLogFormat, OneRowExampleIsByteExact) {
    const std::string file = Utf16(ScanLogHeader() + ScanLogLine(L"demo", L"26", L"C:\\a.txt"));
    ASSERT_EQ(file.size(), 208u);
    std::string expected = Utf16(L"NTFS数据流文件名----------------文件大小(字节)----------------文件路径\r\n");
    const char row[] = "demo----------------26----------------C:\\a.txt\r\n";
    for (const char* p = row; *p; ++p) {
        expected += *p;
        expected += '\0';
    }
    EXPECT_EQ(file, expected);
    EXPECT_EQ(Hex(file.substr(112, 8)), "64 00 65 00 6D 00 6F 00 ");
    EXPECT_EQ(Hex(file.substr(0, 2)), "4E 00 ");  // no byte-order mark
    EXPECT_EQ(Hex(file.substr(204)), "0D 00 0A 00 ");
}

TEST(ScanLogFormat, RowsKeepTheirTextsUnpaddedAndUnescaped) {
    EXPECT_EQ(ScanLogLine(L"", L"", L""), L"--------------------------------\r\n");
    EXPECT_EQ(ScanLogLine(L"a-b", L"0", L"D:\\x y\\流.dat"), L"a-b----------------0----------------D:\\x y\\流.dat\r\n");
    // The length rule: 2 x (56 + sum of cell lengths + 34 per row).
    std::wstring log = ScanLogHeader();
    const std::wstring cells[][3] = {{L"one", L"5", L"C:\\t\\a.txt"}, {L"two", L"0", L"C:\\t\\a.txt"},
                                     {L"数据", L"1234567", L"C:\\t\\sub\\b.bin"}};
    size_t cellChars = 0;
    for (const auto& c : cells) {
        log += ScanLogLine(c[0], c[1], c[2]);
        cellChars += c[0].size() + c[1].size() + c[2].size();
    }
    EXPECT_EQ(Utf16(log).size(), 2 * (56 + cellChars + 3 * 34));
    EXPECT_EQ(log.substr(56, 39), L"one----------------5----------------C:\\");
}

TEST(ScanLogFormat, CharactersBeyondTheBasicPlaneBecomeSurrogatePairs) {
    // U+1F600, written as UTF-16 by either wchar_t width.
    std::wstring text;
    if (sizeof(wchar_t) == 2) {
        text = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    } else {
        text = {static_cast<wchar_t>(0x1F600)};
    }
    EXPECT_EQ(Hex(Utf16(text)), "3D D8 00 DE ");
    if (sizeof(wchar_t) > 2) {
        // A value that is no character is not cut to its low 16 bits.
        EXPECT_EQ(Hex(Utf16(std::wstring(1, static_cast<wchar_t>(0x110041)))), "FD FF ");
    }
}

TEST(ScanLogFormat, TxtIsAppendedUnlessTheNameEndsInExactlyTxt) {
    EXPECT_EQ(ScanLogFilePath(L"C:\\logs\\log"), L"C:\\logs\\log.txt");
    EXPECT_EQ(ScanLogFilePath(L"C:\\logs\\a.txt"), L"C:\\logs\\a.txt");
    EXPECT_EQ(ScanLogFilePath(L"C:\\logs\\LOG.TXT"), L"C:\\logs\\LOG.TXT.txt");
    EXPECT_EQ(ScanLogFilePath(L"a.Txt"), L"a.Txt.txt");
    EXPECT_EQ(ScanLogFilePath(L".txt"), L".txt");
    EXPECT_EQ(ScanLogFilePath(L"txt"), L"txt.txt");
    EXPECT_EQ(ScanLogFilePath(L""), L".txt");
}

TEST(ScanLogFormat, OnlyAFileAndANonEmptyNameMakeAStreamPath) {
    EXPECT_EQ(StreamPathOf(L"C:\\a.txt", L"s", vestrel::StreamPlatform::kSiblingFiles), L"C:\\a.txt:s");
    EXPECT_EQ(StreamPathOf(L"C:\\a.txt", L"s", vestrel::StreamPlatform::kRealStreams), L"C:\\a.txt:s:$DATA");
    EXPECT_TRUE(NamesStream(L"C:\\a.txt", L"s"));
    EXPECT_FALSE(NamesStream(L"", L""));           // a click on no row: ":"
    EXPECT_FALSE(NamesStream(L"C:\\a.txt", L""));  // "C:\a.txt:" is the file itself
    EXPECT_FALSE(NamesStream(L"", L"s"));
}
