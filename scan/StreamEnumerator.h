// Lists the named data streams of one file from its backup stream sequence.
// Portable: the sequence comes from any IBackupSequence producer.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <list>

#include "BackupSequence.h"

// One alternate data stream of one file.
struct NtfsStreamInfo {
    vestrel::WideString strName;  // bare name: no leading colon, no ":$DATA"
    uint32_t dwSize;              // low 32 bits of the stream's size
    uint8_t byData[100];          // the first min(size, 100) bytes
    uint64_t ullSize;             // the full size, of which dwSize is the low half
};

// Records are heap objects owned by the list's holder; FreeStreamList frees them.
using NtfsStreamList = std::list<NtfsStreamInfo*>;

namespace vestrel {

// Stream names that are never listed (whole name, ASCII case ignored).
bool IsExcludedStreamName(const WideString& name);

// "<colon><name>:$DATA" -> "<name>": every ":$DATA" removed, then the first
// character dropped.
WideString TrimStreamName(const WideString& rawName);

// The size as an unsigned decimal, every digit of all 64 bits, as the
// result list and the scan log show it.
WideString DecimalSize(uint64_t size);

// Longest name size (bytes) a stream header may declare; NTFS names are far
// shorter, so anything longer is a damaged or hostile header.
constexpr uint32_t kMaxStreamNameBytes = 64 * 1024;

// One named data stream as the walk meets it.
struct NamedStream {
    WideString name;        // trimmed, see TrimStreamName
    uint64_t size = 0;      // full 64-bit data size
    bool excluded = false;  // one of the names a plain listing leaves out
    // The stream's first min(size, previewBytes) bytes when a preview was
    // asked for; previewRead is how many were actually delivered.
    const uint8_t* preview = nullptr;
    uint32_t previewRead = 0;
};
constexpr uint32_t kMaxPreviewBytes = 100;
// Returns false to end the walk after this stream.
using NamedStreamVisitor = std::function<bool(const NamedStream&)>;

// Walks the sequence once and calls `visit` for every named data stream,
// excluded ones included, in sequence order. With `previewBytes` (at most
// kMaxPreviewBytes) the first bytes of each stream are read; otherwise every
// stream's data is skipped unread. When `stop` is set the walk ends before
// the next stream.
void WalkNamedStreams(IBackupSequence& seq, uint32_t previewBytes, const NamedStreamVisitor& visit,
                      const std::atomic<bool>* stop = nullptr);

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
