// SHA-256 digests and HMAC-SHA-256. CryptoAPI has SHA-256 on every Windows
// from XP SP3 on; where the processor has the SHA instructions, a block
// function of our own uses them instead, several times faster than the
// system's code on some systems (the scan of a game folder hashes every file).
#pragma once

#include "CryptHandles.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Sha256Digest = std::array<unsigned char, 32>;

// One digest at a time; the object keeps its provider for the next one.
class Sha256 {
public:
    // Which code computes the digests: the fastest this processor allows, or
    // CryptoAPI's whatever the processor (the tests compare the two).
    enum class Engine { Fastest, System };

    explicit Sha256(Engine engine = Engine::Fastest);
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Starts a new digest; false when the system can't make one.
    bool Start();
    bool Add(const void* data, size_t size);
    // Ends the digest begun by Start.
    bool Finish(Sha256Digest& digest);
    // The same, as lowercase hex digits, the way manifests and configurations write them.
    bool FinishHex(std::wstring& hex);

    // Whether this processor has the SHA instructions that Engine::Fastest uses.
    static bool ProcessorHasShaInstructions();

private:
    bool own_;  // our block function, else CryptoAPI
    CryptProvider provider_;
    CryptHash hash_;
    // Our block function's state.
    uint32_t state_[8] = {};
    unsigned char pending_[64] = {};
    size_t pendingSize_ = 0;
    uint64_t length_ = 0;
    bool started_ = false;
};

// HMAC-SHA-256 (RFC 2104) with one key.
class HmacSha256 {
public:
    explicit HmacSha256(const std::string& key);
    bool Compute(const std::string& message, Sha256Digest& mac);

private:
    Sha256 sha_;
    std::string innerPad_;
    std::string outerPad_;
};

// The digest as lowercase hex digits.
std::string HexOf(const Sha256Digest& digest);
