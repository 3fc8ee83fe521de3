#pragma once

#include "FontRegistrar.hpp"
#include "SecureUpdateController.hpp"

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace lumora::testing {

// The real window from the shell's QML module over a session, at a common desktop size.
class ShellWindowHost {
public:
    // The window, shown, exposed and focused; null when the QML did not load. Replaces any
    // window opened before.
    QQuickWindow* open(QObject* session, bool updatesConfigured = false)
    {
        m_engine.reset();
        m_updates = std::make_unique<SecureUpdateController>(
            updatesConfigured ? std::optional<QString>("https://127.0.0.1:9/feed") : std::nullopt,
            updatesConfigured ? std::optional<QString>("a2V5") : std::nullopt, "0.1.0");
        return open(session, *m_updates);
    }
    // The same with the test's own update controller, which must outlive the window.
    QQuickWindow* open(QObject* session, SecureUpdateController& updates)
    {
        static const bool fontsRegistered
            = FontRegistrar::registerFonts(QStringLiteral(LUMORA_FONT_FOLDER)) > 0;
        EXPECT_TRUE(fontsRegistered);
        m_engine.reset();
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->addImportPath("qrc:/");
        m_engine->setInitialProperties({
            { "model", QVariant::fromValue(session) },
            { "updates", QVariant::fromValue<QObject*>(&updates) },
            { "theoryURL", QUrl("https://lumora.app/theory/") },
        });
        m_engine->load(QUrl("qrc:/Lumora/Shell/Main.qml"));
        if (m_engine->rootObjects().isEmpty())
            return nullptr;
        auto* window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().front());
        window->resize(1180, 760);
        window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        // Shortcuts and Escape go to the focused window; without a window manager to give it
        // the focus, the test does.
        window->requestActivate();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        return window;
    }

    // Closes the window; it goes before the objects it reads.
    void close() { m_engine.reset(); }

    // The named object of the window or of its content ("contentView": the content itself).
    static QObject* find(QQuickWindow* window, const char* name)
    {
        QObject* root = window->property("content").value<QObject*>();
        if (QString::fromLatin1(name) == "contentView")
            return root;
        if (auto* found = window->findChild<QObject*>(name))
            return found;
        return root ? root->findChild<QObject*>(name) : nullptr;
    }

    // Lets bindings, popups and their transitions settle, then writes what the window shows.
    static void screenshot(QQuickWindow* window, const QString& name)
    {
        QTest::qWait(350);
        const QDir folder(QStringLiteral(LUMORA_SCREENSHOT_FOLDER));
        folder.mkpath(".");
        EXPECT_TRUE(window->grabWindow().save(folder.filePath(name + ".png")));
    }
    // The same at the narrowest window and at a common desktop size ("<name>-920", "<name>-1180"),
    // leaving the window at the second.
    static void screenshots(QQuickWindow* window, const QString& name)
    {
        for (const QSize size : { QSize(920, 680), QSize(1180, 760) }) {
            window->resize(size);
            screenshot(window, name + u'-' + QString::number(size.width()));
        }
    }

    // A popup of the window by name: popups are not items, so they are among its QObject
    // children rather than in the item tree.
    static QObject* popupItem(QQuickWindow* window, const char* name)
    {
        for (QObject* object : window->findChildren<QObject*>()) {
            if (object->objectName() == QLatin1String(name))
                return object;
        }
        return nullptr;
    }

private:
    std::unique_ptr<SecureUpdateController> m_updates;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
};

} // namespace lumora::testing
