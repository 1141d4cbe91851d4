// Where vestrel-ntfs writes stream bytes: standard output, or new files in
// the extraction directory (the POSIX side of report/NewFiles.h).
#pragma once
#include <cstdint>
#include <string>

#include "NewFiles.h"

namespace vestrel::ntfs {

// Writes pieces of one stream to `fd` in order. With `holes` (a new regular
// file) runs of zeros are skipped rather than written, so a sparse stream
// stays sparse on disk.
class StreamOut {
public:
    StreamOut(int fd, bool holes) : fd_(fd), holes_(holes) {}
    bool Put(const char* data, size_t size, std::string* error);

private:
    int fd_;
    bool holes_;
    uint64_t position_ = 0;
};

// The extraction directory, open as `dirFd` (not owned): each file is
// created with O_EXCL and O_NOFOLLOW, so nothing there, not even a link
// someone left, is ever opened for writing; names are fitted to Linux's
// 255 bytes. The files keep holes.
class PosixTargetDirectory : public report::TargetDirectory {
public:
    explicit PosixTargetDirectory(int dirFd) : dir_(dirFd) {}
    Created CreateNew(const std::u16string& name) override;

private:
    int dir_;
};

}  // namespace vestrel::ntfs
