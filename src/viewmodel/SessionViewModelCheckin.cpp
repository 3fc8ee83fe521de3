// The check-in, reminder and seat-name operations of the session view model.
#include "appcore/CheckinService.hpp"
#include "domain/CheckinBundledPack.hpp"
#include "domain/CheckinReminderPolicy.hpp"
#include "viewmodel/CheckinReminderScheduler.hpp"
#include "viewmodel/SeatNames.hpp"
#include "viewmodel/SessionViewModel.hpp"

#include <QJsonDocument>
#include <QSettings>
#include <cmath>

namespace lumora {

namespace {

const QString reminderKey = QStringLiteral("corvane.checkinReminder");

double sectionTime(double elapsed)
{
    return std::isnan(elapsed) || elapsed < 0 ? 0 : elapsed;
}

} // namespace

QCoro::Task<void> SessionViewModel::openCheckin()
{
    if (m_isRecording || m_isPaused || m_isProcessing || m_isCheckinOpening || m_checkinPack)
        co_return;
    publish(m_isCheckinOpening, true, &SessionViewModel::isCheckinOpeningChanged);
    publish(m_errorMessage, std::optional<QString>(), &SessionViewModel::errorMessageChanged);
    std::optional<CheckinPack> pack;
    if (const auto service = m_checkinService) {
        const auto alive = lifetime();
        pack = co_await service->pack(m_environment.clock());
        if (alive.expired())
            co_return;
    } else
        pack = CheckinBundledPack::pack(m_environment.clock());
    const qint64 sections = pack->sections.size();
    publish(m_checkinPack, std::move(pack), &SessionViewModel::checkinPackChanged);
    publish(m_checkinFlow, std::optional(CheckinFlow(std::max<qint64>(sections, 1), 0, 0)),
        &SessionViewModel::checkinFlowChanged);
    publish(m_isCheckinFinished, false, &SessionViewModel::isCheckinFinishedChanged);
    publish(m_statusText, QStringLiteral("Ready when you both are"), &SessionViewModel::statusTextChanged);
    publish(m_isCheckinOpening, false, &SessionViewModel::isCheckinOpeningChanged);
}

void SessionViewModel::requestCheckin()
{
    start(openCheckin());
}

void SessionViewModel::closeCheckin()
{
    // A start under way records into the check-in: leaving now would save it as a conversation.
    if (isCheckinRunning() || m_isStartingConversation)
        return;
    publish(m_checkinPack, std::optional<CheckinPack>(), &SessionViewModel::checkinPackChanged);
    publish(m_checkinFlow, std::optional<CheckinFlow>(), &SessionViewModel::checkinFlowChanged);
    publish(m_isCheckinFinished, false, &SessionViewModel::isCheckinFinishedChanged);
    m_sessionMode = ConversationMode::conversation;
    publish(m_statusText,
        isSignedIn() ? QStringLiteral("Ready to record") : QStringLiteral("Sign in to begin"),
        &SessionViewModel::statusTextChanged);
}

void SessionViewModel::goBackCheckinSection()
{
    if (!m_checkinFlow)
        return;
    CheckinFlow flow = *m_checkinFlow;
    if (flow.goBack(sectionTime(m_elapsed)))
        publish(m_checkinFlow, std::optional(flow), &SessionViewModel::checkinFlowChanged);
}

void SessionViewModel::advanceCheckinSection()
{
    if (!m_checkinFlow)
        return;
    CheckinFlow flow = *m_checkinFlow;
    if (flow.advance(sectionTime(m_elapsed)))
        publish(m_checkinFlow, std::optional(flow), &SessionViewModel::checkinFlowChanged);
}

bool SessionViewModel::isCheckinRunning() const
{
    return m_sessionMode == ConversationMode::checkin && (m_isRecording || m_isPaused || m_isProcessing);
}

std::optional<QDateTime> SessionViewModel::lastCheckinAt() const
{
    std::optional<QDateTime> latest;
    for (const ConversationHistoryEntry& entry : m_historyEntries) {
        if (entry.mode == ConversationMode::checkin && (!latest || entry.completedAt > *latest))
            latest = entry.completedAt;
    }
    return latest;
}

CheckinReminderSettings SessionViewModel::storedReminder(const QSettings& preferences)
{
    const QVariant entry = preferences.value(reminderKey);
    if (entry.typeId() != QMetaType::QByteArray)
        return CheckinReminderSettings::standard();
    const QJsonDocument document = QJsonDocument::fromJson(entry.toByteArray());
    if (!document.isObject())
        return CheckinReminderSettings::standard();
    return CheckinReminderSettings::fromJson(document.object()).value_or(CheckinReminderSettings::standard());
}

void SessionViewModel::storeReminder(QSettings& preferences, const CheckinReminderSettings& settings)
{
    preferences.setValue(reminderKey, QJsonDocument(settings.toJson()).toJson(QJsonDocument::Compact));
}

QCoro::Task<void> SessionViewModel::setCheckinReminder(CheckinReminderSettings settings)
{
    // The user's last choice decides, not the last call to finish: a call that waited for the
    // permission answer while a later one started publishes, stores and schedules nothing.
    const quint64 request = ++m_reminderRequests;
    publish(m_reminderNote, std::optional<QString>(), &SessionViewModel::reminderNoteChanged);
    if (settings.isOn) {
        const auto scheduler = m_reminderScheduler;
        const auto alive = lifetime();
        const NotificationPermission permission = co_await scheduler->requestPermission();
        if (alive.expired() || request != m_reminderRequests)
            co_return;
        if (permission != NotificationPermission::granted) {
            const CheckinReminderSettings off(false, settings.weekday, settings.hour, settings.minute);
            publish(m_checkinReminder, off, &SessionViewModel::checkinReminderChanged);
            storeReminder(preferences(), off);
            co_await scheduler->removePending();
            if (!alive.expired() && request == m_reminderRequests)
                publish(m_reminderNote,
                    std::optional(permission == NotificationPermission::noNotificationServer
                            ? noNotificationServerNote()
                            : reminderPermissionNote()),
                    &SessionViewModel::reminderNoteChanged);
            co_return;
        }
    }
    publish(m_checkinReminder, settings, &SessionViewModel::checkinReminderChanged);
    storeReminder(preferences(), settings);
    co_await rescheduleCheckinReminder();
}

QCoro::Task<void> SessionViewModel::turnReminderOff()
{
    CheckinReminderSettings off = m_checkinReminder;
    off.isOn = false;
    co_await setCheckinReminder(off);
}

void SessionViewModel::changeCheckinReminder(bool isOn, int weekday, int hour, int minute)
{
    CheckinReminderSettings settings;
    settings.isOn = isOn;
    settings.weekday = weekday;
    settings.hour = hour;
    settings.minute = minute;
    start(setCheckinReminder(settings));
}

QCoro::Task<void> SessionViewModel::rescheduleCheckinReminder()
{
    const auto scheduler = m_reminderScheduler;
    // An account whose deletion is not finished reminds no one.
    const auto next = PendingAccountDeletion::stored(preferences())
        ? std::nullopt
        : CheckinReminderPolicy::nextReminder(
            m_environment.clock(), m_checkinReminder, lastCheckinAt(), m_environment.timeZone);
    if (next)
        co_await scheduler->schedule(next->toTimeZone(m_environment.timeZone));
    else
        co_await scheduler->removePending();
}

QString SessionViewModel::participantName(qint64 speaker) const
{
    const int seat = SeatNames::seat(speaker);
    if (seat < m_participantNames.size())
        return m_participantNames.at(seat);
    return SeatNames::fallback(seat);
}

void SessionViewModel::updateParticipantName(int side, const QString& name)
{
    const int seat = SeatNames::seat(side);
    QString value = SeatNames::cleaned(name);
    if (value.isEmpty())
        value = SeatNames::fallback(seat);
    QStringList names = m_participantNames;
    while (names.size() < 2)
        names.append(SeatNames::fallback(names.size()));
    names[seat] = value;
    publish(m_participantNames, std::move(names), &SessionViewModel::participantNamesChanged);
    preferences().setValue(SeatNames::preferenceKey(seat), value);
}

} // namespace lumora
