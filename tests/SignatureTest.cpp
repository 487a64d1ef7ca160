// Signatures and digests against signatures, keys and digests made by openssl
// and Python (see support/make_keys.py).
#include "Signature.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

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

TEST_F(SignatureTest, AProgramWithoutTheResourceHasNoKey)
{
    EXPECT_EQ(BuiltInKeys(), "");
}

}  // namespace
