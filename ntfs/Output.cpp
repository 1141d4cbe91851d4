#include "Output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Records.h"
#include "Text.h"

namespace vestrel::ntfs {

namespace {

bool AllZero(const char* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (data[i] != 0) return false;
    return true;
}

class PosixNewFile : public report::NewFile {
public:
    PosixNewFile(int dir, int fd, std::string name) : dir_(dir), fd_(fd), name_(std::move(name)), out_(fd, true) {}
    ~PosixNewFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Write(const char* data, size_t size, std::string* error) override { return out_.Put(data, size, error); }
    void Discard() override {
        if (fd_ < 0) return;
        ::close(fd_);
        fd_ = -1;
        ::unlinkat(dir_, name_.c_str(), 0);
    }

private:
    int dir_;
    int fd_;
    std::string name_;
    StreamOut out_;
};

}  // namespace

bool StreamOut::Put(const char* data, size_t size, std::string* error) {
    if (holes_ && AllZero(data, size)) {
        position_ += size;
        if (::ftruncate(fd_, off_t(position_)) != 0 || ::lseek(fd_, off_t(position_), SEEK_SET) < 0) {
            *error = std::string("write error (") + std::strerror(errno) + ")";
            return false;
        }
        return true;
    }
    for (size_t done = 0; done < size;) {
        const ssize_t put = ::write(fd_, data + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            *error = std::string("write error (") + std::strerror(errno) + ")";
            return false;
        }
        done += size_t(put);
    }
    position_ += size;
    return true;
}

report::TargetDirectory::Created PosixTargetDirectory::CreateNew(const std::u16string& name) {
    Created created;
    const std::string fitted = FitFileName(report::ToUtf8(name));
    const int fd = ::openat(dir_, fitted.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        created.status = errno == EEXIST ? Created::Status::kExists : Created::Status::kFailed;
        created.why = std::strerror(errno);
        return created;
    }
    created.status = Created::Status::kCreated;
    created.file = std::make_unique<PosixNewFile>(dir_, fd, fitted);
    created.name = report::FromUtf8(fitted);
    return created;
}

}  // namespace vestrel::ntfs
