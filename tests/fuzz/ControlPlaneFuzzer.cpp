// The control plane's request handling, in process, over a SQLite store in memory that holds two
// signed-in accounts, each with a private conversation; every input starts from the rows the
// store held then, put back table by table (the schema and the statements prepared on it stay),
// so that an input costs little more than its requests. The input is a small script of
// requests (ControlPlaneScript.hpp); after every reply three properties must hold:
// - no 5xx but 503: every refusal is a 4xx, and only storage trouble is a 503;
// - another account's data never leaks: a reply carries an account's private conversation
//   (its id, title or words) only to a device of that account, unless the request itself
//   named it;
// - a replayed request never succeeds twice: one signer's nonce at one time succeeds once.
#include "ControlPlaneScript.hpp"
#include "FuzzSupport.hpp"
#include "controlplane/ContentSeal.hpp"
#include "controlplane/ControlPlaneService.hpp"
#include "controlplane/ControlPlaneStore.hpp"
#include "controlplane/IdText.hpp"
#include "controlplane/RequestAuthenticator.hpp"
#include "domain/ConversationUploadCodec.hpp"
#include "domain/JsonWriting.hpp"
#include "security/DeviceIdentity.hpp"
#include "security/RecoveryRequestHeaders.hpp"
#include "security/RequestSigner.hpp"
#include "security/SignedRequestHeaders.hpp"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <sqlite3.h>
#include <string>
#include <unordered_map>
#include <vector>

using namespace lumora;
using namespace lumora::fuzzing;

namespace {

constexpr qint64 startTime = 1'800'000'000;

// One party: a key, and once signed in a device of an account. The third one starts with a
// key only; the script may sign it in under any name.
struct Party {
    QString name;
    std::optional<DeviceIdentity> identity;
    QUuid deviceID;
    QUuid accountID;
    // Texts of the account's private conversation that no one else may see.
    QStringList secrets;
};

// The rows of every table of a SQLite database, kept beside it in an attached database of its
// own, and put back when asked into the tables written to since (and those whose foreign keys
// point at them, which a cascade may have changed): parents' rows are deleted after and
// inserted before their children's, so that the foreign keys hold at every step.
class SavedRows {
public:
    explicit SavedRows(sqlite3* database)
        : m_database(database)
    {
        run("ATTACH DATABASE ':memory:' AS saved");
        std::vector<std::string> order;
        for (const std::string& table : tableNames())
            addWithParents(table, order);
        run("BEGIN");
        for (const std::string& table : order) {
            m_index.emplace(table, m_tables.size());
            run("CREATE TABLE saved.\"" + table + "\" AS SELECT * FROM main.\"" + table + "\"");
            m_tables.push_back(Table { prepared("DELETE FROM main.\"" + table + "\""),
                prepared("INSERT INTO main.\"" + table + "\" SELECT * FROM saved.\"" + table + "\""), {} });
        }
        run("COMMIT");
        for (const std::string& table : order) {
            for (const std::string& parent : parentsOf(table))
                m_tables[m_index.at(parent)].children.push_back(m_index.at(table));
        }
        m_touched.assign(m_tables.size(), false);
        sqlite3_preupdate_hook(m_database, &SavedRows::written, this);
    }
    SavedRows(const SavedRows&) = delete;
    SavedRows& operator=(const SavedRows&) = delete;

    void restore()
    {
        std::vector<bool> affected(m_tables.size(), false);
        bool any = false;
        for (std::size_t table = 0; table < m_tables.size(); ++table) {
            if (m_touched[table]) {
                mark(table, affected);
                any = true;
            }
        }
        if (!any)
            return;
        run("BEGIN");
        for (std::size_t table = m_tables.size(); table-- > 0;) {
            if (affected[table])
                step(m_tables[table].clear);
        }
        for (std::size_t table = 0; table < m_tables.size(); ++table) {
            if (affected[table])
                step(m_tables[table].refill);
        }
        run("COMMIT");
        m_touched.assign(m_tables.size(), false);
    }

private:
    struct Table {
        sqlite3_stmt* clear;
        sqlite3_stmt* refill;
        std::vector<std::size_t> children;
    };

