#include "HeapRelease.hpp"

#include "domain/OffThread.hpp"

#include <QPointer>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace lumora {

HeapRelease::HeapRelease(std::chrono::milliseconds delay, std::function<bool()> release, QObject* parent)
    : QObject(parent)
    , m_release(std::move(release))
{
    m_delay.setSingleShot(true);
    m_delay.setInterval(delay);
    connect(&m_delay, &QTimer::timeout, this, &HeapRelease::startRelease);
}

void HeapRelease::request()
{
    m_delay.start();
}

void HeapRelease::startRelease()
{
    auto done = startOffThread(m_release);
    done.then(this, [self = QPointer(this)](const std::optional<bool>& returned) {
        if (self)
            emit self->released(returned.value_or(false));
    });
}

bool HeapRelease::returnFreedHeap()
{
#if defined(__GLIBC__)
    return ::malloc_trim(0) == 1;
#else
    return false;
#endif
}

bool HeapRelease::limitArenas(int count)
{
#if defined(__GLIBC__)
    return ::mallopt(M_ARENA_MAX, count) == 1;
#else
    (void)count;
    return false;
#endif
}

} // namespace lumora
