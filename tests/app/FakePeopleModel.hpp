#pragma once

#include "PeopleModel.hpp"

#include <QStringList>

namespace lumora::testing {

// Stands in for the People page's model: names and reviews set by the test, renames recorded.
class FakePeopleModel final : public PeopleModel {
    Q_OBJECT

public:
    QString left = QStringLiteral("Person 1");
    QString right = QStringLiteral("Person 2");
    QList<DerivedSessionResult> stored;
    QStringList renames;

    QString leftName() const override { return left; }
    QString rightName() const override { return right; }
    const QList<DerivedSessionResult>& results() const override { return stored; }
    void updateParticipantName(int side, const QString& name) override
    {
        renames.append(QStringLiteral("%1 %2").arg(side).arg(name));
    }
};

} // namespace lumora::testing
