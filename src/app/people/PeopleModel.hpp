#pragma once

#include "PersonTrend.hpp"
#include "display/DateTexts.hpp"
#include "domain/DerivedSessionResult.hpp"

#include <QList>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace lumora {

// What the People page reads and calls: the names of the two seats, whether any review is
// stored, the reviews themselves for the trend presenters, and renaming a seat. The shell
// hands in the adapter over the session view model; window tests hand in a fake.
class PeopleModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The People page reads the model the shell hands it.")
    Q_PROPERTY(QString leftName READ leftName NOTIFY leftNameChanged)
    Q_PROPERTY(QString rightName READ rightName NOTIFY rightNameChanged)
    Q_PROPERTY(bool hasResults READ hasResults NOTIFY resultsChanged)
    // Each seat's trend over the stored reviews.
    Q_PROPERTY(lumora::PersonTrend leftTrend READ leftTrend NOTIFY resultsChanged)
    Q_PROPERTY(lumora::PersonTrend rightTrend READ rightTrend NOTIFY resultsChanged)

public:
    using QObject::QObject;

    // The display names of the left (0) and the right (1) seat.
    [[nodiscard]] virtual QString leftName() const = 0;
    [[nodiscard]] virtual QString rightName() const = 0;
    // Every review stored on this computer, newest first.
    [[nodiscard]] virtual const QList<DerivedSessionResult>& results() const = 0;
    [[nodiscard]] bool hasResults() const { return !results().isEmpty(); }
    [[nodiscard]] PersonTrend leftTrend() const { return PersonTrend::of(0, results(), m_dates); }
    [[nodiscard]] PersonTrend rightTrend() const { return PersonTrend::of(1, results(), m_dates); }
    // Dates in the locale and zone the rows are read in (the user's own unless a test says).
    void setDateTexts(const DateTexts& dates)
    {
        m_dates = dates;
        emit resultsChanged();
    }

    // Renames the seat of `side` with the text as typed; the view model trims and shortens it.
    Q_INVOKABLE virtual void updateParticipantName(int side, const QString& name) = 0;

signals:
    void leftNameChanged();
    void rightNameChanged();
    void resultsChanged();

private:
    DateTexts m_dates = DateTexts::system();
};

} // namespace lumora
