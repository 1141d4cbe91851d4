#include "SourceShadow.h"

#include <libvshadow.h>

#include "LibyalError.h"
#include "SourceBfio.h"

namespace vestrel::ntfs {
namespace {

std::string TakeError(libvshadow_error_t** error) {
    return TakeLibyalError(error, libvshadow_error_sprint, libvshadow_error_free);
}

// The library's volume, kept open while any of its stores is read.
struct Catalog {
    std::unique_ptr<BfioHandle> io;
    libvshadow_volume_t* volume = nullptr;
    ~Catalog() {
        if (volume != nullptr) {
            libvshadow_volume_close(volume, nullptr);
            libvshadow_volume_free(&volume, nullptr);
        }
    }
};

class StoreSource : public Source {
public:
    StoreSource(std::string path, std::shared_ptr<Catalog> catalog, libvshadow_store_t* store, uint64_t size,
                unsigned number)
        : Source(std::move(path)), catalog_(std::move(catalog)), store_(store), size_(size), number_(number) {}
    ~StoreSource() override { libvshadow_store_free(&store_, nullptr); }
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > size_ || count > size_ - offset) return false;
        auto* out = static_cast<uint8_t*>(buffer);
        while (count > 0) {
            libvshadow_error_t* error = nullptr;
            const ssize_t got = libvshadow_store_read_buffer_at_offset(store_, out, count, off64_t(offset), &error);
            if (error != nullptr) libvshadow_error_free(&error);
            if (got <= 0) return false;
            out += got;
            offset += uint64_t(got);
            count -= size_t(got);
        }
        return true;
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override { return "shadow copy store " + std::to_string(number_) + ", " + HumanSize(size_); }
    SourceKind kind() const override { return SourceKind::Shadow; }

private:
    std::shared_ptr<Catalog> catalog_;
    libvshadow_store_t* store_;
    uint64_t size_;
    unsigned number_;
};

}  // namespace

std::string SnapshotText(const ShadowStore& store) {
    return "vss" + std::to_string(store.number) + " " + FiletimeIso(store.created);
}

bool OpenShadowStores(const Source& volume, std::vector<ShadowStore>* stores, std::string* error) {
    stores->clear();
    auto catalog = std::make_shared<Catalog>();
    catalog->io = BfioHandle::Make(volume, error);
    if (!catalog->io) return false;
    libvshadow_error_t* libError = nullptr;
    const int present = libvshadow_check_volume_signature_file_io_handle(catalog->io->get(), &libError);
    if (present != 1) {
        if (libError != nullptr) libvshadow_error_free(&libError);
        return true;
    }
    int count = 0;
    if (libvshadow_volume_initialize(&catalog->volume, &libError) != 1 ||
        libvshadow_volume_open_file_io_handle(catalog->volume, catalog->io->get(), LIBVSHADOW_OPEN_READ, &libError) != 1 ||
        libvshadow_volume_get_number_of_stores(catalog->volume, &count, &libError) != 1) {
        *error = "the shadow copy catalog cannot be read (" + TakeError(&libError) + ")";
        return false;
    }
    for (int i = 0; i < count; ++i) {
        libvshadow_store_t* store = nullptr;
        size64_t size = 0;
        uint64_t created = 0;
        if (libvshadow_volume_get_store(catalog->volume, i, &store, &libError) != 1 ||
            libvshadow_store_get_volume_size(store, &size, &libError) != 1 ||
            libvshadow_store_get_creation_time(store, &created, &libError) != 1) {
            *error = "shadow copy store " + std::to_string(i + 1) + " cannot be read (" + TakeError(&libError) + ")";
            if (store != nullptr) libvshadow_store_free(&store, nullptr);
            stores->clear();
            return false;
        }
        ShadowStore s;
        s.number = unsigned(i + 1);
        s.created = created;
        s.source = std::make_unique<StoreSource>(volume.path(), catalog, store, uint64_t(size), s.number);
        stores->push_back(std::move(s));
    }
    return true;
}

}  // namespace vestrel::ntfs
