#pragma once

#include "AwaitTask.hpp"
#include "ScriptedServer.hpp"
#include "providers/ControlPlaneClient.hpp"
#include "security/DeviceIdentity.hpp"

#include <QNetworkAccessManager>
#include <QStringList>
#include <QtGlobal>
#include <gtest/gtest.h>
#include <qcoro/qcorotask.h>

namespace lumora::testing {

// Collects the critical messages logged while it lives, and the warnings too when asked.
class LogCapture {
public:
    explicit LogCapture(bool warnings = false)
    {
        withWarnings() = warnings;
        m_previous = qInstallMessageHandler(&LogCapture::record);
    }
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
    static bool& withWarnings()
    {
        static bool warnings = false;
        return warnings;
    }
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (type == QtCriticalMsg || (type == QtWarningMsg && withWarnings()))
            lines().append(QString::fromLatin1(context.category) + QStringLiteral(": ") + message);
    }
    QtMessageHandler m_previous = nullptr;
};

inline DeviceIdentity newIdentity()
{
    return DeviceIdentity(*P256PrivateKey::generate());
}

// The failure of a call, or a test failure when the call succeeded.
template <typename T> ControlPlaneFailure failureOf(const std::expected<T, ControlPlaneFailure>& result)
{
    EXPECT_FALSE(result.has_value());
    return result ? ControlPlaneFailure(ControlPlaneError::invalidResponse()) : result.error();
}

// The control-plane failure inside a provider call's failure.
template <typename T> ControlPlaneFailure failureOf(const std::expected<T, ProviderFailure>& result)
{
    EXPECT_FALSE(result.has_value());
    const auto* failure = result ? nullptr : result.error().template as<ControlPlaneFailure>();
    EXPECT_TRUE(result || failure != nullptr);
    return failure ? *failure : ControlPlaneFailure(ControlPlaneError::invalidResponse());
}

inline ControlPlaneFailure refusal(int status, const char* code)
{
    return ControlPlaneError::rejectedWithCode(status, QString::fromLatin1(code));
}

template <typename R> bool isDecodeError(const R& result)
{
    return std::holds_alternative<JsonDecodeError>(failureOf(result));
}

// A signed client against a server that answers every request alike.
class ScriptedClientTest : public ::testing::Test {
protected:
    ControlPlaneClient clientFor(const ScriptedServer& server, const QString& basePath = {})
    {
        QUrl base = server.baseUrl();
        base.setPath(basePath);
        return ControlPlaneClient(base, deviceID, identity, manager, [this] { return now; });
    }

    // Where nothing listens any more.
    static QUrl closedUrl()
    {
        const ScriptedServer gone(200, "{}");
        return gone.baseUrl();
    }

    QNetworkAccessManager manager;
    DeviceIdentity identity = newIdentity();
    QUuid deviceID = QUuid::createUuid();
    QDateTime now = QDateTime::fromMSecsSinceEpoch(1'800'000'000'999, Qt::UTC);
};

} // namespace lumora::testing
