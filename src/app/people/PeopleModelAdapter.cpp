#include "PeopleModelAdapter.hpp"

#include "viewmodel/SessionViewModel.hpp"

namespace lumora {

PeopleModelAdapter::PeopleModelAdapter(SessionViewModel& viewModel, QObject* parent)
    : PeopleModel(parent)
    , m_viewModel(viewModel)
{
    connect(&m_viewModel, &SessionViewModel::participantNamesChanged, this, &PeopleModel::leftNameChanged);
    connect(&m_viewModel, &SessionViewModel::participantNamesChanged, this, &PeopleModel::rightNameChanged);
    connect(&m_viewModel, &SessionViewModel::resultsChanged, this, &PeopleModel::resultsChanged);
}

QString PeopleModelAdapter::leftName() const
{
    return m_viewModel.participantName(0);
}

QString PeopleModelAdapter::rightName() const
{
    return m_viewModel.participantName(1);
}

const QList<DerivedSessionResult>& PeopleModelAdapter::results() const
{
    return m_viewModel.results();
}

void PeopleModelAdapter::updateParticipantName(int side, const QString& name)
{
    m_viewModel.updateParticipantName(side, name);
}

} // namespace lumora
