#include "SourceBitLocker.h"

#include <libbde.h>

#include "LibyalSource.h"
#include "SourceBfio.h"

namespace vestrel::ntfs {
namespace {

using BdeCalls = LibyalCalls<libbde_volume_initialize, libbde_volume_open_file_io_handle, LIBBDE_OPEN_READ,
                             libbde_volume_close, libbde_volume_free, libbde_volume_read_buffer_at_offset,
                             libbde_error_sprint, libbde_error_free>;

class LibbdeVolume : public BitLockerVolume {
public:
    bool Open(const Source& volume, const std::string& password, const std::string& recoveryPassword,
              std::string* error) override {
        io_ = BfioHandle::Make(volume, error);
        if (!io_) return false;
        libbde_error_t* libError = nullptr;
        if (!volume_.Initialize(&libError)) {
            *error = TakeError<BdeCalls>(&libError);
            return false;
        }
        if ((!password.empty() && libbde_volume_set_utf8_password(volume_.get(), reinterpret_cast<const uint8_t*>(password.data()),
                                                                  password.size(), &libError) != 1) ||
            (!recoveryPassword.empty() &&
             libbde_volume_set_utf8_recovery_password(volume_.get(), reinterpret_cast<const uint8_t*>(recoveryPassword.data()),
                                                      recoveryPassword.size(), &libError) != 1)) {
            *error = "the key is not accepted (" + TakeError<BdeCalls>(&libError) + ")";
            return false;
        }
        if (!volume_.Open(&libError, io_->get())) {
            *error = "a damaged BitLocker volume (" + TakeError<BdeCalls>(&libError) + ")";
            return false;
        }
        size64_t size = 0;
        if (libbde_volume_get_size(volume_.get(), &size, &libError) == 1) size_ = uint64_t(size);
        else TakeError<BdeCalls>(&libError);
        return true;
    }
    bool Locked() const override { return !volume_.open() || libbde_volume_is_locked(volume_.get(), nullptr) != 0; }
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, void* buffer, size_t count) override { return volume_.ReadAt(offset, buffer, count); }

private:
    // Declared after the I/O handle it reads through, so it goes first.
    std::unique_ptr<BfioHandle> io_;
    LibyalHandle<BdeCalls> volume_;
    uint64_t size_ = 0;
};

class BitLockerSource : public Source {
public:
    BitLockerSource(std::string path, std::unique_ptr<BitLockerVolume> library)
        : Source(std::move(path)), library_(std::move(library)), size_(library_->Size()) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t count) const override {
        if (offset > size_ || count > size_ - offset) return false;
        return library_->Read(offset, buffer, count);
    }
    uint64_t size() const override { return size_; }
    std::string Describe() const override { return "BitLocker volume (unlocked), " + HumanSize(size_); }
    SourceKind kind() const override { return SourceKind::BitLocker; }

private:
    std::unique_ptr<BitLockerVolume> library_;
    uint64_t size_;
};

}  // namespace

std::unique_ptr<BitLockerVolume> MakeLibbdeVolume() { return std::make_unique<LibbdeVolume>(); }

bool IsRecoveryPasswordShape(const std::string& text) {
    if (text.size() != 8 * 6 + 7) return false;
    for (size_t group = 0; group < 8; ++group) {
        const size_t at = group * 7;
        if (group > 0 && text[at - 1] != '-') return false;
        unsigned value = 0;
        for (size_t i = at; i < at + 6; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            value = value * 10 + unsigned(text[i] - '0');
        }
        // Each group is 11 times a 16-bit part of the key.
        if (value % 11 != 0 || value >= 720896) return false;
    }
    return true;
}

std::unique_ptr<Source> OpenBitLocker(const Source& volume, const BitLockerKeys& keys,
                                      std::unique_ptr<BitLockerVolume> library, std::string* error) {
    const std::string prefix = volume.path() + ": ";
    if (keys.password.empty() && keys.recoveryPassword.empty()) {
        *error = prefix + "a BitLocker volume; to read it give --recovery-password (48 digits) or --password";
        return nullptr;
    }
    if (!keys.recoveryPassword.empty() && !IsRecoveryPasswordShape(keys.recoveryPassword)) {
        *error = prefix + "a recovery password is eight groups of six digits separated by hyphens, "
                          "each a multiple of 11 (as BitLocker shows it)";
        return nullptr;
    }
    std::string detail;
    if (!library->Open(volume, keys.password, keys.recoveryPassword, &detail)) {
        *error = prefix + "BitLocker: " + detail;
        return nullptr;
    }
    if (library->Locked()) {
        *error = prefix + "the BitLocker volume stays locked: the " +
                 (keys.recoveryPassword.empty() ? "password" : "recovery password") + " given does not unlock it";
        return nullptr;
    }
    if (library->Size() == 0) {
        *error = prefix + "the unlocked BitLocker volume reports no size";
        return nullptr;
    }
    return std::make_unique<BitLockerSource>(volume.path(), std::move(library));
}

}  // namespace vestrel::ntfs
