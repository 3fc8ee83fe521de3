#include "RowLatencyProbe.hpp"

#include <QAbstractItemModel>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThread>

namespace lumora::benchmarks {

RowLatencyProbe::RowLatencyProbe(QAbstractItemModel& rows, QQuickItem& list, QQuickWindow& window)
    : m_rows(rows)
    , m_list(list)
{
    connect(&rows, &QAbstractItemModel::rowsInserted, this, &RowLatencyProbe::rowsChanged);
    connect(&rows, &QAbstractItemModel::dataChanged, this, &RowLatencyProbe::rowsChanged);
    // Direct: with a threaded render loop both come on the render thread, the first while the
    // GUI thread is blocked for the synchronisation.
    QThread* gui = QThread::currentThread();
    connect(
        &window, &QQuickWindow::beforeSynchronizing, this,
        [this, gui] {
            if (QThread::currentThread() == gui)
                m_syncsOnGuiThread = true;
            synchronising();
        },
        Qt::DirectConnection);
    connect(&window, &QQuickWindow::frameSwapped, this, &RowLatencyProbe::swapped, Qt::DirectConnection);
}

void RowLatencyProbe::start()
{
    const std::lock_guard lock(m_mutex);
    m_running = true;
}

void RowLatencyProbe::stop()
{
    const std::lock_guard lock(m_mutex);
    m_running = false;
}

void RowLatencyProbe::arrived(qsizetype number)
{
    const std::lock_guard lock(m_mutex);
    if (m_running)
        m_arrived.append({ number, Clock::now() });
}

void RowLatencyProbe::rowsChanged()
{
    const int row = m_rows.rowCount() - 1;
    const std::lock_guard lock(m_mutex);
    for (Pending& turn : m_arrived)
        turn.row = row;
    m_inRows.append(m_arrived);
    m_arrived.clear();
}

void RowLatencyProbe::synchronising()
{
    const Clock::time_point now = Clock::now();
    const std::lock_guard lock(m_mutex);
    // The GUI thread waits while a frame is synchronised, so the list's items hold still.
    for (auto turn = m_inRows.begin(); turn != m_inRows.end();) {
        turn->changeSynchronised = true;
        if (inView(turn->row)) {
            turn->synchronised = now;
            m_synchronised.append(*turn);
            turn = m_inRows.erase(turn);
        } else {
            ++turn;
        }
    }
}

void RowLatencyProbe::swapped()
{
    const Clock::time_point now = Clock::now();
    const std::lock_guard lock(m_mutex);
    for (Pending& turn : m_inRows) {
        if (turn.changeSynchronised && turn.changeSwapped == Clock::time_point {})
            turn.changeSwapped = now;
    }
    for (Pending& turn : m_synchronised) {
        if (turn.changeSwapped == Clock::time_point {})
            turn.changeSwapped = now;
    }
    for (const Pending& turn : std::as_const(m_synchronised))
        m_shown.push_back({ turn.number,
            std::chrono::duration<double, std::milli>(turn.changeSwapped - turn.arrived).count(),
            std::chrono::duration<double, std::milli>(turn.synchronised - turn.arrived).count(),
            std::chrono::duration<double, std::milli>(now - turn.arrived).count() });
    m_synchronised.clear();
}

bool RowLatencyProbe::inView(int row) const
{
    QQuickItem* item = nullptr;
    QMetaObject::invokeMethod(
        &m_list, "itemAtIndex", Qt::DirectConnection, Q_RETURN_ARG(QQuickItem*, item), Q_ARG(int, row));
    if (!item || !item->isVisible())
        return false;
    // The row's first line: a little of its top, or all of a shorter row.
    constexpr qreal firstLine = 20;
    const qreal top = item->mapToItem(&m_list, QPointF(0, 0)).y();
    return top + std::min(item->height(), firstLine) <= m_list.height() && top + item->height() > 0;
}

std::vector<RowLatencyProbe::Row> RowLatencyProbe::rows() const
{
    const std::lock_guard lock(m_mutex);
    return m_shown;
}

qsizetype RowLatencyProbe::unseen() const
{
    const std::lock_guard lock(m_mutex);
    return m_arrived.size() + m_inRows.size() + m_synchronised.size();
}

} // namespace lumora::benchmarks
