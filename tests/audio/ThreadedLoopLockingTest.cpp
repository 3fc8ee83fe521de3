#include "ChildTestRun.hpp"

#include <gtest/gtest.h>
#include <pulse/context.h>
#include <pulse/thread-mainloop.h>
#include <sys/time.h>

namespace lumora {
namespace {

// Keeps the loop's thread turning: the time event comes due again as soon as it has run.
void turnAgain(pa_mainloop_api* api, pa_time_event* event, const timeval*, void*)
{
    timeval now {};
    gettimeofday(&now, nullptr);
    api->time_restart(event, &now);
}

void wakeWaiter(pa_context*, void* loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

// Disabled in the ordinary run: AContextReleasedFromOutsideItsLoopNeverAbortsTheProcess runs it in
// a child process. Contexts on a threaded loop whose thread keeps turning are disconnected and
// freed from this thread without taking the loop's lock, as Qt Multimedia releases its own as
// the program ends.
TEST(ThreadedLoopLocking, DISABLED_ContextsReleasedFromOutsideTheirTurningLoop)
{
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    ASSERT_NE(loop, nullptr);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    ASSERT_EQ(pa_threaded_mainloop_start(loop), 0);
    timeval now {};
    gettimeofday(&now, nullptr);
    pa_threaded_mainloop_lock(loop);
    pa_time_event* turning = api->time_new(api, &now, &turnAgain, nullptr);
    pa_threaded_mainloop_unlock(loop);
    for (int cycle = 0; cycle < 1500; ++cycle) {
        pa_threaded_mainloop_lock(loop);
        pa_context* context = pa_context_new(api, "Lumora test");
        pa_context_set_state_callback(context, &wakeWaiter, loop);
        ASSERT_GE(pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr), 0);
        while (PA_CONTEXT_IS_GOOD(pa_context_get_state(context))
            && pa_context_get_state(context) != PA_CONTEXT_READY)
            pa_threaded_mainloop_wait(loop);
        ASSERT_EQ(pa_context_get_state(context), PA_CONTEXT_READY);
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_threaded_mainloop_unlock(loop);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_threaded_mainloop_lock(loop);
    api->time_free(turning);
    pa_threaded_mainloop_unlock(loop);
    pa_threaded_mainloop_stop(loop);
    pa_threaded_mainloop_free(loop);
}

// A sound server's context is released under its loop's lock whoever releases it: the process
// that releases many while the loop turns ends as it should, where libpulse would abort it when
// the two threads change the loop's events at once.
TEST(ThreadedLoopLocking, AContextReleasedFromOutsideItsLoopNeverAbortsTheProcess)
{
    if (!qEnvironmentVariableIsSet("LUMORA_TEST_MICROPHONE"))
        GTEST_SKIP() << "needs scripts/with-virtual-microphone";
    const test::ChildTestRun run
        = test::runInChild(u"ThreadedLoopLocking.DISABLED_ContextsReleasedFromOutsideTheirTurningLoop"_qs);
    ASSERT_TRUE(run.ended) << run.output.toStdString();
    EXPECT_FALSE(run.crashed) << run.output.toStdString();
    EXPECT_TRUE(run.passed()) << run.output.toStdString();
}

} // namespace
} // namespace lumora
