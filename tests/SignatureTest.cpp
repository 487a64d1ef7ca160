// Signatures and digests against signatures, keys and digests made by openssl
// and Python (see support/make_keys.py).
#include "Sha256.h"
#include "Signature.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::wstring KeyFile(const std::wstring& name) { return std::wstring(VNK_TEST_DATA) + L"\\keys\\" + name; }

std::string PublicKey(const std::wstring& name) { return ReadAll(KeyFile(name + L".pub.pem")); }

std::wstring Signature(const std::wstring& name) { return Widen(ReadAll(KeyFile(name))); }

class SignatureTest : public ::testing::Test {
protected:
    bool Verify(const std::wstring& file, const std::wstring& signature, const std::string& key)
    {
        return VerifySignature(ReadAll(file), file, signature, key);
    }
    const std::wstring sample = KeyFile(L"sample.bin");
};

TEST_F(SignatureTest, OpensslSignaturesVerifyAt2048And4096Bits)
{
    for (const wchar_t* key : {L"rsa2048", L"rsa4096"}) {
        SCOPED_TRACE(Narrow(key));
        const std::string pem = PublicKey(key);
        ASSERT_FALSE(pem.empty());
        EXPECT_TRUE(Verify(sample, Signature(std::wstring(L"sample.") + key + L".sig"), pem));
    }
}

TEST_F(SignatureTest, ASignatureByAnotherKeyIsRefused)
{
    EXPECT_FALSE(Verify(sample, Signature(L"sample.other.sig"), PublicKey(L"rsa2048")));
    EXPECT_FALSE(Verify(sample, Signature(L"sample.rsa4096.sig"), PublicKey(L"rsa2048")))
        << "a signature of another size";
}

TEST_F(SignatureTest, OneChangedByteInThePackageOrTheSignatureIsRefused)
{
    ScratchFolder folder;
    std::string bytes = ReadAll(sample);
    const std::string pem = PublicKey(L"rsa2048");
    const std::wstring signature = Signature(L"sample.rsa2048.sig");
    for (size_t at : {size_t(0), bytes.size() / 2, bytes.size() - 1}) {
        std::string changed = bytes;
        changed[at] ^= 0x01;
        ASSERT_TRUE(WriteAll(folder / L"changed.bin", changed));
        EXPECT_FALSE(Verify(folder / L"changed.bin", signature, pem)) << "byte " << at;
    }
    ASSERT_TRUE(WriteAll(folder / L"longer.bin", bytes + "x"));
    EXPECT_FALSE(Verify(folder / L"longer.bin", signature, pem));

    // The first character, and the first of the last group (the one after it
    // holds padding bits as well), carry the signature's two ends.
    ASSERT_EQ(signature.substr(signature.size() - 2), L"==") << "256 bytes end in one byte and two pads";
    for (size_t at : {size_t(0), signature.size() - 4}) {
        std::wstring changed = signature;
        changed[at] = changed[at] == L'A' ? L'B' : L'A';
        EXPECT_FALSE(Verify(sample, changed, pem)) << "character " << at;
    }
}

TEST_F(SignatureTest, MalformedAndEmptySignaturesAreRefused)
{
    const std::string pem = PublicKey(L"rsa2048");
    const std::wstring good = Signature(L"sample.rsa2048.sig");
    for (const std::wstring& bad : {std::wstring(), std::wstring(L"!!!! not base64 !!!!"), std::wstring(L"AAAA"),
                                    good.substr(0, good.size() / 2), good + L"AAAA", L" " + good,
                                    good.substr(0, 100) + L"\r\n" + good.substr(100)}) {
        EXPECT_FALSE(Verify(sample, bad, pem)) << Narrow(bad);
    }
}

TEST_F(SignatureTest, AMissingPackageOrAnUnusableKeyIsRefused)
{
    const std::wstring signature = Signature(L"sample.rsa2048.sig");
    EXPECT_FALSE(Verify(KeyFile(L"no-such-file.bin"), signature, PublicKey(L"rsa2048")));
    EXPECT_FALSE(Verify(sample, signature, ""));
    EXPECT_FALSE(Verify(sample, signature, "-----BEGIN PUBLIC KEY-----\nnot a key\n-----END PUBLIC KEY-----\n"));
    EXPECT_FALSE(Verify(sample, signature, ReadAll(KeyFile(L"rsa2048.pem")))) << "a private key is no public key";
}

// While the operator moves to a second key, either one's signature is good.
TEST_F(SignatureTest, TwoKeysTakeASignatureByEitherAndNoOther)
{
    const std::string both = PublicKey(L"rsa2048") + PublicKey(L"other");
    EXPECT_TRUE(Verify(sample, Signature(L"sample.rsa2048.sig"), both));
    EXPECT_TRUE(Verify(sample, Signature(L"sample.other.sig"), both));
    EXPECT_FALSE(Verify(sample, Signature(L"sample.rsa4096.sig"), both));
}

TEST_F(SignatureTest, TheDigestIsSha256InHexWithTheSize)
{
    std::wstring sha256;
    uint64_t size = 0;
    ASSERT_TRUE(FileDigest(sample, sha256, size));
    EXPECT_EQ(Narrow(sha256), ReadAll(KeyFile(L"sample.sha256")));
    EXPECT_EQ(size, ReadAll(sample).size());
    EXPECT_FALSE(FileDigest(KeyFile(L"no-such-file.bin"), sha256, size));
}

// Our SHA-256 on the processor's SHA instructions gives what CryptoAPI gives,
// for every length around the block and padding edges and in pieces of any size.
TEST_F(SignatureTest, BothWaysOfSha256Agree)
{
    if (!Sha256::ProcessorHasShaInstructions()) {
        GTEST_SKIP() << "SKIPPED: this processor has no SHA instructions; only CryptoAPI's SHA-256 is used";
    }
    Sha256 fastest(Sha256::Engine::Fastest);
    Sha256 system(Sha256::Engine::System);
    const auto digest = [](Sha256& sha, const std::string& data, size_t piece) {
        Sha256Digest value{};
        EXPECT_TRUE(sha.Start());
        for (size_t at = 0; at < data.size(); at += piece) {
            EXPECT_TRUE(sha.Add(data.data() + at, std::min(piece, data.size() - at)));
        }
        EXPECT_TRUE(sha.Finish(value));
        return HexOf(value);
    };
    EXPECT_EQ(digest(fastest, "abc", 1), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest(fastest, "", 1), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const std::string data = Pattern(300000, 5);
    for (size_t size : {size_t(1), size_t(55), size_t(56), size_t(63), size_t(64), size_t(65), size_t(119),
                        size_t(120), size_t(128), size_t(1000), data.size()}) {
        for (size_t piece : {size_t(1), size_t(7), size_t(64), size_t(65536)}) {
            const std::string part = data.substr(0, size);
            EXPECT_EQ(digest(fastest, part, piece), digest(system, part, size)) << size << " in pieces of " << piece;
        }
    }
}

TEST_F(SignatureTest, AProgramWithoutTheResourceHasNoKey)
{
    EXPECT_EQ(BuiltInKeys(), "");
}

}  // namespace
