#include "RoomModel.hpp"

namespace lumora {

RoomModel::RoomModel(QObject* parent)
    : QObject(parent)
    , m_liveTurns(new LiveTurnList(this))
{
}

} // namespace lumora
