#pragma once

#include "providers/ControlPlaneClient.hpp"
#include "security/DeviceIdentity.hpp"

#include <QNetworkAccessManager>
#include <QStringList>
#include <QtGlobal>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

namespace lumora::testing {

// Collects what is logged while it lives.
class LogCapture {
public:
    LogCapture() { m_previous = qInstallMessageHandler(&LogCapture::record); }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        lines().clear();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    static QStringList& lines()
    {
        static QStringList captured;
        return captured;
    }

private:
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (type == QtCriticalMsg)
            lines().append(QString::fromLatin1(context.category) + QStringLiteral(": ") + message);
    }
    QtMessageHandler m_previous = nullptr;
};

inline DeviceIdentity newIdentity()
{
    return DeviceIdentity(*P256PrivateKey::generate());
}

template <typename T> T await(QCoro::Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

// The failure of a call, or a test failure when the call succeeded.
template <typename T> ControlPlaneFailure failureOf(const std::expected<T, ControlPlaneFailure>& result)
{
    EXPECT_FALSE(result.has_value());
    return result ? ControlPlaneFailure(ControlPlaneError::invalidResponse()) : result.error();
}

} // namespace lumora::testing
