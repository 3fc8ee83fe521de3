#include "controlplane/ProviderCalls.hpp"

#include "ControlPlaneProcess.hpp"
#include "ProcessCalls.hpp"
#include "ProviderStandIn.hpp"
#include "ServiceFixture.hpp"
#include "analysis/ModelAnalyzer.hpp"
#include "common/DeferredResponse.hpp"
#include "controlplane/AnthropicMessagesClient.hpp"
#include "controlplane/ControlPlaneOptions.hpp"
#include "controlplane/DeepgramGrantClient.hpp"
#include "controlplane/HttpsClient.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/ProviderKeyFile.hpp"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>
#include <atomic>
#include <latch>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace lumora {
namespace {

using namespace std::chrono_literals;
using testing::bodyOf;
using testing::codeOf;
using testing::json;
using testing::StandInReply;
using testing::StandInRequest;

const std::string speechKey = "dg-secret-key-0123";
const std::string modelKey = "sk-ant-secret-key-4567";

QJsonObject parsed(const std::string& body)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
}

std::string compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// A Messages API reply whose text is `answer`.
std::string message(const QString& answer, qint64 inputTokens = 321)
{
    return compact(
        { { "id", "msg_1" }, { "type", "message" }, { "role", "assistant" }, { "model", "model-test-1" },
            { "content", QJsonArray { QJsonObject { { "type", "text" }, { "text", answer } } } },
            { "stop_reason", "end_turn" },
            { "usage", QJsonObject { { "input_tokens", inputTokens }, { "output_tokens", 45 } } } });
}

const QString analysisAnswer = QStringLiteral(
    R"({"title":"Listening","summary":"A hard start, then a repair.",)"
    R"("annotations":[{"turn_index":0,"code":"criticism","confidence":0.8},{"turn_index":1,"code":"repair","confidence":0.9}],)"
    R"("fouls":[],"nudges":["Say what you need."]})");

const QJsonArray turns {
    QJsonObject { { "speaker", 0 }, { "start", 0 }, { "end", 4 }, { "text", "You never listen to me." } },
    QJsonObject {
        { "speaker", 1 }, { "start", 4 }, { "end", 7 }, { "text", "I'm sorry, I see what you mean." } },
};

// The control plane with both providers configured, each a stand-in over TLS on loopback
// that the clients trust through the test CA.
class ProviderCallsTest : public testing::ControlPlaneServiceTest {
protected:
    ProviderCallsTest()
    {
        const auto ca = certificates.caCertificate().toStdString();
        auto speechTarget = HttpsTarget::parse(speechStandIn.url() + "/proxy");
        auto modelTarget = HttpsTarget::parse(modelStandIn.url());
        auto speechHttp = HttpsClient::create(*speechTarget, ca);
        auto modelHttp = HttpsClient::create(*modelTarget, ca);
        const ProviderLog log = [this](const std::string& line) { logLines.push_back(line); };
        settings.conversation.speechGrants
            = std::make_shared<DeepgramGrantClient>(*speechHttp, speechKey, log, 1000ms);
        ModelAnalyzerSettings budget;
        budget.analysis = { 1000ms, 2500ms, 4096 };
        budget.nudge = { 1000ms, 2500ms, 512 };
        budget.retryPause = 1ms;
        settings.conversation.analyzer = std::make_shared<ModelAnalyzer>(
            std::make_shared<AnthropicMessagesClient>(*modelHttp, modelKey, "model-test"), budget, log);
        restart();
        reservation = QUuid::fromString(post(ada, "/v1/sessions/reserve",
            { { "session_id", post(ada, "/v1/sessions/draft").value("session_id") },
                { "requested_seconds", 600 } })
                                            .value("reservation_id")
                                            .toString());
    }

    HttpResponse callFor(const std::string& path, const std::string& body = "{}")
    {
        return sendSigned(ada.identity, ada.device.id, "POST", path, body, {}, QUuid::createUuid(),
            { { "X-Reservation-ID", idText(reservation).toStdString() } });
    }

    HttpResponse analyze(const char* rubric = "baseline-2026-07-17")
    {
        return callFor("/v1/providers/anthropic/analyze",
            json({ { "pass", "final" }, { "rubric_version", rubric }, { "turns", turns } }));
    }

    void expectNoKeyInLog()
    {
        for (const std::string& line : logLines) {
            EXPECT_EQ(line.find(speechKey), std::string::npos) << line;
            EXPECT_EQ(line.find(modelKey), std::string::npos) << line;
        }
    }

    testing::TestCertificates certificates;
    testing::ProviderStandIn speechStandIn { certificates.serverCertificate(), certificates.serverKey(),
        [](const StandInRequest&) {
            return StandInReply { 200, R"({"access_token":"jwt.a.b","expires_in":300})" };
        } };
    testing::ProviderStandIn modelStandIn { certificates.serverCertificate(), certificates.serverKey(),
        [](const StandInRequest&) {
            return StandInReply { 200, message(analysisAnswer) };
        } };
    std::vector<std::string> logLines;
    testing::Member ada = member("Ada");
    QUuid reservation;
};

