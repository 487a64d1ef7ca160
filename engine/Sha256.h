// SHA-256 digests and HMAC-SHA-256 through CryptoAPI, which has SHA-256 on
// every Windows from XP SP3 on.
#pragma once

#include "CryptHandles.h"

#include <array>
#include <cstddef>
#include <string>

using Sha256Digest = std::array<unsigned char, 32>;

// One digest at a time; the object keeps its provider for the next one.
class Sha256 {
public:
    Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Starts a new digest; false when the system can't make one.
    bool Start();
    bool Add(const void* data, size_t size);
    // Ends the digest begun by Start.
    bool Finish(Sha256Digest& digest);

private:
    CryptProvider provider_;
    CryptHash hash_;
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
