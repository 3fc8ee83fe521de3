#pragma once

#include <QTimer>
#include <functional>
#include <memory>

namespace lumora {

// The repeating one-second timer of the recording clock. The view model owns it; dropping it
// stops it.
class RecordingTimer {
public:
    virtual ~RecordingTimer() = default;
    // Calls `tick` once a second on the owner's event loop until destroyed.
    virtual void start(std::function<void()> tick) = 0;

    // A QTimer on the calling thread's event loop.
    static std::unique_ptr<RecordingTimer> standard();
};

class QtRecordingTimer final : public RecordingTimer {
public:
    void start(std::function<void()> tick) override
    {
        m_timer.setInterval(1000);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(tick));
        m_timer.start();
    }

private:
    QTimer m_timer;
};

inline std::unique_ptr<RecordingTimer> RecordingTimer::standard()
{
    return std::make_unique<QtRecordingTimer>();
}

} // namespace lumora
