#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// Which rows of a long column in a scrolling page are drawn: those the page shows and a page's
// height above and below it, so that a frame costs only those however many rows there are; the
// others keep their place, their size and what a screen reader meets. Each row has a `shown`
// property, which this sets; a new row starts hidden. The page is a Flickable and the column
// lies in its content.
class ShownRows : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickItem* page READ page WRITE setPage NOTIFY pageChanged)
    Q_PROPERTY(QQuickItem* rows READ rows WRITE setRows NOTIFY rowsChanged)

public:
    using QObject::QObject;

    [[nodiscard]] QQuickItem* page() const { return m_page; }
    void setPage(QQuickItem* page);
    [[nodiscard]] QQuickItem* rows() const { return m_rows; }
    void setRows(QQuickItem* rows);

    // The first and the last of rows laid out top to bottom (their tops and bottoms in order)
    // that meet the band from `top` to `bottom`; first > last when none does.
    static std::pair<qsizetype, qsizetype> meeting(const QList<QQuickItem*>& rows, qreal top, qreal bottom);

signals:
    void pageChanged();
    void rowsChanged();

private slots:
    void update();

private:
    void follow(QQuickItem* item, const QList<const char*>& signalNames);
    [[nodiscard]] QList<QQuickItem*> rowItems() const;

    QPointer<QQuickItem> m_page;
    QPointer<QQuickItem> m_rows;
    // The rows shown now, by index.
    qsizetype m_first = 0;
    qsizetype m_last = -1;
};

} // namespace lumora
