// The bytes of a deleted file's stream: resident ones from the copy of its
// MFT record, non-resident ones from the clusters its runs name, which may
// since have been given to other files.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Records.h"

struct _ntfs_volume;

namespace vestrel::ntfs {

struct DeletedStream {
    uint64_t record = 0;
    DataAttribute data;               // name, size, residence, flags
    std::vector<uint8_t> attribute;   // the attribute record as it lay in the MFT record
};

enum class Recovery {
    Recovered,    // resident, or none of its clusters is allocated today
    Overwritten,  // some of its clusters belong to a file today
    Unreadable,   // its runs contradict themselves or the volume
};

// Checks the stream's runs against the volume's cluster bitmap. `why` says
// what is wrong for Unreadable.
Recovery CheckDeleted(_ntfs_volume* volume, const DeletedStream& stream, std::string* why);

// "recovered" / "overwritten", the row's word for it ("" for Unreadable).
std::u16string RecoveryWord(Recovery recovery);

// Hands the stream's bytes to `write` a piece at a time, in order. False with
// `error` set when they cannot be read or `write` refuses.
bool ReadDeleted(_ntfs_volume* volume, const DeletedStream& stream,
                 const std::function<bool(const char* data, size_t size)>& write, std::string* error);

}  // namespace vestrel::ntfs
