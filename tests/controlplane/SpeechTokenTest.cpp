#include "common/SpeechToken.hpp"

#include <QFile>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

namespace lumora {
namespace {

using speechtoken::Claims;
using speechtoken::Error;

const std::string secret(40, 's');
const Claims claims { "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d", 1'800'000'300 };

TEST(SpeechToken, VerifiesUntilItsExpiryWithTheSameSecretOnly)
{
    const std::string token = speechtoken::make(secret, claims);
    // The HMAC as `openssl dgst -sha256 -hmac` computes it over the first three fields.
    EXPECT_EQ(token,
        "v1.0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d.1800000300."
        "46a225ebc4f2f7689963fc3961aaf7e3674a0fa641424973e2c39aa32f68e4fb");
    EXPECT_EQ(speechtoken::verify(secret, token, 1'800'000'299), claims);
    EXPECT_EQ(speechtoken::verify(secret, token, 1'800'000'300), std::unexpected(Error::expired));
    EXPECT_EQ(speechtoken::verify(std::string(40, 't'), token, 0), std::unexpected(Error::invalidSignature));
    EXPECT_EQ(speechtoken::make(secret, claims), token);
}

TEST(SpeechToken, AlteredOrMalformedTokensAreRefused)
{
    const std::string token = speechtoken::make(secret, claims);
    const std::string mac = token.substr(token.size() - 64);
    std::string longer = token;
    longer.replace(token.find(".1800"), 5, ".9800");
    std::string otherReservation = token;
    otherReservation[3] = '1';
    struct Case {
        std::string token;
        Error error;
    };
    const std::vector<Case> cases {
        { longer, Error::invalidSignature },
        { otherReservation, Error::invalidSignature },
        { "", Error::malformed },
        { "v1.0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d." + mac, Error::malformed },
        { "v2.0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d.1800000300." + mac, Error::malformed },
        { "v1.0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D.1800000300." + mac, Error::malformed },
        { "v1.0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d.-5." + mac, Error::malformed },
        { "v1.0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d.18x." + mac, Error::malformed },
        { token + ".x", Error::malformed },
        { token.substr(0, token.size() - 1), Error::malformed },
    };
    for (const Case& c : cases)
        EXPECT_EQ(speechtoken::verify(secret, c.token, 0), std::unexpected(c.error)) << c.token;
}

TEST(SpeechToken, SecretFilesAreOwnerOnlyReadWithoutTheirFinalNewlineAndMustBeLongEnough)
{
    QTemporaryDir dir;
    const auto write = [&](const char* name, const std::string& text, QFileDevice::Permissions others = {}) {
        const std::string path = dir.filePath(name).toStdString();
        std::ofstream(path, std::ios::binary) << text;
        QFile::setPermissions(dir.filePath(name), QFileDevice::ReadOwner | QFileDevice::WriteOwner | others);
        return path;
    };
    EXPECT_EQ(speechtoken::readSecret(write("ok", std::string(32, 's') + "\n")), std::string(32, 's'));
    EXPECT_FALSE(speechtoken::readSecret(write("short", std::string(31, 's') + "\n")).has_value());
    EXPECT_FALSE(speechtoken::readSecret(dir.filePath("missing").toStdString()).has_value());
    for (const auto others : { QFileDevice::ReadOther, QFileDevice::ReadGroup, QFileDevice::WriteOther })
        EXPECT_FALSE(speechtoken::readSecret(write("shared", std::string(32, 's'), others)).has_value());
}

} // namespace
} // namespace lumora
