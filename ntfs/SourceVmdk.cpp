// VMware disks through libvmdk: a monolithic sparse file (descriptor inside),
// or a descriptor file naming its extents (split sparse or flat). Given one
// extent of a split set, its descriptor is looked for beside it. Extents are
// checked before the library opens them, so a missing one is named.
#include <dirent.h>
#include <fcntl.h>
#include <libvmdk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Bytes.h"
#include "LibyalError.h"
#include "Source.h"

namespace vestrel::ntfs {
namespace {

// Descriptors are a few hundred bytes; anything past this is not one.
constexpr size_t kMaxDescriptor = 1 << 20;

std::string TakeError(libvmdk_error_t** error) { return TakeLibyalError(error, libvmdk_error_sprint, libvmdk_error_free); }

class VmdkSource : public Source {
public:
    VmdkSource(std::string path, libvmdk_handle_t* handle, uint64_t size, size_t extents)
        : Source(std::move(path)), handle_(handle), size_(size), extents_(extents) {}
    ~VmdkSource() override {
        libvmdk_handle_close(handle_, nullptr);
        libvmdk_handle_free(&handle_, nullptr);
    }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > size_ || count > size_ - offset) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        while (count > 0) {
            libvmdk_error_t* error = nullptr;
            const ssize_t got = libvmdk_handle_read_buffer_at_offset(handle_, out, count, off64_t(offset), &error);
            if (error != nullptr) libvmdk_error_free(&error);
            if (got <= 0) return false;
            out += got;
            offset += uint64_t(got);
            count -= size_t(got);
        }
        return true;
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override {
        return "VMDK (" + std::to_string(extents_) + " extent" + (extents_ == 1 ? "" : "s") + "), " + HumanSize(size_);
    }
    SourceKind kind() const override { return SourceKind::VmdkText; }

private:
    libvmdk_handle_t* handle_;
    uint64_t size_;
    size_t extents_;
};

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ReadBytes(const std::string& path, uint64_t offset, size_t count, std::string* out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out->assign(count, '\0');
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, &(*out)[done], count - done, off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += size_t(got);
    }
    ::close(fd);
    out->resize(done);
    return true;
}

// The descriptor text of `path`: the file itself, or the one embedded in a
// sparse extent. Empty when a sparse extent has none (one of a split set).
bool DescriptorText(const std::string& path, std::string* text, std::string* error) {
    std::string header;
    if (!ReadBytes(path, 0, 512, &header)) {
        *error = std::strerror(errno);
        return false;
    }
    if (header.compare(0, 4, "KDMV") == 0 && header.size() >= 44) {
        const auto* h = reinterpret_cast<const uint8_t*>(header.data());
        const uint64_t sector = Le64(h + 28), sectors = Le64(h + 36);
        text->clear();
        if (sector == 0 || sectors == 0) return true;
        if (sectors > kMaxDescriptor / 512 || sector > (UINT64_MAX >> 9)) {
            *error = "the sparse header's descriptor size or place is out of range";
            return false;
        }
        if (!ReadBytes(path, sector * 512, size_t(sectors * 512), text)) {
            *error = std::strerror(errno);
            return false;
        }
        text->resize(std::strlen(text->c_str()));
        return true;
    }
    if (header.compare(0, 4, "COWD") == 0) {
        text->clear();
        return true;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || uint64_t(st.st_size) > kMaxDescriptor) {
        *error = "not a VMDK descriptor (too large)";
        return false;
    }
    return ReadBytes(path, 0, size_t(st.st_size), text);
}

// The descriptor beside `extent` that names it, or "".
std::string FindDescriptorFor(const std::string& extent) {
    const std::string dir = DirectoryOf(extent), name = BaseName(extent);
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return "";
    std::string found;
    while (dirent* e = ::readdir(d)) {
        const std::string candidate = dir + "/" + e->d_name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > kMaxDescriptor) continue;
        std::string text, error;
        std::vector<VmdkExtent> extents;
        if (!ReadBytes(candidate, 0, size_t(st.st_size), &text) || !ParseVmdkDescriptor(text, &extents, &error)) continue;
        for (const VmdkExtent& x : extents)
            if (BaseName(x.file) == name) found = candidate;
        if (!found.empty()) break;
    }
    ::closedir(d);
    return found;
}

}  // namespace

std::unique_ptr<Source> OpenVmdk(const std::string& given, std::string* error) {
    std::string path = given, text, problem;
    if (!DescriptorText(path, &text, &problem)) {
        *error = path + ": " + problem;
        return nullptr;
    }
    if (text.empty()) {
        path = FindDescriptorFor(given);
        if (path.empty()) {
            *error = given + ": one extent of a split VMDK, and no descriptor naming it lies beside it";
            return nullptr;
        }
        if (!DescriptorText(path, &text, &problem)) {
            *error = path + ": " + problem;
            return nullptr;
        }
    }
    std::vector<VmdkExtent> extents;
    if (!ParseVmdkDescriptor(text, &extents, &problem)) {
        *error = path + ": " + problem;
        return nullptr;
    }
    const std::string dir = DirectoryOf(path);
    for (const VmdkExtent& x : extents) {
        if (x.file.empty()) continue;
        const std::string file = x.file[0] == '/' ? x.file : dir + "/" + x.file;
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            *error = path + ": extent " + x.file + " named by the descriptor is missing";
            return nullptr;
        }
    }
    libvmdk_error_t* libError = nullptr;
    libvmdk_handle_t* handle = nullptr;
    if (libvmdk_handle_initialize(&handle, &libError) != 1) {
        *error = path + ": " + TakeError(&libError);
        return nullptr;
    }
    if (libvmdk_handle_open(handle, path.c_str(), LIBVMDK_OPEN_READ, &libError) != 1) {
        *error = path + ": a damaged VMDK (" + TakeError(&libError) + ")";
        libvmdk_handle_free(&handle, nullptr);
        return nullptr;
    }
    size64_t size = 0;
    if (libvmdk_handle_set_extent_data_files_path(handle, dir.c_str(), dir.size(), &libError) != 1 ||
        libvmdk_handle_open_extent_data_files(handle, &libError) != 1 ||
        libvmdk_handle_get_media_size(handle, &size, &libError) != 1) {
        *error = path + ": a damaged VMDK extent (" + TakeError(&libError) + ")";
        libvmdk_handle_close(handle, nullptr);
        libvmdk_handle_free(&handle, nullptr);
        return nullptr;
    }
    return std::make_unique<VmdkSource>(given, handle, uint64_t(size), extents.size());
}

}  // namespace vestrel::ntfs
