#include "QuitQuestion.hpp"

#include "viewmodel/ViewModelLog.hpp"

namespace lumora {

void QuitQuestion::setRoom(RoomModel* room)
{
    if (m_room == room)
        return;
    if (m_room)
        disconnect(m_room, nullptr, this, nullptr);
    m_room = room;
    if (m_room) {
        for (const auto signal : { &RoomModel::isRecordingChanged, &RoomModel::isPausedChanged,
                 &RoomModel::isProcessingChanged, &RoomModel::finishNoticeChanged })
            connect(m_room, signal, this, &QuitQuestion::changed);
    }
    emit roomChanged();
    emit changed();
}

bool QuitQuestion::asks() const
{
    return m_room && (m_room->isRecording() || m_room->isPaused() || m_room->isProcessing());
}

bool QuitQuestion::saving() const
{
    return m_room && m_room->isProcessing() && !m_room->isRecording() && !m_room->isPaused();
}

QString QuitQuestion::title() const
{
    return saving() ? QStringLiteral("Quit while the conversation is saved?")
                    : QStringLiteral("Quit during the conversation?");
}

QString QuitQuestion::message() const
{
    return saving() ? QStringLiteral("Corvane is still saving this conversation for review. Quit once it "
                                     "is saved, or discard it: nothing of it is kept.")
                    : QStringLiteral("This conversation is still being recorded. Finish it to save it for "
                                     "review, or discard it: nothing of it is kept.");
}

QString QuitQuestion::saveText() const
{
    return saving() ? QStringLiteral("Quit once saved") : QStringLiteral("Finish and save");
}

bool QuitQuestion::asksBeforeQuitting() const
{
    if (!asks())
        return false;
    qCInfo(conversationLog, "Quitting waits for an answer about the conversation under way.");
    return true;
}

bool QuitQuestion::quitsUnanswered() const
{
    return m_room && !asks() && !m_room->finishNotice().isEmpty();
}

} // namespace lumora
