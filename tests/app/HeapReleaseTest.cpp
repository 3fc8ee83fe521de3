#include "HeapRelease.hpp"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>

namespace lumora {
namespace {

using namespace std::chrono_literals;

[[maybe_unused]] double residentMegabytes()
{
    QFile file(QStringLiteral("/proc/self/statm"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const qint64 pages = QString::fromLatin1(file.readAll()).section(u' ', 1, 1).toLongLong();
    return double(pages) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Requests close together (the finish and a second one right after) end in one release, after
// the delay, on a pool thread rather than the caller's; its answer reaches the signal.
TEST(HeapRelease, RequestsCloseTogetherEndInOneReleaseOffTheCallingThread)
{
    std::atomic<int> releases = 0;
    std::atomic<QThread*> releasedOn = nullptr;
    HeapRelease heap(60ms, [&] {
        ++releases;
        releasedOn = QThread::currentThread();
        return true;
    });
    QSignalSpy released(&heap, &HeapRelease::released);
    heap.request();
    heap.request();
    EXPECT_EQ(releases, 0) << "nothing before the delay";
    ASSERT_TRUE(released.wait(60000));
    // Nothing marks a release that never comes: a second one, were each request to make its
    // own, would follow within the delay, so a few delays' time lets it show.
    QTest::qWait(200);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(released.size(), 1);
    EXPECT_TRUE(released.first().first().toBool());
    EXPECT_NE(releasedOn.load(), QThread::currentThread());
}

// Freed chunks between live ones sit in the heap's bins, resident, until the release hands
// their pages back.
TEST(HeapRelease, ReturnsFreedPagesBetweenLiveOnesToTheSystem)
{
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "glibc's own allocator only";
#else
    constexpr int blocks = 400;
    constexpr std::size_t blockSize = 100 * 1024; // under the size glibc maps on its own
    std::vector<char*> large;
    std::vector<char*> pins;
    for (int i = 0; i < blocks; ++i) {
        large.push_back(static_cast<char*>(std::malloc(blockSize)));
        std::memset(large.back(), 1, blockSize);
        pins.push_back(static_cast<char*>(std::malloc(64)));
        asm volatile("" : : "g"(large.back()), "g"(pins.back()) : "memory");
    }
    for (char* block : large)
        std::free(block);
    const double before = residentMegabytes();
    EXPECT_TRUE(HeapRelease::returnFreedHeap());
    const double after = residentMegabytes();
    for (char* pin : pins)
        std::free(pin);
    EXPECT_GT(before - after, 20.0) << "resident " << before << " MB before, " << after << " MB after";
#endif
}

} // namespace
} // namespace lumora
