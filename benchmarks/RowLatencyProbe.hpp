#pragma once

#include <QList>
#include <QObject>
#include <chrono>
#include <mutex>
#include <vector>

class QAbstractItemModel;
class QQuickWindow;

namespace lumora::benchmarks {

// How long a live turn takes from the moment the live session hands it to the application to
// the first frame on screen that holds its row: the turn's arrival is noted, then the change of
// the room's transcript rows it causes, then the first scene-graph synchronisation after that
// change (the GUI thread's state is copied to the frame there) and the swap of that frame. With
// a threaded render loop a frame swapped just after the change may have been synchronised
// before it, so the swap counts only after a synchronisation that followed the change. Wall
// clock, as a person sees it.
class RowLatencyProbe : public QObject {
    Q_OBJECT

public:
    RowLatencyProbe(QAbstractItemModel& rows, QQuickWindow& window);

    // A live turn, the `number`th, reached the application now.
    void arrived(qsizetype number);
    void start();
    void stop();

    struct Row {
        qsizetype number;
        // From the arrival to the synchronisation that took the row, and to the swap.
        double toSynchronisation;
        double milliseconds;
    };
    // The turns whose rows were shown while the probe ran, in the order they arrived.
    [[nodiscard]] std::vector<Row> rows() const;
    // Turns that arrived while the probe ran and never reached a swapped frame.
    [[nodiscard]] qsizetype unseen() const;
    // Whether the frames were synchronised on the thread that made the probe (a basic or
    // software render loop) rather than a render thread.
    [[nodiscard]] bool syncsOnGuiThread() const { return m_syncsOnGuiThread; }

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        qsizetype number;
        Clock::time_point arrived;
        Clock::time_point synchronised {};
    };
    void rowsChanged();
    void synchronising();
    void swapped();

    mutable std::mutex m_mutex;
    bool m_running = false;
    bool m_syncsOnGuiThread = false;
    // Arrived, in the rows, in a synchronised frame: each waits for the next step.
    QList<Pending> m_arrived;
    QList<Pending> m_inRows;
    QList<Pending> m_synchronised;
    std::vector<Row> m_shown;
};

} // namespace lumora::benchmarks
