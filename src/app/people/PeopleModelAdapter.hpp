#pragma once

#include "PeopleModel.hpp"

namespace lumora {

class SessionViewModel;

// The People page's model over the session view model.
class PeopleModelAdapter final : public PeopleModel {
    Q_OBJECT

public:
    explicit PeopleModelAdapter(SessionViewModel& viewModel, QObject* parent = nullptr);

    [[nodiscard]] QString leftName() const override;
    [[nodiscard]] QString rightName() const override;
    [[nodiscard]] const QList<DerivedSessionResult>& results() const override;
    void updateParticipantName(int side, const QString& name) override;

private:
    SessionViewModel& m_viewModel;
};

} // namespace lumora
