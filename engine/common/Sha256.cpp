#include "Sha256.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kBlockBytes = 64;

const uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

// The round constants, four per group of rounds.
alignas(16) const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// Runs the compression function over whole 64-byte blocks with the SHA
// instructions. The state is kept as the instructions want it: A, B, E, F in
// one register and C, D, G, H in the other. The stack is aligned on entry:
// 32-bit Windows keeps it at 4 bytes, and the registers' spills need 16.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer)) void CompressWithShaInstructions(
    uint32_t state[8], const unsigned char* data, size_t blocks)
{
    const __m128i bigEndian = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    const __m128i badc = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(badc, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, badc, 0xF0);

    for (; blocks > 0; --blocks, data += kBlockBytes) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        // Message words 4g .. 4g+3 of group g; each group of four rounds needs
        // the groups 1 to 4 before it, kept in turn in these four registers.
        __m128i words[4];
        for (int group = 0; group < 16; ++group) {
            __m128i& w = words[group & 3];
            if (group < 4) {
                w = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * group)), bigEndian);
            } else {
                const __m128i& previous = words[(group + 3) & 3];
                const __m128i shifted = _mm_alignr_epi8(previous, words[(group + 2) & 3], 4);
                w = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(w, words[(group + 1) & 3]), shifted),
                                         previous);
            }
            __m128i k = _mm_add_epi32(w, _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants) + group));
            // Two rounds each; the registers swap roles and are back in theirs after both.
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, k);
            k = _mm_shuffle_epi32(k, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, k);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), hgfe);
}

}  // namespace

bool Sha256::ProcessorHasShaInstructions()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid_max(0, nullptr) < 7 || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        return false;
    }
    const bool ssse3 = (ecx & bit_SSSE3) != 0;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return ssse3 && sse41 && (ebx & bit_SHA) != 0;
}

Sha256::Sha256(Engine engine)
    : own_(engine == Engine::Fastest && ProcessorHasShaInstructions())
{
    if (!own_) {
        // The system's default provider of this type does SHA-256 from XP SP3
        // on; its name differs between versions, so none is given.
        AcquireVerifyContext(provider_, PROV_RSA_AES);
    }
}

bool Sha256::Start()
{
    if (own_) {
        std::memcpy(state_, kInitialState, sizeof(state_));
        pendingSize_ = 0;
        length_ = 0;
        started_ = true;
        return true;
    }
    return provider_.IsValid() && CryptCreateHash(provider_.Get(), CALG_SHA_256, 0, 0, hash_.Receive()) != FALSE;
}

bool Sha256::Add(const void* data, size_t size)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    if (own_) {
        if (!started_) {
            return false;
        }
        length_ += size;
        if (pendingSize_ > 0) {
            const size_t taken = std::min(size, kBlockBytes - pendingSize_);
            std::memcpy(pending_ + pendingSize_, bytes, taken);
            pendingSize_ += taken;
            bytes += taken;
            size -= taken;
            if (pendingSize_ < kBlockBytes) {
                return true;
            }
            CompressWithShaInstructions(state_, pending_, 1);
            pendingSize_ = 0;
        }
        CompressWithShaInstructions(state_, bytes, size / kBlockBytes);
        pendingSize_ = size % kBlockBytes;
        std::memcpy(pending_, bytes + size - pendingSize_, pendingSize_);
        return true;
    }
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
    if (own_) {
        if (!started_) {
            return false;
        }
        // The padding: a one bit, zeros, and the length in bits, big-endian.
        unsigned char tail[2 * kBlockBytes] = {};
        std::memcpy(tail, pending_, pendingSize_);
        tail[pendingSize_] = 0x80;
        const size_t tailSize = pendingSize_ + 9 <= kBlockBytes ? kBlockBytes : 2 * kBlockBytes;
        const uint64_t bits = length_ * 8;
        for (int i = 0; i < 8; ++i) {
            tail[tailSize - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
        }
        CompressWithShaInstructions(state_, tail, tailSize / kBlockBytes);
        for (size_t i = 0; i < 8; ++i) {
            for (size_t b = 0; b < 4; ++b) {
                digest[4 * i + b] = static_cast<unsigned char>(state_[i] >> (24 - 8 * b));
            }
        }
        started_ = false;
        return true;
    }
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

bool Sha256::FinishHex(std::wstring& hex)
{
    Sha256Digest digest;
    if (!Finish(digest)) {
        return false;
    }
    const std::string text = HexOf(digest);
    hex.assign(text.begin(), text.end());
    return true;
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