TEST_F(ProviderCallsTest, SpeechTokensAreTheProvidersGrantsAskedForWithTheKey)
{
    const HttpResponse reply = callFor("/v1/providers/deepgram/token");
    ASSERT_EQ(reply.status, 200) << reply.body;
    EXPECT_EQ(bodyOf(reply), (QJsonObject { { "access_token", "jwt.a.b" }, { "expires_in", 300 } }));

    const auto requests = speechStandIn.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/proxy/v1/auth/grant");
    EXPECT_EQ(requests[0].header("Authorization"), "Token " + speechKey);
    EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
    EXPECT_EQ(parsed(requests[0].body), (QJsonObject { { "ttl_seconds", 300 } }));
    EXPECT_TRUE(logLines.empty());
}

TEST_F(ProviderCallsTest, AnyTroubleWithTheGrantAnswers503)
{
    struct Case {
        const char* name;
        StandInReply reply;
    };
    const std::vector<Case> cases {
        { "server error", { 500, R"({"err_msg":"down"})" } },
        { "key refused", { 401, R"({"err_code":"INVALID_AUTH"})" } },
        { "timeout", { 200, R"({"access_token":"late","expires_in":300})", 3000ms } },
        { "not JSON", { 200, "<html>" } },
        { "no token", { 200, R"({"expires_in":300})" } },
        { "empty token", { 200, R"({"access_token":"","expires_in":300})" } },
        { "token with a line break", { 200, R"({"access_token":"a\r\nX-Evil: 1","expires_in":300})" } },
        { "token not text", { 200, R"({"access_token":42,"expires_in":300})" } },
        { "lifetime zero", { 200, R"({"access_token":"t","expires_in":0})" } },
        { "lifetime past an hour", { 200, R"({"access_token":"t","expires_in":5000})" } },
        { "lifetime as text", { 200, R"({"access_token":"t","expires_in":"300"})" } },
    };
    for (const Case& c : cases) {
        speechStandIn.setScript([&c](const StandInRequest&) { return c.reply; });
        EXPECT_EQ(codeOf(callFor("/v1/providers/deepgram/token")), "503 provider_token_unavailable")
            << c.name;
    }
    EXPECT_EQ(logLines.size(), cases.size());
    expectNoKeyInLog();

    // A reply without a lifetime lasts what was asked for.
    speechStandIn.setScript([](const StandInRequest&) {
        return StandInReply { 200, R"({"access_token":"t"})" };
    });
    EXPECT_EQ(bodyOf(callFor("/v1/providers/deepgram/token")).value("expires_in"), 300);
}

TEST_F(ProviderCallsTest, AProviderWhoseCertificateDoesNotVerifyGetsNoKey)
{
    // Trusting only the system's CAs, the stand-in's certificate does not verify.
    auto untrusting = HttpsClient::create(*HttpsTarget::parse(speechStandIn.url()));
    settings.conversation.speechGrants
        = std::make_shared<DeepgramGrantClient>(*untrusting, speechKey, ProviderLog {}, 1000ms);
    restart();
    EXPECT_EQ(codeOf(callFor("/v1/providers/deepgram/token")), "503 provider_token_unavailable");
    for (const StandInRequest& request : speechStandIn.requests())
        EXPECT_EQ(request.header("Authorization"), "") << "the key left before the peer was verified";
}

