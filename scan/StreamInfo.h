// The names and sizes of a file's streams as the file system lists them
// (GetFileInformationByHandleEx with FileStreamInfo: a chain of
// FILE_STREAM_INFO entries, MS-FSCC 2.4.48 FileStreamInformation), read
// without touching any stream's data. Portable: the bytes come from anywhere.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "StreamEnumerator.h"

namespace vestrel {

// Offset of the name in one entry: NextEntryOffset, StreamNameLength (4 bytes
// each), StreamSize, StreamAllocationSize (8 bytes each).
constexpr size_t kStreamInfoHeaderSize = 24;

// Appends one NamedStream per named data stream of the chain in `data`
// (the bare name: ":NAME:$DATA" less its colon and type, so "$DATA" stays
// "$DATA"; excluded names marked as the backup walk marks them; the unnamed
// stream and streams of other types are left out; no preview). False, with
// the streams of the entries before it kept, at an entry that does not fit
// in the buffer, a name of odd length, or a next offset that does not move
// past the entry's name.
bool ParseStreamInfo(const uint8_t* data, size_t size, std::vector<NamedStream>* out);

}  // namespace vestrel