    static void written(
        void* self, sqlite3*, int, const char* database, const char* table, sqlite3_int64, sqlite3_int64)
    {
        auto& rows = *static_cast<SavedRows*>(self);
        if (std::strcmp(database, "main") != 0)
            return;
        if (const auto found = rows.m_index.find(table); found != rows.m_index.end())
            rows.m_touched[found->second] = true;
    }

    void mark(std::size_t table, std::vector<bool>& affected) const
    {
        if (affected[table])
            return;
        affected[table] = true;
        for (const std::size_t child : m_tables[table].children)
            mark(child, affected);
    }

    void step(sqlite3_stmt* statement)
    {
        const int stepped = sqlite3_step(statement);
        sqlite3_reset(statement);
        require(stepped == SQLITE_DONE, "cannot put the store's rows back", sqlite3_errmsg(m_database));
    }

    void run(const std::string& sql)
    {
        require(sqlite3_exec(m_database, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK,
            "a statement on the saved rows failed",
            QByteArray::fromStdString(sql + ": ") + sqlite3_errmsg(m_database));
    }

    sqlite3_stmt* prepared(const std::string& sql)
    {
        sqlite3_stmt* statement = nullptr;
        require(
            sqlite3_prepare_v3(m_database, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr)
                == SQLITE_OK,
            "cannot prepare", QByteArray::fromStdString(sql));
        return statement;
    }

    // The column `column` of every row `sql` gives.
    std::vector<std::string> texts(const std::string& sql, int column)
    {
        sqlite3_stmt* statement = prepared(sql);
        std::vector<std::string> found;
        while (sqlite3_step(statement) == SQLITE_ROW)
            found.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)));
        sqlite3_finalize(statement);
        return found;
    }

    // SQLite's own tables (statistics, sequences) none of the schema's uses.
    std::vector<std::string> tableNames()
    {
        return texts("SELECT name FROM main.sqlite_master WHERE type = 'table'"
                     " AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'",
            0);
    }

    std::vector<std::string> parentsOf(const std::string& table)
    {
        std::vector<std::string> parents = texts("PRAGMA main.foreign_key_list(\"" + table + "\")", 2);
        std::erase(parents, table);
        return parents;
    }

    // Appends the table after the tables its foreign keys name.
    void addWithParents(const std::string& table, std::vector<std::string>& order)
    {
        if (std::ranges::find(order, table) != order.end())
            return;
        for (const std::string& parent : parentsOf(table))
            addWithParents(parent, order);
        order.push_back(table);
    }

    sqlite3* m_database;
    std::vector<Table> m_tables;
    std::unordered_map<std::string, std::size_t> m_index;
    std::vector<bool> m_touched;
};

struct World {
    std::unique_ptr<QCoreApplication> application;
    // The store every input runs on, and the rows each one starts from.
    std::unique_ptr<ControlPlaneStore> store;
    std::unique_ptr<SavedRows> saved;
    std::array<Party, 3> parties;
    ControlPlaneServiceSettings settings;
    std::unique_ptr<ControlPlaneService> service;
    qint64 now = startTime;
    // LUMORA_FUZZ_TRACE=1 prints every request and reply, to read what an input does.
    bool trace = false;
};

// Never destroyed: the application object cannot outlive Qt's own globals at exit.
World& world()
{
    static World* instance = new World;
    return *instance;
}

HttpRequest requestOf(std::string method, const std::string& target, std::string body,
    std::vector<std::pair<std::string, std::string>> headers = {})
{
    HttpRequest request { std::move(method), target, {}, std::move(headers), std::move(body) };
    if (const auto question = target.find('?'); question != std::string::npos) {
        request.path = target.substr(0, question);
        request.query = target.substr(question + 1);
    }
    return request;
}

QJsonObject bodyOf(const HttpResponse& response)
{
    return QJsonDocument::fromJson(QByteArray::fromStdString(response.body)).object();
}

std::string signedAuthorization(const Party& party, const std::string& method, const std::string& path,
    const std::string& body, qint64 timestamp, const QUuid& nonce, bool recovery)
{
    const QDateTime date = QDateTime::fromSecsSinceEpoch(timestamp, Qt::UTC);
    const QString methodText = QString::fromStdString(method);
    const QString pathText = QString::fromStdString(path);
    if (recovery) {
        const auto signature = RequestSigner::signRecovery(
            *party.identity, methodText, pathText, QByteArrayView(body), date, nonce);
        require(signature.has_value(), "cannot sign a recovery request");
        return signature->authorization().toStdString();
    }
    const auto signature = RequestSigner::sign(
        *party.identity, party.deviceID, methodText, pathText, QByteArrayView(body), date, nonce);
    require(signature.has_value(), "cannot sign a request");
    return signature->authorization().toStdString();
}

