// The demonstration documents of the user guide: a few files whose named
// streams show what the programs find. Portable: the Windows driver writes
// them through stream paths, the NTFS fixture writes them into an image, so
// the dialog, vestrel-cli and vestrel-ntfs all show the same rows.
#pragma once
#include <string>
#include <vector>

namespace testing_support {

struct DemoStream {
    std::u16string name;
    std::string bytes;
    // False for the names the programs leave out (zone.identifier).
    bool listed = true;
};

struct DemoFile {
    std::u16string path;  // relative to the documents folder, backslashes
    std::string content;
    std::vector<DemoStream> streams;
};

// Texts in code page 936, as a Simplified Chinese system writes them.
// "审阅意见：第 3 页的数字需要再核对一次。" CRLF "审阅人：demo" CRLF
inline const std::string kDemoReview =
    "\xc9\xf3\xd4\xc4\xd2\xe2\xbc\xfb\xa3\xba\xb5\xda\x20\x33\x20\xd2\xb3\xb5\xc4\xca\xfd\xd7\xd6\xd0\xe8\xd2\xaa"
    "\xd4\xd9\xba\xcb\xb6\xd4\xd2\xbb\xb4\xce\xa1\xa3\r\n\xc9\xf3\xd4\xc4\xc8\xcb\xa3\xba" "demo\r\n";
// "第三季度汇总：收入 128 万元，支出 96 万元。" CRLF
inline const std::string kDemoSummary =
    "\xb5\xda\xc8\xfd\xbc\xbe\xb6\xc8\xbb\xe3\xd7\xdc\xa3\xba\xca\xd5\xc8\xeb 128 \xcd\xf2\xd4\xaa\xa3\xac"
    "\xd6\xa7\xb3\xf6 96 \xcd\xf2\xd4\xaa\xa1\xa3\r\n";

inline std::vector<DemoFile> DemoDocuments() {
    const std::string zone = "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://example.com/files/report.docx\r\n";
    std::string thumbnail = "\x89PNG\r\n\x1a\n";
    thumbnail.resize(2048, '\x7f');
    std::string payload = "MZ";
    payload.resize(48128, '\x90');
    return {
        {u"report.docx", "PK demo document", {{u"Zone.Identifier", zone, false}, {u"review", kDemoReview}, {u"thumbnail", thumbnail}}},
        {u"\u5b63\u5ea6\u62a5\u8868.xlsx", "PK demo sheet", {{u"Zone.Identifier", zone, false}, {u"summary", kDemoSummary}}},
        {u"notes.txt", "shopping list\r\n", {{u"author", "demo <demo@example.com>\r\n"}}},
        {u"invoice.pdf", "%PDF-1.4 demo", {{u"payload.exe", payload}}},
        {u"readme.txt", "no streams here\r\n", {}},
        {u"photos\\holiday.jpg", "JFIF demo", {{u"camera", "taken 2026-05-01 by demo\r\n"}}},
        {u"photos\\cover.png", "PNG demo", {}},
    };
}

}  // namespace testing_support
