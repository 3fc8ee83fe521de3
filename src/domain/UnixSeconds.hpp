#pragma once

#include <QDateTime>

namespace lumora {

// Whole seconds since 1970-01-01 00:00:00 UTC as a point in time, in UTC. Seconds beyond what
// QDateTime can hold give an invalid date rather than a wrapped one.
inline QDateTime dateFromUnixSeconds(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

// The moments that ISO-8601 text with a four-digit year can hold, as the stored records
// write them: 0001-01-01T00:00:00Z to 9999-12-31T23:59:59Z.
inline constexpr qint64 earliestWritableSeconds = -62'135'596'800;
inline constexpr qint64 latestWritableSeconds = 253'402'300'799;

inline bool isWritableSeconds(qint64 seconds)
{
    return seconds >= earliestWritableSeconds && seconds <= latestWritableSeconds;
}

} // namespace lumora
