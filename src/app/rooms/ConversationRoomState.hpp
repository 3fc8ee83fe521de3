#pragma once

#include "AgendaStepRows.hpp"
#include "LiveGuidance.hpp"
#include "PartnerCornerValues.hpp"
#include "PressGuard.hpp"
#include "RoomModel.hpp"
#include "RoomMoments.hpp"
#include "TranscriptRows.hpp"
#include "domain/CircularityGate.hpp"
#include "domain/ConversationTurn.hpp"
#include "domain/SpeakerStats.hpp"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QtQml/qqmlregistration.h>
#include <optional>

namespace lumora {

// The conversation room's own state and rules: the rehearsal player and its clock, the live
// guidance with its three overlays, the transcript grouped per seat, and every value the
// room's views show, derived from the room model (or the rehearsal script while one plays).
// The room's QML makes one, hands it the model and binds to it; each value has its own change
// signal, so a ticking clock re-evaluates only what reads the clock.
class ConversationRoomState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(lumora::RoomModel* model READ model WRITE setModel NOTIFY modelChanged REQUIRED)

    Q_PROPERTY(bool rehearsalActive READ rehearsalActive NOTIFY rehearsalActiveChanged)
    Q_PROPERTY(double rehearsalElapsed READ rehearsalElapsed NOTIFY rehearsalElapsedChanged)
    Q_PROPERTY(bool rehearsalPaused READ rehearsalPaused NOTIFY rehearsalPausedChanged)
    Q_PROPERTY(bool rehearsalEnded READ rehearsalEnded NOTIFY rehearsalEndedChanged)
    Q_PROPERTY(bool showedBreak READ showedBreak NOTIFY showedBreakChanged)
    Q_PROPERTY(bool showBreak READ showBreak NOTIFY showBreakChanged)
    Q_PROPERTY(bool showCircularity READ showCircularity NOTIFY showCircularityChanged)
    Q_PROPERTY(bool turnExtensionUsed READ turnExtensionUsed NOTIFY turnExtensionUsedChanged)
    Q_PROPERTY(bool dismissedFinalFloor READ dismissedFinalFloor NOTIFY dismissedFinalFloorChanged)
    Q_PROPERTY(bool showThreadMessage READ showThreadMessage NOTIFY showThreadMessageChanged)
    Q_PROPERTY(bool roomHasAppeared READ roomHasAppeared NOTIFY roomHasAppearedChanged)
    // Whether the transcript keeps its newest row in view: until the user scrolls up, and again
    // once they scroll back to the end. The room's, so that a new arrangement's list follows it.
    Q_PROPERTY(bool transcriptFollowsLatest READ transcriptFollowsLatest WRITE setTranscriptFollowsLatest
            NOTIFY transcriptFollowsLatestChanged)
    Q_PROPERTY(lumora::TranscriptRows* rows READ rows CONSTANT)

    Q_PROPERTY(int turnCount READ turnCount NOTIFY turnCountChanged)
    Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(bool active READ active NOTIFY activeChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString agendaNote READ agendaNote NOTIFY agendaNoteChanged)
    Q_PROPERTY(lumora::AgendaStepRows* agendaSteps READ agendaSteps CONSTANT)
    Q_PROPERTY(int selectedStep READ selectedStep NOTIFY selectedStepChanged)
    Q_PROPERTY(QString stepGuidance READ stepGuidance NOTIFY stepGuidanceChanged)
    Q_PROPERTY(QString stepStarter READ stepStarter NOTIFY stepStarterChanged)

    Q_PROPERTY(bool showsPill READ showsPill NOTIFY showsPillChanged)
    Q_PROPERTY(QString pillLabel READ pillLabel NOTIFY pillLabelChanged)
    Q_PROPERTY(bool pillDotLive READ pillDotLive NOTIFY pillDotLiveChanged)
    Q_PROPERTY(bool showsClock READ showsClock NOTIFY showsClockChanged)
    Q_PROPERTY(QString clockText READ clockText NOTIFY clockTextChanged)

