#pragma once

#include "display/DateTexts.hpp"
#include "domain/ConversationHistoryEntry.hpp"
#include "rooms/RowListModel.hpp"

#include <QList>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// The conversations the migration offer covers, newest first, each with whether the user keeps
// it chosen: the answer applies to the chosen ones, and one the user clears stays as it is (a
// conversation recorded by someone else stays theirs to take). Every conversation is chosen as it
// first shows; one offered again keeps its choice.
class OfferedConversationList : public lumora::RowListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The shell session holds the conversations offered.")

public:
    enum Role {
        // QString: the review's local id, the row's key.
        ConversationIDRole = Qt::UserRole + 1,
        // QString: the title, or the kind and the date without one, as History heads its card.
        HeadingRole,
        // QString: when it ended and how long it took ("Feb 9, 2026 at 7:30 PM · 12:04").
        DetailRole,
        // bool.
        ChosenRole,
    };
    Q_ENUM(Role)

    explicit OfferedConversationList(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    // Takes the conversations offered now, as rows kept only on this computer; the dates are read
    // as `dates` says.
    void replace(const QList<ConversationHistoryEntry>& entries, const DateTexts& dates);
    Q_INVOKABLE void setChosen(int row, bool chosen);
    // The local ids of the chosen conversations, in the rows' order.
    [[nodiscard]] QList<QUuid> chosen() const;

private:
    struct Row {
        QUuid localID;
        QString heading;
        QString detail;
        bool chosen = true;

        bool operator==(const Row&) const = default;
    };

    QList<Row> m_rows;
};

} // namespace lumora