TEST_F(ProviderCallsTest, AnalysisAsksTheMessagesApiAndRepliesWithItsFindings)
{
    const HttpResponse reply = analyze();
    ASSERT_EQ(reply.status, 200) << reply.body;
    const QJsonObject result = bodyOf(reply);
    EXPECT_EQ(result.value("model"), "model-test-1");
    EXPECT_EQ(result.value("input_tokens"), 321);
    EXPECT_EQ(result.value("summary"), "A hard start, then a repair.");
    const QJsonArray annotations = result.value("annotations").toArray();
    ASSERT_EQ(annotations.size(), 2);
    EXPECT_EQ(annotations[1].toObject().value("code"), "repair");
    EXPECT_EQ(annotations[1].toObject().value("speaker"), 1);
    EXPECT_EQ(annotations[1].toObject().value("start"), 4);

    const auto requests = modelStandIn.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/v1/messages");
    EXPECT_EQ(requests[0].header("x-api-key"), modelKey);
    EXPECT_EQ(requests[0].header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(requests[0].header("content-type"), "application/json");
    const QJsonObject body = parsed(requests[0].body);
    EXPECT_EQ(body.value("model"), "model-test");
    EXPECT_EQ(body.value("max_tokens"), 4096);
    EXPECT_TRUE(body.value("system").toString().contains("criticism"));
    const QJsonObject user = body.value("messages").toArray().at(0).toObject();
    EXPECT_EQ(user.value("role"), "user");
    EXPECT_TRUE(user.value("content").toString().contains("You never listen to me."));

    // Nudges go the same way.
    modelStandIn.setScript([](const StandInRequest&) {
        return StandInReply { 200,
            message(R"({"title":"Pause","guidance":"Breathe.","suggested_words":"One moment."})") };
    });
    const HttpResponse nudge = callFor("/v1/providers/anthropic/nudge",
        json({ { "rubric_version", "context-coach-2026-07-23" }, { "turns", turns }, { "current_step", 1 },
            { "target_speaker", 0 } }));
    ASSERT_EQ(nudge.status, 200) << nudge.body;
    EXPECT_EQ(bodyOf(nudge),
        (QJsonObject {
            { "title", "Pause" }, { "guidance", "Breathe." }, { "suggested_words", "One moment." } }));
    EXPECT_EQ(parsed(modelStandIn.requests().back().body).value("max_tokens"), 512);
}

TEST_F(ProviderCallsTest, AFailingServiceIsRetriedThenTheRulesAnswer)
{
    const auto ruleModel = QString::fromLatin1(RuleBasedAnalyzer::modelName);
    struct Case {
        const char* name;
        StandInReply reply;
        size_t attempts;
    };
    const std::vector<Case> cases {
        { "server error", { 500, R"({"type":"error"})" }, 3 },
        { "overloaded", { 529, R"({"type":"error"})" }, 3 },
        { "key refused", { 401, R"({"type":"error"})" }, 1 },
        { "timeout", { 200, message(analysisAnswer), 3000ms }, 3 },
        { "not JSON", { 200, "<html>" }, 3 },
        { "answer not JSON", { 200, message("I think it went well.") }, 3 },
        { "answer cut short",
            { 200,
                message(analysisAnswer).replace(message(analysisAnswer).find("end_turn"), 8, "max_tokens") },
            3 },
        { "negative token count", { 200, message(analysisAnswer, -5) }, 3 },
        { "summary far too long",
            { 200, message(QStringLiteral(R"({"summary":"%1","annotations":[]})").arg(QString(5000, 'x'))) },
            3 },
    };
    for (const Case& c : cases) {
        logLines.clear();
        const size_t before = modelStandIn.requests().size();
        modelStandIn.setScript([&c](const StandInRequest&) { return c.reply; });
        const HttpResponse reply = analyze();
        ASSERT_EQ(reply.status, 200) << c.name << ' ' << reply.body;
        const QJsonObject result = bodyOf(reply);
        EXPECT_EQ(result.value("model"), ruleModel) << c.name;
        EXPECT_EQ(result.value("annotations").toArray().size(), 2) << c.name;
        EXPECT_LE(modelStandIn.requests().size() - before, c.attempts) << c.name;
        if (c.reply.delay == 0ms) {
            EXPECT_EQ(modelStandIn.requests().size() - before, c.attempts) << c.name;
        }
        ASSERT_EQ(logLines.size(), 1u) << c.name;
        EXPECT_NE(logLines[0].find("rule-based"), std::string::npos) << logLines[0];
    }
    expectNoKeyInLog();

    // Unknown rubrics are refused before any call.
    const size_t before = modelStandIn.requests().size();
    EXPECT_EQ(codeOf(analyze("baseline-1999")), "400 unknown_rubric");
    EXPECT_EQ(modelStandIn.requests().size(), before);
}

StandInReply rawReply(std::string bytes)
{
    StandInReply reply;
    reply.raw = std::move(bytes);
    return reply;
}

// A chunked reply: one chunk of `body`, then the trailer section as given.
std::string chunked(const std::string& body, const std::string& trailer)
{
    std::ostringstream hex;
    hex << std::hex << body.size();
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n"
        + hex.str() + "\r\n" + body + "\r\n0\r\n" + trailer + "\r\n";
}

TEST_F(ProviderCallsTest, AReplyThatDoesNotParseIsAProviderFailure)
{
    const std::string grant = R"({"access_token":"jwt.a.b","expires_in":300})";
    const std::string answer = message(analysisAnswer);
    struct Case {
        const char* name;
        std::string (*reply)(const std::string& body);
    };
    const std::vector<Case> cases {
        { "one long trailer field",
            [](const std::string& body) {
                return chunked(body, "X-Long: " + std::string(70'000, 'a') + "\r\n");
            } },
        { "many trailer fields",
            [](const std::string& body) {
                std::string trailer;
                for (int i = 0; i < 4000; ++i)
                    trailer += "X-Field-" + std::to_string(i) + ": " + std::string(60, 'b') + "\r\n";
                return chunked(body, trailer);
            } },
        { "a head past its limit",
            [](const std::string& body) {
                return "HTTP/1.1 200 OK\r\nX-Long: " + std::string(200'000, 'c')
                    + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
            } },
        { "a body past its limit",
            [](const std::string&) { return chunked(std::string(HttpsClient::replyLimit + 10, ' '), ""); } },
        // A body that would read well, its length told and its first bytes sent with the head.
        { "a body past its limit by its length",
            [](const std::string& body) {
                const std::string padded = body + std::string(HttpsClient::replyLimit, ' ');
                return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                    + std::to_string(padded.size()) + "\r\n\r\n" + padded;
            } },
        { "not HTTP", [](const std::string&) { return std::string("SSH-2.0-OpenSSH_9.2\r\n"); } },
        { "a bad chunk size",
            [](const std::string&) {
                return std::string(
                    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n0\r\n\r\n");
            } },
    };
    const auto ruleModel = QString::fromLatin1(RuleBasedAnalyzer::modelName);
    for (const Case& c : cases) {
        speechStandIn.setScript([&](const StandInRequest&) { return rawReply(c.reply(grant)); });
        modelStandIn.setScript([&](const StandInRequest&) { return rawReply(c.reply(answer)); });
        const size_t before = modelStandIn.requests().size();
        EXPECT_EQ(codeOf(callFor("/v1/providers/deepgram/token")), "503 provider_token_unavailable")
            << c.name;
        const HttpResponse analysis = analyze();
        EXPECT_EQ(analysis.status, 200) << c.name << ' ' << analysis.body;
        EXPECT_EQ(bodyOf(analysis).value("model"), ruleModel) << c.name;
        EXPECT_EQ(modelStandIn.requests().size() - before, 3u) << c.name << ": tried again as any failure";
        const HttpResponse nudge = callFor("/v1/providers/anthropic/nudge",
            json({ { "rubric_version", "context-coach-2026-07-23" }, { "turns", turns },
                { "current_step", 1 }, { "target_speaker", 0 } }));
        EXPECT_EQ(nudge.status, 200) << c.name << ' ' << nudge.body;
    }
    // The same stand-ins answering well are used again at once.
    speechStandIn.setScript([&](const StandInRequest&) { return rawReply(chunked(grant, "")); });
    EXPECT_EQ(callFor("/v1/providers/deepgram/token").status, 200);
}

// Writes a key file with the given mode.
QString keyFile(const QTemporaryDir& dir, const char* name, const QByteArray& contents, mode_t mode)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
    file.close();
    EXPECT_EQ(::chmod(path.toLocal8Bit().constData(), mode), 0);
    return path;
}

TEST(ProviderKeyFile, OnlyOwnerOnlyFilesWithOneKeyAreRead)
{
    QTemporaryDir dir;
    struct Case {
        const char* name;
        QByteArray contents;
        mode_t mode;
        bool accepted;
    };
    const std::vector<Case> cases {
        { "owner read-write", "key-1\n", 0600, true },
        { "owner read-only", "key-1", 0400, true },
        { "others may read", "key-1\n", 0604, false },
        { "group may read", "key-1\n", 0640, false },
        { "group may write", "key-1\n", 0620, false },
        { "empty", "\n", 0600, false },
        { "two lines", "key-1\nkey-2\n", 0600, false },
        { "inner space", "key 1\n", 0600, false },
    };
    for (const Case& c : cases) {
        const auto key = readProviderKey(keyFile(dir, c.name, c.contents, c.mode).toStdString());
        EXPECT_EQ(key.has_value(), c.accepted) << c.name;
        if (key) {
            EXPECT_EQ(*key, "key-1");
        } else {
            EXPECT_EQ(key.error().find("key-"), std::string::npos) << key.error();
        }
    }
    EXPECT_FALSE(readProviderKey(dir.path().toStdString()).has_value());
    EXPECT_FALSE(readProviderKey(dir.filePath("missing").toStdString()).has_value());

    // An owner-only file of another user: its owner may change it at any time. Only a
    // superuser can make one, or read it.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file to another user";
    const QString foreign = keyFile(dir, "foreign", "key-1\n", 0600);
    ASSERT_EQ(::chown(foreign.toLocal8Bit().constData(), 65534, 65534), 0);
    const auto key = readProviderKey(foreign.toStdString());
    ASSERT_FALSE(key.has_value());
    EXPECT_NE(key.error().find("another user"), std::string::npos) << key.error();
}

TEST(ProviderKeyFile, TheServerRefusesToStartWithAKeyFileOthersCanRead)
{
    QTemporaryDir dir;
    const QString open = keyFile(dir, "open.key", QByteArray::fromStdString(modelKey), 0644);
    const QString owned = keyFile(dir, "owned.key", QByteArray::fromStdString(modelKey), 0600);
    const QString database = "sqlite:" + dir.filePath("cp.sqlite");
    for (const char* option : { "--anthropic-api-key-file", "--deepgram-api-key-file" }) {
        const auto [status, output] = testing::ControlPlaneProcess::runToEnd(
            { option, open, "--database", database, "--listen", "127.0.0.1:0" });
        EXPECT_EQ(status, 1) << option;
        EXPECT_TRUE(output.contains("owner-only")) << output.toStdString();
        EXPECT_FALSE(output.contains(QString::fromStdString(modelKey)));
    }
    // Owner-only keys start it; nothing is asked of the providers until a call needs them.
    testing::ControlPlaneProcess server({ "--anthropic-api-key-file", owned, "--deepgram-api-key-file", owned,
        "--anthropic-model", "model-test" });
    EXPECT_TRUE(server.started());
    EXPECT_EQ(server.stop(), 0);
    EXPECT_FALSE(server.log().contains(QString::fromStdString(modelKey)));
}

TEST(ProviderOptions, UrlsMustBeHttpsAndModelsNamed)
{
    const auto parse
        = [](const QStringList& arguments) { return ControlPlaneOptions::parse(arguments, "sqlite:x"); };
    const auto options = parse({ "--deepgram-url", "https://127.0.0.1:9443/base/",
        "--anthropic-model=model-b", "--anthropic-api-key-file", "/k" });
    ASSERT_TRUE(options.has_value()) << options.error().toStdString();
    EXPECT_EQ(options->providers.deepgramUrl, "https://127.0.0.1:9443/base/");
    EXPECT_EQ(options->providers.anthropicModel, "model-b");
    EXPECT_EQ(options->providers.anthropicKeyFile, "/k");
    EXPECT_EQ(options->providers.anthropicUrl, "https://api.anthropic.com");
    EXPECT_FALSE(options->providers.deepgramKeyFile.has_value());
    EXPECT_EQ(HttpsTarget::parse("https://127.0.0.1:9443/base/")->basePath, "/base");

    for (const QStringList& bad : QList<QStringList> { { "--deepgram-url", "http://api.deepgram.com" },
             { "--anthropic-url", "https://api.anthropic.com/?x=1" },
             { "--anthropic-url", "https://user@host" }, { "--anthropic-url", "ftp://host" },
             { "--anthropic-model", "" }, { "--anthropic-model", "a b" }, { "--deepgram-api-key-file" } })
        EXPECT_FALSE(parse(bad).has_value()) << bad.join(' ').toStdString();
    EXPECT_TRUE(ControlPlaneOptions::helpText().contains("--anthropic-api-key-file"));
}

HttpResponse plain(const char* body)
{
    return HttpResponse { 200, "text/plain", body, {} };
}

HttpResponse answerOf(const std::shared_ptr<DeferredResponse>& deferred)
{
    return DeferredResponse::wait(DeferredResponse::later(deferred), {});
}

HttpResponse failedCall(const HttpRequest&)
{
    return plain("failed");
}

// Calls that answer "held" once released, all at once.
class HeldCalls {
public:
    std::function<HttpResponse()> call()
    {
        return [this] {
            m_release.wait();
            return plain("held");
        };
    }
    void release() { m_release.count_down(); }

private:
    std::latch m_release { 1 };
};

// Calls past a cap do not start; a call that ends gives its place back.
TEST(ProviderCalls, AnAccountOrThePoolAtItsCapStartsNoMoreCalls)
{
    ProviderCalls calls({ .total = 3, .perAccount = 2, .keptForSpeech = 0 });
    HeldCalls release;
    const auto held = release.call();
    const auto start = [&](const QUuid& account, const std::function<HttpResponse()>& call) {
        return calls.start(account, ProviderCallKind::analysis, call, failedCall);
    };
    const QUuid ada = QUuid::createUuid();
    const QUuid bob = QUuid::createUuid();
    auto first = start(ada, held);
    auto second = start(ada, held);
    EXPECT_TRUE(first && second);
    EXPECT_FALSE(start(ada, held)) << "past the account's cap";
    auto third = start(bob, held);
    EXPECT_TRUE(third);
    EXPECT_FALSE(start(QUuid::createUuid(), held)) << "past the pool's cap";
    release.release();
    for (const auto& deferred : { first, second, third })
        EXPECT_EQ(answerOf(deferred).body, "held");
    auto again = start(ada, [] { return plain("again"); });
    ASSERT_TRUE(again);
    EXPECT_EQ(answerOf(again).body, "again");
}

// Analyses never take the places kept for speech grants, and when more accounts ask than the
// places allow each its full part, an account holds no more than its share: the others (one
// that just came included) get theirs.
TEST(ProviderCalls, SpeechKeepsItsPlacesAndAccountsShareTheRestEvenly)
{
    ProviderCalls calls({ .total = 8, .perAccount = 4, .keptForSpeech = 2 });
    HeldCalls release;
    std::vector<std::shared_ptr<DeferredResponse>> started;
    const auto start = [&](const QUuid& account, ProviderCallKind kind) {
        auto deferred = calls.start(account, kind, release.call(), failedCall);
        if (deferred)
            started.push_back(deferred);
        return deferred != nullptr;
    };
    // Alone, an account has its full part: 4 of the 6 places analyses may take.
    const QUuid ada = QUuid::createUuid();
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(start(ada, ProviderCallKind::analysis));
    EXPECT_FALSE(start(ada, ProviderCallKind::analysis));
    // Two more accounts ask: Bob and Cleo each get one of the places left, and no more.
    const QUuid bob = QUuid::createUuid();
    const QUuid cleo = QUuid::createUuid();
    EXPECT_TRUE(start(bob, ProviderCallKind::analysis));
    EXPECT_TRUE(start(cleo, ProviderCallKind::analysis));
    EXPECT_FALSE(start(bob, ProviderCallKind::analysis)) << "every analysis place is taken";
    // The speech places are there all the same, for anyone.
    EXPECT_TRUE(start(ada, ProviderCallKind::speechGrant));
    EXPECT_TRUE(start(QUuid::createUuid(), ProviderCallKind::speechGrant));
    EXPECT_FALSE(start(QUuid::createUuid(), ProviderCallKind::speechGrant)) << "the pool is full";
    release.release();
    for (const auto& deferred : started)
        EXPECT_EQ(answerOf(deferred).body, "held");
    started.clear();

    // Refused lately, Bob still counts: Ada may hold half the places now.
    HeldCalls again;
    int admitted = 0;
    for (int i = 0; i < 4; ++i) {
        if (auto deferred = calls.start(ada, ProviderCallKind::analysis, again.call(), failedCall)) {
            started.push_back(deferred);
            ++admitted;
        }
    }
    EXPECT_EQ(admitted, 3);
    again.release();
    for (const auto& deferred : started)
        EXPECT_EQ(answerOf(deferred).body, "held");
}

// A call that holds its place too long is answered as if its provider had failed, and its
// place is free for the next call at once, while it goes on; its late answer goes nowhere.
TEST(ProviderCalls, ACallHoldsItsPlaceNoLongerThanAllowed)
{
    ProviderCalls calls({ .total = 1, .perAccount = 1, .keptForSpeech = 0, .longestHold = 200ms });
    std::latch release(1);
    std::atomic<bool> ended { false };
    const QUuid ada = QUuid::createUuid();
    auto stuck = calls.start(
        ada, ProviderCallKind::speechGrant,
        [&] {
            release.wait();
            ended = true;
            return plain("late");
        },
        [](const HttpRequest&) { return errorResponse(503, "provider_token_unavailable"); });
    ASSERT_TRUE(stuck);
    EXPECT_EQ(answerOf(stuck).status, 503);
    EXPECT_FALSE(ended);
    // The one thread is still taken: the next call waits for it, and is answered in time too.
    auto next = calls.start(
        ada, ProviderCallKind::speechGrant, [] { return plain("next"); },
        [](const HttpRequest&) { return plain("failed"); });
    ASSERT_TRUE(next) << "the place is free";
    EXPECT_EQ(answerOf(next).body, "failed");
    release.count_down();
    auto last = calls.start(
        ada, ProviderCallKind::speechGrant, [] { return plain("last"); },
        [](const HttpRequest&) { return plain("failed"); });
    ASSERT_TRUE(last);
    EXPECT_EQ(answerOf(last).body, "last");
}

// A model service that does not answer holds nothing but the calls made to it: one account
// gets as many calls under way as its cap allows and the rules answer the rest at once, and
// another account is answered meanwhile.
TEST(ProviderCallsProcess, AServiceThatDoesNotAnswerHoldsUpNoOtherRequest)
{
    testing::TestCertificates certificates;
    ASSERT_TRUE(certificates.valid());
    std::atomic<bool> holding { true };
    testing::ProviderStandIn model(
        certificates.serverCertificate(), certificates.serverKey(), [&holding](const StandInRequest&) {
            return StandInReply { 200, message(analysisAnswer), 0ms, [&holding] { return holding.load(); } };
        });
    QTemporaryDir dir;
    const QString key = keyFile(dir, "model.key", QByteArray::fromStdString(modelKey), 0600);
    testing::ControlPlaneProcess server({ "--dev-sign-in", "--anthropic-api-key-file", key, "--anthropic-url",
                                            QString::fromStdString(model.url()), "--anthropic-model",
                                            "model-test", "--provider-calls-per-account", "4" },
        0, { "SSL_CERT_FILE=" + certificates.caCertificate() });
    ASSERT_TRUE(server.started());
    const DeviceIdentity ada(*P256PrivateKey::generate());
    const QUuid adaDevice = testing::signInOver(server, ada, "Ada");
    const DeviceIdentity bob(*P256PrivateKey::generate());
    const QUuid bobDevice = testing::signInOver(server, bob, "Bob");
    const auto session = testing::postSigned(server, ada, adaDevice, "/v1/sessions/draft", {});
    const auto reserved = testing::postSigned(server, ada, adaDevice, "/v1/sessions/reserve",
        { { "session_id", QJsonDocument::fromJson(session.body).object().value("session_id") },
            { "requested_seconds", 600 } });
    const QByteArray reservation
        = QJsonDocument::fromJson(reserved.body).object().value("reservation_id").toString().toLatin1();
    ASSERT_FALSE(reservation.isEmpty()) << reserved.body.toStdString();

    const QByteArray body = QJsonDocument(
        QJsonObject { { "pass", "final" }, { "rubric_version", "baseline-2026-07-17" },
            { "turns",
                turns } }).toJson();
    std::vector<std::unique_ptr<testing::SentRequest>> analyses;
    for (int i = 0; i < 40; ++i) {
        analyses.push_back(std::make_unique<testing::SentRequest>(server.baseUrl(),
            testing::signedRequest(ada, adaDevice, "POST", "/v1/providers/anthropic/analyze", body,
                "X-Reservation-ID: " + reservation + "\r\n")));
        ASSERT_TRUE(analyses.back()->sent());
    }
    const auto answeredCount = [&] {
        return std::ranges::count_if(analyses, [](const auto& analysis) { return analysis->answered(); });
    };
    for (int wait = 0; wait < 1000 && answeredCount() < 36; ++wait)
        QThread::msleep(10);
    EXPECT_EQ(answeredCount(), 36) << "the calls past the account's cap are answered at once";
    EXPECT_EQ(model.requests().size(), 4u);
    const auto state
        = testing::accountStateOver(server, testing::signedBy(bob, bobDevice, "GET", "/v1/account/state"));
    EXPECT_EQ(state.status, 200);
    EXPECT_EQ(answeredCount(), 36) << "Bob was answered while Ada's calls waited";

    holding = false;
    std::map<QString, int> models;
    for (const auto& analysis : analyses) {
        const QByteArray reply = analysis->reply();
        EXPECT_TRUE(reply.startsWith("HTTP/1.1 200")) << reply.left(200).toStdString();
        ++models[QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4))
                     .object()
                     .value("model")
                     .toString()];
    }
    EXPECT_EQ(models, (std::map<QString, int> { { "lumora-rules-1", 36 }, { "model-test-1", 4 } }));
    EXPECT_EQ(model.requests().size(), 4u);
    EXPECT_EQ(server.stop(), 0);
}

// An account signed in on a device, with a reservation open.
struct Caller {
    DeviceIdentity identity { *P256PrivateKey::generate() };
    QUuid device;
    QByteArray reservation;
};

std::unique_ptr<Caller> reservedCaller(const testing::ControlPlaneProcess& server, const QString& name)
{
    auto caller = std::make_unique<Caller>();
    caller->device = testing::signInOver(server, caller->identity, name);
    const auto session
        = testing::postSigned(server, caller->identity, caller->device, "/v1/sessions/draft", {});
    const auto reserved
        = testing::postSigned(server, caller->identity, caller->device, "/v1/sessions/reserve",
            { { "session_id", QJsonDocument::fromJson(session.body).object().value("session_id") },
                { "requested_seconds", 600 } });
    caller->reservation
        = QJsonDocument::fromJson(reserved.body).object().value("reservation_id").toString().toLatin1();
    return caller;
}

// Nine accounts whose analyses the model never finishes leave the tenth what it needs: a
// speech token from the places kept for speech grants, and a place for its analysis, since
// accounts that hold their share of the places get no more of them.
TEST(ProviderCallsProcess, SlowAnalysesOfManyAccountsLeaveOthersSpeechAndAShare)
{
    testing::TestCertificates certificates;
    ASSERT_TRUE(certificates.valid());
    std::atomic<bool> holding { true };
    testing::ProviderStandIn model(certificates.serverCertificate(), certificates.serverKey(),
        [&holding](const StandInRequest& request) {
            const bool honest = request.body.find("Honest words") != std::string::npos;
            return StandInReply { 200, message(analysisAnswer), 0ms,
                [&holding, honest] { return !honest && holding.load(); } };
        });
    testing::ProviderStandIn speech(
        certificates.serverCertificate(), certificates.serverKey(), [](const StandInRequest&) {
            return StandInReply { 200, R"({"access_token":"jwt.a.b","expires_in":300})" };
        });
    QTemporaryDir dir;
    const QString key = keyFile(dir, "key", QByteArray::fromStdString(modelKey), 0600);
    testing::ControlPlaneProcess server(
        { "--dev-sign-in", "--anthropic-api-key-file", key, "--anthropic-url",
            QString::fromStdString(model.url()), "--anthropic-model", "model-test", "--deepgram-api-key-file",
            key, "--deepgram-url", QString::fromStdString(speech.url()) },
        0, { "SSL_CERT_FILE=" + certificates.caCertificate() });
    ASSERT_TRUE(server.started());
    std::vector<std::unique_ptr<Caller>> callers;
    for (int i = 0; i < 10; ++i) {
        callers.push_back(reservedCaller(server, "Caller " + QString::number(i)));
        ASSERT_FALSE(callers.back()->reservation.isEmpty());
    }
    const auto analysis = [&](const Caller& caller, const QString& words) {
        QJsonArray spoken = turns;
        spoken.append(QJsonObject { { "speaker", 0 }, { "start", 7 }, { "end", 9 }, { "text", words } });
        const QByteArray body = QJsonDocument(
            QJsonObject { { "pass", "final" }, { "rubric_version", "baseline-2026-07-17" },
                { "turns",
                    spoken } }).toJson();
        return testing::signedRequest(caller.identity, caller.device, "POST",
            "/v1/providers/anthropic/analyze", body, "X-Reservation-ID: " + caller.reservation + "\r\n");
    };

    // Four rounds, each account asking once a round; each request is let in or refused before
    // the next is sent.
    std::vector<std::unique_ptr<testing::SentRequest>> slow;
    const auto settled = [&] {
        return model.requests().size()
            + static_cast<std::size_t>(
                std::ranges::count_if(slow, [](const auto& request) { return request->answered(); }));
    };
    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 9; ++i) {
            slow.push_back(std::make_unique<testing::SentRequest>(
                server.baseUrl(), analysis(*callers[static_cast<std::size_t>(i)], "Slow words")));
            ASSERT_TRUE(slow.back()->sent());
            for (int wait = 0; wait < 1000 && settled() < slow.size(); ++wait)
                QThread::msleep(10);
            ASSERT_EQ(settled(), slow.size());
        }
    }
    EXPECT_EQ(model.requests().size(), 18u) << "two places for each of the nine accounts";

    const Caller& honest = *callers.back();
    const auto speechToken = testing::send(testing::signedPost(server, honest.identity, honest.device,
        "/v1/providers/deepgram/token", QByteArray("{}"), { { "X-Reservation-ID", honest.reservation } }));
    EXPECT_EQ(speechToken.status, 200) << speechToken.body.toStdString();
    testing::SentRequest own(server.baseUrl(), analysis(honest, "Honest words"));
    const QByteArray reply = own.reply();
    EXPECT_EQ(QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4)).object().value("model"),
        "model-test-1")
        << reply.left(300).toStdString();

    holding = false;
    for (const auto& request : slow)
        EXPECT_TRUE(request->reply().startsWith("HTTP/1.1 200"));
    EXPECT_EQ(server.stop(), 0);
}

