#include "Hash.h"

#include <algorithm>

namespace vestrel::report {

const char* HashName(HashAlgorithm algorithm) {
    switch (algorithm) {
        case HashAlgorithm::Md5: return "md5";
        case HashAlgorithm::Sha1: return "sha1";
        case HashAlgorithm::Sha256: return "sha256";
    }
    return "";
}

bool ParseHashList(const std::string& text, std::vector<HashAlgorithm>* out, std::string* bad) {
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string word = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        HashAlgorithm a;
        if (word == "md5") a = HashAlgorithm::Md5;
        else if (word == "sha1") a = HashAlgorithm::Sha1;
        else if (word == "sha256") a = HashAlgorithm::Sha256;
        else {
            *bad = word;
            return false;
        }
        if (std::find(out->begin(), out->end(), a) == out->end()) out->push_back(a);
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

std::string ToHex(const unsigned char* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 15]);
    }
    return out;
}

std::string HexDigestOf(HashAlgorithm algorithm, const std::string& bytes) {
    std::unique_ptr<Hasher> h = Hasher::Make(algorithm);
    if (!h) return {};
    h->Update(bytes.data(), bytes.size());
    return h->HexDigest();
}

}  // namespace vestrel::report
