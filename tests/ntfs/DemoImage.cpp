// The user guide's demonstration documents in an NTFS image, so vestrel-ntfs
// shows the same rows as the dialog and vestrel-cli.
#include "DemoTree.h"
#include "Fixture.h"

namespace vestrel::ntfs::fixture {

bool BuildDemo(const std::string& image, std::string* error) {
    if (!Format(image, 16ull << 20, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    bool ok = true;
    for (const testing_support::DemoFile& f : testing_support::DemoDocuments()) {
        std::vector<Stream> streams;
        for (const testing_support::DemoStream& s : f.streams) streams.push_back({s.name, s.bytes.size(), false, false, s.bytes});
        ok = ok && w.AddFile(u"\\Users\\demo\\Documents\\" + f.path, streams, f.content);
    }
    if (!ok) *error = w.error();
    return w.Close() && ok;
}

const char kTriageZone[] =
    "[ZoneTransfer]\r\nZoneId=3\r\nReferrerUrl=https://mail.example.com/\r\n"
    "HostUrl=https://downloads.example.com/setup.exe\r\n";

std::string TriageExecutable() {
    std::string bytes(48 * 1024, '\0');
    bytes.replace(0, 2, "MZ");
    for (size_t i = 64; i < bytes.size(); ++i) bytes[i] = char(i * 7 % 251);
    return bytes;
}

bool BuildTriage(const std::string& image, std::string* error) {
    if (!Format(image, 16ull << 20, error)) return false;
    Writer w;
    if (!w.Open(image, error)) return false;
    auto s = [](const char16_t* name, const std::string& data) { return Stream{name, data.size(), false, false, data}; };
    const bool ok =
        w.AddFile(u"\\Users\\a\\Downloads\\setup.exe", {s(u"Zone.Identifier", kTriageZone)}, "MZ-setup") &&
        w.AddFile(u"\\Users\\a\\Documents\\report.docx", {s(u"Zone.Identifier", TriageExecutable())}, "PK") &&
        w.AddFile(u"\\Users\\a\\Favorites\\site.url", {s(u"favicon", std::string("\0\0\1\0\1\0", 6))}, "[x]") &&
        w.AddFile(u"\\Users\\a\\Documents\\notes.txt", {s(u"run", "@echo off\r\npowershell -enc AAAA\r\n")}, "notes") &&
        w.AddFile(u"\\Users\\a\\Documents\\data.bin", {s(u"blob", std::string("\x01\x02\x03", 3))}, "d");
    if (!ok) *error = w.error();
    return w.Close() && ok;
}

}  // namespace vestrel::ntfs::fixture
