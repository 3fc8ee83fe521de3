#include "WindowHarness.hpp"

#include "FontRegistrar.hpp"
#include "MotionPreference.hpp"
#include "ObjectSearch.hpp"
#include "ShellSession.hpp"

#include <QDir>
#include <QKeyEvent>
#include <QMutex>
#include <QQmlComponent>
#include <QQmlContext>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace lumora::testing {

namespace {

QMutex heardMutex;
QStringList heard;

void hear(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString category = QString::fromLatin1(context.category ? context.category : "");
    if (WindowHarness::isAllowed(type, category, message))
        return;
    const QMutexLocker lock(&heardMutex);
    heard.append(category + QStringLiteral(": ") + message);
}

// The page an item scrolls with: the nearest Flickable it sits in.
QQuickItem* pageOf(QQuickItem* item)
{
    for (QQuickItem* parent = item ? item->parentItem() : nullptr; parent; parent = parent->parentItem()) {
        if (parent->inherits("QQuickFlickable"))
            return parent;
    }
    return nullptr;
}

// Notes that the window has had the release of a key.
class KeyReleaseSeen final : public QObject {
public:
    KeyReleaseSeen(QObject& window, Qt::Key key)
        : m_key(key)
    {
        window.installEventFilter(this);
    }
    bool seen = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyRelease && static_cast<QKeyEvent*>(event)->key() == m_key)
            seen = true;
        return false;
    }

private:
    Qt::Key m_key;
};

} // namespace

bool WindowHarness::isAllowed(QtMsgType type, const QString& category, const QString& message)
{
    // Debug and info lines report; they do not warn.
    if (type == QtDebugMsg || type == QtInfoMsg)
        return true;
    // The application's own log: failures it reports to the user as state, which the tests
    // check there.
    if (category.startsWith(QLatin1String("com.lumora.")) || category.startsWith(QLatin1String("lumora.")))
        return true;
    // Signing out opens the audio devices to stop any capture; a machine without a sound
    // server says so, which is not the window's concern.
    if (message.startsWith(QLatin1String("PulseAudioService:")))
        return true;
    return false;
}

WindowHarness::WindowHarness()
{
    static const bool fontsRegistered = FontRegistrar::registerFonts(QStringLiteral(LUMORA_FONT_FOLDER)) > 0;
    EXPECT_TRUE(fontsRegistered);
    {
        const QMutexLocker lock(&heardMutex);
        heard.clear();
    }
    m_previousHandler = qInstallMessageHandler(&hear);
}

WindowHarness::~WindowHarness()
{
    close();
    qInstallMessageHandler(m_previousHandler);
    const QMutexLocker lock(&heardMutex);
    EXPECT_TRUE(heard.isEmpty()) << heard.join(QLatin1Char('\n')).toStdString();
}

QQuickWindow* WindowHarness::openWindow(ShellSession& session, bool updatesConfigured)
{
    close();
    m_updates = std::make_unique<SecureUpdateController>(
        updatesConfigured ? std::optional<QString>(QStringLiteral("https://127.0.0.1:9/feed")) : std::nullopt,
        updatesConfigured ? std::optional<QString>(QStringLiteral("a2V5")) : std::nullopt,
        QStringLiteral("0.1.0"));
    return openWindow(session, *m_updates);
}

QQuickWindow* WindowHarness::openWindow(ShellSession& session, UpdateChecker& updates)
{
    close();
    const QVariantMap properties {
        { QStringLiteral("model"), QVariant::fromValue<QObject*>(&session) },
        { QStringLiteral("updates"), QVariant::fromValue<QObject*>(&updates) },
        { QStringLiteral("theoryURL"), QUrl(QStringLiteral("https://lumora.app/theory/")) },
    };
    if (!load(QStringLiteral("qrc:/Lumora/Shell/Main.qml"), properties))
        return nullptr;
    show(desktop);
    return m_window;
}

bool WindowHarness::load(const QString& url, const QVariantMap& properties)
{
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->addImportPath(QStringLiteral("qrc:/"));
    m_engine->setInitialProperties(properties);
    m_engine->load(QUrl(url));
    if (!m_engine->rootObjects().isEmpty())
        m_window = qobject_cast<QQuickWindow*>(m_engine->rootObjects().constFirst());
    return m_window != nullptr;
}

QQuickItem* WindowHarness::openComponent(
    const QString& uri, const QString& type, const QVariantMap& properties, QSize size)
{
    close();
    if (!load(QStringLiteral("qrc:/Lumora/Testing/ComponentWindow.qml"), {}))
        return nullptr;

    const QString path = QString(uri).replace(QLatin1Char('.'), QLatin1Char('/'));
    QQmlComponent component(m_engine.get(), QUrl(QStringLiteral("qrc:/%1/%2.qml").arg(path, type)));
    // Made inside the window, so that its popups find the window's overlay.
    QObject* object = component.beginCreate(m_engine->rootContext());
    auto* item = qobject_cast<QQuickItem*>(object);
    if (!item) {
        ADD_FAILURE() << component.errorString().toStdString();
        delete object;
        return nullptr;
    }
    component.setInitialProperties(item, properties);
    item->setParentItem(m_window->contentItem());
    component.completeCreate();
    if (component.isError()) {
        ADD_FAILURE() << component.errorString().toStdString();
        delete item;
        return nullptr;
    }
    m_component = item;
    QMetaObject::invokeMethod(m_window, "host", Q_ARG(QQuickItem*, item));
    show(size);
    return item;
}