// Accounts that keep as many speech grants under way as they may leave a bystander its token:
// under contention an account's share of the places leaves one for an account that holds none.
TEST(ProviderCallsProcess, SpeechGrantsAreSharedEvenlyBetweenAccounts)
{
    testing::TestCertificates certificates;
    ASSERT_TRUE(certificates.valid());
    std::atomic<bool> holding { true };
    testing::ProviderStandIn speech(
        certificates.serverCertificate(), certificates.serverKey(), [&holding](const StandInRequest&) {
            return StandInReply { 200, R"({"access_token":"jwt.a.b","expires_in":300})", 0ms,
                [&holding] { return holding.load(); } };
        });
    QTemporaryDir dir;
    const QString key = keyFile(dir, "key", QByteArray::fromStdString(speechKey), 0600);
    // Eight places, which speech grants may take all of.
    testing::ControlPlaneProcess server({ "--dev-sign-in", "--deepgram-api-key-file", key, "--deepgram-url",
                                            QString::fromStdString(speech.url()), "--provider-calls", "8" },
        0, { "SSL_CERT_FILE=" + certificates.caCertificate() });
    ASSERT_TRUE(server.started());
    std::vector<std::unique_ptr<Caller>> callers;
    for (const char* name : { "First", "Second", "Bystander" }) {
        callers.push_back(reservedCaller(server, name));
        ASSERT_FALSE(callers.back()->reservation.isEmpty());
    }
    std::vector<std::unique_ptr<testing::SentRequest>> tokens;
    const auto settled = [&] {
        return speech.requests().size()
            + static_cast<std::size_t>(
                std::ranges::count_if(tokens, [](const auto& request) { return request->answered(); }));
    };
    // Each asks once it knows whether the one before was let in or refused.
    const auto askForToken = [&](const Caller& caller) {
        tokens.push_back(std::make_unique<testing::SentRequest>(server.baseUrl(),
            testing::signedRequest(caller.identity, caller.device, "POST", "/v1/providers/deepgram/token",
                "{}", "X-Reservation-ID: " + caller.reservation + "\r\n")));
        for (int wait = 0; wait < 1000 && settled() < tokens.size(); ++wait)
            QThread::msleep(10);
        return settled() == tokens.size();
    };
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(askForToken(*callers[static_cast<std::size_t>(i / 4)]));
    ASSERT_TRUE(askForToken(*callers.back()));
    EXPECT_FALSE(tokens.back()->answered()) << "the bystander's grant is asked for";

    holding = false;
    const QByteArray reply = tokens.back()->reply();
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 200")) << reply.toStdString();
    EXPECT_TRUE(reply.contains("jwt.a.b")) << reply.toStdString();
    tokens.clear();
    EXPECT_EQ(server.stop(), 0);
}

} // namespace
} // namespace lumora
