#pragma once

#include <QPointer>
#include <QQmlProperty>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// Content that a card or a sheet can lie over. While it is covered a screen reader meets none
// of it, as a sighted user sees it only dimmed under the backdrop and can press none of it: the
// room's buttons were heard and pressed through the bus under a card. It is covered while
// `covered` holds (a card of its own is up) or while a dialog shows over it in `dialogs` (the
// window's overlay, where its sheets, dialogs and popovers lie): over all of the window's
// content, or over the popup that holds this content (a sheet under the question it asks).
class CoveredContent : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool covered READ covered WRITE setCovered NOTIFY coveredChanged)
    Q_PROPERTY(QQuickItem* dialogs READ dialogs WRITE setDialogs NOTIFY dialogsChanged)
    // Either of the two.
    Q_PROPERTY(bool isCovered READ isCovered NOTIFY isCoveredChanged)

public:
    // Presents every such content made from now on to a screen reader: as nothing while it is
    // covered, and as its children alone otherwise.
    static void install();

    explicit CoveredContent(QQuickItem* parent = nullptr);

    // The dialog drawn over every other one in `dialogs` (a window's overlay), or none.
    [[nodiscard]] static QQuickItem* topDialog(const QQuickItem& dialogs);
    // Whether `item` lies in content that a card or a dialog covers.
    [[nodiscard]] static bool liesCovered(const QQuickItem& item);

    [[nodiscard]] bool covered() const { return m_covered; }
    void setCovered(bool covered);
    [[nodiscard]] QQuickItem* dialogs() const { return m_dialogs; }
    void setDialogs(QQuickItem* dialogs);
    [[nodiscard]] bool isCovered() const { return m_isCovered; }

signals:
    void coveredChanged();
    void dialogsChanged();
    void isCoveredChanged();

protected:
    void componentComplete() override;

private:
    // Follows each item the overlay holds: a popup's item shows and hides with it.
    void watchDialogs();
    void update();
    // Whether a dialog in `dialogs` lies over this content.
    [[nodiscard]] bool dialogAbove() const;

    bool m_covered = false;
    bool m_isCovered = false;
    QPointer<QQuickItem> m_dialogs;
    // Its `Accessible.ignored`.
    QQmlProperty m_ignored;
    QList<QMetaObject::Connection> m_watched;
};

} // namespace lumora
