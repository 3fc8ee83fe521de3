#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/RequestSigner.hpp"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// Request bodies as strangers and accounts send them to the real control plane: what they may
// hold of its memory, and for how long.
namespace lumora {
namespace {

using testing::accountStateOver;
using testing::codeOf;
using testing::ControlPlaneProcess;
using testing::largeConversation;
using testing::postSigned;
using testing::recoverOver;
using testing::SentRequest;
using testing::signedBy;
using testing::signInOver;

// A signed conversation upload sent in two parts: the head and the body but its last `held`
// bytes (half of it unless given) at once, the rest only when asked, as a client on a slow
// line would; from `source`, another address of the loopback network, when given.
class HeldUpload {
public:
    HeldUpload(const QUrl& base, const DeviceIdentity& identity, const QUuid& device, const QByteArray& body,
        std::optional<qsizetype> held = std::nullopt, const char* source = nullptr)
        : m_body(body)
        , m_sentFirst(body.size() - held.value_or(body.size() - body.size() / 2))
        , m_request(base,
              "POST /v1/content/conversations HTTP/1.1\r\nHost: 127.0.0.1\r\n"
              "Content-Type: application/json\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\nAuthorization: "
                  + signedBy(identity, device, "POST", "/v1/content/conversations", body) + "\r\n\r\n"
                  + body.first(m_sentFirst),
              source)
    {
    }

