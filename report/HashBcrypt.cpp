// Digests through CNG (Windows builds). Hash objects are created with a
// null object buffer, which CNG allocates itself (Windows 7 and later; see
// "BCryptCreateHash function" on Microsoft Learn).
#include <windows.h>
#include <bcrypt.h>

#include "Hash.h"

namespace vestrel::report {
namespace {

class BcryptHasher : public Hasher {
public:
    BcryptHasher(BCRYPT_ALG_HANDLE alg, BCRYPT_HASH_HANDLE hash, ULONG size) : alg_(alg), hash_(hash), size_(size) {}
    ~BcryptHasher() override {
        if (hash_ != nullptr) BCryptDestroyHash(hash_);
        BCryptCloseAlgorithmProvider(alg_, 0);
    }
    void Update(const void* data, size_t size) override {
        // BCryptHashData takes a ULONG count: feed larger buffers in pieces.
        const auto* p = static_cast<const unsigned char*>(data);
        while (size > 0 && ok_) {
            const ULONG n = ULONG(size > 0x40000000u ? 0x40000000u : size);
            ok_ = BCryptHashData(hash_, const_cast<PUCHAR>(p), n, 0) >= 0;
            p += n;
            size -= n;
        }
    }
    std::string HexDigest() override {
        unsigned char digest[64];
        if (!ok_ || size_ > sizeof digest || BCryptFinishHash(hash_, digest, size_, 0) < 0) return {};
        return ToHex(digest, size_);
    }

private:
    BCRYPT_ALG_HANDLE alg_;
    BCRYPT_HASH_HANDLE hash_;
    ULONG size_;
    bool ok_ = true;
};

}  // namespace

std::unique_ptr<Hasher> Hasher::Make(HashAlgorithm algorithm) {
    const wchar_t* id = algorithm == HashAlgorithm::Md5    ? BCRYPT_MD5_ALGORITHM
                        : algorithm == HashAlgorithm::Sha1 ? BCRYPT_SHA1_ALGORITHM
                                                           : BCRYPT_SHA256_ALGORITHM;
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (BCryptOpenAlgorithmProvider(&alg, id, nullptr, 0) < 0) return nullptr;
    ULONG size = 0, got = 0;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptGetProperty(alg, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&size), sizeof size, &got, 0) < 0 ||
        BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) < 0) {
        BCryptCloseAlgorithmProvider(alg, 0);
        return nullptr;
    }
    return std::make_unique<BcryptHasher>(alg, hash, size);
}

}  // namespace vestrel::report
