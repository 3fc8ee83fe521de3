#pragma once

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QQuickItem>
#include <QRectF>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// Says a message to a screen reader as it appears, and brings it into view. `item` holds the
// message as a notification (its role), the words in the labels inside it, which a screen
// reader reads out as the notification comes to show. The message is said once the item shows
// with a `text`, and again when a new text comes while it shows: Qt Quick tells the bus of an
// item coming to show only when the item was there for a screen reader already, which a
// message that leaves the tree while it hides is not. Before it is said, the page it lies on
// scrolls by the least that shows all of it. What shows as the message is made is not said: it
// was not asked for now. Nor is a message under a card or a dialog (`CoveredContent`), which a
// screen reader does not meet: the one that answers is on top (a sheet's own banner, over the
// page's that shows the same failure).
class Announcement : public QObject, public QQmlParserStatus {
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    QML_ELEMENT
    Q_PROPERTY(QQuickItem* item READ item WRITE setItem NOTIFY itemChanged)
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)

public:
    using QObject::QObject;

    [[nodiscard]] QQuickItem* item() const { return m_item; }
    void setItem(QQuickItem* item);
    [[nodiscard]] const QString& text() const { return m_text; }
    void setText(const QString& text);

    void classBegin() override { }
    void componentComplete() override;

signals:
    void itemChanged();
    void textChanged();

private:
    [[nodiscard]] bool shows() const;
    void noteChange();
    // After each frame until the page has laid the message out: brought into view, its labels
    // show to a screen reader, which says only the labels that show. A page can take a few
    // frames (a list made a share of a frame at a time): the message is said once a frame left
    // it where the last one did, whole in view, or after `settlingFrames` at the latest.
    void afterFrame();
    // Scrolls the page the message lies on by the least that shows all of it; whether it
    // scrolled or the message moved since the last frame.
    bool bringIntoView();

    QPointer<QQuickItem> m_item;
    QString m_text;
    // What was said last, while it still shows.
    QString m_said;
    bool m_made = false;
    // Where the message lay in its page after the last frame, and how many frames it waited.
    QRectF m_laidOut;
    int m_frames = 0;
    QMetaObject::Connection m_visibility;
    QMetaObject::Connection m_drawn;
};

} // namespace lumora
