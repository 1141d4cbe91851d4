// What every container read through a libyal library does alike: a handle
// made and opened read-only, read at offsets until a request is whole, closed
// and freed, and the library's error chain turned into one line. The
// templates take the library's calls as the static members of `Calls`, made
// from its functions by
//   LibyalCalls<initialize, open, read-only access flag, close, free,
//               read at an offset, error sprint, error free>
// or, for a handle the library hands out already open (a shadow copy store),
// which is only read and freed, by
//   LibyalHandedOutCalls<free, read at an offset, error sprint, error free>.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "LibyalError.h"
#include "ReadFully.h"
#include "Source.h"

namespace vestrel::ntfs {

// The handle and error types, from the free call: int free(Handle**, Error**).
template <typename Free>
struct LibyalTypes;
template <typename H, typename E>
struct LibyalTypes<int (*)(H**, E**)> {
    using Handle = H;
    using Error = E;
};

template <auto Free, auto Read, auto ErrorSprint, auto ErrorFree>
struct LibyalHandedOutCalls : LibyalTypes<decltype(Free)> {
    static constexpr auto free = Free;
    static constexpr auto read = Read;
    static constexpr auto errorSprint = ErrorSprint;
    static constexpr auto errorFree = ErrorFree;
};

template <auto Initialize, auto Open, int OpenRead, auto Close, auto Free, auto Read, auto ErrorSprint, auto ErrorFree>
struct LibyalCalls : LibyalHandedOutCalls<Free, Read, ErrorSprint, ErrorFree> {
    static constexpr auto initialize = Initialize;
    static constexpr auto open = Open;
    static constexpr int openRead = OpenRead;
    static constexpr auto close = Close;
};

template <typename Calls>
std::string TakeError(typename Calls::Error** error) {
    return TakeLibyalError(error, Calls::errorSprint, Calls::errorFree);
}

// Exactly `count` bytes at `offset`, or false. The error of a failed read is
// dropped: callers only need to know that the bytes did not come.
template <typename Calls>
bool ReadLibyal(typename Calls::Handle* handle, uint64_t offset, void* buffer, size_t count) {
    const auto read = [handle](uint8_t* out, size_t want, uint64_t at) {
        typename Calls::Error* error = nullptr;
        const ssize_t got = Calls::read(handle, out, want, off64_t(at), &error);
        if (error != nullptr) Calls::errorFree(&error);
        return got;
    };
    return ReadFully(read, buffer, count, offset) == count;
}

template <typename Calls, typename = void>
struct LibyalHasClose : std::false_type {};
template <typename Calls>
struct LibyalHasClose<Calls, std::void_t<decltype(Calls::close)>> : std::true_type {};

// One handle, owned: closed when it was opened here, then freed.
template <typename Calls>
class LibyalHandle {
public:
    using Handle = typename Calls::Handle;
    using Error = typename Calls::Error;

    LibyalHandle() = default;
    // A handle the library handed out: freed, never closed here.
    explicit LibyalHandle(Handle* handedOut) : handle_(handedOut) {}
    LibyalHandle(LibyalHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)), open_(std::exchange(other.open_, false)) {}
    LibyalHandle& operator=(LibyalHandle&&) = delete;
    ~LibyalHandle() {
        if (handle_ == nullptr) return;
        if constexpr (LibyalHasClose<Calls>::value) {
            if (open_) Calls::close(handle_, nullptr);
        }
        Calls::free(&handle_, nullptr);
    }

    Handle* get() const { return handle_; }
    bool open() const { return open_; }

    bool Initialize(Error** error) { return Calls::initialize(&handle_, error) == 1; }
    // The library's open call with its read-only flag; `args` are what that
    // call takes between the handle and the flags (a path, a set of names and
    // their count, an I/O handle).
    template <typename... Args>
    bool Open(Error** error, Args&&... args) {
        open_ = Calls::open(handle_, std::forward<Args>(args)..., Calls::openRead, error) == 1;
        return open_;
    }
    // Initialize, then open the file `path`. False with `error` set to
    // "PATH: <the library's words>" when no handle could be made, or to
    // "PATH: <damaged> (<the library's words>)" when `path` does not open.
    bool OpenFile(const std::string& path, const std::string& damaged, std::string* error) {
        Error* libError = nullptr;
        if (!Initialize(&libError)) {
            *error = path + ": " + TakeError<Calls>(&libError);
            return false;
        }
        if (!Open(&libError, path.c_str())) {
            *error = path + ": " + damaged + " (" + TakeError<Calls>(&libError) + ")";
            return false;
        }
        return true;
    }

    bool ReadAt(uint64_t offset, void* buffer, size_t count) const {
        return ReadLibyal<Calls>(handle_, offset, buffer, count);
    }

private:
    Handle* handle_ = nullptr;
    bool open_ = false;
};

// A disk or volume read through one open handle. `what` says what it is made
// of ("QCOW3", "VMDK (2 extents)"); the description adds the size.
template <typename Calls>
class LibyalSource final : public Source {
public:
    // `under` is what the handle reads through (a shadow copy store's
    // catalog): kept until the handle is freed.
    LibyalSource(std::string path, LibyalHandle<Calls> handle, uint64_t size, SourceKind kind, std::string what,
                 std::shared_ptr<const void> under = nullptr)
        : Source(std::move(path)), under_(std::move(under)), handle_(std::move(handle)), size_(size), kind_(kind),
          what_(std::move(what)) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > size_ || count > size_ - offset) return false;
        return handle_.ReadAt(offset, buffer, count);
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override { return what_ + ", " + HumanSize(size_); }
    SourceKind kind() const override { return kind_; }

private:
    // Declared before the handle, so it is released after it.
    std::shared_ptr<const void> under_;
    LibyalHandle<Calls> handle_;
    uint64_t size_;
    SourceKind kind_;
    std::string what_;
};

}  // namespace vestrel::ntfs
