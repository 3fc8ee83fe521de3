#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

// The speech-provider access tokens that the control plane issues for a usage reservation
// and that the speech stand-in accepts. Both servers are configured with the same secret.
//
// A token is four fields joined by ".":
//   "v1" . reservation id (lower-case UUID text) . expiry (whole Unix seconds, decimal)
//        . HMAC-SHA256(secret, the first three fields joined by ".") as 64 lower-case hex digits
// It is valid while the current time is before the expiry.
namespace lumora::speechtoken {

struct Claims {
    std::string reservationID;
    std::int64_t expiresAt = 0;
    bool operator==(const Claims&) const = default;
};

enum class Error {
    malformed, // not four fields of the right form
    invalidSignature, // signed with another secret, or altered
    expired,
};

std::string_view toString(Error error);

// The secret must be at least this many bytes.
constexpr std::size_t minimumSecretLength = 32;

std::string make(std::string_view secret, const Claims& claims);
std::expected<Claims, Error> verify(std::string_view secret, std::string_view token, std::int64_t now);

// The secret file's bytes, trailing white space (a final newline) dropped; an error text
// when the file cannot be read, may be read or changed by others, or holds fewer than
// `minimumSecretLength` bytes.
std::expected<std::string, std::string> readSecret(const std::string& path);

} // namespace lumora::speechtoken