    Q_PROPERTY(QStringList speakerNames READ speakerNames NOTIFY speakerNamesChanged)
    Q_PROPERTY(QString primaryLabel READ primaryLabel NOTIFY primaryLabelChanged)
    Q_PROPERTY(QString primaryIcon READ primaryIcon NOTIFY primaryIconChanged)
    Q_PROPERTY(QString primaryAccessibilityLabel READ primaryAccessibilityLabel NOTIFY
            primaryAccessibilityLabelChanged)
    Q_PROPERTY(bool primaryEnabled READ primaryEnabled NOTIFY primaryEnabledChanged)
    Q_PROPERTY(bool primaryActive READ primaryActive NOTIFY primaryActiveChanged)
    Q_PROPERTY(bool showsEntryButtons READ showsEntryButtons NOTIFY showsEntryButtonsChanged)
    Q_PROPERTY(QString checkinLabel READ checkinLabel NOTIFY checkinLabelChanged)
    Q_PROPERTY(bool checkinEnabled READ checkinEnabled NOTIFY checkinEnabledChanged)
    Q_PROPERTY(bool showsPause READ showsPause NOTIFY showsPauseChanged)
    Q_PROPERTY(QString pauseLabel READ pauseLabel NOTIFY pauseLabelChanged)
    Q_PROPERTY(QString pauseIcon READ pauseIcon NOTIFY pauseIconChanged)
    Q_PROPERTY(bool showsProcessingNote READ showsProcessingNote NOTIFY showsProcessingNoteChanged)
    Q_PROPERTY(QString bannerMessage READ bannerMessage NOTIFY bannerMessageChanged)
    Q_PROPERTY(QString latestRowKey READ latestRowKey NOTIFY latestRowKeyChanged)
    Q_PROPERTY(lumora::RoomMoments moments READ moments NOTIFY momentsChanged)
    Q_PROPERTY(int warmCount READ warmCount NOTIFY warmCountChanged)
    Q_PROPERTY(int hardCount READ hardCount NOTIFY hardCountChanged)
    Q_PROPERTY(double arcDuration READ arcDuration NOTIFY arcDurationChanged)
    Q_PROPERTY(lumora::PartnerCornerValues leftCorner READ leftCorner NOTIFY leftCornerChanged)
    Q_PROPERTY(lumora::PartnerCornerValues rightCorner READ rightCorner NOTIFY rightCornerChanged)

    Q_PROPERTY(Overlay overlay READ overlay NOTIFY overlayChanged)
    Q_PROPERTY(QString floorName READ floorName NOTIFY floorNameChanged)
    Q_PROPERTY(bool floorFinal READ floorFinal NOTIFY floorFinalChanged)
    Q_PROPERTY(QString cycleRationale READ cycleRationale NOTIFY cycleRationaleChanged)
    Q_PROPERTY(QString cycleOpening READ cycleOpening NOTIFY cycleOpeningChanged)

public:
    // The guidance overlay over the room, one at a time.
    enum Overlay { NoOverlay, BreakOverlay, CycleOverlay, FloorOverlay };
    Q_ENUM(Overlay)

    explicit ConversationRoomState(QObject* parent = nullptr);

    [[nodiscard]] RoomModel* model() const { return m_model; }
    void setModel(RoomModel* model);

    [[nodiscard]] bool rehearsalActive() const { return m_rehearsalActive; }
    [[nodiscard]] double rehearsalElapsed() const { return m_rehearsalElapsed; }
    [[nodiscard]] bool rehearsalPaused() const { return m_rehearsalPaused; }
    [[nodiscard]] bool rehearsalEnded() const { return m_rehearsalEnded; }
    [[nodiscard]] bool showedBreak() const { return m_showedBreak; }
    [[nodiscard]] bool showBreak() const { return m_showBreak; }
    [[nodiscard]] bool showCircularity() const { return m_showCircularity; }
    [[nodiscard]] bool turnExtensionUsed() const { return m_turnExtensionUsed; }
    [[nodiscard]] bool dismissedFinalFloor() const { return m_dismissedFinalFloor; }
    [[nodiscard]] bool showThreadMessage() const { return m_showThreadMessage; }
    [[nodiscard]] bool roomHasAppeared() const { return m_roomHasAppeared; }
    [[nodiscard]] bool transcriptFollowsLatest() const { return m_transcriptFollowsLatest; }
    void setTranscriptFollowsLatest(bool follows);
    [[nodiscard]] TranscriptRows* rows() const { return m_rows; }
    [[nodiscard]] double breakSuppressedUntil() const { return m_breakSuppressedUntil; }
    [[nodiscard]] const CircularityGate& circularityGate() const { return m_circularityGate; }
    [[nodiscard]] const QList<ConversationTurn>& groupedTurns() const { return m_rows->groups(); }
    [[nodiscard]] const QList<SpeakerStats>& speakerStats() const { return m_speakerStats; }
    [[nodiscard]] bool isClockRunning() const { return m_clock.isActive(); }

