#include "FailsWith.hpp"
#include "security/AesGcm.hpp"
#include "security/Base64Url.hpp"
#include "security/P256PrivateKey.hpp"
#include "security/Sha256.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace lumora;

namespace {

const auto hex = [](const char* text) { return QByteArray::fromHex(text); };
const auto keyOf = [](const QByteArray& bytes) { return SymmetricKey(SecretBytes(bytes)); };

// RFC 6979 A.2.5: the P-256 key pair and its deterministic SHA-256 signature of "sample".
const QByteArray rfcScalar = hex("C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721");
const QByteArray rfcPoint = hex("04"
                                "60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6"
                                "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299");
const QByteArray rfcSignature = hex("EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716"
                                    "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8");
const QByteArray p256Order = hex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");

} // namespace

TEST(Crypto, Sha256KnownAnswers)
{
    EXPECT_EQ(Sha256::hash("").toHex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(
        Sha256::hash("abc").toHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256::hash("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq").toHex(),
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Crypto, AesGcmOpensNistVectors)
{
    struct Case {
        QByteArray key, nonce, plaintext, ciphertext, tag;
    };
    const Case cases[] = {
        { QByteArray(32, 0), QByteArray(12, 0), {}, {}, hex("530f8afbc74536b9a963b4f1c4cb738b") },
        { QByteArray(32, 0), QByteArray(12, 0), QByteArray(16, 0), hex("cea7403d4d606b6e074ec5d3baf39d18"),
            hex("d0d1c8a799996bf0265b98b5d48ab919") },
        { hex("feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308"),
            hex("cafebabefacedbaddecaf888"),
            hex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255"),
            hex("522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
                "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad"),
            hex("b094dac5d93471bdec1a502270e3cc6c") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ciphertext.toHex().toStdString());
        const auto opened = AesGcm::open(keyOf(c.key), c.nonce + c.ciphertext + c.tag);
        ASSERT_TRUE(opened.has_value());
        EXPECT_EQ(*opened, c.plaintext);
    }
}

TEST(Crypto, AesGcmSealsWithFreshNoncesAndRefusesAlteredBoxes)
{
    const SymmetricKey key = keyOf(QByteArray(32, 7));
    const QByteArray plaintext = "{\"summary\":\"calm\"}";
    const QByteArray first = AesGcm::seal(key, plaintext).value();
    const QByteArray second = AesGcm::seal(key, plaintext).value();
    EXPECT_EQ(first.size(), plaintext.size() + 28);
    EXPECT_NE(first.first(12), second.first(12));
    EXPECT_EQ(AesGcm::open(key, second).value(), plaintext);

    for (qsizetype index : { qsizetype(0), qsizetype(12), first.size() - 1 }) {
        SCOPED_TRACE(index);
        QByteArray altered = first;
        altered[index] = char(altered[index] ^ 0x01);
        EXPECT_THAT(AesGcm::open(key, altered), FailsWith(CryptoError::authenticationFailed));
    }
    EXPECT_THAT(
        AesGcm::open(SymmetricKey::random256().value(), first), FailsWith(CryptoError::authenticationFailed));
    EXPECT_THAT(AesGcm::open(key, first.first(27)), FailsWith(CryptoError::invalidInput));
}

TEST(Crypto, AesGcmTakesKeysOf16To32BytesAsStored)
{
    for (qsizetype size : { 0, 15, 16, 24, 31, 32, 33 }) {
        SCOPED_TRACE(size);
        const SymmetricKey key = keyOf(QByteArray(size, 7));
        if (size == 16 || size == 24 || size == 32) {
            EXPECT_EQ(AesGcm::open(key, AesGcm::seal(key, "x").value()).value(), "x");
        } else {
            EXPECT_THAT(AesGcm::seal(key, "x"), FailsWith(CryptoError::invalidKey));
            EXPECT_THAT(AesGcm::open(key, QByteArray(40, 0)), FailsWith(CryptoError::invalidKey));
        }
    }
}

TEST(Crypto, P256KnownKeyPairAndSignature)
{
    const auto key = P256PrivateKey::fromRaw(rfcScalar);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->publicKeyX963(), rfcPoint);

    const auto publicKey = P256PublicKey::fromX963(rfcPoint);
    ASSERT_TRUE(publicKey.has_value());
    EXPECT_TRUE(publicKey->isValidSignature(rfcSignature, "sample"));
    EXPECT_FALSE(publicKey->isValidSignature(rfcSignature, "samplf"));
    EXPECT_FALSE(publicKey->isValidSignature(rfcSignature.first(63), "sample"));
    EXPECT_FALSE(publicKey->isValidSignature(QByteArray(64, 0), "sample"));

    const auto ours = key->signature("sample");
    ASSERT_TRUE(ours.has_value());
    EXPECT_TRUE(publicKey->isValidSignature(*ours, "sample"));
}

// A key and its copies check on many threads at once, each result its own signature's,
// whatever the checks before it on the same key found.
TEST(Crypto, P256KeyChecksOnManyThreadsAtOnce)
{
    const auto publicKey = P256PublicKey::fromX963(rfcPoint);
    ASSERT_TRUE(publicKey.has_value());
    const auto key = P256PrivateKey::fromRaw(rfcScalar);
    ASSERT_TRUE(key.has_value());
    const auto other = key->signature("other");
    ASSERT_TRUE(other.has_value());
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, copy = *publicKey, t] {
            for (int i = 0; i < 40; ++i) {
                const P256PublicKey& checker = (i + t) % 2 ? copy : *publicKey;
                if (!checker.isValidSignature(rfcSignature, "sample")
                    || checker.isValidSignature(rfcSignature, "other")
                    || !checker.isValidSignature(*other, "other")
                    || checker.isValidSignature(QByteArray(64, '\x01'), "sample"))
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST(Crypto, P256RefusesInvalidScalarsAndPoints)
{
    QByteArray one(32, 0);
    one[31] = 1;
    QByteArray orderMinusOne = p256Order;
    orderMinusOne[31] = char(orderMinusOne[31] - 1);
    EXPECT_TRUE(P256PrivateKey::fromRaw(one).has_value());
    EXPECT_TRUE(P256PrivateKey::fromRaw(orderMinusOne).has_value());
    for (const QByteArray& bad :
        { QByteArray(32, 0), p256Order, QByteArray(32, char(0xff)), rfcScalar.first(31), rfcScalar + '\0' }) {
        SCOPED_TRACE(bad.toHex().toStdString());
        EXPECT_THAT(P256PrivateKey::fromRaw(bad), FailsWith(CryptoError::invalidKey));
    }

    QByteArray offCurve = rfcPoint;
    offCurve[64] = char(offCurve[64] ^ 0x01);
    QByteArray compressedPrefix = rfcPoint;
    compressedPrefix[0] = 0x02;
    for (const QByteArray& bad : { offCurve, compressedPrefix, rfcPoint.first(64), QByteArray(65, 0) }) {
        SCOPED_TRACE(bad.toHex().toStdString());
        EXPECT_THAT(P256PublicKey::fromX963(bad), FailsWith(CryptoError::invalidKey));
    }
}

TEST(Crypto, GeneratedKeysHaveTheCompactForm)
{
    for (int round = 0; round < 16; ++round) {
        const auto key = P256PrivateKey::generate();
        ASSERT_TRUE(key.has_value());
        const QByteArray point = key->publicKeyX963();
        ASSERT_EQ(point.size(), 65);
        // Y <= p - Y, compared as big-endian numbers: 2Y <= p, i.e. Y <= (p - 1) / 2 since p is odd.
        const QByteArray y = point.sliced(33);
        const QByteArray halfP = hex("7FFFFFFF800000008000000000000000000000007FFFFFFFFFFFFFFFFFFFFFFF");
        EXPECT_LE(y, halfP);
    }
}

TEST(Crypto, Base64UrlIsStrictAndUnpadded)
{
    EXPECT_EQ(Base64Url::encoded(hex("fbff")), "-_8");
    EXPECT_EQ(Base64Url::decoded(u"-_8"), hex("fbff"));
    for (const char16_t* bad : { u"-_8=", u"+/8", u"-_8 ", u"A", u"-_9", u"ab\u00e9d" }) {
        SCOPED_TRACE(QString::fromUtf16(bad).toStdString());
        EXPECT_FALSE(Base64Url::decoded(bad).has_value());
    }
}
