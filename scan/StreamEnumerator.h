// Lists the named data streams of one file from its backup stream sequence.
// Portable: the sequence comes from any IBackupSequence producer.
#pragma once
#include <atomic>
#include <cstdint>
#include <list>

#include "BackupSequence.h"

// One alternate data stream of one file.
struct NtfsStreamInfo {
    vestrel::WideString strName;  // bare name: no leading colon, no ":$DATA"
    uint32_t dwSize;              // low 32 bits of the stream's size
    uint8_t byData[100];          // the first min(size, 100) bytes
};

// Records are heap objects owned by the list's holder; FreeStreamList frees them.
using NtfsStreamList = std::list<NtfsStreamInfo*>;

namespace vestrel {

// Stream names that are never listed (whole name, ASCII case ignored).
bool IsExcludedStreamName(const WideString& name);

// "<colon><name>:$DATA" -> "<name>": every ":$DATA" removed, then the first
// character dropped.
WideString TrimStreamName(const WideString& rawName);

// Longest name size (bytes) a stream header may declare; NTFS names are far
// shorter, so anything longer is a damaged or hostile header.
constexpr uint32_t kMaxStreamNameBytes = 64 * 1024;

}  // namespace vestrel

// Walks the sequence and appends one record per kept alternate data stream, in
// sequence order. Returns the number of elements in the list afterwards
// (including any it held before). When `stop` is set the walk ends before the
// next stream; records appended so far stay.
int EnumStreamsFromSequence(vestrel::IBackupSequence& seq, NtfsStreamList* list,
                            const std::atomic<bool>* stop = nullptr);

// Destroys every record of the list. The nodes stay (now null) so that the
// holder discards the list itself; a second call frees nothing twice.
void FreeStreamList(NtfsStreamList* list);