// The "Authorization" header of a request, signed once for all the inputs that send it: most
// inputs are small changes of others, and a signature costs more than the rest of a request.
std::string authorization(const Party& party, const std::string& method, const std::string& path,
    const std::string& body, qint64 timestamp, const QUuid& nonce, bool recovery)
{
    static std::unordered_map<std::string, std::string> made;
    const std::string key = party.name.toStdString() + '\n' + party.deviceID.toString().toStdString() + '\n'
        + (recovery ? "recovery\n" : "device\n") + method + '\n' + path + '\n' + std::to_string(timestamp)
        + '\n' + nonce.toString().toStdString() + '\n' + body;
    if (const auto found = made.find(key); found != made.end())
        return found->second;
    if (made.size() > 20'000)
        made.clear();
    return made.emplace(key, signedAuthorization(party, method, path, body, timestamp, nonce, recovery))
        .first->second;
}

// The development sign-in from start to the registration, as the setup does it once.
void signIn(ControlPlaneService& service, Party& party)
{
    const QJsonObject start { { "device_public_key", party.identity->publicKeyBase64URL() },
        { "platform", "macos" }, { "state", party.name + QStringLiteral("-state-of-the-setup") } };
    const HttpResponse started
        = service.handle(requestOf("POST", "/v1/auth/apple/web/start", compact(start).toStdString()));
    require(started.status == 200, "setup: sign-in start failed", QByteArray::fromStdString(started.body));
    const QString requestID
        = QUrlQuery(QUrl(bodyOf(started).value("authorization_url").toString())).queryItemValue("request");
    const HttpResponse submitted = service.handle(requestOf("POST", "/dev/sign-in",
        "request=" + requestID.toStdString() + "&name=" + party.name.toStdString(),
        { { "Content-Type", "application/x-www-form-urlencoded" } }));
    require(submitted.status == 302 && !submitted.headers.empty(), "setup: development sign-in failed");
    const QUrlQuery callback(QUrl(QString::fromStdString(submitted.headers[0].second)));
    const std::string path = "/v1/auth/apple/web/complete";
    const std::string body = compact(
        { { "ticket", callback.queryItemValue("ticket") }, { "state", callback.queryItemValue("state") } })
                                 .toStdString();
    const auto signature = RequestSigner::signRecovery(*party.identity, u"POST", QString::fromStdString(path),
        QByteArrayView(body), QDateTime::fromSecsSinceEpoch(startTime, Qt::UTC), QUuid::createUuid());
    require(signature.has_value(), "setup: cannot sign the redemption");
    const HttpResponse completed = service.handle(
        requestOf("POST", path, body, { { "Authorization", signature->authorization().toStdString() } }));
    require(completed.status == 200, "setup: sign-in completion failed",
        QByteArray::fromStdString(completed.body));
    party.deviceID = QUuid::fromString(bodyOf(completed).value("device_id").toString());
    party.accountID = QUuid::fromString(bodyOf(completed).value("account_id").toString());
}

void storePrivateConversation(ControlPlaneService& service, Party& party, const QUuid& id)
{
    const QString title = party.name + QStringLiteral("-private-title");
    const QString words = party.name + QStringLiteral("-private-words");
    const QString summary = party.name + QStringLiteral("-private-summary");
    ConversationUploadPayload payload;
    payload.conversationID = id;
    payload.startedAt = startTime - 120;
    payload.endedAt = startTime - 60;
    payload.durationSeconds = 60;
    payload.title = title;
    payload.transcript.segments
        = { SpeakerTurn(0, 0, 5, words), SpeakerTurn(1, 5, 9, QStringLiteral("Yes")) };
    payload.analysis = ConversationAnalysisPayload { 1, summary, {}, {}, {}, false };
    const std::string body = ConversationUploadCodec::encode(payload)->toStdString();
    const std::string path = "/v1/content/conversations";
    const HttpResponse stored = service.handle(requestOf("POST", path, body,
        { { "Authorization",
            authorization(party, "POST", path, body, startTime, QUuid::createUuid(), false) } }));
    require(
        stored.status == 201, "setup: storing a conversation failed", QByteArray::fromStdString(stored.body));
    party.secrets = { uuidText(id, UuidCase::lower), uuidText(id, UuidCase::upper), title, words, summary };
}

sqlite3* handleOf(const ControlPlaneStore& store)
{
    const QVariant handle = QSqlDatabase::database(store.connectionName(), false).driver()->handle();
    require(qstrcmp(handle.typeName(), "sqlite3*") == 0, "the store is not SQLite");
    return *static_cast<sqlite3* const*>(handle.constData());
}

void setUp(int* argc, char*** argv)
{
    World& w = world();
    w.application = std::make_unique<QCoreApplication>(*argc, *argv);
    quietQtMessages();
    w.trace = qEnvironmentVariableIntValue("LUMORA_FUZZ_TRACE") == 1;
    w.settings.devSignIn = true;
    w.settings.publicUrl = QUrl(QStringLiteral("https://127.0.0.1:8443"));
    w.settings.conversation.speechTokenSecret = std::string(32, 's');
    w.settings.contentSeal = std::make_shared<const ContentSeal>(*SymmetricKey::random256());
    const std::array<const char*, 3> names { "fuzz-alice", "fuzz-bob", "fuzz-carol" };
    for (std::size_t i = 0; i < names.size(); ++i) {
        w.parties[i].name = QString::fromLatin1(names[i]);
        w.parties[i].identity.emplace(*P256PrivateKey::generate());
    }
    auto store = ControlPlaneStore::open(QStringLiteral("sqlite::memory:"));
    require(store.has_value(), "setup: cannot open the store");
    w.store = std::move(*store);
    w.service = std::make_unique<ControlPlaneService>(*w.store, w.settings, [] { return world().now; });
    for (std::size_t i = 0; i < 2; ++i) {
        signIn(*w.service, w.parties[i]);
        storePrivateConversation(*w.service, w.parties[i], QUuid::createUuid());
    }
    w.saved = std::make_unique<SavedRows>(handleOf(*w.store));
}

// Everything the script names with ${...}: fixed names for the parties and, as replies come,
// every string and whole number a reply held under its key.
class Values {
public:
    void set(const QString& key, const QString& value) { m_values[key] = value; }

    void collect(const QJsonValue& value, const QString& key = {})
    {
        if (value.isObject()) {
            const QJsonObject object = value.toObject();
            for (auto it = object.begin(); it != object.end(); ++it)
                collect(it.value(), it.key());
        } else if (value.isArray()) {
            for (const QJsonValue& item : value.toArray())
                collect(item, key);
        } else if (value.isString() && !key.isEmpty()) {
            m_values[key] = value.toString();
            collectQuery(value.toString());
        } else if (value.isDouble() && !key.isEmpty()) {
            m_values[key] = QString::number(value.toInteger());
        }
    }

    // The query items of an address, such as the sign-in page's "request".
    void collectQuery(const QString& text)
    {
        const auto question = text.indexOf(u'?');
        if (question < 0)
            return;
        for (const auto& [key, item] : QUrlQuery(text.mid(question + 1)).queryItems(QUrl::FullyDecoded))
            m_values[key] = item;
    }

    std::string expand(const std::string& text) const
    {
        std::string result;
        std::size_t at = 0;
        while (at < text.size()) {
            const auto open = text.find("${", at);
            const auto close = open == std::string::npos ? open : text.find('}', open);
            if (close == std::string::npos) {
                result += text.substr(at);
                break;
            }
            result += text.substr(at, open - at);
            const auto found = m_values.find(QString::fromStdString(text.substr(open + 2, close - open - 2)));
            if (found != m_values.end())
                result += found->second.toStdString();
            at = close + 1;
        }
        return result;
    }

private:
    std::map<QString, QString> m_values;
};

bool containsText(const std::string& haystack, const QString& needle)
{
    return QString::fromStdString(haystack).contains(needle, Qt::CaseInsensitive);
}

// Throws nothing: whatever escapes the service would end the server's connection with a 500.
HttpResponse handled(ControlPlaneService& service, const HttpRequest& request)
{
    try {
        return service.handle(request);
    } catch (const std::exception& failure) {
        broken("an exception escaped the service", failure.what());
    } catch (...) {
        broken("an exception escaped the service");
    }
}

// Whether `reader` joined the workspace that `owner`'s private conversation was stored in (its
// first, whose id is the account's): linking shares what that workspace holds.
bool joinedWorkspaceOf(const ControlPlaneStore& store, const QUuid& owner, const QUuid& reader)
{
    QSqlQuery query(QSqlDatabase::database(store.connectionName()));
    query.prepare(
        QStringLiteral("SELECT 1 FROM workspace_members WHERE workspace_id = ? AND account_id = ?"));
    query.addBindValue(idText(owner));
    query.addBindValue(idText(reader));
    return query.exec() && query.next();
}

void checkReply(const HttpRequest& request, const HttpResponse& response, std::optional<QUuid> signerAccount,
    const std::array<Party, 3>& parties, const ControlPlaneStore& store)
{
    const QByteArray shown = QByteArray::fromStdString(
        request.method + " " + request.path + " -> " + std::to_string(response.status) + " " + response.body);
    require(response.status < 500 || response.status == 503, "a 5xx other than 503", shown);
    std::string reply = response.body;
    for (const auto& [name, value] : response.headers)
        reply += "\n" + name + ": " + value;
    std::string asked = request.path + "?" + request.query + "\n" + request.body;
    for (const auto& [name, value] : request.headers)
        asked += "\n" + name + ": " + value;
    for (const Party& owner : parties) {
        if (owner.secrets.isEmpty() || signerAccount == owner.accountID
            || (signerAccount && joinedWorkspaceOf(store, owner.accountID, *signerAccount)))
            continue;
        for (const QString& secret : owner.secrets) {
            if (containsText(reply, secret) && !containsText(asked, secret))
                broken("another account's data leaked", shown + "\nleaked: " + secret.toUtf8());
        }
    }
}

// Whether the route answers only a valid signature: every call under /v1/ but the sign-in ones,
// and the recovery call when it carries a recovery signature. The others ignore what they carry.
bool checksSignature(const std::string& path, bool recoverySignature)
{
    if (path == "/v1/auth/device/recover" || path == "/v1/auth/apple/web/complete")
        return recoverySignature;
    return path.starts_with("/v1/") && !path.starts_with("/v1/auth/");
}

} // namespace

