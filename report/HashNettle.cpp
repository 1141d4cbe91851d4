// Digests through nettle (Linux builds).
#include <nettle/md5.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include "Hash.h"

namespace vestrel::report {
namespace {

template <typename Ctx, void (*Init)(Ctx*), void (*Feed)(Ctx*, size_t, const uint8_t*),
          void (*Digest)(Ctx*, size_t, uint8_t*), size_t Size>
class NettleHasher : public Hasher {
public:
    NettleHasher() { Init(&ctx_); }
    void Update(const void* data, size_t size) override { Feed(&ctx_, size, static_cast<const uint8_t*>(data)); }
    std::string HexDigest() override {
        uint8_t digest[Size];
        Digest(&ctx_, Size, digest);
        return ToHex(digest, Size);
    }

private:
    Ctx ctx_;
};

using Md5 = NettleHasher<md5_ctx, nettle_md5_init, nettle_md5_update, nettle_md5_digest, MD5_DIGEST_SIZE>;
using Sha1 = NettleHasher<sha1_ctx, nettle_sha1_init, nettle_sha1_update, nettle_sha1_digest, SHA1_DIGEST_SIZE>;
using Sha256 =
    NettleHasher<sha256_ctx, nettle_sha256_init, nettle_sha256_update, nettle_sha256_digest, SHA256_DIGEST_SIZE>;

}  // namespace

std::unique_ptr<Hasher> Hasher::Make(HashAlgorithm algorithm) {
    switch (algorithm) {
        case HashAlgorithm::Md5: return std::make_unique<Md5>();
        case HashAlgorithm::Sha1: return std::make_unique<Sha1>();
        case HashAlgorithm::Sha256: return std::make_unique<Sha256>();
    }
    return nullptr;
}

}  // namespace vestrel::report
