#pragma once

#include "FontRegistrar.hpp"
#include "SecureUpdateController.hpp"
#include "ShellSession.hpp"
#include "ShellWindowHost.hpp"

#include <QDir>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

namespace lumora::testing {

// The real window from the shell's QML module over a real session, opened on the Account
// section. Every warning but the application's own log lines fails the test that opened it.
class AccountPageHarness {
public:
    AccountPageHarness()
    {
        static const bool fontsRegistered
            = FontRegistrar::registerFonts(QStringLiteral(LUMORA_FONT_FOLDER)) > 0;
        EXPECT_TRUE(fontsRegistered);
        warnings().clear();
        m_previousHandler = qInstallMessageHandler(&capture);
    }
    ~AccountPageHarness()
    {
        close();
        qInstallMessageHandler(m_previousHandler);
        EXPECT_TRUE(warnings().isEmpty()) << warnings().join("\n").toStdString();
    }
    AccountPageHarness(const AccountPageHarness&) = delete;
    AccountPageHarness& operator=(const AccountPageHarness&) = delete;

    QQuickWindow* open(ShellSession& session)
    {
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_engine->addImportPath("qrc:/");
        m_engine->setInitialProperties({
            { "model", QVariant::fromValue<QObject*>(&session) },
            { "updates", QVariant::fromValue<QObject*>(&m_updates) },
            { "theoryURL", QUrl("https://lumora.app/theory/") },
        });
        m_engine->load(QUrl("qrc:/Lumora/Shell/Main.qml"));
        if (m_engine->rootObjects().isEmpty())
            return nullptr;
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().front());
        m_window->resize(1180, 760);
        m_window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_window));
        m_window->property("content").value<QObject*>()->setProperty("section", 3);
        return m_window;
    }

    // The window goes before the objects it reads.
    void close()
    {
        m_engine.reset();
        m_window = nullptr;
    }

    // The object of that name anywhere in the window, its popups included.
    QObject* find(const QString& name) const
    {
        for (QObject* object : m_window->findChildren<QObject*>(name))
            return object;
        for (QObject* object : m_window->contentItem()->findChildren<QObject*>(name))
            return object;
        ADD_FAILURE() << "nothing named " << name.toStdString();
        return nullptr;
    }

    QString text(const QString& name) const
    {
        QObject* found = find(name);
        return found ? found->property("text").toString() : QString();
    }

    bool shows(const QString& name) const
    {
        QObject* found = find(name);
        return found && found->property("visible").toBool();
    }

    // Presses a button as a person could: only one that shows and is enabled.
    void click(const QString& name) const
    {
        QObject* button = find(name);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->property("visible").toBool()) << name.toStdString();
        ASSERT_TRUE(button->property("enabled").toBool()) << name.toStdString();
        QMetaObject::invokeMethod(button, "clicked");
    }

    // Types into the named field as a person would, after giving it the keyboard focus.
    void type(const QString& name, const QString& keys) const
    {
        QMetaObject::invokeMethod(find(name), "forceActiveFocus");
        for (const QChar key : keys)
            QTest::keyClick(m_window, key.toLatin1());
    }
    void press(Qt::Key key) const { QTest::keyClick(m_window, key); }

    // Scrolls the page so that the named part of it is at the top, as far as the page goes.
    void scrollTo(const QString& name) const
    {
        QTest::qWait(50); // the page lays itself out first
        auto* item = qobject_cast<QQuickItem*>(find(name));
        auto* page = qobject_cast<QQuickItem*>(find("accountScroll"));
        if (!item || !page)
            return;
        const qreal top = item->mapToItem(page->property("contentItem").value<QQuickItem*>(), QPointF()).y();
        const qreal end = page->property("contentHeight").toReal() - page->height();
        page->setProperty("contentY", std::max(0.0, std::min(top - 24, end)));
    }

    // Lets bindings, popups and their transitions settle, then writes what the window shows.
    void screenshot(const QString& name) const { ShellWindowHost::screenshot(m_window, name); }
    // The same at the narrowest window and at a common desktop size, keeping `part` in view.
    void screenshots(const QString& name, const QString& part) const
    {
        for (const QSize size : { QSize(920, 680), QSize(1180, 760) }) {
            m_window->resize(size);
            scrollTo(part);
            screenshot(name + u'-' + QString::number(size.width()));
        }
    }

private:
    static QStringList& warnings()
    {
        static QStringList captured;
        return captured;
    }
    static void capture(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        const QLatin1StringView category(context.category ? context.category : "");
        // Signing out opens the desktop's audio devices to stop any capture; a test machine
        // without a sound server says so, which is not the page's concern.
        if (type == QtDebugMsg || type == QtInfoMsg || category.startsWith(QLatin1String("com.lumora."))
            || category.startsWith(QLatin1String("lumora.")) || message.startsWith(u"PulseAudioService:"))
            return;
        warnings().append(QLatin1String(category) + u": "_qs + message);
    }

    SecureUpdateController m_updates { std::nullopt, std::nullopt, "0.1.0" };
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;
    QtMessageHandler m_previousHandler = nullptr;
};

} // namespace lumora::testing