    // The data the room shows: the rehearsal script's up to its clock while one plays, else the
    // model's live transcript and findings.
    [[nodiscard]] QList<SpeakerTurn> turns() const;
    [[nodiscard]] QList<BehaviorAnnotation> annotations() const;
    [[nodiscard]] QList<ProcessFoulAnnotation> fouls() const;
    [[nodiscard]] int turnCount() const { return m_turnCount; }
    [[nodiscard]] double elapsed() const { return m_elapsed; }
    [[nodiscard]] bool active() const { return m_active; }
    [[nodiscard]] QString status() const { return m_status; }
    [[nodiscard]] QString agendaNote() const { return m_agendaNote; }
    // Where a step stands against the current one.
    enum StepStage { PassedStep, CurrentStep, UpcomingStep };
    Q_ENUM(StepStage)
    [[nodiscard]] static StepStage stepStage(int step, int selected);
    // The six steps in order; the shown step (the model's, held within the six) with its guidance
    // and opening words.
    [[nodiscard]] AgendaStepRows* agendaSteps() const { return m_agendaSteps; }
    [[nodiscard]] int selectedStep() const { return m_selectedStep; }
    [[nodiscard]] QString stepGuidance() const { return m_stepGuidance; }
    [[nodiscard]] QString stepStarter() const { return m_stepStarter; }
    // The agenda strip's buttons pick any step, forward or back.
    Q_INVOKABLE void selectStep(int step);

    [[nodiscard]] bool showsPill() const { return m_showsPill; }
    [[nodiscard]] QString pillLabel() const { return m_pillLabel; }
    [[nodiscard]] bool pillDotLive() const { return m_pillDotLive; }
    [[nodiscard]] bool showsClock() const { return m_showsClock; }
    [[nodiscard]] QString clockText() const { return m_clockText; }

    [[nodiscard]] QStringList speakerNames() const { return m_speakerNames; }
    [[nodiscard]] QString primaryLabel() const { return m_primaryLabel; }
    [[nodiscard]] QString primaryIcon() const { return m_primaryIcon; }
    [[nodiscard]] QString primaryAccessibilityLabel() const { return m_primaryAccessibilityLabel; }
    [[nodiscard]] bool primaryEnabled() const { return m_primaryEnabled; }
    [[nodiscard]] bool primaryActive() const { return m_primaryActive; }
    [[nodiscard]] bool showsEntryButtons() const { return m_showsEntryButtons; }
    [[nodiscard]] QString checkinLabel() const { return m_checkinLabel; }
    [[nodiscard]] bool checkinEnabled() const { return m_checkinEnabled; }
    [[nodiscard]] bool showsPause() const { return m_showsPause; }
    [[nodiscard]] QString pauseLabel() const { return m_pauseLabel; }
    [[nodiscard]] QString pauseIcon() const { return m_pauseIcon; }
    [[nodiscard]] bool showsProcessingNote() const { return m_showsProcessingNote; }
    // The start error banner's message: the model's error, unless the finish notice says the
    // same sentence (a review kept on this computer is news, not a failure).
    [[nodiscard]] QString bannerMessage() const { return m_bannerMessage; }
    [[nodiscard]] QString latestRowKey() const { return m_latestRowKey; }
    // The findings so far of both seats, and their warm and hard counts.
    [[nodiscard]] const RoomMoments& moments() const { return m_moments; }
    [[nodiscard]] int warmCount() const { return m_warmCount; }
    [[nodiscard]] int hardCount() const { return m_hardCount; }
    [[nodiscard]] double arcDuration() const { return m_arcDuration; }
    [[nodiscard]] PartnerCornerValues leftCorner() const { return m_leftCorner; }
    [[nodiscard]] PartnerCornerValues rightCorner() const { return m_rightCorner; }

