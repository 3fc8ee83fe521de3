#pragma once

#include "RoomModel.hpp"

#include <QUuid>
#include <optional>

namespace lumora {

class SessionViewModel;

// The rooms' model over the session view model: it forwards each change signal, keeps the live
// transcript's rows current, and turns the view model's optional and keyed values into the
// model's. Operations start the view model's own and return at once.
class RoomModelAdapter final : public RoomModel {
    Q_OBJECT

public:
    explicit RoomModelAdapter(SessionViewModel& viewModel, QObject* parent = nullptr);

    [[nodiscard]] bool isRecording() const override;
    [[nodiscard]] bool isPaused() const override;
    [[nodiscard]] bool isProcessing() const override;
    [[nodiscard]] bool isStartingConversation() const override;
    [[nodiscard]] bool isCheckinOpening() const override;
    [[nodiscard]] double elapsed() const override;
    [[nodiscard]] Readiness startReadiness() const override;
    [[nodiscard]] QString errorMessage() const override;
    void setErrorMessage(const QString& message) override;
    [[nodiscard]] QString statusText() const override;
    void setStatusText(const QString& text) override;
    [[nodiscard]] QString finishNotice() const override { return m_finishNotice; }

    [[nodiscard]] const QList<BehaviorAnnotation>& liveAnnotations() const override;
    [[nodiscard]] const QList<ProcessFoulAnnotation>& liveFouls() const override;
    [[nodiscard]] int selectedAgendaStep() const override;
    void setSelectedAgendaStep(int step) override;
    [[nodiscard]] QString liveStepNote() const override;
    [[nodiscard]] std::optional<HarshStartupEvidence> liveStartup() const override;
    [[nodiscard]] std::optional<CircularityEvidence> liveCircularity() const override;
    void clearLiveCircularity() override;
    [[nodiscard]] QString currentSessionID() const override;

    [[nodiscard]] bool sidesSwapped() const override;
    void setSidesSwapped(bool swapped) override;
    [[nodiscard]] QStringList participantNames() const override;
    [[nodiscard]] QString participantName(int speaker) const override;
    [[nodiscard]] std::optional<QString> liveNudge(int seat) const override;
    [[nodiscard]] std::optional<ConversationNudge> contextualNudge(int seat) const override;
    [[nodiscard]] bool isNudgeLoading(int seat) const override;
    [[nodiscard]] QString nudgeError(int seat) const override;

    [[nodiscard]] const std::optional<CheckinPack>& checkinPack() const override;
    [[nodiscard]] std::optional<CheckinFlow> checkinFlow() const override;
    [[nodiscard]] bool isCheckinFinished() const override;
    [[nodiscard]] bool isCheckinRunning() const override;

    void toggleRecording() override;
    void finishConversation() override;
    void togglePause() override;
    void requestContextualNudge(int speaker) override;
    void openCheckin() override;
    void closeCheckin() override;
    void goBackCheckinSection() override;
    void advanceCheckinSection() override;

protected:
    void clearFinishNotice() override;

private:
    // Publishes the readiness and the session id when what they are made of changed them.
    void followReadiness();
    void followSession();
    // A finish begins or ends: at its end the status line becomes the notice when the review of
    // the conversation or check-in it began with is saved.
    void followFinish();
    void setFinishNotice(const QString& notice);

    SessionViewModel& m_viewModel;
    Readiness m_readiness;
    QString m_sessionID;
    QString m_finishNotice;
    // The conversation or check-in being finished.
    std::optional<QUuid> m_finishing;
};

} // namespace lumora
