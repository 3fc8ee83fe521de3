#pragma once

#include "SecureUpdateController.hpp"

#include <QPointer>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSize>
#include <QString>
#include <QVariantMap>
#include <memory>

namespace lumora {
class ShellSession;
}

namespace lumora::testing {

// One window under test through the real QML engine, with reduce motion on: the application's
// window over a session, or a single component of a module alone in a window of the theme's
// colours. Everything that is said while it lives is heard, and a warning that is not on the
// written allow-list fails the test that opened it.
class WindowHarness {
public:
    // A common desktop size.
    static constexpr QSize desktop { 1180, 760 };

    WindowHarness();
    ~WindowHarness();
    WindowHarness(const WindowHarness&) = delete;
    WindowHarness& operator=(const WindowHarness&) = delete;

    // The application's window over `session`, shown and exposed; null when the QML did not
    // load. Replaces any window opened before.
    QQuickWindow* openWindow(ShellSession& session, bool updatesConfigured = false);
    // The same with the test's own update checker, which must outlive the window.
    QQuickWindow* openWindow(ShellSession& session, UpdateChecker& updates);
    // The QML component `type` of the module `uri` (for example "Lumora.History",
    // "HistoryView") made with `properties`, filling a window of `size`; null when it did not
    // load.
    QQuickItem* openComponent(
        const QString& uri, const QString& type, const QVariantMap& properties, QSize size = desktop);
    // Gives the window a new size and waits until it has drawn itself at it. The size arrives as
    // a window manager's does: between two frames, after the event loop deleted what the last
    // change let go of.
    void resize(QSize size);
    // Closes the window; it goes before the objects it reads.
    void close();
    // Waits until the window has drawn a frame after this call: what the last change set off
    // in the window's next turns (its timers, bindings and animations) has run by then.
    void waitForFrame();

    [[nodiscard]] QQuickWindow* window() const { return m_window; }
    // The window's root view ("contentView") or the component under test.
    [[nodiscard]] QObject* content() const;

    // The object of that name anywhere in the window, its popups included; a failure of the
    // test when there is none.
    [[nodiscard]] QObject* find(const QString& name) const;
    [[nodiscard]] QString text(const QString& name) const;
    // Whether there is an object of that name now (items come and go with their repeaters).
    [[nodiscard]] bool has(const QString& name) const;
    // Whether it is visible: itself and every item it sits in.
    [[nodiscard]] bool shows(const QString& name) const;
    // Presses it with the mouse, as a person could: only when it shows and is enabled, after
    // scrolling it into view.
    void click(const QString& name);
    // Gives the named field the keyboard focus and types `keys` into it.
    void type(const QString& name, const QString& keys);
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Scrolls the page it is on so that it is at the top, as far as the page goes.
    void scrollTo(const QString& name);
    // Writes what the window shows into the build folder, once the next frame is swapped.
    void screenshot(const QString& name);
    // The same at the narrowest window and at the common desktop size ("<name>-920",
    // "<name>-1180"), with the part named `keepInView` scrolled to the top each time; the window
    // stays at the desktop size.
    void screenshots(const QString& name, const QString& keepInView = {});

    // The files of the Qt Quick layouts that hold a repeater's items, anywhere in the window,
    // closed popups included. A layout keeps an item the repeater deleted until its next
    // polish, and a resize before then reads the freed item; repeated items belong in a
    // positioner.
    [[nodiscard]] QStringList layoutsHoldingRepeaters() const;

    // Whether the window may say this without failing the test (the written allow-list).
    static bool isAllowed(QtMsgType type, const QString& category, const QString& message);

private:
    // Loads the window of `url` with its initial properties; false when it did not load.
    bool load(const QString& url, const QVariantMap& properties);
    void show(QSize size);
    // Scrolls the page the item sits on by the least that shows all of it.
    void bringIntoView(QQuickItem& item);

    std::unique_ptr<SecureUpdateController> m_updates;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QPointer<QQuickItem> m_component;
    QQuickWindow* m_window = nullptr;
    QtMessageHandler m_previousHandler = nullptr;
};

} // namespace lumora::testing
