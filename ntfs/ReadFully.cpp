#include "ReadFully.h"

#include <unistd.h>

#include <cerrno>

namespace vestrel::ntfs {

size_t PreadFully(int fd, void* buffer, size_t count, uint64_t offset) {
    return ReadFully(
        [fd](uint8_t* out, size_t want, uint64_t at) {
            for (;;) {
                const ssize_t got = ::pread(fd, out, want, off_t(at));
                if (got < 0 && errno == EINTR) continue;
                // The end is no error of the system's: say it as one.
                if (got == 0) errno = EIO;
                return got;
            }
        },
        buffer, count, offset);
}

}  // namespace vestrel::ntfs
