#include "common/SpeechToken.hpp"

#include "common/OwnerOnlyFile.hpp"

#include <array>
#include <charconv>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <vector>

namespace lumora::speechtoken {

namespace {

constexpr std::string_view version = "v1";
constexpr std::size_t uuidLength = 36;
constexpr std::size_t macHexLength = 64;
constexpr std::size_t maximumSecretFileSize = 16 * 1024;

std::string signature(std::string_view secret, std::string_view signedText)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> mac {};
    unsigned int length = 0;
    HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
        reinterpret_cast<const unsigned char*>(signedText.data()), signedText.size(), mac.data(), &length);
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(digits[mac[i] >> 4]);
        hex.push_back(digits[mac[i] & 0x0f]);
    }
    return hex;
}

bool isLowerUuidText(std::string_view text)
{
    if (text.size() != uuidLength)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphenPlace ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

std::string_view toString(Error error)
{
    switch (error) {
    case Error::malformed:
        return "malformed_token";
    case Error::invalidSignature:
        return "invalid_token_signature";
    case Error::expired:
        return "token_expired";
    }
    return {};
}

std::string make(std::string_view secret, const Claims& claims)
{
    std::string text
        = std::string(version) + "." + claims.reservationID + "." + std::to_string(claims.expiresAt);
    const std::string mac = signature(secret, text);
    return text + "." + mac;
}

std::expected<Claims, Error> verify(std::string_view secret, std::string_view token, std::int64_t now)
{
    std::vector<std::string_view> fields;
    std::size_t from = 0;
    while (fields.size() < 5) {
        const std::size_t dot = token.find('.', from);
        fields.push_back(token.substr(from, dot == std::string_view::npos ? dot : dot - from));
        if (dot == std::string_view::npos)
            break;
        from = dot + 1;
    }
    if (fields.size() != 4 || fields[0] != version || !isLowerUuidText(fields[1])
        || fields[3].size() != macHexLength || fields[2].empty() || fields[2].size() > 18)
        return std::unexpected(Error::malformed);
    Claims claims { std::string(fields[1]), 0 };
    const auto [end, status]
        = std::from_chars(fields[2].data(), fields[2].data() + fields[2].size(), claims.expiresAt);
    if (status != std::errc {} || end != fields[2].data() + fields[2].size() || fields[2].front() == '-')
        return std::unexpected(Error::malformed);
    const std::string_view signedText = token.substr(0, token.size() - macHexLength - 1);
    const std::string expected = signature(secret, signedText);
    if (CRYPTO_memcmp(expected.data(), fields[3].data(), macHexLength) != 0)
        return std::unexpected(Error::invalidSignature);
    if (now >= claims.expiresAt)
        return std::unexpected(Error::expired);
    return claims;
}

std::expected<std::string, std::string> readSecret(const std::string& path)
{
    auto secret = readOwnerOnlyFile(path, "speech token secret", maximumSecretFileSize);
    if (secret && secret->size() < minimumSecretLength)
        return std::unexpected("the speech token secret " + path + " must hold at least "
            + std::to_string(minimumSecretLength) + " bytes");
    return secret;
}

} // namespace lumora::speechtoken
