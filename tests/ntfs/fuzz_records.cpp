// Whole MFT records (deleted ones among the seeds), attribute records and
// index entry names from a damaged or hostile volume: the decoding must stay
// inside the bytes it is given.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vestrel::ntfs;
    // The record in a buffer of its own size, so any read past it is caught.
    std::vector<uint8_t> record(data, data + size);
    DataAttribute attribute;
    if (DecodeAttribute(record.data(), record.size(), &attribute) == AttributeVerdict::Data) {
        if (attribute.name.size() > 255) __builtin_trap();
    }
    FileRecord fileRecord;
    if (DecodeFileRecord(record.data(), record.size(), &fileRecord) == RecordVerdict::Record) {
        for (size_t i = 0; i < fileRecord.data.size(); ++i) {
            const DataAttribute& d = fileRecord.data[i];
            // What a deleted stream's reading relies on: its bytes lie in the record.
            if (fileRecord.dataAt[i] + uint64_t(d.valueOffset) + d.valueLength > record.size()) __builtin_trap();
        }
        for (const FileName& n : fileRecord.names)
            if (n.name.empty() || n.name.size() > size_t(kMaxNameUnits)) __builtin_trap();
    }
    FileName name;
    if (DecodeFileName(record.data(), record.size(), &name) && 66 + 2 * name.name.size() > record.size())
        __builtin_trap();
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) units.push_back(char16_t(data[i] | data[i + 1] << 8));
    const int nameType = size > 0 ? data[0] & 3 : 0;
    ClassifyEntry(units.data(), int(units.size()), nameType, size);
    const std::u16string path = NormalVolumePath(units);
    if (path.empty() || path[0] != u'\\') __builtin_trap();
    std::u16string file, stream;
    SplitStreamPath(units, &file, &stream);
    RelativePath(path, ChildPath(path, units));
    std::string bytes(reinterpret_cast<const char*>(data), size);
    if (FitFileName(bytes, 64).size() > 64) __builtin_trap();
    return 0;
}
