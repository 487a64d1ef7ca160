#include "Sha256.h"

namespace {

constexpr size_t kBlockBytes = 64;

}  // namespace

Sha256::Sha256()
{
    // The system's default provider of this type does SHA-256 from XP SP3 on;
    // its name differs between versions, so none is given.
    AcquireVerifyContext(provider_, PROV_RSA_AES);
}

bool Sha256::Start()
{
    return provider_.IsValid() && CryptCreateHash(provider_.Get(), CALG_SHA_256, 0, 0, hash_.Receive()) != FALSE;
}

bool Sha256::Add(const void* data, size_t size)
{
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (size > 0) {
        const DWORD piece = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        if (!hash_.IsValid() || !CryptHashData(hash_.Get(), bytes, piece, 0)) {
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return hash_.IsValid();
}

bool Sha256::Finish(Sha256Digest& digest)
{
    DWORD size = static_cast<DWORD>(digest.size());
    const bool done = hash_.IsValid() && CryptGetHashParam(hash_.Get(), HP_HASHVAL, digest.data(), &size, 0) &&
                      size == digest.size();
    hash_.Close();
    return done;
}

HmacSha256::HmacSha256(const std::string& key)
{
    std::string block = key;
    Sha256Digest shortened;
    if (block.size() > kBlockBytes && sha_.Start() && sha_.Add(block.data(), block.size()) && sha_.Finish(shortened)) {
        block.assign(shortened.begin(), shortened.end());
    }
    block.resize(kBlockBytes, '\0');
    innerPad_ = outerPad_ = block;
    for (size_t i = 0; i < kBlockBytes; ++i) {
        innerPad_[i] = static_cast<char>(innerPad_[i] ^ 0x36);
        outerPad_[i] = static_cast<char>(outerPad_[i] ^ 0x5c);
    }
}

bool HmacSha256::Compute(const std::string& message, Sha256Digest& mac)
{
    Sha256Digest inner;
    return sha_.Start() && sha_.Add(innerPad_.data(), innerPad_.size()) && sha_.Add(message.data(), message.size()) &&
           sha_.Finish(inner) && sha_.Start() && sha_.Add(outerPad_.data(), outerPad_.size()) &&
           sha_.Add(inner.data(), inner.size()) && sha_.Finish(mac);
}

std::string HexOf(const Sha256Digest& digest)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (unsigned char b : digest) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}
