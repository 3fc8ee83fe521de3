#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QQuickItem;
class QQuickWindow;

namespace lumora {

class FocusHandOff;

// Keeps a window's keyboard on a control, its ring drawn as the person left it. Left alone, Qt
// Quick keeps the keyboard on a control that hides (whose keys still press it), drops it to the
// page when a control is disabled or goes, and gives it back from a closed dialog or a disabled
// spell without the ring: a screen reader then says nothing, and Tab goes on from wherever the
// lost control lay.
//
// Where the keyboard leaves a control for no control (the control hid, turned disabled or went,
// or the program moved the keyboard off it), it lands once the change has settled: on the `to`
// of a hand-off from that control, when it shows; else, unless the control still shows disabled
// (it is busy, and Qt gives it the keyboard back as it turns enabled), on the same control made
// anew (of the same name, told apart from those that read alike as a screen reader tells it) in
// the nearest part of the window around it that still shows (the same seat's button of the room
// made anew at another width), on the `to` of a hand-off that takes a stray keyboard, or on the
// control Tab comes to next in that part, or its first (the page shown, a section's new step).
// Where the control still shows, the first control of the window (or of the dialog that is up)
// has it, and a hand-off whose `to` shows later takes it on from there until the person moves it.
//
// The keyboard lands only where the person can reach: while a dialog is up (a sheet, a question,
// a popover), inside it, on its first control where nothing nearer is left; never in what a card
// or a dialog covers. A window that loses the focus leaves the keyboard where it is: the keeper
// does nothing until the window has the focus again, and Qt gives it back there.
//
// Wherever the program moves the keyboard (a dialog that closes, a control enabled again, a
// landing), its ring shows only when the control the person last put it on showed one: after
// keys, not after a click or where nothing was pressed.
//
// One per window, made by the first hand-off in it.
class KeyboardKeeper : public QObject {
    Q_OBJECT

public:
    static KeyboardKeeper& of(QQuickWindow& window);

    void add(FocusHandOff& handOff);
    void remove(FocusHandOff& handOff);
    // A hand-off's `to` has come to show and be enabled.
    void handOffReady();

private:
    explicit KeyboardKeeper(QQuickWindow& window);

    // A control the keyboard was on and what it lay in, nearest first: the parts of the window
    // to land in once it has gone.
    struct Place {
        QPointer<QQuickItem> control;
        QString name;
        QString description;
        QList<QPointer<QQuickItem>> around;
        bool any = false;
    };

    void focusMoved();
    void follow(QQuickItem& control);
    void keepRing(QQuickItem& control);
    void land();
    // The `to` that shows in `room` of a hand-off from the control left, or of one that takes a
    // stray keyboard.
    [[nodiscard]] QQuickItem* handOffTo(const QQuickItem& room, bool fromLeft) const;
    // The nearest part of the window around the control left that still shows, when that
    // control does not.
    [[nodiscard]] QQuickItem* shownAround() const;
    // The control after the lost one, or the first, of the nearest part around it in `room` that
    // has one, from `shown` out; the room's first where there is none.
    [[nodiscard]] QQuickItem* landing(QQuickItem& room, QQuickItem* shown) const;
    // The first control other than the lost one that the person can reach in `room`, of `part`,
    // in the order Tab takes after `from` (from its start without one), and the lost control made
    // anew when `madeAnew`; none once the order has left `part` or come round again.
    [[nodiscard]] QQuickItem* controlIn(
        const QQuickItem& room, QQuickItem& part, QQuickItem* from, bool madeAnew) const;
    // Puts the keyboard there; `parks` while a hand-off may still take it on.
    void moveOn(QQuickItem& control, bool parks);
    // The keyboard is on no control: on nothing, on a control that is gone or on what it lay in.
    [[nodiscard]] bool strayed(QQuickItem* item) const;
    // An open popup other than the one the last control lay in has the keyboard.
    [[nodiscard]] bool takenByPopup(QQuickItem* item) const;

    QQuickWindow& m_window;
    QList<QPointer<FocusHandOff>> m_handOffs;
    Place m_last;
    Place m_left;
    // Where a landing put the keyboard, while it is still there.
    QPointer<QQuickItem> m_parked;
    bool m_ringShowed = false;
    QTimer m_settled;
    QList<QMetaObject::Connection> m_followed;
};

} // namespace lumora
