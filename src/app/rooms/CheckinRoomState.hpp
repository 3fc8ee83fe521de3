#pragma once

#include "CheckinTranscriptRows.hpp"
#include "CheckinValues.hpp"
#include "RoomModel.hpp"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The check-in room's state and rules: the open section and its timing, the header's week and
// status pill, the primary and pause buttons, navigation, the pack note, and the transcript
// grouped per seat. Everything follows the room model; the room's QML makes one, hands it the
// model and binds to it. The transcript is grouped when the room appears and when the number
// of live turns changes, never on a render.
class CheckinRoomState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(lumora::RoomModel* model READ model WRITE setModel NOTIFY modelChanged REQUIRED)
    Q_PROPERTY(lumora::CheckinTranscriptRows* rows READ rows CONSTANT)

    Q_PROPERTY(QString weekText READ weekText NOTIFY weekTextChanged)
    Q_PROPERTY(bool showsPill READ showsPill NOTIFY showsPillChanged)
    Q_PROPERTY(QString pillLabel READ pillLabel NOTIFY pillLabelChanged)
    Q_PROPERTY(bool dotLive READ dotLive NOTIFY dotLiveChanged)
    Q_PROPERTY(bool showsClock READ showsClock NOTIFY showsClockChanged)
    Q_PROPERTY(QString clockText READ clockText NOTIFY clockTextChanged)
    Q_PROPERTY(bool showsLeave READ showsLeave NOTIFY showsLeaveChanged)

    Q_PROPERTY(int sectionIndex READ sectionIndex NOTIFY sectionIndexChanged)
    Q_PROPERTY(bool hasCurrent READ hasCurrent NOTIFY currentChanged)
    Q_PROPERTY(lumora::CheckinSectionValue current READ current NOTIFY currentChanged)
    Q_PROPERTY(int total READ total NOTIFY totalChanged)
    Q_PROPERTY(bool isTimed READ isTimed NOTIFY isTimedChanged)
    Q_PROPERTY(double elapsedInSection READ elapsedInSection NOTIFY elapsedInSectionChanged)
    Q_PROPERTY(bool isPastSuggestion READ isPastSuggestion NOTIFY isPastSuggestionChanged)
    Q_PROPERTY(QString pacingText READ pacingText NOTIFY pacingTextChanged)
    Q_PROPERTY(bool canGoBack READ canGoBack NOTIFY canGoBackChanged)
    Q_PROPERTY(bool canGoNext READ canGoNext NOTIFY canGoNextChanged)
    Q_PROPERTY(bool showsPackNote READ showsPackNote NOTIFY showsPackNoteChanged)
    Q_PROPERTY(QString packNote READ packNote NOTIFY packNoteChanged)
    Q_PROPERTY(bool showsListening READ showsListening NOTIFY showsListeningChanged)
    Q_PROPERTY(QString savedTitle READ savedTitle CONSTANT)
    Q_PROPERTY(QString savedNotice READ savedNotice NOTIFY savedNoticeChanged)
    Q_PROPERTY(QString noticeMessage READ noticeMessage NOTIFY noticeMessageChanged)

    Q_PROPERTY(QString primaryLabel READ primaryLabel NOTIFY primaryLabelChanged)
    Q_PROPERTY(QString primaryIcon READ primaryIcon NOTIFY primaryIconChanged)
    Q_PROPERTY(bool primaryEnabled READ primaryEnabled NOTIFY primaryEnabledChanged)
    Q_PROPERTY(bool showsPause READ showsPause NOTIFY showsPauseChanged)
    Q_PROPERTY(QString pauseLabel READ pauseLabel NOTIFY pauseLabelChanged)
    Q_PROPERTY(QString pauseIcon READ pauseIcon NOTIFY pauseIconChanged)

