#include "ServiceFixture.hpp"
#include "controlplane/CheckinPromptBank.hpp"
#include "domain/CheckinBundledPack.hpp"
#include "domain/CheckinWeek.hpp"

#include <QJsonDocument>
#include <QSet>

namespace lumora {
namespace {

using testing::bodyOf;
using testing::newIdentity;

constexpr qint64 day = 24 * 60 * 60;

class CheckinEndpointsTest : public testing::ControlPlaneServiceTest {
protected:
    CheckinEndpointsTest()
        : identity(newIdentity())
        , device(signIn(identity, "Ada"))
    {
    }

    CheckinPack fetch(const DeviceIdentity& caller, const DeviceRecord& callerDevice)
    {
        const HttpResponse reply = sendSigned(caller, callerDevice.id, "GET", "/v1/content/checkins/pack");
        EXPECT_EQ(reply.status, 200) << reply.body;
        const auto pack = CheckinPack::fromJson(bodyOf(reply).value("pack"));
        EXPECT_TRUE(pack.has_value());
        return pack.value_or(CheckinPack {});
    }

    CheckinPack fetch() { return fetch(identity, device); }

    static QSet<QString> promptTexts(const CheckinPack& pack)
    {
        QSet<QString> texts;
        for (const CheckinSection& section : pack.sections)
            for (const CheckinPrompt& prompt : section.prompts)
                texts.insert(prompt.text);
        return texts;
    }

    DeviceIdentity identity;
    DeviceRecord device;
};

TEST_F(CheckinEndpointsTest, AnswersAUsableModelPackOfTheUtcWeek)
{
    now = QDateTime(QDate(2026, 2, 12), QTime(23, 30), QTimeZone::utc()).toSecsSinceEpoch();
    const CheckinPack pack = fetch();
    EXPECT_TRUE(pack.isUsable());
    EXPECT_EQ(pack.source, CheckinPackSource::model);
    EXPECT_EQ(pack.week, "2026-W07");
    EXPECT_EQ(
        pack.generatedAt, QDateTime(QDate(2026, 2, 9), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch());
    EXPECT_FALSE(pack.questionID.isEmpty());
    EXPECT_EQ(pack.note, std::nullopt);
    // Every prompt of the week is a different one.
    EXPECT_EQ(promptTexts(pack).size(), 7);
    // The reply carries the pack's own snake-case keys.
    const QJsonObject json = bodyOf(sendSigned(identity, device.id, "GET", "/v1/content/checkins/pack"));
    EXPECT_TRUE(json.value("pack").toObject().contains("generated_at"));
    EXPECT_TRUE(json.value("pack").toObject().contains("question_id"));
}

TEST_F(CheckinEndpointsTest, TheSameWeekGivesTheSamePackToEveryDeviceOfTheWorkspace)
{
    now = QDateTime(QDate(2026, 2, 9), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
    const CheckinPack monday = fetch();
    const DeviceIdentity laptop = newIdentity();
    const DeviceRecord laptopDevice = signIn(laptop, "Ada");
    ASSERT_EQ(laptopDevice.accountID, device.accountID);

    now += 7 * day - 1; // the last second of Sunday
    EXPECT_EQ(fetch(), monday);
    EXPECT_EQ(fetch(laptop, laptopDevice), monday);
    now += 1;
    EXPECT_NE(fetch().week, monday.week);
}

TEST_F(CheckinEndpointsTest, ConsecutiveWeeksShareNoPromptAcrossTheTurnOfTheYear)
{
    // 2026 has 53 ISO weeks; the run crosses into 2027 and on into 2028.
    now = QDateTime(QDate(2026, 11, 2), QTime(12, 0), QTimeZone::utc()).toSecsSinceEpoch();
    CheckinPack previous = fetch();
    QSet<QString> questions { previous.questionID };
    QSet<QString> served = promptTexts(previous);
    QSet<QString> builtIn;
    for (int week = 1; week < 64; ++week) {
        now += 7 * day;
        const CheckinPack pack = fetch();
        EXPECT_TRUE(pack.isUsable()) << pack.week.toStdString();
        EXPECT_NE(pack.week, previous.week);
        EXPECT_NE(pack.questionID, previous.questionID) << pack.week.toStdString();
        EXPECT_FALSE(promptTexts(pack).intersects(promptTexts(previous))) << pack.week.toStdString();
        questions.insert(pack.questionID);
        served.unite(promptTexts(pack));
        builtIn.unite(
            promptTexts(CheckinBundledPack::pack(QDateTime::fromSecsSinceEpoch(now, QTimeZone::utc()))));
        previous = pack;
    }
    // The server's bank is its own, not the built-in pack under another source.
    EXPECT_FALSE(served.intersects(builtIn));
    // The whole question bank comes round, not just two alternating questions.
    EXPECT_GE(questions.size(), 10);
}

TEST_F(CheckinEndpointsTest, WorkspacesStartAtDifferentPointsOfTheBank)
{
    const auto first = QUuid::fromString(QStringLiteral("6f1c2a40-0d5e-4b7a-9a53-1e0c9d2f7b11"));
    const auto second = QUuid::fromString(QStringLiteral("0b9e8d7c-6a5f-4e3d-8c2b-1a0f9e8d7c6b"));
    const qint64 monday = QDateTime(QDate(2026, 2, 9), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
    const CheckinPack a = CheckinPromptBank::compose(first, "2026-W07", monday);
    EXPECT_EQ(CheckinPromptBank::compose(first, "2026-W07", monday), a);
    EXPECT_NE(CheckinPromptBank::compose(second, "2026-W07", monday).sections, a.sections);
}

TEST_F(CheckinEndpointsTest, OnlySignedGetsAreAnswered)
{
    EXPECT_EQ(send("GET", "/v1/content/checkins/pack").status, 401);
    const HttpResponse post = sendSigned(identity, device.id, "POST", "/v1/content/checkins/pack");
    EXPECT_EQ(post.status, 405);
    EXPECT_EQ(bodyOf(post).value("error"), "method_not_allowed");
}

} // namespace
} // namespace lumora

namespace lumora {
namespace {

using testing::bodyOf;

TEST_F(CheckinEndpointsTest, LinkedPartnersShareTheirWorkspacesPack)
{
    const DeviceIdentity partner = testing::newIdentity();
    const DeviceRecord partnerDevice = signIn(partner, "Bob");
    ASSERT_NE(fetch(partner, partnerDevice), fetch());

    auto post = [this](const DeviceIdentity& who, const DeviceRecord& on, const char* path,
                    const QJsonObject& body) {
        const HttpResponse reply
            = sendSigned(who, on.id, "POST", path, QJsonDocument(body).toJson().toStdString());
        EXPECT_EQ(reply.status, 200) << reply.body;
        return bodyOf(reply);
    };
    const QJsonObject invite
        = post(identity, device, "/v1/pairing/invites", { { "policy_version", "pairing-2026-08-18" } });
    post(partner, partnerDevice, "/v1/pairing/invites/redeem", { { "code", invite.value("code") } });
    post(partner, partnerDevice, "/v1/pairing/invites/confirm",
        { { "invite_id", invite.value("invite_id") }, { "policy_version", "pairing-2026-08-18" } });

    EXPECT_EQ(fetch(partner, partnerDevice), fetch());
}

} // namespace
} // namespace lumora
