#include "RowLatencyProbe.hpp"

#include <QAbstractItemModel>
#include <QQuickWindow>
#include <QThread>

namespace lumora::benchmarks {

RowLatencyProbe::RowLatencyProbe(QAbstractItemModel& rows, QQuickWindow& window)
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
    const std::lock_guard lock(m_mutex);
    m_inRows.append(m_arrived);
    m_arrived.clear();
}

void RowLatencyProbe::synchronising()
{
    const Clock::time_point now = Clock::now();
    const std::lock_guard lock(m_mutex);
    for (Pending& turn : m_inRows)
        turn.synchronised = now;
    m_synchronised.append(m_inRows);
    m_inRows.clear();
}

void RowLatencyProbe::swapped()
{
    const Clock::time_point now = Clock::now();
    const std::lock_guard lock(m_mutex);
    for (const Pending& turn : std::as_const(m_synchronised))
        m_shown.push_back({ turn.number,
            std::chrono::duration<double, std::milli>(turn.synchronised - turn.arrived).count(),
            std::chrono::duration<double, std::milli>(now - turn.arrived).count() });
    m_synchronised.clear();
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
