#pragma once

#include "ControlPlaneProcess.hpp"
#include "ScriptedServer.hpp"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <memory>

namespace lumora::testing {

// The update feed served over TLS on loopback, under a test CA this process trusts.
struct SignedFeedServer {
    SignedFeedServer(int status, QByteArray body)
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(QSslCertificate::fromPath(certificates.caCertificate()));
        QSslConfiguration::setDefaultConfiguration(tls);
        server = std::make_unique<ScriptedServer>(status, std::move(body), "application/json",
            ServerTls { certificates.serverCertificate(), certificates.serverKey() });
    }
    [[nodiscard]] QString feedURL() const
    {
        return server->baseUrl().resolved(QUrl("/appcast.json")).toString();
    }

    TestCertificates certificates;
    std::unique_ptr<ScriptedServer> server;
};

} // namespace lumora::testing
