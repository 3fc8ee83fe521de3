#pragma once

#include <QFuture>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>

namespace lumora {

// Gives the heap that the process has freed back to the system. A finished conversation frees
// tens of megabytes of transcripts, analyses and request bodies; glibc keeps such memory in its
// arenas for later use (one arena per thread that allocated, the pool's threads included), so
// without this the resident size stays at its high-water mark for the rest of the run.
//
// Requests made close together end in one release, a short while after the last of them, so
// that what the window drops on the following frames (its delegates, its scene graph nodes) is
// free by then. The release itself walks every arena's free chunks, which takes milliseconds
// on a large heap: it runs on a thread of the global pool, never on the caller's.
class HeapRelease : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultDelay { 1500 };

    // `release` returns the freed heap and says whether anything went back; by default
    // `returnFreedHeap`.
    explicit HeapRelease(std::chrono::milliseconds delay = defaultDelay,
        std::function<bool()> release = &HeapRelease::returnFreedHeap, QObject* parent = nullptr);

    // Asks for a release once the delay has passed without another request.
    void request();

    // Returns the free pages of every malloc arena to the system now, on the calling thread;
    // false where the C library cannot (not glibc) or nothing was returned.
    static bool returnFreedHeap();
    // Caps the number of malloc arenas; to be called before any other thread starts. False
    // where the C library has no such setting.
    static bool limitArenas(int count);

signals:
    // A release has ended on the pool; `returned` is what the release function answered.
    void released(bool returned);

private:
    void startRelease();

    std::function<bool()> m_release;
    QTimer m_delay;
};

} // namespace lumora