public:
    explicit CheckinRoomState(QObject* parent = nullptr);

    [[nodiscard]] RoomModel* model() const { return m_model; }
    void setModel(RoomModel* model);
    [[nodiscard]] CheckinTranscriptRows* rows() const { return m_rows; }

    // "WEEK OF FEB 9", or "THIS WEEK" for a week key that does not read.
    [[nodiscard]] QString weekText() const { return m_weekText; }
    [[nodiscard]] bool showsPill() const { return m_showsPill; }
    [[nodiscard]] QString pillLabel() const { return m_pillLabel; }
    // The dot is positive while recording, muted while paused or processing.
    [[nodiscard]] bool dotLive() const { return m_dotLive; }
    [[nodiscard]] bool showsClock() const { return m_showsClock; }
    [[nodiscard]] QString clockText() const { return m_clockText; }
    [[nodiscard]] bool showsLeave() const { return m_showsLeave; }

    // The flow's index, 0 without a flow (the progress bar's current segment).
    [[nodiscard]] int sectionIndex() const { return m_sectionIndex; }
    // The open section: the pack's section at the flow's index, when both are set and the
    // index lies within the sections.
    [[nodiscard]] bool hasCurrent() const { return m_hasCurrent; }
    [[nodiscard]] CheckinSectionValue current() const { return m_current; }
    [[nodiscard]] int total() const { return m_total; }
    // The section is timed only while recording or paused.
    [[nodiscard]] bool isTimed() const { return m_isTimed; }
    [[nodiscard]] double elapsedInSection() const { return m_elapsedInSection; }
    [[nodiscard]] bool isPastSuggestion() const { return m_isPastSuggestion; }
    [[nodiscard]] QString pacingText() const { return m_pacingText; }
    [[nodiscard]] bool canGoBack() const { return m_canGoBack; }
    [[nodiscard]] bool canGoNext() const { return m_canGoNext; }
    // The pack's note shows on the first section only, and only when it says something.
    [[nodiscard]] bool showsPackNote() const { return m_showsPackNote; }
    [[nodiscard]] QString packNote() const { return m_packNote; }
    // No rows yet while recording or paused: the room says it is listening.
    [[nodiscard]] bool showsListening() const { return m_showsListening; }
    // The saved panel's title, and what it says under it of how the check-in was saved (empty
    // when the title says it all, and before the check-in is saved).
    [[nodiscard]] static QString savedTitle();
    [[nodiscard]] QString savedNotice() const { return m_savedNotice; }
    // The failure over the room; empty without one, and while the saved panel says the same.
    [[nodiscard]] QString noticeMessage() const { return m_noticeMessage; }

    [[nodiscard]] QString primaryLabel() const { return m_primaryLabel; }
    [[nodiscard]] QString primaryIcon() const { return m_primaryIcon; }
    [[nodiscard]] bool primaryEnabled() const { return m_primaryEnabled; }
    [[nodiscard]] bool showsPause() const { return m_showsPause; }
    [[nodiscard]] QString pauseLabel() const { return m_pauseLabel; }
    [[nodiscard]] QString pauseIcon() const { return m_pauseIcon; }

    // The room came on screen: the transcript is grouped, and regrouped with every new turn
    // until the room goes from the screen again. A hidden room does not group a conversation's
    // turns, which would cost the GUI thread the whole transcript's grouping per turn.
    Q_INVOKABLE void appear();
    Q_INVOKABLE void disappear();
    // Finishes the running check-in; otherwise opens the setup sheet, says the room is not
    // ready yet, or starts recording, as the start readiness asks.
    Q_INVOKABLE void primaryAction();
    Q_INVOKABLE void dismissNotice();
    // Closes the saved check-in; what its panel said of the finish goes with it.
    Q_INVOKABLE void closeSaved();

signals:
    void modelChanged();
    // The primary button needs the setup sheet: the recording agreement or a sign-in is missing.
    void setupRequested();

    void weekTextChanged();
    void showsPillChanged();
    void pillLabelChanged();
    void dotLiveChanged();
    void showsClockChanged();
    void clockTextChanged();
    void showsLeaveChanged();
    void sectionIndexChanged();
    void currentChanged();
    void totalChanged();
    void isTimedChanged();
    void elapsedInSectionChanged();
    void isPastSuggestionChanged();
    void pacingTextChanged();
    void canGoBackChanged();
    void canGoNextChanged();
    void showsPackNoteChanged();
    void packNoteChanged();
    void showsListeningChanged();
    void savedNoticeChanged();
    void noticeMessageChanged();
    void primaryLabelChanged();
    void primaryIconChanged();
    void primaryEnabledChanged();
    void showsPauseChanged();
    void pauseLabelChanged();
    void pauseIconChanged();

private:
    template <typename T> void assign(T& field, T value, void (CheckinRoomState::*changed)())
    {
        if (field == value)
            return;
        field = std::move(value);
        emit(this->*changed)();
    }
    void regroup();
    void takeNames();
    // Derives every shown value from the model.
    void refresh();

    QPointer<RoomModel> m_model;
    CheckinTranscriptRows* m_rows;
    bool m_shown = false;

    QString m_weekText;
    bool m_showsPill = false;
    QString m_pillLabel;
    bool m_dotLive = false;
    bool m_showsClock = false;
    QString m_clockText = QStringLiteral("0:00");
    bool m_showsLeave = true;
    int m_sectionIndex = 0;
    bool m_hasCurrent = false;
    CheckinSectionValue m_current;
    int m_total = 0;
    bool m_isTimed = false;
    double m_elapsedInSection = 0;
    bool m_isPastSuggestion = false;
    QString m_pacingText;
    bool m_canGoBack = false;
    bool m_canGoNext = false;
    bool m_showsPackNote = false;
    QString m_packNote;
    bool m_showsListening = false;
    QString m_savedNotice;
    QString m_noticeMessage;
    QString m_primaryLabel;
    QString m_primaryIcon;
    bool m_primaryEnabled = true;
    bool m_showsPause = false;
    QString m_pauseLabel;
    QString m_pauseIcon;
};

} // namespace lumora