// Looks for leaks when the process ends, not after every input that allocated more than it
// freed, unless asked to (-detect_leaks=1): the server keeps the keys of the devices it has
// seen, and nearly every input signs a new device in, so that each would end in a search of
// the whole heap, costing ten times the input itself.
void leakSearchAtTheEnd(int* argc, char*** argv)
{
    static std::vector<char*> arguments;
    static char option[] = "-detect_leaks=0";
    arguments.assign(*argv, *argv + *argc);
    arguments.insert(arguments.begin() + 1, option);
    arguments.push_back(nullptr);
    *argc += 1;
    *argv = arguments.data();
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    leakSearchAtTheEnd(argc, argv);
    setUp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    World& w = world();
    const std::vector<ScriptStep> steps
        = parseScript(std::string_view(reinterpret_cast<const char*>(data), size));
    if (steps.empty())
        return 0;

    w.saved->restore();
    w.now = startTime;
    std::array<Party, 3> parties = w.parties;
    ControlPlaneService& service = *w.service;
    ControlPlaneStore& store = *w.store;
    qint64& now = w.now;

    Values values;
    const std::array<const char*, 3> prefixes { "a", "b", "c" };
    for (std::size_t i = 0; i < parties.size(); ++i) {
        const std::string prefix = prefixes[i];
        values.set(QString::fromStdString(prefix + ".key"), parties[i].identity->publicKeyBase64URL());
        if (!parties[i].deviceID.isNull()) {
            values.set(
                QString::fromStdString(prefix + ".device"), uuidText(parties[i].deviceID, UuidCase::lower));
            values.set(QString::fromStdString(prefix + ".conversation"), parties[i].secrets.value(0));
        }
    }

    // Who signed ("device:ID" or "key:PUBLIC KEY"), the nonce and the signed time.
    using Signature = std::tuple<QString, QUuid, qint64>;
    struct Sent {
        HttpRequest request;
        std::optional<Signature> signature;
    };
    std::vector<Sent> sent;
    std::set<Signature> succeeded;
    for (const ScriptStep& step : steps) {
        if (step.kind == ScriptStep::Kind::advanceClock) {
            now += step.seconds;
            continue;
        }
        HttpRequest request;
        std::optional<Signature> signature;
        if (step.kind == ScriptStep::Kind::replay) {
            if (sent.empty())
                continue;
            const Sent& earlier = sent[step.replayIndex % sent.size()];
            request = earlier.request;
            signature = earlier.signature;
        } else {
            std::string target = values.expand(step.target);
            if (target.empty() || target[0] != '/')
                target.insert(0, 1, '/');
            const std::string body = values.expand(step.body);
            request = requestOf(step.method, target, body);
            for (const auto& [name, value] : step.headers)
                request.headers.emplace_back(name, values.expand(value));
            if (step.party && !step.ownAuthorization) {
                const Party& party = parties[*step.party];
                if (step.recovery || !party.deviceID.isNull()) {
                    const qint64 timestamp = now + step.clockOffset;
                    const QUuid nonce = scriptNonce(*step.nonce);
                    request.headers.emplace_back("Authorization",
                        authorization(
                            party, request.method, request.path, body, timestamp, nonce, step.recovery));
                    signature = Signature { step.recovery ? u"key:"_qs + party.identity->publicKeyBase64URL()
                                                          : u"device:"_qs + party.deviceID.toString(),
                        nonce, timestamp };
                }
            }
            if (step.form)
                request.headers.emplace_back("Content-Type", "application/x-www-form-urlencoded");
        }
        sent.push_back(Sent { request, signature });

        const HttpResponse response = handled(service, request);
        const bool success = response.status >= 200 && response.status < 300;
        if (w.trace) {
            std::fprintf(stderr, "%s %s?%s -> %d %.200s\n", request.method.c_str(), request.path.c_str(),
                request.query.c_str(), response.status, response.body.c_str());
        }

        // The account a reply may speak for: the signing device's, when the signature held.
        std::optional<QUuid> signerAccount;
        const QJsonObject replyObject = bodyOf(response);
        if (signature && success) {
            const QString& signer = std::get<0>(*signature);
            if (signer.startsWith(u"key:")) {
                signerAccount = QUuid::fromString(replyObject.value("account_id").toString());
            } else if (const auto device = store.device(QUuid::fromString(signer.mid(7)))) {
                signerAccount = device->accountID;
            }
        }
        checkReply(request, response, signerAccount, parties, store);

        if (signature && success
            && checksSignature(request.path, std::get<0>(*signature).startsWith(u"key:"))) {
            const QByteArray shown = QByteArray::fromStdString(request.method + " " + request.path);
            require(succeeded.insert(*signature).second, "a replayed request succeeded twice", shown);
            const qint64 signedAt = std::get<2>(*signature);
            require(signedAt >= now - RequestAuthenticator::allowedClockSkew
                    && signedAt <= now + RequestAuthenticator::allowedClockSkew,
                "a request signed out of the allowed clock skew succeeded", shown);
        }
        // A party that finished a sign-in or recovery signs with the device it was given.
        if (success && step.party && replyObject.contains("device_id")
            && (request.path == "/v1/auth/apple/web/complete" || request.path == "/v1/auth/device/recover")) {
            Party& party = parties[*step.party];
            party.deviceID = QUuid::fromString(replyObject.value("device_id").toString());
            const std::string prefix = prefixes[*step.party];
            values.set(QString::fromStdString(prefix + ".device"), uuidText(party.deviceID, UuidCase::lower));
        }
        values.collect(replyObject);
        for (const auto& header : response.headers)
            values.collectQuery(QString::fromStdString(header.second));
        if (response.headers.empty() && response.contentType.starts_with("text/html")) {
            // The development page names its sign-in request in a hidden field.
            const QString page = QString::fromStdString(response.body);
            const auto at = page.indexOf(QStringLiteral("name=\"request\" value=\""));
            if (at >= 0)
                values.set(QStringLiteral("request"), page.mid(at + 22, 36));
        }
    }
    return 0;
}
