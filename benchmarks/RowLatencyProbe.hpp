#pragma once

#include <QList>
#include <QObject>
#include <chrono>
#include <mutex>
#include <vector>

class QAbstractItemModel;
class QQuickItem;
class QQuickWindow;

namespace lumora::benchmarks {

// How long a live turn takes from the moment the live session hands it to the application to
// the first frame on screen that shows its row: the turn's arrival is noted, then the change of
// the room's transcript rows it causes (its row is the last), then the first scene-graph
// synchronisation (the GUI thread's state is copied to the frame there) at which the row's
// first line lies inside the transcript list's view (the list scrolls to a new row with an
// animation), and the swap of that frame. With a threaded render loop a frame swapped just
// after the change may have been synchronised before it, so the swap counts only after such a
// synchronisation. Wall clock, as a person sees it.
class RowLatencyProbe : public QObject {
    Q_OBJECT

public:
    // `list` is the view that shows `rows` in `window`.
    RowLatencyProbe(QAbstractItemModel& rows, QQuickItem& list, QQuickWindow& window);

    // A live turn, the `number`th, reached the application now.
    void arrived(qsizetype number);
    void start();
    void stop();

    struct Row {
        qsizetype number;
        // From the arrival to the swap of the first frame after the change of the rows,
        // wherever the row was in it; to the synchronisation that had the row in view, and to
        // the swap of that frame.
        double firstFrame;
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
        int row = -1;
        // The first synchronisation after the change and the swap of its frame.
        bool changeSynchronised = false;
        Clock::time_point changeSwapped {};
        Clock::time_point synchronised {};
    };
    void rowsChanged();
    void synchronising();
    void swapped();
    [[nodiscard]] bool inView(int row) const;

    QAbstractItemModel& m_rows;
    QQuickItem& m_list;
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
