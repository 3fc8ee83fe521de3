#include "RoomModel.hpp"

namespace lumora {

RoomModel::RoomModel(QObject* parent)
    : QObject(parent)
    , m_liveTurns(new LiveTurnList(this))
{
}

void RoomModel::dismissFinishNotice()
{
    const QString notice = finishNotice();
    if (notice.isEmpty())
        return;
    if (errorMessage() == notice)
        setErrorMessage(QString());
    clearFinishNotice();
}

} // namespace lumora
