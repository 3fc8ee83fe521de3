#include "ProcessCalls.hpp"

#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::codeOf;
using testing::Partner;
using testing::TestReply;

using UnusableInputs = testing::ProcessOnEveryBackend;

// What cannot serve is refused when it is given, or left aside where it is found: a TLS
// certificate that is a FIFO stops the start at once (it waited for a writer before); an upload
// whose id is the nil UUID, which no later call can name, is refused as fetching it is; and a
// stored row whose seal does not open is left out of its partners' lists, and logged, instead
// of failing every list it is in.
TEST_P(UnusableInputs, AreRefusedWhenGivenOrLeftOutWhereFound)
{
    const QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo.crt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    testing::TestCertificates certificates;
    ASSERT_TRUE(certificates.valid());
    const auto [code, message] = testing::ControlPlaneProcess::runToEnd(
        { "--listen", "127.0.0.1:0", "--database", "sqlite:" + dir.filePath("cp.sqlite"), "--tls-cert", fifo,
            "--tls-key", certificates.serverKey() });
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(message.contains("TLS certificate " + fifo + " is not a regular file"))
        << message.toStdString();

    Partner ada;
    Partner bob;
    ASSERT_TRUE(testing::signInPartners(*server, ada, bob));
    const auto upload = [&](const Partner& who, const QUuid& id) {
        QJsonObject payload = QJsonDocument::fromJson(testing::conversationUpload()).object();
        payload["conversation_id"] = id.toString(QUuid::WithoutBraces);
        return send(who.post(*server, "/v1/content/conversations", payload));
    };
    EXPECT_EQ(codeOf(upload(ada, QUuid())), "400 invalid_request");
    const QUuid unreadable = QUuid::createUuid();
    const QUuid readable = QUuid::createUuid();
    EXPECT_EQ(upload(ada, unreadable).status, 201);
    EXPECT_EQ(upload(bob, readable).status, 201);
    ASSERT_TRUE(testing::spoilSealedValue(database.url(), "sealed_title", unreadable));
    for (const Partner* who : { &ada, &bob }) {
        const TestReply listed = who->get(*server, "/v1/content/conversations");
        ASSERT_EQ(listed.status, 200) << codeOf(listed);
        const QJsonArray rows = bodyOf(listed).value("conversations").toArray();
        ASSERT_EQ(rows.size(), 1);
        EXPECT_EQ(rows[0].toObject().value("id"), readable.toString(QUuid::WithoutBraces));
    }
    EXPECT_TRUE(server->log().contains(unreadable.toString(QUuid::WithoutBraces) + " does not open"))
        << server->log().toStdString();
}

LUMORA_ON_EVERY_BACKEND(UnusableInputs);

} // namespace
} // namespace lumora
