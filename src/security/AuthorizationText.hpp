#pragma once

// The pieces of the "Authorization" values, shared by both header forms.

#include <QList>
#include <QString>
#include <QStringView>
#include <QUuid>
#include <optional>

namespace lumora::authorization {

QString lowerUuid(const QUuid& id);
// The fields after `scheme` + " ", split at ":", when there are exactly `count` of them.
std::optional<QList<QStringView>> fields(QStringView value, QStringView scheme, qsizetype count);
// A 36-character hyphenated UUID in lower case.
std::optional<QUuid> uuid(QStringView text);
// A decimal integer written as the signer writes it: optional "-", no "+", no leading zeros.
std::optional<qint64> timestamp(QStringView text);
// An 86-character base64url signature text.
std::optional<QString> signature(QStringView text);

} // namespace lumora::authorization
