// A BitLocker volume read through libbde once unlocked with a recovery
// password or a password. The library's volume sits behind an interface of
// its own so that what is done around it (keys checked, messages, reads) is
// tested without a BitLocker image, which cannot be made on Linux.
#pragma once
#include <memory>
#include <string>

#include "Source.h"

namespace vestrel::ntfs {

class BitLockerVolume {
public:
    virtual ~BitLockerVolume() = default;
    // Reads `volume` (the encrypted one; it outlives this), the keys set
    // first. False with `error` when it is not a volume the library reads.
    virtual bool Open(const Source& volume, const std::string& password, const std::string& recoveryPassword,
                      std::string* error) = 0;
    // True when no key given opened it.
    virtual bool Locked() const = 0;
    virtual uint64_t Size() const = 0;
    // Exactly `count` decrypted bytes at `offset`, or false.
    virtual bool Read(uint64_t offset, void* buffer, size_t count) = 0;
};

std::unique_ptr<BitLockerVolume> MakeLibbdeVolume();

struct BitLockerKeys {
    std::string password;
    std::string recoveryPassword;  // 48 digits in eight hyphenated groups
};

// True when `text` has the shape of a recovery password: eight groups of six
// digits separated by hyphens, each group a multiple of 11 below 720896.
bool IsRecoveryPasswordShape(const std::string& text);

// The decrypted contents of the BitLocker volume `volume` (which must outlive
// the result), read through `library`. Null with `error` saying what is
// needed or wrong: no key given, a malformed recovery password, a key that
// does not unlock it.
std::unique_ptr<Source> OpenBitLocker(const Source& volume, const BitLockerKeys& keys,
                                      std::unique_ptr<BitLockerVolume> library, std::string* error);

}  // namespace vestrel::ntfs
