#pragma once

#include <QDateTime>

namespace lumora {

// Whole seconds since 1970-01-01 00:00:00 UTC as a point in time, in UTC. Seconds beyond what
// QDateTime can hold give an invalid date rather than a wrapped one.
inline QDateTime dateFromUnixSeconds(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

} // namespace lumora
