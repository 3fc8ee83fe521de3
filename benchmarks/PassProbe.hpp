#pragma once

#include "BenchmarkProbes.hpp"

#include <QAbstractEventDispatcher>
#include <algorithm>
#include <functional>
#include <vector>

namespace lumora::benchmarks {

// Notes the GUI thread's own CPU time of each pass of its event loop, between start() and stop().
// Every pass ends where the dispatcher is about to wait; waiting costs the thread no CPU time, so
// the thread's CPU time from one such point to the next is the work of the pass between them,
// however long it waited. Made on the GUI thread.
class PassProbe {
public:
    // A pass whose work took longer than the limit: where the run was when it ended (what
    // `moment` said), and its work.
    struct LongPass {
        qsizetype moment;
        double milliseconds;
    };

    explicit PassProbe(
        double longPassMs, std::function<qsizetype()> moment = [] { return qsizetype(0); })
        : m_longPassMs(longPassMs)
        , m_moment(std::move(moment))
    {
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
            &m_context, [this] {
                const qint64 now = threadCpuNs();
                if (m_last != 0 && m_recording) {
                    m_work.push_back(double(now - m_last) / 1e6);
                    if (m_work.back() > m_longPassMs)
                        m_long.push_back({ m_moment(), m_work.back() });
                    if (m_marked)
                        m_markedWork.push_back(m_work.back());
                }
                m_marked = false;
                m_last = now;
            });
    }

    void start()
    {
        m_work.clear();
        m_long.clear();
        m_markedWork.clear();
        m_recording = true;
    }
    void stop() { m_recording = false; }
    // Marks the pass under way (one that took a given kind of event), whose work is then also
    // noted apart: how long such passes take, beside all of them.
    void mark() { m_marked = true; }

    [[nodiscard]] const std::vector<LongPass>& longPasses() const { return m_long; }
    [[nodiscard]] qsizetype passes() const { return qsizetype(m_work.size()); }
    [[nodiscard]] double longest() const
    {
        return m_work.empty() ? 0 : *std::max_element(m_work.begin(), m_work.end());
    }
    [[nodiscard]] double mean() const { return meanOf(m_work); }
    [[nodiscard]] double percentile(double fraction) const
    {
        if (m_work.empty())
            return 0;
        std::vector<double> sorted = m_work;
        const auto at = sorted.begin() + qsizetype(fraction * double(sorted.size() - 1));
        std::nth_element(sorted.begin(), at, sorted.end());
        return *at;
    }
    [[nodiscard]] qsizetype over(double limitMs) const { return countOver(m_work, limitMs); }
    [[nodiscard]] qsizetype markedPasses() const { return qsizetype(m_markedWork.size()); }
    [[nodiscard]] double markedMean() const { return meanOf(m_markedWork); }
    [[nodiscard]] qsizetype markedOver(double limitMs) const { return countOver(m_markedWork, limitMs); }

private:
    static double meanOf(const std::vector<double>& work)
    {
        double total = 0;
        for (const double ms : work)
            total += ms;
        return work.empty() ? 0 : total / double(work.size());
    }
    static qsizetype countOver(const std::vector<double>& work, double limitMs)
    {
        return std::count_if(work.begin(), work.end(), [limitMs](double ms) { return ms > limitMs; });
    }

    double m_longPassMs;
    std::function<qsizetype()> m_moment;
    // Ends the connection with the probe.
    QObject m_context;
    std::vector<double> m_work;
    std::vector<LongPass> m_long;
    std::vector<double> m_markedWork;
    qint64 m_last = 0;
    bool m_recording = false;
    bool m_marked = false;
};

} // namespace lumora::benchmarks