    [[nodiscard]] Overlay overlay() const { return m_overlay; }
    [[nodiscard]] QString floorName() const { return m_floorName; }
    [[nodiscard]] bool floorFinal() const { return m_floorFinal; }
    [[nodiscard]] QString cycleRationale() const { return m_cycleRationale; }
    [[nodiscard]] QString cycleOpening() const { return m_cycleOpening; }
    // The floor-hold prompt due now, if any.
    [[nodiscard]] std::optional<LiveGuidance::FloorPrompt> floorPrompt() const;
    // The values of the corner at a display seat (0 left, 1 right).
    [[nodiscard]] PartnerCornerValues cornerValues(int displaySeat) const;

    // The room came on screen: the transcript is grouped and the entrance runs.
    Q_INVOKABLE void appear();
    // The room left the screen (another section, or the check-in room in its place): when no
    // conversation runs the agenda goes back to its first step.
    Q_INVOKABLE void disappear();
    // The stage's primary button.
    Q_INVOKABLE void primaryAction();
    // Whether the stage's row of controls takes a press now: not for a moment after its buttons
    // changed meaning, unless the pointer has moved over it since (see PressGuard).
    [[nodiscard]] Q_INVOKABLE bool takesRowPress() const;
    Q_INVOKABLE void pointerOverRow(QPointF scenePosition);
    Q_INVOKABLE void startCheckin();
    // A corner's coaching request for a seat; nothing during a rehearsal.
    Q_INVOKABLE void requestNudge(int side);
    Q_INVOKABLE void swapSides();
    Q_INVOKABLE void revealThreadMessage();
    Q_INVOKABLE void closeThreadMessage();
    Q_INVOKABLE void dismissError();

    // The rehearsal player: start or end, and one tick of its clock (the room's timer calls it
    // every 0.25 s; it does nothing unless a rehearsal runs unpaused before its end).
    Q_INVOKABLE void toggleRehearsal();
    Q_INVOKABLE void endRehearsal();
    Q_INVOKABLE void tickRehearsal();

    // Live guidance: re-evaluates the break and the repeated cycle (only while recording).
    void updateSignals();
    void resetConversationInterventions();
    // The overlays' buttons: the break's "Keep talking" (also its close, backdrop and Escape)
    // and "Pause & save"; the repeated cycle's close (false) and "Step out of the loop" (true);
    // the floor prompt's dismissal for the level it was shown with.
    Q_INVOKABLE void keepGoing();
    Q_INVOKABLE void finishFromBreak();
    Q_INVOKABLE void dismissCircularity(bool acknowledged);
    Q_INVOKABLE void dismissFloor(bool final);

signals:
    void modelChanged();
    // The primary button needs the setup sheet: the recording agreement or a sign-in is missing.
    void setupRequested();
    // The primary button finishes the conversation: what it turns into next starts a new one.
    void finishing();

