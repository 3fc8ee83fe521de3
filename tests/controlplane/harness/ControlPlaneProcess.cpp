#include "ControlPlaneProcess.hpp"

#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <algorithm>

namespace lumora::testing {

namespace {

// A content key at `path`, as an operator makes one: the base64 of 32 random bytes, owner-only.
QString makeContentKey(const QString& path)
{
    QFile file(path);
    if (!file.exists()) {
        if (!file.open(QIODevice::WriteOnly))
            return path;
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        QByteArray key(32, Qt::Uninitialized);
        for (char& byte : key)
            byte = char(QRandomGenerator::system()->bounded(256));
        file.write(key.toBase64() + '\n');
    }
    return path;
}

// The content key at `path` unless the arguments name one, or ask for help.
QStringList withContentKey(QStringList arguments, const QString& path)
{
    if (!arguments.contains(QStringLiteral("--content-key-file"))
        && !arguments.contains(QStringLiteral("--help")))
        arguments << QStringLiteral("--content-key-file") << makeContentKey(path);
    return arguments;
}

// Tests sign many devices in from one address at once: without limits of sign-in starts unless
// the arguments set one of them.
QStringList withoutSignInLimits(QStringList arguments)
{
    const bool limited = std::ranges::any_of(arguments, [](const QString& argument) {
        return argument.startsWith(u"--sign-in-rate-") || argument.startsWith(u"--open-sign-ins");
    });
    if (!limited && !arguments.contains(QStringLiteral("--help")))
        for (const char* option : { "--sign-in-rate-per-address", "--sign-in-rate-per-network",
                 "--open-sign-ins-per-key", "--open-sign-ins-per-network", "--open-sign-ins" })
            arguments << QString::fromLatin1(option) << QStringLiteral("1000000");
    return arguments;
}

bool runOpenssl(const QString& folder, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QStringLiteral("openssl"), arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

} // namespace

TestCertificates::TestCertificates()
{
    const QString folder = m_dir.path();
    QFile extensions(m_dir.filePath("ext.cnf"));
    if (!extensions.open(QIODevice::WriteOnly))
        return;
    extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n"
                     "basicConstraints=CA:FALSE\n");
    extensions.close();
    const QString ec = QStringLiteral("ec_paramgen_curve:P-256");
    m_valid
        = runOpenssl(folder,
              { "req", "-x509", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-days", "2", "-subj",
                  "/CN=Lumora Test CA", "-keyout", "ca.key", "-out", "ca.crt", "-addext",
                  "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign" })
        && runOpenssl(folder,
            { "req", "-newkey", "ec", "-pkeyopt", ec, "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                "server.key", "-out", "server.csr" })
        && runOpenssl(folder,
            { "x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key", "-CAcreateserial",
                "-days", "2", "-extfile", "ext.cnf", "-out", "server.crt" });
}

ControlPlaneProcess::ControlPlaneProcess(
    QStringList arguments, int descriptorLimit, const QStringList& environment)
{
    if (!environment.isEmpty())
        process().setEnvironment(QProcess::systemEnvironment() + environment);
    if (descriptorLimit > 0)
        limitDescriptors(descriptorLimit);
    if (!arguments.contains(QStringLiteral("--database")))
        arguments << QStringLiteral("--database") << QStringLiteral("sqlite:") + databasePath();
    start(QStringLiteral(LUMORA_CONTROL_PLANE_EXECUTABLE),
        withContentKey(withoutSignInLimits(std::move(arguments)), contentKeyPath()));
}

std::pair<int, QString> ControlPlaneProcess::runToEnd(const QStringList& arguments)
{
    const QTemporaryDir keys;
    QProcess process;
    process.start(QStringLiteral(LUMORA_CONTROL_PLANE_EXECUTABLE),
        withContentKey(arguments, keys.filePath("content.key")));
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return { -1, {} };
    }
    return { process.exitCode(),
        QString::fromUtf8(process.readAllStandardError() + process.readAllStandardOutput()) };
}

QByteArray TestReply::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

namespace {

QNetworkReply* startRequest(
    QNetworkAccessManager& manager, const TestRequest& sent, const QString& caCertificate)
{
    QNetworkRequest request(sent.url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(60000);
    for (const auto& [name, value] : sent.headers)
        request.setRawHeader(name, value);
    if (!caCertificate.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(caCertificate));
        request.setSslConfiguration(tls);
    }
    return manager.sendCustomRequest(request, sent.method, sent.body);
}

TestReply replyOf(QNetworkReply* reply)
{
    TestReply result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.error = reply->error();
    result.headers = reply->rawHeaderPairs();
    reply->deleteLater();
    return result;
}

} // namespace

TestReply sendRequest(QNetworkAccessManager& manager, const QByteArray& method, const QUrl& url,
    const QByteArray& body, const QList<std::pair<QByteArray, QByteArray>>& headers,
    const QString& caCertificate)
{
    QNetworkReply* reply = startRequest(manager, { method, url, body, headers }, caCertificate);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    return replyOf(reply);
}

QList<TestReply> sendTogether(const QList<TestRequest>& requests, const QString& caCertificate)
{
    // A manager opens at most six connections to one server: one manager per request.
    std::vector<std::unique_ptr<QNetworkAccessManager>> managers;
    QList<QNetworkReply*> replies;
    QEventLoop loop;
    qsizetype open = requests.size();
    for (const TestRequest& request : requests) {
        managers.push_back(std::make_unique<QNetworkAccessManager>());
        QNetworkReply* reply = startRequest(*managers.back(), request, caCertificate);
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&] {
            if (--open == 0)
                loop.quit();
        });
        replies.append(reply);
    }
    if (open > 0)
        loop.exec();
    QList<TestReply> results;
    for (QNetworkReply* reply : replies)
        results.append(replyOf(reply));
    return results;
}

} // namespace lumora::testing
