#include "SourceShadow.h"

#include <libvshadow.h>

#include "LibyalSource.h"
#include "SourceBfio.h"

namespace vestrel::ntfs {
namespace {

// A store is handed out by the catalog's volume, open: it is only read and
// freed.
using StoreCalls = LibyalHandedOutCalls<libvshadow_store_free, libvshadow_store_read_buffer_at_offset,
                                         libvshadow_error_sprint, libvshadow_error_free>;

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
        *error = "the shadow copy catalog cannot be read (" + TakeError<StoreCalls>(&libError) + ")";
        return false;
    }
    for (int i = 0; i < count; ++i) {
        libvshadow_store_t* store = nullptr;
        size64_t size = 0;
        uint64_t created = 0;
        if (libvshadow_volume_get_store(catalog->volume, i, &store, &libError) != 1 ||
            libvshadow_store_get_volume_size(store, &size, &libError) != 1 ||
            libvshadow_store_get_creation_time(store, &created, &libError) != 1) {
            *error = "shadow copy store " + std::to_string(i + 1) + " cannot be read (" + TakeError<StoreCalls>(&libError) + ")";
            if (store != nullptr) libvshadow_store_free(&store, nullptr);
            stores->clear();
            return false;
        }
        ShadowStore s;
        s.number = unsigned(i + 1);
        s.created = created;
        s.source = std::make_unique<LibyalSource<StoreCalls>>(volume.path(), LibyalHandle<StoreCalls>(store), uint64_t(size),
                                                              SourceKind::Shadow, "shadow copy store " + std::to_string(s.number),
                                                              catalog);
        stores->push_back(std::move(s));
    }
    return true;
}

}  // namespace vestrel::ntfs