    void rehearsalActiveChanged();
    void rehearsalElapsedChanged();
    void rehearsalPausedChanged();
    void rehearsalEndedChanged();
    void showedBreakChanged();
    void showBreakChanged();
    void showCircularityChanged();
    void turnExtensionUsedChanged();
    void dismissedFinalFloorChanged();
    void showThreadMessageChanged();
    void roomHasAppearedChanged();
    void transcriptFollowsLatestChanged();
    void turnCountChanged();
    void elapsedChanged();
    void activeChanged();
    void statusChanged();
    void agendaNoteChanged();
    void selectedStepChanged();
    void stepGuidanceChanged();
    void stepStarterChanged();
    void showsPillChanged();
    void pillLabelChanged();
    void pillDotLiveChanged();
    void showsClockChanged();
    void clockTextChanged();
    void speakerNamesChanged();
    void primaryLabelChanged();
    void primaryIconChanged();
    void primaryAccessibilityLabelChanged();
    void primaryEnabledChanged();
    void primaryActiveChanged();
    void showsEntryButtonsChanged();
    void checkinLabelChanged();
    void checkinEnabledChanged();
    void showsPauseChanged();
    void pauseLabelChanged();
    void pauseIconChanged();
    void showsProcessingNoteChanged();
    void bannerMessageChanged();
    void latestRowKeyChanged();
    void momentsChanged();
    void warmCountChanged();
    void hardCountChanged();
    void arcDurationChanged();
    void leftCornerChanged();
    void rightCornerChanged();
    void overlayChanged();
    void floorNameChanged();
    void floorFinalChanged();
    void cycleRationaleChanged();
    void cycleOpeningChanged();

private:
    template <typename T> void assign(T& field, T value, void (ConversationRoomState::*changed)())
    {
        if (field == value)
            return;
        field = std::move(value);
        emit(this->*changed)();
    }
    // Groups the current turns into the rows, with their statistics and findings.
    void regroup();
    // Takes the current findings into the rows, the moments and the counts.
    void takeFindings();
    // The turn count changed: regroup, then look at the signals.
    void turnsChanged();
    // Derives every shown value from the state and the model.
    void refresh();
    // The room's conversation time: the script's during a rehearsal, else the model's.
    [[nodiscard]] double currentElapsed() const;
    void setRehearsalElapsed(double elapsed);

    QPointer<RoomModel> m_model;
    TranscriptRows* m_rows;
    QTimer m_clock;
    PressGuard m_pressGuard;

    bool m_rehearsalActive = false;
    double m_rehearsalElapsed = 0;
    bool m_rehearsalPaused = false;
    bool m_rehearsalEnded = false;
    bool m_showedBreak = false;
    bool m_showBreak = false;
    bool m_showCircularity = false;
    bool m_turnExtensionUsed = false;
    bool m_dismissedFinalFloor = false;
    // Conversation seconds when the two-minute floor prompt first showed.
    std::optional<double> m_firstFloorShownAt;
    bool m_showThreadMessage = false;
    bool m_transcriptFollowsLatest = true;
    bool m_roomHasAppeared = false;
    double m_breakSuppressedUntil = 0;
    CircularityGate m_circularityGate;
    QList<SpeakerStats> m_speakerStats;

    int m_turnCount = 0;
    double m_elapsed = 0;
    bool m_active = false;
    QString m_status;
    QString m_agendaNote;
    int m_selectedStep = -1;
    AgendaStepRows* m_agendaSteps;
    QString m_stepGuidance;
    QString m_stepStarter;
    bool m_showsPill = false;
    QString m_pillLabel;
    bool m_pillDotLive = false;
    bool m_showsClock = false;
    QString m_clockText = QStringLiteral("0:00");
    QStringList m_speakerNames;
    QString m_primaryLabel;
    QString m_primaryIcon;
    QString m_primaryAccessibilityLabel;
    bool m_primaryEnabled = true;
    bool m_primaryActive = false;
    bool m_showsEntryButtons = true;
    QString m_checkinLabel;
    bool m_checkinEnabled = true;
    bool m_showsPause = false;
    QString m_pauseLabel;
    QString m_pauseIcon;
    bool m_showsProcessingNote = false;
    QString m_bannerMessage;
    QString m_latestRowKey = QStringLiteral("0-0");
    RoomMoments m_moments;
    int m_warmCount = 0;
    int m_hardCount = 0;
    double m_arcDuration = 1;
    PartnerCornerValues m_leftCorner;
    PartnerCornerValues m_rightCorner;
    Overlay m_overlay = NoOverlay;
    QString m_floorName;
    bool m_floorFinal = false;
    QString m_cycleRationale;
    QString m_cycleOpening;
};

} // namespace lumora
