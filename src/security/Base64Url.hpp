#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

namespace lumora {

// The RFC 4648 URL-safe alphabet without "=" padding.
struct Base64Url {
    static QString encoded(QByteArrayView bytes);
    // Only the unpadded URL-safe form is accepted: no "=", "+", "/", white space or a
    // length that no byte string encodes to.
    static std::optional<QByteArray> decoded(QStringView text);
};

} // namespace lumora
