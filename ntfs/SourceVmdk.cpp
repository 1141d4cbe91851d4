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
#include "LibyalSource.h"
#include "ReadFully.h"

namespace vestrel::ntfs {
namespace {

// Descriptors are a few hundred bytes; anything past this is not one.
constexpr size_t kMaxDescriptor = 1 << 20;

using VmdkCalls = LibyalCalls<libvmdk_handle_initialize, libvmdk_handle_open, LIBVMDK_OPEN_READ, libvmdk_handle_close,
                              libvmdk_handle_free, libvmdk_handle_read_buffer_at_offset, libvmdk_error_sprint,
                              libvmdk_error_free>;

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
    out->resize(PreadFully(fd, out->data(), count, offset));
    ::close(fd);
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
    LibyalHandle<VmdkCalls> handle;
    if (!handle.OpenFile(path, "a damaged VMDK", error)) return nullptr;
    libvmdk_error_t* libError = nullptr;
    size64_t size = 0;
    if (libvmdk_handle_set_extent_data_files_path(handle.get(), dir.c_str(), dir.size(), &libError) != 1 ||
        libvmdk_handle_open_extent_data_files(handle.get(), &libError) != 1 ||
        libvmdk_handle_get_media_size(handle.get(), &size, &libError) != 1) {
        *error = path + ": a damaged VMDK extent (" + TakeError<VmdkCalls>(&libError) + ")";
        return nullptr;
    }
    const size_t count = extents.size();
    return std::make_unique<LibyalSource<VmdkCalls>>(given, std::move(handle), uint64_t(size), SourceKind::VmdkText,
                                                     "VMDK (" + std::to_string(count) + " extent" + (count == 1 ? "" : "s") + ")");
}

}  // namespace vestrel::ntfs