void WindowHarness::show(QSize size)
{
    if (MotionPreference* motion = MotionPreference::of(*m_engine))
        motion->setReduceMotion(true);
    else
        ADD_FAILURE() << "the theme's motion preference is not there";
    m_window->resize(size);
    m_window->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(m_window, 60000));
    // Shortcuts and Escape go to the focused window; without a window manager to give it the
    // focus (a bare X display), the harness does.
    m_window->requestActivate();
    EXPECT_TRUE(QTest::qWaitForWindowActive(m_window, 60000));
}

void WindowHarness::resize(QSize size)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_window->resize(size);
    waitForFrame();
}

void WindowHarness::waitForFrame()
{
    QSignalSpy swapped(m_window, &QQuickWindow::frameSwapped);
    m_window->update();
    EXPECT_TRUE(swapped.wait(60000)) << "no frame";
    // Items a frame's polish let go of are deleted later.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void WindowHarness::close()
{
    delete m_component;
    m_engine.reset();
    m_window = nullptr;
}

QObject* WindowHarness::content() const
{
    if (m_component)
        return m_component;
    return m_window ? m_window->property("content").value<QObject*>() : nullptr;
}

QObject* WindowHarness::find(const QString& name) const
{
    if (!m_window) {
        ADD_FAILURE() << "no window is open";
        return nullptr;
    }
    for (QObject* root :
        { static_cast<QObject*>(m_window), static_cast<QObject*>(m_window->contentItem()) }) {
        if (QObject* found = findUnder(root, name))
            return found;
    }
    ADD_FAILURE() << "nothing named " << name.toStdString();
    return nullptr;
}

bool WindowHarness::has(const QString& name) const
{
    return m_window && (findUnder(m_window, name) || findUnder(m_window->contentItem(), name));
}

QStringList WindowHarness::layoutsHoldingRepeaters() const
{
    QStringList files;
    searchUnder(m_window, [&](const QObject* object) {
        const auto* item = qobject_cast<const QQuickItem*>(object);
        QQuickItem* layout = item ? item->parentItem() : nullptr;
        if (layout && item->inherits("QQuickRepeater") && layout->inherits("QQuickLayout")) {
            // The file it is used in, and its type when that is a file of its own.
            const QQmlContext* context = QQmlEngine::contextForObject(layout);
            files.append((context ? context->baseUrl().fileName() : QString()) + QStringLiteral(": ")
                + QString::fromLatin1(layout->metaObject()->className())
                      .section(QStringLiteral("_QML"), 0, 0));
        }
        return false;
    });
    return files;
}

QString WindowHarness::text(const QString& name) const
{
    QObject* found = find(name);
    return found ? found->property("text").toString() : QString();
}

bool WindowHarness::shows(const QString& name) const
{
    QObject* found = find(name);
    if (auto* item = qobject_cast<QQuickItem*>(found))
        return item->isVisible();
    return found && found->property("visible").toBool();
}

void WindowHarness::click(const QString& name)
{
    auto* item = qobject_cast<QQuickItem*>(find(name));
    ASSERT_NE(item, nullptr) << name.toStdString();
    ASSERT_TRUE(item->isVisible()) << name.toStdString() << " does not show";
    ASSERT_TRUE(item->isEnabled()) << name.toStdString() << " is not enabled";
    bringIntoView(*item);
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    ASSERT_TRUE(m_window->contentItem()->contains(centre)) << name.toStdString() << " is outside the window";
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

void WindowHarness::type(const QString& name, const QString& keys)
{
    QMetaObject::invokeMethod(find(name), "forceActiveFocus");
    for (const QChar key : keys)
        QTest::keyClick(m_window, key.toLatin1());
}

void WindowHarness::press(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    // While a screen reader listens on the accessibility bus, Qt lets it hear each key first
    // and gives the key to the window once it answers, from the event loop: the press ends once
    // the window has had it.
    const KeyReleaseSeen released(*m_window, key);
    QTest::keyClick(m_window, key, modifiers);
    EXPECT_TRUE(QTest::qWaitFor([&] { return released.seen; }, 60000)) << "the window never had the key";
}

void WindowHarness::scrollTo(const QString& name)
{
    auto* item = qobject_cast<QQuickItem*>(find(name));
    QQuickItem* page = pageOf(item);
    if (!page)
        return;
    // The page lays itself out first.
    page->polish();
    QCoreApplication::processEvents();
    auto* contentItem = page->property("contentItem").value<QQuickItem*>();
    const qreal top = item->mapToItem(contentItem, QPointF()).y();
    const qreal end = page->property("contentHeight").toReal() - page->height();
    page->setProperty("contentY", std::max(0.0, std::min(top - 24, end)));
}

void WindowHarness::bringIntoView(QQuickItem& item)
{
    QQuickItem* page = pageOf(&item);
    if (!page)
        return;
    const QRectF area = item.mapRectToItem(page, QRectF(0, 0, item.width(), item.height()));
    const qreal contentY = page->property("contentY").toReal();
    if (area.top() < 0)
        page->setProperty("contentY", contentY + area.top() - 24);
    else if (area.bottom() > page->height())
        page->setProperty("contentY", contentY + area.bottom() - page->height() + 24);
}

void WindowHarness::screenshots(const QString& name, const QString& keepInView)
{
    for (const QSize size : { QSize(920, 680), desktop }) {
        m_window->resize(size);
        if (!keepInView.isEmpty())
            scrollTo(keepInView);
        screenshot(name + QLatin1Char('-') + QString::number(size.width()));
    }
}

void WindowHarness::screenshot(const QString& name)
{
    waitForFrame();
    const QDir folder(QStringLiteral(LUMORA_SCREENSHOT_FOLDER));
    folder.mkpath(QStringLiteral("."));
    EXPECT_TRUE(m_window->grabWindow().save(folder.filePath(name + QStringLiteral(".png"))));
}

} // namespace lumora::testing
