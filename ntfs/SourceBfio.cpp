#include "SourceBfio.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace vestrel::ntfs {
namespace {

BfioHandle::Io* IoOf(intptr_t* io) { return reinterpret_cast<BfioHandle::Io*>(io); }

int FreeIo(intptr_t**, libbfio_error_t**) { return 1; }

// Clones share the one position-less state: the libraries ask for a clone
// only to read elsewhere, and each read here says where.
int CloneIo(intptr_t** destination, intptr_t* source, libbfio_error_t**) {
    *destination = source;
    return 1;
}

int OpenIo(intptr_t* io, int flags, libbfio_error_t**) {
    if ((flags & LIBBFIO_ACCESS_FLAG_WRITE) != 0) return -1;
    IoOf(io)->open = true;
    IoOf(io)->position = 0;
    return 1;
}

int CloseIo(intptr_t* io, libbfio_error_t**) {
    IoOf(io)->open = false;
    return 0;
}

ssize_t ReadIo(intptr_t* io, uint8_t* buffer, size_t size, libbfio_error_t**) {
    BfioHandle::Io* d = IoOf(io);
    const uint64_t end = d->source->size();
    if (d->position >= end) return 0;
    const size_t count = size_t(std::min<uint64_t>(size, end - d->position));
    if (!d->source->ReadAt(d->position, buffer, count)) return -1;
    d->position += count;
    return ssize_t(count);
}

ssize_t WriteIo(intptr_t*, const uint8_t*, size_t, libbfio_error_t**) { return -1; }

off64_t SeekIo(intptr_t* io, off64_t offset, int whence, libbfio_error_t**) {
    BfioHandle::Io* d = IoOf(io);
    int64_t base = 0;
    if (whence == SEEK_CUR) base = int64_t(d->position);
    else if (whence == SEEK_END) base = int64_t(d->source->size());
    else if (whence != SEEK_SET) return -1;
    if (offset < 0 && -offset > base) return -1;
    d->position = uint64_t(base + offset);
    return off64_t(d->position);
}

int ExistsIo(intptr_t*, libbfio_error_t**) { return 1; }
int IsOpenIo(intptr_t* io, libbfio_error_t**) { return IoOf(io)->open ? 1 : 0; }

int SizeIo(intptr_t* io, size64_t* size, libbfio_error_t**) {
    *size = IoOf(io)->source->size();
    return 1;
}

}  // namespace

std::unique_ptr<BfioHandle> BfioHandle::Make(const Source& source, std::string* error) {
    std::unique_ptr<BfioHandle> made(new BfioHandle);
    made->io_.source = &source;
    libbfio_error_t* libError = nullptr;
    if (libbfio_handle_initialize(&made->handle_, reinterpret_cast<intptr_t*>(&made->io_), FreeIo, CloneIo, OpenIo,
                                  CloseIo, ReadIo, WriteIo, SeekIo, ExistsIo, IsOpenIo, SizeIo,
                                  LIBBFIO_FLAG_IO_HANDLE_NON_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_REFERENCE,
                                  &libError) != 1) {
        if (libError != nullptr) libbfio_error_free(&libError);
        *error = source.path() + ": out of memory";
        return nullptr;
    }
    return made;
}

BfioHandle::~BfioHandle() {
    if (handle_ != nullptr) libbfio_handle_free(&handle_, nullptr);
}

}  // namespace vestrel::ntfs