    [[nodiscard]] bool started() const { return m_request.sent(); }
    // Whether the answer has come (before the rest of the body) within `milliseconds`.
    [[nodiscard]] bool answered(int milliseconds) const { return m_request.answered(milliseconds); }
    bool sendRest() { return m_request.send(QByteArrayView(m_body).sliced(m_sentFirst)); }
    QByteArray statusLine() { return m_request.statusLine(); }
    // Sends the rest of the body: the status line of the answer.
    QByteArray finish() { return sendRest() ? statusLine() : QByteArray(); }

private:
    QByteArray m_body;
    qsizetype m_sentFirst;
    testing::SentRequest m_request;
};

// Uploads paused mid-body, more of them than the server has threads, hold only their own
// connections: another account's requests are answered meanwhile, and each upload is
// answered once the rest of its body arrives (within the second a body may pause).
TEST(ControlPlaneBodies, UploadsPausedMidBodyDoNotHoldBackOtherAccounts)
{
    ControlPlaneProcess server({ "--dev-sign-in" });
    ASSERT_TRUE(server.started());
    // Ten devices, each on a network of its own with four uploads of at most 1 MiB, as many as
    // one network may have on their way at once.
    struct Uploader {
        DeviceIdentity identity;
        QUuid device;
    };
    std::vector<std::unique_ptr<Uploader>> uploaders;
    for (int i = 0; i < 10; ++i) {
        auto uploader
            = std::make_unique<Uploader>(Uploader { DeviceIdentity(*P256PrivateKey::generate()), {} });
        uploader->device = signInOver(server, uploader->identity, QStringLiteral("Ada %1").arg(i));
        ASSERT_FALSE(uploader->device.isNull());
        uploaders.push_back(std::move(uploader));
    }
    const DeviceIdentity other(*P256PrivateKey::generate());
    const QUuid device = signInOver(server, other, "Bob");
    ASSERT_FALSE(device.isNull());

    std::vector<QByteArray> bodies;
    for (int i = 0; i < 40; ++i) {
        bodies.push_back(largeConversation());
        ASSERT_GT(bodies.back().size(), ConversationUploadPayload::maximumBodyBytes * 9 / 10);
        ASSERT_LE(bodies.back().size(), ConversationUploadPayload::maximumBodyBytes);
    }
    std::vector<std::unique_ptr<HeldUpload>> uploads;
    for (int i = 0; i < 40; ++i) {
        const Uploader& uploader = *uploaders[static_cast<std::size_t>(i % 10)];
        const QByteArray from = "127.0." + QByteArray::number(10 + i % 10) + ".1";
        uploads.push_back(std::make_unique<HeldUpload>(server.baseUrl(), uploader.identity, uploader.device,
            bodies[static_cast<std::size_t>(i)], std::nullopt, from.constData()));
        ASSERT_TRUE(uploads.back()->started());
    }
    for (int i = 0; i < 3; ++i) {
        const auto state = accountStateOver(server, signedBy(other, device, "GET", "/v1/account/state"));
        EXPECT_EQ(state.status, 200) << state.body.toStdString();
    }
    for (const auto& upload : uploads)
        EXPECT_TRUE(upload->sendRest());
    for (const auto& upload : uploads)
        EXPECT_EQ(upload->statusLine(), "HTTP/1.1 201 Created");
    EXPECT_EQ(server.stop(), 0) << server.log().toStdString();
}

// A long body is read only when its head names a known, unrevoked device in the clock window,
// and only within the memory limit: a stranger's is refused from its head, before it is sent.
// A revoked device's head is refused as a forged request of it is once read whole.
TEST(ControlPlaneBodies, LongBodiesAreReadOnlyForKnownDevicesAndWithinTheLimit)
{
    ControlPlaneProcess server({ "--dev-sign-in", "--body-memory-limit", "2" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity identity(*P256PrivateKey::generate());
    const QUuid device = signInOver(server, identity, "Ada");
    const DeviceIdentity gone(*P256PrivateKey::generate());
    const QUuid revoked = signInOver(server, gone, "Bob");
    ASSERT_EQ(postSigned(server, gone, revoked, "/v1/devices/revoke",
                  { { "device_id", revoked.toString(QUuid::WithoutBraces) } })
                  .status,
        200);
    const QString path = QStringLiteral("/v1/content/conversations");
    const auto headWith = [&](const QString& target, const QByteArray& authorization) {
        return "POST " + target.toLatin1() + " HTTP/1.1\r\nHost: x\r\nContent-Length: 2000000\r\n"
            + (authorization.isEmpty() ? QByteArray() : "Authorization: " + authorization + "\r\n") + "\r\n";
    };
    const auto stale = RequestSigner::sign(identity, device, u"POST", path, QByteArray(),
        QDateTime::currentDateTimeUtc().addSecs(-1000), QUuid::createUuid());
    struct Case {
        const char* name;
        QByteArray head;
        const char* answer;
    };
    const Case cases[] = {
        { "no signature", headWith(path, {}), "401 invalid_signature" },
        { "stale signature", headWith(path, stale->authorization().toLatin1()), "401 stale_timestamp" },
        { "unknown device", headWith(path, signedBy(identity, QUuid::createUuid(), "POST", path)),
            "401 unknown_device" },
        { "revoked device", headWith(path, signedBy(gone, revoked, "POST", path)), "401 invalid_signature" },
        { "open call", headWith("/v1/auth/apple/web/start", {}), "413 payload_too_large" },
    };
    for (const Case& c : cases) {
        testing::SentRequest request(server.baseUrl(), c.head);
        const QByteArray reply = request.reply();
        const QByteArray status = reply.mid(9, 3);
        const QString code = QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4))
                                 .object()
                                 .value("error")
                                 .toString();
        EXPECT_EQ(status + ' ' + code.toLatin1(), c.answer) << c.name;
    }

    // Two uploads of nearly 1 MiB at once, of a device that has made a signed call from its
    // address, pass what the signed calls' bodies may take of the limit: the one whose bytes
    // pass it is refused at once, the other goes on.
    ASSERT_EQ(accountStateOver(server, signedBy(identity, device, "GET", "/v1/account/state")).status, 200);
    HeldUpload first(server.baseUrl(), identity, device, largeConversation(), 1);
    HeldUpload second(server.baseUrl(), identity, device, largeConversation(), 1);
    ASSERT_TRUE(first.started() && second.started());
    HeldUpload* refused = nullptr;
    for (int wait = 0; wait < 1000 && !refused; ++wait)
        refused = first.answered(5) ? &first : second.answered(5) ? &second : nullptr;
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->statusLine(), "HTTP/1.1 503 Service Unavailable");
    EXPECT_EQ((refused == &first ? second : first).finish(), "HTTP/1.1 201 Created");
    EXPECT_EQ(server.stop(), 0);
}

// Whether the server let the connection go without an answer within ten seconds.
bool letGo(SentRequest& request)
{
    return request.answered(10'000) && request.reply().isEmpty();
}

// Requests that announce bodies and send all but their last byte, each from one of `addresses`
// addresses of the loopback network in turn (each in a network of its own, none in that of
// 127.0.0.1), `each` from every address.
std::vector<std::unique_ptr<SentRequest>> heldOpen(
    const ControlPlaneProcess& server, const QByteArray& head, qsizetype sent, int addresses, int each)
{
    std::vector<std::unique_ptr<SentRequest>> held;
    for (int address = 0; address < addresses; ++address) {
        const QByteArray from = "127.0." + QByteArray::number(10 + address) + ".1";
        for (int i = 0; i < each; ++i)
            held.push_back(
                std::make_unique<SentRequest>(server.baseUrl(), head + QByteArray(sent, ' '), from));
    }
    return held;
}

// The sign-in of a new device and its recovery, as the application makes them when it starts
// without a saved session: the codes of the recovery, after a sign-in that went through.
std::string signInAndRecovery(const ControlPlaneProcess& server, const QString& name)
{
    const DeviceIdentity identity(*P256PrivateKey::generate());
    if (signInOver(server, identity, name).isNull())
        return "sign-in refused";
    return codeOf(recoverOver(server, identity));
}

// Strangers who start sign-ins from twenty addresses, sixteen connections each, and hold their
// bodies open stop nobody's sign-in: an open call's body is a few KiB at most (announced
// longer, it is refused from its head), and it must be in within two seconds, so that the
// strangers' share holds thousands of them.
TEST(ControlPlaneBodies, StrangersHoldingSignInBodiesOpenStopNoSignIn)
{
    // Heads may take a minute here, which once gave a body as long.
    ControlPlaneProcess server({ "--dev-sign-in", "--request-head-timeout", "60" });
    ASSERT_TRUE(server.started());
    const auto startHead = [](int length) {
        return "POST /v1/auth/apple/web/start HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
               "Content-Length: "
            + QByteArray::number(length) + "\r\n\r\n";
    };
    {
        // As the attack ran: 64 KiB announced and all but a byte of it sent on each connection,
        // 20 MiB in all.
        const auto strangers = heldOpen(server, startHead(65536), 65535, 20, 16);
        // A moment for the server to take their bytes in.
        QThread::msleep(300);
        EXPECT_EQ(signInAndRecovery(server, "Ada"), "200 ");
    }
    // As long as an open call's body may be, all but its last byte: 2.5 MiB in all.
    auto strangers = heldOpen(server, startHead(8192), 8191, 20, 16);
    QThread::msleep(300);
    EXPECT_EQ(signInAndRecovery(server, "Bob"), "200 ");
    EXPECT_TRUE(letGo(*strangers.front()));
    EXPECT_TRUE(letGo(*strangers.back()));
    strangers.clear();
    EXPECT_EQ(server.stop(), 0) << server.log().toStdString();
}

// Accounts whose uploads stop one byte short hold their places a second or two: a body that
// stops coming is let go, and a bystander's upload is taken.
TEST(ControlPlaneBodies, UploadsThatStopComingAreLetGo)
{
    ControlPlaneProcess server({ "--dev-sign-in", "--body-memory-limit", "16" });
    ASSERT_TRUE(server.started());
    const QString path = QStringLiteral("/v1/content/conversations");
    // Six accounts, each from an address of its own, each with two uploads of 2 MiB: 24 MiB,
    // more than all the bodies may take together.
    std::vector<std::unique_ptr<SentRequest>> stalled;
    for (int account = 0; account < 6; ++account) {
        const DeviceIdentity identity(*P256PrivateKey::generate());
        const QUuid device = signInOver(server, identity, QStringLiteral("Stalled %1").arg(account));
        ASSERT_FALSE(device.isNull());
        const QByteArray from = "127.0.0." + QByteArray::number(40 + account);
        for (int upload = 0; upload < 2; ++upload) {
            const QByteArray body(2 * 1024 * 1024, 'b');
            stalled.push_back(std::make_unique<SentRequest>(server.baseUrl(),
                testing::signedRequest(identity, device, "POST", path, body).chopped(1), from));
        }
    }
    for (const auto& upload : stalled) {
        ASSERT_TRUE(upload->answered(10'000)) << "each upload is refused or let go";
        const QByteArray reply = upload->reply();
        EXPECT_TRUE(reply.isEmpty() || reply.startsWith("HTTP/1.1 503")) << reply.toStdString();
    }
    const DeviceIdentity bystander(*P256PrivateKey::generate());
    const QUuid device = signInOver(server, bystander, "Bystander");
    EXPECT_EQ(codeOf(testing::send(
                  testing::signedPost(server, bystander, device, path, testing::conversationUpload()))),
        "201 ");
    EXPECT_EQ(server.stop(), 0) << server.log().toStdString();
}

// Whoever knows a device's id may send bodies in its name, but until their signature is checked
// they are a stranger's: two of the longest, forged and held one byte short, hold back no upload
// of the device's own; one sent whole is refused for its signature.
TEST(ControlPlaneBodies, ForgedBodiesInADevicesNameHoldBackNoneOfItsOwn)
{
    ControlPlaneProcess server({ "--dev-sign-in" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity victim(*P256PrivateKey::generate());
    const QUuid device = signInOver(server, victim, "Ada");
    ASSERT_FALSE(device.isNull());
    const QString path = QStringLiteral("/v1/content/conversations");
    // Signed over an empty body: what anyone who has seen one of its requests may send.
    const QByteArray forgedHead = "POST " + path.toLatin1()
        + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 2097152\r\nAuthorization: "
        + signedBy(victim, device, "POST", path) + "\r\n\r\n";
    const auto forged = heldOpen(server, forgedHead, 2097151, 1, 2);
    QThread::msleep(300);
    EXPECT_EQ(codeOf(testing::send(testing::signedPost(
                  server, victim, device, path, testing::conversationUpload(QString(20'000, u'a'))))),
        "201 ");
    SentRequest whole(server.baseUrl(), forgedHead + QByteArray(2097152, ' '), "127.0.0.11");
    const QByteArray refused = whole.reply();
    EXPECT_TRUE(refused.startsWith("HTTP/1.1 401")) << refused.left(100).toStdString();
    EXPECT_TRUE(refused.endsWith("invalid_signature\"}")) << refused.right(100).toStdString();
    EXPECT_EQ(server.stop(), 0) << server.log().toStdString();
}

// The status line of a signed request sent whole from `source`.
QByteArray statusFrom(const ControlPlaneProcess& server, const char* source, const DeviceIdentity& identity,
    const QUuid& device, const QString& method, const QString& path, const QByteArray& body = {})
{
    SentRequest request(
        server.baseUrl(), testing::signedRequest(identity, device, method, path, body), source);
    return request.statusLine();
}

// Strangers who name a device of their own from a hundred addresses, each holding a byte of a
// body, and a neighbour behind the victim's own address holding two of the longest: a device
// that has made a signed call from its address lately has its upload taken from its account's
// share, which they do not shrink, and a device new to its address shares what is left with
// them by network, the hundred addresses of ten networks counting as ten.
TEST(ControlPlaneBodies, StrangersFromManyAddressesHoldBackNoUploadOfAProvenDevice)
{
    ControlPlaneProcess server({ "--dev-sign-in", "--body-memory-limit", "16" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity victim(*P256PrivateKey::generate());
    const QUuid victimDevice = signInOver(server, victim, "Ada");
    const DeviceIdentity newcomer(*P256PrivateKey::generate());
    const QUuid newcomerDevice = signInOver(server, newcomer, "Bob");
    const DeviceIdentity stranger(*P256PrivateKey::generate());
    const QUuid strangerDevice = signInOver(server, stranger, "Mallory");
    ASSERT_FALSE(victimDevice.isNull() || newcomerDevice.isNull() || strangerDevice.isNull());
    const QString path = QStringLiteral("/v1/content/conversations");
    const char* home = "127.0.5.1";
    ASSERT_EQ(statusFrom(server, home, victim, victimDevice, "GET", "/v1/account/state"), "HTTP/1.1 200 OK");

    const QByteArray strangersHead = "POST " + path.toLatin1()
        + " HTTP/1.1\r\nHost: x\r\nContent-Length: 2097152\r\nAuthorization: "
        + signedBy(stranger, strangerDevice, "POST", path) + "\r\n\r\n";
    std::vector<std::unique_ptr<SentRequest>> held;
    for (int address = 0; address < 100; ++address) {
        const QByteArray from
            = "127.0." + QByteArray::number(10 + address % 10) + '.' + QByteArray::number(1 + address / 10);
        held.push_back(std::make_unique<SentRequest>(server.baseUrl(), strangersHead + ' ', from));
    }
    for (int body = 0; body < 2; ++body)
        held.push_back(
            std::make_unique<SentRequest>(server.baseUrl(), strangersHead + QByteArray(2097151, ' '), home));
    QThread::msleep(200);

    // As long as those that many addresses once kept out.
    const QByteArray upload = largeConversation(140);
    ASSERT_GT(upload.size(), 293 * 1024);
    EXPECT_EQ(statusFrom(server, home, victim, victimDevice, "POST", path, upload), "HTTP/1.1 201 Created")
        << "the proven device's upload";
    EXPECT_EQ(statusFrom(server, "127.0.6.1", newcomer, newcomerDevice, "POST", path, largeConversation(140)),
        "HTTP/1.1 201 Created")
        << "the new device's upload";
    held.clear();
    EXPECT_EQ(server.stop(), 0) << server.log().toStdString();
}

// Accounts are free to make: a crowd of them, each proven from an address of its own by a
// signed call and each holding one byte of a body, takes a byte each and shrinks no other
// account's share; a proven device's upload of nearly 1 MiB is taken (each account's share was
// the part over the accounts asking before, under the upload's length).
TEST(ControlPlaneBodies, ACrowdOfAccountsHoldingLittleHoldsBackNoUploadOfAProvenDevice)
{
    ControlPlaneProcess server({ "--dev-sign-in", "--body-memory-limit", "16" });
    ASSERT_TRUE(server.started());
    const DeviceIdentity victim(*P256PrivateKey::generate());
    const QUuid victimDevice = signInOver(server, victim, "Ada");
    ASSERT_FALSE(victimDevice.isNull());
    const QString path = QStringLiteral("/v1/content/conversations");
    const char* home = "127.0.5.1";
    ASSERT_EQ(statusFrom(server, home, victim, victimDevice, "GET", "/v1/account/state"), "HTTP/1.1 200 OK");

    // 24 accounts from 12 addresses in 6 networks: 15 MiB over 25 accounts was 0.6 MiB each.
    std::vector<QByteArray> heads;
    std::vector<QByteArray> sources;
    for (int account = 0; account < 24; ++account) {
        const DeviceIdentity identity(*P256PrivateKey::generate());
        const QUuid device = signInOver(server, identity, QStringLiteral("Crowd %1").arg(account));
        ASSERT_FALSE(device.isNull());
        sources.push_back(
            "127.0." + QByteArray::number(20 + account % 6) + '.' + QByteArray::number(1 + account % 2));
        ASSERT_EQ(
            statusFrom(server, sources.back().constData(), identity, device, "GET", "/v1/account/state"),
            "HTTP/1.1 200 OK");
        heads.push_back("POST " + path.toLatin1() + " HTTP/1.1\r\nHost: x\r\nContent-Length: 2097152\r\n"
            + "Authorization: " + signedBy(identity, device, "POST", path) + "\r\n\r\n ");
    }
    std::vector<std::unique_ptr<SentRequest>> held;
    for (std::size_t account = 0; account < heads.size(); ++account)
        held.push_back(
            std::make_unique<SentRequest>(server.baseUrl(), heads[account], sources[account].constData()));
    QThread::msleep(200);

    const QByteArray upload = largeConversation();
    ASSERT_GT(upload.size(), ConversationUploadPayload::maximumBodyBytes * 9 / 10);
    EXPECT_EQ(statusFrom(server, home, victim, victimDevice, "POST", path, upload), "HTTP/1.1 201 Created");
    held.clear();
    EXPECT_EQ(server.stop(), 0) << server.log().toStdString();
}

} // namespace
} // namespace lumora
