// Reads that come in parts: a file's pread and a container library's read
// at an offset deliver what they can, a read over blocks or segments stops
// at each one's end, and the caller asks again for the rest.
#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace vestrel::ntfs {

// Asks `read(out, count, offset)` (it returns the bytes it delivered) again
// for what is still missing until `count` bytes are in. Stops at an answer of
// 0 (the end), a negative one (an error) or one larger than asked (taken for
// an error too: it would run past the buffer). Returns the bytes read.
template <typename Read>
size_t ReadFully(Read read, void* buffer, size_t count, uint64_t offset) {
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t got = read(out + done, count - done, offset + done);
        if (got <= 0 || size_t(got) > count - done) break;
        done += size_t(got);
    }
    return done;
}

// Up to `count` bytes of `fd` at `offset`, read again after a short or an
// interrupted pread. Returns the bytes read; when fewer than `count`, errno
// says why (EIO when the file ended first).
size_t PreadFully(int fd, void* buffer, size_t count, uint64_t offset);

}  // namespace vestrel::ntfs
