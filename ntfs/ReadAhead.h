// Read-ahead over a source that costs processor time per byte (an E01's
// chunks are inflated as they are read). A whole-volume listing reads $MFT
// front to back; while this thread decodes one stretch of records, a second
// one inflates the next, so the listing costs about the larger of the two
// rather than their sum.
#pragma once
#include <cstddef>
#include <memory>

#include "Source.h"

namespace vestrel::ntfs {

// `inner` behind blocks of `blockBytes` (aligned to multiples of it): a read
// is served from blocks already read, and once reads come in order the next
// `depth` blocks are read ahead on a thread of their own. The inner source
// is only ever used by one thread at a time. What a read returns is what
// `inner` returns for the same range: where a whole block cannot be read
// (a damaged chunk), the range asked is read from `inner` as it is.
// At most depth + 2 blocks are held (beyond those being read).
// `helper`, when given, is the same content opened again: the thread reads
// ahead through it, and the reader, instead of waiting for that thread,
// reads the next wanted block through `inner` itself, so two blocks are
// inflated at once (a container library serialises reads on one handle).
std::unique_ptr<Source> WithReadAhead(std::unique_ptr<Source> inner, size_t blockBytes = size_t(128) << 10,
                                      unsigned depth = 16, std::unique_ptr<Source> helper = nullptr);

}  // namespace vestrel::ntfs
