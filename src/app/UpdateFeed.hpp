#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>
#include <expected>

namespace lumora {

// A release the update feed announces.
struct UpdateRelease {
    QString version;
    QUrl downloadURL;
    // When the release was signed for the feed; a feed older than one already seen is a replay.
    QDateTime publishedAt;
};

enum class UpdateFeedError {
    // Not the feed's JSON form, or a release without a version, an https download page or a
    // publication time.
    malformed,
    // The configured public key is neither a base64 Ed25519 key of 32 bytes nor the same key in
    // the DER form `openssl pkey -pubout` prints (base64 "MCowBQYDK2VwAyEA…").
    badKey,
    // The signature does not match the release under the configured key.
    badSignature,
};

// The update feed: a JSON object {"release": base64 of the release's JSON text,
// "signature": base64 of the Ed25519 signature over exactly those bytes}. The release is read
// only after its signature has been checked against the public key; it holds "version",
// "downloadURL" and "publishedAt" (ISO 8601 with its offset, "2026-02-09T19:30:00Z").
struct UpdateFeed {
    [[nodiscard]] static std::expected<UpdateRelease, UpdateFeedError> verify(
        const QByteArray& feed, const QString& publicKeyBase64);
    // Compares dotted version numbers part by part as integers ("0.10" is newer than "0.9";
    // a missing part counts as 0, text after the numbers is ignored). Negative, zero or
    // positive as `a` is older than, equal to or newer than `b`.
    static int compareVersions(const QString& a, const QString& b);
};

} // namespace lumora
