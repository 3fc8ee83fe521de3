#pragma once

#include "CheckinValues.hpp"
#include "LiveTurnList.hpp"
#include "domain/BehaviorAnnotation.hpp"
#include "domain/CheckinFlow.hpp"
#include "domain/CheckinPack.hpp"
#include "domain/ProcessFoulAnnotation.hpp"
#include "wire/CircularityEvidence.hpp"
#include "wire/ConversationNudge.hpp"
#include "wire/HarshStartupEvidence.hpp"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumora {

// What the conversation room and the check-in room read and call of the session: the run
// flags and the clock, the live transcript and its findings, the agenda step, the seats and
// their coaching, the open check-in, and the operations that start, pause and finish a
// recording. An absent text is empty. Every operation starts at once and reports through the
// published state. The shell hands in the adapter over the session view model; window tests
// hand in a fake.
//
// Values that the rooms' C++ state reads whole (findings, evidence, coaching answers, the
// check-in's pack and cursor) are plain accessors beside their change signals; QML reads
// what those states make of them.
class RoomModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The rooms read the model the shell hands them.")
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(bool isPaused READ isPaused NOTIFY isPausedChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(bool isStartingConversation READ isStartingConversation NOTIFY isStartingConversationChanged)
    Q_PROPERTY(bool isCheckinOpening READ isCheckinOpening NOTIFY isCheckinOpeningChanged)
    Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(Readiness startReadiness READ startReadiness NOTIFY startReadinessChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage WRITE setErrorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(QString statusText READ statusText WRITE setStatusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString finishNotice READ finishNotice NOTIFY finishNoticeChanged)
    Q_PROPERTY(lumora::LiveTurnList* liveTurns READ liveTurns CONSTANT)
    Q_PROPERTY(int selectedAgendaStep READ selectedAgendaStep WRITE setSelectedAgendaStep NOTIFY
            selectedAgendaStepChanged)
    Q_PROPERTY(QString liveStepNote READ liveStepNote NOTIFY liveStepNoteChanged)
    Q_PROPERTY(QString currentSessionID READ currentSessionID NOTIFY currentSessionIDChanged)
    Q_PROPERTY(bool sidesSwapped READ sidesSwapped WRITE setSidesSwapped NOTIFY sidesSwappedChanged)
    Q_PROPERTY(QStringList participantNames READ participantNames NOTIFY participantNamesChanged)
    Q_PROPERTY(bool hasCheckinPack READ hasCheckinPack NOTIFY checkinPackChanged)
    Q_PROPERTY(lumora::CheckinPackValue checkinPackValue READ checkinPackValue NOTIFY checkinPackChanged)
    Q_PROPERTY(lumora::CheckinFlowValue checkinFlowValue READ checkinFlowValue NOTIFY checkinFlowChanged)
    Q_PROPERTY(bool isCheckinFinished READ isCheckinFinished NOTIFY isCheckinFinishedChanged)
    Q_PROPERTY(bool isCheckinRunning READ isCheckinRunning NOTIFY isCheckinRunningChanged)

public:
    // Whether a conversation or check-in may start now, or what is missing.
    enum Readiness { Ready, NeedsRecordingAgreement, NeedsSignIn, TemporarilyUnavailable };
    Q_ENUM(Readiness)

    explicit RoomModel(QObject* parent = nullptr);

    [[nodiscard]] virtual bool isRecording() const = 0;
    [[nodiscard]] virtual bool isPaused() const = 0;
    [[nodiscard]] virtual bool isProcessing() const = 0;
    [[nodiscard]] virtual bool isStartingConversation() const = 0;
    [[nodiscard]] virtual bool isCheckinOpening() const = 0;
    // Recorded seconds, pauses left out.
    [[nodiscard]] virtual double elapsed() const = 0;
    [[nodiscard]] virtual Readiness startReadiness() const = 0;
    [[nodiscard]] virtual QString errorMessage() const = 0;
    // An empty text clears the error.
    virtual void setErrorMessage(const QString& message) = 0;
    [[nodiscard]] virtual QString statusText() const = 0;
    virtual void setStatusText(const QString& text) = 0;
    // The status line a finish ended with, once its review is saved ("Conversation ready to
    // review", "Check-in saved", or why the review is not what it would be); empty after a finish
    // that saved nothing, once dismissed, and from the next start on. The conversation room shows
    // a conversation's, the check-in's saved panel a check-in's.
    [[nodiscard]] virtual QString finishNotice() const = 0;
    // Puts the notice away, and with it the failure that says the same (a review kept on this
    // computer), which would otherwise come back as a failure once the notice is gone.
    Q_INVOKABLE void dismissFinishNotice();

    // The live transcript; the adapter or fake keeps it current.
    [[nodiscard]] LiveTurnList* liveTurns() const { return m_liveTurns; }
    [[nodiscard]] const QList<SpeakerTurn>& turns() const { return m_liveTurns->turns(); }
    [[nodiscard]] virtual const QList<BehaviorAnnotation>& liveAnnotations() const = 0;
    [[nodiscard]] virtual const QList<ProcessFoulAnnotation>& liveFouls() const = 0;

    // The agenda step, 0 to 5.
    [[nodiscard]] virtual int selectedAgendaStep() const = 0;
    virtual void setSelectedAgendaStep(int step) = 0;
    [[nodiscard]] virtual QString liveStepNote() const = 0;
    [[nodiscard]] virtual std::optional<HarshStartupEvidence> liveStartup() const = 0;
    [[nodiscard]] virtual std::optional<CircularityEvidence> liveCircularity() const = 0;
    // The room closed the repeated-cycle prompt: the evidence is spent.
    Q_INVOKABLE virtual void clearLiveCircularity() = 0;
    // The server session of the running conversation; empty while there is none.
    [[nodiscard]] virtual QString currentSessionID() const = 0;

    [[nodiscard]] virtual bool sidesSwapped() const = 0;
    virtual void setSidesSwapped(bool swapped) = 0;
    // The names of the left and the right seat.
    [[nodiscard]] virtual QStringList participantNames() const = 0;
    // The display name of a speaker's seat (|speaker| mod 2): its stored name, else "Person "
    // and the seat's number.
    [[nodiscard]] Q_INVOKABLE virtual QString participantName(int speaker) const = 0;

    // Coaching per seat (0 left, 1 right): the live analysis's nudge, the on-demand answer,
    // whether a request is in flight and its failure text (empty without one).
    [[nodiscard]] virtual std::optional<QString> liveNudge(int seat) const = 0;
    [[nodiscard]] virtual std::optional<ConversationNudge> contextualNudge(int seat) const = 0;
    [[nodiscard]] virtual bool isNudgeLoading(int seat) const = 0;
    [[nodiscard]] virtual QString nudgeError(int seat) const = 0;

    // The open check-in.
    [[nodiscard]] virtual const std::optional<CheckinPack>& checkinPack() const = 0;
    [[nodiscard]] virtual std::optional<CheckinFlow> checkinFlow() const = 0;
    [[nodiscard]] bool hasCheckinPack() const { return checkinPack().has_value(); }
    [[nodiscard]] CheckinPackValue checkinPackValue() const { return CheckinPackValue::of(checkinPack()); }
    [[nodiscard]] CheckinFlowValue checkinFlowValue() const { return CheckinFlowValue::of(checkinFlow()); }
    [[nodiscard]] virtual bool isCheckinFinished() const = 0;
    // A check-in is being recorded, paused or processed.
    [[nodiscard]] virtual bool isCheckinRunning() const = 0;

    // Begins a conversation (or the open check-in's recording), or finishes the running one.
    Q_INVOKABLE virtual void toggleRecording() = 0;
    Q_INVOKABLE virtual void finishConversation() = 0;
    Q_INVOKABLE virtual void togglePause() = 0;
    // One coaching request for the speaker's seat.
    Q_INVOKABLE virtual void requestContextualNudge(int speaker) = 0;
    Q_INVOKABLE virtual void openCheckin() = 0;
    Q_INVOKABLE virtual void closeCheckin() = 0;
    Q_INVOKABLE virtual void goBackCheckinSection() = 0;
    Q_INVOKABLE virtual void advanceCheckinSection() = 0;

signals:
    void isRecordingChanged();
    void isPausedChanged();
    void isProcessingChanged();
    void isStartingConversationChanged();
    void isCheckinOpeningChanged();
    void elapsedChanged();
    void startReadinessChanged();
    void errorMessageChanged();
    void statusTextChanged();
    void finishNoticeChanged();
    void liveAnnotationsChanged();
    void liveFoulsChanged();
    void selectedAgendaStepChanged();
    void liveStepNoteChanged();
    void liveStartupChanged();
    void liveCircularityChanged();
    void currentSessionIDChanged();
    void sidesSwappedChanged();
    void participantNamesChanged();
    void liveNudgesChanged();
    void contextualNudgesChanged();
    void nudgeLoadingSidesChanged();
    void nudgeErrorsChanged();
    void checkinPackChanged();
    void checkinFlowChanged();
    void isCheckinFinishedChanged();
    void isCheckinRunningChanged();

protected:
    // Empties the finish notice alone.
    virtual void clearFinishNotice() = 0;

private:
    LiveTurnList* m_liveTurns;
};

} // namespace lumora
