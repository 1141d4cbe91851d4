// Digests of stream content, one interface over the platform's library:
// nettle on Linux, CNG (bcrypt) on Windows.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace vestrel::report {

enum class HashAlgorithm { Md5, Sha1, Sha256 };

// "md5", "sha1", "sha256".
const char* HashName(HashAlgorithm algorithm);
// A comma-separated list ("sha256,md5"); false (with the word) for an
// unknown name or an empty item. Repeats are kept once.
bool ParseHashList(const std::string& text, std::vector<HashAlgorithm>* out, std::string* bad);

class Hasher {
public:
    virtual ~Hasher() = default;
    virtual void Update(const void* data, size_t size) = 0;
    // Lower-case hex of the digest; the hasher is done after this.
    virtual std::string HexDigest() = 0;
    // Null only when the platform refuses the algorithm.
    static std::unique_ptr<Hasher> Make(HashAlgorithm algorithm);
};

// The hex digest of one buffer ("" when the platform refuses).
std::string HexDigestOf(HashAlgorithm algorithm, const std::string& bytes);

std::string ToHex(const unsigned char* data, size_t size);

}  // namespace vestrel::report
