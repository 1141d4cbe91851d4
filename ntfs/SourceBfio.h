// A source as a libbfio handle, for the libraries that read a volume through
// one (shadow copies, BitLocker). Read-only: writes are refused.
#pragma once
#include <memory>
#include <string>

#include "Source.h"

#include <libbfio.h>

namespace vestrel::ntfs {

class BfioHandle {
public:
    // `source` must outlive the handle.
    static std::unique_ptr<BfioHandle> Make(const Source& source, std::string* error);
    ~BfioHandle();
    libbfio_handle_t* get() const { return handle_; }

    struct Io {
        const Source* source = nullptr;
        uint64_t position = 0;
        bool open = false;
    };

private:
    BfioHandle() = default;
    libbfio_handle_t* handle_ = nullptr;
    Io io_;
};

}  // namespace vestrel::ntfs
