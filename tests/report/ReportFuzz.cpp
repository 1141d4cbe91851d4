// Any UTF-16 name and any UTF-8 text: the writers' output must read back to
// the exact name, and an extracted stream's file name must stay safe. The
// same bytes as stream content: zone parsing, kind detection and the name
// rule end with a defined answer, and a body line keeps its eleven fields.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "OutputParse.h"
#include "Report.h"

using namespace vestrel::report;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string name;
    for (size_t i = 0; i + 1 < size; i += 2) name.push_back(char16_t(data[i] | data[i + 1] << 8));

    vestrel::testing::JsonObject obj;
    if (!vestrel::testing::ParseJsonLine("{\"s\":" + JsonString(name) + "}", &obj) || obj.strings["s"] != name)
        std::abort();

    const std::string utf8 = ToUtf8(name);
    const auto csv = vestrel::testing::ParseCsv(CsvField(utf8) + "\r\n");
    if (!csv.ok || csv.records.size() != 1 || csv.records[0].size() != 1 || csv.records[0][0] != utf8)
        std::abort();

    const std::u16string safe = SafeExtractName(name, name);
    if (safe.empty() || safe.size() > 200 || safe == u"." || safe == u".." ||
        safe.find_first_of(u"\\/:*?\"<>|") != std::u16string::npos)
        std::abort();
    for (char16_t c : safe) {
        if (c < 0x20) std::abort();
    }

    // Whatever bytes come in, decoding ends and re-encoding is stable.
    const std::u16string decoded = FromUtf8(std::string(reinterpret_cast<const char*>(data), size));
    if (FromUtf8(ToUtf8(decoded)) != decoded) std::abort();

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const ZoneParse zone = ParseZoneIdentifier(bytes, size);
    if (zone.wellFormed != zone.problem.empty()) std::abort();
    if (zone.wellFormed && (zone.info.zoneId.size() != 1 || size > kMaxZoneFileSize)) std::abort();
    const std::string kind = DetectKind(bytes.substr(0, kKindProbeBytes), size);
    bool known = false;
    for (const std::string& k : AllKinds()) known = known || k == kind;
    if (!known || (size == 0) != (kind == "empty")) std::abort();
    const std::string note = NameMismatch(u"Zone.Identifier", bytes, size, kind);
    if (note.empty() != zone.wellFormed && kind == "text") std::abort();

    StreamRow row;
    row.path = name;
    row.stream = name;
    const std::string body = BodyLine(row);
    size_t bars = 0;
    for (char c : body) {
        bars += c == '|';
        if (c == '\n' || c == '\r') std::abort();
    }
    if (bars != 10) std::abort();
    return 0;
}
